#!/bin/sh
# Writes the sample music that Zorva's own MPD plays when the user's music
# folder holds no audio: short tagged Ogg Vorbis pieces made with sox.
# Usage: make-sample-music.sh FOLDER
set -eu
out=$1
mkdir -p "$out/Kiri/Salt" "$out/Orsa Lane/Tidewater"
# Every piece sounds to its end: held tones, or plucked notes struck again
# every half second (a single pluck dies away within two seconds), and
# linear fades.
piece() {  # file title artist album genre track seconds synth-arguments...
  file=$1 title=$2 artist=$3 album=$4 genre=$5 track=$6 seconds=$7
  shift 7
  case $1 in
    pluck) synth="synth 0.5 $* repeat $((seconds * 2)) trim 0 $seconds" ;;
    *) synth="synth $seconds $*" ;;
  esac
  # shellcheck disable=SC2086  # the synth arguments are words
  sox -q -n -r 44100 -c 2 --add-comment "TITLE=$title" --add-comment "ARTIST=$artist" \
    --add-comment "ALBUM=$album" --add-comment "GENRE=$genre" --add-comment "TRACKNUMBER=$track" \
    "$out/$file" $synth fade t 0.5 "$seconds" 1 vol 0.4
}
piece "Kiri/Salt/01 Low Tide.ogg" "Low Tide" Kiri Salt Ambient 1 24 sine 220 sine 277
piece "Kiri/Salt/02 Harbour Lights.ogg" "Harbour Lights" Kiri Salt Ambient 2 20 sine 330 sine 415
piece "Kiri/Salt/03 Glass Floats.ogg" "Glass Floats" Kiri Salt Ambient 3 22 pluck 262 pluck 330
piece "Kiri/Salt/04 Salt Road.ogg" "Salt Road" Kiri Salt Ambient 4 18 sine 196 sine 247
piece "Orsa Lane/Tidewater/01 Morning Ferry.ogg" "Morning Ferry" "Orsa Lane" Tidewater Folk 1 21 pluck 294 pluck 370
piece "Orsa Lane/Tidewater/02 Rope and Anchor.ogg" "Rope and Anchor" "Orsa Lane" Tidewater Folk 2 19 pluck 247 pluck 311
piece "Orsa Lane/Tidewater/03 Gull Song.ogg" "Gull Song" "Orsa Lane" Tidewater Folk 3 23 sine 392 sine 494
piece "Orsa Lane/Tidewater/04 Evening Pier.ogg" "Evening Pier" "Orsa Lane" Tidewater Folk 4 25 sine 175 sine 220

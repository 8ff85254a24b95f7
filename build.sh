#!/usr/bin/env bash
# Installs what the build needs (Debian 12), then configures and builds into build/.
set -euo pipefail
cd "$(dirname "$0")"

packages=(build-essential cmake ninja-build pkg-config libsqlite3-dev libgtest-dev libgmock-dev
          libbenchmark-dev libxml2-dev zlib1g-dev libcurl4-openssl-dev nlohmann-json3-dev python3 openssl
          chromium fonts-dejavu-core libsystemd-dev dbus-daemon mpd mpc libmpdclient-dev sox libsox-fmt-base
          pulseaudio pulseaudio-utils libx11-dev libxext-dev xvfb openbox x11-utils wmctrl xdotool trayer xcompmgr)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
fi

cmake -S . -B build -G Ninja "$@"
cmake --build build --parallel "$(nproc)"

// The player layer on MPD (the Music Player Daemon) through libmpdclient:
// the automation objects of ITunes.h answered by a real player, and the
// choice between it and the stand-in.
//
// What the objects map to: the library playlist is MPD's database; user
// playlists are MPD's stored playlists; playing one file is a queue of that
// file alone, playing a playlist loads it into the queue. MPD names songs and
// playlists by path, so their ids come from MpdIds. Events come from a second
// connection that waits in MPD's "idle". A call that MPD does not answer
// within kMpdAnswerTimeout, or a lost connection, leaves every object of that
// application object disconnected (RPC_E_DISCONNECTED).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/kernel/Clock.h"
#include "platform/player/ITunes.h"

namespace platform::player {

constexpr unsigned kMpdAnswerTimeout = 5000;  // ms

enum class PlayerKind { StandIn, Mpd };

// $ZORVA_PLAYER ("stand-in" or "mpd"), else the profile's "Player" "Name"
// (the same words), else the stand-in when $ZORVA_PLAYER_SOCKET names its
// socket, else MPD when one answers where the user's MPD clients
// look (MPD_HOST/MPD_PORT, else MPD's default places, else Zorva's own MPD),
// else the stand-in when it answers, else MPD when it is installed, else the
// stand-in.
// `mpdAnswers`, when given, gets whether an MPD answers (asked only once).
PlayerKind ChosenPlayer(bool* mpdAnswers = nullptr);

// Connects to the MPD of ChosenPlayer; when none answers and the user named
// no MPD (MPD_HOST/MPD_PORT), runs `activate` (which may start Zorva's own)
// and tries once more. CO_E_SERVER_EXEC_FAILURE without a player.
HRESULT CoCreateMpdApp(std::shared_ptr<IiTunes>* app, const std::function<bool()>& activate);
bool IsMpdRunning();

// Zorva's own MPD: its configuration and socket in the user's runtime folder
// ($XDG_RUNTIME_DIR/zorva-mpd, else the stand-in's private folder), its
// database, state, stickers and playlists in the data folder
// ($XDG_DATA_HOME/Zorva/mpd, see platform::shell::DataFolder).
std::string OwnMpdFolder();
// True when the mpd program can be found.
bool MpdInstalled();
// Where the own MPD's sound goes: "pulse" (PulseAudio, or PipeWire's
// PulseAudio service), "pipewire", "alsa" or "null".
std::string OwnMpdAudioOutput();
// Starts Zorva's own MPD on `musicFolder`, has it read the folder and waits
// up to `timeout` until it answers with its database read. False when it
// cannot be started or does not answer.
bool StartOwnMpd(const std::string& musicFolder, Millis timeout);

}  // namespace platform::player

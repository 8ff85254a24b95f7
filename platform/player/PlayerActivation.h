// Starting the player stand-in for a program that finds none running (the
// activator of ITunes.h): which library it serves, and the start itself.
#pragma once

#include <string>
#include <vector>

#include "platform/kernel/Clock.h"

namespace platform::player {

// The user's music folder: $XDG_MUSIC_DIR, else the XDG_MUSIC_DIR line of
// user-dirs.dirs in the configuration home ($XDG_CONFIG_HOME, default
// ~/.config), else ~/Music. "" when no home is known.
std::string UserMusicFolder();

// True when an audio file lies anywhere below `folder` (looking at no more
// than `limit` entries).
bool FolderHoldsAudio(const std::string& folder, int limit = 100000);

// What the started player serves, as arguments of "zorva-player serve":
// $ZORVA_PLAYER_LIBRARY when set ("--folder" for a folder, else "--library"
// for an exported library file), else the user's music folder when it holds
// audio files, else "--sample".
std::vector<std::string> PlayerLibraryArguments();

// Starts `program` serve (the library above) on PlayerSocketPath() in a
// session of its own, so it goes on after the program ends, as the
// desktop's player does, and waits up to `timeout` on the clock until it
// answers. False when it cannot be started, ends early (a library it cannot
// load: it says why on standard error) or does not answer in time.
bool StartPlayerServer(const std::string& program, Millis timeout);

// Why the last start of the player failed, naming what is wrong and where
// ("" when it started, or when nothing more is known than that it did not).
std::string PlayerStartFault();

}  // namespace platform::player

// Local-socket plumbing shared by the automation objects, the server and its
// control command.
#pragma once

#include <chrono>
#include <string>

#include "platform/kernel/Clock.h"

namespace platform::player {

// How long a client waits for the player: a call that gets no answer, or a
// connection that the player does not take, gives up after kPlayerWaitMs of
// the program's clock once kPlayerWaitRealMinimum has gone by in real time
// too (a clock moved on by hand may pass a player that is answering), or
// after kPlayerWaitMs in real time.
constexpr platform::Millis kPlayerWaitMs = 5000;
constexpr std::chrono::milliseconds kPlayerWaitRealMinimum{2000};
class PlayerWait {
 public:
  PlayerWait();
  bool Over() const;

 private:
  platform::Millis clockDeadline_;
  std::chrono::steady_clock::time_point start_;
};

// A connected stream socket to `path`, or -1 with errno set. A player that
// takes no connections is waited for as PlayerWait says; a send to one that
// reads nothing gives up after kPlayerWaitMs.
int ConnectUnixSocket(const std::string& path);

// The folder of the socket when no other place is set:
// $TMPDIR/zorva-<uid> (/tmp/zorva-<uid> without TMPDIR).
std::string PrivateSocketFolder();
// Creates the private folder when it is missing (mode 0700), then checks it.
// Throws std::runtime_error naming the folder and the fault: not a folder,
// another user's, or open to others.
void MakePrivateFolder(const std::string& folder);

// Connects to the player at `path` and makes sure it is this user's: -1
// when no player listens there; -1 with `refused` saying why when one does
// but is not to be trusted (its private folder is not private, or the
// server runs as another user).
int ConnectToPlayer(const std::string& path, std::string* refused);
// Writes all of `data`; false when the peer is gone (no SIGPIPE).
bool SendAll(int fd, const std::string& data);
// Reads one line (without its line feed) into `line`, keeping what follows in
// `buffer`; false at the end of the stream, on an error or for an overlong line.
bool ReadLine(int fd, std::string& buffer, std::string* line);

}  // namespace platform::player

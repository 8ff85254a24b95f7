// Local-socket plumbing shared by the automation objects, the server and its
// control command.
#pragma once

#include <string>

namespace platform::player {

// A connected stream socket to `path`, or -1 with errno set.
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

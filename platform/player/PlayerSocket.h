// Local-socket plumbing shared by the automation objects, the server and its
// control command.
#pragma once

#include <string>

namespace platform::player {

// A connected stream socket to `path`, or -1 with errno set.
int ConnectUnixSocket(const std::string& path);
// Writes all of `data`; false when the peer is gone (no SIGPIPE).
bool SendAll(int fd, const std::string& data);
// Reads one line (without its line feed) into `line`, keeping what follows in
// `buffer`; false at the end of the stream, on an error or for an overlong line.
bool ReadLine(int fd, std::string& buffer, std::string* line);

}  // namespace platform::player

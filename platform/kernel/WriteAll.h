// Writing a whole buffer to a file descriptor, however many writes it takes.
#pragma once

#include <string_view>

namespace platform {

// Writes all of `data` to `fd`, going on after an interrupted or partial
// write. False when a write fails (errno tells why) or writes nothing.
bool WriteAll(int fd, std::string_view data);

}  // namespace platform

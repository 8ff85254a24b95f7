// Reading a file descriptor to its end, a chunk at a time.
#pragma once

#include <functional>
#include <string_view>

namespace platform {

// Reads `fd` to its end, handing each chunk read to `take`, going on after
// an interrupted read. False when a read fails (errno tells why) or `take`
// answers false.
bool ReadChunks(int fd, const std::function<bool(std::string_view)>& take);

}  // namespace platform

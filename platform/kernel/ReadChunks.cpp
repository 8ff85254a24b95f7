#include "platform/kernel/ReadChunks.h"

#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace platform {

bool ReadChunks(int fd, const std::function<bool(std::string_view)>& take) {
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) return true;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (!take(std::string_view(buffer, static_cast<std::size_t>(got)))) return false;
  }
}

}  // namespace platform

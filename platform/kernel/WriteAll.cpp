#include "platform/kernel/WriteAll.h"

#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace platform {

bool WriteAll(int fd, std::string_view data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t wrote = ::write(fd, data.data() + done, data.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    // A write that takes nothing would be tried forever.
    if (wrote <= 0) return false;
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

}  // namespace platform

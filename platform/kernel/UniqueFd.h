// The one owner of a file descriptor: move-only, closed once in its
// destructor unless released.
#pragma once

#include <unistd.h>

#include <utility>

namespace platform {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }

  int Get() const { return fd_; }
  bool IsDefined() const { return fd_ >= 0; }
  // Hands the descriptor over; this owner then holds none.
  int Release() { return std::exchange(fd_, -1); }
  // Closes the one held (if any) and takes `fd`. The close's result, for
  // the writers that report a failed close: 0 when none was held.
  int Reset(int fd = -1) {
    const int old = std::exchange(fd_, fd);
    return old >= 0 ? ::close(old) : 0;
  }

 private:
  int fd_ = -1;
};

}  // namespace platform

#include "platform/player/PlayerSocket.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/player/ITunes.h"
#include "platform/player/PlayerProtocol.h"

namespace platform::player {

std::string PlayerSocketPath() {
  if (const char* path = std::getenv("ZORVA_PLAYER_SOCKET"); path && *path) return path;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
    return std::string(runtime) + "/zorva-player.sock";
  return "/tmp/zorva-player-" + std::to_string(::getuid()) + ".sock";
}

int ConnectUnixSocket(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) {
    int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const std::string& data) {
  size_t sent = 0;
  while (sent < data.size()) {
    ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

bool ReadLine(int fd, std::string& buffer, std::string* line) {
  for (size_t searchFrom = 0;;) {  // what was searched holds no line feed
    if (size_t end = buffer.find('\n', searchFrom); end != std::string::npos) {
      line->assign(buffer, 0, end);
      buffer.erase(0, end + 1);
      return true;
    }
    searchFrom = buffer.size();
    if (buffer.size() > kMaxProtocolLine) return false;
    char chunk[65536];
    ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<size_t>(n));
  }
}

}  // namespace platform::player

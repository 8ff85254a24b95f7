#include "platform/player/standin/PlayerSocket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "platform/player/ITunes.h"
#include "platform/player/standin/PlayerProtocol.h"
#include "platform/kernel/EnvFolders.h"
#include "platform/kernel/UniqueFd.h"

namespace platform::player {

namespace {

// Empty when `folder` is a folder of this user's that nobody else may
// enter; otherwise what is wrong with it.
std::string PrivateFolderFault(const std::string& folder) {
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) return folder + ": " + std::strerror(errno);
  if (!S_ISDIR(st.st_mode)) return folder + ": not a folder (the player's socket must lie in a private folder)";
  if (st.st_uid != ::getuid())
    return folder + ": belongs to user " + std::to_string(st.st_uid) + ", not to you (user " +
           std::to_string(::getuid()) + "); remove it or set XDG_RUNTIME_DIR";
  if ((st.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return folder + ": other users may enter it (mode " + mode + "); it must be 0700";
  }
  return {};
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

std::string PrivateSocketFolder() { return PrivateTempFolder(); }

std::string PlayerSocketPath() {
  if (const char* path = std::getenv("ZORVA_PLAYER_SOCKET"); path && *path) return path;
  if (const std::string runtime = RuntimeFolder(); !runtime.empty()) return runtime + "/zorva-player.sock";
  return PrivateSocketFolder() + "/zorva-player.sock";
}

void MakePrivateFolder(const std::string& folder) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    throw std::runtime_error(folder + ": cannot create the folder: " + std::strerror(errno));
  if (std::string fault = PrivateFolderFault(folder); !fault.empty()) throw std::runtime_error(fault);
}

int ConnectToPlayer(const std::string& path, std::string* refused) {
  refused->clear();
  if (const std::string folder = FolderOf(path); folder == PrivateSocketFolder()) {
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) return -1;  // no folder, no player
    if (std::string fault = PrivateFolderFault(folder); !fault.empty()) {
      *refused = fault;
      return -1;
    }
  }
  platform::UniqueFd fd(ConnectUnixSocket(path));
  if (!fd.IsDefined()) return -1;
  ucred peer{};
  socklen_t size = sizeof peer;
  if (::getsockopt(fd.Get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::getuid()) {
    *refused = path + ": the player there runs as user " + std::to_string(peer.uid) + ", not as you (user " +
               std::to_string(::getuid()) + ")";
    return -1;
  }
  return fd.Release();
}

PlayerWait::PlayerWait()
    : clockDeadline_(platform::TheClock().Now() + kPlayerWaitMs), start_(std::chrono::steady_clock::now()) {}

bool PlayerWait::Over() const {
  const auto waited = std::chrono::steady_clock::now() - start_;
  return waited >= std::chrono::milliseconds(kPlayerWaitMs) ||
         (waited >= kPlayerWaitRealMinimum && platform::TheClock().Now() >= clockDeadline_);
}

int ConnectUnixSocket(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  platform::UniqueFd owner(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!owner.IsDefined()) return -1;
  const int fd = owner.Get();
  // A player that takes no connections (stopped, its queue full) makes a
  // blocking connect wait for good; without blocking it is refused at once
  // and tried again until the wait is over.
  const PlayerWait wait;
  int rc;
  for (;;) {
    rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    if (rc == 0 || (errno != EINTR && errno != EAGAIN)) break;
    if (errno == EAGAIN) {
      if (wait.Over()) {
        errno = ETIMEDOUT;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  const timeval sendLimit{kPlayerWaitMs / 1000, 0};
  if (rc == 0 && (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 ||
                  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit) != 0)) {
    rc = -1;
  }
  if (rc < 0) {
    int saved = errno;
    owner.Reset();
    errno = saved;
    return -1;
  }
  return owner.Release();
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

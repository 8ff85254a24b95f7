#include "platform/instance/SingleInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

#include "platform/kernel/EnvFolders.h"
#include "platform/kernel/Messages.h"
#include "platform/kernel/UniqueFd.h"

namespace platform {

namespace {

constexpr std::size_t kMaxMessage = 64;
// A peer that does not finish its line (or its answer) in this time is dropped.
constexpr int kPeerTimeoutSeconds = 2;

std::string WithSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

bool IsPrivateFolder(const std::string& folder) {
  struct stat st {};
  return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

void SetPeerTimeout(int fd) {
  timeval timeout{kPeerTimeoutSeconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
}

bool PeerIsSameUser(int fd) {
  ucred credentials{};
  socklen_t length = sizeof credentials;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 && credentials.uid == ::getuid();
}

bool SendLine(int fd, const std::string& line) {
  const std::string data = line + "\n";
  std::size_t sent = 0;
  while (sent < data.size()) {
    ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

// One line of at most kMaxMessage bytes; false for a longer one, an early
// end or a peer that takes too long.
bool ReadShortLine(int fd, std::string* line) {
  line->clear();
  char c = 0;
  while (true) {
    ssize_t n = ::recv(fd, &c, 1, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    if (c == '\n') return true;
    if (line->size() >= kMaxMessage) return false;
    *line += c;
  }
}

sockaddr_un SocketAddress(const std::string& path, bool* fits) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  *fits = path.size() < sizeof address.sun_path;
  if (*fits) std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

}  // namespace

std::string InstanceFolder() {
  if (const std::string runtime = RuntimeFolder(); !runtime.empty()) return WithSlash(runtime);
  const std::string folder = PrivateTempFolder();
  ::mkdir(folder.c_str(), 0700);
  return IsPrivateFolder(folder) ? folder + "/" : std::string();
}

// Accepts the later copies' connections on a thread of its own and hands each
// line to the thread that listens.
class SingleInstance::Listener {
 public:
  Listener(platform::UniqueFd fd, DWORD threadId, MessageHandler handler)
      : fd_(std::move(fd)), threadId_(threadId), handler_(std::move(handler)) {
    if (int ends[2]; ::pipe2(ends, O_CLOEXEC) == 0) {
      stop_[0].Reset(ends[0]);
      stop_[1].Reset(ends[1]);
    }
    thread_ = std::thread([this] { Run(); });
  }
  ~Listener() {
    if (stop_[1].IsDefined()) {
      const char byte = 0;
      [[maybe_unused]] ssize_t ignored = ::write(stop_[1].Get(), &byte, 1);
    }
    thread_.join();
    fd_.Reset();
    for (platform::UniqueFd& end : stop_) end.Reset();
  }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

 private:
  void Run() {
    while (true) {
      pollfd fds[2] = {{fd_.Get(), POLLIN, 0}, {stop_[0].Get(), POLLIN, 0}};
      const int ready = ::poll(fds, stop_[0].IsDefined() ? 2 : 1, -1);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0 || (fds[1].revents & (POLLIN | POLLHUP)) != 0) return;
      if ((fds[0].revents & POLLIN) == 0) continue;
      const platform::UniqueFd owner(::accept4(fd_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (!owner.IsDefined()) continue;
      const int peer = owner.Get();
      SetPeerTimeout(peer);
      std::string line;
      // Queued before the answer, so a copy told "ok" knows it is on its way.
      if (PeerIsSameUser(peer) && ReadShortLine(peer, &line)) {
        MessageHandler handler = handler_;
        if (PostThreadCall(threadId_, [handler, line] { handler(line); })) SendLine(peer, "ok");
      }
    }
  }

  platform::UniqueFd fd_;
  platform::UniqueFd stop_[2];
  DWORD threadId_;
  MessageHandler handler_;
  std::thread thread_;
};

SingleInstance::SingleInstance(std::string name) : name_(std::move(name)), folder_(InstanceFolder()) {}

SingleInstance::~SingleInstance() {
  if (listener_) {
    listener_.reset();
    ::unlink(SocketPath().c_str());
  }
  lockFd_.Reset();
}

std::string SingleInstance::LockPath() const { return folder_.empty() ? std::string() : folder_ + name_ + ".lock"; }
std::string SingleInstance::SocketPath() const { return folder_.empty() ? std::string() : folder_ + name_ + ".sock"; }

bool SingleInstance::TryLock() {
  if (lockFd_.IsDefined()) return true;
  if (folder_.empty()) return true;
  platform::UniqueFd fd(::open(LockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd.IsDefined()) return true;
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return false;
  lockFd_ = std::move(fd);
  return true;
}

bool SingleInstance::LockIsFree() const {
  if (folder_.empty()) return true;
  platform::UniqueFd fd(::open(LockPath().c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
  if (!fd.IsDefined()) return true;
  const bool free = ::flock(fd.Get(), LOCK_SH | LOCK_NB) == 0;
  fd.Reset();  // closing lets a shared lock taken here go again
  return free;
}

bool SingleInstance::Listen(MessageHandler onMessage) {
  if (listener_) return true;
  if (folder_.empty() || !onMessage) return false;
  bool fits = false;
  const std::string path = SocketPath();
  sockaddr_un address = SocketAddress(path, &fits);
  if (!fits) return false;
  platform::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.IsDefined()) return false;
  // Only the holder of the lock listens, so a socket file left here is a
  // former copy's.
  ::unlink(path.c_str());
  if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::chmod(path.c_str(), 0600) != 0 || ::listen(fd.Get(), 8) != 0) {
    return false;
  }
  EnsureMessageQueue();
  listener_ = std::make_unique<Listener>(std::move(fd), GetCurrentThreadId(), std::move(onMessage));
  return true;
}

bool SingleInstance::SendOnce(const std::string& message) {
  bool fits = false;
  sockaddr_un address = SocketAddress(SocketPath(), &fits);
  if (!fits) return false;
  platform::UniqueFd owner(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!owner.IsDefined()) return false;
  const int fd = owner.Get();
  SetPeerTimeout(fd);
  std::string answer;
  const bool taken = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                     PeerIsSameUser(fd) && SendLine(fd, message) && ReadShortLine(fd, &answer) && answer == "ok";
  owner.Reset();
  return taken;
}

bool SingleInstance::SendToRunning(const std::string& message, int attempts, Millis intervalMs) {
  if (folder_.empty() || message.size() > kMaxMessage || message.find('\n') != std::string::npos) return false;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (SendOnce(message)) return true;
    if (LockIsFree()) return false;
    WaitForOthers(intervalMs);
  }
  return false;
}

}  // namespace platform

#include "platform/player/standin/PlayerServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <list>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "platform/player/standin/PlayerProtocol.h"
#include "platform/player/standin/PlayerSocket.h"
#include "platform/kernel/UniqueFd.h"

namespace platform::player {

using nlohmann::json;

namespace {

// A client that lets this much output pile up is dropped.
constexpr size_t kMaxPendingOutput = 8u << 20;

std::string TimeText(long seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", seconds / 60, seconds % 60);
  return text;
}

const char* StateName(long state) {
  switch (state) {
    case ITPlayerStateStopped:
      return "stopped";
    case ITPlayerStatePlaying:
      return "playing";
    case ITPlayerStateFastForward:
      return "fast forward";
    case ITPlayerStateRewind:
      return "rewind";
  }
  return "unknown";
}

std::string StatusText(const PlayerStatus& s) {
  std::string text = std::string("state: ") + StateName(s.state) + "\n";
  if (s.track) {
    text += "track: \"" + s.track->name + "\" by " + s.track->artist + " from " + s.track->album + " (database id " +
            std::to_string(s.track->databaseId) + ")\n";
    text += "playlist: " + s.playlistName + " (id " + std::to_string(s.playlistId) + ")\n";
    text += "position: " + TimeText(s.position) + " of " + TimeText(s.track->seconds) + "\n";
  } else {
    text += "track: none\n";
  }
  text += std::string("calls: ") + (s.callsDisabled ? "disabled" : "enabled") + "\n";
  text += "version: " + std::to_string(s.versionMajor) + "." + std::to_string(s.versionMinor) + "\n";
  text += "library: " + std::to_string(s.trackCount) + " tracks, " + std::to_string(s.playlistCount) + " playlists\n";
  text += std::string("browser: ") + (s.browserVisible ? "visible" : "hidden") +
          (s.browserMinimized ? ", minimised" : "") + (s.miniPlayer ? ", mini player" : "") + "\n";
  return text;
}

json TextAnswer(const std::string& text, json extra = json::object()) {
  extra["text"] = text;
  return {{"hr", S_OK}, {"result", std::move(extra)}};
}

struct Connection {
  platform::UniqueFd fd;
  std::string in;
  std::string out;
  ClientState state;
  bool dropping = false;  // the rest of an overlong line
  bool dead = false;
};

}  // namespace

struct PlayerServer::Impl {
  PlayerModel& model;
  std::string socketPath;
  ProtocolHandler handler;
  ManualClock* manualClock = nullptr;
  std::function<LibraryData(const std::string&)> reloader;

  platform::UniqueFd listenFd;
  platform::UniqueFd wakeFd;
  bool bound = false;
  int listener = 0;
  std::atomic<bool> stopRequested{false};
  bool quitting = false;
  std::list<Connection> connections;
  std::atomic<size_t> connectionCount{0};

  std::mutex eventsMutex;
  std::deque<std::string> events;

  Impl(PlayerModel& m, std::string path) : model(m), socketPath(std::move(path)), handler(m) {
    wakeFd.Reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!wakeFd.IsDefined())
      throw std::runtime_error(std::string("cannot create an event descriptor: ") + std::strerror(errno));
    handler.SetExtension([this](const std::string& op, const json& args) { return Control(op, args); });
    listener = model.AddListener([this](const PlayerEvent& e) {
      std::lock_guard lock(eventsMutex);
      events.push_back(ToProtocolLine(EventToJson(e)));
      Wake();
    });
  }

  ~Impl() {
    model.RemoveListener(listener);
    for (Connection& c : connections) c.fd.Reset();
    CloseListener();
    wakeFd.Reset();
  }

  void CloseListener() {
    listenFd.Reset();
    if (bound) ::unlink(socketPath.c_str());
    bound = false;
  }

  void Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd.Get(), &one, sizeof one);
  }

  void Listen() {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path)
      throw std::runtime_error(socketPath + ": the socket path is empty or too long");
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    if (const std::string folder = PrivateSocketFolder(); socketPath.rfind(folder + "/", 0) == 0)
      MakePrivateFolder(folder);
    struct stat st {};
    if (::lstat(socketPath.c_str(), &st) == 0) {
      if (!S_ISSOCK(st.st_mode)) throw std::runtime_error(socketPath + ": exists and is not a socket");
      if (platform::UniqueFd(ConnectUnixSocket(socketPath)).IsDefined()) {
        throw std::runtime_error(socketPath + ": another player already serves here");
      }
      ::unlink(socketPath.c_str());  // left behind by a server that died
    }
    listenFd.Reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!listenFd.IsDefined())
      throw std::runtime_error(socketPath + ": cannot create a socket: " + std::strerror(errno));
    const mode_t old = ::umask(0077);
    int rc = ::bind(listenFd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::umask(old);
    if (rc < 0) throw std::runtime_error(socketPath + ": cannot bind: " + std::strerror(errno));
    bound = true;
    if (::listen(listenFd.Get(), 32) < 0)
      throw std::runtime_error(socketPath + ": cannot listen: " + std::strerror(errno));
  }

  // --- control commands of the person at the player

  std::optional<json> Control(const std::string& op, const json& args) {
    auto number = [&](const char* key, long* out) {
      auto it = args.find(key);
      if (it == args.end() || !it->is_number_integer()) return false;
      // A number beyond a long is as far as a long goes, not a wrapped one.
      *out = it->is_number_unsigned() && it->get<std::uint64_t>() > LONG_MAX ? LONG_MAX : it->get<long>();
      return true;
    };
    if (op == "ctl.play") {
      model.UserPlay();
    } else if (op == "ctl.stop") {
      model.UserStop();
    } else if (op == "ctl.next") {
      model.UserNext();
    } else if (op == "ctl.seek") {
      long seconds = 0;
      if (!number("seconds", &seconds)) return FailureAnswer(nullptr, E_INVALIDARG, "seek needs a number of seconds");
      if (!model.Seek(seconds))
        return FailureAnswer(nullptr, E_INVALIDARG, "seek needs 0 or more seconds, not " + std::to_string(seconds));
    } else if (op == "ctl.disable") {
      model.DisableCalls(ITCOMDisabledReasonDialog);
    } else if (op == "ctl.enable") {
      model.EnableCalls();
    } else if (op == "ctl.advance") {
      long ms = 0;
      if (!number("ms", &ms) || ms < 0)
        return FailureAnswer(nullptr, E_INVALIDARG, "advance needs a number of milliseconds");
      if (!manualClock) return FailureAnswer(nullptr, E_FAIL, "advance needs a server started with --manual-clock");
      // Never to the clock's end (or past it): that would be forever.
      manualClock->Advance(std::min<Millis>(ms, std::max<Millis>(0, kForever / 2 - manualClock->Now())));
      model.Tick();
    } else if (op == "ctl.reload") {
      std::string file;
      if (auto it = args.find("file"); it != args.end()) {
        if (!it->is_string()) return FailureAnswer(nullptr, E_INVALIDARG, "file must be a string");
        file = it->get<std::string>();
      }
      if (!reloader) return FailureAnswer(nullptr, E_FAIL, "this server cannot reload");
      try {
        ReloadCounts counts = model.ReplaceLibrary(reloader(file));
        return TextAnswer("reloaded: " + std::to_string(counts.changed) + " changed, " +
                              std::to_string(counts.deleted) + " deleted\n",
                          {{"changed", counts.changed}, {"deleted", counts.deleted}});
      } catch (const LibraryError& e) {
        return FailureAnswer(nullptr, E_FAIL, e.what());
      }
    } else if (op == "ctl.quit") {
      model.Quit();
      quitting = true;
      return TextAnswer("quitting\n");
    } else if (op != "ctl.status") {
      return std::nullopt;
    }
    return TextAnswer(StatusText(model.Status()));
  }

  // --- the loop

  void Accept() {
    for (;;) {
      platform::UniqueFd fd(::accept4(listenFd.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
      if (!fd.IsDefined()) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        return;  // EAGAIN, or out of descriptors: try again on the next wake
      }
      ucred peer{};
      socklen_t size = sizeof peer;
      if (::getsockopt(fd.Get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) < 0 || peer.uid != ::getuid()) {
        continue;
      }
      Connection c;
      c.fd = std::move(fd);
      connections.push_back(std::move(c));
      connectionCount = connections.size();
    }
  }

  void Queue(Connection& c, const std::string& line) {
    if (c.dead) return;
    if (c.out.size() + line.size() > kMaxPendingOutput) {
      c.dead = true;
      return;
    }
    c.out += line;
  }

  void DrainEvents() {
    std::deque<std::string> ready;
    {
      std::lock_guard lock(eventsMutex);
      ready.swap(events);
    }
    for (const std::string& line : ready)
      for (Connection& c : connections)
        if (c.state.subscriptions > 0) Queue(c, line);
  }

  // Takes what the client sent: at most about one request's worth per wake,
  // so a client that sends without pause cannot keep the others waiting.
  void Read(Connection& c) {
    char chunk[65536];
    for (size_t taken = 0; taken <= kMaxRequestLine && !c.dead;) {
      ssize_t n = ::recv(c.fd.Get(), chunk, sizeof chunk, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      if (n <= 0) {
        c.dead = true;  // gone (EOF, ECONNRESET): nothing more to answer
        return;
      }
      taken += static_cast<size_t>(n);
      Take(c, std::string_view(chunk, static_cast<size_t>(n)));
    }
  }

  // Answers every line that `data` completes. A line longer than a request
  // may be is answered as soon as it grows too long, and the rest of it is
  // dropped when it comes.
  void Take(Connection& c, std::string_view data) {
    if (c.dropping) {
      const size_t end = data.find('\n');
      if (end == std::string_view::npos) return;
      data.remove_prefix(end + 1);
      c.dropping = false;
    }
    size_t searchFrom = c.in.size();  // what came before holds no line feed
    c.in.append(data);
    size_t start = 0;
    for (size_t end; (end = c.in.find('\n', searchFrom)) != std::string::npos; start = searchFrom = end + 1) {
      const std::string line = c.in.substr(start, end - start);
      if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
      Queue(c, ToProtocolLine(handler.HandleLine(line, c.state)));
      DrainEvents();
    }
    c.in.erase(0, start);
    if (c.in.size() > kMaxRequestLine) {
      Queue(c, ToProtocolLine(FailureAnswer(nullptr, E_INVALIDARG, "the request is too long")));
      c.in.clear();
      c.in.shrink_to_fit();
      c.dropping = true;
    }
  }

  void Flush(Connection& c) {
    while (!c.dead && !c.out.empty()) {
      ssize_t n = ::send(c.fd.Get(), c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      if (n <= 0) {
        c.dead = true;  // EPIPE, ECONNRESET
        return;
      }
      c.out.erase(0, static_cast<size_t>(n));
    }
  }

  int Timeout() {
    if (manualClock) return -1;
    const Millis wake = model.NextWakeup();
    if (wake == kForever) return -1;
    const Millis wait = wake - TheClock().Now();
    return static_cast<int>(std::clamp<Millis>(wait, 0, INT_MAX));
  }

  int Run() {
    std::vector<pollfd> fds;
    while (!stopRequested && !quitting) {
      model.Tick();
      DrainEvents();
      for (Connection& c : connections) Flush(c);
      Reap();
      fds.clear();
      fds.push_back({wakeFd.Get(), POLLIN, 0});
      fds.push_back({listenFd.Get(), POLLIN, 0});
      for (const Connection& c : connections)
        fds.push_back({c.fd.Get(), static_cast<short>(POLLIN | (c.out.empty() ? 0 : POLLOUT)), 0});
      int ready = ::poll(fds.data(), fds.size(), Timeout());
      if (ready < 0) {
        if (errno == EINTR) continue;
        return 1;
      }
      if (fds[0].revents & POLLIN) {
        std::uint64_t count;
        while (::read(wakeFd.Get(), &count, sizeof count) > 0) {}
      }
      // Connections first: the list may grow by accepting below.
      size_t i = 2;
      for (Connection& c : connections) {
        const short revents = fds[i++].revents;
        if (revents & (POLLIN | POLLHUP | POLLERR)) Read(c);
        if (revents & POLLOUT) Flush(c);
      }
      if (fds[1].revents & POLLIN) Accept();
    }
    // Last words (the quit events and the answer to quit), then nobody is
    // left connected and nobody new can connect.
    DrainEvents();
    for (Connection& c : connections) {
      Flush(c);
      c.fd.Reset();
    }
    connections.clear();
    connectionCount = 0;
    CloseListener();
    return 0;
  }

  void Reap() {
    for (auto it = connections.begin(); it != connections.end();) {
      if (it->dead) {
        it = connections.erase(it);
      } else {
        ++it;
      }
    }
    connectionCount = connections.size();
  }
};

PlayerServer::PlayerServer(PlayerModel& model, std::string socketPath)
    : impl_(std::make_unique<Impl>(model, std::move(socketPath))) {}

PlayerServer::~PlayerServer() = default;

void PlayerServer::SetManualClock(ManualClock* clock) { impl_->manualClock = clock; }

void PlayerServer::SetReloader(std::function<LibraryData(const std::string&)> reloader) {
  impl_->reloader = std::move(reloader);
}

void PlayerServer::Listen() { impl_->Listen(); }

int PlayerServer::Run() { return impl_->Run(); }

void PlayerServer::Stop() {
  impl_->stopRequested = true;
  impl_->Wake();
}

size_t PlayerServer::ConnectionCount() const { return impl_->connectionCount; }

}  // namespace platform::player

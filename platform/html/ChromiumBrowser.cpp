#include "platform/html/ChromiumBrowser.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <vector>

#include "platform/kernel/Messages.h"

namespace platform::chromium {

namespace {

constexpr const char* kDefaultBinary = "/usr/lib/chromium/chromium";
constexpr const char* kStartPage = "zorva-start.htm";
constexpr const char* kPackageHint = "install the Debian package chromium (apt-get install chromium)";

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::string(value) : fallback;
}

// An fd at 10 or above, so that placing the pipe ends at 3 and 4 in the
// child never overwrites it.
int Lift(int fd) {
  if (fd < 0) return fd;
  const int lifted = ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
  ::close(fd);
  return lifted;
}

// ZORVA_CHROMIUM_TRACE=1 writes every message of the pipe to standard error.
bool Trace() {
  static const bool trace = [] {
    const char* value = std::getenv("ZORVA_CHROMIUM_TRACE");
    return value && std::string(value) == "1";
  }();
  return trace;
}

std::mutex& DeathMutex() {
  static std::mutex* const mutex = new std::mutex;
  return *mutex;
}
std::function<void()>& DeathHandler() {
  static auto* const handler = new std::function<void()>;
  return *handler;
}

struct SharedState {
  std::mutex mutex;
  std::shared_ptr<Browser> browser;
  bool tried = false;
  std::string error;
};
SharedState& Shared() {
  static SharedState* const state = new SharedState;
  return *state;
}

}  // namespace

bool Browser::DisplayWanted() {
  const char* headless = std::getenv("ZORVA_HEADLESS");
  if (headless && std::string(headless) == "1") return false;
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (display && *display) || (wayland && *wayland);
}

std::shared_ptr<Browser> Browser::Shared(std::string* error) {
  SharedState& shared = chromium::Shared();
  std::lock_guard<std::mutex> lock(shared.mutex);
  if (!shared.tried) {
    shared.tried = true;
    Options options;
    options.headless = !DisplayWanted();
    shared.browser = Start(options, &shared.error);
    if (!shared.browser) std::fprintf(stderr, "zorva: %s\n", shared.error.c_str());
  } else if (shared.browser && !shared.browser->Alive() && shared.error.empty()) {
    shared.error = "the page browser (Chromium) has ended";
  }
  if (error) *error = shared.error;
  if (shared.browser && !shared.browser->Alive()) return nullptr;
  return shared.browser;
}

std::shared_ptr<Browser> Browser::Start(const Options& options, std::string* error) {
  std::shared_ptr<Browser> browser(new Browser(options.headless));
  std::string why;
  if (!browser->Launch(options, &why)) {
    if (error) *error = why;
    return nullptr;
  }
  Reply version = browser->Call("Browser.getVersion", Json::object(), {}, options.startTimeout);
  if (!version.ok) {
    if (error) {
      *error = "the page browser " + EnvOr("ZORVA_CHROMIUM", options.binary.empty() ? kDefaultBinary : options.binary) +
               " did not answer (" + version.error + "); " + kPackageHint;
    }
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(browser->mutex_);
  browser->started_ = true;
  return browser;
}

bool Browser::Launch(const Options& options, std::string* error) {
  const std::string binary = options.binary.empty() ? EnvOr("ZORVA_CHROMIUM", kDefaultBinary) : options.binary;
  if (::access(binary.c_str(), X_OK) != 0) {
    *error = "cannot run the page browser " + binary + " (" + std::strerror(errno) + "); " + kPackageHint;
    return false;
  }
  std::string base = EnvOr("TMPDIR", "/tmp");
  if (base.empty() || base.back() != '/') base += '/';
  std::vector<char> folder(base.begin(), base.end());
  const std::string pattern = "zorva-chromium-XXXXXX";
  folder.insert(folder.end(), pattern.begin(), pattern.end());
  folder.push_back('\0');
  if (!::mkdtemp(folder.data())) {
    *error = "cannot make a profile folder for the page browser in " + base + ": " + std::strerror(errno);
    return false;
  }
  profile_ = folder.data();

  // A write into a pipe whose browser has gone must give EPIPE, not end us.
  struct sigaction current {};
  if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) ::signal(SIGPIPE, SIG_IGN);

  int toChild[2];
  int fromChild[2];
  if (::pipe2(toChild, O_CLOEXEC) != 0) {
    *error = std::string("cannot make a pipe for the page browser: ") + std::strerror(errno);
    return false;
  }
  if (::pipe2(fromChild, O_CLOEXEC) != 0) {
    ::close(toChild[0]);
    ::close(toChild[1]);
    *error = std::string("cannot make a pipe for the page browser: ") + std::strerror(errno);
    return false;
  }
  const int childIn = Lift(toChild[0]);
  const int childOut = Lift(fromChild[1]);
  const int devNull = Lift(::open("/dev/null", O_RDWR | O_CLOEXEC));
  writeFd_ = toChild[1];
  const int readFd = fromChild[0];

  std::vector<std::string> args = {binary,
                                   "--remote-debugging-pipe",
                                   "--user-data-dir=" + profile_,
                                   "--no-first-run",
                                   "--no-default-browser-check",
                                   "--disable-background-networking",
                                   "--disable-component-update",
                                   "--disable-sync",
                                   "--test-type",
                                   "--allow-file-access-from-files"};
  if (::geteuid() == 0) args.push_back("--no-sandbox");
  if (options.headless) {
    args.push_back("--headless");
    args.push_back("--hide-scrollbars");
    args.push_back("about:blank");
  } else {
    // The start window is an app window (no toolbar); it opens the pages'
    // windows as its popups, which are app windows too.
    const std::string start = profile_ + "/" + kStartPage;
    std::FILE* file = std::fopen(start.c_str(), "w");
    if (file) {
      std::fputs("<!DOCTYPE html><title>Zorva</title>", file);
      std::fclose(file);
    }
    args.push_back("--app=file://" + start);
  }
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  // The browser is forked from the reader thread, which lives as long as the
  // browser does: PR_SET_PDEATHSIG fires when the forking thread ends.
  std::promise<int> forked;
  std::future<int> pidFuture = forked.get_future();
  const pid_t parent = ::getpid();
  reader_ = std::thread([this, &forked, &argv, childIn, childOut, devNull, readFd, parent] {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) ::_exit(1);
      ::dup2(childIn, 3);
      ::dup2(childOut, 4);
      ::dup2(devNull, 0);
      ::dup2(devNull, 1);
      ::dup2(devNull, 2);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    forked.set_value(pid);
    ::close(childIn);
    ::close(childOut);
    ::close(devNull);
    if (pid < 0) {
      ::close(readFd);
      return;
    }
    ReadLoop(readFd);
  });
  pid_ = pidFuture.get();
  if (pid_ < 0) {
    reader_.join();
    *error = std::string("cannot start the page browser: ") + std::strerror(errno);
    return false;
  }
  return true;
}

Browser::~Browser() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  if (pid_ > 0) {
    Write(Json{{"id", 0}, {"method", "Browser.close"}}.dump());
    if (writeFd_ >= 0) ::close(writeFd_);
    writeFd_ = -1;
    // Give the browser a moment to close its profile, then make sure.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > until) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  if (writeFd_ >= 0) ::close(writeFd_);
  if (reader_.joinable()) reader_.join();
  if (!profile_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(profile_, ignored);
  }
}

bool Browser::Alive() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !dead_;
}

bool Browser::Write(const std::string& message) {
  std::lock_guard<std::mutex> lock(writeMutex_);
  if (Trace()) std::fprintf(stderr, "-> %.300s\n", message.c_str());
  if (writeFd_ < 0) return false;
  std::string data = message;
  data.push_back('\0');
  const char* p = data.data();
  std::size_t left = data.size();
  while (left > 0) {
    const ssize_t n = ::write(writeFd_, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

void Browser::ReadLoop(int fd) {
  std::string buffer;
  std::vector<char> chunk(1 << 16);
  for (;;) {
    const ssize_t n = ::read(fd, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    buffer.append(chunk.data(), static_cast<std::size_t>(n));
    std::size_t start = 0;
    for (std::size_t end; (end = buffer.find('\0', start)) != std::string::npos; start = end + 1) {
      if (Trace()) std::fprintf(stderr, "<- %.300s\n", buffer.substr(start, end - start).c_str());
      Json message = Json::parse(buffer.begin() + static_cast<std::ptrdiff_t>(start),
                                 buffer.begin() + static_cast<std::ptrdiff_t>(end), nullptr, false);
      if (message.is_discarded() || !message.is_object()) continue;
      std::vector<DWORD> wake;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (message.contains("id")) {
          const int id = message["id"].is_number_integer() ? message["id"].get<int>() : -1;
          if (waiting_.count(id)) replies_[id] = std::move(message);
        } else if (message.contains("method")) {
          Event event;
          event.method = message.value("method", "");
          event.params = message.contains("params") ? std::move(message["params"]) : Json::object();
          event.session = message.value("sessionId", "");
          if (event.session.empty() && event.params.is_object()) {
            if (event.params.contains("sessionId") && event.params["sessionId"].is_string()) {
              event.session = event.params["sessionId"].get<std::string>();
            } else if (event.params.contains("targetId") && event.params["targetId"].is_string()) {
              const std::string target = event.params["targetId"].get<std::string>();
              for (const auto& [name, session] : sessions_) {
                if (session.targetId == target) event.session = name;
              }
            } else if (event.params.contains("targetInfo") && event.params["targetInfo"].is_object()) {
              const std::string target = event.params["targetInfo"].value("targetId", "");
              for (const auto& [name, session] : sessions_) {
                if (session.targetId == target) event.session = name;
              }
            }
          }
          auto found = sessions_.find(event.session);
          if (found != sessions_.end()) {
            ThreadEvents& queue = queues_[found->second.thread];
            queue.events.push_back(std::move(event));
            if (!queue.pumpPosted) {
              queue.pumpPosted = true;
              wake.push_back(found->second.thread);
            }
          }
        }
      }
      cv_.notify_all();
      std::weak_ptr<Browser> self = weak_from_this();
      for (DWORD thread : wake) {
        const bool posted = PostThreadCall(thread, [self] {
          if (auto browser = self.lock()) browser->ProcessEvents(0);
        });
        if (!posted) {
          std::lock_guard<std::mutex> lock(mutex_);
          queues_[thread].pumpPosted = false;
        }
      }
    }
    buffer.erase(0, start);
  }
  ::close(fd);
  Died();
}

void Browser::Died() {
  std::vector<DWORD> threads;
  bool report = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    dead_ = true;
    report = !closing_ && started_;  // a failed start is reported by Start
    for (const auto& [name, session] : sessions_) threads.push_back(session.thread);
  }
  cv_.notify_all();
  TheClock().Kick();
  if (!report) return;
  std::fprintf(stderr, "zorva: the page browser (Chromium) has ended unexpectedly; the program closes\n");
  std::sort(threads.begin(), threads.end());
  threads.erase(std::unique(threads.begin(), threads.end()), threads.end());
  for (DWORD thread : threads) {
    PostThreadCall(thread, [] {
      std::function<void()> handler;
      {
        std::lock_guard<std::mutex> lock(DeathMutex());
        handler = DeathHandler();
      }
      if (handler) {
        handler();
      } else {
        PostQuitMessage(1);
      }
    });
  }
}

void Browser::SetDeathHandler(std::function<void()> handler) {
  std::lock_guard<std::mutex> lock(DeathMutex());
  DeathHandler() = std::move(handler);
}

void Browser::Send(const std::string& method, const Json& params, const std::string& session) {
  int id;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (dead_) return;
    id = nextId_++;
  }
  Json message{{"id", id}, {"method", method}, {"params", params}};
  if (!session.empty()) message["sessionId"] = session;
  Write(message.dump(-1, ' ', false, Json::error_handler_t::replace));
}

Reply Browser::Call(const std::string& method, const Json& params, const std::string& session, Millis timeout) {
  Reply reply;
  int id;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (dead_) {
      reply.error = "the page browser has ended";
      return reply;
    }
    id = nextId_++;
    waiting_.insert(id);
  }
  Json message{{"id", id}, {"method", method}, {"params", params}};
  if (!session.empty()) message["sessionId"] = session;
  if (!Write(message.dump(-1, ' ', false, Json::error_handler_t::replace))) {
    std::lock_guard<std::mutex> lock(mutex_);
    waiting_.erase(id);
    reply.error = "the page browser cannot be reached";
    return reply;
  }
  const Millis deadline = TheClock().Now() + timeout;
  const DWORD thread = GetCurrentThreadId();
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    auto found = replies_.find(id);
    if (found != replies_.end()) {
      Json answer = std::move(found->second);
      replies_.erase(found);
      waiting_.erase(id);
      if (answer.contains("error")) {
        reply.error = answer["error"].value("message", std::string("error"));
      } else {
        reply.ok = true;
        reply.result = answer.contains("result") ? std::move(answer["result"]) : Json::object();
      }
      return reply;
    }
    if (dead_) break;
    // A page may be paused waiting for this thread's answer before it can
    // reply: handle this thread's events while waiting.
    if (DispatchOne(lock)) continue;
    if (TheClock().Now() >= deadline) break;
    TheClock().WaitUntil(lock, cv_, deadline, [&] {
      if (dead_ || replies_.count(id)) return true;
      auto queue = queues_.find(thread);
      return queue != queues_.end() && !queue->second.events.empty();
    });
  }
  waiting_.erase(id);
  replies_.erase(id);
  reply.error = dead_ ? "the page browser has ended" : method + " timed out";
  return reply;
}

bool Browser::DispatchOne(std::unique_lock<std::mutex>& lock) {
  auto queue = queues_.find(GetCurrentThreadId());
  if (queue == queues_.end() || queue->second.events.empty()) return false;
  Event event = std::move(queue->second.events.front());
  queue->second.events.pop_front();
  EventSink sink;
  auto session = sessions_.find(event.session);
  if (session != sessions_.end()) sink = session->second.sink;
  lock.unlock();
  if (sink) sink(event.method, event.params);
  lock.lock();
  return true;
}

bool Browser::ProcessEvents(Millis timeout) {
  const DWORD thread = GetCurrentThreadId();
  const Millis deadline = timeout > 0 ? TheClock().Now() + timeout : 0;
  std::unique_lock<std::mutex> lock(mutex_);
  queues_[thread].pumpPosted = false;
  bool handled = false;
  for (;;) {
    while (DispatchOne(lock)) handled = true;
    if (handled || dead_ || timeout <= 0 || TheClock().Now() >= deadline) return handled;
    TheClock().WaitUntil(lock, cv_, deadline, [&] {
      auto queue = queues_.find(thread);
      return dead_ || (queue != queues_.end() && !queue->second.events.empty());
    });
  }
}

std::string Browser::OpenPage(Millis timeout, std::string* error) {
  if (headless_) {
    Reply target = Call("Target.createTarget", {{"url", "about:blank"}}, {}, timeout);
    if (!target.ok) {
      if (error) *error = target.error;
      return {};
    }
    return target.result.value("targetId", "");
  }
  auto pages = [&](Reply* reply) {
    std::set<std::string> ids;
    *reply = Call("Target.getTargets", Json::object(), {}, timeout);
    if (reply->ok && reply->result.contains("targetInfos")) {
      for (const Json& info : reply->result["targetInfos"]) {
        if (info.value("type", "") == "page") ids.insert(info.value("targetId", ""));
      }
    }
    return ids;
  };
  Reply reply;
  std::set<std::string> before = pages(&reply);
  if (!reply.ok) {
    if (error) *error = reply.error;
    return {};
  }
  const Millis deadline = TheClock().Now() + timeout;
  if (launcherSession_.empty()) {
    std::string launcher;
    while (launcher.empty()) {
      for (const Json& info : reply.result["targetInfos"]) {
        const std::string url = info.value("url", "");
        if (url.size() >= std::strlen(kStartPage) && url.ends_with(kStartPage)) launcher = info.value("targetId", "");
      }
      if (!launcher.empty()) break;
      if (TheClock().Now() >= deadline) {
        if (error) *error = "the browser did not open its start window";
        return {};
      }
      ProcessEvents(20);
      before = pages(&reply);
    }
    Reply attach = Call("Target.attachToTarget", {{"targetId", launcher}, {"flatten", true}}, {}, timeout);
    if (!attach.ok) {
      if (error) *error = attach.error;
      return {};
    }
    launcherSession_ = attach.result.value("sessionId", "");
    Reply window = Call("Browser.getWindowForTarget", {{"targetId", launcher}}, {}, timeout);
    if (window.ok) {
      Call("Browser.setWindowBounds",
           {{"windowId", window.result.value("windowId", 0)}, {"bounds", {{"left", -5000}, {"top", -5000}}}}, {},
           timeout);
    }
  }
  // A popup of an app window is an app window too.
  Reply open = Call("Runtime.evaluate", {{"expression", "window.open('about:blank', '', 'popup') !== null"},
                                         {"userGesture", true}, {"returnByValue", true}},
                    launcherSession_, timeout);
  if (!open.ok) {
    if (error) *error = open.error;
    return {};
  }
  for (;;) {
    for (const std::string& id : pages(&reply)) {
      if (!before.count(id)) return id;
    }
    if (!reply.ok || TheClock().Now() >= deadline) break;
    ProcessEvents(20);
  }
  if (error) *error = "the browser opened no window";
  return {};
}

void Browser::AddSession(const std::string& session, const std::string& targetId, EventSink sink) {
  EnsureMessageQueue();
  std::lock_guard<std::mutex> lock(mutex_);
  sessions_[session] = Session{targetId, GetCurrentThreadId(), std::move(sink)};
}

void Browser::RemoveSession(const std::string& session) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = sessions_.find(session);
  if (found == sessions_.end()) return;
  auto queue = queues_.find(found->second.thread);
  if (queue != queues_.end()) {
    auto& events = queue->second.events;
    for (auto it = events.begin(); it != events.end();) {
      it = it->session == session ? events.erase(it) : it + 1;
    }
  }
  sessions_.erase(found);
}

}  // namespace platform::chromium

// The browser process: started with its debugging pipe (headless, or shown
// with a start window that opens the pages' windows), shared by the
// program, its death told, closed with its profile; and the shown pages'
// windows opened and found on the display.
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
#include <thread>
#include <vector>

#include "platform/html/X11Windows.h"
#include "platform/kernel/Messages.h"
#include "platform/kernel/UniqueFd.h"

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
platform::UniqueFd Lift(platform::UniqueFd fd) {
  if (!fd.IsDefined()) return fd;
  return platform::UniqueFd(::fcntl(fd.Get(), F_DUPFD_CLOEXEC, 10));
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

void Browser::ReleaseShared() {
  std::shared_ptr<Browser> browser;
  SharedState& shared = chromium::Shared();
  std::lock_guard<std::mutex> lock(shared.mutex);
  browser.swap(shared.browser);
}

std::shared_ptr<Browser> Browser::Start(const Options& options, std::string* error) {
  std::shared_ptr<Browser> browser(new Browser(options.headless));
  std::string why;
  if (!browser->Launch(options, &why)) {
    if (error) *error = why;
    return nullptr;
  }
  // Its start page is asked for at once: the answer comes with the first.
  std::string unsent;
  const int versionId = browser->Begin("Browser.getVersion", Json::object(), {}, &unsent);
  const int targetsId = options.headless ? browser->Begin("Target.getTargets", Json::object(), {}, &unsent) : 0;
  Reply version;
  version.error = unsent;
  if (versionId != 0) version = browser->Await(versionId, "Browser.getVersion", options.startTimeout);
  if (!version.ok) {
    if (error) {
      *error = "the page browser " + EnvOr("ZORVA_CHROMIUM", options.binary.empty() ? kDefaultBinary : options.binary) +
               " did not answer (" + version.error + "); " + kPackageHint;
    }
    return nullptr;
  }
  std::string startPage;
  if (targetsId != 0) {
    Reply targets = browser->Await(targetsId, "Target.getTargets", options.startTimeout);
    if (targets.ok && targets.result.contains("targetInfos")) {
      for (const Json& info : targets.result["targetInfos"]) {
        if (info.value("type", "") == "page" && info.value("url", "") == "about:blank") {
          startPage = info.value("targetId", "");
          break;
        }
      }
    }
  }
  std::lock_guard<std::mutex> lock(browser->mutex_);
  browser->started_ = true;
  browser->startPage_ = std::move(startPage);
  return browser;
}

std::string Browser::TakeStartPage() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string page;
  page.swap(startPage_);
  return page;
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
  platform::UniqueFd toChildRead(toChild[0]);
  platform::UniqueFd toChildWrite(toChild[1]);
  if (::pipe2(fromChild, O_CLOEXEC) != 0) {
    toChildRead.Reset();
    toChildWrite.Reset();
    *error = std::string("cannot make a pipe for the page browser: ") + std::strerror(errno);
    return false;
  }
  platform::UniqueFd readFd(fromChild[0]);
  platform::UniqueFd childIn = Lift(std::move(toChildRead));
  platform::UniqueFd childOut = Lift(platform::UniqueFd(fromChild[1]));
  platform::UniqueFd devNull = Lift(platform::UniqueFd(::open("/dev/null", O_RDWR | O_CLOEXEC)));
  writeFd_ = std::move(toChildWrite);
  // Long messages go in with fewer trips between the two processes; the
  // system's limit holds when it is lower (the call then fails, harmlessly).
  ::fcntl(writeFd_.Get(), F_SETPIPE_SZ, 1 << 20);
  ::fcntl(readFd.Get(), F_SETPIPE_SZ, 1 << 20);

  std::vector<std::string> args = {binary, "--remote-debugging-pipe", "--user-data-dir=" + profile_, "--no-first-run",
                                   "--no-default-browser-check", "--disable-background-networking",
                                   "--disable-component-update", "--disable-sync", "--test-type",
                                   "--allow-file-access-from-files",
                                   // A window's pages never go back in the browser's own
                                   // history: keeping the old document alive for it, or
                                   // swapping to a new one, only slows each navigation.
                                   // A link is asked about as the page wrote it: tried as
                                   // https first, an http link came twice, and the second
                                   // refusal left the page deaf to the mouse.
                                   // No page has an address bar: its popup's own
                                   // renderer (about 45 MB) is never needed. Nor is a
                                   // spare renderer kept waiting (8 MB): the pages
                                   // are made once, most of them at the start.
                                   "--disable-features=BackForwardCache,RenderDocument,HttpsUpgrades,"
                                   "WebUIOmniboxPopup,WebUIOmniboxAimPopup,SpareRendererForSitePerProcess",
                                   // The pages load only files: the network service runs in
                                   // the browser process instead of one of its own (30 MB).
                                   "--enable-features=NetworkServiceInProcess2",
                                   // Plain pages draw as fast in software, without the GPU
                                   // process's GL emulation (about 45 MB).
                                   "--disable-gpu", "--disable-software-rasterizer"};
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
  reader_ = std::thread([this, &forked, &argv, childIn = std::move(childIn), childOut = std::move(childOut),
                         devNull = std::move(devNull), readFd = std::move(readFd), parent]() mutable {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) ::_exit(1);
      // A group of its own, so that its helper processes can be ended with it.
      ::setpgid(0, 0);
      ::dup2(childIn.Get(), 3);
      ::dup2(childOut.Get(), 4);
      ::dup2(devNull.Get(), 0);
      ::dup2(devNull.Get(), 1);
      ::dup2(devNull.Get(), 2);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    forked.set_value(pid);
    childIn.Reset();
    childOut.Reset();
    devNull.Reset();
    if (pid < 0) {
      readFd.Reset();
      return;
    }
    ReadLoop(std::move(readFd));
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
    writeFd_.Reset();
    // Give the browser a moment to close its profile, then make sure. It is
    // reaped only after its group is gone, so its id cannot be taken meanwhile.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    for (;;) {
      siginfo_t info{};
      if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == pid_) {
        break;
      }
      if (std::chrono::steady_clock::now() > until) {
        ::kill(pid_, SIGKILL);
        ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Helpers that outlive the browser end with it, not a moment later.
    ::kill(-pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  writeFd_.Reset();
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
      // Small too: the browser keeps a drawing buffer of its size (12 MB at
      // the default size).
      Call("Browser.setWindowBounds",
           {{"windowId", window.result.value("windowId", 0)},
            {"bounds", {{"left", -5000}, {"top", -5000}, {"width", 100}, {"height", 100}}}},
           {}, timeout);
    }
  }
  // A popup of an app window is an app window too. Without an opener it has
  // a renderer of its own, as a headless page has: a page that stands for
  // the program's answer does not stop the other windows' pages with it.
  Reply open = Call("Runtime.evaluate",
                    {{"expression", "window.open('about:blank', '', 'popup,noopener') === null"},
                     {"userGesture", true},
                     {"returnByValue", true}},
                    launcherSession_, timeout);
  // Off the screen it still counts as a window of the desktop: it is
  // withdrawn where the display lets us, once its page has loaded.
  if (!launcherWithdrawn_) {
    const unsigned long shown = FindXWindow(launcherSession_);
    launcherWithdrawn_ = shown != 0 && x11::Withdraw(shown);
  }
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

unsigned long Browser::FindXWindow(const std::string& session) {
  if (headless_ || session.empty()) return 0;
  static int marks = 0;
  const std::string mark = "zorva-window-" + std::to_string(::getpid()) + "-" + std::to_string(++marks);
  // The page's own title comes back once the window is found.
  const std::string markScript =
      "(() => { const t = document.title; document.title = " + Json(mark).dump() + "; return t; })()";
  Reply old = Call("Runtime.evaluate", {{"expression", markScript}, {"returnByValue", true}}, session);
  if (!old.ok) return 0;
  unsigned long window = 0;
  // The browser sets the title on its window a moment later.
  for (int attempt = 0; attempt < 250 && !window; ++attempt) {
    window = x11::FindWindowByTitle(mark);
    if (!window) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const Json title = old.result.contains("result") ? old.result["result"].value("value", Json("")) : Json("");
  // Restored by value: the page's title is never made into script.
  Reply global = Call("Runtime.evaluate", {{"expression", "window"}}, session);
  const std::string id =
      global.ok && global.result.contains("result") ? global.result["result"].value("objectId", "") : std::string();
  if (!id.empty()) {
    Call("Runtime.callFunctionOn",
         {{"functionDeclaration", "function (mark, t) { if (document.title === mark) document.title = t; }"},
          {"objectId", id},
          {"arguments", Json::array({{{"value", mark}}, {{"value", title.is_string() ? title : Json("")}}})}},
         session);
    Send("Runtime.releaseObject", {{"objectId", id}}, session);
  }
  return window;
}

}  // namespace platform::chromium

#include "platform/html/ChromiumBrowser.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/uio.h>
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

#include <zlib.h>

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

// ZORVA_CHROMIUM_TRACE=1 writes every message of the pipe to standard error.
bool Trace() {
  static const bool trace = [] {
    const char* value = std::getenv("ZORVA_CHROMIUM_TRACE");
    return value && std::string(value) == "1";
  }();
  return trace;
}

// Milliseconds since the program started (about), for the trace lines.
const auto theTraceStart = std::chrono::steady_clock::now();
double TraceMillis() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - theTraceStart).count();
}

std::mutex& DeathMutex() {
  static std::mutex* const mutex = new std::mutex;
  return *mutex;
}
std::function<void()>& DeathHandler() {
  static auto* const handler = new std::function<void()>;
  return *handler;
}

// Chromium takes in a long text slowly: about 0.15 us a byte between the pipe
// and the page script (2 MB of HTML took 300 ms on a quiet machine), while
// HTML packs to a twentieth. So a long string argument of
// Runtime.callFunctionOn crosses packed (raw deflate, base64): one call
// unpacks the texts into the page and the command then takes them from there.
// From about 8 KB the extra call costs less than the text does: a Lab view's
// 40 to 55 KB tables went in 30 to 45 ms less.
constexpr std::size_t kPackAbove = 8 * 1024;
// Stands for text i of the unpacked ones in the command's arguments.
constexpr const char* kTextMark = "\x01zorvaPackedText";
constexpr const char* kUnpackFunction = R"JS(async function (packed) {
  const texts = [];
  for (const p of packed) {
    const bytes = Uint8Array.fromBase64 ? Uint8Array.fromBase64(p) : Uint8Array.from(atob(p), (c) => c.charCodeAt(0));
    // Fed and drained directly: through a Blob's stream it takes several times as long.
    const inflate = new DecompressionStream('deflate-raw');
    const writer = inflate.writable.getWriter();
    writer.write(bytes);
    writer.close();
    const reader = inflate.readable.getReader();
    const decoder = new TextDecoder();
    const parts = [];
    for (;;) {
      const { done, value } = await reader.read();
      if (done) break;
      parts.push(decoder.decode(value, { stream: true }));
    }
    parts.push(decoder.decode());
    texts.push(parts.join(''));
  }
  let store = window.__zorvaPackedTexts;
  if (!store) {
    store = { last: 0, texts: new Map() };
    Object.defineProperty(window, '__zorvaPackedTexts', { value: store });
  }
  store.texts.set(++store.last, texts);
  return store.last;
})JS";
// Wraps the command's function: its first argument names the unpacked texts,
// which replace their marks in the other arguments.
constexpr const char* kUnpackedCallHead = R"JS(function (zorvaPacked, ...args) {
  const store = window.__zorvaPackedTexts;
  const texts = store.texts.get(zorvaPacked) || [];
  store.texts.delete(zorvaPacked);
  const put = (v) => {
    if (Array.isArray(v)) return v.map(put);
    if (v === null || typeof v !== 'object') return v;
    const keys = Object.keys(v);
    if (keys.length === 1 && keys[0] === '\u0001zorvaPackedText') return texts[v[keys[0]]];
    const out = {};
    for (const k of keys) out[k] = put(v[k]);
    return out;
  };
  return ()JS";
constexpr const char* kUnpackedCallTail = ").apply(this, args.map(put));\n}";

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(const unsigned char* data, std::size_t size) {
  std::string out;
  out.reserve((size + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < size; i += 3) {
    const unsigned v = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
    out += kBase64[(v >> 18) & 63];
    out += kBase64[(v >> 12) & 63];
    out += kBase64[(v >> 6) & 63];
    out += kBase64[v & 63];
  }
  if (i < size) {
    unsigned v = data[i] << 16;
    if (i + 1 < size) v |= data[i + 1] << 8;
    out += kBase64[(v >> 18) & 63];
    out += kBase64[(v >> 12) & 63];
    out += i + 1 < size ? kBase64[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// Raw deflate (no header) in base64; empty when zlib fails.
std::string Pack(const std::string& text) {
  if (text.size() > (1u << 30)) return {};
  z_stream stream{};
  if (::deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
  std::vector<unsigned char> out(::deflateBound(&stream, static_cast<uLong>(text.size())));
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  const int status = ::deflate(&stream, Z_FINISH);
  const std::size_t size = stream.total_out;
  ::deflateEnd(&stream);
  return status == Z_STREAM_END ? Base64(out.data(), size) : std::string();
}

// Replaces the long strings in `value` with marks, moving them to `texts`.
void TakeLongTexts(Json& value, std::vector<std::string>& texts) {
  if (value.is_string()) {
    if (value.get_ref<const std::string&>().size() < kPackAbove) return;
    texts.push_back(std::move(value.get_ref<std::string&>()));
    value = Json{{kTextMark, texts.size() - 1}};
  } else if (value.is_structured()) {
    for (Json& item : value) TakeLongTexts(item, texts);
  }
}

bool HasLongText(const Json& value) {
  if (value.is_string()) return value.get_ref<const std::string&>().size() >= kPackAbove;
  if (value.is_structured()) {
    for (const Json& item : value) {
      if (HasLongText(item)) return true;
    }
  }
  return false;
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

  std::vector<std::string> args = {binary,
                                   "--remote-debugging-pipe",
                                   "--user-data-dir=" + profile_,
                                   "--no-first-run",
                                   "--no-default-browser-check",
                                   "--disable-background-networking",
                                   "--disable-component-update",
                                   "--disable-sync",
                                   "--test-type",
                                   "--allow-file-access-from-files",
                                   // A window's pages never go back in the browser's own
                                   // history: keeping the old document alive for it, or
                                   // swapping to a new one, only slows each navigation.
                                   // A link is asked about as the page wrote it: tried as
                                   // https first, an http link came twice, and the second
                                   // refusal left the page deaf to the mouse.
                                   // No page has an address bar: its popup's own
                                   // renderer (about 45 MB) is never needed.
                                   "--disable-features=BackForwardCache,RenderDocument,HttpsUpgrades,"
                                   "WebUIOmniboxPopup,WebUIOmniboxAimPopup"};
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

bool Browser::Write(const std::string& message) {
  std::lock_guard<std::mutex> lock(writeMutex_);
  if (Trace()) std::fprintf(stderr, "%10.3f -> (%zu) %.300s\n", TraceMillis(), message.size(), message.c_str());
  if (!writeFd_.IsDefined()) return false;
  // The message and its NUL in as few writes as the pipe takes.
  static const char kEnd = '\0';
  std::size_t sent = 0;
  while (sent <= message.size()) {
    iovec parts[2];
    int count = 0;
    if (sent < message.size()) parts[count++] = {const_cast<char*>(message.data()) + sent, message.size() - sent};
    parts[count++] = {const_cast<char*>(&kEnd), 1};
    const ssize_t n = ::writev(writeFd_.Get(), parts, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    sent += static_cast<std::size_t>(n);
  }
  if (Trace()) std::fprintf(stderr, "%10.3f    written\n", TraceMillis());
  return true;
}

void Browser::ReadLoop(platform::UniqueFd owner) {
  const int fd = owner.Get();
  std::string buffer;
  std::vector<char> chunk(1 << 16);
  for (;;) {
    const ssize_t n = ::read(fd, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    // Only the new bytes can end a message: a long one is not scanned again
    // for each chunk of it.
    std::size_t from = buffer.size();
    buffer.append(chunk.data(), static_cast<std::size_t>(n));
    std::size_t start = 0;
    for (std::size_t end; (end = buffer.find('\0', from)) != std::string::npos; start = from = end + 1) {
      if (Trace()) {
        std::fprintf(stderr, "%10.3f <- (%zu) %.300s\n", TraceMillis(), end - start, buffer.substr(start, end - start).c_str());
      }
      Json message = Json::parse(buffer.begin() + static_cast<std::ptrdiff_t>(start),
                                 buffer.begin() + static_cast<std::ptrdiff_t>(end), nullptr, false);
      if (message.is_discarded() || !message.is_object()) continue;
      std::vector<DWORD> wake;
      std::string letGo;  // a page no one holds any more, asking before it closes
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (message.contains("id")) {
          const int id = message["id"].is_number_integer() ? message["id"].get<int>() : -1;
          callSessions_.erase(id);
          Deliver(id, std::move(message), wake);
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
          if (event.method == "Inspector.targetCrashed" || event.method == "Target.targetCrashed" ||
              event.method == "Inspector.detached" || event.method == "Target.detachedFromTarget") {
            FailCallsOf(event.session, wake);
          }
          // Seen as the page stops and goes on, before its thread hears of it.
          if (event.method == "Debugger.paused") {
            paused_.insert(event.session);
          } else if (event.method == "Debugger.resumed") {
            paused_.erase(event.session);
          }
          auto found = sessions_.find(event.session);
          if (found != sessions_.end()) {
            const DWORD thread = found->second.thread;
            if (Queue(thread, std::move(event))) wake.push_back(thread);
          } else if (event.method == "Page.javascriptDialogOpening" && !event.session.empty()) {
            letGo = event.session;
          }
        }
      }
      if (!letGo.empty()) Send("Page.handleJavaScriptDialog", {{"accept", true}}, letGo);
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
  owner.Reset();
  Died();
}

void Browser::FailCallsOf(const std::string& session, std::vector<DWORD>& wake) {
  if (session.empty()) return;
  lostSessions_.insert(session);
  for (auto it = callSessions_.begin(); it != callSessions_.end();) {
    if (it->second != session) {
      ++it;
      continue;
    }
    const int id = it->first;
    it = callSessions_.erase(it);
    Deliver(id, Json{{"id", id}, {"error", {{"message", "the page has gone"}}}}, wake);
  }
}

void Browser::Deliver(int id, Json message, std::vector<DWORD>& wake) {
  if (waiting_.count(id)) {
    replies_[id] = std::move(message);
  } else if (auto posted = posted_.find(id); posted != posted_.end()) {
    Event reply;
    reply.params = std::move(message);
    reply.done = std::move(posted->second.second);
    const DWORD thread = posted->second.first;
    posted_.erase(posted);
    if (Queue(thread, std::move(reply))) wake.push_back(thread);
  }
}

bool Browser::Queue(DWORD thread, Event event) {
  ThreadEvents& queue = queues_[thread];
  queue.events.push_back(std::move(event));
  if (queue.pumpPosted) return false;
  queue.pumpPosted = true;
  return true;
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

void Browser::Post(const std::string& method, const Json& params, const std::string& session, ReplySink done) {
  EnsureMessageQueue();
  int id;
  bool lost;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (dead_) return;
    id = nextId_++;
    posted_[id] = {GetCurrentThreadId(), std::move(done)};
    if (!session.empty()) callSessions_[id] = session;
    lost = lostSessions_.count(session) != 0;
  }
  Json message{{"id", id}, {"method", method}, {"params", params}};
  if (!session.empty()) message["sessionId"] = session;
  if (!lost && Write(message.dump(-1, ' ', false, Json::error_handler_t::replace))) return;
  // Not sent (a page known to be gone never answers): the sink hears so as
  // it would hear a reply.
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    callSessions_.erase(id);
    auto posted = posted_.find(id);
    if (posted == posted_.end()) return;
    Event reply;
    reply.params =
        Json{{"id", id}, {"error", {{"message", lost ? "the page has gone" : "the page browser cannot be reached"}}}};
    reply.done = std::move(posted->second.second);
    posted_.erase(posted);
    wake = Queue(GetCurrentThreadId(), std::move(reply));
  }
  cv_.notify_all();
  if (wake) {
    std::weak_ptr<Browser> self = weak_from_this();
    PostThreadCall(GetCurrentThreadId(), [self] {
      if (auto browser = self.lock()) browser->ProcessEvents(0);
    });
  }
}

Reply Browser::Call(const std::string& method, const Json& params, const std::string& session, Millis timeout) {
  if (method == "Runtime.callFunctionOn" && params.contains("functionDeclaration") && params.contains("arguments") &&
      HasLongText(params["arguments"])) {
    // Unpacking awaits the page's event loop, which does not run while the
    // page stands in the debugger for an answer: then the text goes as it is.
    bool paused;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      paused = paused_.count(session) != 0;
    }
    if (!paused) return CallPacked(params, session, timeout);
  }
  return CallPlain(method, params, session, timeout);
}

Reply Browser::CallPacked(const Json& params, const std::string& session, Millis timeout) {
  Json command = params;
  std::vector<std::string> texts;
  TakeLongTexts(command["arguments"], texts);
  Json packed = Json::array();
  for (const std::string& text : texts) {
    std::string one = Pack(text);
    if (one.empty()) return CallPlain("Runtime.callFunctionOn", params, session, timeout);
    packed.push_back(std::move(one));
  }
  Json unpack{{"functionDeclaration", kUnpackFunction},
              {"arguments", Json::array({{{"value", std::move(packed)}}})},
              {"awaitPromise", true},
              {"returnByValue", true}};
  for (const char* target : {"executionContextId", "objectId"}) {
    if (command.contains(target)) unpack[target] = command[target];
  }
  Reply unpacked = CallPlain("Runtime.callFunctionOn", unpack, session, timeout);
  if (!unpacked.ok) return unpacked;
  const Json id = unpacked.result.contains("result") ? unpacked.result["result"].value("value", Json()) : Json();
  // A page that cannot unpack (an older engine) takes the texts as they are.
  if (!id.is_number_integer()) return CallPlain("Runtime.callFunctionOn", params, session, timeout);
  command["functionDeclaration"] =
      kUnpackedCallHead + command["functionDeclaration"].get<std::string>() + kUnpackedCallTail;
  Json& arguments = command["arguments"];
  arguments.insert(arguments.begin(), Json{{"value", id}});
  return CallPlain("Runtime.callFunctionOn", command, session, timeout);
}

Reply Browser::CallPlain(const std::string& method, const Json& params, const std::string& session, Millis timeout) {
  std::string error;
  const int id = Begin(method, params, session, &error);
  if (id == 0) {
    Reply reply;
    reply.error = error;
    return reply;
  }
  return Await(id, method, timeout);
}

int Browser::Begin(const std::string& method, const Json& params, const std::string& session, std::string* error) {
  int id;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (dead_) {
      *error = "the page browser has ended";
      return 0;
    }
    // Its page crashed or went: no answer would come.
    if (lostSessions_.count(session)) {
      *error = "the page has gone";
      return 0;
    }
    id = nextId_++;
    waiting_.insert(id);
    if (!session.empty()) callSessions_[id] = session;
  }
  Json message{{"id", id}, {"method", method}, {"params", params}};
  if (!session.empty()) message["sessionId"] = session;
  if (!Write(message.dump(-1, ' ', false, Json::error_handler_t::replace))) {
    std::lock_guard<std::mutex> lock(mutex_);
    waiting_.erase(id);
    callSessions_.erase(id);
    *error = "the page browser cannot be reached";
    return 0;
  }
  return id;
}

Reply Browser::Await(int id, const std::string& method, Millis timeout) {
  Reply reply;
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
  callSessions_.erase(id);
  reply.error = dead_ ? "the page browser has ended" : method + " timed out";
  return reply;
}

bool Browser::DispatchOne(std::unique_lock<std::mutex>& lock) {
  auto queue = queues_.find(GetCurrentThreadId());
  if (queue == queues_.end() || queue->second.events.empty()) return false;
  Event event = std::move(queue->second.events.front());
  queue->second.events.pop_front();
  if (event.done) {
    Reply reply;
    if (event.params.contains("error")) {
      reply.error = event.params["error"].value("message", std::string("error"));
    } else {
      reply.ok = true;
      reply.result = event.params.contains("result") ? std::move(event.params["result"]) : Json::object();
    }
    lock.unlock();
    event.done(reply);
    lock.lock();
    return true;
  }
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
  // A popup of an app window is an app window too. Without an opener it has
  // a renderer of its own, as a headless page has: a page that stands for
  // the program's answer does not stop the other windows' pages with it.
  Reply open = Call("Runtime.evaluate", {{"expression", "window.open('about:blank', '', 'popup,noopener') === null"},
                                         {"userGesture", true}, {"returnByValue", true}},
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
  const std::string markScript = "(() => { const t = document.title; document.title = " + Json(mark).dump() +
                                  "; return t; })()";
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
  const std::string id = global.ok && global.result.contains("result") ? global.result["result"].value("objectId", "")
                                                                         : std::string();
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

void Browser::AddSession(const std::string& session, const std::string& targetId, EventSink sink) {
  EnsureMessageQueue();
  std::lock_guard<std::mutex> lock(mutex_);
  sessions_[session] = Session{targetId, GetCurrentThreadId(), std::move(sink)};
}

void Browser::RemoveSession(const std::string& session) {
  std::lock_guard<std::mutex> lock(mutex_);
  paused_.erase(session);
  lostSessions_.erase(session);
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

// One Chromium process driven over --remote-debugging-pipe (fd 3 carries
// commands into the browser, fd 4 its replies and events, each message JSON
// ending in a NUL byte). Never a TCP port: no other local user can reach it.
//
// The browser runs with a private profile folder, removed when the browser
// object ends. It also ends when this process dies: the pipe closes (and the
// child has PR_SET_PDEATHSIG), so no browser is left behind.
//
// A reader thread takes every message off the pipe. Replies wake the caller
// that waits for them; events are queued for the thread that owns the page
// session they belong to. That thread handles them inside its own waits (so a
// page paused in the debugger is answered while the thread waits for any
// reply) and, when idle, through its message loop (platform::PostThreadCall).
// Waits are measured on the installed clock (platform/kernel/Clock.h) and
// every one has a time-out.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/kernel/Clock.h"
#include "platform/kernel/WinTypes.h"
#include "platform/kernel/UniqueFd.h"

namespace platform::chromium {

using Json = nlohmann::json;

// The answer to one command: its result, or an error text.
struct Reply {
  bool ok = false;
  Json result;
  std::string error;
};

class Browser : public std::enable_shared_from_this<Browser> {
 public:
  struct Options {
    std::string binary;  // empty: $ZORVA_CHROMIUM, else /usr/lib/chromium/chromium
    bool headless = true;
    Millis startTimeout = 30000;
  };

  // Starts a browser; null (and *error says why, naming the package) when it
  // cannot be started or does not answer.
  static std::shared_ptr<Browser> Start(const Options& options, std::string* error);
  // The process's one browser, started on first use (headless unless a
  // display is set and ZORVA_HEADLESS is not 1). Null when it cannot start;
  // the reason is written once to standard error. A browser that died is not
  // started again.
  static std::shared_ptr<Browser> Shared(std::string* error = nullptr);
  // Whether the shared browser would show its pages.
  static bool DisplayWanted();
  // Lets go of the shared browser (the program ends): once no page holds it
  // either, it is closed, waited for, and its profile folder removed.
  static void ReleaseShared();

  ~Browser();
  Browser(const Browser&) = delete;
  Browser& operator=(const Browser&) = delete;

  bool Alive() const;
  bool Headless() const { return headless_; }
  int ProcessId() const { return pid_; }

  // Sends a command (to a page session when `session` is set) and waits for
  // its reply, handling this thread's events meanwhile. Long text arguments
  // of Runtime.callFunctionOn cross packed (Chromium takes in long messages
  // slowly); the page function sees them as they were.
  Reply Call(const std::string& method, const Json& params = Json::object(), const std::string& session = {},
             Millis timeout = kCommandTimeout);
  // Sends a command whose reply nobody waits for.
  void Send(const std::string& method, const Json& params = Json::object(), const std::string& session = {});
  // Sends a command and returns at once; `done` gets its reply on the calling
  // thread, as its events come (inside its waits, or through its message
  // loop). Never called when the browser ends first. The commands of one
  // session run in the order sent, so set-up commands can follow each other
  // without waiting.
  using ReplySink = std::function<void(const Reply& reply)>;
  void Post(const std::string& method, const Json& params, const std::string& session, ReplySink done);

  // Events of a page session (and the browser's events naming the session or
  // its target) go to `sink` on the calling thread.
  using EventSink = std::function<void(const std::string& method, const Json& params)>;
  void AddSession(const std::string& session, const std::string& targetId, EventSink sink);
  void RemoveSession(const std::string& session);

  // A new page target: headless, a page of its own; shown, an app window
  // (no toolbar) opened from the browser's hidden start window. Empty, with
  // *error, when none can be had.
  std::string OpenPage(Millis timeout, std::string* error);
  // Headless: the blank page the browser opened as it started, once (empty
  // after, and when shown). Its renderer is already running, so the first
  // page of the program is there sooner than a new one.
  std::string TakeStartPage();

  // The X window of a shown page (its session), found by a title only it
  // shows for a moment; 0 headless, without an X display, or when it does
  // not show up (platform/html/X11Windows.h).
  unsigned long FindXWindow(const std::string& session);

  // Handles this thread's queued events; waits up to `timeout` for one when
  // none is queued. True when at least one was handled.
  bool ProcessEvents(Millis timeout);

  // Runs on each thread with sessions when the browser dies unexpectedly
  // (after the line on standard error). The default ends that thread's
  // message loop (PostQuitMessage), so the program closes cleanly.
  static void SetDeathHandler(std::function<void()> handler);

  static constexpr Millis kCommandTimeout = 20000;

 private:
  explicit Browser(bool headless) : headless_(headless) {}
  bool Launch(const Options& options, std::string* error);
  void ReadLoop(platform::UniqueFd owner);
  void Died();
  bool DispatchOne(std::unique_lock<std::mutex>& lock);
  bool Write(const std::string& message);
  Reply CallPlain(const std::string& method, const Json& params, const std::string& session, Millis timeout);
  // CallPlain in two halves: sends (0, and *error, when it cannot), then
  // waits for the answer.
  int Begin(const std::string& method, const Json& params, const std::string& session, std::string* error);
  Reply Await(int id, const std::string& method, Millis timeout);
  Reply CallPacked(const Json& params, const std::string& session, Millis timeout);

  struct Session {
    std::string targetId;
    DWORD thread = 0;
    EventSink sink;
  };
  struct Event {
    std::string session;
    std::string method;
    Json params;
    ReplySink done;  // set for the reply of a posted command (in params)
  };
  // Queues an event for `thread`; true when its message loop must be woken.
  bool Queue(DWORD thread, Event event);
  struct ThreadEvents {
    std::deque<Event> events;
    bool pumpPosted = false;
  };

  const bool headless_;
  int pid_ = -1;
  platform::UniqueFd writeFd_;
  std::string profile_;
  std::thread reader_;

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool dead_ = false;
  bool closing_ = false;
  bool started_ = false;
  int nextId_ = 1;
  std::set<int> waiting_;
  std::map<int, Json> replies_;
  std::map<int, std::pair<DWORD, ReplySink>> posted_;  // posted commands: their thread and sink
  // The page session of each command under way: a page that crashes or goes
  // never answers them, so they are answered with an error then.
  std::map<int, std::string> callSessions_;
  // Sessions whose page crashed or went, until removed: commands for them
  // fail at once (they may be sent before the page's thread hears of it).
  std::set<std::string> lostSessions_;
  void FailCallsOf(const std::string& session, std::vector<DWORD>& wake);
  // Under mutex_: the answer to command `id` goes to whoever waits for it.
  void Deliver(int id, Json message, std::vector<DWORD>& wake);
  std::map<std::string, Session> sessions_;
  std::map<DWORD, ThreadEvents> queues_;
  std::set<std::string> paused_;  // sessions whose page stands in the debugger
  std::string launcherSession_;   // the start window, which opens app windows
  bool launcherWithdrawn_ = false;
  std::string startPage_;  // headless: the start page not yet taken
  std::mutex writeMutex_;
};

}  // namespace platform::chromium

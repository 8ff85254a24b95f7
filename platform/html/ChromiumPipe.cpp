// The browser's debugging pipe: messages written and read, replies handed
// to the call that waits or the thread that posted it, events queued for
// the thread of their page's session, and the waits that handle them.
#include "platform/html/ChromiumBrowser.h"

#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/kernel/Messages.h"

namespace platform::chromium {

namespace {

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

}  // namespace

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
        std::fprintf(stderr, "%10.3f <- (%zu) %.300s\n", TraceMillis(), end - start,
                     buffer.substr(start, end - start).c_str());
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

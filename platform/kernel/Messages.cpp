#include "platform/kernel/Messages.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/kernel/Clock.h"
#include "platform/kernel/LastError.h"
#include "platform/kernel/ThreadState.h"

namespace {

using platform::kForever;
using platform::Millis;
using platform::TheClock;

// Lock order: the registry mutex before any queue mutex; two queue mutexes are
// never held at once, and no lock is held while a window procedure, a timer
// procedure or a posted call runs.

struct Queue;

struct Window {
  std::uintptr_t id = 0;
  DWORD threadId = 0;
  std::shared_ptr<Queue> queue;         // the owner thread's queue
  std::shared_ptr<const WNDPROC> proc;  // guarded by the registry mutex
  std::atomic<bool> alive{true};
  bool destroying = false;  // owner thread only

  HWND Handle() const { return reinterpret_cast<HWND>(id); }
};

struct PostedItem {
  std::shared_ptr<Window> window;  // null for thread messages and calls
  MSG msg{};
  std::function<void()> call;  // set for PostThreadCall
};

struct SentItem {
  std::shared_ptr<Window> window;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  std::shared_ptr<Queue> sender;
  LRESULT result = 0;  // result and done are guarded by sender->mutex
  bool done = false;
};

struct Timer {
  HWND hwnd;  // null for a thread timer
  UINT_PTR id;
  Millis period;
  Millis due;
  TIMERPROC proc;
  std::uint64_t order;  // breaks ties between timers due at the same time
};

struct Queue {
  explicit Queue(DWORD owner) : threadId(owner) {}

  const DWORD threadId;
  std::mutex mutex;
  std::condition_variable cv;
  bool alive = true;
  std::uint64_t version = 0;  // bumped by every change the owner must look at
  std::deque<PostedItem> posted;
  std::deque<std::shared_ptr<SentItem>> sent;
  std::vector<Timer> timers;
  std::uint64_t timerOrder = 0;
  UINT_PTR lastThreadTimerId = 0;
  bool quit = false;
  int quitCode = 0;

  // Under mutex: wakes the owner so it looks at its queue again.
  void Changed() {
    ++version;
    cv.notify_all();
  }
};

struct Registry {
  std::mutex mutex;
  std::uintptr_t nextWindow = 0x10010;
  std::unordered_map<std::uintptr_t, std::shared_ptr<Window>> windows;  // live windows only
  std::unordered_map<DWORD, std::shared_ptr<Queue>> queues;
  std::unordered_map<std::string, UINT> registeredMessages;
  UINT nextRegisteredMessage = 0xC000;
};

Registry& Reg() {
  // Never destroyed: detached threads may still post while the process exits.
  static Registry* const registry = new Registry;
  return *registry;
}

const HWND kThreadMessagesOnly = reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1));
constexpr UINT kTimerMinimumMs = 10;
constexpr UINT kTimerMaximumMs = 0x7FFFFFFF;

std::atomic<DWORD> lastThreadId{0x100};
thread_local DWORD currentThreadId = 0;

void EndQueue(std::shared_ptr<Queue> queue);

// The calling thread's queue, made on first use and ended when the thread exits.
struct ThreadQueue {
  ThreadQueue() = default;
  ThreadQueue(const ThreadQueue&) = delete;
  ThreadQueue& operator=(const ThreadQueue&) = delete;
  ~ThreadQueue() {
    if (queue) EndQueue(std::move(queue));
  }
  std::shared_ptr<Queue> queue;
};
thread_local ThreadQueue threadQueue;

std::shared_ptr<Queue> CurrentQueue() {
  if (!threadQueue.queue) {
    auto queue = std::make_shared<Queue>(GetCurrentThreadId());
    {
      Registry& reg = Reg();
      std::lock_guard<std::mutex> g(reg.mutex);
      reg.queues[queue->threadId] = queue;
    }
    threadQueue.queue = std::move(queue);
  }
  return threadQueue.queue;
}

std::shared_ptr<Queue> QueueOfThread(DWORD threadId) {
  Registry& reg = Reg();
  std::lock_guard<std::mutex> g(reg.mutex);
  auto it = reg.queues.find(threadId);
  return it == reg.queues.end() ? nullptr : it->second;
}

std::shared_ptr<Window> LiveWindow(HWND hwnd) {
  if (!hwnd) return nullptr;
  Registry& reg = Reg();
  std::lock_guard<std::mutex> g(reg.mutex);
  auto it = reg.windows.find(reinterpret_cast<std::uintptr_t>(hwnd));
  return it == reg.windows.end() ? nullptr : it->second;
}

LRESULT CallProc(const Window& window, UINT message, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<const WNDPROC> proc;
  {
    Registry& reg = Reg();
    std::lock_guard<std::mutex> g(reg.mutex);
    proc = window.proc;
  }
  if (!proc || !*proc || !window.alive) return 0;
  return (*proc)(window.Handle(), message, wParam, lParam);
}

void Complete(SentItem& item, LRESULT result) {
  Queue& sender = *item.sender;
  std::lock_guard<std::mutex> g(sender.mutex);
  item.result = result;
  item.done = true;
  sender.Changed();
}

// Runs a message sent from another thread and hands its result back, also when
// the procedure throws.
void RunSent(SentItem& item) {
  struct Reply {
    SentItem& item;
    LRESULT result = 0;
    ~Reply() { Complete(item, result); }
  } reply{item};
  reply.result = CallProc(*item.window, item.message, item.wParam, item.lParam);
}

// Marks a window dead and drops what its queue still holds for it.
void Bury(const std::shared_ptr<Window>& window) {
  std::shared_ptr<const WNDPROC> proc;
  {
    Registry& reg = Reg();
    std::lock_guard<std::mutex> g(reg.mutex);
    window->alive = false;
    reg.windows.erase(window->id);
    proc = std::move(window->proc);
  }
  std::vector<PostedItem> dropped;
  {
    Queue& queue = *window->queue;
    std::lock_guard<std::mutex> g(queue.mutex);
    for (auto it = queue.posted.begin(); it != queue.posted.end();) {
      if (it->window == window) {
        dropped.push_back(std::move(*it));
        it = queue.posted.erase(it);
      } else {
        ++it;
      }
    }
    const HWND hwnd = window->Handle();
    std::erase_if(queue.timers, [hwnd](const Timer& t) { return t.hwnd == hwnd; });
    queue.Changed();
  }
}

void EndQueue(std::shared_ptr<Queue> queue) {
  std::vector<std::shared_ptr<Window>> windows;
  {
    Registry& reg = Reg();
    std::lock_guard<std::mutex> g(reg.mutex);
    auto q = reg.queues.find(queue->threadId);
    if (q != reg.queues.end() && q->second == queue) reg.queues.erase(q);
    for (auto it = reg.windows.begin(); it != reg.windows.end();) {
      if (it->second->queue == queue) {
        it->second->alive = false;
        windows.push_back(std::move(it->second));
        it = reg.windows.erase(it);
      } else {
        ++it;
      }
    }
  }
  std::deque<PostedItem> posted;
  std::deque<std::shared_ptr<SentItem>> sent;
  std::vector<Timer> timers;
  {
    std::lock_guard<std::mutex> g(queue->mutex);
    queue->alive = false;
    posted.swap(queue->posted);
    sent.swap(queue->sent);
    timers.swap(queue->timers);
    queue->quit = false;
    queue->Changed();
  }
  for (auto& item : sent) Complete(*item, 0);
  // Procedures and posted calls are released here, outside every lock.
}

struct Filter {
  HWND hwnd = nullptr;
  UINT min = 0;
  UINT max = 0;
};

bool MatchesWindow(HWND hwnd, const Filter& f) {
  if (f.hwnd == kThreadMessagesOnly) return hwnd == nullptr;
  return f.hwnd == nullptr || f.hwnd == hwnd;
}

bool MatchesMessage(UINT message, const Filter& f) {
  return (f.min == 0 && f.max == 0) || (message >= f.min && message <= f.max);
}

enum class Got { kMessage, kQuit, kNothing };

// Takes the calling thread's next message. Messages sent from other threads
// and posted calls run on the way, in the order they came. Posted messages go
// before WM_QUIT, WM_QUIT before timers. A timer due by `timersDueBy` gives one
// WM_TIMER however late it is, and when removed is due again at its next period.
Got Retrieve(Queue& queue, MSG* out, const Filter& filter, bool remove, bool takeQuit, bool block, Millis timersDueBy,
             int* handled) {
  std::vector<PostedItem> dropped;  // released after the lock
  std::unique_lock<std::mutex> lock(queue.mutex);
  for (;;) {
    if (!queue.sent.empty()) {
      std::shared_ptr<SentItem> item = std::move(queue.sent.front());
      queue.sent.pop_front();
      lock.unlock();
      RunSent(*item);
      if (handled) ++*handled;
      lock.lock();
      continue;
    }

    bool ranCall = false;
    for (std::size_t i = 0; i < queue.posted.size();) {
      PostedItem& item = queue.posted[i];
      if (item.call) {
        std::function<void()> call = std::move(item.call);
        queue.posted.erase(queue.posted.begin() + static_cast<std::ptrdiff_t>(i));
        lock.unlock();
        call();
        call = nullptr;
        if (handled) ++*handled;
        lock.lock();
        ranCall = true;
        break;
      }
      if (item.window && !item.window->alive) {
        dropped.push_back(std::move(item));
        queue.posted.erase(queue.posted.begin() + static_cast<std::ptrdiff_t>(i));
        continue;
      }
      if (MatchesWindow(item.msg.hwnd, filter) && MatchesMessage(item.msg.message, filter)) {
        *out = item.msg;
        if (remove) {
          dropped.push_back(std::move(item));
          queue.posted.erase(queue.posted.begin() + static_cast<std::ptrdiff_t>(i));
        }
        return Got::kMessage;
      }
      ++i;
    }
    if (ranCall) continue;

    if (takeQuit && queue.quit) {
      *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(queue.quitCode), 0, GetTickCount()};
      if (remove) queue.quit = false;
      return Got::kQuit;
    }

    Timer* next = nullptr;
    if (MatchesMessage(WM_TIMER, filter)) {
      for (Timer& t : queue.timers) {
        if (!MatchesWindow(t.hwnd, filter)) continue;
        if (!next || t.due < next->due || (t.due == next->due && t.order < next->order)) next = &t;
      }
    }
    const Millis now = TheClock().Now();
    if (next && next->due <= now && next->due <= timersDueBy) {
      *out = MSG{next->hwnd, WM_TIMER, next->id, reinterpret_cast<LPARAM>(next->proc), static_cast<DWORD>(now)};
      if (remove) next->due += ((now - next->due) / next->period + 1) * next->period;
      return Got::kMessage;
    }
    if (!block) return Got::kNothing;

    const std::uint64_t seen = queue.version;
    TheClock().WaitUntil(lock, queue.cv, next ? next->due : kForever, [&queue, seen] { return queue.version != seen; });
  }
}

bool HasTimerProc(HWND hwnd, UINT_PTR id, TIMERPROC proc) {
  std::shared_ptr<Queue> queue;
  if (hwnd) {
    auto window = LiveWindow(hwnd);
    if (!window) return false;
    queue = window->queue;
  } else {
    queue = threadQueue.queue;
    if (!queue) return false;
  }
  std::lock_guard<std::mutex> g(queue->mutex);
  return std::any_of(queue->timers.begin(), queue->timers.end(),
                     [&](const Timer& t) { return t.hwnd == hwnd && t.id == id && t.proc == proc; });
}

BOOL PostTo(const std::shared_ptr<Queue>& queue, PostedItem item) {
  std::lock_guard<std::mutex> g(queue->mutex);
  if (!queue->alive || (item.window && !item.window->alive)) return FALSE;
  queue->posted.push_back(std::move(item));
  queue->Changed();
  return TRUE;
}

// The queue that holds `hwnd`'s timers (the calling thread's for a null hwnd).
std::shared_ptr<Queue> TimerQueue(HWND hwnd, std::shared_ptr<Window>* window) {
  if (!hwnd) return CurrentQueue();
  *window = LiveWindow(hwnd);
  if (!*window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return (*window)->queue;
}

}  // namespace

HWND CreateWindowHandle(WNDPROC proc) {
  auto window = std::make_shared<Window>();
  window->queue = CurrentQueue();
  window->threadId = window->queue->threadId;
  window->proc = std::make_shared<const WNDPROC>(std::move(proc));
  Registry& reg = Reg();
  std::lock_guard<std::mutex> g(reg.mutex);
  window->id = reg.nextWindow;
  reg.nextWindow += 2;
  reg.windows.emplace(window->id, window);
  return window->Handle();
}

BOOL DestroyWindow(HWND hwnd) {
  auto window = LiveWindow(hwnd);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (window->threadId != GetCurrentThreadId()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (window->destroying) return TRUE;  // called again from its own WM_DESTROY
  window->destroying = true;
  struct Finish {
    const std::shared_ptr<Window>& window;
    ~Finish() { Bury(window); }
  } finish{window};
  CallProc(*window, WM_DESTROY, 0, 0);
  return TRUE;
}

BOOL IsWindow(HWND hwnd) { return LiveWindow(hwnd) ? TRUE : FALSE; }

BOOL SetWindowProc(HWND hwnd, WNDPROC proc) {
  auto replacement = std::make_shared<const WNDPROC>(std::move(proc));
  Registry& reg = Reg();
  std::unique_lock<std::mutex> g(reg.mutex);
  auto it = reg.windows.find(reinterpret_cast<std::uintptr_t>(hwnd));
  if (!hwnd || it == reg.windows.end()) {
    g.unlock();
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  std::swap(it->second->proc, replacement);
  g.unlock();  // the old procedure is released outside the lock
  return TRUE;
}

DWORD GetWindowThreadId(HWND hwnd) {
  auto window = LiveWindow(hwnd);
  return window ? window->threadId : 0;
}

BOOL PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!hwnd)
    return PostTo(CurrentQueue(), PostedItem{nullptr, MSG{nullptr, message, wParam, lParam, GetTickCount()}, {}});
  auto window = LiveWindow(hwnd);
  if (window) {
    auto queue = window->queue;
    if (PostTo(queue, PostedItem{std::move(window), MSG{hwnd, message, wParam, lParam, GetTickCount()}, {}})) {
      return TRUE;
    }
  }
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return FALSE;
}

BOOL PostThreadMessage(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
  auto queue = QueueOfThread(threadId);
  if (queue && PostTo(queue, PostedItem{nullptr, MSG{nullptr, message, wParam, lParam, GetTickCount()}, {}})) {
    return TRUE;
  }
  SetLastError(ERROR_INVALID_THREAD_ID);
  return FALSE;
}

LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto window = LiveWindow(hwnd);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (window->threadId == GetCurrentThreadId()) return CallProc(*window, message, wParam, lParam);

  auto target = window->queue;
  auto mine = CurrentQueue();
  auto item = std::make_shared<SentItem>();
  item->window = std::move(window);
  item->message = message;
  item->wParam = wParam;
  item->lParam = lParam;
  item->sender = mine;
  {
    std::lock_guard<std::mutex> g(target->mutex);
    if (!target->alive) return 0;
    target->sent.push_back(item);
    target->Changed();
  }
  // While waiting for the reply, answer what other threads send to us, so two
  // threads sending to each other do not lock up.
  std::unique_lock<std::mutex> lock(mine->mutex);
  while (!item->done) {
    if (!mine->sent.empty()) {
      std::shared_ptr<SentItem> incoming = std::move(mine->sent.front());
      mine->sent.pop_front();
      lock.unlock();
      RunSent(*incoming);
      lock.lock();
      continue;
    }
    TheClock().WaitUntil(lock, mine->cv, kForever, [&] { return item->done || !mine->sent.empty(); });
  }
  return item->result;
}

void PostQuitMessage(int exitCode) {
  auto queue = CurrentQueue();
  std::lock_guard<std::mutex> g(queue->mutex);
  queue->quit = true;
  queue->quitCode = exitCode;
  queue->Changed();
}

BOOL GetMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax) {
  if (!msg) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  if (hwnd && hwnd != kThreadMessagesOnly && !IsWindow(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return -1;
  }
  auto queue = CurrentQueue();
  Got got = Retrieve(*queue, msg, Filter{hwnd, filterMin, filterMax}, true, true, true, kForever, nullptr);
  return got == Got::kQuit ? FALSE : TRUE;
}

BOOL PeekMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags) {
  if (!msg) return FALSE;
  auto queue = CurrentQueue();
  Got got = Retrieve(*queue, msg, Filter{hwnd, filterMin, filterMax}, (removeFlags & PM_REMOVE) != 0, true, false,
                     kForever, nullptr);
  return got == Got::kNothing ? FALSE : TRUE;
}

LRESULT DispatchMessage(const MSG* msg) {
  if (!msg) return 0;
  if (msg->message == WM_TIMER && msg->lParam != 0) {
    // Only the procedure of a timer that still runs is called.
    auto proc = reinterpret_cast<TIMERPROC>(msg->lParam);
    if (HasTimerProc(msg->hwnd, msg->wParam, proc)) proc(msg->hwnd, WM_TIMER, msg->wParam, GetTickCount());
    return 0;
  }
  auto window = LiveWindow(msg->hwnd);
  if (!window || window->threadId != GetCurrentThreadId()) return 0;
  return CallProc(*window, msg->message, msg->wParam, msg->lParam);
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc) {
  std::shared_ptr<Window> window;
  auto queue = TimerQueue(hwnd, &window);
  if (!queue) return 0;
  const Millis period = std::clamp(elapseMs, kTimerMinimumMs, kTimerMaximumMs);
  const Millis now = TheClock().Now();
  std::lock_guard<std::mutex> g(queue->mutex);
  if (!queue->alive || (window && !window->alive)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  auto& timers = queue->timers;
  auto it = std::find_if(timers.begin(), timers.end(), [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
  if (!hwnd && (id == 0 || it == timers.end())) {
    // A thread timer with an unknown id gets a fresh one.
    do {
      id = ++queue->lastThreadTimerId;
    } while (id == 0 ||
             std::any_of(timers.begin(), timers.end(), [id](const Timer& t) { return !t.hwnd && t.id == id; }));
    it = timers.end();
  }
  if (it != timers.end()) {
    it->period = period;
    it->due = now + period;
    it->proc = proc;
    it->order = ++queue->timerOrder;
  } else {
    timers.push_back(Timer{hwnd, id, period, now + period, proc, ++queue->timerOrder});
  }
  queue->Changed();
  return id != 0 ? id : 1;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
  std::shared_ptr<Window> window;
  auto queue = TimerQueue(hwnd, &window);
  if (!queue) return FALSE;
  std::lock_guard<std::mutex> g(queue->mutex);
  auto removed = std::erase_if(queue->timers, [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
  if (removed == 0) return FALSE;
  queue->Changed();
  return TRUE;
}

UINT RegisterWindowMessage(const char* name) {
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string key(name);
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  Registry& reg = Reg();
  std::lock_guard<std::mutex> g(reg.mutex);
  auto it = reg.registeredMessages.find(key);
  if (it != reg.registeredMessages.end()) return it->second;
  if (reg.nextRegisteredMessage > 0xFFFF) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  UINT value = reg.nextRegisteredMessage++;
  reg.registeredMessages.emplace(std::move(key), value);
  return value;
}

DWORD GetCurrentThreadId() {
  if (currentThreadId == 0) currentThreadId = platform::detail::NewThreadId();
  return currentThreadId;
}

namespace platform {

namespace detail {

DWORD NewThreadId() {
  DWORD id;
  do {
    id = lastThreadId.fetch_add(1, std::memory_order_relaxed) + 1;
  } while (id == 0);
  return id;
}

void AdoptThreadId(DWORD id) { currentThreadId = id; }

void EndThreadQueue() {
  if (threadQueue.queue) EndQueue(std::move(threadQueue.queue));
}

}  // namespace detail

bool PostThreadCall(DWORD threadId, std::function<void()> call) {
  if (!call) return false;
  auto queue = QueueOfThread(threadId);
  return queue && PostTo(queue, PostedItem{nullptr, MSG{}, std::move(call)});
}

void EnsureMessageQueue() { CurrentQueue(); }

int PumpMessages() {
  auto queue = CurrentQueue();
  // Timers due when the pump starts fire once each, even if the handlers move
  // the clock on.
  const Millis dueBy = TheClock().Now();
  int handled = 0;
  MSG msg{};
  while (Retrieve(*queue, &msg, Filter{}, true, false, false, dueBy, &handled) == Got::kMessage) {
    DispatchMessage(&msg);
    ++handled;
  }
  return handled;
}

int RunMessageLoop() {
  MSG msg{};
  while (GetMessage(&msg, nullptr, 0, 0) > 0) DispatchMessage(&msg);
  return static_cast<int>(msg.wParam);
}

void WaitMessage() {
  auto queue = CurrentQueue();
  std::unique_lock<std::mutex> lock(queue->mutex);
  if (!queue->sent.empty() || !queue->posted.empty() || queue->quit) return;
  Millis next = kForever;
  for (const Timer& t : queue->timers) next = std::min(next, t.due);
  if (next <= TheClock().Now()) return;
  const std::uint64_t seen = queue->version;
  TheClock().WaitUntil(lock, queue->cv, next, [&queue, seen] { return queue->version != seen; });
}

}  // namespace platform

#include "platform/kernel/Sync.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/kernel/Clock.h"
#include "platform/kernel/LastError.h"
#include "platform/kernel/Log.h"
#include "platform/kernel/ThreadState.h"

namespace {

using platform::kForever;
using platform::Millis;
using platform::TheClock;

struct Object {
  virtual ~Object() = default;
  virtual bool Signalled() const = 0;
  // A wait was satisfied by this object.
  virtual void Acquired() {}
};

struct Event final : Object {
  Event(bool manual, bool initial, std::string eventName)
      : manualReset(manual), signalled(initial), name(std::move(eventName)) {}
  bool Signalled() const override { return signalled; }
  void Acquired() override {
    if (!manualReset) signalled = false;
  }
  const bool manualReset;
  bool signalled;
  const std::string name;
  int openHandles = 0;  // the name lives as long as a handle to the event is open
};

struct Thread final : Object {
  bool Signalled() const override { return finished; }
  DWORD id = 0;
  pid_t tid = 0;  // the system's id of the running thread, 0 before it starts
  int priority = THREAD_PRIORITY_NORMAL;
  bool finished = false;
  DWORD exitCode = STILL_ACTIVE;
};

// Every kernel object shares one mutex and one condition: waits on several
// objects at once stay simple, and the system has only a handful of threads.
struct Kernel {
  std::mutex mutex;
  std::condition_variable changed;
  std::uintptr_t nextHandle = 0x104;
  std::unordered_map<std::uintptr_t, std::shared_ptr<Object>> handles;
  std::unordered_map<std::string, std::shared_ptr<Event>> named;
};

Kernel& K() {
  // Never destroyed: detached threads may still signal while the process exits.
  static Kernel* const kernel = new Kernel;
  return *kernel;
}

// Under the kernel mutex.
HANDLE AddHandle(Kernel& k, std::shared_ptr<Object> object) {
  if (auto* event = dynamic_cast<Event*>(object.get())) ++event->openHandles;
  std::uintptr_t value = k.nextHandle;
  k.nextHandle += 4;
  k.handles.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

// Under the kernel mutex.
template <typename T>
std::shared_ptr<T> Find(Kernel& k, HANDLE handle) {
  auto it = k.handles.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == k.handles.end()) return nullptr;
  return std::dynamic_pointer_cast<T>(it->second);
}

// Find, with ERROR_INVALID_HANDLE set when the handle is not such an object.
template <class T>
std::shared_ptr<T> FindOrFail(Kernel& k, HANDLE handle) {
  auto object = Find<T>(k, handle);
  if (!object) SetLastError(ERROR_INVALID_HANDLE);
  return object;
}

bool ValidPriority(int priority) {
  switch (priority) {
    case THREAD_PRIORITY_IDLE:
    case THREAD_PRIORITY_LOWEST:
    case THREAD_PRIORITY_BELOW_NORMAL:
    case THREAD_PRIORITY_NORMAL:
    case THREAD_PRIORITY_ABOVE_NORMAL:
    case THREAD_PRIORITY_HIGHEST:
    case THREAD_PRIORITY_TIME_CRITICAL:
      return true;
    default:
      return false;
  }
}

// Low priorities become a nice value of the thread so background work yields
// the processor. Raising a thread again needs privileges the user rarely has,
// so failures are ignored: the stored priority is what callers read back.
void ApplyNice(pid_t tid, int priority) {
  int nice = 0;
  if (priority <= THREAD_PRIORITY_IDLE) {
    nice = 19;
  } else if (priority <= THREAD_PRIORITY_LOWEST) {
    nice = 10;
  } else if (priority <= THREAD_PRIORITY_BELOW_NORMAL) {
    nice = 5;
  }
  if (tid != 0) static_cast<void>(setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice));
}

// Waits under `lock` on the kernel mutex. Returns the index satisfied, -1 on time-out.
int WaitOn(Kernel& k, std::unique_lock<std::mutex>& lock, const std::vector<std::shared_ptr<Object>>& objects,
           bool waitAll, DWORD timeoutMs) {
  auto satisfied = [&objects, waitAll]() -> int {
    if (waitAll) {
      for (const auto& o : objects) {
        if (!o->Signalled()) return -1;
      }
      return 0;
    }
    for (std::size_t i = 0; i < objects.size(); ++i) {
      if (objects[i]->Signalled()) return static_cast<int>(i);
    }
    return -1;
  };
  int hit = satisfied();
  if (hit < 0 && timeoutMs != 0) {
    platform::Clock& clock = TheClock();
    const Millis deadline = timeoutMs == INFINITE ? kForever : clock.Now() + static_cast<Millis>(timeoutMs);
    clock.WaitUntil(lock, k.changed, deadline, [&satisfied] { return satisfied() >= 0; });
    hit = satisfied();
  }
  if (hit < 0) return -1;
  if (waitAll) {
    for (const auto& o : objects) o->Acquired();
  } else {
    objects[static_cast<std::size_t>(hit)]->Acquired();
  }
  return hit;
}

DWORD WaitResult(int hit) { return hit < 0 ? WAIT_TIMEOUT : WAIT_OBJECT_0 + static_cast<DWORD>(hit); }

void RunThread(const std::shared_ptr<Thread>& thread, std::function<DWORD()>& body) {
  platform::detail::AdoptThreadId(thread->id);
  Kernel& k = K();
  {
    std::lock_guard<std::mutex> g(k.mutex);
    thread->tid = static_cast<pid_t>(syscall(SYS_gettid));
    if (thread->priority != THREAD_PRIORITY_NORMAL) ApplyNice(thread->tid, thread->priority);
  }
  const DWORD code = body();
  // Whatever the body held and the thread's queue go before the handle is
  // signalled, so a waiter sees the thread's work finished.
  body = nullptr;
  platform::detail::EndThreadQueue();
  std::lock_guard<std::mutex> g(k.mutex);
  thread->finished = true;
  thread->exitCode = code;
  k.changed.notify_all();
}

}  // namespace

HANDLE CreateEvent(void* /*securityAttributes*/, BOOL manualReset, BOOL initialState, const char* name) {
  Kernel& k = K();
  std::lock_guard<std::mutex> g(k.mutex);
  const std::string key = name ? name : "";
  if (!key.empty()) {
    auto it = k.named.find(key);
    if (it != k.named.end()) {
      SetLastError(ERROR_ALREADY_EXISTS);
      return AddHandle(k, it->second);
    }
  }
  auto event = std::make_shared<Event>(manualReset != FALSE, initialState != FALSE, key);
  if (!key.empty()) k.named.emplace(key, event);
  SetLastError(ERROR_SUCCESS);
  return AddHandle(k, std::move(event));
}

BOOL SetEvent(HANDLE handle) {
  Kernel& k = K();
  std::lock_guard<std::mutex> g(k.mutex);
  auto event = FindOrFail<Event>(k, handle);
  if (!event) return FALSE;
  event->signalled = true;
  k.changed.notify_all();
  return TRUE;
}

BOOL ResetEvent(HANDLE handle) {
  Kernel& k = K();
  std::lock_guard<std::mutex> g(k.mutex);
  auto event = FindOrFail<Event>(k, handle);
  if (!event) return FALSE;
  event->signalled = false;
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD timeoutMs) {
  return WaitForMultipleObjects(1, &handle, TRUE, timeoutMs);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD timeoutMs) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  Kernel& k = K();
  std::unique_lock<std::mutex> lock(k.mutex);
  std::vector<std::shared_ptr<Object>> objects;
  for (DWORD i = 0; i < count; ++i) {
    auto object = Find<Object>(k, handles[i]);
    if (!object) {
      lock.unlock();
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    objects.push_back(std::move(object));
  }
  return WaitResult(WaitOn(k, lock, objects, waitAll != FALSE, timeoutMs));
}

DWORD SignalObjectAndWait(HANDLE toSignal, HANDLE toWaitOn, DWORD timeoutMs, BOOL /*alertable*/) {
  Kernel& k = K();
  std::unique_lock<std::mutex> lock(k.mutex);
  auto event = Find<Event>(k, toSignal);
  auto object = Find<Object>(k, toWaitOn);
  if (!event || !object) {
    lock.unlock();
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  event->signalled = true;
  k.changed.notify_all();
  return WaitResult(WaitOn(k, lock, {object}, true, timeoutMs));
}

BOOL CloseHandle(HANDLE handle) {
  std::shared_ptr<Object> closed;  // released outside the lock
  Kernel& k = K();
  std::lock_guard<std::mutex> g(k.mutex);
  auto it = k.handles.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == k.handles.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  closed = std::move(it->second);
  k.handles.erase(it);
  if (auto* event = dynamic_cast<Event*>(closed.get())) {
    // With its last handle the name goes too; creating it again makes a new event.
    if (--event->openHandles == 0 && !event->name.empty()) k.named.erase(event->name);
  }
  return TRUE;
}

HANDLE CreateThread(std::function<DWORD()> body, int priority, DWORD* threadId) {
  if (!body || !ValidPriority(priority)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto thread = std::make_shared<Thread>();
  thread->id = platform::detail::NewThreadId();
  thread->priority = priority;
  Kernel& k = K();
  HANDLE handle;
  {
    std::lock_guard<std::mutex> g(k.mutex);
    handle = AddHandle(k, thread);
  }
  try {
    std::thread worker([thread, work = std::move(body)]() mutable { RunThread(thread, work); });
    worker.detach();
  } catch (const std::system_error&) {
    // The caller hears ERROR_NOT_ENOUGH_MEMORY; the system's own reason is traced.
    platform::LogFailure("CreateThread");
    std::lock_guard<std::mutex> g(k.mutex);
    k.handles.erase(reinterpret_cast<std::uintptr_t>(handle));
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (threadId) *threadId = thread->id;
  return handle;
}

BOOL SetThreadPriority(HANDLE handle, int priority) {
  Kernel& k = K();
  std::lock_guard<std::mutex> g(k.mutex);
  auto thread = FindOrFail<Thread>(k, handle);
  if (!thread) return FALSE;
  if (!ValidPriority(priority)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  thread->priority = priority;
  // Under the mutex an unfinished thread is still alive, so its id is its own.
  if (!thread->finished) ApplyNice(thread->tid, priority);
  return TRUE;
}

int GetThreadPriority(HANDLE handle) {
  Kernel& k = K();
  std::lock_guard<std::mutex> g(k.mutex);
  auto thread = FindOrFail<Thread>(k, handle);
  if (!thread) return THREAD_PRIORITY_ERROR_RETURN;
  return thread->priority;
}

BOOL GetExitCodeThread(HANDLE handle, DWORD* exitCode) {
  Kernel& k = K();
  std::lock_guard<std::mutex> g(k.mutex);
  auto thread = Find<Thread>(k, handle);
  if (!thread || !exitCode) {
    SetLastError(thread ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *exitCode = thread->finished ? thread->exitCode : STILL_ACTIVE;
  return TRUE;
}

DWORD GetThreadId(HANDLE handle) {
  Kernel& k = K();
  std::lock_guard<std::mutex> g(k.mutex);
  auto thread = FindOrFail<Thread>(k, handle);
  if (!thread) return 0;
  return thread->id;
}

// Kernel objects: named manual- and auto-reset events, threads with priorities,
// and waits with time-outs on the installed clock (platform/kernel/Clock.h), the
// stand-in for the desktop API's events, threads and wait functions. Handles are
// opaque and never reused; an invalid one makes a call fail with
// ERROR_INVALID_HANDLE (GetLastError).
#pragma once

#include <functional>
#include <memory>

#include "platform/kernel/WinTypes.h"

// An event with a name is shared process-wide: creating one whose name exists
// returns a handle to the same event and sets ERROR_ALREADY_EXISTS (otherwise
// ERROR_SUCCESS). Names are case-sensitive; a name lives while a handle is open.
HANDLE CreateEvent(void* securityAttributes, BOOL manualReset, BOOL initialState, const char* name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
// Events: signalled state (an auto-reset event is reset by a successful wait).
// Threads: signalled once the thread function has returned.
// WAIT_OBJECT_0 (+ index of the first signalled handle when not waiting for all),
// WAIT_TIMEOUT, or WAIT_FAILED for a bad handle or count. A time-out of 0 only tests.
DWORD WaitForSingleObject(HANDLE handle, DWORD timeoutMs);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD timeoutMs);
// Sets the event `toSignal` and waits for `toWaitOn` in one step. Waits here are
// never alertable; the flag is accepted and ignored.
DWORD SignalObjectAndWait(HANDLE toSignal, HANDLE toWaitOn, DWORD timeoutMs, BOOL alertable);
// Closing a handle that another thread waits on leaves that wait running.
BOOL CloseHandle(HANDLE handle);

constexpr int THREAD_PRIORITY_IDLE = -15;
constexpr int THREAD_PRIORITY_LOWEST = -2;
constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
constexpr int THREAD_PRIORITY_HIGHEST = 2;
constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;
constexpr int THREAD_PRIORITY_ERROR_RETURN = 0x7FFFFFFF;
constexpr DWORD STILL_ACTIVE = 259;

// Starts `body` on a new thread at `priority`. The thread never needs joining:
// closing the handle while it runs leaves it running to its end, and no thread
// object is ever left joinable at exit. The thread has its id (GetCurrentThreadId)
// from its first instruction; its message queue ends before its handle is
// signalled. Only the priorities above are accepted (else nullptr,
// ERROR_INVALID_PARAMETER). Priorities below normal also lower the thread's
// scheduling weight where the system lets us; GetThreadPriority reads back the
// value set.
HANDLE CreateThread(std::function<DWORD()> body, int priority = THREAD_PRIORITY_NORMAL, DWORD* threadId = nullptr);
BOOL SetThreadPriority(HANDLE thread, int priority);
// THREAD_PRIORITY_ERROR_RETURN for a handle that is not a thread.
int GetThreadPriority(HANDLE thread);
// STILL_ACTIVE while the thread runs, then the value its body returned.
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);
DWORD GetThreadId(HANDLE thread);

namespace platform {

// Owns a kernel handle and closes it.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE h) : handle_(h) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(UniqueHandle&& o) noexcept : handle_(o.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& o) noexcept {
    if (this != &o) Reset(o.Release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  HANDLE Get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  HANDLE Release() {
    HANDLE h = handle_;
    handle_ = nullptr;
    return h;
  }
  void Reset(HANDLE h = nullptr) {
    if (handle_) CloseHandle(handle_);
    handle_ = h;
  }

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace platform

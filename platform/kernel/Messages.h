// Window handles, per-thread message queues, timers and registered messages:
// the stand-in for the desktop API's message layer. Each thread that creates a
// window or pumps messages has one queue; it ends when the thread exits, and the
// thread's windows die with it. Timers fire from the installed clock
// (platform/kernel/Clock.h), so tests drive them by advancing a ManualClock.
// A "window" here is a handle with a procedure; nothing is drawn.
#pragma once

#include <functional>
#include <string>

#include "platform/kernel/WinTypes.h"

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
};

using WNDPROC = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;
using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);

constexpr UINT PM_NOREMOVE = 0;
constexpr UINT PM_REMOVE = 1;

// A window handle owned by the calling thread; messages to it are dispatched to
// `proc` on that thread. Never reused once destroyed.
HWND CreateWindowHandle(WNDPROC proc);
// Destroys the handle: queued and later messages to it are dropped, its timers die.
// Sends WM_DESTROY to the proc first. Only the owner thread may destroy a window
// (FALSE, ERROR_ACCESS_DENIED otherwise).
BOOL DestroyWindow(HWND hwnd);
BOOL IsWindow(HWND hwnd);
// Replaces the procedure of a live window (returns FALSE for a dead handle).
BOOL SetWindowProc(HWND hwnd, WNDPROC proc);
DWORD GetWindowThreadId(HWND hwnd);

// From any thread. FALSE (and nothing queued) for a handle that is not a live window
// (ERROR_INVALID_WINDOW_HANDLE). A null hwnd posts a thread message to the caller.
// Each message posted is retrieved once, in the order posted.
BOOL PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// FALSE (ERROR_INVALID_THREAD_ID) when that thread has no queue.
BOOL PostThreadMessage(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
// On the window's own thread: calls its proc at once. From another thread: queues
// the message and blocks until the owner thread has dispatched it (0 for a dead window,
// or when the owner thread ends first). The owner handles it inside its next
// GetMessage or PeekMessage (a GetMessage that is blocked wakes for it); while it
// waits, the sender answers messages sent to its own windows.
LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);

// hwnd filter: null for every message of the thread, a window for that window's
// only, (HWND)-1 for thread messages only; filterMin = filterMax = 0 for every
// message. WM_QUIT passes every filter. Order: messages sent from other threads
// and posted calls run first, then posted messages, then WM_QUIT, then WM_TIMER.
// Blocks (on the clock) until a message or a due timer is there; FALSE on WM_QUIT
// (msg->wParam holds its exit code), -1 for a filter window that is not live.
BOOL GetMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax);
// Never blocks. Sent messages and posted calls run even with PM_NOREMOVE.
BOOL PeekMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags);
// WM_TIMER with a timer procedure in lParam calls that procedure (if the timer
// still runs); other messages go to the window's proc on its own thread.
LRESULT DispatchMessage(const MSG* msg);

// Setting an id that is already set on the window restarts it with the new period.
// Returns the id (nonzero) or 0 for a dead window. Periods are clamped to
// 10 ms .. 0x7FFFFFFF ms. A due timer gives one WM_TIMER (wParam = id, lParam =
// proc) when the queue has nothing else; one overdue by several periods still
// fires once, and is then due again at its next multiple of the period. Timers
// due together fire in the order they were set. With a null hwnd the timer
// belongs to the calling thread and an id not in use there is replaced by a
// fresh one, which is returned.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc = nullptr);
BOOL KillTimer(HWND hwnd, UINT_PTR id);

// Same name (case-insensitive), same id, from 0xC000 up; 0 for an empty name.
UINT RegisterWindowMessage(const char* name);

DWORD GetCurrentThreadId();

namespace platform {

// Runs `call` on thread `threadId` the next time that thread pumps its queue
// (how calls from worker threads reach the thread that asked for them), in order
// with the messages posted to that thread. FALSE when that thread has no queue
// (yet, or any more).
bool PostThreadCall(DWORD threadId, std::function<void()> call);

// Creates the calling thread's queue if it has none (threads get one on first use anyway).
void EnsureMessageQueue();

// Dispatches every message that is queued and every timer that is due now on the
// calling thread, without blocking; returns how many were handled (messages,
// timers, sent messages and posted calls). Each due timer fires at most once per
// call. A WM_QUIT stays queued for the next GetMessage. For tests and for loops
// that must not block.
int PumpMessages();

// Runs the calling thread's message loop until WM_QUIT; returns its exit code.
int RunMessageLoop();

// Blocks until something is queued for the calling thread (a message, a
// posted call, a sent message, WM_QUIT) or one of its timers is due; takes
// nothing. A loop with a condition of its own peeks and then waits here, so
// a call run on the way that ends the loop is seen at once.
void WaitMessage();

}  // namespace platform

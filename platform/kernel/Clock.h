// The clock of the kernel stand-in. Everything in the system that waits,
// sleeps, fires a timer or reads the time of day takes it from the one
// installed clock, so tests can install a ManualClock and move time by hand.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/kernel/WinTypes.h"

namespace platform {

using Millis = std::int64_t;
constexpr Millis kForever = std::numeric_limits<Millis>::max();

namespace detail {

// The waits in progress on one clock. A wake-up takes each waiter's own mutex
// before notifying it, so one that races with the waiter's look at the time is
// never lost; a waiter leaves the set only once no wake-up still holds on to its
// mutex and condition, which may live on the waiter's stack.
class WaiterSet {
 public:
  struct Entry {
    std::mutex* mutex;
    std::condition_variable* cv;
    int busy = 0;  // wake-ups in flight that still use mutex and cv
  };

  // The caller holds *entry.mutex.
  void Add(Entry& entry);
  // The caller holds `lock` on *entry.mutex. Returns false when the lock had to
  // be let go meanwhile (the caller's condition must then be looked at again).
  bool Remove(Entry& entry, std::unique_lock<std::mutex>& lock);
  // Must not be called while holding a waiter's mutex.
  void WakeAll();
  int Size();

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  std::vector<Entry*> entries_;
};

}  // namespace detail

class Clock {
 public:
  virtual ~Clock() = default;
  // Monotonic milliseconds from an arbitrary origin.
  virtual Millis Now() = 0;
  // Milliseconds since 1970-01-01 00:00 as the user's local wall clock reads.
  virtual Millis LocalWallNow() = 0;
  // Milliseconds since 1970-01-01 00:00 UTC.
  virtual Millis UtcWallNow() = 0;
  // Blocks on `cv` (whose mutex `lock` holds) until `ready()` is true or the
  // clock reaches `deadline` (kForever: no deadline). Returns ready().
  virtual bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Millis deadline,
                         const std::function<bool()>& ready) = 0;
  // The same, but also over once `realTime` milliseconds have passed on the
  // machine's own clock: for a wait on another thread or process, which goes
  // on at its own pace however this clock moves.
  virtual bool WaitAtMost(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Millis deadline,
                          Millis realTime, const std::function<bool()>& ready) = 0;
  // Wakes every WaitUntil in progress so it re-checks its condition.
  virtual void Kick() = 0;
};

// The installed clock (the system clock unless a test installed another).
Clock& TheClock();
// Installs `clock`; nullptr puts the system clock back. Not thread safe
// against concurrent use of the clock: install before starting threads.
void InstallClock(Clock* clock);

// Sleeps `ms` on the installed clock, and never longer in real time: a wait
// for another thread or process to let go of something (a database lock),
// which it does at its own pace, also while a manual clock stands still.
void WaitForOthers(Millis ms);

class SystemClock final : public Clock {
 public:
  Millis Now() override;
  Millis LocalWallNow() override;
  Millis UtcWallNow() override;
  bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Millis deadline,
                 const std::function<bool()>& ready) override;
  bool WaitAtMost(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Millis deadline, Millis realTime,
                  const std::function<bool()>& ready) override;
  void Kick() override;

 private:
  detail::WaiterSet waiters_;
};

// A clock that moves only when told. With auto-advance on, a wait that would
// block for time moves the clock straight to its deadline instead, which lets
// single-threaded code that sleeps run through its waits at once.
// Advance, the setters and Kick wake every waiter; call them while holding no
// mutex that a waiter waits with.
class ManualClock final : public Clock {
 public:
  // Local wall time 2026-01-05 09:00 (a Monday) unless set otherwise.
  ManualClock();

  void Advance(Millis ms);
  void SetLocalWallTime(Millis localMsSince1970);
  // Sets the local wall time from calendar fields (month 1..12).
  void SetLocalDateTime(int year, int month, int day, int hour, int minute, int second = 0);
  void SetAutoAdvance(bool on);
  // Number of threads blocked in WaitUntil right now.
  int Waiters();

  Millis Now() override;
  Millis LocalWallNow() override;
  Millis UtcWallNow() override;
  bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Millis deadline,
                 const std::function<bool()>& ready) override;
  // Auto-advance moves the clock to `deadline` before real time counts.
  bool WaitAtMost(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Millis deadline, Millis realTime,
                  const std::function<bool()>& ready) override;
  void Kick() override;

 private:
  bool Wait(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Millis deadline,
            const std::optional<std::chrono::steady_clock::time_point>& realEnd, const std::function<bool()>& ready);

  std::mutex mutex_;  // guards the three values below
  Millis now_ = 0;
  Millis wallAtZero_ = 0;
  bool autoAdvance_ = false;
  detail::WaiterSet waiters_;
};

// Installs a clock for the life of the guard (tests).
class ScopedClock {
 public:
  explicit ScopedClock(Clock& clock) { InstallClock(&clock); }
  ~ScopedClock() { InstallClock(nullptr); }
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;
};

}  // namespace platform

// The kernel calls of the desktop API, on the installed clock.
void Sleep(DWORD milliseconds);
DWORD GetTickCount();

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;      // 1..12
  WORD wDayOfWeek;  // 0 Sunday .. 6 Saturday
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};
void GetLocalTime(SYSTEMTIME* time);
void GetSystemTime(SYSTEMTIME* time);

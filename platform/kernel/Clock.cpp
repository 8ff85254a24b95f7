#include "platform/kernel/Clock.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

namespace platform {
namespace {

SystemClock& TheSystemClock() {
  // Never destroyed: a static object that ends after it (a page browser
  // closed at exit) still reads and kicks the clock.
  union Holder {
    Holder() : clock() {}
    ~Holder() {}
    SystemClock clock;
  };
  static Holder holder;
  return holder.clock;
}

std::atomic<Clock*> installed{nullptr};

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(int y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void BreakDown(Millis ms, SYSTEMTIME* t) {
  std::int64_t days = ms >= 0 ? ms / 86400000 : -((-ms + 86399999) / 86400000);
  Millis rest = ms - days * 86400000;
  // civil_from_days
  std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
  t->wYear = static_cast<WORD>(y);
  t->wMonth = static_cast<WORD>(m);
  t->wDay = static_cast<WORD>(d);
  // 1970-01-01 was a Thursday (4).
  t->wDayOfWeek = static_cast<WORD>(((days % 7) + 11) % 7);
  t->wHour = static_cast<WORD>(rest / 3600000);
  t->wMinute = static_cast<WORD>(rest / 60000 % 60);
  t->wSecond = static_cast<WORD>(rest / 1000 % 60);
  t->wMilliseconds = static_cast<WORD>(rest % 1000);
}

}  // namespace

Clock& TheClock() {
  Clock* c = installed.load(std::memory_order_acquire);
  return c ? *c : TheSystemClock();
}

void InstallClock(Clock* clock) { installed.store(clock, std::memory_order_release); }

// ---- WaiterSet ----

namespace detail {

void WaiterSet::Add(Entry& entry) {
  std::lock_guard<std::mutex> g(mutex_);
  entries_.push_back(&entry);
}

bool WaiterSet::Remove(Entry& entry, std::unique_lock<std::mutex>& lock) {
  std::unique_lock<std::mutex> g(mutex_);
  entries_.erase(std::find(entries_.begin(), entries_.end(), &entry));
  if (entry.busy == 0) return true;
  // A wake-up is on its way to our mutex; let it through before leaving.
  lock.unlock();
  released_.wait(g, [&entry] { return entry.busy == 0; });
  g.unlock();
  lock.lock();
  return false;
}

void WaiterSet::WakeAll() {
  std::vector<Entry*> copy;
  {
    std::lock_guard<std::mutex> g(mutex_);
    copy = entries_;
    for (Entry* e : copy) ++e->busy;
  }
  for (Entry* e : copy) {
    {
      // Taking the waiter's mutex closes the gap between its check and its wait.
      std::lock_guard<std::mutex> w(*e->mutex);
      e->cv->notify_all();
    }
    {
      std::lock_guard<std::mutex> g(mutex_);
      --e->busy;
    }
    released_.notify_all();
  }
}

int WaiterSet::Size() {
  std::lock_guard<std::mutex> g(mutex_);
  return static_cast<int>(entries_.size());
}

}  // namespace detail

// ---- SystemClock ----

Millis SystemClock::Now() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

Millis SystemClock::UtcWallNow() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

Millis SystemClock::LocalWallNow() {
  Millis utc = UtcWallNow();
  std::time_t secs = static_cast<std::time_t>(utc / 1000);
  std::tm local{};
  localtime_r(&secs, &local);
  return utc + static_cast<Millis>(local.tm_gmtoff) * 1000;
}

bool SystemClock::WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Millis deadline,
                            const std::function<bool()>& ready) {
  detail::WaiterSet::Entry entry{lock.mutex(), &cv};
  // The steady clock counts nanoseconds: a deadline beyond what they hold
  // (kForever among them) would overflow in the conversion.
  using Nanos = std::chrono::steady_clock::duration;
  constexpr Millis kLatest = std::chrono::duration_cast<std::chrono::milliseconds>(Nanos::max()).count();
  const auto until = std::chrono::steady_clock::time_point(std::chrono::milliseconds(std::min(deadline, kLatest)));
  for (;;) {
    waiters_.Add(entry);
    bool result;
    if (deadline == kForever) {
      cv.wait(lock, ready);
      result = true;
    } else {
      result = cv.wait_until(lock, until, ready);
    }
    if (waiters_.Remove(entry, lock)) return result;
    if (ready()) return true;
    if (deadline != kForever && Now() >= deadline) return false;
  }
}

bool SystemClock::WaitAtMost(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Millis deadline,
                             Millis realTime, const std::function<bool()>& ready) {
  return WaitUntil(lock, cv, std::min(deadline, Now() + realTime), ready);
}

void SystemClock::Kick() { waiters_.WakeAll(); }

// ---- ManualClock ----

ManualClock::ManualClock() { SetLocalDateTime(2026, 1, 5, 9, 0, 0); }

void ManualClock::Advance(Millis ms) {
  {
    std::lock_guard<std::mutex> g(mutex_);
    now_ += ms;
  }
  waiters_.WakeAll();
}

void ManualClock::SetLocalWallTime(Millis localMsSince1970) {
  {
    std::lock_guard<std::mutex> g(mutex_);
    wallAtZero_ = localMsSince1970 - now_;
  }
  waiters_.WakeAll();
}

void ManualClock::SetLocalDateTime(int year, int month, int day, int hour, int minute, int second) {
  Millis ms = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400000 +
              (hour * 3600 + minute * 60 + second) * 1000LL;
  SetLocalWallTime(ms);
}

void ManualClock::SetAutoAdvance(bool on) {
  {
    std::lock_guard<std::mutex> g(mutex_);
    autoAdvance_ = on;
  }
  waiters_.WakeAll();
}

int ManualClock::Waiters() { return waiters_.Size(); }

Millis ManualClock::Now() {
  std::lock_guard<std::mutex> g(mutex_);
  return now_;
}

Millis ManualClock::LocalWallNow() {
  std::lock_guard<std::mutex> g(mutex_);
  return wallAtZero_ + now_;
}

// The manual clock keeps no time zone: its wall clock is UTC and local at once.
Millis ManualClock::UtcWallNow() { return LocalWallNow(); }

bool ManualClock::WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Millis deadline,
                            const std::function<bool()>& ready) {
  return Wait(lock, cv, deadline, std::nullopt, ready);
}

bool ManualClock::WaitAtMost(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Millis deadline,
                             Millis realTime, const std::function<bool()>& ready) {
  return Wait(lock, cv, deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(realTime), ready);
}

bool ManualClock::Wait(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Millis deadline,
                       const std::optional<std::chrono::steady_clock::time_point>& realEnd,
                       const std::function<bool()>& ready) {
  auto realTimeOver = [&realEnd] { return realEnd && std::chrono::steady_clock::now() >= *realEnd; };
  detail::WaiterSet::Entry entry{lock.mutex(), &cv};
  for (;;) {
    waiters_.Add(entry);
    bool result = false;
    for (;;) {
      if (ready()) {
        result = true;
        break;
      }
      bool jump = false;
      {
        std::lock_guard<std::mutex> g(mutex_);
        if (deadline != kForever && now_ >= deadline) break;
        if (autoAdvance_ && deadline != kForever) {
          now_ = deadline;
          jump = true;
        }
      }
      if (jump) {
        // Other waiters may have deadlines that just passed. Release our own
        // lock while waking them, as a waiter may share it.
        lock.unlock();
        waiters_.WakeAll();
        lock.lock();
        continue;
      }
      if (!realEnd) {
        cv.wait(lock);
        continue;
      }
      cv.wait_until(lock, *realEnd);
      if (realTimeOver()) break;
    }
    if (waiters_.Remove(entry, lock)) return result;
    if (ready()) return true;
    if ((deadline != kForever && Now() >= deadline) || realTimeOver()) return false;
  }
}

void ManualClock::Kick() { waiters_.WakeAll(); }

void WaitForOthers(Millis ms) {
  static thread_local std::mutex m;
  static thread_local std::condition_variable cv;
  Clock& clock = TheClock();
  std::unique_lock<std::mutex> lock(m);
  clock.WaitAtMost(lock, cv, clock.Now() + ms, ms, [] { return false; });
}

}  // namespace platform

void Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    std::this_thread::yield();
    return;
  }
  static thread_local std::mutex m;
  static thread_local std::condition_variable cv;
  auto& clock = platform::TheClock();
  std::unique_lock<std::mutex> lock(m);
  platform::Millis deadline =
      milliseconds == INFINITE ? platform::kForever : clock.Now() + static_cast<platform::Millis>(milliseconds);
  clock.WaitUntil(lock, cv, deadline, [] { return false; });
}

DWORD GetTickCount() { return static_cast<DWORD>(platform::TheClock().Now()); }

void GetLocalTime(SYSTEMTIME* time) { platform::BreakDown(platform::TheClock().LocalWallNow(), time); }

void GetSystemTime(SYSTEMTIME* time) { platform::BreakDown(platform::TheClock().UtcWallNow(), time); }

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/kernel/Clock.h"
#include "platform/kernel/Sync.h"
#include "tests/platform/kernel/KernelTestSupport.h"

namespace platform {
namespace {

using test::AwaitWaiters;
using test::Finish;

class ManualClockTest : public test::ManualClockFixture {};

TEST_F(ManualClockTest, AdvanceMovesMonotonicAndWallTime) {
  const Millis wall = clock.LocalWallNow();
  clock.Advance(1500);
  EXPECT_EQ(clock.Now(), 1500);
  EXPECT_EQ(GetTickCount(), 1500u);
  EXPECT_EQ(clock.LocalWallNow(), wall + 1500);
}

TEST_F(ManualClockTest, GetLocalTimeGivesDateAndWeekday) {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  EXPECT_EQ(t.wYear, 2026);
  EXPECT_EQ(t.wMonth, 1);
  EXPECT_EQ(t.wDay, 5);
  EXPECT_EQ(t.wDayOfWeek, 1);  // Monday
  EXPECT_EQ(t.wHour, 9);

  clock.SetLocalDateTime(2024, 2, 29, 13, 45, 10);
  GetLocalTime(&t);
  EXPECT_EQ(t.wMonth, 2);
  EXPECT_EQ(t.wDay, 29);
  EXPECT_EQ(t.wDayOfWeek, 4);  // Thursday
  EXPECT_EQ(t.wHour, 13);
  EXPECT_EQ(t.wMinute, 45);
  EXPECT_EQ(t.wSecond, 10);

  clock.SetLocalDateTime(2023, 12, 31, 23, 59, 59);  // a Sunday
  GetLocalTime(&t);
  EXPECT_EQ(t.wDayOfWeek, 0);
  clock.Advance(1500);
  GetLocalTime(&t);
  EXPECT_EQ(t.wYear, 2024);
  EXPECT_EQ(t.wMonth, 1);
  EXPECT_EQ(t.wDay, 1);
  EXPECT_EQ(t.wDayOfWeek, 1);
  EXPECT_EQ(t.wSecond, 0);
  EXPECT_EQ(t.wMilliseconds, 500);
}

TEST_F(ManualClockTest, AutoAdvanceLetsSleepPassAtOnce) {
  clock.SetAutoAdvance(true);
  Sleep(5000);
  EXPECT_EQ(clock.Now(), 5000);
  Sleep(0);
  EXPECT_EQ(clock.Now(), 5000);
}

TEST_F(ManualClockTest, SleepersWakeInTurnAsTheClockPassesTheirDeadlines) {
  std::vector<Millis> wokeAt(4, -1);
  std::vector<UniqueHandle> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back(CreateThread([&, i]() -> DWORD {
      Sleep(static_cast<DWORD>(100 * (i + 1)));
      wokeAt[static_cast<std::size_t>(i)] = clock.Now();
      return 0;
    }));
  }
  ASSERT_TRUE(AwaitWaiters(clock, 4));
  for (int step = 0; step < 4; ++step) {
    clock.Advance(100);
    // The sleeper whose deadline was just reached ends; the others keep waiting.
    Finish(threads[static_cast<std::size_t>(step)].Get());
    EXPECT_EQ(wokeAt[static_cast<std::size_t>(step)], 100 * (step + 1));
  }
}

TEST_F(ManualClockTest, NoWakeUpIsLostWhenAdvanceRacesTheWait) {
  for (int round = 0; round < 300; ++round) {
    UniqueHandle sleeper(CreateThread([]() -> DWORD {
      Sleep(10);
      return 0;
    }));
    ASSERT_TRUE(AwaitWaiters(clock, 1));
    clock.Advance(10);
    Finish(sleeper.Get());  // hangs if the wake-up was lost
  }
  EXPECT_EQ(clock.Now(), 3000);
}

TEST_F(ManualClockTest, KickMakesWaitersLookAtTheirConditionAgain) {
  std::mutex m;
  std::condition_variable cv;
  std::atomic<bool> flag{false};
  UniqueHandle waiter(CreateThread([&]() -> DWORD {
    std::unique_lock<std::mutex> lock(m);
    return clock.WaitUntil(lock, cv, kForever, [&] { return flag.load(); }) ? 1 : 0;
  }));
  ASSERT_TRUE(AwaitWaiters(clock, 1));
  flag = true;  // set without notifying: only the kick wakes the waiter
  clock.Kick();
  EXPECT_EQ(Finish(waiter.Get()), 1u);
}

// A wait for another thread or process ends after its real time also when
// the clock stands still, or would never get there; auto-advance still moves
// a manual clock to the deadline first.
TEST_F(ManualClockTest, WaitAtMostEndsInRealTimeWhateverTheClockSays) {
  std::mutex m;
  std::condition_variable cv;
  SystemClock system;
  for (Clock* each : {static_cast<Clock*>(&clock), static_cast<Clock*>(&system)}) {
    std::unique_lock<std::mutex> lock(m);
    EXPECT_FALSE(each->WaitAtMost(lock, cv, kForever, 1, [] { return false; }));
  }
  EXPECT_EQ(clock.Now(), 0);
  clock.SetAutoAdvance(true);
  WaitForOthers(500);
  EXPECT_EQ(clock.Now(), 500);
}

}  // namespace
}  // namespace platform

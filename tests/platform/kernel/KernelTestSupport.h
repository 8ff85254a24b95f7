// Helpers for tests that drive several threads on a ManualClock.
#pragma once

#include <gtest/gtest.h>

#include <thread>

#include "platform/kernel/Clock.h"
#include "platform/kernel/Sync.h"

namespace platform::test {

// Yields until `clock` has at least `count` threads blocked in a wait; false if
// that never happens.
inline bool AwaitWaiters(ManualClock& clock, int count) {
  for (long i = 0; i < 50'000'000; ++i) {
    if (clock.Waiters() >= count) return true;
    std::this_thread::yield();
  }
  return false;
}

// Waits for a thread to end (the manual clock never has to move for that) and
// returns its exit code.
inline DWORD Finish(HANDLE thread) {
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  return code;
}

// Each test runs on its own manual clock.
class ManualClockFixture : public ::testing::Test {
 protected:
  ManualClock clock;
  ScopedClock installed{clock};
};

}  // namespace platform::test

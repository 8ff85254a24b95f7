#include <gtest/gtest.h>

#include <vector>

#include "platform/kernel/Messages.h"
#include "platform/kernel/Sync.h"
#include "tests/platform/kernel/KernelTestSupport.h"

namespace platform {
namespace {

using test::AwaitWaiters;
using test::Finish;

std::vector<std::pair<HWND, UINT_PTR>> procCalls;

void RecordTimerProc(HWND hwnd, UINT message, UINT_PTR id, DWORD) {
  if (message == WM_TIMER) procCalls.emplace_back(hwnd, id);
}

class TimerTest : public test::ManualClockFixture {
 protected:
  void SetUp() override {
    procCalls.clear();
    window = CreateWindowHandle([this](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
      if (message == WM_TIMER) fired.push_back(wParam);
      return 0;
    });
  }
  void TearDown() override {
    DestroyWindow(window);
    PumpMessages();
  }
  // Moves the clock and returns the ids of the timers that fired.
  std::vector<UINT_PTR> AdvanceAndPump(Millis ms) {
    fired.clear();
    clock.Advance(ms);
    PumpMessages();
    return fired;
  }

  HWND window = nullptr;
  std::vector<UINT_PTR> fired;
};

using Ids = std::vector<UINT_PTR>;

TEST_F(TimerTest, FiresOncePerPeriodOnTheClock) {
  ASSERT_EQ(SetTimer(window, 1, 500), 1u);
  EXPECT_EQ(AdvanceAndPump(0), Ids{});
  EXPECT_EQ(AdvanceAndPump(499), Ids{});
  EXPECT_EQ(AdvanceAndPump(1), Ids{1});
  EXPECT_EQ(AdvanceAndPump(0), Ids{});
  EXPECT_EQ(AdvanceAndPump(500), Ids{1});
}

TEST_F(TimerTest, TimersFireInOrderOfDueTime) {
  SetTimer(window, 1, 500);
  SetTimer(window, 2, 300);
  EXPECT_EQ(AdvanceAndPump(300), Ids{2});
  EXPECT_EQ(AdvanceAndPump(200), Ids{1});
  EXPECT_EQ(AdvanceAndPump(100), Ids{2});
}

TEST_F(TimerTest, OverdueTimersFireOnceEachInDueOrder) {
  SetTimer(window, 1, 500);
  SetTimer(window, 2, 300);
  SetTimer(window, 3, 400);
  EXPECT_EQ(AdvanceAndPump(1000), (Ids{2, 3, 1}));
  // Due again at their next multiples: 2 and 3 at 1200 (in the order set), 1 at 1500.
  EXPECT_EQ(AdvanceAndPump(199), Ids{});
  EXPECT_EQ(AdvanceAndPump(1), (Ids{2, 3}));
  EXPECT_EQ(AdvanceAndPump(300), (Ids{1, 2}));
}

TEST_F(TimerTest, SettingAnIdAgainRestartsIt) {
  SetTimer(window, 1, 500);
  EXPECT_EQ(AdvanceAndPump(400), Ids{});
  SetTimer(window, 1, 500);
  EXPECT_EQ(AdvanceAndPump(100), Ids{});  // the first start would have fired here
  EXPECT_EQ(AdvanceAndPump(399), Ids{});
  EXPECT_EQ(AdvanceAndPump(1), Ids{1});
  SetTimer(window, 1, 200);  // and with a new period
  EXPECT_EQ(AdvanceAndPump(200), Ids{1});
}

TEST_F(TimerTest, KillTimerStopsIt) {
  SetTimer(window, 4, 100);
  EXPECT_EQ(AdvanceAndPump(100), Ids{4});
  EXPECT_TRUE(KillTimer(window, 4));
  EXPECT_EQ(AdvanceAndPump(1000), Ids{});
  EXPECT_FALSE(KillTimer(window, 4));
}

TEST_F(TimerTest, DestroyedWindowsLoseTheirTimers) {
  SetTimer(window, 1, 100);
  DestroyWindow(window);
  EXPECT_EQ(AdvanceAndPump(1000), Ids{});
  EXPECT_EQ(SetTimer(window, 1, 100), 0u);
}

TEST_F(TimerTest, TimerProcIsCalledInsteadOfTheWindow) {
  SetTimer(window, 5, 100, &RecordTimerProc);
  EXPECT_EQ(AdvanceAndPump(100), Ids{});
  ASSERT_EQ(procCalls.size(), 1u);
  EXPECT_EQ(procCalls[0], std::make_pair(window, UINT_PTR{5}));
}

TEST_F(TimerTest, ThreadTimersGetFreshIds) {
  UINT_PTR a = SetTimer(nullptr, 0, 100, &RecordTimerProc);
  UINT_PTR b = SetTimer(nullptr, 0, 100, &RecordTimerProc);
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  EXPECT_NE(a, b);
  EXPECT_TRUE(KillTimer(nullptr, b));
  AdvanceAndPump(100);
  ASSERT_EQ(procCalls.size(), 1u);
  EXPECT_EQ(procCalls[0], std::make_pair(HWND{nullptr}, a));
  EXPECT_TRUE(KillTimer(nullptr, a));
}

TEST_F(TimerTest, GetMessageSleepsUntilTheNextTimerIsDue) {
  Millis firedAt = -1;
  UniqueHandle loop(CreateThread([&]() -> DWORD {
    HWND w = CreateWindowHandle([&](HWND hwnd, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
      if (message == WM_TIMER) {
        firedAt = clock.Now();
        KillTimer(hwnd, wParam);
        PostQuitMessage(0);
      }
      return 0;
    });
    SetTimer(w, 1, 500);
    return static_cast<DWORD>(RunMessageLoop());
  }));
  ASSERT_TRUE(AwaitWaiters(clock, 1));
  clock.Advance(499);
  clock.Advance(1);
  Finish(loop.Get());
  EXPECT_EQ(firedAt, 500);
}

}  // namespace
}  // namespace platform

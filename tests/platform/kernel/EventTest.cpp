#include <gtest/gtest.h>

#include "platform/kernel/LastError.h"
#include "platform/kernel/Sync.h"
#include "tests/platform/kernel/KernelTestSupport.h"

namespace platform {
namespace {

using test::AwaitWaiters;
using test::Finish;

class EventTest : public test::ManualClockFixture {};

TEST_F(EventTest, NamedEventsAreSharedByNameAndManualResetStaysSignalled) {
  UniqueHandle first(CreateEvent(nullptr, TRUE, FALSE, "quitthread"));
  ASSERT_TRUE(first);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  UniqueHandle second(CreateEvent(nullptr, TRUE, FALSE, "quitthread"));
  ASSERT_TRUE(second);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_NE(first.Get(), second.Get());

  EXPECT_EQ(WaitForSingleObject(first.Get(), 0), WAIT_TIMEOUT);
  ASSERT_TRUE(SetEvent(second.Get()));
  EXPECT_EQ(WaitForSingleObject(first.Get(), 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(first.Get(), 0), WAIT_OBJECT_0);
  ASSERT_TRUE(ResetEvent(first.Get()));
  EXPECT_EQ(WaitForSingleObject(second.Get(), 0), WAIT_TIMEOUT);

  // Another name is another event.
  UniqueHandle other(CreateEvent(nullptr, TRUE, TRUE, "cleanupdone"));
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(WaitForSingleObject(first.Get(), 0), WAIT_TIMEOUT);

  // With its last handle closed the name is free again.
  SetEvent(first.Get());
  first.Reset();
  second.Reset();
  UniqueHandle again(CreateEvent(nullptr, TRUE, FALSE, "quitthread"));
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(WaitForSingleObject(again.Get(), 0), WAIT_TIMEOUT);
}

TEST_F(EventTest, AutoResetEventReleasesOneWait) {
  UniqueHandle event(CreateEvent(nullptr, FALSE, TRUE, nullptr));
  EXPECT_EQ(WaitForSingleObject(event.Get(), 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event.Get(), 0), WAIT_TIMEOUT);
}

TEST_F(EventTest, WaitTimesOutWhenTheClockPassesItsTimeOut) {
  UniqueHandle event(CreateEvent(nullptr, TRUE, FALSE, nullptr));
  Millis returnedAt = -1;
  UniqueHandle waiter(CreateThread([&]() -> DWORD {
    DWORD result = WaitForSingleObject(event.Get(), 1000);
    returnedAt = clock.Now();
    return result;
  }));
  ASSERT_TRUE(AwaitWaiters(clock, 1));
  clock.Advance(999);
  clock.Advance(1);
  EXPECT_EQ(Finish(waiter.Get()), WAIT_TIMEOUT);
  EXPECT_EQ(returnedAt, 1000);
}

TEST_F(EventTest, SetEventWakesAWaiterBeforeItsTimeOut) {
  UniqueHandle event(CreateEvent(nullptr, FALSE, FALSE, nullptr));
  UniqueHandle waiter(CreateThread([&]() -> DWORD { return WaitForSingleObject(event.Get(), 1000); }));
  ASSERT_TRUE(AwaitWaiters(clock, 1));
  SetEvent(event.Get());
  EXPECT_EQ(Finish(waiter.Get()), WAIT_OBJECT_0);
  EXPECT_EQ(clock.Now(), 0);
  EXPECT_EQ(WaitForSingleObject(event.Get(), 0), WAIT_TIMEOUT);  // the wait took the signal
}

TEST_F(EventTest, ATestThreadWaitEndsWhenAnotherThreadAdvancesTheClock) {
  UniqueHandle event(CreateEvent(nullptr, TRUE, FALSE, nullptr));
  UniqueHandle advancer(CreateThread([this]() -> DWORD {
    if (!AwaitWaiters(clock, 1)) return 1;
    clock.Advance(180000);
    return 0;
  }));
  EXPECT_EQ(WaitForSingleObject(event.Get(), 180000), WAIT_TIMEOUT);
  EXPECT_EQ(Finish(advancer.Get()), 0u);
}

TEST_F(EventTest, WaitForMultipleObjectsAnyOrAll) {
  UniqueHandle manual(CreateEvent(nullptr, TRUE, FALSE, nullptr));
  UniqueHandle automatic(CreateEvent(nullptr, FALSE, FALSE, nullptr));
  const HANDLE both[] = {manual.Get(), automatic.Get()};

  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_TIMEOUT);
  SetEvent(automatic.Get());
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_TIMEOUT);

  // Waiting for all takes nothing until all are signalled.
  SetEvent(automatic.Get());
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(automatic.Get(), 0), WAIT_OBJECT_0);
  SetEvent(automatic.Get());
  SetEvent(manual.Get());
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(automatic.Get(), 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(manual.Get(), 0), WAIT_OBJECT_0);
}

TEST_F(EventTest, SignalObjectAndWaitHandsOverInOneStep) {
  UniqueHandle quit(CreateEvent(nullptr, TRUE, FALSE, nullptr));
  UniqueHandle done(CreateEvent(nullptr, TRUE, FALSE, nullptr));
  UniqueHandle worker(CreateThread([&]() -> DWORD {
    WaitForSingleObject(quit.Get(), INFINITE);
    SetEvent(done.Get());
    return 0;
  }));
  EXPECT_EQ(SignalObjectAndWait(quit.Get(), done.Get(), 100000, FALSE), WAIT_OBJECT_0);
  Finish(worker.Get());
}

TEST_F(EventTest, BadHandlesFail) {
  HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(CloseHandle(event));
  EXPECT_FALSE(CloseHandle(event));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(SetEvent(event));
  EXPECT_EQ(WaitForMultipleObjects(0, &event, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
}  // namespace platform

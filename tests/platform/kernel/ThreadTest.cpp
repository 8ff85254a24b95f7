#include <gtest/gtest.h>

#include <atomic>

#include "platform/kernel/LastError.h"
#include "platform/kernel/Messages.h"
#include "platform/kernel/Sync.h"
#include "tests/platform/kernel/KernelTestSupport.h"

namespace platform {
namespace {

using test::Finish;

class ThreadTest : public test::ManualClockFixture {};

TEST_F(ThreadTest, ExitCodeIsStillActiveUntilTheBodyReturns) {
  UniqueHandle go(CreateEvent(nullptr, TRUE, FALSE, nullptr));
  UniqueHandle thread(CreateThread([&]() -> DWORD {
    WaitForSingleObject(go.Get(), INFINITE);
    return 42;
  }));
  ASSERT_TRUE(thread);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(thread.Get(), &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(thread.Get(), 0), WAIT_TIMEOUT);
  SetEvent(go.Get());
  EXPECT_EQ(Finish(thread.Get()), 42u);
  EXPECT_EQ(WaitForSingleObject(thread.Get(), 0), WAIT_OBJECT_0);  // stays signalled
}

TEST_F(ThreadTest, ThreadIdsAgree) {
  std::atomic<DWORD> inside{0};
  DWORD reported = 0;
  UniqueHandle thread(CreateThread(
      [&inside]() -> DWORD {
        inside = GetCurrentThreadId();
        return 0;
      },
      THREAD_PRIORITY_NORMAL, &reported));
  Finish(thread.Get());
  EXPECT_NE(reported, 0u);
  EXPECT_EQ(inside.load(), reported);
  EXPECT_EQ(GetThreadId(thread.Get()), reported);
  EXPECT_NE(reported, GetCurrentThreadId());
}

TEST_F(ThreadTest, PriorityIsKeptAndCanBeRaised) {
  UniqueHandle go(CreateEvent(nullptr, TRUE, FALSE, nullptr));
  UniqueHandle thread(CreateThread(
      [&]() -> DWORD {
        WaitForSingleObject(go.Get(), INFINITE);
        return 0;
      },
      THREAD_PRIORITY_LOWEST));
  ASSERT_TRUE(thread);
  EXPECT_EQ(GetThreadPriority(thread.Get()), THREAD_PRIORITY_LOWEST);
  // Raising it works even where the system refuses to raise the thread's weight.
  EXPECT_TRUE(SetThreadPriority(thread.Get(), THREAD_PRIORITY_HIGHEST));
  EXPECT_EQ(GetThreadPriority(thread.Get()), THREAD_PRIORITY_HIGHEST);
  EXPECT_FALSE(SetThreadPriority(thread.Get(), 7));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  SetEvent(go.Get());
  Finish(thread.Get());

  EXPECT_EQ(CreateThread([]() -> DWORD { return 0; }, 7), nullptr);
  EXPECT_EQ(GetThreadPriority(go.Get()), THREAD_PRIORITY_ERROR_RETURN);  // not a thread
}

TEST_F(ThreadTest, ClosingTheHandleLeavesTheThreadRunning) {
  UniqueHandle go(CreateEvent(nullptr, TRUE, FALSE, nullptr));
  UniqueHandle done(CreateEvent(nullptr, TRUE, FALSE, nullptr));
  HANDLE thread = CreateThread([&]() -> DWORD {
    WaitForSingleObject(go.Get(), INFINITE);
    SetEvent(done.Get());
    return 0;
  });
  ASSERT_TRUE(CloseHandle(thread));
  SetEvent(go.Get());
  EXPECT_EQ(WaitForSingleObject(done.Get(), INFINITE), WAIT_OBJECT_0);
  EXPECT_FALSE(GetExitCodeThread(thread, nullptr));
}

TEST_F(ThreadTest, UniqueHandleClosesWhatItOwns) {
  UniqueHandle owner(CreateEvent(nullptr, TRUE, FALSE, nullptr));
  HANDLE raw = owner.Get();
  UniqueHandle moved(std::move(owner));
  EXPECT_FALSE(owner);
  EXPECT_EQ(moved.Get(), raw);
  moved.Reset();
  EXPECT_FALSE(CloseHandle(raw));  // already closed
}

}  // namespace
}  // namespace platform

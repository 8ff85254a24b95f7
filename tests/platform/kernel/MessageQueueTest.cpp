#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "platform/kernel/LastError.h"
#include "platform/kernel/Messages.h"
#include "platform/kernel/Sync.h"
#include "tests/platform/kernel/KernelTestSupport.h"

namespace platform {
namespace {

using test::AwaitWaiters;
using test::Finish;

constexpr UINT WM_TEST = WM_APP + 1;

class MessageQueueTest : public test::ManualClockFixture {
 protected:
  void TearDown() override {
    for (HWND w : windows_) DestroyWindow(w);
    PumpMessages();
  }
  // A window of the test thread that records what reaches it.
  HWND RecordingWindow() {
    HWND w = CreateWindowHandle([this](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
      messages.push_back(message);
      params.push_back(wParam);
      return 0;
    });
    windows_.push_back(w);
    return w;
  }

  std::vector<UINT> messages;
  std::vector<WPARAM> params;

 private:
  std::vector<HWND> windows_;
};

TEST_F(MessageQueueTest, MessagesPostedFromAnotherThreadArriveOnceInOrder) {
  HWND w = RecordingWindow();
  constexpr int kCount = 1000;
  UniqueHandle poster(CreateThread([w]() -> DWORD {
    for (int i = 0; i < kCount; ++i) {
      if (!PostMessage(w, WM_TEST, static_cast<WPARAM>(i), 0)) return 1;
    }
    return 0;
  }));
  MSG msg{};
  while (params.size() < static_cast<std::size_t>(kCount)) {
    ASSERT_EQ(GetMessage(&msg, nullptr, 0, 0), TRUE);
    DispatchMessage(&msg);
  }
  EXPECT_EQ(Finish(poster.Get()), 0u);
  EXPECT_EQ(PumpMessages(), 0);
  ASSERT_EQ(params.size(), static_cast<std::size_t>(kCount));
  for (int i = 0; i < kCount; ++i) EXPECT_EQ(params[static_cast<std::size_t>(i)], static_cast<WPARAM>(i));
}

TEST_F(MessageQueueTest, MessagesToADestroyedWindowAreDropped) {
  HWND w = RecordingWindow();
  ASSERT_TRUE(PostMessage(w, WM_TEST, 1, 0));
  ASSERT_TRUE(PostMessage(w, WM_TEST, 2, 0));
  ASSERT_TRUE(DestroyWindow(w));
  EXPECT_EQ(messages, std::vector<UINT>{WM_DESTROY});
  EXPECT_EQ(PumpMessages(), 0);
  EXPECT_EQ(messages.size(), 1u);

  EXPECT_FALSE(IsWindow(w));
  EXPECT_FALSE(PostMessage(w, WM_TEST, 3, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_EQ(SendMessage(w, WM_TEST, 4, 0), 0);
  EXPECT_FALSE(DestroyWindow(w));
  EXPECT_EQ(PumpMessages(), 0);
  EXPECT_EQ(messages.size(), 1u);
  EXPECT_NE(RecordingWindow(), w);  // handles are never reused
}

TEST_F(MessageQueueTest, OnlyTheOwnerThreadDestroysAWindow) {
  HWND w = RecordingWindow();
  UniqueHandle other(CreateThread([w]() -> DWORD { return DestroyWindow(w) ? 1 : GetLastError(); }));
  EXPECT_EQ(Finish(other.Get()), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(IsWindow(w));
}

TEST_F(MessageQueueTest, WindowsDieWithTheirThread) {
  HWND w = nullptr;
  UniqueHandle owner(CreateThread([&w]() -> DWORD {
    w = CreateWindowHandle([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
    return 0;
  }));
  Finish(owner.Get());
  ASSERT_NE(w, nullptr);
  EXPECT_FALSE(IsWindow(w));
  EXPECT_FALSE(PostMessage(w, WM_TEST, 0, 0));
}

TEST_F(MessageQueueTest, PostThreadCallRunsOnTheTargetThread) {
  UniqueHandle ready(CreateEvent(nullptr, TRUE, FALSE, nullptr));
  DWORD workerId = 0;
  UniqueHandle worker(CreateThread(
      [&]() -> DWORD {
        EnsureMessageQueue();
        SetEvent(ready.Get());
        return static_cast<DWORD>(RunMessageLoop());
      },
      THREAD_PRIORITY_NORMAL, &workerId));
  ASSERT_EQ(WaitForSingleObject(ready.Get(), INFINITE), WAIT_OBJECT_0);

  std::atomic<DWORD> ranOn{0};
  ASSERT_TRUE(PostThreadCall(workerId, [&ranOn] {
    ranOn = GetCurrentThreadId();
    PostQuitMessage(3);
  }));
  EXPECT_EQ(Finish(worker.Get()), 3u);
  EXPECT_EQ(ranOn.load(), workerId);
  EXPECT_NE(ranOn.load(), GetCurrentThreadId());
  // The thread is gone, and its queue with it.
  EXPECT_FALSE(PostThreadCall(workerId, [] {}));
  EXPECT_FALSE(PostThreadMessage(workerId, WM_TEST, 0, 0));
}

TEST_F(MessageQueueTest, SendMessageWakesAnOwnerBlockedInGetMessage) {
  UniqueHandle ready(CreateEvent(nullptr, TRUE, FALSE, nullptr));
  HWND w = nullptr;
  std::atomic<DWORD> handledOn{0};
  DWORD ownerId = 0;
  UniqueHandle owner(CreateThread(
      [&]() -> DWORD {
        w = CreateWindowHandle([&](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
          handledOn = GetCurrentThreadId();
          if (message == WM_CLOSE) PostQuitMessage(7);
          return static_cast<LRESULT>(wParam * 2);
        });
        SetEvent(ready.Get());
        return static_cast<DWORD>(RunMessageLoop());
      },
      THREAD_PRIORITY_NORMAL, &ownerId));
  ASSERT_EQ(WaitForSingleObject(ready.Get(), INFINITE), WAIT_OBJECT_0);
  ASSERT_TRUE(AwaitWaiters(clock, 1));  // the owner sits in GetMessage

  EXPECT_EQ(SendMessage(w, WM_TEST, 21, 0), 42);
  EXPECT_EQ(handledOn.load(), ownerId);
  EXPECT_EQ(SendMessage(w, WM_CLOSE, 0, 0), 0);
  EXPECT_EQ(Finish(owner.Get()), 7u);
}

TEST_F(MessageQueueTest, ASenderAnswersMessagesSentBackToIt) {
  HWND mine = CreateWindowHandle([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 5; });
  UniqueHandle ready(CreateEvent(nullptr, TRUE, FALSE, nullptr));
  HWND theirs = nullptr;
  UniqueHandle other(CreateThread([&]() -> DWORD {
    theirs = CreateWindowHandle([mine](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
      if (message == WM_CLOSE) {
        PostQuitMessage(0);
        return 0;
      }
      return SendMessage(mine, WM_TEST, 0, 0) + 1;  // back to the thread that is waiting on us
    });
    SetEvent(ready.Get());
    return static_cast<DWORD>(RunMessageLoop());
  }));
  ASSERT_EQ(WaitForSingleObject(ready.Get(), INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(SendMessage(theirs, WM_TEST, 0, 0), 6);
  SendMessage(theirs, WM_CLOSE, 0, 0);
  Finish(other.Get());
  DestroyWindow(mine);
}

TEST_F(MessageQueueTest, QuitComesAfterPostedMessagesAndPumpLeavesIt) {
  HWND w = RecordingWindow();
  ASSERT_TRUE(PostMessage(w, WM_TEST, 1, 0));
  PostQuitMessage(3);
  EXPECT_EQ(PumpMessages(), 1);
  EXPECT_EQ(params, std::vector<WPARAM>{1});
  MSG msg{};
  EXPECT_EQ(GetMessage(&msg, nullptr, 0, 0), FALSE);
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(msg.wParam, 3u);
  EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessageQueueTest, PeekMessageFiltersAndKeepsWithoutRemove) {
  HWND w = RecordingWindow();
  ASSERT_TRUE(PostMessage(w, WM_TEST, 1, 0));
  ASSERT_TRUE(PostMessage(w, WM_TEST + 4, 2, 0));
  ASSERT_TRUE(PostMessage(nullptr, WM_TEST, 3, 0));  // a thread message
  MSG msg{};
  ASSERT_TRUE(PeekMessage(&msg, nullptr, WM_TEST + 4, WM_TEST + 4, PM_NOREMOVE));
  EXPECT_EQ(msg.wParam, 2u);
  ASSERT_TRUE(PeekMessage(&msg, nullptr, WM_TEST + 4, WM_TEST + 4, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 2u);
  EXPECT_FALSE(PeekMessage(&msg, nullptr, WM_TEST + 4, WM_TEST + 4, PM_REMOVE));
  ASSERT_TRUE(PeekMessage(&msg, reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1)), 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.hwnd, nullptr);
  EXPECT_EQ(msg.wParam, 3u);
  ASSERT_TRUE(PeekMessage(&msg, w, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 1u);
  EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
}

}  // namespace
}  // namespace platform

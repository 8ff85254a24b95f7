// The ending signals become a call on the program's thread, between its
// messages, instead of ending the process.
#include "platform/kernel/Signals.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/kernel/Messages.h"

namespace {

TEST(SignalsTest, EachEndingSignalIsACallOnTheProgramsThread) {
  platform::EnsureMessageQueue();
  std::vector<int> heard;
  std::vector<DWORD> threads;
  ASSERT_TRUE(platform::EndOnSignals(GetCurrentThreadId(), [&](int signal) {
    heard.push_back(signal);
    threads.push_back(GetCurrentThreadId());
  }));
  // Once only.
  EXPECT_FALSE(platform::EndOnSignals(GetCurrentThreadId(), [](int) {}));

  // The first signal asks; the process goes on to hear it from its loop.
  ASSERT_EQ(::kill(::getpid(), SIGHUP), 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (heard.empty() && std::chrono::steady_clock::now() < deadline) {
    if (platform::PumpMessages() == 0) std::this_thread::yield();  // the waiting thread at work
  }
  ASSERT_EQ(heard, std::vector<int>{SIGHUP});
  EXPECT_EQ(threads.front(), GetCurrentThreadId());
}

}  // namespace

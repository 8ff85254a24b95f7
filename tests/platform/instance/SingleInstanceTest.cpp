// The single-instance layer within one process: two objects of one name
// lock one file as two copies of a program would.
#include "platform/instance/SingleInstance.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/kernel/Clock.h"
#include "platform/kernel/Messages.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"

namespace {

using zorva_test::ScopedEnv;

class SingleInstanceTest : public ::testing::Test {
 protected:
  SingleInstanceTest() { clock_.SetAutoAdvance(true); }

  std::vector<std::string> Heard() {
    platform::PumpMessages();
    return heard_;
  }
  platform::SingleInstance::MessageHandler Recorder() {
    return [this](const std::string& message) { heard_.push_back(message); };
  }

  zorva_test::TempFolder runtime_;
  ScopedEnv runtimeDir_{"XDG_RUNTIME_DIR", runtime_.Path()};
  platform::ManualClock clock_;
  platform::ScopedClock scopedClock_{clock_};
  std::vector<std::string> heard_;
};

TEST_F(SingleInstanceTest, OneCopyHoldsTheLockAndHearsTheLaterCopiesOnceItListens) {
  platform::SingleInstance first("zorva");
  platform::SingleInstance second("zorva");
  platform::SingleInstance other("vantrel");
  ASSERT_TRUE(first.TryLock());
  EXPECT_FALSE(second.TryLock());
  EXPECT_TRUE(other.TryLock());  // another program has a lock of its own
  EXPECT_EQ(first.LockPath(), runtime_.Path() + "/zorva.lock");

  // Not listening yet: the later copy tries as often as it is told, then gives up.
  const platform::Millis before = clock_.Now();
  EXPECT_FALSE(second.SendToRunning("lab", 3, 2000));
  EXPECT_EQ(clock_.Now() - before, 6000);

  ASSERT_TRUE(first.Listen(Recorder()));
  EXPECT_TRUE(second.SendToRunning("lab", 100, 2000));
  EXPECT_TRUE(second.SendToRunning("show", 1, 2000));
  EXPECT_EQ(Heard(), (std::vector<std::string>{"lab", "show"}));
}

TEST_F(SingleInstanceTest, MessagesThatAreNoShortLineAreRefusedBeforeAnythingIsSent) {
  platform::SingleInstance first("zorva");
  ASSERT_TRUE(first.TryLock());
  ASSERT_TRUE(first.Listen(Recorder()));
  platform::SingleInstance second("zorva");
  for (const std::string& bad : {std::string(65, 'x'), std::string("lab\nshow")})
    EXPECT_FALSE(second.SendToRunning(bad, 1, 2000)) << bad;
  EXPECT_TRUE(second.SendToRunning(std::string(64, 'x'), 1, 2000));
  EXPECT_EQ(Heard(), std::vector<std::string>{std::string(64, 'x')});
}

TEST_F(SingleInstanceTest, WhenTheRunningCopyEndsTheNextOneStopsWaitingAndMayRun) {
  platform::SingleInstance second("zorva");
  {
    platform::SingleInstance first("zorva");
    ASSERT_TRUE(first.TryLock());
    ASSERT_TRUE(first.Listen(Recorder()));
    ASSERT_FALSE(second.TryLock());
  }
  const platform::Millis before = clock_.Now();
  EXPECT_FALSE(second.SendToRunning("lab", 100, 2000));
  EXPECT_EQ(clock_.Now(), before);  // nothing left to wait for
  EXPECT_TRUE(second.TryLock());
  // A socket file a former copy left does not stop the new one listening.
  std::ofstream(second.SocketPath()) << "stale";
  ASSERT_TRUE(second.Listen(Recorder()));
  platform::SingleInstance third("zorva");
  EXPECT_TRUE(third.SendToRunning("show", 1, 2000));
  EXPECT_EQ(Heard(), std::vector<std::string>{"show"});
}

}  // namespace

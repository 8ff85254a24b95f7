#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "platform/kernel/Messages.h"
#include "platform/kernel/Sync.h"
#include "tests/platform/kernel/KernelTestSupport.h"

namespace platform {
namespace {

TEST(RegisterWindowMessageTest, SameNameInAnyCaseGivesTheSameId) {
  UINT showLab = RegisterWindowMessage("SHOW_LAB_MSG");
  EXPECT_GE(showLab, 0xC000u);
  EXPECT_LE(showLab, 0xFFFFu);
  EXPECT_EQ(RegisterWindowMessage("show_lab_msg"), showLab);
  EXPECT_EQ(RegisterWindowMessage("Show_Lab_Msg"), showLab);
  UINT closePlayer = RegisterWindowMessage("CLOSE_PLAYER_MSG");
  EXPECT_GE(closePlayer, 0xC000u);
  EXPECT_NE(closePlayer, showLab);
}

TEST(RegisterWindowMessageTest, EmptyNameGivesZero) {
  EXPECT_EQ(RegisterWindowMessage(""), 0u);
  EXPECT_EQ(RegisterWindowMessage(nullptr), 0u);
}

TEST(RegisterWindowMessageTest, ThreadsRegisteringTogetherAgree) {
  std::vector<UINT> ids(4, 0);
  std::vector<UniqueHandle> threads;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    threads.emplace_back(CreateThread([&ids, i]() -> DWORD {
      ids[i] = RegisterWindowMessage(i % 2 ? "TaskbarCreated" : "TASKBARCREATED");
      return 0;
    }));
  }
  for (auto& t : threads) test::Finish(t.Get());
  for (UINT id : ids) EXPECT_EQ(id, ids[0]);
  EXPECT_GE(ids[0], 0xC000u);
}

}  // namespace
}  // namespace platform

#include "platform/kernel/UniqueFd.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <utility>

namespace {

bool IsOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

enum class Step { Leave, MoveConstruct, MoveAssign, Release };

class UniqueFdTest : public ::testing::TestWithParam<Step> {};

TEST_P(UniqueFdTest, ClosesOnceWhereItsOwnerEnds) {
  int raw = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(raw, 0);
  platform::UniqueFd moved;
  {
    platform::UniqueFd fd(raw);
    EXPECT_TRUE(fd.IsDefined());
    EXPECT_EQ(fd.Get(), raw);
    switch (GetParam()) {
      case Step::Leave:
        break;
      case Step::MoveConstruct: {
        platform::UniqueFd other(std::move(fd));
        EXPECT_FALSE(fd.IsDefined());
        moved = std::move(other);
        break;
      }
      case Step::MoveAssign:
        moved = std::move(fd);
        EXPECT_FALSE(fd.IsDefined());
        break;
      case Step::Release:
        EXPECT_EQ(fd.Release(), raw);
        EXPECT_FALSE(fd.IsDefined());
        break;
    }
  }
  const bool kept = GetParam() != Step::Leave;
  EXPECT_EQ(IsOpen(raw), kept);
  if (GetParam() == Step::Release) {
    EXPECT_EQ(::close(raw), 0);
  } else if (kept) {
    EXPECT_EQ(moved.Get(), raw);
    EXPECT_EQ(moved.Reset(), 0);
    EXPECT_FALSE(IsOpen(raw));
    EXPECT_FALSE(moved.IsDefined());
  }
}

INSTANTIATE_TEST_SUITE_P(Steps, UniqueFdTest,
                         ::testing::Values(Step::Leave, Step::MoveConstruct, Step::MoveAssign, Step::Release));

}  // namespace

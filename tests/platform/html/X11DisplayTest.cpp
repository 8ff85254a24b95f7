// gtest first: Xlib's macros (None, Bool) would break its headers.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/html/X11Display.h"

namespace {

int theNoted = 0;

int Note(Display*, XErrorEvent*) {
  ++theNoted;
  return 0;
}

// The process's handler now (setting one gives the one it replaces).
XErrorHandler Current() {
  const XErrorHandler now = XSetErrorHandler(nullptr);
  XSetErrorHandler(now);
  return now;
}

// Scopes that overlap (the connections' threads) end in any order; the one
// handler stays, so no thread can put back one that ends the program while
// another still counts on errors being ignored.
class IgnoredErrorsTest : public ::testing::TestWithParam<std::vector<int>> {};

TEST_P(IgnoredErrorsTest, ErrorsAreIgnoredWhileAnyScopeLivesAndANotedConnectionAlwaysHearsItsOwn) {
  auto* const noted = reinterpret_cast<Display*>(0x10);
  auto* const other = reinterpret_cast<Display*>(0x20);
  platform::x11::NoteErrorsOf(noted, Note);
  const XErrorHandler handler = Current();
  ASSERT_NE(handler, nullptr);
  std::optional<platform::x11::IgnoredErrors> scopes[3];
  for (auto& scope : scopes) scope.emplace();
  theNoted = 0;
  XErrorEvent error{};
  for (int i : GetParam()) {
    EXPECT_EQ(Current(), handler);
    EXPECT_EQ(handler(other, &error), 0);
    EXPECT_EQ(theNoted, 0);
    scopes[i].reset();
  }
  EXPECT_EQ(Current(), handler);
  EXPECT_EQ(handler(noted, &error), 0);
  EXPECT_EQ(theNoted, 1);
}

INSTANTIATE_TEST_SUITE_P(EndOrders, IgnoredErrorsTest,
                         ::testing::Values(std::vector<int>{2, 1, 0}, std::vector<int>{0, 1, 2},
                                           std::vector<int>{1, 0, 2}),
                         [](const ::testing::TestParamInfo<std::vector<int>>& ending) {
                           std::string name = "Ending";
                           for (int i : ending.param) name += std::to_string(i);
                           return name;
                         });

}  // namespace

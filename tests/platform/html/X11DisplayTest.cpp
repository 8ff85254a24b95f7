// gtest first: Xlib's macros (None, Bool) would break its headers.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/html/X11Display.h"

namespace {

int theBeforeCalls = 0;

int Before(Display*, XErrorEvent*) {
  ++theBeforeCalls;
  return 0;
}

// The process's handler now (setting one gives the one it replaces).
XErrorHandler Current() {
  const XErrorHandler now = XSetErrorHandler(Before);
  XSetErrorHandler(now);
  return now;
}

// Scopes that overlap (the connections' threads) end in any order.
class IgnoredErrorsTest : public ::testing::TestWithParam<std::vector<int>> {};

TEST_P(IgnoredErrorsTest, ErrorsAreIgnoredUntilTheLastScopeEndsAndTheHandlerBeforeIsBack) {
  XSetErrorHandler(Before);
  theBeforeCalls = 0;
  std::optional<platform::x11::IgnoredErrors> scopes[3];
  for (auto& scope : scopes) scope.emplace();
  const std::vector<int>& order = GetParam();
  for (std::size_t i = 0; i < order.size(); ++i) {
    const XErrorHandler handler = Current();
    ASSERT_NE(handler, nullptr);
    ASSERT_NE(handler, &Before);
    XErrorEvent error{};
    error.type = 0;
    EXPECT_EQ(handler(nullptr, &error), 0);
    EXPECT_EQ(theBeforeCalls, 0);
    scopes[order[i]].reset();
  }
  EXPECT_EQ(Current(), &Before);
  XSetErrorHandler(nullptr);
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

#include "platform/kernel/Log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace {

struct LogCase {
  const char* name;
  const char* setting;  // null: unset
  bool throwsInt;
  std::string expected;
};

class LogTest : public ::testing::TestWithParam<LogCase> {
 protected:
  void TearDown() override { ::unsetenv("ZORVA_LOG"); }
};

TEST_P(LogTest, WritesOneLineOnlyWhenOn) {
  const LogCase& c = GetParam();
  if (c.setting) {
    ::setenv("ZORVA_LOG", c.setting, 1);
  } else {
    ::unsetenv("ZORVA_LOG");
  }
  ::testing::internal::CaptureStderr();
  try {
    if (c.throwsInt) throw 7;
    throw std::runtime_error("gone");
  } catch (...) {
    platform::LogFailure("poll");
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, LogTest,
                         ::testing::Values(LogCase{"QuietByDefault", nullptr, false, ""},
                                           LogCase{"QuietWhenZero", "0", true, ""},
                                           LogCase{"WhatWhenOn", "1", false, "zorva: poll: gone\n"},
                                           LogCase{"NumberWhenOn", "1", true, "zorva: poll: error 7\n"}),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace

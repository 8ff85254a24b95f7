#include "platform/kernel/Log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace {

enum class Thrown { Exception, Int, Other };

struct LogCase {
  const char* name;
  const char* setting;  // null: unset
  Thrown thrown;
  std::string expected;
};

struct NotAnException {};

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
    if (c.thrown == Thrown::Int) throw 7;
    if (c.thrown == Thrown::Other) throw NotAnException{};
    throw std::runtime_error("gone");
  } catch (...) {
    platform::LogFailure("poll");
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, LogTest,
                         ::testing::Values(LogCase{"QuietByDefault", nullptr, Thrown::Exception, ""},
                                           LogCase{"QuietWhenZero", "0", Thrown::Int, ""},
                                           LogCase{"WhatWhenOn", "1", Thrown::Exception, "zorva: poll: gone\n"},
                                           LogCase{"NumberWhenOn", "1", Thrown::Int, "zorva: poll: error 7\n"},
                                           LogCase{"UnknownWhenOn", "1", Thrown::Other,
                                                   "zorva: poll: unknown failure\n"}),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace

#include "platform/kernel/EnvFolders.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "tests/support/ScopedEnv.h"

namespace {

struct Case {
  const char* name;
  const char* config;  // XDG_CONFIG_HOME; null: unset
  const char* home;    // HOME; null: unset
  std::string folder;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

const Case kCases[] = {
    {"TheVariableWins", "/x/config", "/home/me", "/x/config"},
    {"TrailingSlashesGo", "/x/config//", "/home/me", "/x/config"},
    {"TheRootStays", "/", "/home/me", "/"},
    {"UnsetFallsBackToHome", nullptr, "/home/me/", "/home/me/.config"},
    {"RelativeFallsBackToHome", "relative/config", "/home/me", "/home/me/.config"},
    {"EmptyFallsBackToHome", "", "/home/me", "/home/me/.config"},
    {"HomeAtTheRoot", nullptr, "/", "/.config"},
    {"NeitherAbsolute", "config", "home", ""},
    {"NeitherSet", nullptr, nullptr, ""},
};

class EnvFoldersTest : public ::testing::TestWithParam<Case> {};

TEST_P(EnvFoldersTest, XdgFolderReadsTheVariableElseHome) {
  const Case& c = GetParam();
  zorva_test::ScopedEnv config("XDG_CONFIG_HOME", c.config);
  zorva_test::ScopedEnv home("HOME", c.home);
  EXPECT_EQ(platform::XdgFolder("XDG_CONFIG_HOME", "/.config"), c.folder);
}

INSTANTIATE_TEST_SUITE_P(Cases, EnvFoldersTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

}  // namespace

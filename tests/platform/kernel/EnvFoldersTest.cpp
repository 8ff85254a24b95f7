#include "platform/kernel/EnvFolders.h"

#include <gtest/gtest.h>
#include <unistd.h>

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

// The programs' sockets and locks: one rule for every program, so that they
// find one another.
struct RuntimeCase {
  const char* name;
  const char* runtime;  // XDG_RUNTIME_DIR; null: unset
  const char* temp;     // TMPDIR; null: unset
  std::string runtimeFolder;
  std::string tempBase;  // PrivateTempFolder() is this + "/zorva-<uid>"
};

void PrintTo(const RuntimeCase& c, std::ostream* out) { *out << c.name; }

const RuntimeCase kRuntimeCases[] = {
    {"TheRuntimeFolder", "/run/user/7/", "/var/tmp", "/run/user/7", "/var/tmp"},
    {"RelativeRuntimeIsNone", "run", "/var/tmp", "", "/var/tmp"},
    {"RelativeTempIsTmp", nullptr, "tmp", "", "/tmp"},
    {"TempAtTheRootIsTmp", "", "/", "", "/tmp"},
    {"NeitherSet", nullptr, nullptr, "", "/tmp"},
};

class RuntimeFolderTest : public ::testing::TestWithParam<RuntimeCase> {};

TEST_P(RuntimeFolderTest, AbsolutePathsOnly) {
  const RuntimeCase& c = GetParam();
  zorva_test::ScopedEnv runtime("XDG_RUNTIME_DIR", c.runtime);
  zorva_test::ScopedEnv temp("TMPDIR", c.temp);
  EXPECT_EQ(platform::RuntimeFolder(), c.runtimeFolder);
  EXPECT_EQ(platform::PrivateTempFolder(), c.tempBase + "/zorva-" + std::to_string(::getuid()));
}

INSTANTIATE_TEST_SUITE_P(Cases, RuntimeFolderTest, ::testing::ValuesIn(kRuntimeCases),
                         [](const ::testing::TestParamInfo<RuntimeCase>& param) {
                           return std::string(param.param.name);
                         });

}  // namespace

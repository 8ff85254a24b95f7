#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "platform/shell/Shell.h"
#include "tests/support/ScopedEnv.h"

namespace {

namespace fs = std::filesystem;

using Files = std::map<std::string, std::string>;  // path below a folder -> content

struct DataFolderCase {
  const char* name;
  const char* dataHome;  // null: unset; one starting with "/" lies below the test's root
  bool home;             // HOME is the root's "home" (else unset)
  Files old, current;    // in the older "zorva" and in "Zorva" before
  const char* folder;    // the folder given, below the root
  Files after, left;     // in "Zorva" and still in "zorva" after (a link to "Zorva" when none)
};

void Write(const fs::path& folder, const Files& files) {
  for (const auto& [name, content] : files) {
    fs::create_directories((folder / name).parent_path());
    std::ofstream(folder / name) << content;
    fs::permissions(folder / name, fs::perms::owner_read | fs::perms::owner_write);
  }
}

Files Read(const fs::path& folder) {
  Files files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path());
    files[fs::relative(entry.path(), folder)] = {std::istreambuf_iterator<char>(in), {}};
  }
  return files;
}

unsigned ModeOf(const fs::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

class DataFolderTest : public ::testing::TestWithParam<DataFolderCase> {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zorva-data-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path root_;
  zorva_test::SavedEnv saved_{"HOME", "XDG_DATA_HOME", "TMPDIR", "ZORVA_LOG"};
};

TEST_P(DataFolderTest, OneFolderAndTheOldFilesMovedIntoIt) {
  const DataFolderCase& c = GetParam();
  const std::string dataHome = !c.dataHome ? "" : c.dataHome[0] == '/' ? root_.string() + c.dataHome : c.dataHome;
  dataHome.empty() ? ::unsetenv("XDG_DATA_HOME") : ::setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
  c.home ? ::setenv("HOME", (root_ / "home").c_str(), 1) : ::unsetenv("HOME");
  ::setenv("TMPDIR", (root_ / "tmp").c_str(), 1);
  ::setenv("ZORVA_LOG", "1", 1);
  const fs::path folder = root_ / c.folder;
  const fs::path old = folder.parent_path().parent_path() / "zorva";
  fs::create_directories(root_ / "tmp");
  Write(old, c.old);
  Write(folder, c.current);

  ::testing::internal::CaptureStderr();
  const std::string given = platform::shell::DataFolder();
  const std::string trace = ::testing::internal::GetCapturedStderr();

  EXPECT_EQ(given, folder.string());
  EXPECT_EQ(ModeOf(folder), 0700u);
  EXPECT_EQ(Read(folder), c.after);
  for (const auto& [name, content] : c.after) EXPECT_EQ(ModeOf(folder / name), 0600u) << name;
  if (c.old.empty()) {
    EXPECT_FALSE(fs::exists(fs::symlink_status(old)));
  } else if (c.left.empty()) {
    EXPECT_TRUE(fs::is_symlink(old));
    EXPECT_TRUE(fs::equivalent(old, folder));
  } else {
    EXPECT_EQ(Read(old), c.left);
  }
  // What stays behind, and only that, is traced by its old place.
  EXPECT_EQ(trace.find(old.string() + "/") != std::string::npos, !c.left.empty()) << trace;
  EXPECT_EQ(platform::shell::DataFolder(), given);
}

const Files kOld = {{"mpd-ids", "ids"}, {"mpd/state", "state"}, {"mpd/playlists/A.m3u", "a"}};

INSTANTIATE_TEST_SUITE_P(
    Cases, DataFolderTest,
    ::testing::Values(
        DataFolderCase{"InTheDataHome", "/data", true, {}, {}, "data/Zorva/", {}, {}},
        DataFolderCase{"UnderHomeWithoutADataHome", nullptr, true, {}, {}, "home/.local/share/Zorva/", {}, {}},
        DataFolderCase{"UnderHomeForARelativeDataHome", "rel/data", true, {}, {}, "home/.local/share/Zorva/", {}, {}},
        DataFolderCase{"InTheTemporaryFolderWithoutAHome", nullptr, false, {}, {}, "tmp/Zorva/", {}, {}},
        DataFolderCase{"OldFilesMovedIn", "/data", true, kOld, {}, "data/Zorva/", kOld, {}},
        DataFolderCase{"OldFilesJoinTheMusicDatabase",
                       nullptr,
                       true,
                       {{"mpd-queue", "q"}},
                       {{"music.db", "db"}},
                       "home/.local/share/Zorva/",
                       {{"mpd-queue", "q"}, {"music.db", "db"}},
                       {}},
        DataFolderCase{"BothKeptWhenBothHoldAFile",
                       "/data",
                       true,
                       {{"mpd-ids", "old"}, {"mpd-queue", "q"}},
                       {{"mpd-ids", "new"}},
                       "data/Zorva/",
                       {{"mpd-ids", "new"}, {"mpd-queue", "q"}},
                       {{"mpd-ids", "old"}}},
        DataFolderCase{"BothKeptWhenBothHoldAFolder",
                       "/data",
                       true,
                       {{"mpd/state", "old"}},
                       {{"mpd/db", "new"}},
                       "data/Zorva/",
                       {{"mpd/db", "new"}},
                       {{"mpd/state", "old"}}}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace

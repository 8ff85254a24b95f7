#include "core/ShellPath.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>
#include "tests/support/ScopedEnv.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

class ShellPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zorva-shellpath-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    m_root = pattern;
    Set("HOME", m_root / "home");
    Set("XDG_DATA_HOME", m_root / "data");
    Set("XDG_CONFIG_HOME", m_root / "config");
    Set("TMPDIR", m_root / "tmp");
  }

  void TearDown() override { fs::remove_all(m_root); }

  static void Set(const char* name, const fs::path& value) { ::setenv(name, value.c_str(), 1); }

  std::string Root() const { return m_root.string(); }

  fs::path m_root;
  zorva_test::SavedEnv m_saved{"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "TMPDIR"};
};

TEST_F(ShellPathTest, TheProgramFolderEndsInASeparator) {
  const std::string program = platform::shell::ModuleFileName();
  ASSERT_FALSE(program.empty());
  const std::string folder = program.substr(0, program.rfind('/') + 1);

  EXPECT_EQ(ShellPath(SHELLPATH_MODULE).GetFullPath(), program);
  const ShellPath programFolder(SHELLPATH_MODULE_FOLDER);
  EXPECT_EQ(programFolder.GetFullPath(), folder);
  EXPECT_EQ(programFolder.GetDirectory(), folder);
  EXPECT_EQ(programFolder.GetFolder(), folder);
  EXPECT_TRUE(programFolder.Exists());

  ShellPath account(SHELLPATH_MODULE);
  account.SetFileName("zorva.auth");
  EXPECT_EQ(account.GetFullPath(), folder + "zorva.auth");
}

TEST_F(ShellPathTest, AFileNameAfterLocalAppDataLiesInThatFolder) {
  ShellPath database(SHELLPATH_LOCAL_APPDATA);
  EXPECT_EQ(database.GetFullPath(), Root() + "/data/");
  database.SetFileName("music.db");
  EXPECT_EQ(database.GetFullPath(), Root() + "/data/music.db");

  ShellPath inFolder(SHELLPATH_LOCAL_APPDATA);
  inFolder.AppendDirectory("Zorva");
  inFolder.SetFileName("music.db");
  EXPECT_EQ(inFolder.GetFullPath(), Root() + "/data/Zorva/music.db");
  EXPECT_EQ(inFolder.GetFolder(), Root() + "/data/Zorva/");
  EXPECT_EQ(inFolder.GetDirectory(), Root() + "/data/Zorva/");
}

TEST_F(ShellPathTest, LocalAppDataFallsBackToTheTemporaryFolder) {
  ::unsetenv("XDG_DATA_HOME");
  ::unsetenv("HOME");
  EXPECT_EQ(ShellPath(SHELLPATH_LOCAL_APPDATA).GetFullPath(), Root() + "/tmp/");

  WriteFile(m_root / "file", "x");
  Set("HOME", m_root / "file/home");
  ShellPath database(SHELLPATH_LOCAL_APPDATA);
  database.SetFileName("music.db");
  EXPECT_EQ(database.GetFullPath(), Root() + "/tmp/music.db");
}

TEST_F(ShellPathTest, TheStartupFolderIsTheAutostartFolder) {
  ShellPath startup(SHELLPATH_STARTUP);
  EXPECT_EQ(startup.GetFullPath(), Root() + "/config/autostart/");
  startup.SetFileName("Zorva Vantrel.lnk");
  EXPECT_EQ(startup.GetFullPath(), Root() + "/config/autostart/Zorva Vantrel.lnk");

  ::unsetenv("XDG_CONFIG_HOME");
  startup.SetKind(SHELLPATH_STARTUP);
  EXPECT_EQ(startup.GetFullPath(), Root() + "/home/.config/autostart/");
  ::unsetenv("HOME");
  startup.SetKind(SHELLPATH_STARTUP);
  EXPECT_EQ(startup.GetFullPath(), "");
}

TEST_F(ShellPathTest, DotsInFolderNamesStayInTheDirectory) {
  ShellPath path("/home/u/.local/share/Zorva/music.db");
  EXPECT_EQ(path.GetDirectory(), "/home/u/.local/share/Zorva/");
  EXPECT_EQ(path.GetFullPath(), "/home/u/.local/share/Zorva/music.db");
  path.SetFileName("zorva.auth");
  EXPECT_EQ(path.GetFullPath(), "/home/u/.local/share/Zorva/zorva.auth");

  path.SetPath("/opt/app.v2/bin/player");
  EXPECT_EQ(path.GetFolder(), "/opt/app.v2/bin/");
  path.SetFileName("archive.tar.gz");
  EXPECT_EQ(path.GetFullPath(), "/opt/app.v2/bin/archive.tar.gz");

  path.SetPath("/a/b.c/");
  EXPECT_EQ(path.GetDirectory(), "/a/b.c/");
  EXPECT_EQ(path.GetFullPath(), "/a/b.c/");
  path.AppendDirectory("d.e");
  path.SetFileName("sub/.hidden");
  EXPECT_EQ(path.GetFullPath(), "/a/b.c/d.e/.hidden");

  const ShellPath bare("music.db");
  EXPECT_EQ(bare.GetDirectory(), "");
  EXPECT_EQ(bare.GetFullPath(), "music.db");
  EXPECT_EQ(ShellPath().GetFullPath(), "");
}

TEST_F(ShellPathTest, ExistsTestsTheFullPath) {
  WriteFile(m_root / "present.txt", "x");
  ShellPath path(Root() + "/present.txt");
  EXPECT_TRUE(path.Exists());
  EXPECT_TRUE(FileExists(Root() + "/present.txt"));
  path.SetFileName("absent.txt");
  EXPECT_FALSE(path.Exists());
  EXPECT_FALSE(FileExists(path.GetFullPath()));
}

TEST_F(ShellPathTest, CreateShortcutWritesADesktopEntryInTheStartupFolder) {
  EXPECT_EQ(ShortcutFilePath("/x/Zorva Vantrel.lnk"), "/x/Zorva Vantrel.desktop");
  EXPECT_EQ(ShortcutFilePath("/x/Zorva Vantrel.LNK"), "/x/Zorva Vantrel.desktop");
  EXPECT_EQ(ShortcutFilePath("/x/a.desktop"), "/x/a.desktop");
  EXPECT_EQ(ShortcutFilePath("/x/a"), "/x/a.desktop");

  ShellPath shortcut(SHELLPATH_STARTUP);
  shortcut.SetFileName("Zorva Vantrel.lnk");
  ASSERT_TRUE(CreateShortcut("/usr/bin/vantrel", shortcut.GetFullPath()));
  const fs::path written = m_root / "config/autostart/Zorva Vantrel.desktop";
  EXPECT_FALSE(shortcut.Exists());
  EXPECT_TRUE(FileExists(ShortcutFilePath(shortcut.GetFullPath())));
  const std::string entry = ReadFile(written);
  EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u) << entry;
  EXPECT_NE(entry.find("\nExec=/usr/bin/vantrel\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("\nName=Zorva Vantrel\n"), std::string::npos) << entry;

  ASSERT_TRUE(CreateShortcut("/usr/bin/zorva", shortcut.GetFullPath(), std::string("/lab")));
  EXPECT_NE(ReadFile(written).find("\nExec=/usr/bin/zorva /lab\n"), std::string::npos);

  ::unsetenv("XDG_CONFIG_HOME");
  ::unsetenv("HOME");
  ShellPath nowhere(SHELLPATH_STARTUP);
  nowhere.SetFileName("Zorva Vantrel.lnk");
  EXPECT_FALSE(CreateShortcut("/usr/bin/vantrel", nowhere.GetFullPath()));
}

TEST_F(ShellPathTest, FileOperationCopiesMovesAndDeletes) {
  const fs::path source = m_root / "music.db";
  WriteFile(source, "database");
  fs::create_directory(m_root / "backup");

  ShellFileOperation copy;
  copy.AddSourceFile(source.string());
  copy.AddDestFile((m_root / "backup").string());
  copy.SetOperationFlags(FO_COPY, true, false, true, false, true, false, false);
  ASSERT_TRUE(copy.Go());
  EXPECT_EQ(ReadFile(m_root / "backup/music.db"), "database");

  // An existing copy is replaced only with leave to do so.
  WriteFile(source, "newer");
  bool aborted = false;
  EXPECT_FALSE(copy.Go(&aborted));
  EXPECT_TRUE(aborted);
  EXPECT_EQ(ReadFile(m_root / "backup/music.db"), "database");
  copy.SetOperationFlags(FO_COPY, true, false, true, false, true, true, false);
  ASSERT_TRUE(copy.Go());
  EXPECT_EQ(ReadFile(m_root / "backup/music (2).db"), "newer");
  copy.SetOperationFlags(FO_COPY, true, false, true, true, true, false, false);
  ASSERT_TRUE(copy.Go(&aborted));
  EXPECT_FALSE(aborted);
  EXPECT_EQ(ReadFile(m_root / "backup/music.db"), "newer");

  ShellFileOperation move;
  move.AddSourceFile(source.string());
  move.AddDestFile((m_root / "moved/renamed.db").string());
  move.SetOperationFlags(FO_MOVE, true, false, true, true, true, false, false);
  ASSERT_TRUE(move.Go());
  EXPECT_FALSE(fs::exists(source));
  EXPECT_EQ(ReadFile(m_root / "moved/renamed.db"), "newer");

  ShellFileOperation remove;
  remove.AddSourceFile((m_root / "moved/renamed.db").string());
  remove.AddSourceFile((m_root / "backup/music (2).db").string());
  remove.SetOperationFlags(FO_DELETE, true, true, true, true, true, false, false);
  ASSERT_TRUE(remove.Go());
  EXPECT_FALSE(fs::exists(m_root / "moved/renamed.db"));
  EXPECT_FALSE(fs::exists(m_root / "backup/music (2).db"));
  EXPECT_FALSE(remove.Go());

  // Only files: a folder is refused and kept.
  remove.ClearSourceFiles();
  remove.AddSourceFile((m_root / "backup").string());
  EXPECT_FALSE(remove.Go());
  EXPECT_TRUE(fs::exists(m_root / "backup/music.db"));
}

}  // namespace

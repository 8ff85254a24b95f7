#include "core/Settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/ShellPath.h"
#include "platform/profile/Profile.h"
#include "tests/core/DatabaseTestSupport.h"

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  SettingsTest() { platform::ReloadProfile(); }
  ~SettingsTest() override { platform::ReloadProfile(); }

  static int StoredInt(const char* section, const char* entry) {
    return static_cast<int>(GetProfileInt(section, entry, -1));
  }
  std::string ShortcutFile() const { return config.Path() + "/autostart/Zorva Vantrel.desktop"; }
  static std::string Read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  zorva_test::TempFolder config;
  zorva_test::ScopedEnv configHome{"XDG_CONFIG_HOME", config.Path()};
};

TEST_F(SettingsTest, FirstStartGivesDefaultsAndTheFirstSaveWritesThemAll) {
  Settings settings;
  settings.Load();
  EXPECT_TRUE(settings.GetMinITunes());
  EXPECT_TRUE(settings.GetUseVozed());
  EXPECT_TRUE(settings.GetScanLib());
  EXPECT_TRUE(settings.GetStartWhenWindowsStarts());
  EXPECT_TRUE(settings.GetZorvaLiveUpdate());
  EXPECT_TRUE(settings.GetNotifyOnUpdate());
  EXPECT_EQ(settings.GetTwitterName(), "");
  EXPECT_EQ(settings.GetTwitterPassword(), "");

  settings.Save();
  EXPECT_EQ(StoredInt("Startup", "MinITunes"), 1);
  EXPECT_EQ(StoredInt("skin", "UseVozed"), 1);
  EXPECT_EQ(StoredInt("Startup", "ScanLib"), 1);
  EXPECT_EQ(StoredInt("upload", "StartWhenWindowsStarts"), 1);
  EXPECT_EQ(StoredInt("upload", "ZorvaLiveUpdate"), 1);
  EXPECT_EQ(StoredInt("upload", "NotifyOnUpdate"), 1);
  EXPECT_EQ(GetProfileString("upload", "TwitterName", "missing"), "");
  EXPECT_EQ(GetProfileString("upload", "TwitterPassword", "missing"), "");
}

TEST_F(SettingsTest, SavedValuesComeBack) {
  WriteProfileString("upload", "TwitterName", "bird");
  WriteProfileString("upload", "TwitterPassword", "p&ss word");
  Settings settings;
  settings.Load();
  settings.SetMinITunes(false);
  settings.SetUseVozed(false);
  settings.SetNotifyOnUpdate(false);
  settings.Save();

  Settings loaded;
  loaded.Load();
  EXPECT_FALSE(loaded.GetMinITunes());
  EXPECT_FALSE(loaded.GetUseVozed());
  EXPECT_TRUE(loaded.GetScanLib());
  EXPECT_FALSE(loaded.GetNotifyOnUpdate());
  EXPECT_TRUE(loaded.GetZorvaLiveUpdate());
  EXPECT_EQ(loaded.GetTwitterName(), "bird");
  EXPECT_EQ(loaded.GetTwitterPassword(), "p&ss word");
  EXPECT_EQ(StoredInt("skin", "UseVozed"), 0);
}

TEST_F(SettingsTest, AnyNonZeroIntegerIsTrueAndSavedAsOne) {
  WriteProfileInt("Startup", "ScanLib", 5);
  Settings settings;
  settings.Load();
  EXPECT_TRUE(settings.GetScanLib());
  settings.Save();
  EXPECT_EQ(StoredInt("Startup", "ScanLib"), 1);
}

TEST_F(SettingsTest, MissingValuesKeepTheCurrentField) {
  WriteProfileInt("Startup", "MinITunes", 1);
  Settings settings;
  settings.SetScanLib(false);
  settings.SetMinITunes(false);
  settings.Load();
  EXPECT_FALSE(settings.GetScanLib());
  EXPECT_TRUE(settings.GetMinITunes());
}

TEST_F(SettingsTest, StartupShortcutIsCreatedOnceAndDeleted) {
  Settings settings;
  EXPECT_EQ(Settings::GetStartupShortcutPath(), ShortcutFile());
  EXPECT_FALSE(settings.HasStartupShortcut());

  settings.SetStartWithWindows(true);
  ASSERT_TRUE(settings.HasStartupShortcut());
  EXPECT_NE(Read(ShortcutFile()).find(ShellPath(SHELLPATH_MODULE).GetFullPath()), std::string::npos);

  // An existing shortcut is left as it is.
  std::ofstream(ShortcutFile()) << "kept";
  settings.SetStartWithWindows(true);
  EXPECT_EQ(Read(ShortcutFile()), "kept");

  settings.SetStartWithWindows(false);
  EXPECT_FALSE(settings.HasStartupShortcut());
  EXPECT_FALSE(std::filesystem::exists(ShortcutFile()));
  settings.SetStartWithWindows(false);
  EXPECT_FALSE(settings.HasStartupShortcut());
}

TEST_F(SettingsTest, NoStartupFolderMeansNoShortcut) {
  zorva_test::TempFolder work;
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(work.Path());
  {
    zorva_test::ScopedEnv noConfig("XDG_CONFIG_HOME", "");
    zorva_test::ScopedEnv noHome("HOME", "relative");
    Settings settings;
    EXPECT_EQ(Settings::GetStartupShortcutPath(), "");
    settings.SetStartWithWindows(true);
    EXPECT_FALSE(settings.HasStartupShortcut());
  }
  std::filesystem::current_path(previous);
  EXPECT_TRUE(std::filesystem::is_empty(work.Path()));
}

}  // namespace

#include "platform/profile/Profile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zorva-profile-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    m_root = pattern;
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) m_oldConfig = old;
    ::setenv("XDG_CONFIG_HOME", m_root.c_str(), 1);
    SetRegistryKey("Zorva");
    SetProfileName("Zorva");
    platform::ReloadProfile();
  }

  void TearDown() override {
    if (m_oldConfig) {
      ::setenv("XDG_CONFIG_HOME", m_oldConfig->c_str(), 1);
    } else {
      ::unsetenv("XDG_CONFIG_HOME");
    }
    platform::ReloadProfile();
    fs::remove_all(m_root);
  }

  fs::path Folder() const { return m_root / "zorva"; }
  fs::path File() const { return Folder() / "profile.json"; }

  fs::path m_root;
  std::optional<std::string> m_oldConfig;
};

TEST_F(ProfileTest, ValuesRoundTripThroughTheFile) {
  const std::vector<BYTE> placement = {44, 0, 0, 0, 0xFF, 0x10, 0, 7};
  ASSERT_TRUE(WriteProfileInt("Startup", "ScanLib", 0));
  ASSERT_TRUE(WriteProfileInt("DB", "Negative", -1));
  ASSERT_TRUE(WriteProfileString("Startup", "TwitterName", "name with \"quotes\" and \\"));
  ASSERT_TRUE(WriteProfileString("Startup", "Latin1", "caf\xE9"));
  ASSERT_TRUE(WriteProfileBinary("Position", "Player", placement.data(), static_cast<UINT>(placement.size())));
  EXPECT_EQ(platform::ProfileFilePath(), File().string());

  platform::ReloadProfile();
  EXPECT_EQ(GetProfileInt("Startup", "ScanLib", 1), 0u);
  EXPECT_EQ(GetProfileInt("DB", "Negative", 0), 0xFFFFFFFFu);
  EXPECT_EQ(GetProfileString("Startup", "TwitterName"), "name with \"quotes\" and \\");
  EXPECT_EQ(GetProfileString("Startup", "Latin1"), "caf\xE9");
  std::vector<BYTE> read = {1, 2, 3};
  EXPECT_TRUE(GetProfileBinary("Position", "Player", read));
  EXPECT_EQ(read, placement);

  EXPECT_EQ(GetProfileInt("Startup", "Missing", 7), 7u);
  EXPECT_EQ(GetProfileString("Startup", "Missing", "fallback"), "fallback");
  EXPECT_FALSE(GetProfileBinary("Position", "Missing", read));
  EXPECT_TRUE(read.empty());
}

TEST_F(ProfileTest, AValueOfAnotherTypeReadsAsTheDefault) {
  ASSERT_TRUE(WriteProfileString("Version", "Text", "12"));
  ASSERT_TRUE(WriteProfileInt("Version", "Number", 12));
  EXPECT_EQ(GetProfileInt("Version", "Text", 5), 5u);
  EXPECT_EQ(GetProfileString("Version", "Number", "none"), "none");
  std::vector<BYTE> data;
  EXPECT_FALSE(GetProfileBinary("Version", "Number", data));
  EXPECT_TRUE(data.empty());
}

TEST_F(ProfileTest, NamesFoldCaseAndKeepTheirFirstSpelling) {
  ASSERT_TRUE(WriteProfileInt("skin", "wallpaper", 3));
  EXPECT_EQ(GetProfileInt("Skin", "WALLPAPER", 0), 3u);
  ASSERT_TRUE(WriteProfileInt("Skin", "Wallpaper", 4));
  EXPECT_EQ(GetProfileInt("SKIN", "wallpaper", 0), 4u);

  const nlohmann::json stored = nlohmann::json::parse(ReadFile(File()));
  const nlohmann::json& keys = stored.at("keys");
  ASSERT_EQ(keys.size(), 1u);
  ASSERT_TRUE(keys.contains("Software\\Zorva\\Zorva\\skin"));
  const nlohmann::json& section = keys.at("Software\\Zorva\\Zorva\\skin");
  ASSERT_EQ(section.size(), 1u);
  EXPECT_EQ(section.at("wallpaper").at("data"), 4);
}

TEST_F(ProfileTest, EachProgramKeepsItsOwnValues) {
  SetProfileName("Zorva");
  ASSERT_TRUE(WriteProfileInt("Startup", "MinITunes", 0));
  SetProfileName("Vantrel");
  EXPECT_EQ(GetProfileInt("Startup", "MinITunes", 1), 1u);
  ASSERT_TRUE(WriteProfileInt("Startup", "MinITunes", 2));
  SetProfileName("Zorva");
  EXPECT_EQ(GetProfileInt("Startup", "MinITunes", 1), 0u);
  SetProfileName("Vantrel");
  EXPECT_EQ(GetProfileInt("Startup", "MinITunes", 1), 2u);
}

TEST_F(ProfileTest, ANullValueDeletesTheEntryAndANullEntryTheSection) {
  ASSERT_TRUE(WriteProfileString("upload", "user", "u"));
  ASSERT_TRUE(WriteProfileInt("upload", "count", 3));
  ASSERT_TRUE(WriteProfileInt("DB", "AnalyzeMonth", 5));

  EXPECT_TRUE(WriteProfileString("Upload", "USER", nullptr));
  EXPECT_EQ(GetProfileString("upload", "user", "gone"), "gone");
  EXPECT_EQ(GetProfileInt("upload", "count", 0), 3u);
  EXPECT_FALSE(WriteProfileString("upload", "user", nullptr));

  EXPECT_TRUE(WriteProfileString("UPLOAD", nullptr, nullptr));
  EXPECT_EQ(GetProfileInt("upload", "count", 0), 0u);
  EXPECT_FALSE(WriteProfileString("upload", nullptr, nullptr));
  platform::ReloadProfile();
  EXPECT_EQ(GetProfileInt("upload", "count", 0), 0u);
  EXPECT_EQ(GetProfileInt("DB", "AnalyzeMonth", 0), 5u);
}

TEST_F(ProfileTest, SeesAWriteOfAnotherProcess) {
  ASSERT_TRUE(WriteProfileInt("Startup", "ScheduleOn", 0));
  EXPECT_EQ(GetProfileInt("Startup", "ScheduleOn", 9), 0u);

  // Another process replaces the file the same way this one does.
  nlohmann::json stored = nlohmann::json::parse(ReadFile(File()));
  stored["keys"]["Software\\Zorva\\Zorva\\Startup"]["ScheduleOn"]["data"] = 1;
  WriteFile(Folder() / "other.tmp", stored.dump());
  fs::rename(Folder() / "other.tmp", File());

  EXPECT_EQ(GetProfileInt("Startup", "ScheduleOn", 9), 1u);
  ASSERT_TRUE(WriteProfileInt("Startup", "ScheduleType", 2));
  EXPECT_EQ(GetProfileInt("Startup", "ScheduleOn", 9), 1u);
}

TEST_F(ProfileTest, ACrashBetweenWritesLeavesTheLastCompleteState) {
  ASSERT_TRUE(WriteProfileInt("Startup", "CurrentMix", 4));
  ASSERT_TRUE(WriteProfileString("Startup", "TwitterName", "before"));
  const std::string complete = ReadFile(File());

  // What a crash leaves behind: a complete and a torn temporary file.
  WriteFile(Folder() / "profile.json.tmp-4242-1", complete);
  WriteFile(Folder() / "profile.json.tmp-4242-2", complete.substr(0, complete.size() / 2));
  platform::ReloadProfile();
  EXPECT_EQ(GetProfileInt("Startup", "CurrentMix", 0), 4u);
  EXPECT_EQ(GetProfileString("Startup", "TwitterName"), "before");

  ASSERT_TRUE(WriteProfileString("Startup", "TwitterName", "after"));
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(Folder())) names.push_back(entry.path().filename().string());
  EXPECT_EQ(std::count_if(names.begin(), names.end(),
                          [](const std::string& name) { return name.rfind("profile.json", 0) == 0; }),
            1);
  platform::ReloadProfile();
  EXPECT_EQ(GetProfileInt("Startup", "CurrentMix", 0), 4u);
  EXPECT_EQ(GetProfileString("Startup", "TwitterName"), "after");
}

TEST_F(ProfileTest, ADamagedFileReadsEmptyWithOneLineAndIsKeptAside) {
  ASSERT_TRUE(WriteProfileInt("Startup", "CurrentMix", 4));
  const std::string complete = ReadFile(File());
  const std::string torn = complete.substr(0, complete.size() - 10);
  WriteFile(File(), torn);
  platform::ReloadProfile();

  ::testing::internal::CaptureStderr();
  EXPECT_EQ(GetProfileInt("Startup", "CurrentMix", 0), 0u);
  EXPECT_EQ(GetProfileString("Startup", "TwitterName", "d"), "d");
  EXPECT_EQ(GetProfileInt("Startup", "CurrentMix", 0), 0u);
  const std::string complaint = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::count(complaint.begin(), complaint.end(), '\n'), 1) << complaint;
  EXPECT_NE(complaint.find(File().string()), std::string::npos) << complaint;

  EXPECT_FALSE(WriteProfileString("Startup", "TwitterName", nullptr));
  EXPECT_EQ(ReadFile(File()), torn);

  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(WriteProfileInt("Startup", "ScanLib", 1));
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(ReadFile(Folder() / "profile.json.damaged-1"), torn);
  EXPECT_EQ(GetProfileInt("Startup", "ScanLib", 0), 1u);
  EXPECT_EQ(GetProfileInt("Startup", "CurrentMix", 0), 0u);

  // A second damaged file does not replace the first one kept aside.
  WriteFile(File(), "[1, 2]");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(GetProfileInt("Startup", "ScanLib", 0), 0u);
  ASSERT_TRUE(WriteProfileInt("Startup", "ScanLib", 1));
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(ReadFile(Folder() / "profile.json.damaged-1"), torn);
  EXPECT_EQ(ReadFile(Folder() / "profile.json.damaged-2"), "[1, 2]");
}

TEST_F(ProfileTest, ThreadsWritingAtOnceLoseNothing) {
  auto writer = [](const char* section) {
    for (int i = 0; i < 40; ++i) {
      const std::string entry = "value" + std::to_string(i);
      ASSERT_TRUE(WriteProfileInt(section, entry.c_str(), i));
      ASSERT_EQ(GetProfileInt(section, entry.c_str(), -1), static_cast<UINT>(i));
    }
  };
  std::thread scan(writer, "DB");
  std::thread ui(writer, "Startup");
  scan.join();
  ui.join();
  platform::ReloadProfile();
  for (int i = 0; i < 40; ++i) {
    const std::string entry = "value" + std::to_string(i);
    EXPECT_EQ(GetProfileInt("DB", entry.c_str(), -1), static_cast<UINT>(i));
    EXPECT_EQ(GetProfileInt("Startup", entry.c_str(), -1), static_cast<UINT>(i));
  }
}

}  // namespace

#include "platform/shell/Shell.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel/LastError.h"
#include "tests/support/ScopedEnv.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Reads the [Desktop Entry] group of a desktop entry file with the string
// escapes of its values undone.
std::map<std::string, std::string> ParseDesktopEntry(const std::string& text) {
  std::map<std::string, std::string> keys;
  std::istringstream lines(text);
  std::string line;
  bool inGroup = false;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      inGroup = line == "[Desktop Entry]";
      continue;
    }
    const size_t equals = line.find('=');
    if (!inGroup || equals == std::string::npos) {
      ADD_FAILURE() << "stray line: " << line;
      continue;
    }
    std::string value;
    for (size_t i = equals + 1; i < line.size(); ++i) {
      if (line[i] != '\\' || i + 1 == line.size()) {
        value += line[i];
        continue;
      }
      switch (line[++i]) {
        case 's':
          value += ' ';
          break;
        case 'n':
          value += '\n';
          break;
        case 't':
          value += '\t';
          break;
        case 'r':
          value += '\r';
          break;
        case '\\':
          value += '\\';
          break;
        default:
          value += '\\';
          value += line[i];
          break;
      }
    }
    EXPECT_TRUE(keys.emplace(line.substr(0, equals), value).second) << "repeated key " << line;
  }
  return keys;
}

// Splits an Exec value into the program's arguments as a desktop does.
std::vector<std::string> SplitExec(const std::string& exec) {
  const std::string reserved = "\t\n\"'\\><~|&;$*?#()`";
  std::vector<std::string> words;
  size_t i = 0;
  while (i < exec.size()) {
    if (exec[i] == ' ') {
      ++i;
      continue;
    }
    std::string word;
    if (exec[i] == '"') {
      for (++i; i < exec.size() && exec[i] != '"'; ++i) {
        if (exec[i] == '\\') {
          ++i;
          EXPECT_TRUE(i < exec.size() && std::string("\"`$\\").find(exec[i]) != std::string::npos)
              << "bad escape in " << exec;
        } else {
          EXPECT_EQ(std::string("`$").find(exec[i]), std::string::npos) << "unescaped character in " << exec;
        }
        if (i < exec.size()) word += exec[i];
      }
      EXPECT_LT(i, exec.size()) << "unterminated quote in " << exec;
      ++i;
    } else {
      for (; i < exec.size() && exec[i] != ' '; ++i) {
        EXPECT_EQ(reserved.find(exec[i]), std::string::npos) << "reserved character outside quotes in " << exec;
        word += exec[i];
      }
    }
    std::string expanded;
    for (size_t j = 0; j < word.size(); ++j) {
      if (word[j] == '%') {
        EXPECT_TRUE(j + 1 < word.size() && word[j + 1] == '%') << "field code in " << exec;
        ++j;
      }
      if (j < word.size()) expanded += word[j];
    }
    words.push_back(expanded);
  }
  return words;
}

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zorva-shell-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    m_root = pattern;
  }

  void TearDown() override { fs::remove_all(m_root); }

  static void Set(const char* name, const fs::path& value) { ::setenv(name, value.c_str(), 1); }

  fs::path m_root;
  zorva_test::SavedEnv m_saved{"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "TMPDIR"};
};

TEST_F(ShellTest, FoldersComeFromTheXdgVariables) {
  Set("XDG_DATA_HOME", m_root / "data");
  Set("XDG_CONFIG_HOME", m_root / "config/");
  Set("TMPDIR", m_root / "tmp");
  EXPECT_EQ(platform::shell::LocalAppDataFolder(), (m_root / "data/").string());
  EXPECT_TRUE(fs::is_directory(m_root / "data"));
  EXPECT_EQ(platform::shell::StartupFolder(), (m_root / "config/autostart/").string());
  EXPECT_EQ(platform::shell::TempFolder(), (m_root / "tmp/").string());
}

TEST_F(ShellTest, FoldersDefaultUnderHome) {
  ::unsetenv("XDG_DATA_HOME");
  ::unsetenv("XDG_CONFIG_HOME");
  ::unsetenv("TMPDIR");
  Set("HOME", m_root);
  EXPECT_EQ(platform::shell::LocalAppDataFolder(), (m_root / ".local/share/").string());
  EXPECT_EQ(platform::shell::StartupFolder(), (m_root / ".config/autostart/").string());
  EXPECT_EQ(platform::shell::TempFolder(), "/tmp/");

  // Relative values are invalid and fall back to the defaults.
  ::setenv("XDG_DATA_HOME", "relative/data", 1);
  ::setenv("XDG_CONFIG_HOME", "", 1);
  EXPECT_EQ(platform::shell::LocalAppDataFolder(), (m_root / ".local/share/").string());
  EXPECT_EQ(platform::shell::StartupFolder(), (m_root / ".config/autostart/").string());
}

TEST_F(ShellTest, FoldersAreUnknownWithoutAUsableHome) {
  ::unsetenv("XDG_DATA_HOME");
  ::unsetenv("XDG_CONFIG_HOME");
  ::unsetenv("HOME");
  EXPECT_EQ(platform::shell::LocalAppDataFolder(), "");
  EXPECT_EQ(platform::shell::StartupFolder(), "");

  std::ofstream(m_root / "file") << "x";
  Set("HOME", m_root / "file/home");
  EXPECT_EQ(platform::shell::LocalAppDataFolder(), "");
}

TEST_F(ShellTest, ModuleFileNameIsThisProgram) {
  const std::string path = platform::shell::ModuleFileName();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_EQ(fs::path(path).filename(), "shell_test");
  EXPECT_TRUE(fs::is_regular_file(path));
}

TEST_F(ShellTest, CreateDirectorySetsTheLastError) {
  const fs::path folder = m_root / "made";
  SetLastError(0);
  EXPECT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  EXPECT_TRUE(fs::is_directory(folder));

  EXPECT_FALSE(CreateDirectoryA(folder.c_str(), nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);

  EXPECT_FALSE(CreateDirectoryA((m_root / "missing/child").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(fs::exists(m_root / "missing"));

  std::ofstream(m_root / "file") << "x";
  EXPECT_FALSE(CreateDirectoryA((m_root / "file/child").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

  const std::string tooLong = (m_root / std::string(300, 'n')).string();
  EXPECT_FALSE(CreateDirectoryA(tooLong.c_str(), nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(ShellTest, AccessTellsWhetherAPathExists) {
  std::ofstream(m_root / "file") << "x";
  EXPECT_EQ(_access((m_root / "file").c_str(), 0), 0);
  EXPECT_EQ(_access((m_root / "file").c_str(), 6), 0);
  EXPECT_EQ(_access(m_root.c_str(), 0), 0);
  EXPECT_EQ(_access((m_root / "none").c_str(), 0), -1);
  EXPECT_EQ(_access((m_root / "file").c_str(), 1), -1);
}

TEST_F(ShellTest, AShortcutIsADesktopEntryThatStartsTheTargetWithItsArguments) {
  const std::string target = "/opt/My Apps/it's \"Van\"trel$HOME\\100%";
  const std::string arguments = R"(/lab "two words" 50% back\slash "q\"uote" `cmd`)";
  const fs::path shortcut = m_root / "config/autostart/Zorva Vantrel.desktop";
  ASSERT_TRUE(platform::shell::WriteShortcut(target, shortcut.string(), &arguments));

  const auto entry = ParseDesktopEntry(ReadFile(shortcut));
  EXPECT_EQ(entry.at("Type"), "Application");
  EXPECT_EQ(entry.at("Name"), "Zorva Vantrel");
  EXPECT_EQ(entry.at("X-GNOME-Autostart-enabled"), "true");
  EXPECT_EQ(SplitExec(entry.at("Exec")),
            (std::vector<std::string>{target, "/lab", "two words", "50%", "back\\slash", "q\"uote", "`cmd`"}));
}

TEST_F(ShellTest, AShortcutWithoutArgumentsStartsTheTargetAlone) {
  const fs::path shortcut = m_root / "autostart/plain.desktop";
  ASSERT_TRUE(platform::shell::WriteShortcut("/usr/bin/vantrel", shortcut.string(), nullptr));
  const auto entry = ParseDesktopEntry(ReadFile(shortcut));
  EXPECT_EQ(entry.at("Exec"), "/usr/bin/vantrel");

  // Replacing an existing shortcut leaves no temporary file behind.
  const std::string arguments = "-x";
  ASSERT_TRUE(platform::shell::WriteShortcut("/usr/bin/vantrel", shortcut.string(), &arguments));
  EXPECT_EQ(ParseDesktopEntry(ReadFile(shortcut)).at("Exec"), "/usr/bin/vantrel -x");
  EXPECT_EQ(std::distance(fs::directory_iterator(m_root / "autostart"), fs::directory_iterator()), 1);
}

TEST_F(ShellTest, AShortcutThatCannotBeWrittenFails) {
  std::ofstream(m_root / "file") << "x";
  EXPECT_FALSE(platform::shell::WriteShortcut("/usr/bin/vantrel", (m_root / "file/s.desktop").string(), nullptr));
  EXPECT_FALSE(platform::shell::WriteShortcut("/usr/bin/vantrel", "relative.desktop", nullptr));
  fs::create_directory(m_root / "taken.desktop");
  EXPECT_FALSE(platform::shell::WriteShortcut("/usr/bin/vantrel", (m_root / "taken.desktop").string(), nullptr));
}

TEST_F(ShellTest, AProgramStartsInTheFolderGiven) {
  const fs::path folder = m_root / "program folder";
  fs::create_directories(folder);
  ASSERT_TRUE(
      platform::shell::StartProgram({"/bin/sh", "-c", "pwd > where.tmp && mv where.tmp where"}, folder.string()));
  // The child ends by itself; its answer is there once the file is.
  while (!fs::exists(folder / "where")) std::this_thread::yield();
  std::ifstream in(folder / "where");
  std::string where;
  std::getline(in, where);
  EXPECT_EQ(fs::canonical(where), fs::canonical(folder));
  EXPECT_FALSE(platform::shell::StartProgram({"/bin/true"}, (m_root / "missing").string()));
}

TEST_F(ShellTest, OpenUrlStartsXdgOpenWithTheUrlAsOneArgument) {
  std::vector<std::vector<std::string>> started;
  bool answer = true;
  const platform::shell::Starter previous = platform::shell::SetStarter([&](const std::vector<std::string>& argv) {
    started.push_back(argv);
    return answer;
  });
  const std::string url = "http://example.org/a b?x=1&y=$(id);`id`";
  EXPECT_TRUE(platform::shell::OpenUrl(url));
  answer = false;
  EXPECT_FALSE(platform::shell::OpenUrl("http://example.org/"));
  answer = true;
  EXPECT_TRUE(platform::shell::OpenUrl("HTTPS://example.org/"));
  for (const char* refused : {"--manual", "", "file:///etc/passwd", "javascript:alert(1)", "ftp://example.org/",
                              "http:/example.org", "mailto:a@example.org", "/usr/bin/xterm", "http://a\nb"}) {
    EXPECT_FALSE(platform::shell::OpenUrl(refused)) << refused;
  }
  platform::shell::SetStarter(previous);

  ASSERT_EQ(started.size(), 3u);
  EXPECT_EQ(started[0], (std::vector<std::string>{"xdg-open", url}));
}

}  // namespace

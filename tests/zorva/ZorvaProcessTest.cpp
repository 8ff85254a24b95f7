// The program Zorva as real processes (label e2e): one copy per user, and a
// later start with "/lab" reaching the running copy and ending.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <cstdlib>
#include <thread>
#include <string>
#include <vector>

#include <sqlite3.h>

#include "platform/instance/SingleInstance.h"
#include "platform/kernel/Messages.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/SmallDisk.h"
#include "tests/support/TempFolder.h"

extern char** environ;

namespace {

using zorva_test::ScopedEnv;
using zorva_test::TempFolder;

pid_t Start(const std::vector<std::string>& arguments) {
  std::vector<std::string> copy = arguments;
  std::vector<char*> argv;
  for (std::string& argument : copy) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  EXPECT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
  return pid;
}

// Blocks until one of the processes ends; gives its pid and exit code.
pid_t WaitAny(int* code) {
  int status = 0;
  const pid_t pid = waitpid(-1, &status, 0);
  *code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return pid;
}

bool StillRuns(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == 0; }

class ZorvaProcessTest : public ::testing::Test {
 protected:
  ~ZorvaProcessTest() override {
    // Whatever went wrong, nothing started here stays behind.
    Player("quit");
    for (pid_t pid : started_) {
      if (StillRuns(pid)) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
      }
    }
  }

  pid_t Zorva(const std::vector<std::string>& flags = {}) {
    std::vector<std::string> arguments = {ZORVA_BINARY};
    arguments.insert(arguments.end(), flags.begin(), flags.end());
    started_.push_back(Start(arguments));
    return started_.back();
  }
  int Player(const std::string& command) {
    const std::string line = std::string(ZORVA_PLAYER_BINARY) + " ctl " + command + " >/dev/null 2>&1";
    return std::system(line.c_str());
  }

  TempFolder home_;
  ScopedEnv homeEnv_{"HOME", home_.Path()};
  ScopedEnv runtime_{"XDG_RUNTIME_DIR", home_.Path()};
  ScopedEnv data_{"XDG_DATA_HOME", home_.File("data")};
  ScopedEnv config_{"XDG_CONFIG_HOME", home_.File("config")};
  ScopedEnv socket_{"ZORVA_PLAYER_SOCKET", nullptr};
  ScopedEnv library_{"ZORVA_PLAYER_LIBRARY", nullptr};
  ScopedEnv music_{"XDG_MUSIC_DIR", nullptr};
  ScopedEnv headless_{"ZORVA_HEADLESS", "1"};
  std::vector<pid_t> started_;
};

TEST_F(ZorvaProcessTest, TwoCopiesStartedAtOnceRunAsOneAndALabStartEndsItself) {
  const pid_t first = Zorva();
  const pid_t second = Zorva();
  // The copy that lost ends once it has reached the one that runs; that one
  // started the player, serving the sample library.
  int code = -1;
  const pid_t ended = WaitAny(&code);
  ASSERT_TRUE(ended == first || ended == second);
  EXPECT_EQ(code, 0);
  const pid_t running = ended == first ? second : first;
  EXPECT_TRUE(StillRuns(running));
  EXPECT_EQ(Player("status"), 0);

  const pid_t lab = Zorva({"/lab"});
  EXPECT_EQ(WaitAny(&code), lab);
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(StillRuns(running));

  // When the player quits, the program ends with it.
  EXPECT_EQ(Player("quit"), 0);
  EXPECT_EQ(WaitAny(&code), running);
  EXPECT_EQ(code, 0);
}

TEST_F(ZorvaProcessTest, TheDatabaseIsMadeBeforeALaterCopyHandsOverAndEnds) {
  // This test holds the lock and listens as the running copy would.
  platform::SingleInstance running("zorva");
  ASSERT_TRUE(running.TryLock());
  std::vector<std::string> heard;
  ASSERT_TRUE(running.Listen([&heard](const std::string& message) { heard.push_back(message); }));

  const pid_t later = Zorva();
  int status = 0;
  for (int i = 0; i < 600 && waitpid(later, &status, WNOHANG) == 0; ++i) {
    platform::PumpMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the other process at work
  }
  started_.clear();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  platform::PumpMessages();
  EXPECT_EQ(heard, std::vector<std::string>{"show"});

  // No window was ever made, yet the database is there with its tables.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(home_.File("data/Zorva/music.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* count = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'track'", -1,
                               &count, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(count), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(count, 0), 1);
  sqlite3_finalize(count);
  sqlite3_close(db);
}

// A folder of Zorva's own MPD that belongs to another user: Zorva says what
// is wrong and where, not only that it could not connect.
TEST_F(ZorvaProcessTest, AnOwnMpdFolderOfAnotherUserIsNamedWithItsFault) {
  ScopedEnv mpd("ZORVA_PLAYER", "mpd");
  ScopedEnv host("MPD_HOST", nullptr);
  ScopedEnv port("MPD_PORT", nullptr);
  ScopedEnv tmp("TMPDIR", home_.File("tmp"));
  struct Case {
    const char* runtime;  // XDG_RUNTIME_DIR, or none
    std::string folder;   // the folder another user holds
  };
  const std::string uid = std::to_string(::getuid());
  for (const Case& c : {Case{nullptr, home_.File("tmp/zorva-" + uid)}, Case{"run", home_.File("run/zorva-mpd")}}) {
    SCOPED_TRACE(c.folder);
    ScopedEnv runtime("XDG_RUNTIME_DIR", c.runtime ? home_.File(c.runtime).c_str() : nullptr);
    std::filesystem::create_directories(c.folder);
    ASSERT_EQ(::chown(c.folder.c_str(), 65534, 65534), 0);
    ::chmod(c.folder.c_str(), 0700);
    const std::string errors = home_.File("zorva.err");
    const std::string command = "timeout 60 '" ZORVA_BINARY "' </dev/null 2>'" + errors + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
    std::ifstream file(errors);
    const std::string said((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_NE(said.find(c.folder + ": belongs to user 65534"), std::string::npos) << said;
    // An MPD started there all the same is not left running.
    std::system(("mpd --kill '" + c.folder + "/mpd.conf' >/dev/null 2>&1").c_str());
    std::filesystem::remove_all(c.folder);
  }
}

// The first start on a full data disk cannot make the music database: Zorva
// says so, and where, and ends instead of waiting for ever.
TEST_F(ZorvaProcessTest, AFirstStartOnAFullDiskSaysWhyItCannotGoOn) {
  zorva_test::SmallDisk disk(home_.File("data"));
  ASSERT_TRUE(disk.Mounted());
  std::filesystem::create_directories(home_.File("data/Zorva"));
  disk.Fill();
  const std::string errors = home_.File("zorva.err");
  const std::string command = "timeout 60 '" ZORVA_BINARY "' </dev/null 2>'" + errors + "'";
  EXPECT_EQ(std::system(command.c_str()), 0);
  std::ifstream file(errors);
  const std::string said((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_NE(said.find("its music database " + home_.File("data/Zorva/music.db") + " cannot be made or opened"),
            std::string::npos)
      << said;
  EXPECT_NE(said.find("disk is full"), std::string::npos) << said;
}

}  // namespace

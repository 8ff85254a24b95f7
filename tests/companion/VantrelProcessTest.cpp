// The real Vantrel program, headless on a scripted desktop: the player
// stand-in on a manual clock, the loopback profile and status services.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/xmlhttp/UrlEncode.h"
#include "platform/xmlhttp/XmlDocument.h"
#include "tests/companion/CompanionTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/SmallDisk.h"

extern char** environ;

namespace {

using namespace zorva_test;
using zorva_test::ChildProcess;
using zorva_test::RunToEnd;

// The "track:" line of the player's status: name, artist, album.
struct Playing {
  std::string name;
  std::string artist;
  std::string album;
};
Playing ParsePlaying(const std::string& status) {
  Playing playing;
  const std::size_t line = status.find("track: \"");
  if (line == std::string::npos) return playing;
  const std::size_t nameEnd = status.find("\" by ", line);
  const std::size_t artistEnd = status.find(" from ", nameEnd);
  const std::size_t albumEnd = status.find(" (database id", artistEnd);
  playing.name = status.substr(line + 8, nameEnd - line - 8);
  playing.artist = status.substr(nameEnd + 5, artistEnd - nameEnd - 5);
  playing.album = status.substr(artistEnd + 6, albumEnd - artistEnd - 6);
  return playing;
}

class VantrelProcessTest : public ::testing::Test, public CompanionFixture {
 protected:
  std::vector<std::string> Ctl(const std::string& command, const std::string& argument = "") {
    std::vector<std::string> argv{ZORVA_PLAYER_BINARY, "ctl", "--socket", socket_, command};
    if (!argument.empty()) argv.push_back(argument);
    return argv;
  }

  // Waits until the player stand-in started by the test answers.
  bool PlayerAnswers() {
    std::string status;
    for (int i = 0; i < 100 && status.find("state:") == std::string::npos; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the server process coming up
      status = RunToEnd(Ctl("status"));
    }
    return status.find("state:") != std::string::npos;
  }

  std::string socket_ = home.Path() + "/run/player.sock";
  ScopedEnv playerSocket{"ZORVA_PLAYER_SOCKET", socket_};
  ScopedEnv home_{"HOME", home.Path()};
  ScopedEnv desktop{"ZORVA_DESKTOP_CONTROL", "1"};
};

TEST_F(VantrelProcessTest, FindsThePlayerLogsInSubmitsThePlayedTrackOnceAndTwittersOnTheHotKey) {
  WriteAccount("alice", "secret");
  WriteProfileString("upload", "TwitterName", "tweeter");
  WriteProfileString("upload", "TwitterPassword", "pw");
  WebAnswer accept;
  accept.headers = {{"Content-Type", "text/xml"}};
  accept.body = Response("<status>0</status><submiturl>" + server.Url("/submit") + "</submiturl>");
  server.SetDefaultAnswer(accept);

  ChildProcess player({ZORVA_PLAYER_BINARY, "serve", "--sample", "--manual-clock", "--socket", socket_});
  ASSERT_TRUE(player.Started());
  ASSERT_TRUE(PlayerAnswers());
  const Playing playing = ParsePlaying(RunToEnd(Ctl("play")));
  ASSERT_FALSE(playing.name.empty());

  ChildProcess vantrel({VANTREL_BINARY});
  ASSERT_TRUE(vantrel.Started());
  ASSERT_TRUE(vantrel.Sync());
  vantrel.SendLine("advance 29000");
  ASSERT_TRUE(vantrel.Sync());
  EXPECT_TRUE(server.Requests().empty());

  // The player found at start; once the track has played 25 s the next polls
  // submit it once.
  vantrel.SendLine("advance 1000");
  ASSERT_TRUE(vantrel.Sync());
  RunToEnd(Ctl("advance", "25000"));
  for (int poll = 0; poll < 3; ++poll) {
    vantrel.SendLine("advance 2000");
    ASSERT_TRUE(vantrel.Sync());
  }
  ASSERT_EQ(RequestsTo("/user/hs").size(), 1u);
  EXPECT_EQ(RequestsTo("/user/hs")[0].target, "/user/hs?u=alice&pw=secret&clientver=zorva&p=0.3");
  const auto submissions = RequestsTo("/submit");
  ASSERT_EQ(submissions.size(), 1u);
  EXPECT_EQ(submissions[0].target, "/submit?u=alice");
  const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
  ASSERT_EQ(submissions[0].body.rfind(declaration, 0), 0u);
  platform::xmlhttp::XmlDocument body;
  ASSERT_TRUE(body.LoadXml(submissions[0].body));
  EXPECT_EQ(body.SelectSingleNode("/track/name").Text(), playing.name);
  EXPECT_EQ(body.SelectSingleNode("/track/artist").Text(), playing.artist);
  EXPECT_EQ(body.SelectSingleNode("/track/album").Text(), playing.album);
  EXPECT_EQ(body.SelectSingleNode("/track/length").Text(), "120");

  vantrel.SendLine("hotkey 3 84");  // Ctrl+Alt+T
  ASSERT_TRUE(vantrel.Sync());
  const auto statuses = RequestsTo("/statuses/update.xml");
  ASSERT_EQ(statuses.size(), 1u);
  EXPECT_EQ(statuses[0].body, "status=" + platform::xmlhttp::UrlEncode("Listening to " + playing.name + " by " +
                                                                       playing.artist + "... See my recent tracks on " +
                                                                       server.Url("/user/alice") + " Zorva Live"));

  vantrel.SendLine("quit");
  EXPECT_EQ(vantrel.Wait(), 0);
  RunToEnd(Ctl("quit"));
}

// The player stops answering (stopped by a signal) while Vantrel polls it:
// the call ends after its time-out as a call to a disconnected player does,
// Vantrel looks for the player again, and its tray menu and quit answer.
TEST_F(VantrelProcessTest, AStuckPlayerNeverFreezesTheTrayMenuOrTheQuit) {
  ChildProcess player({ZORVA_PLAYER_BINARY, "serve", "--sample", "--manual-clock", "--socket", socket_});
  ASSERT_TRUE(player.Started());
  ASSERT_TRUE(PlayerAnswers());
  RunToEnd(Ctl("play"));

  ChildProcess vantrel({VANTREL_BINARY});
  ASSERT_TRUE(vantrel.Started());
  auto statusText = [&vantrel] {
    const auto answer = vantrel.Ask("text Vantrel.htm dbdetails\n");
    return answer.empty() ? std::string() : answer.front();
  };
  ASSERT_TRUE(vantrel.Sync());
  // The player answers: the look made when the page is filled connects.
  ASSERT_NE(statusText().find("The Vantrel is connected to iTunes"), std::string::npos) << statusText();

  ASSERT_EQ(::kill(player.Pid(), SIGSTOP), 0);
  vantrel.SendLine("advance 2000");  // the poll asks the stuck player
  ASSERT_TRUE(vantrel.Sync());
  EXPECT_EQ(statusText().find("The Vantrel is connected to iTunes"), std::string::npos);
  vantrel.SendLine("menu 32777");  // Options
  vantrel.SendLine("tray 517");    // a right click on the icon
  ASSERT_TRUE(vantrel.Sync());
  bool shown = false;
  for (const std::string& line : vantrel.Ask("windows\n")) shown = shown || line.rfind("window 1 Vantrel.htm", 0) == 0;
  EXPECT_TRUE(shown);
  // The next look for the player meets it stuck again and gives up as well.
  vantrel.SendLine("advance 30000");
  ASSERT_TRUE(vantrel.Sync());
  vantrel.SendLine("quit");
  EXPECT_EQ(vantrel.Wait(), 0);

  ::kill(player.Pid(), SIGCONT);
  RunToEnd(Ctl("quit"));
}

// Logout (SIGTERM), Ctrl+C (SIGINT) and a closed terminal (SIGHUP) end
// Vantrel as "Exit" with Yes does, without asking: its settings and window
// place stored, exit code 0, and its socket gone.
TEST_F(VantrelProcessTest, EachEndingSignalEndsItAsExitDoes) {
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    // What the run must store again.
    WriteProfileBinary("Position", "Vantrel", reinterpret_cast<const BYTE*>("gone"), 4);
    WriteProfileInt("Startup", "MinITunes", 7);
    ChildProcess vantrel({VANTREL_BINARY});
    ASSERT_TRUE(vantrel.Started());
    ASSERT_TRUE(vantrel.Sync());
    ASSERT_TRUE(std::filesystem::exists(home.Path() + "/run/vantrel.sock"));
    ASSERT_EQ(::kill(vantrel.Pid(), signal), 0);
    EXPECT_EQ(vantrel.Wait("advance 100\n"), 0);
    EXPECT_FALSE(std::filesystem::exists(home.Path() + "/run/vantrel.sock"));
    platform::ReloadProfile();
    EXPECT_EQ(GetProfileInt("Startup", "MinITunes", 7), 1u);
    std::vector<BYTE> placement;
    EXPECT_TRUE(GetProfileBinary("Position", "Vantrel", placement));
    EXPECT_EQ(placement.size(), 44u);
  }
}

// The configuration folder cannot be written at the end (it became a file,
// or its disk read-only): Vantrel says so once, on standard error and in a
// message, and still ends as Exit does.
TEST_F(VantrelProcessTest, SettingsThatCannotBeSavedAreSaidOnce) {
  const std::string config = home.Path() + "/config/zorva";
  for (const bool aFile : {true, false}) {
    SCOPED_TRACE(aFile ? "a file" : "read-only");
    std::optional<SmallDisk> disk;
    if (!aFile) {
      disk.emplace(config, "1m");
      ASSERT_TRUE(disk->Mounted());
    }
    WriteProfileInt("Startup", "MinITunes", 7);  // to be stored again
    const std::string errors = home.Path() + "/vantrel.err";
    ChildProcess vantrel({"/bin/sh", "-c", "exec \"$0\" 2>\"$1\"", VANTREL_BINARY, errors});
    ASSERT_TRUE(vantrel.Sync());
    if (aFile) {
      std::filesystem::rename(config, config + ".kept");
      std::ofstream(config) << "a file";
    } else {
      ASSERT_TRUE(disk->MakeReadOnly());
    }
    ASSERT_EQ(::kill(vantrel.Pid(), SIGTERM), 0);
    EXPECT_EQ(vantrel.Wait("advance 100\n"), 0);
    std::ifstream err(errors);
    const std::string said((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
    const std::string line = "vantrel: Vantrel could not save its settings";
    EXPECT_NE(said.find(line + ", window place and upload options in " + config + "/profile.json"), std::string::npos)
        << said;
    EXPECT_EQ(said.find(line), said.rfind(line)) << said;
    EXPECT_FALSE(std::filesystem::exists(home.Path() + "/run/vantrel.sock"));
    if (aFile) {
      std::filesystem::remove(config);
      std::filesystem::rename(config + ".kept", config);
    }
  }
}

}  // namespace

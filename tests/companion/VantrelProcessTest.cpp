// The real Vantrel program, headless on a scripted desktop: the player
// stand-in on a manual clock, the loopback profile and status services.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/xmlhttp/UrlEncode.h"
#include "platform/xmlhttp/XmlDocument.h"
#include "tests/companion/CompanionTestSupport.h"

extern char** environ;

namespace {

using namespace zorva_test;
using Clock = std::chrono::steady_clock;

// A child process with its standard input and output on pipes.
class Child {
 public:
  explicit Child(const std::vector<std::string>& argv) {
    int in[2];
    int out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    for (int fd : {in[0], in[1], out[0], out[1]}) posix_spawn_file_actions_addclose(&actions, fd);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    toChild_ = in[1];
    fromChild_ = out[0];
  }
  ~Child() {
    if (toChild_ >= 0) ::close(toChild_);
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (fromChild_ >= 0) ::close(fromChild_);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool Started() const { return pid_ > 0; }
  void Send(const std::string& line) {
    const std::string text = line + "\n";
    ASSERT_EQ(::write(toChild_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  // Reads output until a line equal to `wanted`, for at most `seconds`;
  // everything read is kept in Output().
  bool WaitForLine(const std::string& wanted, int seconds = 60) {
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < deadline) {
      for (std::size_t end = pending_.find('\n'); end != std::string::npos; end = pending_.find('\n')) {
        const std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        output_ += line + "\n";
        if (line == wanted) return true;
      }
      pollfd fd{fromChild_, POLLIN, 0};
      if (::poll(&fd, 1, 200) <= 0) continue;
      char buffer[4096];
      const ssize_t got = ::read(fromChild_, buffer, sizeof buffer);
      if (got <= 0) return false;
      pending_.append(buffer, static_cast<std::size_t>(got));
    }
    return false;
  }
  // Sends a sync and waits until the program has handled everything before it.
  bool Sync() {
    const std::string token = std::to_string(++syncs_);
    Send("sync " + token);
    return WaitForLine("sync " + token);
  }
  int Wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  const std::string& Output() const { return output_; }

 private:
  pid_t pid_ = -1;
  int toChild_ = -1;
  int fromChild_ = -1;
  bool exited_ = false;
  int syncs_ = 0;
  std::string pending_;
  std::string output_;
};

// Runs a command to its end and gives its standard output.
std::string RunToEnd(const std::vector<std::string>& argv) {
  Child child(argv);
  child.WaitForLine("\x01", 20);  // reads until the output ends
  child.Wait();
  return child.Output();
}

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

  Child player({ZORVA_PLAYER_BINARY, "serve", "--sample", "--manual-clock", "--socket", socket_});
  ASSERT_TRUE(player.Started());
  std::string status;
  for (int i = 0; i < 100 && status.find("state:") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the server process coming up
    status = RunToEnd(Ctl("status"));
  }
  ASSERT_NE(status.find("state:"), std::string::npos);
  const Playing playing = ParsePlaying(RunToEnd(Ctl("play")));
  ASSERT_FALSE(playing.name.empty());

  Child vantrel({VANTREL_BINARY});
  ASSERT_TRUE(vantrel.Started());
  ASSERT_TRUE(vantrel.Sync());
  vantrel.Send("advance 29000");
  ASSERT_TRUE(vantrel.Sync());
  EXPECT_TRUE(server.Requests().empty());

  // The player found at 30 s; the track then plays 25 s, and the next polls
  // submit it once.
  vantrel.Send("advance 1000");
  ASSERT_TRUE(vantrel.Sync());
  RunToEnd(Ctl("advance", "25000"));
  for (int poll = 0; poll < 3; ++poll) {
    vantrel.Send("advance 2000");
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

  vantrel.Send("hotkey 3 84");  // Ctrl+Alt+T
  ASSERT_TRUE(vantrel.Sync());
  const auto statuses = RequestsTo("/statuses/update.xml");
  ASSERT_EQ(statuses.size(), 1u);
  EXPECT_EQ(statuses[0].body, "status=" + platform::xmlhttp::UrlEncode("Listening to " + playing.name + " by " +
                                                                        playing.artist + "... See my recent tracks on " +
                                                                        server.Url("/user/alice") + " Zorva Live"));

  vantrel.Send("quit");
  EXPECT_EQ(vantrel.Wait(), 0);
  RunToEnd(Ctl("quit"));
}

}  // namespace

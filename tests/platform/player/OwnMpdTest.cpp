// Which player the programs choose, and Zorva's own MPD when none answers:
// where it starts, that a stuck one is not joined by a second, and that its
// files are the user's alone.
#include "platform/player/mpd/MpdPlayer.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/player/ITunes.h"
#include "platform/player/PlayerActivation.h"
#include "tests/platform/player/MpdPlayerFixture.h"

namespace {

namespace pp = platform::player;
using zorva_test::PumpUntil;
using zorva_test::ScopedEnv;
using zorva_test::TempFolder;
using zorva_test::TestMpd;
using zorva_test::Tracks;
using zorva_test::TrackView;

// The MPD processes whose command line names `config`.
std::vector<pid_t> ProcessesOn(const std::string& config) {
  std::vector<pid_t> pids;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    std::ifstream file(entry.path() / "cmdline");
    const std::string line((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (line.find(config) != std::string::npos && line.rfind("mpd", 0) == 0)
      pids.push_back(std::atoi(entry.path().filename().c_str()));
  }
  return pids;
}

// Which player the programs take, and Zorva's own MPD when none answers.
class OwnMpdTest : public ::testing::Test {
 protected:
  OwnMpdTest() { std::filesystem::create_directories(home_.File("run")); }
  ~OwnMpdTest() override { EndOwnMpd(); }

  // Ends every MPD the test had started on its configuration.
  void EndOwnMpd() {
    for (pid_t pid : ProcessesOn(home_.File("run/zorva-mpd/mpd.conf"))) {
      ::kill(pid, SIGCONT);
      ::kill(pid, SIGTERM);
      PumpUntil([pid] { return ::kill(pid, 0) != 0; });
    }
  }

  std::string Titles() {
    std::shared_ptr<pp::IiTunes> app;
    if (pp::CoCreateITunesApp(&app) != S_OK) return "no player";
    std::shared_ptr<pp::IITPlaylist> library;
    app->get_LibraryPlaylist(&library);
    std::string titles;
    for (const TrackView& t : Tracks(library)) titles += t.name + ";";
    return titles;
  }

  TempFolder home_;
  ScopedEnv homeEnv_{"HOME", home_.Path()};
  ScopedEnv runtime_{"XDG_RUNTIME_DIR", home_.File("run")};
  ScopedEnv data_{"XDG_DATA_HOME", home_.File("data")};
  ScopedEnv config_{"XDG_CONFIG_HOME", home_.File("config")};
  ScopedEnv music_{"XDG_MUSIC_DIR", nullptr};
  ScopedEnv host_{"MPD_HOST", nullptr};
  ScopedEnv port_{"MPD_PORT", nullptr};
  ScopedEnv socket_{"ZORVA_PLAYER_SOCKET", nullptr};
  ScopedEnv player_{"ZORVA_PLAYER", nullptr};
};

TEST_F(OwnMpdTest, ThePlayerNamedElseAnMpdThatAnswersElseTheStandInThatAnswersElseMpdWhenInstalled) {
  struct Case {
    const char* named;
    pp::PlayerKind chosen;
  };
  for (const Case& c : {Case{"stand-in", pp::PlayerKind::StandIn}, Case{"mpd", pp::PlayerKind::Mpd}}) {
    ScopedEnv named("ZORVA_PLAYER", c.named);
    EXPECT_EQ(pp::ChosenPlayer(), c.chosen) << c.named;
  }
  {
    ScopedEnv socket("ZORVA_PLAYER_SOCKET", home_.File("run/elsewhere.sock"));
    EXPECT_EQ(pp::ChosenPlayer(), pp::PlayerKind::StandIn);
  }
  // Nothing answers: MPD, since it is installed; without it on the path, the stand-in.
  EXPECT_EQ(pp::ChosenPlayer(), pp::PlayerKind::Mpd);
  {
    ScopedEnv path("PATH", home_.Path());
    EXPECT_FALSE(pp::MpdInstalled());
    EXPECT_EQ(pp::ChosenPlayer(), pp::PlayerKind::StandIn);
  }
  // A stand-in that answers is taken over starting an MPD.
  {
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = home_.File("run/zorva-player.sock");
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    EXPECT_EQ(pp::ChosenPlayer(), pp::PlayerKind::StandIn);
    ::close(listener);
    std::filesystem::remove(path);
  }
  // An MPD where the user's clients look is taken.
  TestMpd mpd;
  mpd.Start();
  ScopedEnv unnamed("ZORVA_PLAYER", nullptr);
  EXPECT_EQ(pp::ChosenPlayer(), pp::PlayerKind::Mpd);
}

TEST_F(OwnMpdTest, StartsOnTheUsersMusicWhenItHoldsAudioElseOnTheSampleBesideThePrograms) {
  const std::string programs = home_.File("bin");
  ASSERT_TRUE(zorva_test::MakeSong(programs + "/sample-music/Kiri/1.ogg", "Sample Tone", "Kiri", "Ambient", 1, 300));
  std::filesystem::create_directories(home_.File("Music"));
  std::shared_ptr<pp::IiTunes> none;
  EXPECT_EQ(pp::CoCreateITunesApp(&none), pp::CO_E_SERVER_EXEC_FAILURE);  // nothing registered to start one

  pp::RegisterPlayerActivator([&] { return pp::StartPlayerServer(programs + "/zorva-player", 60000); });
  EXPECT_EQ(Titles(), "Sample Tone;");
  const std::string config = home_.File("run/zorva-mpd/mpd.conf");
  std::ifstream text(config);
  const std::string written((std::istreambuf_iterator<char>(text)), std::istreambuf_iterator<char>());
  EXPECT_NE(written.find("type \"" + pp::OwnMpdAudioOutput() + "\""), std::string::npos) << written;
  EndOwnMpd();
  EXPECT_FALSE(pp::IsPlayerRunning());

  // With a song in ~/Music it serves that.
  ASSERT_TRUE(zorva_test::MakeSong(home_.File("Music/Mine/1.ogg"), "My Tone", "Me", "Folk", 1, 400));
  EXPECT_EQ(Titles(), "My Tone;");
  pp::RegisterPlayerActivator({});
}

}  // namespace

namespace {

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

TEST_F(OwnMpdTest, AnOwnMpdThatDoesNotAnswerIsNotJoinedByASecondOne) {
  ASSERT_TRUE(zorva_test::MakeSong(home_.File("Music/Mine/1.ogg"), "My Tone", "Me", "Folk", 1, 400));
  ASSERT_TRUE(pp::StartOwnMpd(home_.File("Music"), 60000));
  const std::string config = home_.File("run/zorva-mpd/mpd.conf");
  std::ifstream pidFile(home_.File("run/zorva-mpd/pid"));
  pid_t first = 0;
  ASSERT_TRUE(pidFile >> first);
  ::kill(first, SIGSTOP);
  EXPECT_FALSE(pp::StartOwnMpd(home_.File("Music"), 3000));
  EXPECT_EQ(ProcessesOn(config).size(), 1u);
  std::ifstream after(home_.File("run/zorva-mpd/pid"));
  pid_t named = 0;
  after >> named;
  EXPECT_EQ(named, first);
  ::kill(first, SIGCONT);
  // Once it answers again it is the player, and still the only one.
  EXPECT_TRUE(pp::StartOwnMpd(home_.File("Music"), 60000));
  EXPECT_EQ(ProcessesOn(config).size(), 1u);
}

TEST_F(OwnMpdTest, ItsFoldersAndFilesAreTheUsersAlone) {
  ASSERT_TRUE(zorva_test::MakeSong(home_.File("Music/Mine/1.ogg"), "My Tone", "Me", "Folk", 1, 400));
  // An older start left them open to others.
  const std::string zorva = home_.File("data/Zorva");
  std::filesystem::create_directories(zorva + "/mpd/playlists");
  std::ofstream(zorva + "/mpd/sticker.sql").flush();
  std::ofstream(zorva + "/mpd/playlists/Old.m3u") << "Mine/1.ogg\n";
  for (const std::string& folder : {zorva, zorva + "/mpd", zorva + "/mpd/playlists"}) ::chmod(folder.c_str(), 0755);
  ::chmod((zorva + "/mpd/playlists/Old.m3u").c_str(), 0644);
  ::chmod((zorva + "/mpd/sticker.sql").c_str(), 0644);

  ASSERT_TRUE(pp::StartOwnMpd(home_.File("Music"), 60000));
  std::shared_ptr<pp::IiTunes> app;
  ASSERT_EQ(pp::CoCreateITunesApp(&app), S_OK);
  std::shared_ptr<pp::IITPlaylist> made;
  ASSERT_EQ(app->CreatePlaylist("New", &made), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return std::filesystem::exists(zorva + "/mpd/playlists/New.m3u"); }));
  std::vector<std::string> files = {zorva + "/mpd/sticker.sql"};
  for (const auto& entry : std::filesystem::recursive_directory_iterator(zorva)) {
    if (entry.is_directory())
      EXPECT_EQ(ModeOf(entry.path()), 0700u) << entry.path();
    else
      files.push_back(entry.path());
  }
  EXPECT_EQ(ModeOf(zorva), 0700u);
  for (const std::string& file : files) EXPECT_EQ(ModeOf(file) & 077, 0u) << file;
  bool db = false;
  for (const std::string& file : files) db |= file.find("/db-") != std::string::npos;
  EXPECT_TRUE(db);
}

}  // namespace

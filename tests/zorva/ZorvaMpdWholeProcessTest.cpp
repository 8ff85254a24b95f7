// The whole program Zorva as a real process on a real MPD (label e2e): MPD
// started by the test on generated songs, Zorva headless on the scripted
// desktop. What a user hears of a pause: its own pause keeps the place, and
// a pause or a stop made at another client stays.
#include <gtest/gtest.h>
#include <mpd/client.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/MusicDB.h"
#include "core/Track.h"
#include "platform/profile/Profile.h"
#include "tests/platform/player/MpdTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"
#include "tests/zorva/WholeProcessTestSupport.h"

namespace {

using zorva_test::ChildProcess;
using zorva_test::ScopedEnv;
using zorva_test::TempFolder;
using zorva_test::TestMpd;

struct Heard {
  mpd_state state = MPD_STATE_UNKNOWN;
  long elapsedMs = -1;
};

Heard Look(TestMpd& mpd) {
  Heard heard;
  auto c = mpd.Open();
  mpd_status* status = c ? mpd_run_status(c.get()) : nullptr;
  if (!status) return heard;
  heard.state = mpd_status_get_state(status);
  heard.elapsedMs = static_cast<long>(mpd_status_get_elapsed_ms(status));
  mpd_status_free(status);
  return heard;
}

// Zorva's play/pause hot key, then what MPD says; `tookMs`: how long the
// answer and the look took (MPD plays on meanwhile).
Heard PlayPause(ChildProcess& zorva, TestMpd& mpd, long* tookMs = nullptr) {
  const auto asked = std::chrono::steady_clock::now();
  zorva.Ask("hotkey 3 80\nsync -\n");
  const Heard heard = Look(mpd);
  if (tookMs) {
    *tookMs = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - asked).count());
  }
  return heard;
}

class ZorvaMpdWholeProcessTest : public ::testing::Test {
 protected:
  ZorvaMpdWholeProcessTest() { zorva_test::PrepareWholeProcessHome(home_); }
  ~ZorvaMpdWholeProcessTest() override { platform::ReloadProfile(); }

  // Songs in MPD's folder and, as a scan would leave them, in Zorva's database.
  void PrepareSongs() {
    MusicDB db(home_.File("data/Zorva/music.db"));
    ScopedMusicDB installed(db);
    for (int i = 1; i <= 3; ++i) {
      const std::string path = mpd_.Music() + "/Kiri/Salt/s" + std::to_string(i) + ".ogg";
      ASSERT_TRUE(zorva_test::MakeSong(path, "Song " + std::to_string(i), "Kiri", "Ambient", 40, 300 + 100 * i));
      Track track;
      track.name = "Song " + std::to_string(i);
      track.artist = "Kiri";
      track.album = "Salt";
      track.genre = "Ambient";
      track.location = path;
      track.length = 40;
      ASSERT_TRUE(db.AddOrUpdateTrack(track));
    }
    WriteProfileInt("Startup", "ScheduleOn", 0);
    WriteProfileInt("Version", "CheckDay", 5);
    WriteProfileInt("Version", "CheckMonth", 1);
    WriteProfileInt("Version", "CheckYear", 2026);
  }

  // Moves Zorva's clock on in the steps of its player poll, for `ms` of real
  // time as well (MPD plays in real time).
  void Run(ChildProcess& zorva, int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
      zorva.Ask("advance 500\nsync -\n");
      std::this_thread::sleep_for(std::chrono::milliseconds(100));  // real time for MPD to play
    }
  }
  // Runs Zorva until `done` holds, for at most a minute.
  bool RunUntil(ChildProcess& zorva, const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
      if (std::chrono::steady_clock::now() > until) return false;
      Run(zorva, 100);
    }
    return true;
  }

  // Zorva started on its songs and its own data folder, through the test's
  // MPD, three seconds into a song of its mix.
  void StartPlaying(std::unique_ptr<ChildProcess>& zorva) {
    std::filesystem::create_directories(home_.File("data/Zorva"));
    data_.emplace("XDG_DATA_HOME", home_.File("data"));
    PrepareSongs();
    ASSERT_FALSE(HasFatalFailure());
    mpd_.Start();
    zorva = std::make_unique<ChildProcess>(std::vector<std::string>{ZORVA_BINARY});
    ASSERT_TRUE(zorva->Started());
    ASSERT_TRUE(RunUntil(*zorva, [&] {
      const Heard h = Look(mpd_);
      return h.state == MPD_STATE_PLAY && h.elapsedMs >= 3000;
    }));
  }

  TempFolder home_;
  ScopedEnv homeEnv_{"HOME", home_.Path()};
  ScopedEnv runtime_{"XDG_RUNTIME_DIR", home_.File("run")};
  ScopedEnv config_{"XDG_CONFIG_HOME", home_.File("config")};
  ScopedEnv music_{"XDG_MUSIC_DIR", nullptr};
  ScopedEnv headless_{"ZORVA_HEADLESS", "1"};
  ScopedEnv desktop_{"ZORVA_DESKTOP_CONTROL", "1"};
  ScopedEnv internet_{"ZORVA_INTERNET_CONNECTED", "0"};
  ScopedEnv web_{"ZORVA_WEB_URL", "http://127.0.0.1:9"};
  ScopedEnv live_{"ZORVA_LIVE_URL", "http://127.0.0.1:9"};
  TestMpd mpd_;                                 // sets MPD_HOST, ZORVA_PLAYER and XDG_DATA_HOME
  ScopedEnv tmp_{"TMPDIR", home_.File("tmp")};  // made in the constructor
  std::optional<ScopedEnv> data_;
};

TEST_F(ZorvaMpdWholeProcessTest, ItsOwnPauseKeepsThePlaceAndAPauseElsewhereStays) {
  std::unique_ptr<ChildProcess> started;
  StartPlaying(started);
  ASSERT_FALSE(HasFatalFailure());
  ChildProcess& zorva = *started;

  // It plays a song of its mix; three seconds in, its own control pauses.
  const Heard paused = PlayPause(zorva, mpd_);
  EXPECT_EQ(paused.state, MPD_STATE_PAUSE);
  Run(zorva, 2000);
  EXPECT_EQ(Look(mpd_).state, MPD_STATE_PAUSE);
  // Played on from the place: within 0.5 s of it, besides what MPD played
  // while the test waited for the answer.
  long waited = 0;
  const Heard resumed = PlayPause(zorva, mpd_, &waited);
  EXPECT_EQ(resumed.state, MPD_STATE_PLAY);
  EXPECT_GE(resumed.elapsedMs, paused.elapsedMs);
  EXPECT_LT(resumed.elapsedMs, paused.elapsedMs + 500 + waited);

  // Another client pauses: ten seconds later it is still paused there.
  auto other = mpd_.Open();
  ASSERT_TRUE(other);
  ASSERT_TRUE(mpd_run_pause(other.get(), true));
  const Heard elsewhere = Look(mpd_);
  Run(zorva, 10000);
  const Heard after = Look(mpd_);
  EXPECT_EQ(after.state, MPD_STATE_PAUSE);
  EXPECT_EQ(after.elapsedMs, elsewhere.elapsedMs);
  // Its own control then plays on from there.
  long took = 0;
  const Heard played = PlayPause(zorva, mpd_, &took);
  EXPECT_EQ(played.state, MPD_STATE_PLAY);
  EXPECT_GE(played.elapsedMs, elsewhere.elapsedMs);
  EXPECT_LT(played.elapsedMs, elsewhere.elapsedMs + 500 + took);

  zorva.Send("quit\n");
  EXPECT_EQ(zorva.Wait(), 0);
}

// Another client stopping the song in its middle is the user stopping it
// there: ten seconds later MPD is still stopped (Zorva started no next pick),
// and Zorva's own control plays again.
TEST_F(ZorvaMpdWholeProcessTest, AStopElsewhereMidSongStays) {
  std::unique_ptr<ChildProcess> started;
  StartPlaying(started);
  ASSERT_FALSE(HasFatalFailure());
  ChildProcess& zorva = *started;

  auto other = mpd_.Open();
  ASSERT_TRUE(other);
  ASSERT_TRUE(mpd_run_stop(other.get()));
  Run(zorva, 10000);
  EXPECT_EQ(Look(mpd_).state, MPD_STATE_STOP);
  EXPECT_EQ(PlayPause(zorva, mpd_).state, MPD_STATE_PLAY);

  zorva.Send("quit\n");
  EXPECT_EQ(zorva.Wait(), 0);
}

}  // namespace

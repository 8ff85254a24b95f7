// Both real programs on a real MPD (label e2e): Zorva, headless on
// the scripted desktop, plays five short songs in real time through MPD, one
// after another as each ends, and records each play; Vantrel, on the same
// MPD, reads the track that plays.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/SQLiteDB.h"
#include "core/Track.h"
#include "platform/xmlhttp/UrlEncode.h"
#include "tests/companion/CompanionTestSupport.h"
#include "tests/platform/player/MpdTestSupport.h"
#include "tests/support/ChildProcess.h"

namespace {

using namespace zorva_test;

const std::vector<std::string> kNames = {"Low Tide", "Harbour Lights", "Glass Floats", "Salt Road", "Gull Song"};

class MpdProcessTest : public ::testing::Test, public CompanionFixture {
 protected:
  MpdProcessTest() { signal(SIGPIPE, SIG_IGN); }

  // The songs, in MPD's folder and in the music database Zorva finds.
  void MakeLibrary() {
    for (std::size_t i = 0; i < kNames.size(); ++i) {
      const std::string path = mpd_.Music() + "/Kiri/" + std::to_string(i + 1) + " " + kNames[i] + ".ogg";
      ASSERT_TRUE(MakeSong(path, kNames[i], "Kiri", "Ambient", i % 2 ? 2.0 : 3.0, 300 + 40 * static_cast<int>(i)));
      Track track;
      track.name = kNames[i];
      track.artist = "Kiri";
      track.album = "Salt";
      track.genre = "Ambient";
      track.location = path;
      track.length = i % 2 ? 2 : 3;
      ASSERT_TRUE(db.AddOrUpdateTrack(track));
    }
    mpd_.Start();
  }

  int Count(const std::string& sql) {
    SQLiteDB reader;
    if (!reader.Open(home.Path() + "/data/Zorva/music.db")) return -1;
    SQLiteRowSet rows;
    if (reader.Query(sql, rows) != 0 || rows.empty()) return -1;
    return rows.front().GetInt("n");
  }

  std::string Text(ChildProcess& zorva, const std::string& id) {
    const auto answer = zorva.Ask("text Zorva.htm " + id + "\n");
    return answer.size() == 1 && answer[0].rfind("text ", 0) == 0 ? answer[0].substr(5) : "";
  }

  TestMpd mpd_;
  // The programs' data beside the music database, not in the MPD's folder.
  ScopedEnv data_{"XDG_DATA_HOME", home.Path() + "/data"};
  ScopedEnv home_{"HOME", home.Path()};
  ScopedEnv headless_{"ZORVA_HEADLESS", "1"};
  ScopedEnv desktop_{"ZORVA_DESKTOP_CONTROL", "1"};
  ScopedEnv web_{"ZORVA_WEB_URL", server.BaseUrl()};
  ScopedEnv tmp_{"TMPDIR", home.Path()};
};

TEST_F(MpdProcessTest, ZorvaPlaysThreeSongsInRealTimeAndVantrelReadsThePlayingOne) {
  MakeLibrary();
  ASSERT_FALSE(HasFatalFailure());

  ChildProcess zorva({ZORVA_BINARY});
  ASSERT_TRUE(zorva.Started());
  // Its page filled: a track plays and the queue below it is full. Zorva's
  // clock moves in the steps of its player poll; MPD plays in real time.
  std::vector<std::string> shown;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  bool queued = false;
  while ((shown.size() < 3 || !queued) && std::chrono::steady_clock::now() < deadline) {
    zorva.Ask("advance 500\nsync -\n");
    // Before a track plays the place shows the scan's status.
    const std::string name = Text(zorva, "trackname");
    const bool track = std::find(kNames.begin(), kNames.end(), name) != kNames.end();
    if (track && (shown.empty() || shown.back() != name)) shown.push_back(name);
    queued = queued || !Text(zorva, "track10").empty();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // MPD playing on
  }
  EXPECT_TRUE(queued);
  ASSERT_GE(shown.size(), 3u);
  for (const std::string& name : shown) {
    // Each one shown was recorded as played.
    EXPECT_GE(Count("SELECT COUNT(*) AS n FROM trackPlayRecord r JOIN track t ON t.id = r.trackid WHERE t.name = '" +
                    name + "'"),
              1)
        << name;
  }
  EXPECT_GE(Count("SELECT COUNT(*) AS n FROM trackPlayRecord"), 3);

  // Vantrel finds the same player when its page is filled, reads the
  // playing track every 2 s, and names it when Ctrl+Alt+T posts it.
  WriteAccount("alice", "secret");
  WriteProfileString("upload", "TwitterName", "tweeter");
  WriteProfileString("upload", "TwitterPassword", "pw");
  WebAnswer accept;
  accept.headers = {{"Content-Type", "text/xml"}};
  accept.body = Response("<status>0</status>");
  server.SetDefaultAnswer(accept);
  ChildProcess vantrel({VANTREL_BINARY});
  ASSERT_TRUE(vantrel.Started());
  ASSERT_TRUE(vantrel.Sync());
  vantrel.SendLine("advance 30000");
  ASSERT_TRUE(vantrel.Sync());
  vantrel.SendLine("advance 2000");
  ASSERT_TRUE(vantrel.Sync());
  vantrel.SendLine("hotkey 3 84");
  ASSERT_TRUE(vantrel.Sync());
  const auto statuses = RequestsTo("/statuses/update.xml");
  ASSERT_EQ(statuses.size(), 1u);
  const std::string prefix = "status=" + platform::xmlhttp::UrlEncode("Listening to ");
  ASSERT_EQ(statuses[0].body.rfind(prefix, 0), 0u) << statuses[0].body;
  EXPECT_TRUE(std::any_of(kNames.begin(), kNames.end(), [&](const std::string& name) {
    return statuses[0].body.rfind(prefix + platform::xmlhttp::UrlEncode(name + " by Kiri"), 0) == 0;
  })) << statuses[0].body;

  vantrel.SendLine("quit");
  EXPECT_EQ(vantrel.Wait(), 0);
  // MPD quits: Zorva ends with its player.
  mpd_.Stop();
  EXPECT_EQ(zorva.Wait("advance 100\n"), 0);
}

}  // namespace

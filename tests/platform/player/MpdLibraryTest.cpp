// The library on a real MPD: ids that stay, ratings, every song whatever its
// date or tags, rescans and retagged songs, and a library larger than one
// answer of MPD.
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
using namespace zorva_test;

TEST_F(MpdPlayerTest, ReadsTheLibraryWithIdsThatStayAcrossARestartAndARescan) {
  EXPECT_EQ(pp::ChosenPlayer(), pp::PlayerKind::Mpd);
  EXPECT_TRUE(pp::IsPlayerRunning());
  auto app = App();
  std::shared_ptr<pp::IITPlaylist> library;
  ASSERT_EQ(app->get_LibraryPlaylist(&library), S_OK);
  const std::vector<TrackView> tracks = Tracks(library);
  ASSERT_EQ(tracks.size(), 4u);
  EXPECT_EQ(tracks[0].name, "Tone 1");
  EXPECT_EQ(tracks[0].artist, "Kiri");
  EXPECT_EQ(tracks[0].genre, "Ambient");
  EXPECT_EQ(tracks[0].location, Song(1));
  EXPECT_EQ(tracks[0].kind, pp::ITTrackKindFile);
  EXPECT_EQ(tracks[3].time, "0:01");
  std::set<long> distinct;
  for (const TrackView& t : tracks) distinct.insert(t.id);
  EXPECT_EQ(distinct.size(), 4u);
  EXPECT_EQ(distinct.count(0), 0u);
  const auto before = IdsByLocation(app);
  app.reset();

  // The same ids after MPD starts again, from a new application object.
  mpd_.Stop();
  EXPECT_FALSE(pp::IsPlayerRunning());
  mpd_.Start();
  EXPECT_EQ(IdsByLocation(App()), before);

  // A song removed and one added: the others keep theirs, the new one gets a
  // new id, and the removed one gets its own back when it returns.
  std::filesystem::rename(Song(2), mpd_.Folder().File("t2.ogg"));
  ASSERT_NO_FATAL_FAILURE(AddSongs({{mpd_.Music() + "/Kiri/t5.ogg", "Tone 5", "Kiri", "Folk", 1, 500}}));
  auto after = IdsByLocation(App());
  EXPECT_EQ(after.count(Song(2)), 0u);
  ASSERT_EQ(after.count(Song(5)), 1u);
  EXPECT_EQ(distinct.count(after[Song(5)]), 0u);
  for (int i : {1, 3, 4}) EXPECT_EQ(after[Song(i)], before.at(Song(i)));
  std::filesystem::rename(mpd_.Folder().File("t2.ogg"), Song(2));
  mpd_.Update();
  after = IdsByLocation(App());
  EXPECT_EQ(after[Song(2)], before.at(Song(2)));

  // A track found by its id.
  std::shared_ptr<pp::IITObject> object;
  ASSERT_EQ(App()->GetITObjectByID(1, 0, 0, before.at(Song(3)), &object), S_OK);
  EXPECT_EQ(View(pp::QueryInterface<pp::IITTrack>(object)).name, "Tone 3");
}

TEST_F(MpdPlayerTest, RatingsComeFromTheRatingSticker) {
  {
    auto c = mpd_.Open();
    ASSERT_TRUE(mpd_run_sticker_set(c.get(), "song", "Kiri/t3.ogg", "rating", "80"));
  }
  std::shared_ptr<pp::IITPlaylist> library;
  App()->get_LibraryPlaylist(&library);
  std::shared_ptr<pp::IITTrackCollection> tracks;
  ASSERT_EQ(library->get_Tracks(&tracks), S_OK);
  std::vector<long> ratings;
  for (long i = 1; i <= 4; ++i) {
    std::shared_ptr<pp::IITTrack> track;
    tracks->get_Item(i, &track);
    long rating = -1;
    track->get_Rating(&rating);
    ratings.push_back(rating);
  }
  EXPECT_EQ(ratings, (std::vector<long>{0, 0, 80, 0}));
}

// A song dated before 1970 is listed; a tag longer than libmpdclient's
// 4 KB line costs that tag only, on the command connection and the event
// connection alike.
TEST_F(MpdPlayerTest, EverySongIsListedWhateverItsDateOrTheLengthOfItsTags) {
  SetFileTime(Song(2), -315619200);  // 1960
  const std::string longText(5000, 'x');
  ASSERT_NO_FATAL_FAILURE(AddSongs({{mpd_.Music() + "/Kiri/t5.ogg", "Tone 5", longText, "Folk", 1, 500},
                                    {mpd_.Music() + "/Kiri/t6.ogg", longText, "Kiri", "Folk", 1, 550}}));

  auto app = App();
  RecordingSink sink;
  Advised advised(app, &sink);
  ASSERT_EQ(advised.Result(), S_OK);
  std::shared_ptr<pp::IITPlaylist> library;
  ASSERT_EQ(app->get_LibraryPlaylist(&library), S_OK);
  std::map<std::string, TrackView> byLocation;
  for (const TrackView& t : Tracks(library)) byLocation[t.location] = t;
  ASSERT_EQ(byLocation.size(), 6u);
  EXPECT_EQ(byLocation[Song(2)].name, "Tone 2");
  EXPECT_EQ(byLocation[Song(5)].name, "Tone 5");
  EXPECT_EQ(byLocation[Song(5)].artist, "");
  EXPECT_EQ(byLocation[Song(5)].genre, "Folk");
  EXPECT_EQ(byLocation[Song(6)].name, "t6");  // untitled: its file's name
  EXPECT_EQ(byLocation[Song(6)].artist, "Kiri");
  EXPECT_EQ(byLocation[Song(1)].artist, "Kiri");
  pp::ITPlayerState state;
  EXPECT_EQ(app->get_PlayerState(&state), S_OK);
  // The event connection read the library too, and a change is still heard.
  std::filesystem::remove(Song(3));
  mpd_.Update();
  EXPECT_TRUE(PumpUntil([&] { return sink.deletedRows == 1 || sink.Count(pp::ITEventQuitting) > 0; }));
  EXPECT_EQ(sink.Count(pp::ITEventQuitting), 0u);
}

// MPD's db_update has whole seconds: a rescan that ends in the second of the
// last read is still seen by an application object without events.
TEST_F(MpdPlayerTest, ARescanInTheSecondOfTheLastReadIsSeen) {
  auto app = App();
  auto updated = [&] {
    auto c = mpd_.Open();
    mpd_stats* stats = mpd_run_stats(c.get());
    const auto time = stats ? mpd_stats_get_db_update_time(stats) : 0;
    if (stats) mpd_stats_free(stats);
    return time;
  };
  bool sameSecond = false;
  for (int round = 0; round < 30 && !sameSecond; ++round) {
    const std::string song = mpd_.Music() + "/New/" + std::to_string(round) + ".ogg";
    std::filesystem::create_directories(mpd_.Music() + "/New");
    std::filesystem::copy_file(Song(4), mpd_.Music() + "/New/first" + std::to_string(round) + ".ogg");
    mpd_.Update();
    const auto before = updated();
    std::shared_ptr<pp::IITPlaylist> library;
    app->get_LibraryPlaylist(&library);
    const std::size_t count = Tracks(library).size();
    std::filesystem::copy_file(Song(4), song);
    mpd_.Update();
    sameSecond = updated() == before;
    const auto after = IdsByLocation(app);
    EXPECT_EQ(after.size(), count + 1);
    EXPECT_EQ(after.count(song), 1u) << "round " << round;
  }
  EXPECT_TRUE(sameSecond);
}

// A song whose tags changed is named in the database-changed event.
TEST_F(MpdPlayerTest, ARetaggedSongIsNamedInTheDatabaseChangedEvent) {
  auto app = App();
  RecordingSink sink;
  Advised advised(app, &sink);
  ASSERT_EQ(advised.Result(), S_OK);
  const auto ids = IdsByLocation(app);
  ASSERT_TRUE(zorva_test::MakeSong(Song(2), "Tone 2 retagged", "Kiri", "Folk", 2.5, 400));
  // MPD tells a changed file by its time in whole seconds.
  SetFileTime(Song(2), 978307200);
  mpd_.Update();
  EXPECT_TRUE(PumpUntil([&] { return sink.changedIds.count(ids.at(Song(2))) == 1; }));
  EXPECT_EQ(sink.changedIds.count(ids.at(Song(1))), 0u);
  EXPECT_EQ(sink.deletedRows, 0u);
}

// MPD builds each answer whole and drops a client whose answer outgrows its
// output buffer (here 1 MB instead of 8, so 12,000 songs are enough to
// outgrow it): the library is still read whole, with stable ids, and the
// player has not quit.
TEST(MpdLargeLibraryTest, ALibraryLargerThanOneAnswerOfMpdIsReadWhole) {
  TestMpd mpd("max_output_buffer_size \"1024\"\n");
  constexpr int kSongs = 12000;
  const std::string first = mpd.Music() + "/a/0.ogg";
  ASSERT_TRUE(zorva_test::MakeSong(first, "Tone", "Kiri", "Ambient", 0.1, 300));
  for (int i = 1; i < kSongs; ++i)
    std::filesystem::create_hard_link(first, mpd.Music() + "/a/" + std::to_string(i) + ".ogg");
  mpd.Start();

  std::shared_ptr<pp::IiTunes> app;
  ASSERT_EQ(pp::CoCreateITunesApp(&app), S_OK);
  RecordingSink sink;
  Advised advised(app, &sink);
  ASSERT_EQ(advised.Result(), S_OK);
  const auto ids = IdsByLocation(app);
  ASSERT_EQ(ids.size(), static_cast<std::size_t>(kSongs));
  std::set<long> distinct;
  for (const auto& [location, id] : ids) distinct.insert(id);
  EXPECT_EQ(distinct.size(), ids.size());
  EXPECT_EQ(distinct.count(0), 0u);

  // The event connection read it too: a song added takes no song away.
  std::filesystem::create_hard_link(first, mpd.Music() + "/a/new.ogg");
  mpd.Update();
  EXPECT_TRUE(PumpUntil([&] { return sink.databaseChanges > 0 || sink.Count(pp::ITEventQuitting) > 0; }));
  EXPECT_EQ(sink.Count(pp::ITEventQuitting), 0u);
  EXPECT_EQ(sink.deletedRows, 0u);
  std::shared_ptr<pp::IiTunes> again;
  ASSERT_EQ(pp::CoCreateITunesApp(&again), S_OK);
  auto after = IdsByLocation(again);
  EXPECT_EQ(after.size(), ids.size() + 1);
  after.erase(mpd.Music() + "/a/new.ogg");
  EXPECT_EQ(after, ids);
}

}  // namespace

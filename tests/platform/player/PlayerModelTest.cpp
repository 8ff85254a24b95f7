#include "platform/player/standin/PlayerModel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <fstream>

#include "platform/kernel/Clock.h"
#include "tests/platform/player/PlayerTestSupport.h"

namespace {

using namespace platform::player;
using player_test::SmallLibrary;

class PlayerModelTest : public ::testing::Test {
 protected:
  PlayerModelTest() : scoped_(clock_), model_(SmallLibrary()) {
    model_.AddListener([this](const PlayerEvent& e) { events_.push_back(e); });
  }

  std::vector<DISPID> Ids() const {
    std::vector<DISPID> ids;
    for (const auto& e : events_) ids.push_back(e.id);
    return ids;
  }
  ObjectRef Playlist(long index) {
    ObjectRef source, playlist;
    EXPECT_EQ(model_.GetLibrarySource(&source), S_OK);
    EXPECT_EQ(model_.GetPlaylistItem(source, index, &playlist), S_OK);
    return playlist;
  }
  ObjectRef Track(const ObjectRef& playlist, long index, bool byPlayOrder = false) {
    ObjectRef track;
    EXPECT_EQ(model_.GetTrackItem(playlist, index, byPlayOrder, &track), S_OK);
    return track;
  }
  long State() {
    long state = -1;
    EXPECT_EQ(model_.GetPlayerState(&state), S_OK);
    return state;
  }
  long Position() {
    long seconds = -1;
    EXPECT_EQ(model_.GetPlayerPosition(&seconds), S_OK);
    return seconds;
  }
  long CurrentDatabaseId() {
    std::optional<ObjectRef> current;
    model_.GetCurrentTrack(&current);
    return current ? current->databaseId : 0;
  }

  platform::ManualClock clock_;
  platform::ScopedClock scoped_;
  PlayerModel model_;
  std::vector<PlayerEvent> events_;
};

TEST_F(PlayerModelTest, PlayStartsTheLibraryAndThePositionFollowsTheClock) {
  EXPECT_EQ(State(), ITPlayerStateStopped);
  ASSERT_EQ(model_.Play(), S_OK);
  EXPECT_EQ(Ids(), std::vector<DISPID>{ITEventPlayerPlay});
  ASSERT_TRUE(events_[0].track);
  EXPECT_EQ(events_[0].track->databaseId, 1);
  EXPECT_EQ(State(), ITPlayerStatePlaying);
  clock_.Advance(30500);
  EXPECT_EQ(Position(), 30);
  EXPECT_EQ(model_.NextWakeup(), clock_.Now() + 69500);
}

TEST_F(PlayerModelTest, NaturalEndPlaysTheNextEntryOfItsPlaylist) {
  ObjectRef four = Playlist(2);
  ASSERT_EQ(model_.PlayFirstTrack(four), S_OK);
  events_.clear();
  clock_.Advance(100000 + 200000 + 5000);  // through two ends
  model_.Tick();
  ASSERT_EQ(Ids(), (std::vector<DISPID>{ITEventPlayerStop, ITEventPlayerPlay, ITEventPlayerStop, ITEventPlayerPlay}));
  EXPECT_EQ(events_[0].track->databaseId, 1);
  EXPECT_EQ(events_[1].track->databaseId, 2);
  EXPECT_EQ(events_[3].track->databaseId, 3);
  EXPECT_EQ(events_[3].track->playlistId, four.playlistId);  // still inside "Four"
  EXPECT_EQ(Position(), 5);
  // The last entry's end stops the player.
  events_.clear();
  clock_.Advance(295000 + 400000);
  model_.Tick();
  EXPECT_EQ(Ids(), (std::vector<DISPID>{ITEventPlayerStop, ITEventPlayerPlay, ITEventPlayerStop}));
  EXPECT_EQ(State(), ITPlayerStateStopped);
  EXPECT_EQ(model_.NextWakeup(), platform::kForever);
}

TEST_F(PlayerModelTest, PlayFileStopsAtItsEnd) {
  ASSERT_EQ(model_.PlayFile("/music/track2.mp3"), S_OK);
  EXPECT_EQ(CurrentDatabaseId(), 2);
  events_.clear();
  clock_.Advance(200000);
  model_.Tick();
  EXPECT_EQ(Ids(), std::vector<DISPID>{ITEventPlayerStop});
  EXPECT_EQ(State(), ITPlayerStateStopped);
  EXPECT_EQ(model_.PlayFile("/no/such/file.mp3"), static_cast<HRESULT>(0x80070002u));
}

TEST_F(PlayerModelTest, PlayFileOfAFileOnDiskAddsItToTheLibrary) {
  player_test::TempDir dir;
  std::filesystem::create_directories(dir.File("Band/Record"));
  const std::string path = dir.File("Band/Record/03 New Song.mp3");
  std::ofstream(path) << std::string(48000, 'x');
  ASSERT_EQ(model_.PlayFile(path), S_OK);
  ASSERT_EQ(Ids(), (std::vector<DISPID>{ITEventDatabaseChanged, ITEventPlayerPlay}));
  TrackInfo info;
  ASSERT_EQ(model_.GetTrackInfo(*events_[1].track, &info), S_OK);
  EXPECT_EQ(info.data.name, "New Song");
  EXPECT_EQ(info.data.artist, "Band");
  EXPECT_EQ(info.data.album, "Record");
  EXPECT_EQ(info.data.seconds, 3);
  EXPECT_EQ(model_.Status().trackCount, 6);
}

TEST_F(PlayerModelTest, EachTransportCommandWhilePlayingGivesExactlyOneStop) {
  const ObjectRef four = Playlist(2);
  const std::vector<std::pair<const char*, std::function<HRESULT()>>> commands = {
      {"Play", [&] { return model_.Play(); }},
      {"Stop", [&] { return model_.Stop(); }},
      {"NextTrack", [&] { return model_.NextTrack(); }},
      {"BackTrack", [&] { return model_.BackTrack(); }},
      {"PlayFile", [&] { return model_.PlayFile("/music/track4.mp3"); }},
      {"PlayFirstTrack", [&] { return model_.PlayFirstTrack(four); }},
      {"track Play", [&] { return model_.PlayTrack(Track(four, 3)); }},
  };
  for (const auto& [name, command] : commands) {
    SCOPED_TRACE(name);
    ASSERT_EQ(model_.PlayTrack(Track(four, 2)), S_OK);
    clock_.Advance(10000);
    events_.clear();
    ASSERT_EQ(command(), S_OK);
    const auto ids = Ids();
    ASSERT_FALSE(ids.empty());
    EXPECT_EQ(ids[0], ITEventPlayerStop);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), ITEventPlayerStop), 1);
    const long plays = std::count(ids.begin(), ids.end(), ITEventPlayerPlay);
    EXPECT_EQ(plays, State() == ITPlayerStatePlaying ? 1 : 0);
  }
  // While stopped, Stop and NextTrack say nothing.
  ASSERT_EQ(model_.Stop(), S_OK);
  events_.clear();
  EXPECT_EQ(model_.Stop(), S_OK);
  EXPECT_EQ(model_.NextTrack(), S_OK);
  EXPECT_TRUE(events_.empty());
}

TEST_F(PlayerModelTest, BackTrackRestartsOrGoesBack) {
  const ObjectRef four = Playlist(2);
  ASSERT_EQ(model_.PlayTrack(Track(four, 3)), S_OK);
  clock_.Advance(30000);
  ASSERT_EQ(model_.BackTrack(), S_OK);
  EXPECT_EQ(CurrentDatabaseId(), 3);
  EXPECT_EQ(Position(), 0);
  ASSERT_EQ(model_.BackTrack(), S_OK);
  EXPECT_EQ(CurrentDatabaseId(), 2);
}

TEST_F(PlayerModelTest, QuitSendsAboutToPromptThenQuittingAndCallsFailAfterwards) {
  ASSERT_EQ(model_.Play(), S_OK);
  events_.clear();
  model_.Quit();
  EXPECT_EQ(Ids(), (std::vector<DISPID>{ITEventAboutToPromptUserToQuit, ITEventQuitting}));
  EXPECT_TRUE(model_.HasQuit());
  long state = 0;
  EXPECT_EQ(model_.GetPlayerState(&state), RPC_E_DISCONNECTED);
  EXPECT_EQ(model_.Play(), RPC_E_DISCONNECTED);
}

TEST_F(PlayerModelTest, DisabledCallsFailUntilEnabled) {
  model_.DisableCalls(ITCOMDisabledReasonDialog);
  ASSERT_EQ(Ids(), std::vector<DISPID>{ITEventCOMCallsDisabled});
  EXPECT_EQ(events_[0].number, ITCOMDisabledReasonDialog);
  long state = 0;
  EXPECT_EQ(model_.GetPlayerState(&state), RPC_E_CALL_REJECTED);
  EXPECT_EQ(model_.Play(), RPC_E_CALL_REJECTED);
  ObjectRef created;
  EXPECT_EQ(model_.CreatePlaylist("x", &created), RPC_E_CALL_REJECTED);
  model_.UserPlay();  // the person at the player is not refused
  EXPECT_EQ(model_.Status().state, ITPlayerStatePlaying);
  model_.EnableCalls();
  EXPECT_EQ(events_.back().id, ITEventCOMCallsEnabled);
  EXPECT_EQ(State(), ITPlayerStatePlaying);
}

TEST_F(PlayerModelTest, PlaylistsAndFolders) {
  ObjectRef folder, inside, top;
  ASSERT_EQ(model_.CreateFolder("Zorva Generated", &folder), S_OK);
  ASSERT_EQ(model_.CreatePlaylistInFolder(folder, "Monday", &inside), S_OK);
  ASSERT_EQ(model_.CreatePlaylist("Top", &top), S_OK);
  EXPECT_EQ(model_.CreatePlaylistInFolder(top, "Nope", &inside), E_FAIL);
  PlaylistInfo info;
  ASSERT_EQ(model_.GetPlaylistInfo(folder, &info), S_OK);
  EXPECT_EQ(info.specialKind, ITUserPlaylistSpecialKindFolder);
  std::optional<ObjectRef> parent;
  ASSERT_EQ(model_.GetParent(inside, &parent), S_OK);
  EXPECT_EQ(parent->playlistId, folder.playlistId);
  EXPECT_EQ(model_.GetParent(top, &parent), S_FALSE);
  EXPECT_FALSE(parent);
  ObjectRef source;
  model_.GetLibrarySource(&source);
  long count = 0;
  ASSERT_EQ(model_.GetPlaylistCount(source, &count), S_OK);
  EXPECT_EQ(count, 6);
  EXPECT_EQ(Playlist(1).playlistId, 10);  // the library playlist comes first
  const auto ids = Ids();
  EXPECT_EQ(std::count(ids.begin(), ids.end(), ITEventDatabaseChanged), 3);
  std::optional<ObjectRef> found;
  ASSERT_EQ(model_.GetObjectByIds(source.sourceId, inside.playlistId, 0, 0, &found), S_OK);
  EXPECT_EQ(*found, inside);
  EXPECT_EQ(model_.GetObjectByIds(source.sourceId, 999, 0, 0, &found), S_FALSE);
}

TEST_F(PlayerModelTest, AddFilesAddTrackAndDelete) {
  ObjectRef mine, added;
  ASSERT_EQ(model_.CreatePlaylist("Mine", &mine), S_OK);
  events_.clear();
  EXPECT_EQ(model_.AddFiles(mine, {"/music/track3.mp3", "/missing.mp3"}), S_FALSE);
  ASSERT_EQ(events_.size(), 1u);
  EXPECT_EQ(events_[0].changed.size(), 2u);  // the new entry and the playlist
  const ObjectRef entry = Track(mine, 1);
  EXPECT_EQ(entry.databaseId, 3);
  ASSERT_EQ(model_.AddTrack(mine, entry, &added), S_OK);  // a duplicate
  long count = 0;
  model_.GetTrackCount(mine, &count);
  EXPECT_EQ(count, 2);
  EXPECT_NE(added.trackId, entry.trackId);

  ASSERT_EQ(model_.DeleteTrack(entry), S_OK);
  model_.GetTrackCount(mine, &count);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(model_.CheckObject(entry), ITUNES_E_OBJECTDELETED);
  EXPECT_EQ(model_.CheckObject(added), S_OK);

  // From the library playlist the track goes everywhere.
  events_.clear();
  ASSERT_EQ(model_.DeleteTrack(Track(Playlist(1), 3)), S_OK);
  model_.GetTrackCount(mine, &count);
  EXPECT_EQ(count, 0);
  model_.GetTrackCount(Playlist(2), &count);
  EXPECT_EQ(count, 3);
  ASSERT_EQ(events_.size(), 1u);
  EXPECT_EQ(events_[0].deleted.size(), 3u);  // library, "Four" and "Mine"
  EXPECT_EQ(model_.CheckObject(added), ITUNES_E_OBJECTDELETED);

  // Smart playlists and the library playlist are not edited by hand.
  EXPECT_EQ(model_.AddTrack(Playlist(3), Track(Playlist(2), 1), &added), E_FAIL);
  EXPECT_EQ(model_.AddFiles(Playlist(1), {"/music/track1.mp3"}), E_FAIL);
  EXPECT_EQ(model_.DeleteTrack(Track(Playlist(3), 1)), E_FAIL);
}

TEST_F(PlayerModelTest, DeletingThePlayingEntryKeepsPlayingThenItsFollowerComes) {
  const ObjectRef four = Playlist(2);
  ASSERT_EQ(model_.PlayTrack(Track(four, 2)), S_OK);
  ASSERT_EQ(model_.DeleteTrack(Track(four, 2)), S_OK);
  EXPECT_EQ(State(), ITPlayerStatePlaying);
  EXPECT_EQ(CurrentDatabaseId(), 2);
  events_.clear();
  clock_.Advance(200000);
  model_.Tick();
  ASSERT_EQ(Ids(), (std::vector<DISPID>{ITEventPlayerStop, ITEventPlayerPlay}));
  EXPECT_EQ(events_[1].track->databaseId, 3);
}

TEST_F(PlayerModelTest, PlayOrderOfAFourTrackPlaylistWrapsAsTheQueueReadsIt) {
  const ObjectRef four = Playlist(2);
  ASSERT_EQ(model_.PlayTrack(Track(four, 3)), S_OK);
  std::optional<ObjectRef> current;
  model_.GetCurrentTrack(&current);
  TrackInfo info;
  ASSERT_EQ(model_.GetTrackInfo(*current, &info), S_OK);
  const long p = info.playOrderIndex;
  EXPECT_EQ(p, 3);
  long n = 0;
  model_.GetTrackCount(four, &n);
  std::vector<long> upcoming;
  for (long j = p; j < p + 10; ++j) upcoming.push_back(Track(four, j < n ? j + 1 : (j % n) + 1, true).databaseId);
  EXPECT_EQ(upcoming, (std::vector<long>{4, 1, 2, 3, 4, 1, 2, 3, 4, 1}));
  ObjectRef outside;
  EXPECT_EQ(model_.GetTrackItem(four, 5, true, &outside), E_INVALIDARG);

  // Shuffled, play order and index part ways but still agree with each other.
  model_.SetShuffle(four.playlistId, true);
  PlaylistInfo playlist;
  model_.GetPlaylistInfo(four, &playlist);
  EXPECT_TRUE(playlist.shuffle);
  for (long k = 1; k <= 4; ++k) {
    ASSERT_EQ(model_.GetTrackInfo(Track(four, k, true), &info), S_OK);
    EXPECT_EQ(info.playOrderIndex, k);
  }
  // So they do after an entry comes and one goes, shuffled or not.
  ObjectRef added;
  ASSERT_EQ(model_.AddTrack(four, Track(four, 1), &added), S_OK);
  ASSERT_EQ(model_.DeleteTrack(Track(four, 2)), S_OK);
  for (bool shuffled : {true, false}) {
    model_.SetShuffle(four.playlistId, shuffled);
    std::vector<long> byIndex, byOrder;
    for (long k = 1; k <= 4; ++k) {
      byIndex.push_back(Track(four, k).databaseId);
      ASSERT_EQ(model_.GetTrackInfo(Track(four, k, true), &info), S_OK);
      EXPECT_EQ(info.playOrderIndex, k);
      byOrder.push_back(info.data.databaseId);
    }
    EXPECT_EQ(byIndex, (std::vector<long>{1, 3, 4, 1}));
    if (!shuffled) {
      EXPECT_EQ(byOrder, byIndex);
    }
    std::sort(byOrder.begin(), byOrder.end());
    EXPECT_EQ(byOrder, (std::vector<long>{1, 1, 3, 4}));
  }
}

TEST_F(PlayerModelTest, SeekPastTheEndPlaysTheNextTrackAndANegativeSeekIsRefused) {
  ASSERT_EQ(model_.Play(), S_OK);
  clock_.Advance(5000);
  EXPECT_FALSE(model_.Seek(-1));
  EXPECT_FALSE(model_.Seek(LONG_MIN));
  EXPECT_EQ(Position(), 5);
  for (long far : {101L, 1000000000000L, LONG_MAX}) {  // track 1 is 100 s long
    SCOPED_TRACE(far);
    const long before = CurrentDatabaseId();
    events_.clear();
    EXPECT_TRUE(model_.Seek(far));
    EXPECT_EQ(Ids(), (std::vector<DISPID>{ITEventPlayerStop, ITEventPlayerPlay}));
    EXPECT_EQ(CurrentDatabaseId(), before + 1);
    EXPECT_EQ(Position(), 0);
  }
}

TEST_F(PlayerModelTest, FastForwardAndRewind) {
  ASSERT_EQ(model_.Play(), S_OK);
  clock_.Advance(10000);
  model_.FastForward();
  EXPECT_EQ(State(), ITPlayerStateFastForward);
  clock_.Advance(5000);
  EXPECT_EQ(Position(), 30);
  model_.Rewind();
  EXPECT_EQ(State(), ITPlayerStateRewind);
  clock_.Advance(10000);  // back past the start: plays from there
  EXPECT_EQ(State(), ITPlayerStatePlaying);
  EXPECT_EQ(Position(), 2);
}

TEST_F(PlayerModelTest, CheckVersionComparesWithTheConfiguredVersion) {
  bool compatible = false;
  ASSERT_EQ(model_.CheckVersion(1, 7, &compatible), S_OK);
  EXPECT_TRUE(compatible);
  model_.CheckVersion(1, 11, &compatible);
  EXPECT_FALSE(compatible);
  model_.SetVersion(1, 6);
  model_.CheckVersion(1, 7, &compatible);
  EXPECT_FALSE(compatible);
}

TEST_F(PlayerModelTest, ReplaceLibraryCountsChangesAndKeepsThePlayingTrack) {
  ASSERT_EQ(model_.PlayTrack(Track(Playlist(2), 2)), S_OK);
  LibraryData next = SmallLibrary();
  next.tracks[1].rating = 100;                 // track 2 changed (it plays)
  next.tracks.erase(next.tracks.begin() + 3);  // track 4 gone
  for (PlaylistData& p : next.playlists) std::erase(p.trackIds, 4);
  events_.clear();
  const ReloadCounts counts = model_.ReplaceLibrary(next);
  EXPECT_EQ(counts.deleted, 1);
  EXPECT_EQ(counts.changed, 4);  // track 2, and the three playlists that lost track 4
  EXPECT_EQ(Ids(), (std::vector<DISPID>{ITEventPlayerPlayingTrackChanged, ITEventDatabaseChanged}));
  EXPECT_EQ(State(), ITPlayerStatePlaying);
  EXPECT_EQ(CurrentDatabaseId(), 2);

  LibraryData broken = SmallLibrary();
  broken.playlists[1].trackIds.push_back(77);
  EXPECT_THROW(model_.ReplaceLibrary(broken), LibraryError);
  EXPECT_EQ(model_.Status().trackCount, 4);  // the library before stays
}

}  // namespace

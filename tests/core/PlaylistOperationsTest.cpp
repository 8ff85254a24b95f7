// The player's playlist operations against the in-process media player.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/ITunesPlayer.h"
#include "core/PlaylistSchedule.h"
#include "tests/core/PlayerTestSupport.h"

namespace {

using namespace zorva_test;

std::vector<std::string> QueueNames(const std::deque<Track>& queue) {
  std::vector<std::string> names;
  for (const Track& track : queue) names.push_back(track.name);
  return names;
}

Track TrackAt(long databaseId) {
  Track track;
  track.location = TrackLocation(databaseId);
  return track;
}

struct PlaylistPlace {
  long id = 0;
  long parentId = 0;
};

UpcomingOrder Identity() { return {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}; }

class PlaylistOperationsTest : public PlayerFixture {
 protected:
  void SetUp() override {
    PlayerFixture::SetUp();
    pp::LibraryData library = MakeLibrary(25, 200);
    AddPlaylist(library, 2, "Four", Range(1, 4));
    AddPlaylist(library, 3, "Twenty", Range(1, 20));
    AddPlaylist(library, 4, "Nine", Range(1, 9));
    AddPlaylist(library, 5, "Smart", Range(1, 12)).smart = true;
    AddPlaylist(library, 6, "Shuffled", Range(1, 12)).shuffle = true;
    AddPlaylist(library, 7, "Folder", {}).specialKind = pp::ITUserPlaylistSpecialKindFolder;
    AddPlaylist(library, 8, "Podcasts", Range(21, 22)).specialKind = pp::ITUserPlaylistSpecialKindPodcasts;
    pp::TrackData stream = MakeTrackData(26, 0);
    stream.kind = pp::ITTrackKindURL;
    stream.location = "http://radio.example/stream";
    library.tracks.push_back(stream);
    library.playlists[0].trackIds.push_back(26);
    AddPlaylist(library, 9, "Twice", {26, 5, 6, 5, 7});
    AddPlaylist(library, 10, "Ten", Range(11, 20));
    StartModel(std::move(library));
    player_ = std::make_unique<ITunesPlayer>(&window_);
    ASSERT_TRUE(player_->Connect(true));
    // The same tracks in the music database, for the generated playlists.
    for (long id = 1; id <= 25; ++id) {
      Track track;
      track.name = "Track " + std::to_string(id);
      track.location = TrackLocation(id);
      track.length = 60;
      db_.DB().AddOrUpdateTrack(track);
    }
  }

  ITunesPlayer& Player() { return *player_; }
  static Mix PlaylistMix(int playlistId) { return Mix(playlistId, "", 0); }

  // Starts the playlist's track at the given play-order position.
  void PlayAt(int playlistId, long position) {
    Player().PlayTrackInPlaylist(PlaylistMix(playlistId), TrackAt(PlaylistTrackId(playlistId, position)));
    Pump();
  }
  long PlaylistTrackId(int playlistId, long position) {
    const std::string name = PlaylistTrackNames(playlistId).at(static_cast<std::size_t>(position - 1));
    return std::stol(name.substr(name.find(' ') + 1));
  }

  // Every playlist of that name, with the id of the folder holding it.
  std::vector<PlaylistPlace> PlacesOf(const std::string& name) {
    std::vector<PlaylistPlace> places;
    for (const std::shared_ptr<pp::IITPlaylist>& playlist : PlayerPlaylistsNamed(name)) {
      PlaylistPlace place;
      playlist->get_PlaylistID(&place.id);
      if (auto user = pp::QueryInterface<pp::IITUserPlaylist>(playlist)) {
        std::shared_ptr<pp::IITUserPlaylist> parent;
        user->get_Parent(&parent);
        if (parent) parent->get_PlaylistID(&place.parentId);
      }
      places.push_back(place);
    }
    return places;
  }

  // Slots of `minutes` minutes, each filled from the whole library.
  static ItemTrackQueueList Queues(std::initializer_list<int> minutes) {
    ItemTrackQueueList queues;
    for (int m : minutes) queues.emplace_back(ScheduleItem(0, m, 0, 0));
    return queues;
  }
  static std::vector<std::string> NamesOf(const ItemTrackQueueList& queues) {
    std::vector<std::string> names;
    for (const ItemTrackQueue& queue : queues)
      for (const Track& track : queue.GetTracks()) names.push_back(track.name);
    return names;
  }

  TestMusicDB db_;
  std::unique_ptr<ITunesPlayer> player_;
};

TEST_F(PlaylistOperationsTest, UserPlaylistsBecomePlaylistMixes) {
  MixList mixes;
  mixes.emplace_back();  // the answer is appended
  Player().GetUserPlaylists(mixes);
  std::vector<std::string> names;
  for (const Mix& mix : mixes) names.push_back(mix.GetName());
  EXPECT_EQ(names, (std::vector<std::string>{"", "Four", "Twenty", "Nine", "Smart", "Shuffled", "Twice", "Ten"}));
  EXPECT_FALSE(mixes[1].IsLibraryMix());
  EXPECT_EQ(mixes[1].GetPlaylistId(), 2);
  EXPECT_EQ(mixes[1].GetPlaylistTrackCount(), 4);
  EXPECT_EQ(mixes[6].GetPlaylistTrackCount(), 5);
}

TEST_F(PlaylistOperationsTest, UserPlaylistsFailRatherThanAnswerIncompletely) {
  ITunesPlayer unconnected(nullptr);
  MixList mixes;
  EXPECT_EQ(ThrownCode([&] { unconnected.GetUserPlaylists(mixes); }), kPlayerUnavailable);

  Model().DisableCalls(pp::ITCOMDisabledReasonDialog);
  Pump();
  EXPECT_EQ(ThrownCode([&] { Player().GetUserPlaylists(mixes); }), kPlayerCallFailed);
  EXPECT_TRUE(mixes.empty());
}

TEST_F(PlaylistOperationsTest, UserPlaylistsFailOnAnyPlaylistThatCannotBeRead) {
  std::shared_ptr<pp::IiTunes> real;
  ASSERT_EQ(pp::CoCreateITunesApp(&real), S_OK);
  auto scripted = std::make_shared<ScriptedApp>(real);
  ITunesPlayer player(nullptr, scripted);
  MixList mixes;
  scripted->failingPlaylistItem = 5;
  EXPECT_EQ(ThrownCode([&] { player.GetUserPlaylists(mixes); }), kPlayerCallFailed);
  scripted->failingPlaylistItem = 0;
  scripted->noPlaylists = true;
  EXPECT_EQ(ThrownCode([&] { player.GetUserPlaylists(mixes); }), kPlayerCallFailed);
  EXPECT_TRUE(mixes.empty());
  scripted->noPlaylists = false;
  player.GetUserPlaylists(mixes);
  EXPECT_EQ(mixes.size(), 7u);
}

TEST_F(PlaylistOperationsTest, RefreshTakesNameAndTrackCountFromThePlayer) {
  Mix stored(3, "Old name", 0);
  db_.DB().AddMix(stored);
  ASSERT_GT(stored.GetId(), 0);
  Player().RefreshPlaylistMix(stored);
  EXPECT_EQ(stored.GetName(), "Twenty");
  EXPECT_EQ(stored.GetPlaylistTrackCount(), 20);
  EXPECT_EQ(Mix(stored.GetId()).GetName(), "Twenty");

  // A mix read back from its row keeps its place and random flag, and takes the count.
  Mix placed(SQLiteRow{{"id", std::to_string(stored.GetId())},
                       {"name", "Twenty"},
                       {"playlistmix", "1"},
                       {"playlistpos", "4"},
                       {"playlistid", "3"}});
  const bool wasRandom = placed.IsRandom();
  Player().RefreshPlaylistMix(placed);
  EXPECT_EQ(placed.GetPlaylistTrackCount(), 20);
  EXPECT_EQ(placed.GetPlaylistPos(), 4);
  EXPECT_EQ(placed.IsRandom(), wasRandom);

  Mix gone(99, "Gone", 3);
  Player().RefreshPlaylistMix(gone);
  EXPECT_EQ(gone.GetName(), "Gone");
  EXPECT_EQ(gone.GetPlaylistTrackCount(), 3);
}

TEST_F(PlaylistOperationsTest, UpcomingQueueWrapsAtThePlaylistEnd) {
  std::deque<Track> queue(3);
  Player().FillUpcomingQueue(queue);
  EXPECT_TRUE(queue.empty());  // nothing playing

  PlayAt(2, 3);
  Player().FillUpcomingQueue(queue);
  EXPECT_EQ(QueueNames(queue), TrackNames({4, 1, 2, 3, 4, 1, 2, 3, 4, 1}));

  PlayAt(3, 5);
  Player().FillUpcomingQueue(queue);
  EXPECT_EQ(QueueNames(queue), TrackNames({6, 7, 8, 9, 10, 11, 12, 13, 14, 15}));
}

TEST_F(PlaylistOperationsTest, EnsureMixPlayingStartsOnlyAnotherPlaylist) {
  EXPECT_EQ(ThrownCode([&] { Player().EnsureMixPlaying(Mix()); }), kPlayerCallFailed);
  Player().EnsureMixPlaying(PlaylistMix(3));
  Pump();
  EXPECT_EQ(Model().Status().playlistId, 3);
  Advance(50000);
  Player().EnsureMixPlaying(PlaylistMix(3));
  EXPECT_EQ(Player().GetPlayerPosition(), 50);  // left playing
  Player().EnsureMixPlaying(PlaylistMix(2));
  Pump();
  EXPECT_EQ(Model().Status().playlistId, 2);
  EXPECT_EQ(window_.playNextCalls, 0);
}

TEST_F(PlaylistOperationsTest, RemoveDeletesTheFirstEntryOfTheTrackOnly) {
  EXPECT_EQ(ThrownCode([&] { Player().RemoveTrackFromPlaylist(Mix(), TrackAt(5)); }), kPlayerCallFailed);
  Player().RemoveTrackFromPlaylist(PlaylistMix(9), TrackAt(5));
  EXPECT_EQ(PlaylistTrackNames(9), TrackNames({26, 6, 5, 7}));
  // The stream has no location; a track without one matches nothing.
  Player().RemoveTrackFromPlaylist(PlaylistMix(9), Track());
  Player().RemoveTrackFromPlaylist(PlaylistMix(9), TrackAt(24));
  EXPECT_EQ(PlaylistTrackNames(9), TrackNames({26, 6, 5, 7}));
}

TEST_F(PlaylistOperationsTest, PlayTrackInPlaylistSwitchesWithoutAskingForTheNext) {
  EXPECT_EQ(ThrownCode([&] { Player().PlayTrackInPlaylist(Mix(), TrackAt(5)); }), kPlayerCallFailed);
  PlayAt(3, 2);
  PlayAt(3, 7);
  Track current;
  EXPECT_EQ(Player().GetCurrentTrack(current).name, "Track 7");
  EXPECT_EQ(window_.playNextCalls, 0);
  Advance(200000);  // the track ends and the playlist goes on
  EXPECT_EQ(window_.playNextCalls, 1);
  EXPECT_EQ(Player().GetCurrentTrack(current).name, "Track 8");
}

TEST_F(PlaylistOperationsTest, CurrentPlaylistMixNamesTheUserPlaylist) {
  Mix mix;
  EXPECT_EQ(Player().GetCurrentPlaylistMix(mix).GetName(), "");
  PlayAt(3, 1);
  Player().GetCurrentPlaylistMix(mix);
  EXPECT_EQ(mix.GetName(), "Twenty");
  EXPECT_EQ(mix.GetPlaylistTrackCount(), 99);
  EXPECT_FALSE(mix.IsLibraryMix());
  ITunesPlayer unconnected(nullptr);
  EXPECT_TRUE(unconnected.GetCurrentPlaylistMix(mix).IsLibraryMix());
}

TEST_F(PlaylistOperationsTest, ReorderMovesOnlyTheTracksFromTheFirstChange) {
  PlayAt(3, 1);
  Player().ReorderUpcomingTracks({1, 2, 3, 5, 4, 6, 7, 8, 9, 10});
  EXPECT_EQ(PlaylistTrackNames(3), TrackNames({1, 2, 3, 4, 6, 5, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}));
  std::deque<Track> queue;
  Player().FillUpcomingQueue(queue);
  EXPECT_EQ(QueueNames(queue), TrackNames({2, 3, 4, 6, 5, 7, 8, 9, 10, 11}));
  EXPECT_EQ(window_.playNextCalls, 0);
}

TEST_F(PlaylistOperationsTest, ReorderOfASmallPlaylist) {
  PlayAt(10, 1);  // track 11 of "Ten" plays; the upcoming ten end with it again
  Player().ReorderUpcomingTracks({2, 1, 3, 4, 5, 6, 7, 8, 9, 10});
  EXPECT_EQ(PlaylistTrackNames(10), TrackNames({11, 13, 12, 14, 15, 16, 17, 18, 19, 20}));
}

TEST_F(PlaylistOperationsTest, ReorderLeavesPlaylistsItCannotRearrange) {
  for (int playlist : {4, 5, 6}) {
    PlayAt(playlist, 1);
    const auto before = PlaylistTrackNames(playlist);
    Player().ReorderUpcomingTracks({2, 1, 3, 4, 5, 6, 7, 8, 9, 10});
    EXPECT_EQ(PlaylistTrackNames(playlist), before) << "playlist " << playlist;
  }
}

TEST_F(PlaylistOperationsTest, ReorderRefusesOrdersTheQueueCannotHave) {
  PlayAt(3, 1);
  const auto before = PlaylistTrackNames(3);
  for (const UpcomingOrder& order :
       {UpcomingOrder{11, 2, 3, 4, 5, 6, 7, 8, 9, 1}, UpcomingOrder{-1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
        UpcomingOrder{0, 2, 3, 4, 5, 6, 7, 8, 9, 10}, UpcomingOrder{1, 1, 3, 4, 5, 6, 7, 8, 9, 10},
        UpcomingOrder{30, 2, 3, 4, 5, 6, 7, 8, 9, 10}}) {
    Player().ReorderUpcomingTracks(order);
    EXPECT_EQ(PlaylistTrackNames(3), before);
  }
  Player().ReorderUpcomingTracks(Identity());  // the tracks after the ten come back in order
  EXPECT_EQ(PlaylistTrackNames(3), before);
}

TEST_F(PlaylistOperationsTest, ReorderAcrossThePlaylistEndLosesNoTrack) {
  PlayAt(3, 15);  // upcoming: 16..20, then 1..5
  const auto before = PlaylistTrackNames(3);
  Player().ReorderUpcomingTracks({7, 2, 3, 4, 5, 6, 1, 8, 9, 10});
  EXPECT_EQ(PlaylistTrackNames(3), before);
  // A change that stays before the end still applies.
  Player().ReorderUpcomingTracks({2, 1, 3, 4, 5, 6, 7, 8, 9, 10});
  std::deque<Track> queue;
  Player().FillUpcomingQueue(queue);
  EXPECT_EQ(QueueNames(queue), TrackNames({17, 16, 18, 19, 20, 1, 2, 3, 4, 5}));
  EXPECT_EQ(PlaylistTrackNames(3).size(), 20u);
}

TEST_F(PlaylistOperationsTest, ReorderNeverMovesThePlayingEntry) {
  PlayAt(3, 18);  // upcoming: 19, 20, then 1..8
  const auto before = PlaylistTrackNames(3);
  for (const UpcomingOrder& order : {UpcomingOrder{1, 2, 3, 5, 4, 6, 7, 8, 9, 10}, Identity()}) {
    Player().ReorderUpcomingTracks(order);
    EXPECT_EQ(PlaylistTrackNames(3), before);
  }
  std::deque<Track> queue;
  Player().FillUpcomingQueue(queue);
  EXPECT_EQ(QueueNames(queue), TrackNames({19, 20, 1, 2, 3, 4, 5, 6, 7, 8}));
  Advance(200000);
  Track current;
  EXPECT_EQ(Player().GetCurrentTrack(current).name, "Track 19");
}

TEST_F(PlaylistOperationsTest, PlaylistCallsThrowOneWhileCallsAreOff) {
  Model().DisableCalls(pp::ITCOMDisabledReasonDialog);
  Pump();
  std::deque<Track> queue;
  Mix mix = PlaylistMix(3);
  EXPECT_EQ(ThrownCode([&] { Player().FillUpcomingQueue(queue); }), kPlayerUnavailable);
  EXPECT_EQ(ThrownCode([&] { Player().RefreshPlaylistMix(mix); }), kPlayerUnavailable);
  EXPECT_EQ(ThrownCode([&] { Player().EnsureMixPlaying(mix); }), kPlayerUnavailable);
  EXPECT_EQ(ThrownCode([&] { Player().ReorderUpcomingTracks(Identity()); }), kPlayerUnavailable);
  EXPECT_EQ(ThrownCode([&] { Player().GetCurrentPlaylistMix(mix); }), kPlayerUnavailable);
  EXPECT_EQ(ThrownCode([&] { Player().RemoveTrackFromPlaylist(mix, TrackAt(1)); }), kPlayerUnavailable);
  EXPECT_EQ(ThrownCode([&] { Player().PlayTrackInPlaylist(mix, TrackAt(1)); }), kPlayerUnavailable);
}

TEST_F(PlaylistOperationsTest, MissingLibrarySourceThrowsItsOwnCode) {
  // Calls refused before the player's event arrives: no library source.
  Model().DisableCalls(pp::ITCOMDisabledReasonDialog);
  Mix mix = PlaylistMix(3);
  EXPECT_EQ(ThrownCode([&] { Player().RefreshPlaylistMix(mix); }), kPlayerCallFailed);
  EXPECT_EQ(ThrownCode([&] { Player().RemoveTrackFromPlaylist(mix, TrackAt(1)); }), kPlayerNoLibrarySource);
  EXPECT_EQ(ThrownCode([&] { Player().PlayTrackInPlaylist(mix, TrackAt(1)); }), kPlayerNoLibrarySource);
}

// Generated playlists.

TEST_F(PlaylistOperationsTest, GeneratedPlaylistIsWrittenIntoItsFolderRefilledAndFound) {
  EXPECT_FALSE(Player().FindGeneratedPlaylist("Party"));
  const ItemTrackQueueList first = Queues({3, 2});
  ASSERT_EQ(NamesOf(first).size(), 5u);
  Player().WriteGeneratedPlaylist("Party", first);

  const auto folders = PlacesOf("Zorva Generated");
  ASSERT_EQ(folders.size(), 1u);
  auto places = PlacesOf("Party");
  ASSERT_EQ(places.size(), 1u);
  EXPECT_EQ(places[0].parentId, folders[0].id);
  EXPECT_EQ(PlaylistTrackNames(places[0].id), NamesOf(first));

  const ItemTrackQueueList second = Queues({4});
  Player().WriteGeneratedPlaylist("Party", second);
  EXPECT_EQ(PlacesOf("Zorva Generated").size(), 1u);
  places = PlacesOf("Party");
  ASSERT_EQ(places.size(), 1u);
  EXPECT_EQ(PlaylistTrackNames(places[0].id), NamesOf(second));

  Player().MinimizeITunes();
  ASSERT_TRUE(Player().FindGeneratedPlaylist("Party"));
  const pp::PlayerStatus status = Model().Status();
  EXPECT_EQ(status.selectedPlaylistId, places[0].id);
  EXPECT_TRUE(status.browserVisible);
  EXPECT_FALSE(status.miniPlayer);
  EXPECT_FALSE(status.browserMinimized);
  EXPECT_FALSE(Player().FindGeneratedPlaylist("Other"));
}

TEST_F(PlaylistOperationsTest, GeneratedPlaylistLeavesASameNamedOneOutsideTheFolder) {
  const auto before = PlaylistTrackNames(2);
  Player().WriteGeneratedPlaylist("Four", Queues({2}));
  const auto places = PlacesOf("Four");
  ASSERT_EQ(places.size(), 2u);
  EXPECT_EQ(places[0].id, 2);
  EXPECT_EQ(PlaylistTrackNames(2), before);
  EXPECT_EQ(places[1].parentId, PlacesOf("Zorva Generated").at(0).id);
  EXPECT_EQ(PlaylistTrackNames(places[1].id).size(), 2u);
}

TEST_F(PlaylistOperationsTest, OlderPlayerGetsATopLevelGeneratedPlaylist) {
  Model().SetVersion(1, 6);
  const ItemTrackQueueList first = Queues({3});
  Player().WriteGeneratedPlaylist("Party", first);
  EXPECT_TRUE(PlacesOf("Zorva Generated").empty());
  EXPECT_TRUE(PlacesOf("Party").empty());
  auto places = PlacesOf("Zorva - Party");
  ASSERT_EQ(places.size(), 1u);
  EXPECT_EQ(places[0].parentId, 0);
  EXPECT_EQ(PlaylistTrackNames(places[0].id), NamesOf(first));

  const ItemTrackQueueList second = Queues({1});
  Player().WriteGeneratedPlaylist("Party", second);
  places = PlacesOf("Zorva - Party");
  ASSERT_EQ(places.size(), 1u);
  EXPECT_EQ(PlaylistTrackNames(places[0].id), NamesOf(second));
  EXPECT_TRUE(Player().FindGeneratedPlaylist("Party"));
  EXPECT_EQ(Model().Status().selectedPlaylistId, places[0].id);
}

TEST_F(PlaylistOperationsTest, ListingAndGeneratedPlaylistsIgnoreTheUnavailableFlag) {
  iTunesAvailable = false;  // the player itself would still take calls
  MixList mixes;
  Player().GetUserPlaylists(mixes);
  EXPECT_EQ(mixes.size(), 7u);
  Player().WriteGeneratedPlaylist("Party", Queues({2}));
  EXPECT_EQ(PlacesOf("Party").size(), 1u);
  EXPECT_TRUE(Player().FindGeneratedPlaylist("Party"));
}

TEST_F(PlaylistOperationsTest, GeneratedPlaylistNeedsAConnection) {
  ITunesPlayer unconnected(nullptr);
  EXPECT_NO_THROW(unconnected.WriteGeneratedPlaylist("Party", Queues({1})));
  EXPECT_FALSE(unconnected.FindGeneratedPlaylist("Party"));
  EXPECT_TRUE(PlacesOf("Zorva Generated").empty());
}

}  // namespace

// The playlist mix synchronisation against the in-process media player.
#include "core/PlaylistSync.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/ITunesPlayer.h"
#include "core/Mix.h"
#include "core/MusicDB.h"
#include "core/TagType.h"
#include "tests/core/PlayerTestSupport.h"

namespace {

using namespace zorva_test;

class PlaylistSyncTest : public PlayerFixture {
 protected:
  pp::LibraryData Library(const std::vector<std::pair<long, std::string>>& playlists) {
    pp::LibraryData library = MakeLibrary(6);
    for (const auto& [id, name] : playlists) AddPlaylist(library, id, name, {1, 2});
    return library;
  }
  int StoreMix(int playlistId, const std::string& name) {
    Mix mix(playlistId, name, 0);
    db_.DB().AddMix(mix);
    return mix.GetId();
  }
  void Sync() {
    ITunesPlayer player(nullptr);
    player.Connect(false);
    PlaylistSync().SetPlayer(&player).SyncPlaylistMixes();
  }
  // "id:name:playlist id" of the stored playlist mixes, in GetMixes order.
  std::vector<std::string> Stored() {
    MixList mixes;
    db_.DB().GetMixes(mixes, true);
    std::vector<std::string> rows;
    for (const Mix& mix : mixes) {
      rows.push_back(std::to_string(mix.GetId()) + ":" + mix.GetName() + ":" + std::to_string(mix.GetPlaylistId()));
    }
    return rows;
  }

  TestMusicDB db_;
};

TEST_F(PlaylistSyncTest, AddsAMixForEveryNewPlaylist) {
  StartModel(Library({{20, "Road"}, {21, "Quiet"}, {22, "Party"}}));
  Sync();

  MixList mixes;
  db_.DB().GetMixes(mixes, true);
  ASSERT_EQ(mixes.size(), 3u);
  std::vector<std::string> names;
  for (const Mix& mix : mixes) {
    names.push_back(mix.GetName() + ":" + std::to_string(mix.GetPlaylistId()));
    EXPECT_GT(mix.GetId(), 0);
    EXPECT_FALSE(mix.IsLibraryMix());
    EXPECT_EQ(mix.GetPlaylistPos(), 0);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Road:20", "Quiet:21", "Party:22"}));
}

TEST_F(PlaylistSyncTest, FollowsRenamesByIdAndRecreatedPlaylistsByName) {
  const int road = StoreMix(20, "Road");
  const int quiet = StoreMix(21, "Quiet");
  // Playlist 20 was renamed; "Quiet" was deleted and made again as 35.
  StartModel(Library({{20, "Highway"}, {35, "Quiet"}}));
  Sync();

  EXPECT_EQ(Stored(),
            (std::vector<std::string>{std::to_string(quiet) + ":Quiet:35", std::to_string(road) + ":Highway:20"}));
}

TEST_F(PlaylistSyncTest, DeletesTheMixesOfPlaylistsThatWent) {
  StoreMix(20, "Road");
  const int gone = StoreMix(21, "Gone");
  Tag tag = db_.DB().FindOrCreateTag("Rock", TagGenre);
  db_.DB().AddMixTag(Mix(gone), tag);
  StartModel(Library({{20, "Road"}}));
  Sync();

  ASSERT_EQ(Stored().size(), 1u);
  SQLiteRowSet rows;
  db_.DB().Query("SELECT COUNT(*) AS n FROM mixtag WHERE mixid = " + std::to_string(gone), rows);
  EXPECT_EQ(rows.front().GetInt("n"), 0);
}

TEST_F(PlaylistSyncTest, DeletesNoMixWhereTheScanWouldSweepNoTrack) {
  const std::string road = std::to_string(StoreMix(20, "Road")) + ":Road:20";
  const std::string quiet = std::to_string(StoreMix(21, "Quiet")) + ":Quiet:21";
  pp::LibraryData streams = MakeLibrary(1);
  streams.tracks[0].kind = pp::ITTrackKindURL;
  streams.tracks[0].location = "http://radio.example/stream";
  pp::LibraryData grown = Library({{30, "Other"}});
  grown.tracks.push_back(MakeTrackData(7, 200));
  grown.playlists.front().trackIds.push_back(7);
  struct Case {
    const char* library;
    pp::LibraryData data;
    bool unreadable;
    bool grows;
  };
  const std::vector<Case> cases = {
      {"empty", MakeLibrary(0), false, false},
      {"unreadable", Library({{30, "Other"}}), true, false},
      {"streams only", streams, false, false},
      {"growing while read", Library({{30, "Other"}}), false, true},
  };
  for (const Case& c : cases) {
    StartModel(c.data);
    std::shared_ptr<pp::IiTunes> real;
    pp::CoCreateITunesApp(&real);
    auto app = std::make_shared<ScriptedApp>(real);
    app->noLibraryPlaylist = c.unreadable;
    if (c.grows) app->onPlaylistItem = [&](long) { Model().ReplaceLibrary(grown); };
    ITunesPlayer player(nullptr, app);
    player.Connect(false);
    PlaylistSync().SetPlayer(&player).SyncPlaylistMixes();

    const auto stored = Stored();
    EXPECT_EQ(std::count(stored.begin(), stored.end(), road), 1) << c.library;
    EXPECT_EQ(std::count(stored.begin(), stored.end(), quiet), 1) << c.library;
  }
  // New playlists still got their mix.
  EXPECT_EQ(Stored().size(), 3u);
}

TEST_F(PlaylistSyncTest, TwoMixesOfOnePlaylistLeaveOne) {
  // GetMixes lists "Zeta" before "Alpha" (by name descending): Zeta takes it.
  const int zeta = StoreMix(20, "Zeta");
  StoreMix(20, "Alpha");
  StartModel(Library({{20, "Road"}}));
  Sync();

  EXPECT_EQ(Stored(), (std::vector<std::string>{std::to_string(zeta) + ":Road:20"}));
}

TEST_F(PlaylistSyncTest, OnlyPlainUserPlaylistsBecomeMixesSmartOnesToo) {
  pp::LibraryData library = Library({{20, "Road"}});
  AddPlaylist(library, 21, "Smart", {1}).smart = true;
  AddPlaylist(library, 22, "Podcasts", {2}).specialKind = pp::ITUserPlaylistSpecialKindPodcasts;
  AddPlaylist(library, 23, "Folder", {}).specialKind = pp::ITUserPlaylistSpecialKindFolder;
  StartModel(library);
  Sync();

  MixList mixes;
  db_.DB().GetMixes(mixes, true);
  std::vector<std::string> names;
  for (const Mix& mix : mixes) names.push_back(mix.GetName());
  EXPECT_EQ(names, (std::vector<std::string>{"Smart", "Road"}));
}

TEST_F(PlaylistSyncTest, ChangesNothingWhenThePlayerCannotBeReached) {
  const int road = StoreMix(20, "Road");
  Mix tagMix;
  tagMix.Rename("My tags");
  const auto before = Stored();

  // No player running at all.
  Sync();
  EXPECT_EQ(Stored(), before);

  // A player that went away after the connection.
  StartModel(Library({{21, "Other"}}));
  ITunesPlayer player(nullptr);
  player.Connect(false);
  Model().Quit();
  PlaylistSync().SetPlayer(&player).SyncPlaylistMixes();
  EXPECT_EQ(Stored(), (std::vector<std::string>{std::to_string(road) + ":Road:20"}));

  // Nor without a player.
  PlaylistSync().SyncPlaylistMixes();
  EXPECT_EQ(Stored(), before);
  MixList tagMixes;
  db_.DB().GetMixes(tagMixes, false);
  ASSERT_EQ(tagMixes.size(), 1u);
  EXPECT_EQ(tagMixes.front().GetName(), "My tags");
}

TEST_F(PlaylistSyncTest, RunsOnAWorkerWhileTheInterfaceThreadUsesTheDatabase) {
  std::vector<std::pair<long, std::string>> playlists;
  for (long id = 100; id < 160; ++id) playlists.emplace_back(id, "List " + std::to_string(id));
  StartModel(Library(playlists));

  // The worker's synchronisation and this thread's own mixes and tags share
  // theMusicDB's statements and its last insert id.
  std::thread worker([this] {
    for (int round = 0; round < 5; ++round) Sync();
  });
  std::vector<int> ids;
  for (int i = 0; i < 200; ++i) {
    Mix mix;
    mix.Rename("Tag mix " + std::to_string(i));
    ids.push_back(mix.GetId());
    Tag tag = db_.DB().FindOrCreateTag("Tag " + std::to_string(i), TagZorva);
    db_.DB().AddMixTag(mix, tag);
  }
  worker.join();

  for (int i = 0; i < 200; ++i) {
    Mix mix(ids[static_cast<std::size_t>(i)]);
    EXPECT_EQ(mix.GetName(), "Tag mix " + std::to_string(i));
  }
  SQLiteRowSet rows;
  db_.DB().Query("SELECT COUNT(*) AS n FROM mix WHERE playlistmix = 1", rows);
  EXPECT_EQ(rows.front().GetInt("n"), 60);
  db_.DB().Query("SELECT COUNT(*) AS n FROM mixtag", rows);
  EXPECT_EQ(rows.front().GetInt("n"), 200);
}

}  // namespace

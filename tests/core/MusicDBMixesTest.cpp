#include <gtest/gtest.h>

#include "core/MusicDB.h"
#include "tests/core/RecordsTestSupport.h"

namespace {

class MusicDBMixesTest : public zorva_test::RecordsTest {
 protected:
  Mix StoreMix(const std::string& name, std::initializer_list<std::pair<std::string, int>> tags) {
    Mix mix;
    for (const auto& [tagName, type] : tags) mix.AddTag(db.FindOrCreateTag(tagName, type), false);
    mix.Rename(name);
    return mix;
  }
};

TEST_F(MusicDBMixesTest, AddStoresTheDisplayNameAndTags) {
  AddTrack("1", "Abba", "Gold", "Pop");
  AddTrack("2", "Beck", "Odelay", "Rock");
  Mix mix;
  mix.AddTag(db.FindOrCreateTag("Pop", TagGenre), false);
  mix.AddTag(db.FindOrCreateTag("Rock", TagGenre), false);
  db.AddMix(mix);
  ASSERT_GT(mix.GetId(), 0);
  Mix loaded = db.GetMix(mix.GetId());
  EXPECT_EQ(loaded.GetName(), "Untitled mix");
  ASSERT_EQ(loaded.GetTags().size(), 2u);
  EXPECT_EQ(loaded.GetPlaylistTrackCount(), 2);
  EXPECT_FALSE(loaded.IsRandom());

  Mix random;
  db.UpdateMix(random);
  EXPECT_EQ(db.GetMix(random.GetId()).GetName(), "Random selection");
  EXPECT_TRUE(db.GetMix(random.GetId()).IsRandom());

  Mix playlist(321, "Road trip", 12);
  db.AddMix(playlist);
  Mix storedPlaylist = db.GetMix(playlist.GetId());
  EXPECT_FALSE(storedPlaylist.IsLibraryMix());
  EXPECT_EQ(storedPlaylist.GetPlaylistId(), 321);
}

TEST_F(MusicDBMixesTest, UpdateRenamesWithoutTouchingTags) {
  AddTrack("1", "Abba", "Gold", "Pop");
  Mix mix = StoreMix("Old", {{"Pop", TagGenre}});
  Mix changed = mix;
  changed.SetPlaylistId(55);
  changed.Rename("New");
  Mix loaded = db.GetMix(mix.GetId());
  EXPECT_EQ(loaded.GetName(), "New");
  EXPECT_EQ(loaded.GetPlaylistId(), 55);
  EXPECT_EQ(loaded.GetTags().size(), 1u);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM mix"), 1);
}

TEST_F(MusicDBMixesTest, MixTagsAddAndRemove) {
  AddTrack("1", "Abba", "Gold", "Pop");
  Mix mix = StoreMix("M", {});
  Tag pop = db.FindOrCreateTag("Pop", TagGenre);
  db.AddMixTag(Mix(), pop);
  db.AddMixTag(mix, Tag("Pop", TagGenre, 0));
  EXPECT_EQ(Number("SELECT COUNT(*) FROM mixtag"), 0);
  db.AddMixTag(mix, pop);
  db.AddMixTag(mix, pop);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM mixtag"), 1) << "a tag is in a mix once";
  // Nothing for a mix or a tag that is not stored (any more).
  db.AddMixTag(Mix(mix.GetId() + 1), pop);
  db.AddMixTag(mix, Tag("Gone", TagGenre, pop.id + 1));
  EXPECT_EQ(Number("SELECT COUNT(*) FROM mixtag"), 1);
  // A file with the row twice: its tracks count once per row.
  db.Exec("INSERT INTO mixtag (mixid, tagid) SELECT mixid, tagid FROM mixtag");
  Mix loaded(mix.GetId());
  ASSERT_EQ(loaded.GetTags().size(), 1u);
  EXPECT_EQ(loaded.GetPlaylistTrackCount(), 2) << "counted once per mixtag row";
  db.RemoveMixTag(mix, pop);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM mixtag"), 0);
}

TEST_F(MusicDBMixesTest, ListedByLowerCaseNameDescending) {
  StoreMix("Apple", {});
  StoreMix("zebra", {});
  StoreMix("Mango", {});
  Mix playlist(7, "Playlist", 3);
  db.AddMix(playlist);
  MixList mixes;
  db.GetMixes(mixes, false);
  ASSERT_EQ(mixes.size(), 3u);
  EXPECT_EQ(mixes[0].GetName(), "zebra");
  EXPECT_EQ(mixes[1].GetName(), "Mango");
  EXPECT_EQ(mixes[2].GetName(), "Apple");
  MixList playlists;
  db.GetMixes(playlists, true);
  ASSERT_EQ(playlists.size(), 1u);
  EXPECT_EQ(playlists[0].GetPlaylistId(), 7);
}

TEST_F(MusicDBMixesTest, ListedMixesCarryTheirTags) {
  AddTrack("1", "Abba", "Gold", "Pop");
  AddTrack("2", "Beck", "Odelay", "Rock");
  StoreMix("Two", {{"Pop", TagGenre}, {"Beck", TagArtist}});
  StoreMix("One", {{"Rock", TagGenre}});
  MixList mixes;
  db.GetMixes(mixes, false);
  ASSERT_EQ(mixes.size(), 2u);
  EXPECT_EQ(mixes[0].GetTags().size(), 2u);
  EXPECT_EQ(mixes[0].GetDescription(), "Pop, Beck");
  EXPECT_EQ(mixes[1].GetTags().size(), 1u);
}

TEST_F(MusicDBMixesTest, DumpedTagsFallOutAndTheMixTurnsRandom) {
  Track track = AddTrack("1", "Abba", "Gold", "Pop");
  Mix mix = StoreMix("Pop only", {{"Pop", TagGenre}});
  db.DisableTrack(track);
  Mix loaded(mix.GetId());
  EXPECT_TRUE(loaded.GetTags().empty());
  EXPECT_TRUE(loaded.IsRandom());
  EXPECT_EQ(loaded.GetDescription(), "Use selector to fine tune");
}

TEST_F(MusicDBMixesTest, LoadAndGetOfMissingMixes) {
  Mix probe(SQLiteRow{{"id", "99"}, {"name", "Kept"}});
  db.LoadMix(probe);
  EXPECT_EQ(probe.GetName(), "Kept");
  Mix missing = db.GetMix(99);
  EXPECT_EQ(missing.GetId(), 0);
  EXPECT_TRUE(missing.IsRandom());
  EXPECT_EQ(db.GetMixOfScheduleItem(5).GetId(), 0);
}

TEST_F(MusicDBMixesTest, MixOfScheduleItem) {
  AddTrack("1", "Abba", "Gold", "Pop");
  Mix mix = StoreMix("Morning", {{"Pop", TagGenre}});
  db.Exec("INSERT INTO scheduleItem (id, starttime, endtime, mixid, scheduleid) VALUES (3, 0, 30, " +
          std::to_string(mix.GetId()) + ", 1)");
  Mix played = db.GetMixOfScheduleItem(3);
  EXPECT_EQ(played.GetId(), mix.GetId());
  EXPECT_EQ(played.GetName(), "Morning");
  EXPECT_EQ(played.GetTags().size(), 1u);
}

TEST_F(MusicDBMixesTest, DeleteRemovesMixAndItsTagRows) {
  AddTrack("1", "Abba", "Gold", "Pop");
  Mix gone = StoreMix("Gone", {{"Pop", TagGenre}, {"Abba", TagArtist}});
  Mix kept = StoreMix("Kept", {{"Pop", TagGenre}});
  db.DeleteMix(gone);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM mix"), 1);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM mixtag"), 1);
  EXPECT_EQ(db.GetMix(kept.GetId()).GetName(), "Kept");
  EXPECT_EQ(db.GetMix(gone.GetId()).GetId(), 0);
}

TEST_F(MusicDBMixesTest, TracksOfAMixOncePerMatchingTag) {
  AddTrack("b", "Abba", "Gold", "Pop");
  AddTrack("a", "Beck", "Odelay", "Rock");
  AddTrack("c", "Cher", "Believe", "Dance");
  Mix mix = StoreMix("M", {{"Pop", TagGenre}, {"Abba", TagArtist}, {"Rock", TagGenre}});
  TrackList tracks;
  db.GetTracksOfMix(mix, tracks, 0, 10);
  ASSERT_EQ(tracks.size(), 3u);
  EXPECT_EQ(tracks[0].name, "a");
  EXPECT_EQ(tracks[1].name, "b");
  EXPECT_EQ(tracks[2].name, "b");
  TrackList page;
  db.GetTracksOfMix(mix, page, 1, 1);
  ASSERT_EQ(page.size(), 1u);
  EXPECT_EQ(page[0].name, "b");
}

TEST_F(MusicDBMixesTest, PlayRecordsRecentAndPurged) {
  Track one = AddTrack("1", "Abba", "Gold", "Pop");
  Track two = AddTrack("2", "Beck", "Odelay", "Rock");
  Mix mix = StoreMix("M", {});
  db.AddPlayRecord(one, mix);
  db.AddPlayRecord(two, Mix());
  EXPECT_EQ(db.GetRecentlyPlayedTrack(0).id, two.id);
  EXPECT_EQ(db.GetRecentlyPlayedTrack(1).id, one.id);
  EXPECT_EQ(db.GetRecentlyPlayedTrack(2).id, 0);
  EXPECT_EQ(Number("SELECT mixid FROM trackPlayRecord WHERE trackid = " + std::to_string(one.id)), mix.GetId());
  EXPECT_EQ(Number("SELECT mixid FROM trackPlayRecord WHERE trackid = " + std::to_string(two.id)), 0);

  db.Exec("INSERT INTO trackPlayRecord (trackid, whenplayed, mixid) VALUES (" + std::to_string(one.id) +
          ", datetime(julianday('now') - 90.5), 0)");
  db.Exec("INSERT INTO trackPlayRecord (trackid, whenplayed, mixid) VALUES (" + std::to_string(one.id) +
          ", datetime(julianday('now') - 89.9), 0)");
  db.PurgePlayRecords(90);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM trackPlayRecord"), 3);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM trackPlayRecord WHERE julianday('now') - "
                   "julianday(whenplayed) > 90"),
            0);
}

TEST_F(MusicDBMixesTest, LibraryStatistics) {
  db.Exec("BEGIN");
  for (int i = 0; i < 12; ++i) {
    AddTrack("t" + std::to_string(i), "Artist " + std::to_string(i % 4), "Album " + std::to_string(i % 5),
             "Genre " + std::to_string(i % 3));
  }
  db.FindOrCreateTag("mine", TagZorva);
  db.Exec("COMMIT");
  EXPECT_EQ(db.GetLibraryStatistics(),
            "About your library: <br><br> You have 12 tracks<br><br>And 13 selectors<br><br>Of "
            "which <UL><LI>3 are genres</LI><LI>4 are artist</LI><LI>5 are albums</LI></UL>");
}

}  // namespace

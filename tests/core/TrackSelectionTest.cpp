#include <gtest/gtest.h>

#include <set>

#include "core/MusicDB.h"
#include "tests/core/RecordsTestSupport.h"

namespace {

class TrackSelectionTest : public zorva_test::RecordsTest {
 protected:
  void SetUp() override {
    db.Exec("BEGIN");
    for (int i = 0; i < 30; ++i) {
      Track track = AddTrack("Rock " + std::to_string(i), "Rocker", "Loud", "Rock");
      rockIds.insert(track.id);
    }
    for (int i = 0; i < 30; ++i) AddTrack("Jazz " + std::to_string(i), "Player", "Smooth", "Jazz");
    db.Exec("COMMIT");
    dumped = AddTrack("Dumped rock", "Rocker", "Loud", "Rock");
    db.DisableTrack(dumped);
  }

  Mix StoredRockMix() {
    Mix mix;
    mix.AddTag(db.FindOrCreateTag("Rock", TagGenre), false);
    mix.Rename("Rock mix");
    return mix;
  }

  std::set<int> rockIds;
  Track dumped;
};

TEST_F(TrackSelectionTest, StoredTagMixYieldsOnlyItsEnabledTracks) {
  Mix mix = StoredRockMix();
  TrackList tracks;
  db.FetchRandomTracks(mix, tracks, 100);
  EXPECT_EQ(tracks.size(), 30u);
  for (const Track& track : tracks) EXPECT_TRUE(rockIds.count(track.id)) << track.name;
  // A track carrying two tags of the stored mix comes once per tag.
  mix.AddNewTag("Rocker", TagArtist);
  TrackList twice;
  db.FetchRandomTracks(Mix(mix.GetId()), twice, 100);
  EXPECT_EQ(twice.size(), 60u);
  TrackList few;
  db.FetchRandomTracks(Mix(mix.GetId()), few, 5);
  EXPECT_EQ(few.size(), 5u);
  for (const Track& track : few) EXPECT_TRUE(rockIds.count(track.id)) << track.name;
}

TEST_F(TrackSelectionTest, UnstoredTagMixUsesItsTags) {
  Mix mix;
  mix.AddTag(Tag("Rock", TagGenre, 0), false);
  mix.AddTag(Tag("Rocker", TagArtist, 0), false);
  TrackList tracks;
  db.FetchRandomTracks(mix, tracks, 200);
  // Every track carries both tags, so each comes twice.
  EXPECT_EQ(tracks.size(), 60u);
  for (const Track& track : tracks) {
    EXPECT_TRUE(rockIds.count(track.id)) << track.name;
    EXPECT_NE(track.id, dumped.id);
  }

  Mix quoted;
  quoted.AddTag(db.FindOrCreateTag("Rock'n'Roll", TagGenre), false);
  Track oldie = AddTrack("Oldie", "Elvis", "Sun", "Rock'n'Roll");
  TrackList found;
  db.FetchRandomTracks(quoted, found, 10);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].id, oldie.id);
}

TEST_F(TrackSelectionTest, RandomMixesDrawFromEveryEnabledTrack) {
  TrackList tracks;
  db.FetchRandomTracks(Mix(), tracks, 1000);
  EXPECT_EQ(tracks.size(), 60u);
  Mix stored;
  stored.Rename("All");
  TrackList storedTracks(2);
  db.FetchRandomTracks(stored, storedTracks, 1000);
  EXPECT_EQ(storedTracks.size(), 62u) << "fetching appends";
  for (const Track& track : tracks) EXPECT_NE(track.id, dumped.id);
  for (const Track& track : storedTracks) EXPECT_NE(track.id, dumped.id);
  TrackList none;
  db.FetchRandomTracks(Mix(), none, 0);
  EXPECT_TRUE(none.empty());
}

TEST_F(TrackSelectionTest, PoolHandsOutFiftyThenRefills) {
  Mix mix;
  std::multiset<int> seen;
  for (int i = 0; i < 50; ++i) seen.insert(db.GetNextRandomTrack(mix, i == 0).id);
  EXPECT_EQ(seen.size(), 50u);
  EXPECT_EQ(std::set<int>(seen.begin(), seen.end()).size(), 50u) << "no track twice in one pool";
  EXPECT_EQ(seen.count(dumped.id), 0u);
  EXPECT_GT(db.GetNextRandomTrack(mix, false).id, 0) << "an empty pool refills";
}

TEST_F(TrackSelectionTest, RefillSwitchesToTheNewMix) {
  Mix all;
  db.GetNextRandomTrack(all, true);
  Mix rock = StoredRockMix();
  for (int i = 0; i < 40; ++i) {
    Track track = db.GetNextRandomTrack(rock, i == 0);
    EXPECT_TRUE(rockIds.count(track.id)) << track.name;
  }
}

TEST_F(TrackSelectionTest, MixThatMatchesNothingYieldsAnEmptyTrack) {
  Mix mix;
  mix.AddTag(Tag("Polka", TagGenre, 0), false);
  Track track = db.GetNextRandomTrack(mix, true);
  EXPECT_EQ(track.id, 0);
  EXPECT_TRUE(track.name.empty());
  EXPECT_EQ(db.GetNextRandomTrack(mix, false).id, 0);

  Mix onlyDumped;
  Tag dumpedOnly = db.FindOrCreateTag("banned", TagZorva);
  db.AddTrackTag(dumped, dumpedOnly);
  onlyDumped.AddTag(dumpedOnly, false);
  EXPECT_EQ(db.GetNextRandomTrack(onlyDumped, true).id, 0);
}

TEST_F(TrackSelectionTest, PoolHoldsFiftyTracks) {
  Mix mix;
  EXPECT_GT(db.GetNextRandomTrack(mix, true).id, 0);
  // Nothing is left to fetch: only the pool's 49 remaining tracks come out.
  db.Exec("UPDATE track SET enabled = 0");
  int handedOut = 0;
  while (db.GetNextRandomTrack(mix, false).id > 0 && handedOut < 100) ++handedOut;
  EXPECT_EQ(handedOut, 49);
}

TEST_F(TrackSelectionTest, LeftOversComeFirstWithoutRefill) {
  Mix rock = StoredRockMix();
  db.GetNextRandomTrack(rock, true);
  Mix jazz;
  jazz.AddTag(db.FindOrCreateTag("Jazz", TagGenre), false);
  // The pool held all 30 rock tracks; 29 are left for the jazz mix.
  for (int i = 0; i < 29; ++i) {
    Track track = db.GetNextRandomTrack(jazz, false);
    EXPECT_TRUE(rockIds.count(track.id)) << track.name;
  }
  Track next = db.GetNextRandomTrack(jazz, false);
  EXPECT_GT(next.id, 0);
  EXPECT_FALSE(rockIds.count(next.id)) << next.name;
}

TEST_F(TrackSelectionTest, EmptyPoolFetchesAgainOnEveryCall) {
  Mix polka;
  polka.AddTag(Tag("Polka", TagGenre, 0), false);
  EXPECT_EQ(db.GetNextRandomTrack(polka, true).id, 0);
  Track added = AddTrack("Beer barrel", "Band", "Fest", "Polka");
  EXPECT_EQ(db.GetNextRandomTrack(polka, false).id, added.id);
}

TEST_F(TrackSelectionTest, StoredMixOfDumpedTagsDrawsFromEveryTrack) {
  Tag banned = db.FindOrCreateTag("banned", TagZorva);
  db.AddTrackTag(dumped, banned);
  Mix mix;
  mix.AddTag(banned, false);
  mix.Rename("Banned");
  Mix loaded(mix.GetId());
  ASSERT_TRUE(loaded.IsRandom());
  TrackList tracks;
  db.FetchRandomTracks(loaded, tracks, 1000);
  EXPECT_EQ(tracks.size(), 60u);
}

}  // namespace

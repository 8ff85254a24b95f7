#include <gtest/gtest.h>

#include <algorithm>

#include "core/MusicDB.h"
#include "tests/core/RecordsTestSupport.h"

namespace {

class MusicDBTagsTest : public zorva_test::RecordsTest {
 protected:
  static std::vector<std::string> Names(const TagList& tags) {
    std::vector<std::string> names;
    for (const Tag& tag : tags) names.push_back(tag.name);
    return names;
  }
  static const Tag* Find(const TagList& tags, const std::string& name) {
    auto found = std::find_if(tags.begin(), tags.end(), [&](const Tag& t) { return t.name == name; });
    return found == tags.end() ? nullptr : &*found;
  }
};

TEST_F(MusicDBTagsTest, FindOrCreateMatchesNamesWithoutCaseWithinAType) {
  Tag rock = db.FindOrCreateTag("rock", TagGenre);
  ASSERT_GT(rock.id, 0);
  Tag again = db.FindOrCreateTag("Rock", TagGenre);
  EXPECT_EQ(again.id, rock.id);
  EXPECT_EQ(again.name, "rock");
  EXPECT_EQ(again.frequency, 0);
  Tag mix = db.FindOrCreateTag("Rock", TagMix);
  EXPECT_NE(mix.id, rock.id);
  EXPECT_EQ(mix.type, TagMix);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM tag"), 2);
}

TEST_F(MusicDBTagsTest, LoadTagCountsEnabledTracks) {
  Track one = AddTrack("One", "Artist", "Album", "Rock");
  AddTrack("Two", "Artist", "Album", "Rock");
  Tag rock(db.FindOrCreateTag("Rock", TagGenre).id);
  EXPECT_EQ(rock.frequency, 2);
  db.DisableTrack(one);
  Tag reloaded = rock;
  ASSERT_TRUE(db.LoadTag(reloaded));
  EXPECT_EQ(reloaded.frequency, 1);

  Tag orphan = db.FindOrCreateTag("Nobody", TagZorva);
  Tag probe = orphan;
  EXPECT_FALSE(db.LoadTag(probe));
  EXPECT_EQ(probe.name, "Nobody");
  Tag noSuchId("x", TagGenre, 4242);
  EXPECT_FALSE(db.LoadTag(noSuchId));
  EXPECT_EQ(noSuchId.name, "x");
}

TEST_F(MusicDBTagsTest, ListingsByTypeAndPage) {
  AddTrack("1", "Abba", "Gold", "Pop");
  AddTrack("2", "Abba", "Arrival", "Pop");
  AddTrack("3", "Beck", "Odelay", "Rock");
  Track dumped = AddTrack("4", "Cher", "Believe", "Dance");
  db.DisableTrack(dumped);

  TagList artists;
  db.GetTagsByType(artists, TagArtist, "");
  EXPECT_EQ(Names(artists), (std::vector<std::string>{"Abba", "Beck"}));
  EXPECT_EQ(artists[0].frequency, 2);

  TagList like;
  db.GetTagsByType(like, TagAlbum, "%a%");
  EXPECT_EQ(Names(like), (std::vector<std::string>{"Arrival", "Odelay"}));
  TagList page;
  db.GetTagsByTypePage(page, TagAlbum, "", 0, 10);
  EXPECT_TRUE(page.empty());
  db.GetTagsByTypePage(page, TagAlbum, "%", 1, 1);
  EXPECT_EQ(page.size(), 1u);

  TagList all;
  EXPECT_EQ(db.GetTagsPage(all, 0, 100), 10) << "the count includes tags of dumped tracks";
  EXPECT_EQ(all.size(), 7u);
  EXPECT_EQ(all.front().name, "Abba");
  EXPECT_EQ(Find(all, "Cher"), nullptr);
  TagList second;
  db.GetTagsPage(second, 1, 2);
  EXPECT_EQ(Names(second), (std::vector<std::string>{all[1].name, all[2].name}));
}

TEST_F(MusicDBTagsTest, RelatedTagsLeaveOutTheTagItself) {
  AddTrack("1", "Abba", "Gold", "Pop");
  AddTrack("2", "Abba", "Arrival", "Pop");
  AddTrack("3", "Beck", "Odelay", "Rock");
  Tag abba = db.FindOrCreateTag("Abba", TagArtist);
  TagList related;
  db.GetRelatedTags(related, abba);
  EXPECT_EQ(Find(related, "Abba"), nullptr);
  ASSERT_NE(Find(related, "Pop"), nullptr);
  EXPECT_EQ(Find(related, "Pop")->frequency, 2);
  EXPECT_EQ(related.front().name, "Pop");
  EXPECT_NE(Find(related, "Gold"), nullptr);
  EXPECT_EQ(Find(related, "Rock"), nullptr);

  // Tags that only a dumped track carries are in no relation.
  Track dumped = AddTrack("4", "Abba", "Voulez-Vous", "Disco");
  db.DisableTrack(dumped);
  related.clear();
  db.GetRelatedTags(related, abba);
  EXPECT_EQ(Find(related, "Disco"), nullptr);
  EXPECT_EQ(Find(related, "Abba"), nullptr);
  related.clear();
  db.GetRelatedTags(related, db.FindOrCreateTag("Disco", TagGenre));
  EXPECT_TRUE(related.empty());
}

TEST_F(MusicDBTagsTest, ReplacementMovesOnlyTheFirstOfTwoGenres) {
  Track track = AddTrack("1", "Abba", "Gold", "Pop");
  db.SetTrackTag(track, "Funk", TagGenre, false);
  int firstTagId = 0;
  const int first = db.GetTrackTagOfType(track, TagGenre, firstTagId);
  ASSERT_GT(first, 0);
  db.SetTrackTag(track, "Disco", TagGenre, true);
  const int disco = db.FindOrCreateTag("Disco", TagGenre).id;
  EXPECT_EQ(Number("SELECT tagid FROM tracktag WHERE id = " + std::to_string(first)), disco);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM tracktag, tag WHERE tagid = tag.id AND tag.type = 0"), 2);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM tracktag WHERE tagid = " + std::to_string(firstTagId)), 0);
}

TEST_F(MusicDBTagsTest, DeleteTagRemovesAssignmentsAndMixRows) {
  Track track = AddTrack("1", "Abba", "Gold", "Pop");
  Tag party = db.FindOrCreateTag("party", TagZorva);
  db.AddTrackTag(track, party);
  Mix mix;
  mix.AddTag(Tag(party.id), false);
  mix.AddTag(Tag(db.FindOrCreateTag("Pop", TagGenre).id), false);
  mix.Rename("Party");
  ASSERT_EQ(Mix(mix.GetId()).GetTags().size(), 2u);

  db.DeleteTag(party);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM tracktag WHERE tagid = " + std::to_string(party.id)), 0);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM mixtag WHERE tagid = " + std::to_string(party.id)), 0);
  EXPECT_EQ(Mix(mix.GetId()).GetTags().size(), 1u);

  // The freed id comes back for the next tag; the mix must not pick it up.
  Tag next = db.FindOrCreateTag("sleep", TagZorva);
  ASSERT_EQ(next.id, party.id);
  db.AddTrackTag(track, next);
  Mix reloaded(mix.GetId());
  ASSERT_EQ(reloaded.GetTags().size(), 1u);
  EXPECT_EQ(reloaded.GetTags()[0].name, "Pop");
}

TEST_F(MusicDBTagsTest, RenameTag) {
  AddTrack("1", "Abba", "Gold", "Pop");
  Tag pop = db.FindOrCreateTag("Pop", TagGenre);
  pop.name = "Pop music";
  db.RenameTag(pop);
  EXPECT_EQ(Tag(pop.id).name, "Pop music");
}

TEST_F(MusicDBTagsTest, TrackTagsOfEnabledTracksFoundByLocation) {
  Track track = AddTrack("1", "Abba", "Gold", "Pop");
  Track byLocation;
  byLocation.location = track.location;
  TagList tags;
  db.GetTrackTags(tags, byLocation);
  EXPECT_EQ(byLocation.id, track.id);
  EXPECT_EQ(tags.size(), 3u);
  Track unknown;
  unknown.location = "/nowhere";
  tags.clear();
  db.GetTrackTags(tags, unknown);
  EXPECT_TRUE(tags.empty());
  db.DisableTrack(track);
  db.GetTrackTags(tags, track);
  EXPECT_TRUE(tags.empty());
}

TEST_F(MusicDBTagsTest, TrackTagOfTypeAndReplacement) {
  Track track = AddTrack("1", "Abba", "Gold", "Pop");
  int tagId = -1;
  int first = db.GetTrackTagOfType(track, TagGenre, tagId);
  EXPECT_GT(first, 0);
  EXPECT_EQ(tagId, db.FindOrCreateTag("Pop", TagGenre).id);
  int untouched = -7;
  EXPECT_EQ(db.GetTrackTagOfType(track, TagZorva, untouched), 0);
  EXPECT_EQ(untouched, -7);

  db.SetTrackTag(track, "Pop", TagGenre, true);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM tracktag"), 3);
  db.SetTrackTag(track, "Disco", TagGenre, true);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM tracktag"), 3);
  EXPECT_EQ(db.GetTrackTagOfType(track, TagGenre, tagId), first);
  EXPECT_EQ(tagId, db.FindOrCreateTag("Disco", TagGenre).id);

  db.SetTrackTag(track, "Funk", TagGenre, false);
  db.SetTrackTag(track, "", TagGenre, false);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM tracktag"), 4);
  db.SetTrackTag(track, "mine", TagMix, true);
  db.SetTrackTag(track, "mine", TagMix, true);
  Tag mine(db.FindOrCreateTag("mine", TagMix).id);
  EXPECT_EQ(mine.frequency, 1) << "a track holds a tag once";
  // A file with the assignment twice: the track counts twice.
  db.Exec("INSERT INTO tracktag (trackid, tagid) VALUES (" + std::to_string(track.id) + ", " + std::to_string(mine.id) +
          ")");
  EXPECT_EQ(Tag(mine.id).frequency, 2);
}

TEST_F(MusicDBTagsTest, AddAndRemoveTrackTags) {
  Track track = AddTrack("1", "Abba", "Gold", "Pop");
  Tag tag = db.FindOrCreateTag("x", TagZorva);
  Track byLocation;
  byLocation.location = track.location;
  db.AddTrackTag(byLocation, tag);
  db.AddTrackTag(byLocation, tag);
  db.AddTrackTag(track, Tag(TagZorva));
  EXPECT_EQ(Number("SELECT COUNT(*) FROM tracktag WHERE tagid = " + std::to_string(tag.id)), 1);
  // Nothing for a track or a tag that is not stored (any more).
  Track gone;
  gone.id = track.id + 1;
  db.AddTrackTag(gone, tag);
  db.AddTrackTag(track, Tag("gone", TagZorva, tag.id + 1));
  EXPECT_EQ(Number("SELECT COUNT(*) FROM tracktag WHERE trackid = " + std::to_string(gone.id) +
                   " OR tagid = " + std::to_string(tag.id + 1)),
            0);
  Track again;
  again.location = track.location;
  db.RemoveTrackTag(again, tag);
  EXPECT_EQ(again.id, track.id);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM tracktag WHERE tagid = " + std::to_string(tag.id)), 0);
}

TEST_F(MusicDBTagsTest, CopyAddAndRemoveShared) {
  Track a = AddTrack("1", "Abba", "Gold", "Pop");
  Track b = AddTrack("2", "Abba", "Arrival", "Rock");
  AddTrack("3", "Beck", "Odelay", "Rock");
  Tag abba = db.FindOrCreateTag("Abba", TagArtist);
  Tag rock = db.FindOrCreateTag("Rock", TagGenre);

  db.AddTagToTracksOf(abba, "", TagZorva);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM tag WHERE type = 4"), 0);
  db.AddTagToTracksOf(abba, "swedish", TagZorva);
  Tag swedish(db.FindOrCreateTag("swedish", TagZorva).id);
  EXPECT_EQ(swedish.frequency, 2);
  db.CopyTagAssignments(abba, swedish);
  EXPECT_EQ(Tag(swedish.id).frequency, 2) << "tracks that have it get it no second time";
  db.CopyTagAssignments(rock, Tag(TagZorva));
  EXPECT_EQ(Number("SELECT COUNT(*) FROM tracktag"), 11);

  db.RemoveSharedAssignments(rock, swedish);
  TagList tags;
  db.GetTrackTags(tags, b);
  EXPECT_EQ(Find(tags, "swedish"), nullptr);
  tags.clear();
  db.GetTrackTags(tags, a);
  EXPECT_NE(Find(tags, "swedish"), nullptr);
}

}  // namespace

// Filling one slot of a generated playlist from the music database.
#include <gtest/gtest.h>

#include <string>

#include "core/MusicDB.h"
#include "core/PlaylistSchedule.h"
#include "core/TagType.h"
#include "tests/core/PlayerTestSupport.h"

namespace {

using namespace zorva_test;

class ItemTrackQueueTest : public ::testing::Test {
 protected:
  void AddTracks(int count, int seconds, int firstId = 1) {
    for (int id = firstId; id < firstId + count; ++id) {
      Track track;
      track.name = "Track " + std::to_string(id);
      track.location = TrackLocation(id);
      track.artist = "Someone";
      track.length = seconds;
      db_.DB().AddOrUpdateTrack(track);
    }
  }
  static int Total(const ItemTrackQueue& queue) {
    int total = 0;
    for (const Track& track : queue.GetTracks()) total += track.length;
    return total;
  }

  TestMusicDB db_;
};

TEST_F(ItemTrackQueueTest, EndsNearerToTheSlotEnd) {
  AddTracks(10, 250);
  ItemTrackQueue overshooting(ScheduleItem(0, 10, 0, 0));
  // Three tracks would end 150 s late; two end 100 s early.
  EXPECT_EQ(overshooting.GetTracks().size(), 2u);
  EXPECT_EQ(Total(overshooting), 500);
}

TEST_F(ItemTrackQueueTest, KeepsTheLastTrackWhenThatIsNearer) {
  AddTracks(10, 350);
  ItemTrackQueue queue(ScheduleItem(20, 30, 0, 0));
  EXPECT_EQ(queue.GetTracks().size(), 2u);
  EXPECT_EQ(Total(queue), 700);
  EXPECT_EQ(queue.GetItem().GetStart(), 20);
  EXPECT_EQ(queue.GetItem().GetEnd(), 30);
}

TEST_F(ItemTrackQueueTest, MixMatchingNothingEndsWithAnEmptyQueue) {
  AddTracks(10, 200);
  Mix nobody;
  nobody.AddTag(db_.DB().FindOrCreateTag("Nobody", TagArtist), false);
  ScheduleItem slot(0, 30, 0, 0);
  slot.SetMix(nobody);
  ItemTrackQueue queue(slot);
  EXPECT_TRUE(queue.GetTracks().empty());

  TestMusicDB empty;  // no tracks at all
  ItemTrackQueue none(ScheduleItem(0, 30, 0, 0));
  EXPECT_TRUE(none.GetTracks().empty());
}

TEST_F(ItemTrackQueueTest, SecondsTooFewToFetchEndTheFill) {
  AddTracks(5, 59);
  ItemTrackQueue queue(ScheduleItem(0, 1, 0, 0));  // one second remains
  EXPECT_EQ(queue.GetTracks().size(), 1u);
}

TEST_F(ItemTrackQueueTest, TracksWithoutLengthEndTheFill) {
  AddTracks(4, 0);
  ItemTrackQueue queue(ScheduleItem(0, 10, 0, 0));
  EXPECT_EQ(queue.GetTracks().size(), 4u);
}

TEST_F(ItemTrackQueueTest, SlotsWithoutLengthGetNoTracks) {
  AddTracks(5, 100);
  EXPECT_TRUE(ItemTrackQueue(ScheduleItem(30, 30, 0, 0)).GetTracks().empty());
  EXPECT_TRUE(ItemTrackQueue(ScheduleItem(150, 120, 0, 0)).GetTracks().empty());
}

TEST_F(ItemTrackQueueTest, QueuesAreNumberedInTheOrderBuilt) {
  AddTracks(5, 100);
  ItemTrackQueue first(ScheduleItem(0, 1, 0, 0));
  ItemTrackQueue second(ScheduleItem(0, 1, 0, 0));
  EXPECT_EQ(second.GetId(), first.GetId() + 1);
  EXPECT_GE(first.GetId(), 1);
}

}  // namespace

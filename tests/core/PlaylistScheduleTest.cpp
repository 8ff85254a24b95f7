// Generator documents: their storage, the layout of their slots and the
// generation of a playlist into the in-process media player.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/MusicDB.h"
#include "core/PlaylistSchedule.h"
#include "core/TagType.h"
#include "platform/html/MemoryHtmlDocument.h"
#include "platform/window/MessageBox.h"
#include "tests/core/PlayerTestSupport.h"

namespace {

using namespace zorva_test;

constexpr int kTrackCount = 60;

constexpr int kLongestTrack = 330;
int LengthOf(int id) { return 150 + (id * 37) % 181; }  // 150..kLongestTrack s

class PlaylistScheduleTest : public PlayerFixture {
 protected:
  void SetUp() override {
    PlayerFixture::SetUp();
    pp::LibraryData library = MakeLibrary(kTrackCount);
    for (pp::TrackData& data : library.tracks) data.seconds = LengthOf(static_cast<int>(data.databaseId));
    StartModel(std::move(library));
    for (int id = 1; id <= kTrackCount; ++id) {
      Track track;
      track.name = "Track " + std::to_string(id);
      track.location = TrackLocation(id);
      track.artist = "Someone";
      track.length = LengthOf(id);
      db_.DB().AddOrUpdateTrack(track);
    }
  }

  static ScheduleItem Slot(int start) { return ScheduleItem(start, start, 0, 0); }

  int RowCount(const std::string& sql) {
    SQLiteRowSet rows;
    db_.DB().Query(sql, rows);
    return static_cast<int>(rows.size());
  }

  // The tracks of the generated playlist "Zorva Generated"/name, in order.
  std::vector<std::string> GeneratedTracks(const std::string& name) {
    ITunesPlayer player(nullptr);
    player.Connect(false);
    if (!player.FindGeneratedPlaylist(name)) return {};
    return PlaylistTrackNames(Model().Status().selectedPlaylistId);
  }

  static std::vector<std::string> QueuedNames(const PlaylistSchedule& schedule) {
    std::vector<std::string> names;
    for (const ItemTrackQueue& queue : schedule.GetQueues())
      for (const Track& track : queue.GetTracks()) names.push_back(track.name);
    return names;
  }

  TestMusicDB db_;
};

TEST_F(PlaylistScheduleTest, GenerateOrdersAndClosesTheSlots) {
  PlaylistSchedule schedule;
  schedule.InsertItem(Slot(60));
  schedule.InsertItem(Slot(0));
  schedule.InsertItem(Slot(30));
  schedule.Generate();
  const auto& queues = schedule.GetQueues();
  ASSERT_EQ(queues.size(), 3u);
  EXPECT_EQ(queues[0].GetItem().GetStart(), 0);
  EXPECT_EQ(queues[0].GetItem().GetEnd(), 30);
  EXPECT_EQ(queues[1].GetItem().GetStart(), 30);
  EXPECT_EQ(queues[1].GetItem().GetEnd(), 60);
  EXPECT_EQ(queues[2].GetItem().GetStart(), 60);
  EXPECT_EQ(queues[2].GetItem().GetEnd(), 120);
  // The document keeps its items as they were.
  EXPECT_EQ(schedule.GetItems()[0].GetStart(), 60);
  EXPECT_EQ(schedule.GetItems()[0].GetEnd(), 60);
}

TEST_F(PlaylistScheduleTest, EqualStartsKeepTheirOrderOfArrival) {
  PlaylistSchedule schedule;
  schedule.InsertItem(Slot(30));
  schedule.InsertItem(Slot(0));
  schedule.InsertItem(Slot(30));
  schedule.Generate();
  const int firstAtThirty = schedule.GetItems()[0].GetId();
  const int secondAtThirty = schedule.GetItems()[2].GetId();
  ASSERT_NE(firstAtThirty, secondAtThirty);
  const auto& queues = schedule.GetQueues();
  ASSERT_EQ(queues.size(), 3u);
  EXPECT_EQ(queues[1].GetItem().GetId(), firstAtThirty);
  EXPECT_EQ(queues[1].GetItem().GetEnd(), 30);  // the next one starts there too
  EXPECT_TRUE(queues[1].GetTracks().empty());
  EXPECT_EQ(queues[2].GetItem().GetId(), secondAtThirty);
  EXPECT_EQ(queues[2].GetItem().GetEnd(), 120);
}

TEST_F(PlaylistScheduleTest, TwoHourScheduleFillsEachSlotToWithinOneTrack) {
  PlaylistSchedule schedule;
  schedule.SetName("Evening");
  schedule.InsertItem(Slot(45));  // moves to minute 0
  schedule.InsertItem(Slot(50));
  schedule.InsertItem(Slot(110));
  schedule.Generate();
  const auto& queues = schedule.GetQueues();
  ASSERT_EQ(queues.size(), 3u);
  EXPECT_EQ(queues[0].GetItem().GetStart(), 0);
  for (const ItemTrackQueue& queue : queues) {
    const int slot = (queue.GetItem().GetEnd() - queue.GetItem().GetStart()) * 60;
    int total = 0;
    for (const Track& track : queue.GetTracks()) total += track.length;
    ASSERT_FALSE(queue.GetTracks().empty());
    EXPECT_LT(std::abs(total - slot), kLongestTrack) << "slot of " << slot << " s";
  }
  EXPECT_EQ(GeneratedTracks("Evening"), QueuedNames(schedule));
}

TEST_F(PlaylistScheduleTest, SingleItemCoversTheWholePlaylist) {
  PlaylistSchedule schedule;
  schedule.InsertItem(Slot(45));
  schedule.Generate();
  ASSERT_EQ(schedule.GetQueues().size(), 1u);
  EXPECT_EQ(schedule.GetQueues()[0].GetItem().GetStart(), 0);
  EXPECT_EQ(schedule.GetQueues()[0].GetItem().GetEnd(), 120);
}

TEST_F(PlaylistScheduleTest, ItemPastTheEndComesLastWithoutTracks) {
  PlaylistSchedule schedule;
  schedule.InsertItem(Slot(150));
  schedule.InsertItem(Slot(0));
  schedule.InsertItem(Slot(120));
  schedule.Generate();
  const auto& queues = schedule.GetQueues();
  ASSERT_EQ(queues.size(), 3u);
  EXPECT_EQ(queues[0].GetItem().GetStart(), 0);
  EXPECT_EQ(queues[0].GetItem().GetEnd(), 120);  // not stretched to the late starts
  EXPECT_EQ(queues[1].GetItem().GetStart(), 150);
  EXPECT_TRUE(queues[1].GetTracks().empty());
  EXPECT_TRUE(queues[2].GetTracks().empty());
}

TEST_F(PlaylistScheduleTest, SlotWhoseMixMatchesNothingStaysEmpty) {
  Mix nobody;
  nobody.AddTag(db_.DB().FindOrCreateTag("Nobody", TagArtist), false);
  PlaylistSchedule schedule;
  schedule.SetName("Gaps");
  ScheduleItem empty = Slot(0);
  empty.SetMix(nobody);
  schedule.InsertItem(empty);
  schedule.InsertItem(Slot(60));
  schedule.Generate();
  ASSERT_EQ(schedule.GetQueues().size(), 2u);
  EXPECT_TRUE(schedule.GetQueues()[0].GetTracks().empty());
  EXPECT_FALSE(schedule.GetQueues()[1].GetTracks().empty());
  EXPECT_EQ(GeneratedTracks("Gaps"), QueuedNames(schedule));
}

TEST_F(PlaylistScheduleTest, GenerateStoresTheScheduleOnceAndRefillsThePlaylist) {
  PlaylistSchedule schedule;
  schedule.SetName("Morning");
  schedule.InsertItem(Slot(0));
  schedule.InsertItem(Slot(60));
  EXPECT_EQ(RowCount("SELECT id FROM schedule WHERE type = 5"), 0);
  schedule.Generate();
  ASSERT_GT(schedule.GetId(), 0);
  EXPECT_EQ(RowCount("SELECT id FROM schedule WHERE type = 5"), 1);
  const std::string items = "SELECT id FROM scheduleItem WHERE scheduleid = " + std::to_string(schedule.GetId());
  EXPECT_EQ(RowCount(items), 2);

  schedule.SetDuration(90);
  schedule.Generate();
  EXPECT_EQ(RowCount("SELECT id FROM schedule WHERE type = 5"), 1);
  EXPECT_EQ(RowCount(items), 2);
  EXPECT_EQ(RowCount("SELECT id FROM schedule WHERE type = 5 AND duration = 90"), 1);
  EXPECT_EQ(GeneratedTracks("Morning"), QueuedNames(schedule));
}

TEST_F(PlaylistScheduleTest, UnsavedItemEditsStayInTheDocument) {
  const int storedItems = RowCount("SELECT id FROM scheduleItem");
  PlaylistSchedule schedule;
  schedule.InsertItem(Slot(0));
  schedule.InsertItem(Slot(30));
  const int first = schedule.GetItems()[0].GetId();
  const int second = schedule.GetItems()[1].GetId();
  EXPECT_EQ(second, first + 1);

  Mix stored;
  stored.AddTag(db_.DB().FindOrCreateTag("Someone", TagArtist), false);
  db_.DB().AddMix(stored);
  schedule.SetItemMix(second, stored);
  EXPECT_EQ(schedule.GetItemMix(second).GetId(), stored.GetId());
  EXPECT_TRUE(schedule.GetItemMix(12345).IsRandom());
  EXPECT_EQ(RowCount("SELECT id FROM scheduleItem WHERE mixid = " + std::to_string(stored.GetId())), 0);

  ScheduleItem moved = schedule.GetItems()[1];
  moved.SetStart(40);
  schedule.UpdateItem(moved);
  EXPECT_EQ(schedule.GetItems()[1].GetStart(), 40);
  schedule.DeleteItem(schedule.GetItems()[0]);
  ASSERT_EQ(schedule.GetItems().size(), 1u);
  EXPECT_EQ(schedule.GetItems()[0].GetId(), second);
  EXPECT_EQ(RowCount("SELECT id FROM scheduleItem"), storedItems);
}

TEST_F(PlaylistScheduleTest, StoredScheduleWritesItemEditsAtOnceAndLoadsBack) {
  PlaylistSchedule schedule;
  schedule.SetName("Stored");
  schedule.InsertItem(Slot(0));
  schedule.Save();
  ASSERT_GT(schedule.GetId(), 0);
  schedule.InsertItem(Slot(45));
  const ScheduleItem added = schedule.GetItems().back();
  EXPECT_GT(added.GetId(), 0);
  EXPECT_EQ(added.GetScheduleId(), schedule.GetId());

  PlaylistSchedule loaded;
  loaded.SetId(schedule.GetId());
  db_.DB().GetPlaylistSchedule(loaded);
  EXPECT_EQ(loaded.GetName(), "Stored");
  EXPECT_EQ(loaded.GetDuration(), 120);
  ASSERT_EQ(loaded.GetItems().size(), 2u);

  schedule.DeleteItem(added);
  loaded.LoadItems();
  EXPECT_EQ(loaded.GetItems().size(), 1u);
  std::string html;
  loaded.AppendItemsHtml(html);
  EXPECT_NE(html.find(loaded.GetItems()[0].GetElementId()), std::string::npos);

  platform::MemoryHtmlDocument page;
  page.LoadHtml("<div id=\"" + std::to_string(schedule.GetId()) +
                "_:_setplaylist\"></div><div id=\"0_:_setplaylist\"></div>");
  PlaylistSchedule clicked(*page.GetElementById(std::to_string(schedule.GetId()) + "_:_setplaylist"));
  EXPECT_EQ(clicked.GetName(), "Stored");
  EXPECT_EQ(clicked.GetItems().size(), 1u);
  PlaylistSchedule fresh(*page.GetElementById("0_:_setplaylist"));
  EXPECT_EQ(fresh.GetId(), 0);
  EXPECT_EQ(fresh.GetName(), "untitled playlist");

  PlaylistSchedule missing;
  missing.SetId(9999);
  db_.DB().GetPlaylistSchedule(missing);
  EXPECT_EQ(missing.GetName(), "untitled playlist");

  schedule.Delete();
  EXPECT_EQ(RowCount("SELECT id FROM schedule WHERE type = 5"), 0);
  EXPECT_EQ(RowCount("SELECT id FROM scheduleItem WHERE scheduleid = " + std::to_string(schedule.GetId())), 0);
}

TEST_F(PlaylistScheduleTest, ShowInITunesAsksBeforeGeneratingAnUnsavedSchedule) {
  platform::ScriptedMessageBoxPresenter presenter;
  platform::ScopedMessageBoxPresenter scoped(presenter);
  PlaylistSchedule schedule;
  schedule.SetName("Later");
  schedule.InsertItem(Slot(0));

  presenter.QueueAnswer(IDNO);
  schedule.ShowInITunes();
  EXPECT_EQ(schedule.GetId(), 0);
  EXPECT_TRUE(GeneratedTracks("Later").empty());
  ASSERT_EQ(presenter.Questions().size(), 1u);
  EXPECT_EQ(presenter.Questions()[0].caption, "Playlist not generated yet");
  EXPECT_EQ(presenter.Questions()[0].text,
            "A playlist has not been Generated in iTunes yet for this schedule.\n\n"
            "Would you like to Generate one now?");
  EXPECT_EQ(presenter.Questions()[0].type, MB_YESNO);
  EXPECT_EQ(presenter.Questions()[0].owner, nullptr);

  presenter.QueueAnswer(IDYES);
  schedule.ShowInITunes();
  EXPECT_GT(schedule.GetId(), 0);
  const long shown = Model().Status().selectedPlaylistId;
  EXPECT_EQ(PlaylistTrackNames(shown), QueuedNames(schedule));

  schedule.ShowInITunes();  // stored now: no question
  EXPECT_EQ(presenter.Questions().size(), 2u);
}

}  // namespace

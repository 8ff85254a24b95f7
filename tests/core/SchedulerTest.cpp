#include "core/Scheduler.h"

#include <gtest/gtest.h>

#include <memory>

#include "tests/core/ScheduleTestSupport.h"

namespace {

class SchedulerTest : public zorva_test::ScheduleFixture {
 protected:
  int Stored(const char* entry) { return static_cast<int>(GetProfileInt("Startup", entry, -1)); }
};

TEST_F(SchedulerTest, StartsStoppedWithTypeOneAndNoSchedules) {
  Scheduler scheduler;
  EXPECT_EQ(scheduler.GetState(), SchedulerState::Stopped);
  EXPECT_EQ(scheduler.GetType(), 1);
  EXPECT_TRUE(scheduler.GetSchedules().empty());
  EXPECT_FALSE(scheduler.CheckDue());
  EXPECT_EQ(TakeModeMessages(), 0);
}

TEST_F(SchedulerTest, DueMixOnWeekdaysAndWeekendLayout) {
  const Mix work = StoreMix("Work");
  const Mix lazy = StoreMix("Lazy");
  AddItem(2, 540, 1020, work);  // weekdays 9:00 - 17:00
  AddItem(3, 600, 1380, lazy);  // weekend 10:00 - 23:00
  Scheduler scheduler;
  scheduler.SetType(1);
  scheduler.Start();

  SetNow(5, 9, 0);  // Monday
  EXPECT_TRUE(scheduler.CheckDue());
  EXPECT_EQ(scheduler.GetDueMix().GetName(), "Work");
  SetNow(9, 16, 59);  // Friday
  EXPECT_EQ(scheduler.GetDueMix().GetName(), "Work");
  SetNow(10, 9, 30);  // Saturday morning: the weekday slot does not apply
  EXPECT_FALSE(scheduler.CheckDue());
  EXPECT_EQ(scheduler.GetDueMix().GetId(), 0);
  SetNow(11, 22, 59);  // Sunday
  EXPECT_TRUE(scheduler.CheckDue());
  EXPECT_EQ(scheduler.GetDueMix().GetName(), "Lazy");
}

TEST_F(SchedulerTest, DueMixInSlotsOverMidnightAndAllDay) {
  const Mix late = StoreMix("Late");
  const Mix day = StoreMix("Day");
  AddItem(1, 1380, 120, late);  // all days 23:00 - 02:00
  AddItem(4, 0, 0, day);        // Mondays, whole day
  Scheduler scheduler;
  scheduler.SetType(0);
  scheduler.Start();
  SetNow(6, 1, 59);  // Tuesday 01:59
  EXPECT_EQ(scheduler.GetDueMix().GetName(), "Late");
  SetNow(6, 2, 0);
  EXPECT_FALSE(scheduler.CheckDue());

  scheduler.SetType(2);
  SetNow(5, 3, 17);  // Monday
  EXPECT_EQ(scheduler.GetDueMix().GetName(), "Day");
  SetNow(6, 3, 17);  // Tuesday: its own schedule is empty
  EXPECT_EQ(scheduler.GetDueMix().GetId(), 0);
}

TEST_F(SchedulerTest, DueMixOfASlotWrittenPastMidnight) {
  const Mix late = StoreMix("Late");
  AddItem(1, 1380, 1500, late);  // 23:00 to 01:00 of the next day
  Scheduler scheduler;
  scheduler.SetType(0);
  scheduler.Start();
  SetNow(7, 0, 30);
  EXPECT_TRUE(scheduler.CheckDue());
  EXPECT_EQ(scheduler.GetDueMix().GetName(), "Late");
}

TEST_F(SchedulerTest, FirstScheduleInListOrderWins) {
  const Mix first = StoreMix("First");
  const Mix second = StoreMix("Second");
  // The weekend schedule (3) made to apply on Mondays as well.
  db.Exec("UPDATE schedule SET monday = 1 WHERE id = 3");
  AddItem(3, 0, 600, second);
  AddItem(2, 0, 600, first);
  Scheduler scheduler;
  scheduler.SetType(1);
  SetNow(5, 8, 0);
  EXPECT_EQ(scheduler.GetDueMix().GetName(), "First");
}

TEST_F(SchedulerTest, EveryStateChangePostsTheModeMessage) {
  const Mix work = StoreMix("Work");
  AddItem(2, 540, 600, work);
  Scheduler scheduler;
  scheduler.SetType(1);
  SetNow(5, 9, 0);

  scheduler.Start();
  EXPECT_TRUE(scheduler.IsRunning());
  EXPECT_EQ(TakeModeMessages(), 1);

  scheduler.Override();
  EXPECT_TRUE(scheduler.IsOverridden());
  EXPECT_EQ(scheduler.GetOverriddenMixId(), work.GetId());
  EXPECT_EQ(TakeModeMessages(), 1);

  // The same mix still due: stay overridden, say nothing.
  EXPECT_FALSE(scheduler.CheckDue());
  EXPECT_TRUE(scheduler.IsOverridden());
  EXPECT_EQ(TakeModeMessages(), 0);

  // The slot ends and nothing is due: back to running, nothing to play.
  SetNow(5, 10, 0);
  EXPECT_FALSE(scheduler.CheckDue());
  EXPECT_TRUE(scheduler.IsRunning());
  EXPECT_EQ(scheduler.GetOverriddenMixId(), 0);
  EXPECT_EQ(TakeModeMessages(), 1);

  scheduler.Stop();
  EXPECT_EQ(scheduler.GetState(), SchedulerState::Stopped);
  EXPECT_EQ(TakeModeMessages(), 1);

  // Override to Running by Start.
  scheduler.Start();
  scheduler.Override();
  scheduler.Start();
  EXPECT_TRUE(scheduler.IsRunning());
  EXPECT_EQ(TakeModeMessages(), 3);
}

TEST_F(SchedulerTest, OverrideLeavesWhenANewSlotBegins) {
  const Mix work = StoreMix("Work");
  const Mix lunch = StoreMix("Lunch");
  AddItem(2, 540, 720, work);
  AddItem(2, 720, 780, lunch);
  Scheduler scheduler;
  scheduler.SetType(1);
  scheduler.Start();
  SetNow(5, 11, 0);
  scheduler.Override();
  TakeModeMessages();
  SetNow(5, 12, 0);
  EXPECT_TRUE(scheduler.CheckDue());
  EXPECT_TRUE(scheduler.IsRunning());
  EXPECT_EQ(scheduler.GetDueMix().GetName(), "Lunch");
  EXPECT_EQ(TakeModeMessages(), 1);
}

TEST_F(SchedulerTest, NothingIsPostedWithoutAMainWindow) {
  SetAppMainWindow(nullptr);
  Scheduler scheduler;
  scheduler.Start();
  EXPECT_TRUE(scheduler.IsRunning());
  EXPECT_EQ(TakeModeMessages(), 0);
}

TEST_F(SchedulerTest, LoadReadsTypeAndStateWithoutPosting) {
  const Mix day = StoreMix("Day");
  AddItem(1, 0, 0, day);
  WriteProfileInt("Startup", "ScheduleType", 0);
  WriteProfileInt("Startup", "ScheduleOn", 1);
  Scheduler scheduler;
  EXPECT_EQ(scheduler.Load(), 1);
  EXPECT_TRUE(scheduler.IsRunning());
  EXPECT_EQ(scheduler.GetType(), 0);
  ASSERT_EQ(scheduler.GetSchedules().size(), 1u);
  EXPECT_EQ(scheduler.GetDueMix().GetName(), "Day");
  EXPECT_EQ(TakeModeMessages(), 0);

  WriteProfileInt("Startup", "ScheduleOn", 2);
  EXPECT_EQ(scheduler.Load(), 2);
  EXPECT_EQ(scheduler.GetState(), SchedulerState::Stopped);
}

TEST_F(SchedulerTest, LoadDefaultsOnAFirstStart) {
  Scheduler scheduler;
  scheduler.SetType(2);
  scheduler.Start();
  EXPECT_EQ(scheduler.Load(), 0);
  EXPECT_EQ(scheduler.GetType(), 1);
  EXPECT_EQ(scheduler.GetState(), SchedulerState::Stopped);
  EXPECT_EQ(scheduler.GetSchedules().size(), 2u);
}

TEST_F(SchedulerTest, DestructionStoresTypeAndOnOffState) {
  {
    Scheduler scheduler;
    scheduler.SetType(2);
    scheduler.Start();
  }
  EXPECT_EQ(Stored("ScheduleType"), 2);
  EXPECT_EQ(Stored("ScheduleOn"), 1);
  {
    Scheduler scheduler;
    scheduler.Load();
    scheduler.Override();  // exiting overridden resumes running next time
  }
  EXPECT_EQ(Stored("ScheduleOn"), 1);
  {
    Scheduler scheduler;
    EXPECT_EQ(scheduler.Load(), 1);
    EXPECT_TRUE(scheduler.IsRunning());
    scheduler.SetType(0);
    scheduler.Stop();
  }
  EXPECT_EQ(Stored("ScheduleType"), 0);
  EXPECT_EQ(Stored("ScheduleOn"), 0);
  { Scheduler neverLoaded; }
  EXPECT_EQ(Stored("ScheduleType"), 1);
  EXPECT_EQ(Stored("ScheduleOn"), 0);
}

TEST_F(SchedulerTest, TypeItemsComeFromTheFixedSchedules) {
  const Mix a = StoreMix("A");
  AddItem(1, 0, 60, a);
  AddItem(3, 60, 120, a);
  AddItem(2, 120, 180, a);
  AddItem(10, 180, 240, a);
  AddItem(4, 240, 300, a);
  Scheduler scheduler;

  ScheduleItemList items;
  scheduler.SetType(1);
  scheduler.GetTypeItems(items);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].GetScheduleId(), 2);
  EXPECT_EQ(items[1].GetScheduleId(), 3);

  items.clear();
  scheduler.SetType(2);
  scheduler.GetTypeItems(items);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].GetScheduleId(), 4);
  EXPECT_EQ(items[1].GetScheduleId(), 10);

  items.clear();
  scheduler.SetType(0);
  scheduler.GetTypeItems(items);
  ASSERT_EQ(items.size(), 1u);

  items.clear();
  scheduler.SetType(7);
  scheduler.GetTypeItems(items);
  EXPECT_TRUE(items.empty());
  EXPECT_TRUE(scheduler.GetSchedules().empty());
}

}  // namespace

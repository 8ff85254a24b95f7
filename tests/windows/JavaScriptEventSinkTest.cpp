#include "windows/JavaScriptEventSink.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/Schedule.h"
#include "core/Scheduler.h"
#include "platform/html/MemoryHtmlDocument.h"
#include "tests/windows/TagPagesTestSupport.h"
#include "windows/TagLinks.h"

namespace {

using platform::ScriptArgs;
using Names = std::vector<std::string>;
using Posts = std::vector<UINT>;

// theScheduler stores its state in the profile when the process ends: that
// profile is one of this process's own, never the user's.
const bool kPrivateProfile = [] {
  static zorva_test::TempFolder folder;
  setenv("XDG_CONFIG_HOME", folder.Path().c_str(), 1);
  return true;
}();

class JavaScriptEventSinkTest : public zorva_test::TagPagesTest {
 protected:
  JavaScriptEventSinkTest() {
    Page(Player)->SetExternalDispatch(&playerSink);
    Page(Scheduler)->SetExternalDispatch(&schedulerSink);
    theTagLinks.Reload(Page(Player), Page(Scheduler), Page(Generator));
    theScheduler.SetType(ScheduleWeekdaysWeekend);
    mix = StoreMix("rock", {{TagGenre, "Rock"}});
    other = StoreMix("jazz trio", {{TagGenre, "Jazz"}, {TagArtist, "Trio"}});
    item = ScheduleItem(60, 120, mix.GetId(), kSchedule);
    db.AddScheduleItem(item);
  }
  ~JavaScriptEventSinkTest() override {
    theTagLinks.SetPlayerThreshold(0);
    theTagLinks.SetAutomatorThreshold(0);
    theTagLinks.SetAutomatorSelector(Mix());
    theTagLinks.Reload(nullptr, nullptr, nullptr);
    theScheduler.SetType(ScheduleWeekdaysWeekend);
  }

  // What page script's window.external.name(args) gets on that page.
  HRESULT Call(int page, const std::string& name, const ScriptArgs& args) {
    auto* document = dynamic_cast<platform::MemoryHtmlDocument*>(Page(page)->GetDocument());
    return document->CallExternal(name, args, nullptr);
  }

  // Start, end and mix of each item of the schedule.
  std::vector<std::vector<int>> Items(int scheduleId) {
    std::vector<ScheduleItem> items;
    db.GetScheduleItems(scheduleId, items);
    std::vector<std::vector<int>> values;
    for (const ScheduleItem& i : items) values.push_back({i.GetStart(), i.GetEnd(), i.GetMix().GetId()});
    return values;
  }

  static constexpr int kSchedule = 1;
  JavaScriptEventSink playerSink{JavaScriptEventSink::PlayerPage};
  JavaScriptEventSink schedulerSink{JavaScriptEventSink::SchedulerPage};
  Mix mix;
  Mix other;
  ScheduleItem item{0, 0, 0, 0};
};

TEST_F(JavaScriptEventSinkTest, PageScriptInsertsAndUpdatesScheduleItems) {
  ASSERT_EQ(Call(Scheduler, "InsertScheduleItem", {600, 660, other.GetId(), kSchedule}), S_OK);
  EXPECT_EQ(Items(kSchedule), (std::vector<std::vector<int>>{{60, 120, mix.GetId()}, {600, 660, other.GetId()}}));
  EXPECT_EQ(TakePosted(), Posts{WM_APP_SCHEDULE_CHANGED});

  // Numbers may come as decimal texts, as script hands them over.
  const std::string id = item.GetElementId();
  ASSERT_EQ(Call(Scheduler, "UpdateScheduleItem", {id, "90", 150, other.GetId(), kSchedule}), S_OK);
  const ScheduleItem stored = db.GetScheduleItem(item.GetId());
  EXPECT_EQ(stored.GetStart(), 90);
  EXPECT_EQ(stored.GetEnd(), 150);
  EXPECT_EQ(stored.GetMix().GetId(), other.GetId());
  EXPECT_EQ(TakePosted(), Posts{WM_APP_SCHEDULE_CHANGED});
}

TEST_F(JavaScriptEventSinkTest, BadCallsChangeNothing) {
  const std::string id = item.GetElementId();
  struct Case {
    const char* method;
    ScriptArgs args;
    HRESULT result;
  };
  const Case cases[] = {
      {"InsertScheduleItem", {600, 660, mix.GetId()}, DISP_E_BADPARAMCOUNT},
      {"InsertScheduleItem", {"ten", 660, mix.GetId(), kSchedule}, DISP_E_TYPEMISMATCH},
      {"UpdateScheduleItem", {id, 90, "", mix.GetId(), kSchedule}, DISP_E_TYPEMISMATCH},
      {"UpdateScheduleItem", {"sitemid_", 90, 150, mix.GetId(), kSchedule}, S_OK},
      {"UpdateScheduleItem", {"sitemid_x", 90, 150, mix.GetId(), kSchedule}, S_OK},
      {"UpdateScheduleItem", {"item_1", 90, 150, mix.GetId(), kSchedule}, S_OK},
      {"SetScheduleType", {"daily"}, DISP_E_TYPEMISMATCH},
      {"FrequecyHider", {}, DISP_E_BADPARAMCOUNT},
      {"EditInPlaceUpdate", {"CurrentMixName", "new name"}, S_OK},
      {"EditInPlaceUpdate", {"tracktitle", "new name"}, S_OK},
      {"DeleteScheduleItem", {id}, DISP_E_UNKNOWNNAME},
  };
  const auto items = Items(kSchedule);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method);
    EXPECT_EQ(Call(Scheduler, c.method, c.args), c.result);
    EXPECT_EQ(Items(kSchedule), items);
    EXPECT_EQ(TakePosted(), Posts{});
    EXPECT_EQ(theScheduler.GetType(), ScheduleWeekdaysWeekend);
    EXPECT_EQ(ShownAll(*Page(Player)), ShownAll(*Page(Generator)));
  }
}

TEST_F(JavaScriptEventSinkTest, EditedMixNameIsReportedToTheMainWindow) {
  ASSERT_EQ(Call(Player, "EditInPlaceUpdate", {"currentmixname", "My mix"}), S_OK);
  EXPECT_EQ(TakePosted(), Posts{WM_APP_MIX_RENAMED});
}

TEST_F(JavaScriptEventSinkTest, ScheduleTypeSwitchesOnlyToKnownTypesAndIsAlwaysReported) {
  const struct {
    int type;
    int expected;
  } cases[] = {{0, 0}, {2, 2}, {7, 2}, {-1, 2}, {1, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    ASSERT_EQ(Call(Scheduler, "SetScheduleType", {c.type}), S_OK);
    EXPECT_EQ(theScheduler.GetType(), c.expected);
    EXPECT_EQ(TakePosted(), Posts{WM_APP_SCHEDULE_CHANGED});
  }
  std::vector<Schedule> perDay;
  db.GetSchedules(SchedulePerDay, perDay);
  theScheduler.SetType(SchedulePerDay);
  EXPECT_EQ(theScheduler.GetSchedules().size(), perDay.size());
}

TEST_F(JavaScriptEventSinkTest, SelectorMixMarksItsTagsOnTheSchedulerPage) {
  // Either page's sink sets the scheduler page's selector.
  for (int page : {Scheduler, Player}) {
    ASSERT_EQ(Call(page, "SetSelectorMix", {"itemmix_" + std::to_string(other.GetId())}), S_OK);
    EXPECT_EQ(Shown(*Page(Scheduler), "genretaglinks"), (Names{"Rock", "-Jazz", "Folk"}));
    EXPECT_EQ(Shown(*Page(Scheduler), "artisttaglinks"), (Names{"Band", "-Trio", "Solo"}));
    EXPECT_EQ(ShownAll(*Page(Player)), ShownAll(*Page(Generator)));
    // No mix id: the mix of id 0, which holds no tags.
    ASSERT_EQ(Call(page, "SetSelectorMix", {"itemmix"}), S_OK);
    EXPECT_EQ(ShownAll(*Page(Scheduler)), ShownAll(*Page(Generator)));
  }
}

TEST_F(JavaScriptEventSinkTest, FrequencyHiderMovesTheThresholdOfItsOwnPage) {
  const Names common = {"Rock", "Band", "Loud"};
  ASSERT_EQ(Call(Player, "FrequecyHider", {2}), S_OK);
  EXPECT_EQ(ShownAll(*Page(Player)), common);
  EXPECT_EQ(ShownAll(*Page(Scheduler)), ShownAll(*Page(Generator)));

  ASSERT_EQ(Call(Scheduler, "FrequecyHider", {"2"}), S_OK);
  EXPECT_EQ(ShownAll(*Page(Scheduler)), common);
  ASSERT_EQ(Call(Player, "FrequecyHider", {0}), S_OK);
  EXPECT_EQ(ShownAll(*Page(Player)), ShownAll(*Page(Generator)));
  EXPECT_EQ(ShownAll(*Page(Scheduler)), common);
}

}  // namespace

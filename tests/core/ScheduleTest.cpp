#include "core/Schedule.h"

#include <gtest/gtest.h>

#include "platform/html/MemoryHtmlDocument.h"
#include "tests/core/ScheduleTestSupport.h"

namespace {

class ScheduleItemTest : public zorva_test::ScheduleFixture {};
class ScheduleTest : public zorva_test::ScheduleFixture {};

ScheduleItem Slot(int start, int end, int scheduleId = 2) { return ScheduleItem(start, end, 0, scheduleId); }

TEST_F(ScheduleItemTest, ContainsPlainWrappingAndWholeDaySlots) {
  const ScheduleItem morning = Slot(540, 600);
  EXPECT_FALSE(morning.Contains(539));
  EXPECT_TRUE(morning.Contains(540));
  EXPECT_TRUE(morning.Contains(599));
  EXPECT_FALSE(morning.Contains(600));

  const ScheduleItem night = Slot(1380, 60);
  for (int m : {1380, 1439, 0, 59}) EXPECT_TRUE(night.Contains(m)) << m;
  for (int m : {60, 61, 720, 1379}) EXPECT_FALSE(night.Contains(m)) << m;

  const ScheduleItem allDay = Slot(600, 600);
  for (int m = 0; m < 1440; ++m) ASSERT_TRUE(allDay.Contains(m)) << m;
}

TEST_F(ScheduleItemTest, ContainsTakesTimesBeyondTheDayModuloOneDay) {
  // 23:00 to 01:00 written with the end on the next day.
  const ScheduleItem overMidnight = Slot(1380, 1500);
  for (int m : {1380, 1439, 0, 30, 59}) EXPECT_TRUE(overMidnight.Contains(m)) << m;
  EXPECT_FALSE(overMidnight.Contains(60));
  EXPECT_FALSE(overMidnight.Contains(1379));

  // A slot written wholly after midnight.
  const ScheduleItem afterMidnight = Slot(1440, 1500);
  EXPECT_TRUE(afterMidnight.Contains(0));
  EXPECT_TRUE(afterMidnight.Contains(59));
  EXPECT_FALSE(afterMidnight.Contains(60));
  EXPECT_FALSE(afterMidnight.Contains(1439));

  const ScheduleItem negativeStart = Slot(-60, 60);
  EXPECT_TRUE(negativeStart.Contains(1400));
  EXPECT_FALSE(negativeStart.Contains(700));

  // A whole day written as 0 to 1440 stays a whole day.
  const ScheduleItem fullDay = Slot(0, 1440);
  EXPECT_TRUE(fullDay.Contains(0));
  EXPECT_TRUE(fullDay.Contains(1439));
}

TEST_F(ScheduleItemTest, FormatTimeUsesTwelveHoursOnlyInFixedSchedules) {
  const ScheduleItem fixed = Slot(0, 0, 4);
  EXPECT_EQ(fixed.FormatTime(720), "12:00");
  EXPECT_EQ(fixed.FormatTime(1439), "11:59");
  EXPECT_EQ(fixed.FormatTime(30), " 0:30");
  EXPECT_EQ(fixed.FormatTime(810), " 1:30");
  EXPECT_EQ(Slot(0, 0, 10).FormatTime(1170), " 7:30");
  EXPECT_EQ(Slot(0, 0, 11).FormatTime(810), "13:30");
  EXPECT_EQ(Slot(0, 0, 0).FormatTime(810), "13:30");
}

TEST_F(ScheduleItemTest, ElementIdsAndTheConstructorsThatReadThem) {
  ScheduleItem item("sitemid_42", 60, 120, 0, 3);
  EXPECT_EQ(item.GetId(), 42);
  EXPECT_EQ(item.GetElementId(), "sitemid_42");
  EXPECT_EQ(item.GetDeleteElementId(), "delsitemid_42_3");
  EXPECT_EQ(ScheduleItem("itemmix_42", 60, 120, 0, 3).GetId(), 0);

  platform::MemoryHtmlDocument page;
  page.LoadHtml("<body><a id=\"delsitemid_5_3\" href=\"#\">x</a></body>");
  const ScheduleItem named(*page.GetElementById("delsitemid_5_3"));
  EXPECT_EQ(named.GetId(), 5);
  EXPECT_EQ(named.GetScheduleId(), 3);
  EXPECT_EQ(named.GetStart(), 0);
  EXPECT_TRUE(named.GetMix().IsRandom());
}

TEST_F(ScheduleItemTest, LibraryMixHtml) {
  const Mix rock = StoreMix("Rock");
  ScheduleItem item("sitemid_7", 810, 900, rock.GetId(), 2);
  const std::string e = "sitemid_7";
  const std::string id = std::to_string(rock.GetId());
  const std::string expected =
      "<div class=\"scheduleitem\" id=\"" + e + "\" start=\"810\" end=\"900\" mix=\"Rock\" mixid=\"" + id +
      "\" scheduleid=\"2\">\n<div class=\"itemtitle\" title='Drag to change the schedule time'><div "
      "class=\"windowcontrols\"><a href=\"#\" title='remove from schedule' class=\"deleteitem\" "
      "id=\"delsitemid_7_2\">x</a></div>\n<div class=\"itemmix\" id=\"itemmix_" +
      e + "\"><a href=\"#\"  title='Choose a mix or playlist for this timeslot' onmouseover=\"mixover('itemmix_" + e +
      "')\"  onclick=\"mixclick('mixchanger','itemmix_" + e + "');\" onmouseout=\"mixout('itemmix_" + e +
      "')\"><img  id=\"itemmix_" + e +
      "_img\" class=\"mixdropdown\" align=\"bottom\" border=\"0\" src=\"skin/automator_mix.gif\"><span> Rock "
      "</span></a></div><span class=\"nicetime\"> 1:30 -  3:00</span></div>\n<div class=\"itemdesc\"><a "
      "href=\"#\" title='Click here to fine tune your music selection' "
      "onclick=\"selectorclick('mixselect','itemmix_" +
      e + "', 'itemmix_" + id +
      "');\"><img class=\"selectdropdown\" align=\"bottom\" border=\"0\" "
      "src=\"skin/automator_selector.gif\">Rock</a></div>\n<div class=\"itemresize\" title='Drag to make the "
      "timeslot longer'><img src=\"skin/resize.gif\"></div>\n</div>\n";
  EXPECT_EQ(item.GetHtml(), expected);
}

TEST_F(ScheduleItemTest, PlaylistMixHtmlDescribesThePlaylistAndKeepsItemsApart) {
  ScheduleItem first("sitemid_1", 0, 60, 0, 2);
  first.SetMix(Mix(321, "Road trip", 12));
  ScheduleItem second("sitemid_2", 60, 120, 0, 2);
  second.SetMix(Mix(322, "Drive", 0));

  const std::string html = first.GetHtml();
  EXPECT_NE(html.find("<span class=\"nicetime\"> 0:00 -  1:00</span></div>\n<div class=\"itemdesc\"><span>"
                      "iTunes playlist with 12 tracks</span></div>\n<div class=\"itemresize\""),
            std::string::npos)
      << html;
  EXPECT_EQ(html.find("selectorclick"), std::string::npos);

  // The items are written one after another into the page: each must stand on its own.
  platform::MemoryHtmlDocument page;
  page.LoadHtml("<body><div id=\"mixdata\">" + html + second.GetHtml() + "</div></body>");
  const auto secondDiv = page.GetElementById("sitemid_2");
  ASSERT_NE(secondDiv, nullptr);
  EXPECT_EQ(secondDiv->GetParent()->GetId(), "mixdata");
  EXPECT_EQ(page.GetElementById("sitemid_1")->GetParent()->GetId(), "mixdata");
}

TEST_F(ScheduleItemTest, MarkupAndQuotesInNamesStayTextAndIdsReadBack) {
  const std::string name = "Say \"hi\" <b>now</b> & 'then'";
  const Mix tagged = StoreMix(name);
  ScheduleItem library("sitemid_7", 60, 120, tagged.GetId(), 2);
  ScheduleItem playlist("sitemid_8", 120, 180, 0, 3);
  playlist.SetMix(Mix(321, name, 12));
  platform::MemoryHtmlDocument page;
  page.LoadHtml("<body><div id=\"mixdata\">" + library.GetHtml() + playlist.GetHtml() + "</div></body>");

  for (const ScheduleItem* item : {&library, &playlist}) {
    const auto div = page.GetElementById(item->GetElementId());
    ASSERT_NE(div, nullptr) << item->GetElementId();
    EXPECT_EQ(div->GetAttribute("scheduleid"), std::to_string(item->GetScheduleId()));
    EXPECT_EQ(div->GetAttribute("mixid"), std::to_string(item->GetMix().GetId()));
    EXPECT_EQ(div->GetAttribute("mix"), item->GetMix().GetDescription());
    const auto mixLink = page.GetElementById("itemmix_" + item->GetElementId());
    ASSERT_NE(mixLink, nullptr);
    EXPECT_EQ(mixLink->GetInnerText(), " " + name + " ");
  }
  EXPECT_EQ(page.GetElementById("sitemid_7")->GetChildren().back()->GetClassName(), "itemresize");

  const Schedule saved(SQLiteRow{{"id", "17"}, {"name", name}, {"type", "5"}, {"duration", "60"}});
  page.LoadHtml("<body>" + saved.GetGeneratorListHtml() + "</body>");
  const auto entry = page.GetElementById("17_:_setplaylist");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->GetAttribute("title"), "Use schedule for " + name);
  ASSERT_EQ(entry->GetChildren().size(), 3u);
  EXPECT_EQ(entry->GetChildren()[1]->GetInnerText(), name);
}

TEST_F(ScheduleItemTest, MixTagsChangeTheStoredMix) {
  const Mix rock = StoreMix("Rock");
  AddTrack("Jazz song", "Jazz artist", "Jazz album", "Jazz");
  const Tag jazz = db.FindOrCreateTag("Jazz", TagGenre);
  ScheduleItem item = AddItem(2, 0, 60, rock);
  item.AddMixTag(jazz);
  EXPECT_EQ(db.GetMix(rock.GetId()).GetTags().size(), 2u);
  item.RemoveMixTag(jazz);
  EXPECT_EQ(db.GetMix(rock.GetId()).GetTags().size(), 1u);
}

TEST_F(ScheduleTest, ItemStorageRoundTrip) {
  const Mix rock = StoreMix("Rock");
  const Mix pop = StoreMix("Pop");
  ScheduleItem item = AddItem(2, 60, 120, rock);
  ASSERT_GT(item.GetId(), 0);

  ScheduleItem loaded = db.GetScheduleItem(item.GetId());
  EXPECT_EQ(loaded.GetStart(), 60);
  EXPECT_EQ(loaded.GetEnd(), 120);
  EXPECT_EQ(loaded.GetScheduleId(), 2);
  EXPECT_EQ(loaded.GetMix().GetName(), "Rock");

  item.SetStart(90);
  item.SetEnd(30);
  item.SetScheduleId(3);
  db.UpdateScheduleItem(item);
  loaded = db.GetScheduleItem(item.GetId());
  EXPECT_EQ(loaded.GetStart(), 90);
  EXPECT_EQ(loaded.GetEnd(), 30);
  EXPECT_EQ(loaded.GetScheduleId(), 3);

  db.SetScheduleItemMix(item.GetId(), pop.GetId());
  EXPECT_EQ(db.GetScheduleItem(item.GetId()).GetMix().GetName(), "Pop");

  // Deleting needs the item's own schedule.
  db.DeleteScheduleItem(ScheduleItem("sitemid_" + std::to_string(item.GetId()), 0, 0, 0, 2));
  EXPECT_EQ(db.GetScheduleItem(item.GetId()).GetId(), item.GetId());
  db.DeleteScheduleItem(item);
  const ScheduleItem missing = db.GetScheduleItem(item.GetId());
  EXPECT_EQ(missing.GetId(), 0);
  EXPECT_EQ(missing.GetStart(), 0);
  EXPECT_TRUE(missing.GetMix().IsRandom());
}

TEST_F(ScheduleTest, ItemOfADeletedMixPlaysARandomSelection) {
  const Mix rock = StoreMix("Rock");
  const ScheduleItem item = AddItem(1, 0, 60, rock);
  db.DeleteMix(rock);
  ScheduleItemList items;
  db.GetScheduleItems(1, items);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].GetId(), item.GetId());
  EXPECT_EQ(items[0].GetMix().GetId(), 0);
  EXPECT_TRUE(items[0].GetMix().IsRandom());
}

TEST_F(ScheduleTest, SchedulesOfATypeWithTheirItemsAndDays) {
  const Mix rock = StoreMix("Rock");
  const Mix pop = StoreMix("Pop");
  AddItem(3, 600, 720, rock);
  AddItem(3, 660, 780, pop);

  ScheduleList schedules;
  db.GetSchedules(1, schedules);
  ASSERT_EQ(schedules.size(), 2u);
  EXPECT_EQ(schedules[0].GetName(), "weekdays");
  EXPECT_EQ(schedules[0].GetDuration(), 1440);
  EXPECT_TRUE(schedules[0].GetItems().empty());
  const Schedule& weekend = schedules[1];
  EXPECT_EQ(weekend.GetId(), 3);
  ASSERT_EQ(weekend.GetItems().size(), 2u);

  EXPECT_TRUE(weekend.HasItemAt(ScheduleSaturday, 700));
  EXPECT_TRUE(weekend.HasItemAt(ScheduleSunday, 600));
  // The day flag decides first, whatever the items say.
  EXPECT_FALSE(weekend.HasItemAt(ScheduleMonday, 700));
  EXPECT_TRUE(weekend.GetMixAt(ScheduleMonday, 700).IsRandom());
  // Overlapping items: the first in list order wins.
  EXPECT_EQ(weekend.GetMixAt(ScheduleSaturday, 700).GetName(), "Rock");
  EXPECT_EQ(weekend.GetMixAt(ScheduleSaturday, 750).GetName(), "Pop");
  EXPECT_FALSE(weekend.HasItemAt(ScheduleSaturday, 780));
  EXPECT_EQ(weekend.GetMixAt(ScheduleSaturday, 800).GetId(), 0);

  ScheduleList perDay;
  db.GetSchedules(2, perDay);
  ASSERT_EQ(perDay.size(), 7u);
  EXPECT_TRUE(perDay[0].AppliesOn(ScheduleMonday));
  EXPECT_FALSE(perDay[0].AppliesOn(ScheduleTuesday));
  EXPECT_TRUE(perDay[6].AppliesOn(ScheduleSunday));
}

TEST_F(ScheduleTest, GeneratorListEntry) {
  const Schedule party(SQLiteRow{{"id", "17"}, {"name", "Party"}, {"type", "5"}, {"duration", "150"}});
  EXPECT_EQ(party.GetGeneratorListHtml(),
            "<div class=\"playlistwrap\" title=\"Use schedule for Party\"  id=\"17_:_setplaylist\" "
            "onclick=\"ypSlideOutMenu.hideAll();\" onMouseOver=\"this.style.backgroundColor='#adab22';\" "
            "onMouseOut=\"this.style.backgroundColor='#ffffff';\"> <a href=\"#\" id=\"17_:_setplaylist_:_del\" "
            "title=\"Delete this schedule\" class=\"playlistdel\">X</a> <a href=\"#\" "
            "onclick=\"this.parentNode.click()\" title=\"Load schedule\">Party</a> <div class='playlisttime' "
            "onclick=\"this.parentNode.click()\">2 hours and 30 minutes</div></div>");
  const Schedule unnamed(SQLiteRow{{"id", "18"}, {"name", ""}, {"type", "5"}, {"duration", "60"}});
  EXPECT_EQ(unnamed.GetGeneratorListHtml(), "");
}

}  // namespace

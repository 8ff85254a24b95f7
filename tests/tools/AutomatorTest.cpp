// The scheduler window on its page file in the in-memory document.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/MusicDB.h"
#include "platform/html/MemoryHtmlDocument.h"
#include "tests/support/MemoryPageTestSupport.h"
#include "tests/tools/SchedulerToolsTestSupport.h"
#include "tools/Automator.h"

namespace {

using namespace zorva_test;
using platform::ScriptArgs;

class AutomatorTest : public SchedulerToolsTest {
 protected:
  AutomatorTest() {
    jazz = StoreMix("Jazz");
    rock = StoreMix("Rock");
    automator = std::make_unique<Automator>();
    EXPECT_TRUE(automator->Create());
    theTagLinks.Reload(nullptr, automator.get(), nullptr);
  }
  ~AutomatorTest() override {
    theTagLinks.Reload(nullptr, nullptr, nullptr);
    automator.reset();
  }

  platform::MemoryHtmlDocument& Page() { return MemoryPageOf(*automator); }
  platform::HtmlElementPtr Element(const std::string& id) { return automator->GetElement(id); }
  // Makes an element of the page's markup for the event to happen on.
  platform::HtmlElementPtr Put(const std::string& html) {
    automator->SetElementHtml("mixdata", automator->GetElementHtml("mixdata") + html);
    auto data = Element("mixdata")->GetChildren();
    return data.back();
  }
  bool Fire(const platform::HtmlElementPtr& element, const std::string& type = "click") {
    return FireOn(*automator, element, type);
  }
  HRESULT External(const std::string& name, const ScriptArgs& args) { return Page().CallExternal(name, args, nullptr); }
  void ChooseFor(const std::string& chooser) { automator->SetElementText("currentitem", chooser); }
  std::vector<std::string> TakeScriptCalls() { return zorva_test::TakeScriptCalls(Page()); }
  platform::HtmlElementPtr TagLink(const Tag& tag) { return Element(std::to_string(tag.id) + "_:_tag_:_add"); }

  Mix jazz;
  Mix rock;
  std::unique_ptr<Automator> automator;
};

TEST_F(AutomatorTest, OpensHiddenLeftOfCentreAndPushesTheLayoutAndTheTrueStateToThePage) {
  EXPECT_FALSE(automator->IsWindowVisible());
  RECT rect{};
  automator->GetWindowRect(&rect);
  const LONG width = rect.right - rect.left;
  const LONG height = rect.bottom - rect.top;
  EXPECT_EQ(rect.left, std::max<LONG>(0, 960 - (width * 3) / 2 - 5));
  EXPECT_EQ(rect.top, std::max<LONG>(0, 540 - height / 2 - 50));
  EXPECT_EQ(Page().GetUrl(), CFramelessHtmlWindow::PageUrl("Automator.htm"));
  // The page's markup says "Running"; the stopped scheduler says otherwise.
  EXPECT_EQ(Element("enable")->GetClassName(), "enableclass");
  EXPECT_EQ(Element("enable")->GetInnerText(), "Stopped");
  const auto calls = TakeScriptCalls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "setscheduletype(1)"), calls.end());

  automator->ShowWindow(SW_SHOW);
  EXPECT_EQ(TakeScriptCalls(), std::vector<std::string>{"scrolltocurrenttime"});
  automator->SetWallpaper("url(skin/background3.gif)");
  EXPECT_EQ(Element("Automator")->GetStyleBackgroundImage(), "url(skin/background3.gif)");
  EXPECT_EQ(TakeScriptCalls(), std::vector<std::string>{"enablewindow"});
  automator->ShowMixLinks(jazz.GetPlayerMenuHtml());
  automator->ShowPlaylistLinks("<div id='pl'>Party</div>");
  EXPECT_NE(automator->GetElementHtml("zorvamixlinks").find("Jazz"), std::string::npos);
  EXPECT_TRUE(Element("pl"));
}

TEST_F(AutomatorTest, ScheduleTypeSwitchShowsTheItemsOfThatLayout) {
  const ScheduleItem weekday = StoreItem(2, 420, 480, jazz.GetId());
  const ScheduleItem monday = StoreItem(4, 600, 660, rock.GetId());
  Page().ClearScriptCalls();
  struct Case {
    int type;
    std::string shown;
    std::string hidden;
  };
  for (const Case& c : {Case{2, monday.GetElementId(), weekday.GetElementId()},
                        Case{7, monday.GetElementId(), weekday.GetElementId()},  // refused: the type stays
                        Case{1, weekday.GetElementId(), monday.GetElementId()}}) {
    ASSERT_EQ(External("SetScheduleType", {c.type}), S_OK);
    EXPECT_EQ(TakePosted(), Posts{WM_APP_SCHEDULE_CHANGED}) << c.type;
    // What the main window does on that message.
    automator->ShowScheduleItems();
    EXPECT_TRUE(Element(c.shown)) << c.type;
    EXPECT_FALSE(Element(c.hidden)) << c.type;
    EXPECT_EQ(TakeScriptCalls(), std::vector<std::string>{"positionScheduleItems"});
  }
}

TEST_F(AutomatorTest, EnableStartsStopsAndLeavesAnOverride) {
  struct Step {
    std::string className;
    std::string text;
  };
  auto click = [&] {
    Fire(Element("enable"));
    EXPECT_EQ(TakePosted(), Posts{WM_APP_SCHEDULER_MODE});
    automator->UpdateEnableButton();
    return Step{Element("enable")->GetClassName(), Element("enable")->GetInnerText()};
  };
  Step step = click();
  EXPECT_EQ(step.className + step.text, "disableclassRunning");
  theScheduler.Override();
  TakePosted();
  automator->UpdateEnableButton();
  EXPECT_EQ(Element("enable")->GetInnerText(), "Override");
  EXPECT_EQ(Element("enable")->GetClassName(), "overrideclass");
  step = click();  // an override is started again, not stopped
  EXPECT_EQ(step.className + step.text, "disableclassRunning");
  step = click();
  EXPECT_EQ(step.className + step.text, "enableclassStopped");
}

TEST_F(AutomatorTest, QuickAddAndTimelineItemsAreStoredAndBadSlotsRefused) {
  // The item editor's mix cell takes the mix chosen for "newmix"; no item changes.
  const ScheduleItem existing = StoreItem(2, 60, 120);
  ChooseFor("newmix");
  auto choice = Put(rock.GetPlayerMenuHtml());
  Fire(choice);
  EXPECT_EQ(TakePosted(), Posts{WM_APP_SCHEDULE_CHANGED});
  EXPECT_EQ(Element("editormix")->GetAttribute("mixid"), std::to_string(rock.GetId()));
  EXPECT_EQ(Items(2), (std::vector<std::vector<int>>{{60, 120, 0}}));

  // The editor's save and a click on the timeline reach the program as slots.
  ASSERT_EQ(External("InsertScheduleItem", {420, 480, rock.GetId(), 2}), S_OK);
  ASSERT_EQ(External("InsertScheduleItem", {1320, 120, 0, 2}), S_OK);  // over midnight
  ASSERT_EQ(External("UpdateScheduleItem", {existing.GetElementId(), 90, 1440, jazz.GetId(), 2}), S_OK);
  EXPECT_EQ(Items(2),
            (std::vector<std::vector<int>>{{90, 1440, jazz.GetId()}, {420, 480, rock.GetId()}, {1320, 120, 0}}));
  TakePosted();
  const std::vector<ScriptArgs> bad = {
      {-15, 60, 0, 2}, {1500, 60, 0, 2}, {60, 1455, 0, 2}, {60, 120, 0, 11}, {60, 120, 0, 0}, {60, 120, 0, -1},
  };
  for (const ScriptArgs& args : bad) {
    EXPECT_EQ(External("InsertScheduleItem", args), S_OK);
    ScriptArgs update = args;
    update.insert(update.begin(), existing.GetElementId());
    EXPECT_EQ(External("UpdateScheduleItem", update), S_OK);
  }
  EXPECT_EQ(TakePosted(), Posts{});
  // A mix that is not stored plays a random selection.
  ASSERT_EQ(External("InsertScheduleItem", {600, 660, 9999, 3}), S_OK);
  EXPECT_EQ(Items(3), (std::vector<std::vector<int>>{{600, 660, 0}}));
}

TEST_F(AutomatorTest, MixMenuSetsAnItemsMixAndDeletesMixes) {
  const ScheduleItem item = StoreItem(2, 420, 480);
  ChooseFor("itemmix_" + item.GetElementId());
  Fire(Put(jazz.GetPlayerMenuHtml()));
  EXPECT_EQ(Items(2), (std::vector<std::vector<int>>{{420, 480, jazz.GetId()}}));
  EXPECT_EQ(TakePosted(), Posts{WM_APP_SCHEDULE_CHANGED});
  // A mix id the database does not hold is refused.
  Fire(Put("<div class='mixwrap' id='4242_:_0_:_set'>gone</div>"));
  EXPECT_EQ(Items(2), (std::vector<std::vector<int>>{{420, 480, jazz.GetId()}}));
  EXPECT_EQ(TakePosted(), Posts{});

  auto menu = Put(rock.GetPlayerMenuHtml());
  Fire(menu->GetChildren().at(0)->GetChildren().at(0));  // its "X"
  EXPECT_EQ(db.GetMix(rock.GetId()).GetId(), 0);
  EXPECT_EQ(TakePosted(), Posts{WM_APP_MIXES_CHANGED});
}

TEST_F(AutomatorTest, TagsShapeTheCurrentItemsMixAndNeverMakeStrayMixes) {
  const Tag blues = db.FindOrCreateTag("Blues", TagGenre);
  AddTrack("b1", "Blues artist", "Blues album", "Blues");
  theTagLinks.LoadLists();
  const ScheduleItem random = StoreItem(2, 1170, 1260);  // 19:30
  const ScheduleItem tuned = StoreItem(2, 60, 120, jazz.GetId());
  const int mixesBefore = Number("SELECT count(*) FROM mix");

  // Nothing is made for the editor, an empty or stale chooser, or an item the page has not stored.
  for (const std::string chooser : {"newmix", "", "itemmix_sitemid_999", "itemmix_newsitem_1", "itemmix_sitemid_"}) {
    ChooseFor(chooser);
    Fire(TagLink(blues));
    EXPECT_EQ(Number("SELECT count(*) FROM mix"), mixesBefore) << chooser;
  }
  EXPECT_EQ(TakePosted(), Posts{});

  // A random slot gets an untitled mix of its own, named after its start.
  ChooseFor("itemmix_" + random.GetElementId());
  Fire(TagLink(blues));
  const Mix made = db.GetMixOfScheduleItem(random.GetId());
  EXPECT_EQ(made.GetName(), "Untitled  7:30 mix");
  ASSERT_EQ(made.GetTags().size(), 1u);
  EXPECT_EQ(made.GetTags()[0].name, "Blues");
  EXPECT_EQ(TagLink(blues)->GetClassName(), "mixtagremove");
  EXPECT_EQ(TakePosted(), (Posts{WM_APP_SCHEDULE_CHANGED, WM_APP_MIXES_CHANGED}));

  // Opening the selector for the other item marks that item's tags.
  ChooseFor("itemmix_" + tuned.GetElementId());
  ASSERT_EQ(External("SetSelectorMix", {"itemmix_" + std::to_string(jazz.GetId())}), S_OK);
  EXPECT_EQ(TagLink(blues)->GetClassName(), "mixtagadd");
  Fire(TagLink(blues));
  EXPECT_EQ(db.GetMix(jazz.GetId()).GetTags().size(), 2u);
  TakePosted();
  Fire(TagLink(blues));  // now marked for removal
  EXPECT_EQ(db.GetMix(jazz.GetId()).GetTags().size(), 1u);
  EXPECT_EQ(TagLink(blues)->GetClassName(), "mixtagadd");
  EXPECT_EQ(TakePosted(), (Posts{WM_APP_SCHEDULE_CHANGED, WM_APP_MIXES_CHANGED}));
}

TEST_F(AutomatorTest, ATagLinkLeftFromADeletedTagWritesNothing) {
  AddTrack("b1", "Blues artist", "Blues album", "Blues");
  const Tag blues = db.FindOrCreateTag("Blues", TagGenre);
  theTagLinks.LoadLists();
  auto link = TagLink(blues);
  ASSERT_TRUE(link);
  db.DeleteTag(blues);
  const int mixesBefore = Number("SELECT count(*) FROM mix");
  // A random slot would get an untitled mix for it, a tuned one a row naming it.
  for (const ScheduleItem& item : {StoreItem(2, 1170, 1260), StoreItem(2, 60, 120, jazz.GetId())}) {
    ChooseFor("itemmix_" + item.GetElementId());
    Fire(link);
    EXPECT_EQ(Number("SELECT count(*) FROM mix"), mixesBefore);
    EXPECT_EQ(Number("SELECT count(*) FROM mixtag WHERE tagid NOT IN (SELECT id FROM tag)"), 0);
  }
  EXPECT_EQ(db.GetMix(jazz.GetId()).GetTags().size(), 1u);
  EXPECT_EQ(TakePosted(), Posts{});
}

TEST_F(AutomatorTest, TagFilterNarrowsTheListsAndClearWritesTheInputsValue) {
  auto genres = [&] { return automator->GetElementText("genretaglinks"); };
  theTagLinks.LoadLists();
  Element("tagfilter")->SetValue("Ja");
  Fire(Element("tagfilter"), "keyup");
  EXPECT_EQ(automator->GetTagFilter(), "Ja%");
  EXPECT_NE(genres().find("Jazz"), std::string::npos);
  EXPECT_EQ(genres().find("Rock"), std::string::npos);

  Fire(Element("findclear"));
  EXPECT_EQ(Element("tagfilter")->GetValue(), "");
  EXPECT_EQ(automator->GetTagFilter(), "");
  EXPECT_NE(genres().find("Rock"), std::string::npos);
}

TEST_F(AutomatorTest, DeleteItemSelectionDragsAndCloseButtons) {
  const ScheduleItem item = StoreItem(2, 420, 480);
  const ScheduleItem other = StoreItem(3, 420, 480);
  automator->ShowScheduleItems();
  Fire(Element(item.GetDeleteElementId()));
  EXPECT_EQ(Items(2), (std::vector<std::vector<int>>{}));
  EXPECT_EQ(Items(3).size(), 1u);
  EXPECT_EQ(TakePosted(), Posts{WM_APP_SCHEDULE_CHANGED});
  (void)other;

  // Marking out a span on the grid starts no window move; elsewhere a press drags the window.
  const int moves = platform::WindowMoveRequests(*automator);
  auto cell = Element("schedule_2")->GetChildren().at(1);
  EXPECT_TRUE(Fire(cell, "selectstart"));
  EXPECT_EQ(platform::WindowMoveRequests(*automator), moves);
  EXPECT_FALSE(Fire(Element("schedule_2"), "selectstart"));
  EXPECT_FALSE(Fire(Element("times"), "dragstart"));
  EXPECT_EQ(platform::WindowMoveRequests(*automator), moves + 2);

  automator->ShowWindow(SW_SHOW);
  Fire(Element("ButtonOK"));
  EXPECT_FALSE(automator->IsWindowVisible());
}

TEST(ScheduleItemIdOfChooserTest, OnlyAStoredItemsChooserNamesAnItem) {
  struct Case {
    const char* chooser;
    int id;
  };
  for (const Case& c : {Case{"itemmix_sitemid_12", 12}, Case{"newmix", 0}, Case{"", 0}, Case{"itemmix_newsitem_3", 0},
                        Case{"itemmix_sitemid_", 0}, Case{"itemmix_sitemid_-4", 0}, Case{"sitemid_5", 0}}) {
    EXPECT_EQ(ScheduleItemIdOfChooser(c.chooser), c.id) << c.chooser;
  }
}

}  // namespace

// The scheduler and generator windows on their real pages in Chromium, with
// the skin beside them and real mouse input (label browser).
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/MusicDB.h"
#include "tests/support/BrowserTestSupport.h"
#include "tests/support/DialogBrowserTestSupport.h"
#include "tests/tools/SchedulerToolsTestSupport.h"
#include "tools/Automator.h"
#include "tools/Generator.h"

namespace {

using namespace zorva_test;

// Every HTML dialog of this program shows its page in the test browser.
const bool kChromiumDialogs = zorva::test::ShowDialogsInTestBrowser();

platform::ChromiumHtmlDocument& Browser(CDHtmlDialog& dialog) { return zorva::test::BrowserPage(dialog); }

struct Point {
  double x = 0;
  double y = 0;
};

// A press at `from`, the mouse moved in steps to `to`, a release there.
void Drag(platform::ChromiumHtmlDocument& page, Point from, Point to) {
  page.MouseEvent("move", from.x, from.y);
  page.MouseEvent("down", from.x, from.y);
  constexpr int kSteps = 5;
  for (int i = 1; i <= kSteps; ++i) {
    page.MouseEvent("move", from.x + (to.x - from.x) * i / kSteps, from.y + (to.y - from.y) * i / kSteps);
  }
  page.MouseEvent("up", to.x, to.y);
}

// Page script's value of an expression.
std::string EvalIn(CDHtmlDialog& dialog, const std::string& expression) {
  platform::ScriptValue value;
  EXPECT_EQ(Browser(dialog).CallScript("eval", {platform::ScriptValue(expression)}, &value), S_OK) << expression;
  return value.ToText();
}

class AutomatorBrowserTest : public SchedulerToolsTest {
 protected:
  AutomatorBrowserTest() {
    // One schedule for every day, whatever day the test runs on.
    theScheduler.SetType(ScheduleAllDays);
  }
  ~AutomatorBrowserTest() override {
    if (automator) automator->DestroyWindow();
  }

  void Open() {
    automator = std::make_unique<Automator>();
    ASSERT_TRUE(automator->Create(CWnd::GetDesktopWindow()));
    ASSERT_NE(dynamic_cast<platform::ChromiumHtmlDocument*>(automator->GetDocument()), nullptr);
    // What the main window does when the page reports its layout.
    ASSERT_TRUE(Until([&] { return TakePosted() == Posts{WM_APP_SCHEDULE_CHANGED}; }));
    theScheduler.Reload();
    automator->ShowScheduleItems();
  }
  bool Until(const std::function<bool()>& done) { return zorva::test::ProcessUntil(Browser(*automator), done); }
  Point Centre(const platform::HtmlElementPtr& element) {
    Point p;
    EXPECT_TRUE(Browser(*automator).ElementCentre(element, &p.x, &p.y));
    return p;
  }
  platform::HtmlElementPtr Cell(int index) { return automator->GetElement("schedule_1")->GetChildren().at(index); }
  std::string Eval(const std::string& expression) { return EvalIn(*automator, expression); }
  // The menu is open and has slid to its place.
  bool MenuSettled(const std::string& menu) { return Eval(zorva::test::MenuSettledScript(menu)) == "true"; }
  // Centres of two cells, both in view.
  std::pair<Point, Point> Cells(int first, int second) {
    Centre(Cell(second));
    Centre(Cell(first));
    return {Centre(Cell(first)), Centre(Cell(second))};
  }

  std::unique_ptr<Automator> automator;
};

// A scheduler window whose handler of a click asks its page for a layout,
// as the program asks when its page has loaded.
class LayoutAskingAutomator : public Automator {
 public:
  const DHtmlEventMap& GetDHtmlEventMap() const override {
    static const DHtmlEventMap map(&Automator::ThisDHtmlEventMap(),
                                   {DHtmlEventOnClick("schedule_type", &LayoutAskingAutomator::OnScheduleType)});
    return map;
  }
  HRESULT OnScheduleType(platform::HtmlElement&) {
    GetScripter().CallFunction("setscheduletype", "2");
    return S_OK;
  }
};

TEST_F(AutomatorBrowserTest, ALayoutAskedWhileAClickWaitsIsStoredByThePagesAnswer) {
  automator = std::make_unique<LayoutAskingAutomator>();
  ASSERT_TRUE(automator->Create(CWnd::GetDesktopWindow()));
  ASSERT_TRUE(Until([&] { return TakePosted() == Posts{WM_APP_SCHEDULE_CHANGED}; }));
  ASSERT_EQ(theScheduler.GetType(), ScheduleAllDays);

  ASSERT_TRUE(zorva::test::ClickElement(Browser(*automator), automator->GetElement("schedule_type")));
  EXPECT_TRUE(Until([&] { return theScheduler.GetType() == SchedulePerDay; }));
  EXPECT_EQ(TakePosted(), Posts{WM_APP_SCHEDULE_CHANGED});
  EXPECT_EQ(automator->GetElement("scheduletype_buttons_2")->GetStyleDisplay(), "inline");
}

TEST_F(AutomatorBrowserTest, ItemsArePlacedFortyPixelsAnHourFromThreeAm) {
  const ScheduleItem overMidnight = StoreItem(1, 1320, 120);
  const ScheduleItem early = StoreItem(1, 60, 90);
  const ScheduleItem morning = StoreItem(1, 180, 240);
  Open();
  struct Case {
    std::string id;
    const char* top;
    const char* height;
  };
  for (const Case& c : {Case{overMidnight.GetElementId(), "761px", "159px"},
                        Case{early.GetElementId(), "881px", "19px"}, Case{morning.GetElementId(), "1px", "39px"}}) {
    auto item = automator->GetElement(c.id);
    ASSERT_TRUE(item) << c.id;
    EXPECT_EQ(item->GetStyle("top"), c.top) << c.id;
    EXPECT_EQ(item->GetStyle("height"), c.height) << c.id;
    EXPECT_EQ(item->GetStyle("width"), "288px") << c.id;
    EXPECT_EQ(item->GetStyle("display"), "block") << c.id;
  }
  // The timeline shown is the one of the layout; the others and their items are hidden.
  EXPECT_EQ(automator->GetElement("schedule_1")->GetStyleDisplay(), "block");
  EXPECT_EQ(automator->GetElement("schedule_2")->GetStyleDisplay(), "none");
  EXPECT_EQ(automator->GetElement("scheduletype_buttons_0")->GetStyleDisplay(), "inline");
  EXPECT_EQ(automator->GetElement("scheduletype_buttons_1")->GetStyleDisplay(), "none");
}

TEST_F(AutomatorBrowserTest, ANewItemDrawnOnTheTimelineIsStoredWithItsQuarterHours) {
  Open();
  // Cells are half hours from 3am; a cell's middle is a quarter past its start.
  const auto [from, to] = Cells(38, 41);
  Drag(Browser(*automator), from, to);
  EXPECT_TRUE(Until([&] { return Items(1).size() == 1; }));
  EXPECT_EQ(Items(1), (std::vector<std::vector<int>>{{1335, 1425, 0}}));  // 22:15 to 23:45

  // A plain click makes two hours; past midnight the minutes are those of the next day.
  ASSERT_TRUE(zorva::test::ClickElement(Browser(*automator), Cell(44)));
  EXPECT_TRUE(Until([&] { return Items(1).size() == 2; }));
  EXPECT_EQ(Items(1).back(), (std::vector<int>{75, 195, 0}));  // 1:15 to 3:15
}

TEST_F(AutomatorBrowserTest, DraggingAndResizingAnItemStoresItsNewTimes) {
  const ScheduleItem item = StoreItem(1, 1320, 120);
  Open();
  auto element = automator->GetElement(item.GetElementId());
  auto& page = Browser(*automator);
  // The page opens at the hour of the day; the drags need the item and room below it in view.
  Eval("document.getElementById('" + item.GetElementId() + "').scrollIntoView({block: 'start'})");
  const auto parts = element->GetChildren();
  ASSERT_EQ(parts.size(), 3u);
  // Half an hour down by the title bar (20 pixels).
  Point grip = Centre(parts[0]);
  grip.x += 110;  // on the times, clear of the links
  Drag(page, grip, {grip.x, grip.y + 20});
  EXPECT_TRUE(Until([&] { return db.GetScheduleItem(item.GetId()).GetStart() == 1350; }));
  EXPECT_EQ(Items(1), (std::vector<std::vector<int>>{{1350, 150, 0}}));
  EXPECT_EQ(element->GetStyle("top"), "781px");

  // An hour longer by the handle at the bottom (40 pixels).
  const Point handle = Centre(parts[2]);
  Drag(page, handle, {handle.x, handle.y + 40});
  EXPECT_TRUE(Until([&] { return db.GetScheduleItem(item.GetId()).GetEnd() == 210; }));
  EXPECT_EQ(Items(1), (std::vector<std::vector<int>>{{1350, 210, 0}}));
  EXPECT_EQ(element->GetStyle("height"), "199px");
}

TEST_F(AutomatorBrowserTest, AClosedTagSelectorIsNotDrawnAndTakesNoClick) {
  const Mix jazz = StoreMix("Jazz");
  AddTrack("Solo", "Soloist", "Solos", "Jazz");
  const ScheduleItem item = StoreItem(1, 180, 240, jazz.GetId());
  Open();
  theTagLinks.Reload(nullptr, automator.get(), nullptr);
  auto& page = Browser(*automator);
  // The item's tag selector, opened by the mouse, on its artist list.
  platform::HtmlElementPtr fineTune;
  for (const auto& part : automator->GetElement(item.GetElementId())->GetChildren())
    if (part->GetClassName() == "itemdesc") fineTune = part->GetChildren().front();
  ASSERT_TRUE(fineTune);
  ASSERT_TRUE(zorva::test::ClickElement(page, fineTune));
  ASSERT_TRUE(Until([&] { return MenuSettled("mixselect"); }));
  ASSERT_TRUE(zorva::test::ClickElement(page, automator->GetElement("showartist")));
  Point artist;
  auto tag = automator->GetElement("artisttaglinks")->GetChildren().front();
  ASSERT_TRUE(Until([&] { return page.ElementCentre(tag, &artist.x, &artist.y); }));
  Eval("ypSlideOutMenu.hideAll()");
  EXPECT_EQ(Eval("Array.from(document.querySelectorAll('#mixselectContainer *')).filter(function (e) {"
                 "  return e.checkVisibility({checkVisibilityCSS: true}); }).length"),
            "0");
  // A click where the artist was reaches the timeline, not the artist.
  EXPECT_EQ(Eval("String(document.elementFromPoint(" + std::to_string(artist.x) + ", " + std::to_string(artist.y) +
                 ").closest('#mixselectContainer') == null)"),
            "true");
  ASSERT_TRUE(zorva::test::ClickAt(page, artist.x, artist.y));
  TakePosted();
  EXPECT_EQ(db.GetMixOfScheduleItem(item.GetId()).GetTags().size(), 1u);
}

class CGeneratorBrowserTest : public SchedulerToolsTest {
 protected:
  CGeneratorBrowserTest() {
    EXPECT_TRUE(generator.Create(CWnd::GetDesktopWindow()));
    EXPECT_NE(dynamic_cast<platform::ChromiumHtmlDocument*>(generator.GetDocument()), nullptr);
  }
  ~CGeneratorBrowserTest() override { generator.DestroyWindow(); }

  bool Until(const std::function<bool()>& done) { return zorva::test::ProcessUntil(Browser(generator), done); }
  int Length() { return std::atoi(generator.GetElement("playlistlength")->GetAttribute("rawvalue").c_str()); }
  double Zoom() { return std::atof(generator.GetElement("playlistzoom")->GetAttribute("rawvalue").c_str()); }
  std::string HolderHeight() { return generator.GetElement("playlistholder")->GetStyle("height"); }

  CGenerator generator;
};

TEST_F(CGeneratorBrowserTest, EachHourLabelSitsOnTheLineWhereThatHourEnds) {
  ASSERT_TRUE(Until([&] { return Length() == 120; }));
  // For the first two hours: the label's text, the bottom of its text and
  // where that hour ends on the timeline, in pixels.
  const std::string labels = EvalIn(
      generator,
      "['hourh3', 'hourh4'].map(function (id, hour) {"
      "  var header = document.getElementById(id), range = document.createRange();"
      "  range.selectNodeContents(header);"
      "  var text = range.getBoundingClientRect();"
      "  var line = document.getElementById('playlisttimeline').getBoundingClientRect().top + (hour + 1) * hourSize;"
      "  return header.textContent + ':' + (text.bottom <= line + 1 && text.bottom >= line - 6);"
      "}).join(' ')");
  EXPECT_EQ(labels, "1 hour:true 2 hours:true");
}

TEST_F(CGeneratorBrowserTest, TheLengthSliderReachesTheScheduleAndZoomsBelowEightHours) {
  // The page starts at two hours: 340 / 120 pixels a minute, a holder of 340 pixels.
  ASSERT_TRUE(Until([&] { return generator.GetSchedule().GetDuration() == 120 && Length() == 120; }));
  EXPECT_NEAR(Zoom(), 340.0 / 120, 1e-9);
  EXPECT_EQ(HolderHeight(), "340px");

  auto& page = Browser(generator);
  auto knob = generator.GetElement("playlengthslider");
  Point at;
  ASSERT_TRUE(page.ElementCentre(knob, &at.x, &at.y));
  Drag(page, at, {at.x + 40, at.y});
  ASSERT_TRUE(Until([&] { return Length() > 120 && generator.GetSchedule().GetDuration() == Length(); }));
  const int shorter = Length();
  ASSERT_LT(shorter, 480);
  EXPECT_EQ(shorter % 15, 0);
  EXPECT_NEAR(Zoom(), 340.0 / shorter, 1e-9);
  EXPECT_EQ(HolderHeight(), "340px");

  // From eight hours on the zoom stays where it was and the holder grows.
  ASSERT_TRUE(page.ElementCentre(knob, &at.x, &at.y));
  Drag(page, at, {at.x + 80, at.y});
  ASSERT_TRUE(Until([&] { return Length() >= 480 && generator.GetSchedule().GetDuration() == Length(); }));
  EXPECT_NEAR(Zoom(), 340.0 / shorter, 1e-9);
  EXPECT_EQ(HolderHeight(), std::to_string(static_cast<int>(std::floor(Length() * 340.0 / shorter + 1e-9))) + "px");

  // The program's own calls are kept within 15 to 1440 minutes as well.
  for (const auto& [asked, kept] : std::vector<std::pair<std::string, int>>{{"5", 15}, {"2000", 1440}}) {
    ASSERT_TRUE(generator.GetScripter().CallFunction("setplaylistlength", asked));
    EXPECT_TRUE(Until([&, kept = kept] { return generator.GetSchedule().GetDuration() == kept; })) << asked;
    EXPECT_EQ(Length(), kept);
  }
}

TEST_F(CGeneratorBrowserTest, APlaylistOpenedFromItsMenuHearsTheLengthThePageKeeps) {
  ASSERT_TRUE(Until([&] { return generator.GetSchedule().GetDuration() == 120 && Length() == 120; }));
  // A stored length beyond a day: the page shows a day and says so.
  PlaylistSchedule stored;
  stored.SetName("All day and night");
  stored.SetDuration(2000);
  stored.Save();
  ASSERT_GT(stored.GetId(), 0);
  generator.ShowPlaylistSchedules();

  auto& page = Browser(generator);
  ASSERT_TRUE(zorva::test::ClickElement(page, generator.GetElement("savedplaylists")));
  auto entry = generator.GetElement(std::to_string(stored.GetId()) + "_:_setplaylist");
  ASSERT_TRUE(entry);
  // Its name, which hands the click to the entry.
  ASSERT_TRUE(zorva::test::ClickElement(page, entry->GetChildren().at(1)));
  ASSERT_TRUE(Until([&] { return generator.GetSchedule().GetId() == stored.GetId(); }));
  EXPECT_TRUE(Until([&] { return generator.GetSchedule().GetDuration() == CGenerator::kMaxDuration; }));
  EXPECT_EQ(Length(), CGenerator::kMaxDuration);
}

}  // namespace

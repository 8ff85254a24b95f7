// The player window on the real "Zorva.htm" in Chromium (label browser): the
// fade, the page functions the program calls, reordering the queue with the
// mouse, the mix name edited in place and the page's keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "core/Scheduler.h"
#include "tests/support/BrowserTestSupport.h"
#include "tests/support/DialogBrowserTestSupport.h"
#include "tests/zorva/ZorvaDlgTestSupport.h"

namespace {

using namespace zorva_test;

// Every HTML dialog of this program shows its page in the test browser.
const bool kChromiumDialogs = zorva::test::ShowDialogsInTestBrowser();

class ZorvaPageBrowserTest : public ZorvaDlgFixture {
 protected:
  ZorvaPageBrowserTest() : ZorvaDlgFixture(false) {
    StartPlayer(MakeLibrary(30, 600));
    dialog = std::make_unique<CZorvaDlg>();
    EXPECT_TRUE(dialog->Create(CWnd::GetDesktopWindow()));
    EXPECT_TRUE(Until([&] { return dialog->GetUpcoming().size() == 10; }));
  }

  platform::ChromiumHtmlDocument& Browser() { return zorva::test::BrowserPage(*dialog); }
  // The program's messages and timers and the page's events until `done`.
  bool Until(const std::function<bool()>& done, platform::Millis timeoutMs = 5000) {
    const platform::Millis deadline = platform::TheClock().Now() + timeoutMs;
    while (!done()) {
      if (platform::TheClock().Now() >= deadline) return false;
      platform::PumpMessages();
      if (auto* page = dynamic_cast<platform::ChromiumHtmlDocument*>(dialog->GetDocument())) page->ProcessEvents(10);
    }
    return true;
  }
  // Page script's value of an expression (the page's globals are read this way).
  std::string Eval(const std::string& expression) {
    platform::ScriptValue value;
    EXPECT_EQ(Browser().CallScript("eval", {platform::ScriptValue(expression)}, &value), S_OK) << expression;
    return value.ToText();
  }
  std::string Opacity(int n) { return dialog->GetElement("tracklist" + std::to_string(n))->GetStyle("opacity"); }
  std::string Digits() {
    std::string shown;
    for (const char* id : {"hourten", "hourunit", "minten", "minunit"}) {
      const std::string src = dialog->GetElement(id)->GetAttribute("src");
      shown += src.substr(src.rfind('/') + 1, 1);
    }
    return shown;
  }
  std::string ItemOrder() {
    std::string ids;
    for (const auto& item : dialog->GetElement("trackttable")->GetChildren()) ids += item->GetId() + " ";
    return ids;
  }
  // A drag of the mouse from the centre of one element to `dy` pixels from
  // where it started, in small moves as a hand makes them.
  void Drag(const std::string& id, double dy) {
    double x = 0;
    double y = 0;
    ASSERT_TRUE(Browser().ElementCentre(dialog->GetElement(id), &x, &y));
    Browser().MouseEvent("move", x, y);
    Browser().MouseEvent("down", x, y);
    const int steps = 4;
    for (int i = 1; i <= steps; ++i) {
      Browser().MouseEvent("move", x, y + dy * i / steps);
      Browser().ProcessEvents(5);
    }
    Browser().MouseEvent("up", x, y + dy);
  }
  // The stop that the program's last command caused has been heard.
  bool Settled() { return !dynamic_cast<ITunesPlayer*>(dialog->GetPlayer())->GetEventHandler().ignoreNextStop; }
  // The elements inside closed menus that the page still draws, by id or tag.
  std::string DrawnInClosedMenus() {
    return Eval(
        "Array.from(document.querySelectorAll('[id$=Container]')).filter(function (c) {"
        "  return !ypSlideOutMenu.isVisible(c.id.replace('Container', ''));"
        "}).map(function (c) {"
        "  return Array.from(c.querySelectorAll('*')).filter(function (e) {"
        "    return e.checkVisibility({checkVisibilityCSS: true});"
        "  }).map(function (e) { return e.id || e.tagName; }).join(' ');"
        "}).join(' ').trim()");
  }
  bool MenuOpen(const std::string& menu) { return Eval("String(ypSlideOutMenu.isVisible('" + menu + "'))") == "true"; }
  // The menu is open and has slid to its place.
  bool MenuSettled(const std::string& menu) { return Eval(zorva::test::MenuSettledScript(menu)) == "true"; }
  // The mouse moved to the logo, out of every menu: the open one closes.
  void MouseAway() {
    double x = 0;
    double y = 0;
    ASSERT_TRUE(Browser().ElementCentre(dialog->GetElement("logo"), &x, &y));
    Browser().MouseEvent("move", x, y);
  }
  // A key of the keyboard with Ctrl (and Alt) held, as the page hears it.
  void CtrlKey(int keyCode, bool alt = false) {
    Eval("document.dispatchEvent(new KeyboardEvent('keyup', {keyCode: " + std::to_string(keyCode) +
         ", ctrlKey: true, altKey: " + (alt ? "true" : "false") + "}))");
  }
};

TEST_F(ZorvaPageBrowserTest, FadeTimerDigitsAndTrackChangedAsTheProgramCallsThem) {
  // The queue just drawn fades: each lower item ends fainter, the first stays whole.
  ASSERT_TRUE(Until([&] { return Opacity(10) == "0.3"; }));
  // Item i keeps the last step above 100 - 8i, the steps going down by 3.5.
  const char* expected[] = {"1", "0.93", "0.86", "0.79", "0.685", "0.615", "0.545", "0.475", "0.37", "0.3"};
  for (int n = 1; n <= 10; ++n) EXPECT_EQ(Opacity(n), expected[n - 1]) << n;
  // A second fade starts again from full strength.
  Browser().CallScript("fadeList", {}, nullptr);
  // (the page's own fade timer may already have taken its first step)
  EXPECT_GE(std::stod(Opacity(10)), 0.9);

  Browser().CallScript("setthetimer", {platform::ScriptValue("3725")}, nullptr);
  EXPECT_EQ(Digits(), "6205");
  Browser().CallScript("setthetimer", {platform::ScriptValue("0")}, nullptr);
  EXPECT_EQ(Digits(), "0000");
  // The program's poll sends the time left of the track playing.
  ASSERT_TRUE(Until([&] { return Digits() != "0000"; }, 3000));
  EXPECT_EQ(Digits().substr(0, 2), "09");

  Eval("scrolltop = 37");
  Browser().CallScript("trackchanged", {}, nullptr);
  EXPECT_LE(std::stoi(Eval("scrolltop")), 1);
}

TEST_F(ZorvaPageBrowserTest, DraggingAnEntryWithTheMouseReordersTheProgramsQueue) {
  const std::vector<int> before = QueueIds();
  const std::string places = ItemOrder();
  // A drag that ends where it began tells the program nothing.
  Drag("track3", 0);
  Until([] { return false; }, 300);
  EXPECT_EQ(QueueIds(), before);
  EXPECT_EQ(dialog->GetElementHtml("order"), "");

  // The second entry dragged above the first.
  Drag("track2", -40);
  ASSERT_TRUE(Until([&] { return QueueIds()[0] == before[1]; }));
  EXPECT_EQ(QueueIds()[1], before[0]);
  EXPECT_TRUE(std::equal(before.begin() + 2, before.end(), QueueIds().begin() + 2));
  EXPECT_EQ(dialog->GetElementHtml("order"), "2:1:3:4:5:6:7:8:9:10");
  // The items are back in their places; the program wrote their new contents.
  EXPECT_EQ(ItemOrder(), places);
  EXPECT_EQ(dialog->GetElementText("track1"), dialog->GetUpcoming()[0].name + dialog->GetUpcoming()[0].artist);
}

TEST_F(ZorvaPageBrowserTest, TheMixNameIsEditedInPlaceEnterKeepsItEscapeDropsIt) {
  auto editor = [&] { return dialog->GetElement("currentmixnameEdit"); };
  ASSERT_TRUE(zorva::test::ClickElement(Browser(), dialog->GetElement("currentmixname")));
  ASSERT_TRUE(Until([&] { return editor()->GetStyleDisplay() == "block"; }));
  EXPECT_EQ(dialog->GetElement("currentmixname")->GetStyleDisplay(), "none");
  editor()->SetValue("Evening <b>& Night</b>");
  Browser().DispatchKey("keydown", 13);
  Browser().DispatchKey("keypress", 13);
  Browser().DispatchKey("keyup", 13);
  ASSERT_TRUE(Until([&] { return dialog->GetCurrentMix().GetId() > 0; }));
  // Stored as typed, shown as text: nothing typed becomes markup.
  EXPECT_EQ(db.GetMix(dialog->GetCurrentMix().GetId()).GetName(), "Evening <b>& Night</b>");
  EXPECT_EQ(dialog->GetElementText("currentmixname"), "Evening <b>& Night</b>");
  EXPECT_EQ(editor()->GetStyleDisplay(), "none");

  ASSERT_TRUE(zorva::test::ClickElement(Browser(), dialog->GetElement("currentmixname")));
  ASSERT_TRUE(Until([&] { return editor()->GetStyleDisplay() == "block"; }));
  EXPECT_EQ(editor()->GetValue(), "Evening <b>& Night</b>");
  editor()->SetValue("Other");
  Browser().DispatchKey("keydown", 27);
  Browser().DispatchKey("keyup", 27);
  ASSERT_TRUE(Until([&] { return editor()->GetStyleDisplay() == "none"; }));
  Until([] { return false; }, 300);
  EXPECT_EQ(dialog->GetElementText("currentmixname"), "Evening <b>& Night</b>");
  EXPECT_EQ(dialog->GetCurrentMix().GetName(), "Evening <b>& Night</b>");
}

TEST_F(ZorvaPageBrowserTest, CtrlWithAnArrowPOrLClicksTheControlsAndCtrlAltDoesNothing) {
  const std::vector<int> queue = QueueIds();
  const std::string first = dialog->GetNowPlaying().location;
  CtrlKey(39);  // Right: next
  ASSERT_TRUE(Until([&] { return dialog->GetNowPlaying().location == Track(queue[0]).location && Settled(); }));
  CtrlKey(37);  // Left: previous
  // (Each key waits for the player's report of the last, as a hand does.)
  ASSERT_TRUE(Until([&] { return dialog->GetHistorySteps() == 1 && Settled(); }));
  EXPECT_EQ(dialog->GetNowPlaying().location, first);
  CtrlKey(80, true);  // Ctrl+Alt+P is the program's hot key, not the page's
  CtrlKey(80);        // P: pause
  ASSERT_TRUE(Until([&] { return dialog->IsPaused(); }));
  EXPECT_EQ(dialog->GetElement("play")->GetClassName(), "playclass");
  Until([] { return false; }, 200);
  EXPECT_TRUE(dialog->IsPaused());
  CtrlKey(76);  // L: the Lab, for the track playing
  ASSERT_TRUE(Until([&] { return dialog->GetLab().IsWindowVisible(); }));
  EXPECT_EQ(dialog->GetLab().GetCurrentTrack().location, dialog->GetNowPlaying().location);
  CtrlKey(38);  // Up: nothing
  Until([] { return false; }, 200);
  EXPECT_TRUE(dialog->IsPaused());
  EXPECT_EQ(dialog->GetHistorySteps(), 1);
}

TEST_F(ZorvaPageBrowserTest, AClosedMenuIsNotDrawnAndTakesNoClick) {
  auto& page = Browser();
  // As large as the player's window (the test browser's pages follow no window).
  const POINT size = DialogUnitsToPixels(CZorvaDlg::kDialog.width, CZorvaDlg::kDialog.height);
  page.SetBounds(0, 0, size.x, size.y);
  // The tag selector, opened by the mouse, on its artist list.
  ASSERT_TRUE(zorva::test::ClickElement(page, dialog->GetElement("mixname")));
  ASSERT_TRUE(Until([&] { return MenuSettled("mixselect"); }));
  ASSERT_TRUE(zorva::test::ClickElement(page, dialog->GetElement("showartist")));
  auto artist = FindElement(dialog->GetElement("artisttaglinks"), "mixtagadd", "");
  ASSERT_TRUE(artist);
  double x = 0;
  double y = 0;
  ASSERT_TRUE(page.ElementCentre(artist, &x, &y));
  MouseAway();
  ASSERT_TRUE(Until([&] { return !MenuOpen("mixselect"); }, 20000));
  // The mix menu, on its other list, closed the same way.
  ASSERT_TRUE(zorva::test::ClickElement(page, dialog->GetElement("playingmixtitle")));
  ASSERT_TRUE(Until([&] { return MenuSettled("mixchanger"); }));
  ASSERT_TRUE(zorva::test::ClickElement(page, dialog->GetElement("showzorvamix")));
  MouseAway();
  ASSERT_TRUE(Until([&] { return !MenuOpen("mixchanger"); }, 20000));
  // A playlist mix covers the selector with its notice.
  page.CallScript("disableselector", {}, nullptr);
  EXPECT_EQ(DrawnInClosedMenus(), "");

  // Where the artist was, the queue is clicked; the mix stays as it was.
  const std::string mix = dialog->GetCurrentMix().GetDescription();
  ASSERT_TRUE(zorva::test::ClickAt(page, x, y));
  platform::PumpMessages();
  EXPECT_EQ(dialog->GetCurrentMix().GetDescription(), mix);
  EXPECT_TRUE(dialog->GetCurrentMix().GetTags().empty());
  EXPECT_EQ(Eval("String(document.elementFromPoint(" + std::to_string(x) + ", " + std::to_string(y) +
                 ").closest('#trackttable') != null)"),
            "true");
}

TEST_F(ZorvaPageBrowserTest, TagsOfACloudAreSizedByHowManyTracksCarryThem) {
  // Frequency and drawn font size of every album of the cloud (8, 8, 7 and 7 tracks).
  const std::string drawn = Eval(
      "Array.from(document.querySelectorAll('#albumtaglinks .tagwrap')).map(function (tag) {"
      "  return tag.getAttribute('frequency') + ':' + parseFloat(getComputedStyle(tag.querySelector('a')).fontSize);"
      "}).join(' ')");
  std::vector<std::pair<int, double>> tags;
  std::istringstream in(drawn);
  for (std::string word; in >> word;) tags.emplace_back(std::stoi(word), std::stod(word.substr(word.find(':') + 1)));
  ASSERT_GE(tags.size(), 2u) << drawn;
  // The most frequent is drawn largest, at 26 pixels; a rarer one never larger
  // than a more frequent one, and the rarest smaller than the most frequent.
  std::sort(tags.begin(), tags.end());
  EXPECT_EQ(tags.back().second, 26) << drawn;
  for (std::size_t i = 1; i < tags.size(); ++i) EXPECT_LE(tags[i - 1].second, tags[i].second) << drawn;
  ASSERT_LT(tags.front().first, tags.back().first) << drawn;
  EXPECT_LT(tags.front().second, tags.back().second) << drawn;
  EXPECT_GE(tags.front().second, 8) << drawn;
}

}  // namespace

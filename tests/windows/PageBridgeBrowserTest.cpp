// The page bridge and the tag link lists on real pages in Chromium (label browser).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/Schedule.h"
#include "tests/support/BrowserTestSupport.h"
#include "tests/support/DialogBrowserTestSupport.h"
#include "tests/windows/TagPagesTestSupport.h"
#include "windows/JavaScriptEventSink.h"
#include "windows/JavaScripter.h"
#include "windows/TagLinks.h"

namespace {

using Names = std::vector<std::string>;
using Posts = std::vector<UINT>;

// Every HTML dialog of this program shows its page in the test browser.
const bool kChromiumDialogs = zorva::test::ShowDialogsInTestBrowser();

class PageBridgeBrowserTest : public zorva_test::TagPagesTest {
 protected:
  platform::ChromiumHtmlDocument* Browser(int page) {
    return dynamic_cast<platform::ChromiumHtmlDocument*>(Page(page)->GetDocument());
  }
};

class JavaScriptEventSinkBrowserTest : public PageBridgeBrowserTest {};
class TagLinksBrowserTest : public PageBridgeBrowserTest {};

TEST_F(JavaScriptEventSinkBrowserTest, PageScriptReachesTheSinkThroughWindowExternal) {
  ASSERT_NE(Browser(Scheduler), nullptr);
  JavaScriptEventSink sink(JavaScriptEventSink::SchedulerPage);
  Page(Scheduler)->SetExternalDispatch(&sink);
  const Mix mix = StoreMix("rock", {{TagGenre, "Rock"}});
  const std::string page =
      zorva::test::WritePage(folder.Path(), "Automator.htm",
                             "<html><body><a id=add href='#' onclick='window.external.InsertScheduleItem(600, 660, " +
                                 std::to_string(mix.GetId()) +
                                 ", 1); return false;'>add</a><script>"
                                 "function badinsert() { window.external.InsertScheduleItem('ten', 660, 1, 1); }"
                                 "</script></body></html>");
  auto& document = *Browser(Scheduler);
  ASSERT_TRUE(document.LoadFile(page));

  // A real click: its handler calls the program, which stores the item.
  ASSERT_TRUE(zorva::test::ClickElement(document, document.GetElementById("add")));
  auto items = [&] {
    std::vector<ScheduleItem> stored;
    db.GetScheduleItems(1, stored);
    return stored;
  };
  ASSERT_TRUE(zorva::test::ProcessUntil(document, [&] { return !items().empty(); }));
  ASSERT_EQ(items().size(), 1u);
  EXPECT_EQ(items()[0].GetStart(), 600);
  EXPECT_EQ(items()[0].GetEnd(), 660);
  EXPECT_EQ(items()[0].GetMix().GetId(), mix.GetId());
  EXPECT_EQ(TakePosted(), Posts{WM_APP_SCHEDULE_CHANGED});

  // A call with a non-numeric number is a script error of the page function
  // the program called; nothing is stored or posted.
  CJavaScripter scripter;
  ASSERT_TRUE(scripter.SetDocument(&document));
  EXPECT_FALSE(scripter.CallFunction("badinsert"));
  EXPECT_EQ(scripter.GetLastError(), "JSCall Error:\nException occurred.\r\n");
  EXPECT_FALSE(scripter.CallFunction("nosuchfunction"));
  EXPECT_EQ(scripter.GetLastError(), "JSCall Error:\nUnknown name.\r\n");
  EXPECT_EQ(items().size(), 1u);
  EXPECT_EQ(TakePosted(), Posts{});
}

TEST_F(TagLinksBrowserTest, FillsTheThreeListsOfRealPagesAndTheFilterNarrowsThem) {
  TagLinks links;
  links.Reload(Page(Player), Page(Scheduler), Page(Generator));
  const Names all = {"Rock", "Jazz", "Folk", "Band", "Trio", "Solo", "Loud", "Smooth", "Quiet <b> & Calm"};
  for (int page : {Player, Scheduler, Generator}) EXPECT_EQ(ShownAll(*Page(page)), all) << page;

  links.SetPlayerSelector(StoreMix("trio", {{TagArtist, "Trio"}}));
  links.FilterPlayerTags("%o%");
  EXPECT_EQ(ShownAll(*Page(Player)), (Names{"Rock", "Folk", "-Trio", "Solo", "Loud", "Smooth"}));
  links.SetPlayerThreshold(1);
  EXPECT_EQ(ShownAll(*Page(Player)), (Names{"Rock", "-Trio", "Loud", "Smooth"}));
  EXPECT_EQ(ShownAll(*Page(Scheduler)), all);
}

TEST_F(TagLinksBrowserTest, AThresholdHidesAndShowsItsTagsInOneWriteToThePage) {
  // The player page counts the steps in which its tags' styles change.
  Page(Player)->GetDocument()->LoadHtml(
      "<html><body><div id='genretaglinks'></div><div id='artisttaglinks'></div><div id='albumtaglinks'></div>"
      "<script>var steps = 0;"
      "new MutationObserver(function () { steps++; }).observe(document.body,"
      " {subtree: true, attributes: true, attributeFilter: ['style']});"
      "function takeSteps() { var n = steps; steps = 0; return n; }</script></body></html>");
  TagLinks links;
  links.Reload(Page(Player), Page(Scheduler), Page(Generator));
  auto& page = *Browser(Player);
  auto steps = [&] {
    page.GetElementById("genretaglinks");  // the writes held so far reach the page
    platform::ScriptValue taken;
    EXPECT_EQ(page.CallScript("takeSteps", {}, &taken), S_OK);
    return taken.AsInt();
  };
  EXPECT_EQ(steps(), 0);

  struct Case {
    int threshold;
    Names shown;
  };
  for (const Case& c :
       {Case{2, {"Rock", "Band", "Loud"}}, Case{1, {"Rock", "Jazz", "Band", "Trio", "Loud", "Smooth"}},
        Case{0, {"Rock", "Jazz", "Folk", "Band", "Trio", "Solo", "Loud", "Smooth", "Quiet <b> & Calm"}}}) {
    links.SetPlayerThreshold(c.threshold);
    EXPECT_EQ(steps(), 1) << c.threshold;
    EXPECT_EQ(ShownAll(*Page(Player)), c.shown) << c.threshold;
  }
}

}  // namespace

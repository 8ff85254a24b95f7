// The Lab on its real pages in Chromium (label browser): links, back, an
// edit in place and the search, each by real mouse clicks and keys.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "tests/support/BrowserTestSupport.h"
#include "tests/support/DialogBrowserTestSupport.h"
#include "tests/support/ScopedEnv.h"
#include "tests/tools/LabTestSupport.h"

namespace {

using namespace zorva_test;

// Every HTML dialog of this program shows its page in the test browser.
const bool kChromiumDialogs = zorva::test::ShowDialogsInTestBrowser();

// Per tab of the page: whether nothing lies over any part of it (each
// corner of it takes a click).
constexpr const char kTabsUncovered[] =
    "Array.from(document.querySelectorAll('[id^=tab_]')).map(function (tab) {"
    "  var r = tab.getBoundingClientRect();"
    "  return tab.id + ':' + [[r.left + 3, r.top + 3], [r.right - 3, r.top + 3], [r.left + 3, r.bottom - 3],"
    "    [r.right - 3, r.bottom - 3]].every(function (p) {"
    "    var hit = document.elementFromPoint(p[0], p[1]); return hit != null && tab.contains(hit); });"
    "}).join(' ')";

class TrackInfoBrowserTest : public LabTest {
 protected:
  // A generated library: 40 tracks over 8 artists, 5 genres and 10 albums.
  TrackInfoBrowserTest() {
    const char* genres[] = {"Rock", "Jazz", "Folk", "Blues", "Soul"};
    for (int i = 0; i < 40; ++i) {
      tracks.push_back(AddTrack("Track " + std::to_string(i), "Artist " + std::to_string(i % 8),
                                "Album " + std::to_string(i % 10), genres[i % 5], 120 + i));
    }
  }

  platform::ChromiumHtmlDocument& Browser() { return zorva::test::BrowserPage(*lab); }
  bool Wait(const std::function<bool()>& done) { return zorva::test::ProcessUntil(Browser(), done); }
  bool ClickOn(const platform::HtmlElementPtr& element) {
    return element && zorva::test::ClickElement(Browser(), element);
  }
  // Types the text into the focused element as keys, as a user does.
  void TypeKeys(const std::string& text) {
    for (char c : text) {
      const int key = std::toupper(static_cast<unsigned char>(c));
      Browser().DispatchKey("keydown", key);
      Browser().DispatchKey("keypress", c);
      Browser().DispatchKey("keyup", key);
    }
  }

  // Page script's value of an expression.
  std::string Eval(const std::string& expression) {
    platform::ScriptValue value;
    EXPECT_EQ(Browser().CallScript("eval", {platform::ScriptValue(expression)}, &value), S_OK) << expression;
    return value.ToText();
  }
  // The page as large as the Lab's window (the test browser's pages follow no window).
  void AtWindowSize() {
    const POINT size = DialogUnitsToPixels(TrackInfo::kDialog.width, TrackInfo::kDialog.height);
    Browser().SetBounds(0, 0, size.x, size.y);
  }
  bool Shown(const std::string& id) { return Element(id) && Element(id)->GetStyleDisplay() == "block"; }

  std::vector<Track> tracks;
};

TEST_F(TrackInfoBrowserTest, FollowsATagLinkAndComesBack) {
  OpenLab();
  ASSERT_NE(dynamic_cast<platform::ChromiumHtmlDocument*>(lab->GetDocument()), nullptr);
  lab->ShowWindow(SW_SHOWNORMAL);
  lab->ShowTrack(tracks[7], false, false);
  ASSERT_TRUE(Wait([&] { return Text("tracktitle") == "Track 7"; }));
  EXPECT_EQ(Text("tracktime"), "2:07");
  EXPECT_EQ(Text("artistname"), "Artist 7");

  // The genre's holder: a real click on its name.
  ASSERT_TRUE(ClickOn(Find("labtag", std::to_string(db.FindOrCreateTag("Folk", TagGenre).id) + "_:_")));
  ASSERT_TRUE(Wait([&] { return Text("tagtitle") == "Folk"; }));
  EXPECT_EQ(PageFile(), "SelectorInfo.htm");
  EXPECT_EQ(Text("trackheading"), "8 tracks");
  EXPECT_EQ(Element("back")->GetClassName(), "back");

  ASSERT_TRUE(ClickOn(Element("back")));
  ASSERT_TRUE(Wait([&] { return Text("tracktitle") == "Track 7"; }));
  EXPECT_EQ(PageFile(), "TrackInfo.htm");
  EXPECT_EQ(Element("forward")->GetClassName(), "forward");
}

// A page once shown stays loaded: going back to its kind shows the same
// document (its script state is still there), drawn for the new object.
TEST_F(TrackInfoBrowserTest, AViewOfAnotherKindShowsItsPageKeptLoadedAndDrawnAnew) {
  OpenLab();
  lab->ShowWindow(SW_SHOWNORMAL);
  lab->ShowTrack(tracks[7], false, false);
  ASSERT_TRUE(Wait([&] { return Text("tracktitle") == "Track 7"; }));
  Eval("window.keptMark = 'track page'");
  lab->ShowTag(Tag(db.FindOrCreateTag("Folk", TagGenre).id), false);
  ASSERT_TRUE(Wait([&] { return Text("tagtitle") == "Folk"; }));
  Eval("window.keptMark = 'tag page'");
  lab->ShowHome(false);
  ASSERT_TRUE(Wait([&] { return PageFile() == "LabHome.htm" && Text("trackheading") == "40 tracks"; }));

  lab->ShowTrack(tracks[3], false, false);
  ASSERT_TRUE(Wait([&] { return Text("tracktitle") == "Track 3"; }));
  EXPECT_EQ(PageFile(), "TrackInfo.htm");
  EXPECT_EQ(Eval("window.keptMark"), "track page");
  EXPECT_EQ(Text("tracktime"), "2:03");
  EXPECT_EQ(Element("back")->GetClassName(), "back");
  EXPECT_EQ(Element("forward")->GetClassName(), "forward-disabled");

  lab->ShowTag(Tag(db.FindOrCreateTag("Jazz", TagGenre).id), false);
  ASSERT_TRUE(Wait([&] { return Text("tagtitle") == "Jazz"; }));
  EXPECT_EQ(Eval("window.keptMark"), "tag page");
  EXPECT_EQ(Text("trackheading"), "8 tracks");
  EXPECT_EQ(lab->GetHistory().GetCount(), 5);
}

TEST_F(TrackInfoBrowserTest, ATitleEditedInPlaceRenamesTheTrack) {
  OpenLab();
  lab->ShowWindow(SW_SHOWNORMAL);
  lab->ShowTrack(tracks[3], false, false);
  ASSERT_TRUE(Wait([&] { return Text("tracktitle") == "Track 3"; }));

  ASSERT_TRUE(ClickOn(Element("tracktitle")));
  auto editor = Element("tracktitleEdit");
  ASSERT_TRUE(Wait([&] { return editor->GetValue() == "Track 3"; }));
  editor->SetValue("Renamed <b>3</b>");
  Browser().DispatchKey("keydown", VK_RETURN);
  ASSERT_TRUE(Wait([&] { return Track(tracks[3].id).name == "Renamed <b>3</b>"; }));
  EXPECT_EQ(Text("tracktitle"), "Renamed <b>3</b>");
  EXPECT_EQ(TakePosted(), Posts{});
}

TEST_F(TrackInfoBrowserTest, ASearchTypedIntoTheBoxFillsTheFindLists) {
  OpenLab();
  lab->ShowWindow(SW_SHOWNORMAL);
  lab->ShowTrack(tracks[0], false, false);
  ASSERT_TRUE(Wait([&] { return Text("tracktitle") == "Track 0"; }));
  ASSERT_TRUE(ClickOn(Element("searchbox")));
  TypeKeys("ro");
  ASSERT_TRUE(Wait([&] { return !Text("findgenretags").empty(); }));
  EXPECT_EQ(Text("findgenretags"), "GenreRock");
  EXPECT_EQ(Text("findartisttags"), "");
  EXPECT_EQ(Text("findtracklist"), "");

  Element("searchbox")->SetValue("");
  TypeKeys("k 1");
  ASSERT_TRUE(Wait([&] { return !Text("findtracklist").empty(); }));
  EXPECT_EQ(Element("findtracklist")->GetChildren().size(), 11u);  // its title and ten tracks
  EXPECT_EQ(Text("findgenretags"), "");
  // A found track opens in the Lab.
  ASSERT_TRUE(ClickOn(Find("lablink searchlablink", std::to_string(tracks[12].id) + "_:_")));
  ASSERT_TRUE(Wait([&] { return Text("tracktitle") == "Track 12"; }));

  // The box emptied, or Escape, closes the find menu: no empty menu stays open.
  const auto findOpen = [&] { return Eval("String(ypSlideOutMenu.isVisible('find'))") == "true"; };
  struct Case {
    const char* typed;
    int lastKey;
  };
  for (const Case& c : {Case{"ro", VK_BACK}, Case{"ro", VK_ESCAPE}}) {
    SCOPED_TRACE(c.lastKey);
    ASSERT_TRUE(ClickOn(Element("searchbox")));
    TypeKeys(c.typed);
    ASSERT_TRUE(Wait(findOpen));
    Element("searchbox")->SetValue("");
    Browser().DispatchKey("keydown", c.lastKey);
    Browser().DispatchKey("keyup", c.lastKey);
    EXPECT_TRUE(Wait([&] { return !findOpen(); }));
  }
}

TEST_F(TrackInfoBrowserTest, EveryTabOfTheFirstEmptyTrackTakesItsClick) {
  OpenLab();
  lab->ShowWindow(SW_SHOWNORMAL);
  AtWindowSize();
  ASSERT_TRUE(Wait([&] { return PageFile() == "TrackInfo.htm" && Element("tab_flickr"); }));
  EXPECT_EQ(Eval(kTabsUncovered), "tab_tags:true tab_amazon:true tab_flickr:true tab_wikipedia:true");
  for (const std::string name : {"flickr", "wikipedia", "amazon", "tags"}) {
    ASSERT_TRUE(ClickOn(Element("tab_" + name))) << name;
    EXPECT_TRUE(Wait([&] { return Shown("view_" + name); })) << name;
    EXPECT_EQ(Eval("currenttype"), name);
  }
}

TEST_F(TrackInfoBrowserTest, EachDetailSitsBesideItsLabelAndAnEmptyOneKeepsItsRow) {
  const Track loose = AddTrack("Blue Tapes", "", "Blue Tapes", "Jazz", 185);
  OpenLab();
  lab->ShowWindow(SW_SHOWNORMAL);
  AtWindowSize();
  lab->ShowTrack(loose, false, false);
  ASSERT_TRUE(Wait([&] { return Text("tracktitle") == "Blue Tapes"; }));
  // Per row: the label's top, its value's top and the value's height.
  const std::string rows = Eval(
      "Array.from(document.querySelectorAll('.trackdetails dt')).map(function (label) {"
      "  var a = label.getBoundingClientRect(), b = label.nextElementSibling.getBoundingClientRect();"
      "  return label.textContent + ':' + (Math.abs(a.top - b.top) < 1) + ':' + (b.height >= a.height - 1);"
      "}).join(' ')");
  EXPECT_EQ(rows, "Track:true:true Artist:true:true Album:true:true Time:true:true");
}

TEST_F(TrackInfoBrowserTest, TheInformationTabOpensTheConfiguredEncyclopedia) {
  ScopedEnv wiki("ZORVA_WIKI_URL", "https://127.0.0.1:9/articles/");
  OpenLab();
  lab->ShowWindow(SW_SHOWNORMAL);
  lab->ShowTrack(tracks[7], false, false);
  ASSERT_TRUE(Wait([&] { return Text("tracktitle") == "Track 7"; }));
  ASSERT_TRUE(ClickOn(Element("tab_wikipedia")));
  platform::HtmlElementPtr link;
  ASSERT_TRUE(Wait([&] {
    link = Element("wikipedia")->GetChildren().empty() ? nullptr : Element("wikipedia")->GetChildren().front();
    return link != nullptr;
  }));
  ASSERT_TRUE(ClickOn(link));
  std::vector<std::string> opened;
  EXPECT_TRUE(Wait([&] {
    for (const std::string& url : TakeOpened()) opened.push_back(url);
    return !opened.empty();
  }));
  EXPECT_EQ(opened, std::vector<std::string>{"https://127.0.0.1:9/articles/Artist_7"});
  // The page stayed where it was.
  EXPECT_EQ(PageFile(), "TrackInfo.htm");
}

TEST(TrackPageBrowserTest, TheTabsOfTheEmptyTrackPageTakeTheirClicks) {
  // The track page as it loads, before the program has drawn a track.
  auto page = zorva::test::OpenPage(std::string(ZORVA_PAGE_DIR) + "/TrackInfo.htm");
  ASSERT_TRUE(page);
  const POINT size = DialogUnitsToPixels(TrackInfo::kDialog.width, TrackInfo::kDialog.height);
  page->SetBounds(0, 0, size.x, size.y);
  platform::ScriptValue value;
  ASSERT_EQ(page->CallScript("eval", {platform::ScriptValue(kTabsUncovered)}, &value), S_OK);
  EXPECT_EQ(value.ToText(), "tab_tags:true tab_amazon:true tab_flickr:true tab_wikipedia:true");
  ASSERT_TRUE(zorva::test::ClickElement(*page, page->GetElementById("tab_wikipedia")));
  EXPECT_TRUE(zorva::test::ProcessUntil(
      *page, [&] { return page->GetElementById("view_wikipedia")->GetStyleDisplay() == "block"; }));
}

}  // namespace

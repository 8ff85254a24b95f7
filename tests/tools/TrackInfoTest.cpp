// The Lab window: its pages and views, paging, the navigation filter, back
// and forward, on the real page files in the in-memory document.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/tools/LabTestSupport.h"

namespace {

using namespace zorva_test;
using Names = std::vector<std::string>;

class TrackInfoTest : public LabTest {
 protected:
  // Rock: three tracks of Band's "Loud"; Jazz: two of Trio's "Smooth"; the
  // mix "rock mix" of Rock and "jazz mix" of Jazz.
  void AddLibrary() {
    for (const char* name : {"r1", "r2", "r3"}) rock.push_back(AddTrack(name, "Band", "Loud", "Rock", 185));
    for (const char* name : {"j1", "j2"}) AddTrack(name, "Trio", "Smooth", "Jazz");
    rockMix = StoreMix("rock mix", "Rock");
    jazzMix = StoreMix("jazz mix", "Jazz");
  }
  Mix StoreMix(const std::string& name, const std::string& genre) {
    Mix mix;
    mix.AddTag(TagNamed(genre, TagGenre), false);
    mix.Rename(name);
    return Mix(mix.GetId());
  }
  Tag TagNamed(const std::string& name, int type) { return Tag(db.FindOrCreateTag(name, type).id); }
  // The inner texts of an element's children.
  Names Children(const std::string& id) {
    Names texts;
    if (auto element = Element(id)) {
      for (const auto& child : element->GetChildren()) texts.push_back(child->GetInnerText());
    }
    return texts;
  }

  std::vector<Track> rock;
  Mix rockMix;
  Mix jazzMix;
};

TEST_F(TrackInfoTest, OpensHiddenOnTheTrackPageAndDrawsATrack) {
  AddLibrary();
  const Track song = AddTrack("Song <i>one</i>", "Band & Co", "Loud", "Rock", 185);
  OpenLab();
  EXPECT_EQ(PageFile(), "TrackInfo.htm");
  EXPECT_FALSE(lab->IsWindowVisible());
  EXPECT_NE(lab->GetStyle() & WS_THICKFRAME, 0u);  // the Lab stays resizable
  TakeScriptCalls();

  lab->ShowTrack(song, false, false);
  EXPECT_EQ(lab->GetWindowText(), "Zorva Lab > Song <i>one</i>");
  for (auto [id, text] : {std::pair{"trackname", "Song <i>one</i>"},
                          {"artistname", "Band & Co"},
                          {"albumname", "Loud"},
                          {"tracktime", "3:05"},
                          {"lablookup", "Band & Co"},
                          {"tracktitle", "Song <i>one</i>"},
                          {"labhome", "Home"}}) {
    EXPECT_EQ(Text(id), text) << id;
  }
  EXPECT_EQ(Element("labhome")->GetClassName(), "librarylink");
  EXPECT_EQ(Element("labhome")->GetAttribute("title"), "Go to Lab Home");
  EXPECT_EQ(Element("trackicon")->GetAttribute("title"), "Track");
  EXPECT_EQ(Children("existingtags"), (Names{"Loud", "Rock", "Band & Co"}));
  EXPECT_EQ(lab->GetHistory().GetCount(), 1);
  EXPECT_EQ(Element("back")->GetClassName(), "back-disabled");
  EXPECT_EQ(Element("forward")->GetClassName(), "forward-disabled");
  // The page refreshes its tab only while it is seen.
  EXPECT_EQ(TakeScriptCalls(), Names{});
  lab->ShowWindow(SW_SHOWNORMAL);
  EXPECT_EQ(TakeScriptCalls(), Names{"updatecurrentview"});
}

TEST_F(TrackInfoTest, EachViewLoadsItsPageAndDrawsItsLists) {
  AddLibrary();
  OpenLab();
  lab->ShowTrack(rock[0], false, false);

  lab->ShowTag(TagNamed("Rock", TagGenre), false);
  EXPECT_EQ(PageFile(), "SelectorInfo.htm");
  EXPECT_EQ(lab->GetWindowText(), "Zorva Lab > Rock");
  EXPECT_EQ(Text("tagtitle"), "Rock");
  EXPECT_EQ(Element("genreicon")->GetAttribute("title"), "genre");
  EXPECT_EQ(Text("trackheading"), "3 tracks");
  EXPECT_EQ(Children("trackttable").size(), 3u);
  EXPECT_EQ(Text("tracknav"), "0 to 3 of 3");
  EXPECT_EQ(Children("relatedtags"), (Names{"Band", "Loud"}));
  EXPECT_EQ(Children("inmixtable"), Names{" rock mix Rock"});
  EXPECT_EQ(Children("addmixtable"), Names{" jazz mix \u00a0Jazz"});

  lab->ShowMix(rockMix, false);
  EXPECT_EQ(PageFile(), "MixInfo.htm");
  EXPECT_EQ(lab->GetWindowText(), "Zorva Lab > rock mix");
  EXPECT_EQ(Text("mixtitle"), "rock mix");
  EXPECT_EQ(Text("trackheading"), "3 tracks");
  EXPECT_EQ(Children("trackttable").size(), 3u);
  EXPECT_EQ(Children("existingtags"), Names{"Rock"});

  lab->ShowHome(false);
  EXPECT_EQ(PageFile(), "LabHome.htm");
  EXPECT_EQ(lab->GetWindowText(), "Zorva Lab > Home");
  EXPECT_EQ(Text("trackheading"), "5 tracks");
  EXPECT_EQ(Text("tagsheading"), "6 selectors");
  EXPECT_EQ(Text("dumpheading"), "You have 0 tracks in the Dump");
  EXPECT_EQ(Children("alltags"), (Names{"Band", "Jazz", "Loud", "Rock", "Smooth", "Trio"}));
  // Home links open the mixes, ascending by name.
  EXPECT_EQ(Children("addmixtable"), (Names{" jazz mix Jazz", " rock mix Rock"}));
  EXPECT_EQ(Find("mixlink mixinlink")->GetId(), std::to_string(jazzMix.GetId()) + "_:_mixlink");

  EXPECT_EQ(lab->GetHistory().GetCount(), 4);
  EXPECT_EQ(Element("back")->GetClassName(), "back");
}

// A kept page shown again holds the lists the Lab last wrote into it: the
// same lists are not written again, changed ones are, and a page that
// loaded again (a reload, a renderer lost) gets them all.
TEST_F(TrackInfoTest, AKeptPageShownAgainGetsOnlyTheListsThatChanged) {
  AddLibrary();
  OpenLab();
  lab->ShowHome(false);
  const auto firstTag = Element("alltags")->GetChildren().front();
  const auto firstTrack = Element("trackttable")->GetChildren().front();
  const auto firstMix = Element("addmixtable")->GetChildren().front();
  lab->ShowTrack(rock[0], false, false);
  StoreMix("another mix", "Jazz");

  lab->ShowHome(false);
  ASSERT_EQ(PageFile(), "LabHome.htm");
  EXPECT_EQ(Element("alltags")->GetChildren().front(), firstTag) << "the same tags stay as they were";
  EXPECT_EQ(Element("trackttable")->GetChildren().front(), firstTrack);
  EXPECT_NE(Element("addmixtable")->GetChildren().front(), firstMix) << "a mix more: written";
  EXPECT_EQ(Children("addmixtable").size(), 3u);

  lab->GetDocument()->Reload();
  ASSERT_EQ(PageFile(), "LabHome.htm");
  EXPECT_EQ(Children("alltags"), (Names{"Band", "Jazz", "Loud", "Rock", "Smooth", "Trio"}));
  EXPECT_EQ(Children("trackttable").size(), 5u);
  EXPECT_EQ(Children("addmixtable").size(), 3u);
  EXPECT_EQ(Text("tagnav"), "0 to 6 of 6");
}

TEST_F(TrackInfoTest, TrackAndTagTablesPageByHundredsFromZero) {
  // 250 albums of one artist and genre: 252 tags.
  for (int i = 0; i < 250; ++i) AddTrack("t" + std::to_string(1000 + i), "Band", "a" + std::to_string(i), "Rock");
  OpenLab();
  lab->ShowHome(false);
  struct Case {
    int offset;
    const char* position;
    const char* previous;
    const char* next;
  };
  for (const Case& c :
       {Case{0, "0 to 100 of 250", "", "100_:_next"}, Case{100, "100 to 200 of 250", "0_:_previous", "200_:_next"},
        Case{200, "200 to 250 of 250", "100_:_previous", ""},
        Case{40, "40 to 140 of 250", "0_:_previous", "140_:_next"}}) {
    lab->RenderAllTracks(c.offset, TrackInfo::kPageSize);
    EXPECT_EQ(Text("tracknav"), std::string(*c.previous ? "Previous" : "") + c.position + (*c.next ? "Next" : ""))
        << c.offset;
    auto previous = Find("pushbutton previous");
    auto next = Find("pushbutton next");
    EXPECT_EQ(previous ? previous->GetId() : "", c.previous) << c.offset;
    EXPECT_EQ(next ? next->GetId() : "", c.next) << c.offset;
    EXPECT_EQ(Children("trackttable").size(), c.offset == 200 ? 50u : 100u) << c.offset;
  }

  // The links page the table and scroll to its top.
  TakeScriptCalls();
  Fire(Find("pushbutton previous"));
  EXPECT_EQ(Text("tracknav"), "0 to 100 of 250Next");  // 40 - 100 goes back to 0
  EXPECT_EQ(lab->GetTrackPageOffset(), 0);
  EXPECT_EQ(TakeScriptCalls(), Names{"setlocation(toptracklist)"});

  EXPECT_EQ(Text("tagnav"), "0 to 100 of 252Next");
  Fire(Element("100_:_nexttag"));
  EXPECT_EQ(Text("tagnav"), "Previous100 to 200 of 252Next");
  EXPECT_EQ(Children("alltags").size(), 100u);
  EXPECT_EQ(lab->GetTagPageOffset(), 100);
  EXPECT_EQ(TakeScriptCalls(), Names{"setlocation(toptaglist)"});
}

TEST_F(TrackInfoTest, NavigationStaysOnTheLabPagesAndOpensOnlyWebLinks) {
  ScopedEnv wiki("ZORVA_WIKI_URL", "http://wiki.test/wiki");
  OpenLab();
  const std::string home = CFramelessHtmlWindow::PageUrl("LabHome.htm");
  struct Case {
    std::string url;
    bool cancel;
    Names calls;
    Names opened;
  };
  const Case cases[] = {
      {home + "#toptaglist", true, {"setlocation(toptaglist)"}, {}},
      {CFramelessHtmlWindow::PageUrl("TrackInfo.htm") + "#", true, {}, {}},
      {CFramelessHtmlWindow::PageUrl("MixInfo.htm"), false, {}, {}},
      {"file:///elsewhere/SelectorInfo.htm", true, {}, {}},
      {"http://example.test/artist", true, {}, {"http://example.test/artist"}},
      {"HTTPS://example.test/", true, {}, {"HTTPS://example.test/"}},
      {"javascript:window.open('http://example.test/a b')", true, {}, {}},
      {"javascript:window.open('https://example.test/x');", true, {}, {"https://example.test/x"}},
      {"javascript:void(0)", true, {}, {}},
      {"javascript:open('file:///etc/passwd')", true, {}, {}},
      {"file:///etc/passwd", true, {}, {}},
      {"mailto:someone@example.test", true, {}, {}},
      {"C:\\The_Band", true, {}, {"http://wiki.test/wiki/The_Band"}},
      {"http://example.test/Zorva.exe", true, {}, {}},
  };
  TakeScriptCalls();
  for (const Case& c : cases) {
    bool cancel = false;
    lab->OnBeforeNavigate(c.url, cancel);
    EXPECT_EQ(cancel, c.cancel) << c.url;
    EXPECT_EQ(TakeScriptCalls(), c.calls) << c.url;
    EXPECT_EQ(TakeOpened(), c.opened) << c.url;
  }
}

TEST_F(TrackInfoTest, BackAndForwardWalkTheViewsAndHoldOffThePlayingTrack) {
  AddLibrary();
  OpenLab();
  Click("back");  // nothing to go back to
  EXPECT_EQ(PageFile(), "TrackInfo.htm");
  EXPECT_EQ(lab->GetHistory().GetCount(), 0);

  lab->ShowTrack(rock[0], false, false);
  Fire(Find("labtag"));  // the first of the track's tags: its album
  EXPECT_EQ(PageFile(), "SelectorInfo.htm");
  EXPECT_EQ(Text("tagtitle"), "Loud");
  Fire(Find("labmix"));  // the first mix, which does not hold the album
  EXPECT_EQ(PageFile(), "MixInfo.htm");
  EXPECT_EQ(lab->GetHistory().GetCount(), 3);

  Click("back");
  EXPECT_EQ(Text("tagtitle"), "Loud");
  EXPECT_TRUE(lab->IsBrowsingHistory());
  EXPECT_EQ(Element("forward")->GetClassName(), "forward");
  // While the user looks back the playing track takes no page.
  lab->ShowTrack(rock[2], true, false);
  EXPECT_EQ(PageFile(), "SelectorInfo.htm");
  Click("back");
  EXPECT_EQ(Text("tracktitle"), "r1");
  EXPECT_EQ(Element("back")->GetClassName(), "back-disabled");
  lab->ShowTrack(rock[2], true, false);
  EXPECT_EQ(Text("tracktitle"), "r1");

  Click("forward");
  Click("forward");
  EXPECT_EQ(Text("mixtitle"), "jazz mix");
  EXPECT_FALSE(lab->IsBrowsingHistory());  // the newest entry: following again
  EXPECT_EQ(Element("forward")->GetClassName(), "forward-disabled");
  EXPECT_EQ(lab->GetHistory().GetCount(), 3);

  // The follow call draws a track page that is shown, and only that.
  lab->ShowTrack(rock[1], true, false);
  EXPECT_EQ(PageFile(), "MixInfo.htm");
  Fire(Find("labtrack"));
  lab->ShowTrack(rock[2], true, false);
  EXPECT_EQ(Text("tracktitle"), "r3");
  EXPECT_EQ(lab->GetHistory().GetCount(), 5);
}

TEST_F(TrackInfoTest, KeepsItsPlacementAndNeverLaysThePageOutNarrow) {
  platform::SetDesktopSize(1920, 1080);
  OpenLab();
  RECT rect{};
  lab->GetWindowRect(&rect);
  // x = 960 - 540 * 3 / 2 - 5, y = 540 - 617 / 2 + 50
  EXPECT_EQ(rect.left, 145);
  EXPECT_EQ(rect.top, 282);

  lab->SendMessage(WM_SIZE, SIZE_RESTORED, MAKELPARAM(300, 400));
  RECT browser{};
  ::GetWindowRect(lab->GetBrowserWindow(), &browser);
  EXPECT_EQ(browser.right - browser.left, 500);

  // A larger stored size stays; the window comes back hidden.
  lab->MoveWindow(100, 50, 900, 800, TRUE);
  lab->ShowWindow(SW_SHOWNORMAL);
  lab.reset();
  OpenLab();
  lab->GetWindowRect(&rect);
  EXPECT_EQ(rect.left, 100);
  EXPECT_EQ(rect.right - rect.left, 900);
  EXPECT_EQ(rect.bottom - rect.top, 800);
  EXPECT_FALSE(lab->IsWindowVisible());
}

}  // namespace

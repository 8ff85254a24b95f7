// The Lab on its real pages in Chromium (label browser): links, back, an
// edit in place and the search, each by real mouse clicks and keys.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "tests/support/BrowserTestSupport.h"
#include "tests/support/DialogBrowserTestSupport.h"
#include "tests/tools/LabTestSupport.h"

namespace {

using namespace zorva_test;

// Every HTML dialog of this program shows its page in the test browser.
const bool kChromiumDialogs = zorva::test::ShowDialogsInTestBrowser();

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

  std::vector<Track> tracks;
};

TEST_F(TrackInfoBrowserTest, FollowsATagLinkAndComesBack) {
  OpenLab();
  ASSERT_NE(dynamic_cast<platform::ChromiumHtmlDocument*>(lab->GetDocument()), nullptr);
  lab->ShowWindow(SW_SHOWNORMAL);
  lab->ShowTrack(tracks[7], false, false);
  ASSERT_TRUE(Wait([&] { return Text("tracktitle") == "Track 7"; }));
  EXPECT_EQ(Text("tracktime"), "2:7");
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
}

}  // namespace

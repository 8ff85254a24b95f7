// The player page's element events on its page file in the in-memory
// document, over the in-process player on the test clock.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/AppMainWindow.h"
#include "core/PlaylistSync.h"
#include "platform/html/MemoryHtmlDocument.h"
#include "platform/shell/Shell.h"
#include "platform/xmlhttp/WebHosts.h"
#include "tests/support/MemoryPageTestSupport.h"
#include "tests/zorva/ZorvaDlgTestSupport.h"
#include "zorva/ZorvaDlg.h"

namespace {

using namespace zorva_test;

class ZorvaDlgPageTest : public ZorvaDlgFixture {
 protected:
  ZorvaDlgPageTest() {
    pp::LibraryData library = MakeLibrary(30, 200);
    AddPlaylist(library, 7, "Party", {1, 2, 3});
    StartPlayer(std::move(library));
  }

  platform::MemoryHtmlDocument& Page() { return *dynamic_cast<platform::MemoryHtmlDocument*>(dialog->GetDocument()); }
  bool Fire(const std::string& type, const platform::HtmlElementPtr& element) {
    return Page().FireEvent(platform::HtmlEvent{type, element});
  }
  bool Click(const std::string& id) { return Fire("click", dialog->GetElement(id)); }
  // The page functions called since the last look.
  std::vector<std::string> TakeScriptCalls() { return zorva_test::TakeScriptCalls(Page(), CallShown::NameOnly); }
};

TEST_F(ZorvaDlgPageTest, LabLinksShowTheirTrackOrMixAndNothingElse) {
  const Mix zeros = StoreGenreMix("Genre 0", "Zeros");
  Open();
  dialog->SendMessage(WM_APP_PLAY_MIX, static_cast<WPARAM>(zeros.GetId()));
  TrackInfo& lab = dialog->GetLab();
  const struct {
    const char* id;
    int entry;  // queue entry shown; 0: the track playing
    bool mix;
  } cases[] = {
      {"nowplayinglab", 0, false}, {"trackname", 0, false},    {"lab4", 4, false},
      {"lab10", 10, false},        {"currentmixlab", 0, true},
  };
  for (const auto& c : cases) {
    lab.ShowHome(false);
    lab.ShowWindow(SW_HIDE);
    const std::vector<int> queue = QueueIds();
    const std::size_t plays = PlayRecords().size();
    Click(c.id);
    if (c.mix) {
      EXPECT_EQ(lab.GetCurrentMix().GetId(), zeros.GetId()) << c.id;
    } else {
      const Track& expected = c.entry == 0 ? dialog->GetNowPlaying() : dialog->GetUpcoming()[c.entry - 1];
      EXPECT_EQ(lab.GetCurrentTrack().location, expected.location) << c.id;
    }
    EXPECT_TRUE(lab.IsWindowVisible()) << c.id;
    // Nothing else happens.
    EXPECT_EQ(QueueIds(), queue) << c.id;
    EXPECT_EQ(PlayRecords().size(), plays) << c.id;
  }
}

TEST_F(ZorvaDlgPageTest, WindowBarTimerAndPlayControls) {
  Open();
  std::vector<std::vector<std::string>> started;
  const platform::shell::Starter previous = platform::shell::SetStarter([&](const std::vector<std::string>& argv) {
    started.push_back(argv);
    return true;
  });
  Click("textlogo");
  platform::shell::SetStarter(previous);
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0], (std::vector<std::string>{
                            "xdg-open", platform::xmlhttp::WebUrl(platform::xmlhttp::WebService::Maker, "/")}));

  const int moves = platform::WindowMoveRequests(*dialog);
  Fire("mousedown", dialog->GetElement("icontext"));
  EXPECT_EQ(platform::WindowMoveRequests(*dialog), moves + 1);

  // Each digit of the timer switches it between time left and time played.
  for (const char* digit : {"minunit", "hourten", "timer"}) {
    const bool before = dialog->IsCountdown();
    Click(digit);
    EXPECT_NE(dialog->IsCountdown(), before) << digit;
  }

  // The now-playing dump link dumps the track playing and plays the next; the link goes nowhere.
  Track dumped = dialog->GetNowPlaying();
  std::string genre;
  db.FindTrackByLocation(dumped, genre);
  std::vector<int> queue = QueueIds();
  EXPECT_FALSE(Click("nowplayingdump"));
  Pump();
  EXPECT_FALSE(Track(dumped.id).enabled);
  EXPECT_EQ(PlayingId(), queue[0]);

  queue = QueueIds();
  Click("next");
  Pump();
  EXPECT_EQ(PlayingId(), queue[0]);
  Click("prev");
  Pump();
  EXPECT_EQ(dialog->GetHistorySteps(), 1);
  Click("play");
  Pump();
  EXPECT_TRUE(dialog->IsPaused());
  EXPECT_EQ(PlayingId(), 0);

  Click("ButtonMin");
  EXPECT_TRUE(dialog->IsIconic());
  Click("ButtonOK");
  EXPECT_FALSE(dialog->IsWindowVisible());
}

TEST_F(ZorvaDlgPageTest, DraggingAnUpcomingEntryMovesTheEntryAndAnythingElseMovesTheWindow) {
  Open();
  const struct {
    const char* id;
    bool window;
  } cases[] = {{"track1", false},   {"track10", false},  {"tracklist3", true},
               {"trackname", true}, {"trackdel3", true}, {"logo", true}};
  for (const auto& c : cases) {
    const int moves = platform::WindowMoveRequests(*dialog);
    const bool dragged = Fire("dragstart", dialog->GetElement(c.id));
    EXPECT_EQ(platform::WindowMoveRequests(*dialog), moves + (c.window ? 1 : 0)) << c.id;
    EXPECT_EQ(dragged, !c.window) << c.id << ": the list's own drag goes ahead";
  }
}

TEST_F(ZorvaDlgPageTest, TheArtistOfAnEntryPlaysItOnDoubleClick) {
  Open();
  const std::vector<int> queue = QueueIds();
  auto artist = dialog->GetElement("track5")->GetChildren().back();
  ASSERT_EQ(artist->GetClassName(), "artistname");
  Fire("dblclick", artist);
  Pump();
  EXPECT_EQ(PlayingId(), queue[4]);
  EXPECT_EQ(PlayRecords().back(), queue[4]);
}

TEST_F(ZorvaDlgPageTest, TheFilterNarrowsTheTagListsToItsPrefixAndFindClearShowsAllAgain) {
  Open();
  ASSERT_NE(Html("genretaglinks").find("Genre 1"), std::string::npos);
  auto filter = dialog->GetElement("tagfilter");
  filter->SetValue("Ar");
  Fire("keyup", filter);
  EXPECT_EQ(Html("genretaglinks").find("Genre"), std::string::npos);
  EXPECT_NE(Html("artisttaglinks").find("Artist 2"), std::string::npos);
  filter->SetValue("Artist 1");
  Fire("keyup", filter);
  EXPECT_EQ(Html("artisttaglinks").find("Artist 2"), std::string::npos);
  EXPECT_NE(Html("artisttaglinks").find("Artist 1"), std::string::npos);

  Click("findclear");
  EXPECT_EQ(filter->GetValue(), "");
  EXPECT_NE(Html("genretaglinks").find("Genre 1"), std::string::npos);
  EXPECT_NE(Html("artisttaglinks").find("Artist 2"), std::string::npos);
}

TEST_F(ZorvaDlgPageTest, MixMenuEventsChooseDeleteAndRedrawTheMixes) {
  const Mix zeros = StoreGenreMix("Genre 0", "Zeros");
  Open();
  // The selector opens for a library mix only.
  TakeScriptCalls();
  Click("selectorimg");
  EXPECT_EQ(TakeScriptCalls(), std::vector<std::string>{"enableselector"});
  // A tag of the selector becomes the whole mix.
  const Tag genre1 = db.FindOrCreateTag("Genre 1", TagGenre);
  // (The lists carry add and remove links; a page may mark a tag "mixtag".)
  auto tag = FindElement(dialog->GetElement("genretaglinks"), "mixtagadd", std::to_string(genre1.id) + "_:_");
  ASSERT_TRUE(tag);
  tag->SetClassName("mixtag");
  Fire("click", tag);
  ASSERT_EQ(dialog->GetCurrentMix().GetTags().size(), 1u);
  EXPECT_EQ(dialog->GetUpcoming().front().genre, "Genre 1");

  PlaylistSync().SetPlayer(dialog->GetPlayer()).SyncPlaylistMixes();
  MixList playlists;
  db.GetMixes(playlists, true);
  ASSERT_FALSE(playlists.empty());
  dialog->SendMessage(WM_APP_PLAY_MIX, static_cast<WPARAM>(playlists.front().GetId()));
  ASSERT_FALSE(dialog->GetCurrentMix().IsLibraryMix());
  TakeScriptCalls();
  Click("selectorimg");
  EXPECT_EQ(TakeScriptCalls(), std::vector<std::string>{"disableselector"});

  // Leaving the mix menu redraws it; a delete link removes its mix.
  dialog->GetElement("zorvamixlinks")->SetInnerHtml("");
  Fire("blur", dialog->GetElement("playingmixtitle"));
  ASSERT_NE(Html("zorvamixlinks").find("Zeros"), std::string::npos);
  auto del = FindElement(dialog->GetElement("zorvamixlinks"), "mixdel", std::to_string(zeros.GetId()) + "_:_");
  ASSERT_TRUE(del);
  Fire("click", del);
  Run(1000);
  EXPECT_EQ(db.GetMix(zeros.GetId()).GetId(), 0);
  EXPECT_EQ(Html("zorvamixlinks").find("Zeros"), std::string::npos);
}

}  // namespace

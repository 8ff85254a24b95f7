// Every page file at its window's size in Chromium (label browser), filled as
// the windows fill it from a library of 1,000 tracks: the page fits its
// window (the document scrolls neither way) and nothing of the title and
// bottom bars lies outside them. A picture of each page is left in the build
// folder (pages/NAME.png) to be looked at.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "companion/VantrelDlg.h"
#include "core/Mix.h"
#include "core/MusicDB.h"
#include "core/Schedule.h"
#include "core/Tag.h"
#include "core/Track.h"
#include "tests/support/BrowserTestSupport.h"
#include "tests/support/DialogBrowserTestSupport.h"
#include "tests/support/TempFolder.h"
#include "tools/Automator.h"
#include "tools/Generator.h"
#include "tools/TrackInfo.h"
#include "windows/SettingsDialog.h"
#include "windows/StatusDialog.h"
#include "windows/TagLinks.h"
#include "zorva/ZorvaDlg.h"

namespace {

// Every HTML dialog of this program shows its page in the test browser.
const bool kChromiumDialogs = zorva::test::ShowDialogsInTestBrowser();

struct PageCase {
  const char* file;
  const DialogTemplate* window;
  // A menu of the page and the script that opens it as its control does.
  const char* menu = nullptr;
  const char* openMenu = nullptr;
};

void PrintTo(const PageCase& page, std::ostream* out) { *out << page.file; }

// What a user would see wrong: a document larger than its window, and bar
// contents drawn outside their bar. Empty when there is nothing.
constexpr const char kLayoutFaults[] = R"js((function () {
  var faults = [];
  var root = document.scrollingElement || document.documentElement;
  if (root.scrollWidth > window.innerWidth) faults.push("page " + root.scrollWidth + " wide in " + window.innerWidth);
  if (root.scrollHeight > window.innerHeight) faults.push("page " + root.scrollHeight + " high in " + window.innerHeight);
  document.querySelectorAll(".top, .bottom").forEach(function (bar) {
    var box = bar.getBoundingClientRect();
    bar.querySelectorAll("*").forEach(function (element) {
      if (!element.checkVisibility({ checkVisibilityCSS: true })) return;
      var r = element.getBoundingClientRect();
      if (r.width == 0 || r.height == 0) return;
      if (r.top < box.top - 0.5 || r.bottom > box.bottom + 0.5 || r.left < box.left - 0.5 || r.right > box.right + 0.5)
        faults.push((element.id || element.tagName) + " outside its bar (" + bar.className + ")");
    });
  });
  return faults.join("; ");
})())js";

// The tag selector of the first schedule item, as its chooser opens it.
constexpr const char kItemSelector[] =
    "var item = document.querySelector('.scheduleitem'); item.scrollIntoView({block: 'center'});"
    "selectorclick('mixselect', 'itemmix_' + item.id, 'itemmix_' + item.getAttribute('mixid'))";

// A search typed into the Lab's box, which opens its find menu.
constexpr const char kSearchTyped[] = "document.getElementById('searchbox').value = 'Song'; searchkeyup()";

class PageLayoutBrowserTest : public ::testing::TestWithParam<PageCase> {
 protected:
  PageLayoutBrowserTest() {
    const char* genres[] = {"Rock",
                            "Jazz",
                            "Folk",
                            "Blues",
                            "Soul",
                            "Electronic",
                            "Classical",
                            "Hip-Hop",
                            "Country",
                            "Reggae",
                            "Singer/Songwriter",
                            "Alternative & Punk"};
    db.Exec("BEGIN");
    for (int i = 0; i < 1000; ++i) {
      Track track;
      track.name = "A Rather Long Track Title Number " + std::to_string(i);
      track.artist = "The Artist With A Long Name " + std::to_string(i % 130);
      track.album = "Collected Recordings, Volume " + std::to_string(i % 240);
      track.genre = genres[i % 12];
      track.location = "/music/" + std::to_string(i) + ".mp3";
      track.length = 150 + i % 200;
      db.AddOrUpdateTrack(track);
    }
    db.Exec("COMMIT");
    db.GetEnabledTracks(tracks, 0, 100);
  }
  ~PageLayoutBrowserTest() override { theTagLinks.Reload(nullptr, nullptr, nullptr); }

  // The texts, lists and items the program writes into the page.
  void Fill(CDHtmlDialog& dialog, const std::string& page) {
    std::string rows;
    for (const Track& track : tracks) rows += track.GetLabListHtml();
    std::string tags;
    TagList genres;
    db.GetTagsByType(genres, TagGenre, "");
    for (const Tag& tag : genres) tags += tag.GetTrackHolderHtml(1000);
    const Track& first = tracks.front();
    if (page == "Zorva.htm") {
      for (int n = 1; n <= 10; ++n) dialog.SetElementHtml("track" + std::to_string(n), tracks[n].GetTitleHtml());
      dialog.SetElementHtml("status", "Scanning your library: 1000 of 1000 tracks");
      dialog.SetElementHtml("currentmixname", "Late Night Jazz and Soul");
      dialog.SetElementHtml("mixnametext", "Jazz, Soul and The Artist With A Long Name 7");
      theTagLinks.Reload(&dialog, nullptr, nullptr);
    } else if (page == "Automator.htm" || page == "Generator.htm") {
      const bool scheduler = page == "Automator.htm";
      std::string items;
      for (int start : {0, 60, 150}) {
        ScheduleItem item(scheduler ? start + 420 : start, scheduler ? start + 480 : start + 60, 0, scheduler ? 2 : -1);
        db.AddScheduleItem(item);
        items += item.GetHtml();
      }
      dialog.SetElementHtml("mixdata", items);
      dialog.GetDocument()->CallScript("positionScheduleItems", {}, nullptr);
      // The items in view, for the picture.
      dialog.GetDocument()->CallScript(
          "eval", {platform::ScriptValue("document.querySelector('.scheduleitem').scrollIntoView({block: 'center'})")},
          nullptr);
      if (scheduler) dialog.SetElementHtml("enable", "Override");
      theTagLinks.Reload(nullptr, scheduler ? &dialog : nullptr, scheduler ? nullptr : &dialog);
    } else if (page == "TrackInfo.htm") {
      dialog.SetElementHtml("trackname", first.name);
      dialog.SetElementHtml("artistname", first.artist);
      dialog.SetElementHtml("albumname", first.album);
      dialog.SetElementHtml("tracktime", "2:30");
      dialog.SetElementHtml("existingtags", tags);
    }
    if (page != "Zorva.htm") {
      // A search's findings, in the Lab's find menu.
      std::string found;
      for (std::size_t i = 0; i < 10; ++i) found += tracks[i].GetSearchListHtml();
      dialog.SetElementHtml("findtracklist", found);
      dialog.SetElementHtml("findgenretags",
                            genres.front().GetSearchHolderHtml() + genres.back().GetSearchHolderHtml());
    }
    if (page == "SelectorInfo.htm" || page == "MixInfo.htm" || page == "LabHome.htm") {
      dialog.SetElementHtml("trackheading", "1000 tracks");
      dialog.SetElementHtml("trackttable", rows);
      dialog.SetElementHtml("tracknav", "<span class='navstat'>0 to 100 of 1000</span>");
      dialog.SetElementHtml(page == "LabHome.htm" ? "alltags" : "relatedtags", tags);
      dialog.SetElementHtml("existingtags", tags);
    }
  }

  zorva_test::TempFolder folder;
  MusicDB db{folder.File("music.db")};
  ScopedMusicDB installed{db};
  TrackList tracks;
};

TEST_P(PageLayoutBrowserTest, ThePageFitsItsWindow) {
  const PageCase& page = GetParam();
  CDHtmlDialog dialog(*page.window, 0);
  ASSERT_TRUE(dialog.Create(CWnd::GetDesktopWindow()));
  auto& browser = zorva::test::BrowserPage(dialog);
  const POINT size = DialogUnitsToPixels(page.window->width, page.window->height);
  browser.SetBounds(0, 0, size.x, size.y);
  ASSERT_TRUE(browser.LoadFile(std::string(ZORVA_PAGE_DIR) + "/" + page.file)) << browser.LastError();
  Fill(dialog, page.file);

  platform::ScriptValue inner;
  ASSERT_EQ(browser.CallScript("eval", {platform::ScriptValue("window.innerWidth + 'x' + window.innerHeight")}, &inner),
            S_OK);
  EXPECT_EQ(inner.ToText(), std::to_string(size.x) + "x" + std::to_string(size.y));
  const auto eval = [&](const std::string& script) {
    platform::ScriptValue value;
    EXPECT_EQ(browser.CallScript("eval", {platform::ScriptValue(script)}, &value), S_OK) << script;
    return value.ToText();
  };
  const std::string name = std::filesystem::path(page.file).stem().string();
  std::filesystem::create_directories(ZORVA_SHOT_DIR);
  const auto picture = [&](const std::string& file) {
    const std::string png = browser.CaptureScreenshot();
    EXPECT_FALSE(png.empty());
    std::ofstream(std::string(ZORVA_SHOT_DIR) + "/" + file + ".png", std::ios::binary) << png;
  };
  EXPECT_EQ(eval(kLayoutFaults), "") << page.file;
  picture(name);

  // An open menu lies inside the window too.
  if (page.menu) {
    eval(page.openMenu);
    EXPECT_TRUE(
        zorva::test::ProcessUntil(browser, [&] { return eval(zorva::test::MenuSettledScript(page.menu)) == "true"; }));
    EXPECT_EQ(eval(kLayoutFaults), "") << page.file << " with " << page.menu << " open";
    EXPECT_EQ(eval(std::string("String(document.getElementById('") + page.menu +
                   "Container').getBoundingClientRect().bottom <= window.innerHeight)"),
              "true");
    picture(name + "-" + page.menu);
  }
  dialog.DestroyWindow();
}

INSTANTIATE_TEST_SUITE_P(EveryPage, PageLayoutBrowserTest,
                         ::testing::Values(PageCase{"Zorva.htm", &CZorvaDlg::kDialog, "mixselect", "selectorshow()"},
                                           PageCase{"Automator.htm", &Automator::kDialog, "mixselect", kItemSelector},
                                           PageCase{"Generator.htm", &CGenerator::kDialog, "mixselect", kItemSelector},
                                           PageCase{"TrackInfo.htm", &TrackInfo::kDialog, "find", kSearchTyped},
                                           PageCase{"SelectorInfo.htm", &TrackInfo::kDialog},
                                           PageCase{"MixInfo.htm", &TrackInfo::kDialog},
                                           PageCase{"LabHome.htm", &TrackInfo::kDialog, "find", kSearchTyped},
                                           PageCase{"SettingsDialog.htm", &CSettingsDialog::kDialog},
                                           PageCase{"StatusDialog.htm", &StatusDialog::kDialog},
                                           PageCase{"Vantrel.htm", &CVantrelDlg::kDialog}),
                         [](const ::testing::TestParamInfo<PageCase>& param) {
                           return std::filesystem::path(param.param.file).stem().string();
                         });

}  // namespace

// The player, scheduler and generator pages with their three tag lists, on a
// library whose tags have known frequencies, and a main window that records
// what is posted to it: for the tests of the tag lists and the page bridge.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "core/AppMainWindow.h"
#include "platform/kernel/Messages.h"
#include "platform/window/DHtmlDialog.h"
#include "tests/core/RecordsTestSupport.h"

namespace zorva_test {

constexpr const char* kTagListIds[] = {"genretaglinks", "artisttaglinks", "albumtaglinks"};

// A page whose script may use window.external.
class ScriptedPage : public CDHtmlDialog {
 public:
  ScriptedPage() : CDHtmlDialog(DialogTemplate{300, 0, 0, 200, 150, WS_POPUP, 0}, 301) {}
  BOOL IsExternalDispatchSafe() override { return TRUE; }
};

class TagPagesTest : public RecordsTest {
 protected:
  enum { Player, Scheduler, Generator };

  TagPagesTest() {
    // Frequencies 3, 2 and 1 in each list; the quiet album's name is markup.
    for (const char* name : {"r1", "r2", "r3"}) AddTrack(name, "Band", "Loud", "Rock");
    for (const char* name : {"j1", "j2"}) AddTrack(name, "Trio", "Smooth", "Jazz");
    AddTrack("f1", "Solo", "Quiet <b> & Calm", "Folk");
    for (auto& page : pages) {
      page = std::make_unique<ScriptedPage>();
      EXPECT_TRUE(page->Create());
      page->GetDocument()->LoadHtml(
          "<html><body><div id='genretaglinks'>Tags not loaded... Please restart.</div>"
          "<div id='artisttaglinks'></div><div id='albumtaglinks'></div></body></html>");
    }
    mainWindow_ = CreateWindowHandle([this](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
      posted_.push_back(message);
      return 0;
    });
    SetAppMainWindow(mainWindow_);
  }
  ~TagPagesTest() override {
    SetAppMainWindow(nullptr);
    DestroyWindow(mainWindow_);
  }

  CDHtmlDialog* Page(int page) { return pages[page].get(); }

  struct Link {
    std::string name;
    std::string className;
    bool visible;
  };
  // The tag links of one list of a page, in page order.
  static std::vector<Link> Links(CDHtmlDialog& page, const std::string& listId) {
    std::vector<Link> links;
    auto list = page.GetElement(listId);
    if (!list) return links;
    for (const auto& span : list->GetChildren()) {
      const auto inner = span->GetChildren();
      if (inner.empty() || inner.front()->GetChildren().empty()) continue;
      const auto link = inner.front()->GetChildren().front();
      links.push_back({link->GetInnerText(), link->GetClassName(), span->GetStyleDisplay() != "none"});
    }
    return links;
  }
  // The names shown in one list; "-name" for a link marked for removal.
  static std::vector<std::string> Shown(CDHtmlDialog& page, const std::string& listId) {
    std::vector<std::string> names;
    for (const Link& link : Links(page, listId)) {
      if (link.visible) names.push_back((link.className == "mixtagremove" ? "-" : "") + link.name);
    }
    return names;
  }
  // Every list of a page, one after the other.
  static std::vector<std::string> ShownAll(CDHtmlDialog& page) {
    std::vector<std::string> names;
    for (const char* id : kTagListIds) {
      for (const std::string& name : Shown(page, id)) names.push_back(name);
    }
    return names;
  }

  // A stored mix of the tags (type, name).
  Mix StoreMix(const std::string& name, const std::vector<std::pair<int, std::string>>& tags) {
    Mix mix;
    for (const auto& [type, tagName] : tags) mix.AddTag(db.FindOrCreateTag(tagName, type), false);
    mix.Rename(name);
    return mix;
  }

  // The messages posted to the main window since the last call.
  std::vector<UINT> TakePosted() {
    platform::PumpMessages();
    std::vector<UINT> taken;
    taken.swap(posted_);
    return taken;
  }

  std::array<std::unique_ptr<CDHtmlDialog>, 3> pages;

 private:
  HWND mainWindow_ = nullptr;
  std::vector<UINT> posted_;
};

}  // namespace zorva_test

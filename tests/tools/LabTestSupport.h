// The Lab window on its real page files (the build's bin folder) in the
// in-memory document, over a music database of the test's own, with a main
// window that records what is posted to it and links caught before they
// reach a browser.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/AppMainWindow.h"
#include "platform/html/MemoryHtmlDocument.h"
#include "platform/kernel/Messages.h"
#include "platform/profile/Profile.h"
#include "platform/shell/Shell.h"
#include "tests/core/RecordsTestSupport.h"
#include "tests/support/MemoryPageTestSupport.h"
#include "tests/support/ScopedEnv.h"
#include "tools/TrackInfo.h"

namespace zorva_test {

using Posts = std::vector<std::pair<UINT, WPARAM>>;

class LabTest : public RecordsTest {
 protected:
  LabTest()
      : previousStarter_(platform::shell::SetStarter([this](const std::vector<std::string>& argv) {
          if (argv.size() == 2 && argv[0] == "xdg-open") opened_.push_back(argv[1]);
          return true;
        })) {
    SetRegistryKey("Zorva");
    SetProfileName("Zorva");
    platform::ReloadProfile();
    CFramelessHtmlWindow::SetPageFolder(ZORVA_PAGE_DIR);
    mainWindow_ = CreateWindowHandle([this](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
      if (message >= WM_APP) posted_.emplace_back(message, wParam);
      return 0;
    });
    SetAppMainWindow(mainWindow_);
  }
  ~LabTest() override {
    lab.reset();
    SetAppMainWindow(nullptr);
    ::DestroyWindow(mainWindow_);
    CFramelessHtmlWindow::SetPageFolder("");
    platform::shell::SetStarter(previousStarter_);
    platform::ReloadProfile();
  }

  // The Lab, made as the player window makes it: hidden, on the track page.
  TrackInfo& OpenLab() {
    lab = std::make_unique<TrackInfo>();
    EXPECT_TRUE(lab->Create());
    return *lab;
  }

  platform::MemoryHtmlDocument& Page() { return MemoryPageOf(*lab); }
  platform::HtmlElementPtr Element(const std::string& id) { return lab->GetElement(id); }
  std::string Text(const std::string& id) { return lab->GetElementText(id); }
  std::string PageFile() {
    const std::string url = lab->GetDocument()->GetUrl();
    return url.substr(url.rfind('/') + 1);
  }

  // A click (or another event) on the element; true when its default action went ahead.
  bool Fire(const platform::HtmlElementPtr& element, const std::string& type = "click") {
    return FireOn(*lab, element, type);
  }
  bool Click(const std::string& id) { return Fire(Element(id)); }
  // The first element of the page whose id begins with `prefix` and whose class is `className`.
  platform::HtmlElementPtr Find(const std::string& className, const std::string& prefix = "") {
    return FindIn(lab->GetDocument()->GetDocumentElement(), className, prefix);
  }
  // Types `text` into the input and lets its key-up go to the program.
  void Type(const std::string& id, const std::string& text) {
    Element(id)->SetValue(text);
    Fire(Element(id), "keyup");
  }

  // The names of the script functions the page was asked to run since the last call.
  std::vector<std::string> TakeScriptCalls() { return zorva_test::TakeScriptCalls(Page()); }

  Posts TakePosted() {
    platform::PumpMessages();
    return std::exchange(posted_, {});
  }
  std::vector<std::string> TakeOpened() { return std::exchange(opened_, {}); }

  TempFolder config;
  ScopedEnv configHome{"XDG_CONFIG_HOME", config.Path()};
  std::unique_ptr<TrackInfo> lab;

 private:
  static platform::HtmlElementPtr FindIn(const platform::HtmlElementPtr& root, const std::string& className,
                                         const std::string& prefix) {
    if (!root) return nullptr;
    if (root->GetClassName() == className && root->GetId().rfind(prefix, 0) == 0) return root;
    for (const auto& child : root->GetChildren()) {
      if (auto found = FindIn(child, className, prefix)) return found;
    }
    return nullptr;
  }

  platform::shell::Starter previousStarter_;
  std::vector<std::string> opened_;
  HWND mainWindow_ = nullptr;
  Posts posted_;
};

}  // namespace zorva_test

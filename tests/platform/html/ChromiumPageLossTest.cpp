// A Chromium document whose page is lost, and the browser's own keys (label
// browser): a page closed from outside (the desktop's close button on its
// window) tells the program and comes back loaded in a new page; a page whose
// renderer died comes back without a word; reload, print and close keys
// reach the program's key handling and never act in the page.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel/Messages.h"
#include "tests/support/BrowserTestSupport.h"
#include "tests/support/TempFolder.h"

namespace {

using platform::chromium::Json;
using zorva::test::CompletionCounter;
using zorva::test::PumpMessagesUntil;
using zorva::test::TestBrowser;
using zorva::test::WritePage;

class ChromiumPageLossTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = WritePage(folder_.Path(), "lost.htm", "<title>Lost</title><body><div id=mark>here</div></body>");
    std::string error;
    page_ = platform::ChromiumHtmlDocument::Create(TestBrowser(), &error);
    ASSERT_TRUE(page_) << error;
    page_->SetHost(&host_);
    page_->SetWindowClosedHandler([this] { ++closed_; });
    ASSERT_TRUE(page_->Navigate(platform::FileUrl(file_)));
    ASSERT_TRUE(PumpMessagesUntil([this] { return host_.completions == 1; }));
  }
  // Waits for the page to be back with its file loaded.
  bool Back() {
    return PumpMessagesUntil([this] { return host_.completions == 2; }) && page_->GetElementById("mark") &&
           page_->GetElementById("mark")->GetInnerText() == "here";
  }

  zorva_test::TempFolder folder_;
  std::string file_;
  CompletionCounter host_;
  std::unique_ptr<platform::ChromiumHtmlDocument> page_;
  int closed_ = 0;
};

TEST_F(ChromiumPageLossTest, APageClosedFromOutsideIsReportedAndLoadedAgain) {
  const std::string old = page_->TargetId();
  TestBrowser()->Call("Target.closeTarget", {{"targetId", old}});
  EXPECT_TRUE(Back());
  EXPECT_EQ(closed_, 1);
  EXPECT_NE(page_->TargetId(), old);
  EXPECT_EQ(page_->GetUrl(), platform::FileUrl(file_));
}

TEST_F(ChromiumPageLossTest, APageWhoseRendererDiedIsLoadedAgainWithoutAWord) {
  TestBrowser()->Send("Page.crash", Json::object(), page_->SessionId());
  EXPECT_TRUE(Back());
  EXPECT_EQ(closed_, 0);
}

struct KeyCase {
  int key;
  int modifiers;  // 2: Ctrl
  bool browserKey;
};

TEST_F(ChromiumPageLossTest, TheBrowsersOwnKeysGoToTheProgramAndNeverActInThePage) {
  const KeyCase cases[] = {
      {116, 0, true},                                                    // F5
      {'R', 2, true},  {'P', 2, true}, {'W', 2, true},  {115, 2, true},  // Ctrl+F4
      {'A', 2, false}, {13, 0, false}, {'P', 0, false},
  };
  std::vector<int> heard;
  page_->SetKeyHandler([&heard](int key, bool ctrl, bool, bool) {
    heard.push_back(ctrl ? -key : key);
    return true;
  });
  // The page's own handlers still see every key, after the host.
  page_->LoadHtml(
      "<body><div id=seen></div><script>addEventListener('keydown', (e) => {"
      "document.getElementById('seen').textContent += e.keyCode + (e.defaultPrevented ? 'x ' : ' '); });"
      "</script></body>");
  std::string expected;
  std::vector<int> expectedHeard;
  for (const KeyCase& c : cases) {
    TestBrowser()->Call("Input.dispatchKeyEvent",
                        {{"type", "rawKeyDown"}, {"windowsVirtualKeyCode", c.key}, {"modifiers", c.modifiers}},
                        page_->SessionId());
    expected += std::to_string(c.key) + (c.browserKey ? "x " : " ");
    if (c.browserKey) expectedHeard.push_back(c.modifiers ? -c.key : c.key);
  }
  EXPECT_EQ(page_->GetElementById("seen")->GetInnerText(), expected);
  EXPECT_EQ(heard, expectedHeard);
}

}  // namespace

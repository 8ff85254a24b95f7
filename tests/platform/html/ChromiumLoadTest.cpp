// Page loads of a Chromium document go on while the program does other work
// (label browser): Navigate returns at once, the completion comes through the
// message loop, a call that needs the page waits for it, and a document that
// goes while its page is being made or loaded leaves no page behind.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/html/ScriptDispatch.h"
#include "platform/html/Url.h"
#include "platform/kernel/Messages.h"
#include "tests/support/BrowserTestSupport.h"
#include "tests/support/TempFolder.h"

namespace {

using zorva::test::TestBrowser;
using zorva::test::WritePage;

class LoadHost : public platform::HtmlDocumentHost {
 public:
  std::vector<std::string> completions;  // "nav url" / "doc url"

  void HandleEvent(platform::HtmlEvent&) override {}
  void BeforeNavigate(const std::string&, bool*) override {}
  void NavigateComplete(const std::string& url) override { completions.push_back("nav " + url); }
  void DocumentComplete(const std::string& url) override { completions.push_back("doc " + url); }
  platform::ScriptDispatch* External() override { return external; }
  platform::ScriptDispatch* external = nullptr;
};

// Runs only the thread's message loop until `done()` or 10 s.
bool PumpUntil(const std::function<bool()>& done) { return zorva::test::PumpMessagesUntil(done, 10000); }

int PageTargets() {
  const auto targets = TestBrowser()->Call("Target.getTargets");
  int pages = 0;
  for (const auto& info : targets.result.value("targetInfos", platform::chromium::Json::array())) {
    if (info.value("type", "") == "page") ++pages;
  }
  return pages;
}

class ChromiumLoadTest : public ::testing::Test {
 protected:
  std::unique_ptr<platform::ChromiumHtmlDocument> NewPage(LoadHost* host) {
    std::string error;
    auto page = platform::ChromiumHtmlDocument::Create(TestBrowser(), &error);
    EXPECT_TRUE(page) << error;
    if (page && host) page->SetHost(host);
    return page;
  }

  zorva_test::TempFolder folder_;
  const std::string there_ = platform::FileUrl(WritePage(folder_.Path(), "there.htm", "<div id=there>there</div>"));
};

TEST_F(ChromiumLoadTest, ANavigationReturnsAtOnceAndCompletesThroughTheMessageLoop) {
  LoadHost host;
  auto page = NewPage(&host);
  ASSERT_TRUE(page);
  ASSERT_TRUE(page->Navigate(there_));
  EXPECT_TRUE(host.completions.empty());
  ASSERT_TRUE(PumpUntil([&] { return host.completions.size() == 2; })) << ::testing::PrintToString(host.completions);
  EXPECT_EQ(host.completions, (std::vector<std::string>{"nav " + there_, "doc " + there_}));
  EXPECT_TRUE(page->GetElementById("there"));
}

TEST_F(ChromiumLoadTest, ACallThatNeedsThePageWaitsForItsLoad) {
  const std::vector<std::pair<const char*, std::function<bool(platform::ChromiumHtmlDocument&)>>> uses = {
      {"element", [](platform::ChromiumHtmlDocument& p) { return p.GetElementById("there") != nullptr; }},
      {"write",
       [](platform::ChromiumHtmlDocument& p) {
         p.SetElementText("there", "new");
         return p.GetElementById("there")->GetInnerText() == "new";
       }},
      {"script",
       [](platform::ChromiumHtmlDocument& p) {
         platform::ScriptValue title;
         return p.CallScript("eval", {platform::ScriptValue("document.getElementById('there').id")}, &title) == S_OK &&
                title.ToText() == "there";
       }},
      {"address", [this](platform::ChromiumHtmlDocument& p) { return p.GetUrl() == there_; }},
  };
  for (const auto& [name, use] : uses) {
    LoadHost host;
    // Straight after it was made: neither the page target nor the page exists.
    auto page = NewPage(&host);
    ASSERT_TRUE(page);
    ASSERT_TRUE(page->Navigate(there_));
    EXPECT_TRUE(use(*page)) << name;
    // The window heard of the load before the call answered.
    EXPECT_EQ(host.completions, (std::vector<std::string>{"nav " + there_, "doc " + there_})) << name;
  }
}

// A window gives window.external after starting its page (its set-up
// order); the page has it once loaded, whether it was still loading then.
TEST_F(ChromiumLoadTest, WindowExternalGivenAfterThePageStartedReachesIt) {
  platform::ScriptDispatch sink;
  std::vector<std::string> calls;
  sink.AddMethod("Echo", {platform::ScriptType::Text}, [&](const platform::ScriptArgs& args) {
    calls.push_back(args[0].ToText());
    return platform::ScriptValue();
  });
  for (const bool loaded : {false, true}) {
    LoadHost host;
    auto page = NewPage(&host);
    ASSERT_TRUE(page);
    ASSERT_TRUE(page->Navigate(there_));
    if (loaded) page->GetElementById("there");
    host.external = &sink;
    page->SetHost(&host);  // as the window does when it is given its object
    platform::ScriptValue answer;
    ASSERT_EQ(page->CallScript("eval", {platform::ScriptValue("window.external.Echo('hi'); 'called'")}, &answer), S_OK);
    EXPECT_EQ(answer.ToText(), "called") << loaded;
  }
  EXPECT_EQ(calls, (std::vector<std::string>{"hi", "hi"}));
}

// A write still held when the program goes to another page reaches the page
// it was made for, and the next page loads as ever.
TEST_F(ChromiumLoadTest, WritesHeldWhenTheProgramNavigatesDoNotHoldUpTheLoad) {
  const std::string first = WritePage(folder_.Path(), "first.htm",
                                      "<div id=box>old</div><script>new MutationObserver(() => "
                                      "{ window.name = 'written'; }).observe(document.getElementById('box'), "
                                      "{childList: true});</script>");
  LoadHost host;
  auto page = NewPage(&host);
  ASSERT_TRUE(page);
  page->SetLoadTimeout(5000);
  ASSERT_TRUE(page->LoadFile(first));
  for (const bool navigate : {false, true}) {
    page->SetElementText("box", "new");
    if (navigate) {
      ASSERT_TRUE(page->Navigate(there_));
    } else {
      ASSERT_TRUE(page->LoadFile(WritePage(folder_.Path(), "there.htm", "<div id=there>there</div>")))
          << page->LastError();
    }
    EXPECT_TRUE(page->GetElementById("there")) << navigate;
    platform::ScriptValue name;
    ASSERT_EQ(page->CallScript("eval", {platform::ScriptValue("window.name")}, &name), S_OK);
    EXPECT_EQ(name.ToText(), "written") << navigate;  // the name outlives the first page
    ASSERT_TRUE(page->LoadFile(first));
    page->CallScript("eval", {platform::ScriptValue("window.name = ''")}, nullptr);
  }
}

TEST_F(ChromiumLoadTest, ADocumentThatGoesWhileItsPageIsMadeOrLoadsLeavesNoPage) {
  // One page stays (it takes the browser's start page, if that is still free).
  auto kept = NewPage(nullptr);
  ASSERT_TRUE(kept);
  const int before = PageTargets();
  for (const bool navigate : {false, true}) {
    LoadHost host;
    {
      auto page = NewPage(&host);
      ASSERT_TRUE(page);
      if (navigate) page->Navigate(there_);
    }
    // Its page (made after it went, or under way) is closed; nothing reaches the host.
    ASSERT_TRUE(PumpUntil([&] { return PageTargets() == before; })) << navigate;
    EXPECT_TRUE(host.completions.empty()) << navigate;
  }
  // A page being loaded when its window goes.
  LoadHost host;
  auto page = NewPage(&host);
  ASSERT_TRUE(page);
  EXPECT_TRUE(page->GetElementById("nothing") == nullptr);  // set up, blank
  page->Navigate(there_);
  page.reset();
  ASSERT_TRUE(PumpUntil([&] { return PageTargets() == before; }));
  EXPECT_TRUE(host.completions.empty());
}

// Pages made while deferred: no page target until started or needed; the
// thread's wait for its loads passes them by; writes by id made meanwhile
// land in the page once it has loaded; one needed starts the others too.
TEST_F(ChromiumLoadTest, DeferredPagesStartWhenAskedOrNeeded) {
  auto kept = NewPage(nullptr);
  ASSERT_TRUE(kept);
  const int before = PageTargets();
  for (const bool needed : {false, true}) {
    // The last round's pages have closed.
    ASSERT_TRUE(PumpUntil([&] { return PageTargets() == before; }));
    LoadHost first, second;
    platform::ChromiumHtmlDocument::DeferNew(true);
    auto page = NewPage(&first);
    auto other = NewPage(&second);
    platform::ChromiumHtmlDocument::DeferNew(false);
    ASSERT_TRUE(page && other);
    ASSERT_TRUE(page->Navigate(there_));
    ASSERT_TRUE(other->Navigate(there_));
    page->SetElementText("there", "written before the load");
    platform::ChromiumHtmlDocument::FinishLoads();
    EXPECT_EQ(PageTargets(), before) << needed;
    EXPECT_TRUE(first.completions.empty()) << needed;
    if (needed) {
      // A read needs the page: it loads, and the other starts beside it.
      auto there = page->GetElementById("there");
      ASSERT_TRUE(there) << page->LastError();
      EXPECT_EQ(PageTargets(), before + 2);
    } else {
      platform::ChromiumHtmlDocument::StartDeferred();
    }
    ASSERT_TRUE(PumpUntil([&] { return first.completions.size() == 2 && second.completions.size() == 2; }))
        << needed << ::testing::PrintToString(first.completions);
    EXPECT_EQ(first.completions, (std::vector<std::string>{"nav " + there_, "doc " + there_})) << needed;
    auto there = page->GetElementById("there");
    ASSERT_TRUE(there) << needed;
    EXPECT_EQ(there->GetInnerText(), "written before the load") << needed;
    EXPECT_EQ(other->GetElementById("there")->GetInnerText(), "there") << needed;
  }
}

}  // namespace

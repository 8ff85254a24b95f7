// Shown Chromium pages on a display (Xvfb; label browser). A page takes no
// input while it stands for the host's answer, so a mouse button let go
// then would be lost with its click: a press whose button is up again once
// the host has answered still gives the page its release and one click; a
// press held past the answer gives its own release and one click only.
// While one window's page stands for the host, another window's page loads.
// Keys typed while the host answers a key let go all reach the page.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/html/X11Windows.h"
#include "tests/support/BrowserTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempFolder.h"

namespace {

using zorva::test::WritePage;
using zorva_test::ChildProcess;

bool Installed(const std::string& program) { return ::access(("/usr/bin/" + program).c_str(), X_OK) == 0; }

void Mouse(const std::vector<std::string>& args) {
  std::vector<std::string> argv{"/usr/bin/xdotool"};
  argv.insert(argv.end(), args.begin(), args.end());
  ChildProcess xdotool(argv);
  ASSERT_TRUE(xdotool.Started());
  EXPECT_EQ(xdotool.Wait(), 0);
}

// Hears the page's presses; lets the button go while the page stands for
// the answer when asked to, and runs `whileAsked`.
class PressHost : public platform::HtmlDocumentHost {
 public:
  bool releaseWhileAsked = false;
  std::function<void()> whileAsked;
  int presses = 0;
  void HandleEvent(platform::HtmlEvent& event) override {
    if (event.type != "mousedown") return;
    ++presses;
    if (releaseWhileAsked) Mouse({"mouseup", "1"});
    if (whileAsked) whileAsked();
  }
  void BeforeNavigate(const std::string&, bool*) override {}
  void NavigateComplete(const std::string&) override {}
  void DocumentComplete(const std::string&) override {}
  platform::ScriptDispatch* External() override { return nullptr; }
  std::vector<std::string> EventTypes() const override { return {"mousedown"}; }
};

// Counts the selections started on each element.
class SelectHost : public platform::HtmlDocumentHost {
 public:
  std::map<std::string, int> starts;
  void HandleEvent(platform::HtmlEvent& event) override {
    if (event.type == "selectstart" && event.srcElement) ++starts[event.srcElement->GetAttribute("id")];
  }
  void BeforeNavigate(const std::string&, bool*) override {}
  void NavigateComplete(const std::string&) override {}
  void DocumentComplete(const std::string&) override {}
  platform::ScriptDispatch* External() override { return nullptr; }
  std::vector<std::string> EventTypes() const override { return {"selectstart"}; }
};

// Takes as long over each key let go as the program over a search.
class SlowKeyHost : public platform::HtmlDocumentHost {
 public:
  int keyUps = 0;
  void HandleEvent(platform::HtmlEvent& event) override {
    if (event.type != "keyup" || event.keyCode < 'A' || event.keyCode > 'Z') return;
    ++keyUps;
    std::this_thread::sleep_for(std::chrono::milliseconds(120));  // the program's work, not a wait
  }
  void BeforeNavigate(const std::string&, bool*) override {}
  void NavigateComplete(const std::string&) override {}
  void DocumentComplete(const std::string&) override {}
  platform::ScriptDispatch* External() override { return nullptr; }
  std::vector<std::string> EventTypes() const override { return {"keyup"}; }
};

class CompleteCounter : public platform::HtmlDocumentHost {
 public:
  void HandleEvent(platform::HtmlEvent&) override {}
  void BeforeNavigate(const std::string&, bool*) override {}
  void NavigateComplete(const std::string&) override {}
  void DocumentComplete(const std::string&) override {}
  platform::ScriptDispatch* External() override { return nullptr; }
};

class ChromiumShownInputTest : public ::testing::Test {
 protected:
  // One display and one shown browser for the suite: the program's display
  // connection is opened once a process.
  static void SetUpTestSuite() {
    for (const char* program : {"Xvfb", "xdotool"}) {
      if (!Installed(program)) return;
    }
    xvfb_ = new ChildProcess({"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp"});
    if (!xvfb_->WaitFor([](const std::string& line) { return !line.empty(); }, 30)) return;
    ::setenv("DISPLAY", (":" + xvfb_->Lines().front()).c_str(), 1);
    platform::chromium::Browser::Options options;
    options.headless = false;
    std::string error;
    browser_ = new std::shared_ptr<platform::chromium::Browser>(platform::chromium::Browser::Start(options, &error));
    if (!*browser_) std::fprintf(stderr, "no browser: %s\n", error.c_str());
  }
  static void TearDownTestSuite() {
    delete browser_;
    browser_ = nullptr;
    delete xvfb_;
    xvfb_ = nullptr;
  }
  void SetUp() override {
    for (const char* program : {"Xvfb", "xdotool"}) {
      if (!Installed(program))
        GTEST_FAIL() << program << " is not installed (build.sh installs Debian packages xvfb, xdotool)";
    }
    ASSERT_TRUE(browser_ && *browser_) << "no shown browser on Xvfb";
    page_ = Open(&host_, "press.htm",
                 "<body style='margin:0'><div id=pad style='height:600px'"
                 " onmouseup='ups.textContent++' onclick='clicks.textContent++'></div>"
                 "<i id=ups>0</i><i id=clicks>0</i></body>");
    ASSERT_TRUE(page_);
    page_->SetBounds(0, 0, 400, 400);
    page_->SetVisible(true);
  }
  std::unique_ptr<platform::ChromiumHtmlDocument> Open(platform::HtmlDocumentHost* host, const std::string& name,
                                                       const std::string& html) {
    std::string error;
    auto page = platform::ChromiumHtmlDocument::Create(*browser_, &error);
    EXPECT_TRUE(page) << error;
    if (!page) return nullptr;
    page->SetSilent(true);
    page->SetHost(host);
    const std::string file = WritePage(folder_.Path(), name, html);
    EXPECT_TRUE(page->LoadFile(file)) << page->LastError();
    return page;
  }
  std::string Text(const char* id) { return page_->GetElementById(id)->GetInnerText(); }

  static ChildProcess* xvfb_;
  static std::shared_ptr<platform::chromium::Browser>* browser_;
  zorva_test::TempFolder folder_;
  PressHost host_;
  std::unique_ptr<platform::ChromiumHtmlDocument> page_;
};

ChildProcess* ChromiumShownInputTest::xvfb_ = nullptr;
std::shared_ptr<platform::chromium::Browser>* ChromiumShownInputTest::browser_ = nullptr;

TEST_F(ChromiumShownInputTest, APressLetGoWhileThePageStandsStillClicksOnce) {
  for (const bool releaseWhileAsked : {true, false}) {
    SCOPED_TRACE(releaseWhileAsked ? "let go while asked" : "let go after");
    host_.releaseWhileAsked = releaseWhileAsked;
    const int presses = host_.presses;
    const int before = std::stoi(Text("clicks"));
    Mouse({"mousemove", "200", "200", "mousedown", "1"});
    ASSERT_TRUE(zorva::test::ProcessUntil(
        *page_, [&] { return host_.presses == presses + 1; }, 20000));
    if (!releaseWhileAsked) Mouse({"mouseup", "1"});
    EXPECT_TRUE(zorva::test::ProcessUntil(
        *page_, [&] { return Text("clicks") == std::to_string(before + 1); }, 20000))
        << Text("clicks");
    EXPECT_EQ(Text("ups"), Text("clicks"));
  }
}

// A press that moves starts a selection, also where nothing can be selected
// (the window is dragged from there), but not where the page took the press
// for a drag of its own.
TEST_F(ChromiumShownInputTest, APressThatMovesStartsASelectionUnlessThePageTookIt) {
  SelectHost host;
  auto page = Open(&host, "select.htm",
                   "<body style='margin:0;user-select:none'><div id=plain style='height:100px'>plain</div>"
                   "<div id=own style='height:100px' onmousedown='event.preventDefault(); event.stopPropagation()'>"
                   "own</div></body>");
  ASSERT_TRUE(page);
  page->SetBounds(400, 0, 400, 400);
  page->SetVisible(true);
  auto drag = [](int y) {
    Mouse({"mousemove", "450", std::to_string(y), "mousedown", "1"});
    Mouse({"mousemove_relative", "--", "5", "5"});
    Mouse({"mousemove_relative", "--", "5", "5"});
    Mouse({"mouseup", "1"});
  };
  drag(50);
  EXPECT_TRUE(zorva::test::ProcessUntil(
      *page, [&] { return host.starts["plain"] == 1; }, 20000));
  drag(150);
  drag(50);
  EXPECT_TRUE(zorva::test::ProcessUntil(
      *page, [&] { return host.starts["plain"] == 2; }, 20000));
  EXPECT_EQ(host.starts["own"], 0);
}

TEST_F(ChromiumShownInputTest, AnotherWindowsPageLoadsWhileOnePageStandsForTheHost) {
  CompleteCounter other;
  auto second = Open(&other, "other.htm", "<p id=mark>first</p>");
  ASSERT_TRUE(second);
  const std::string next = WritePage(folder_.Path(), "next.htm", "<p id=mark>next</p>");
  std::string seen;
  host_.whileAsked = [&] {
    ASSERT_TRUE(second->Navigate(platform::FileUrl(next)));
    const auto mark = second->GetElementById("mark");
    seen = mark ? mark->GetInnerText() : second->LastError();
  };
  platform::HtmlEvent press;
  press.type = "mousedown";
  press.srcElement = page_->GetElementById("pad");
  page_->FireEvent(press);
  EXPECT_EQ(host_.presses, 1);
  EXPECT_EQ(seen, "next");
}

TEST_F(ChromiumShownInputTest, KeysTypedWhileTheHostAnswersAKeyAllArrive) {
  page_->SetVisible(false);  // the keys go to the window under the pointer
  SlowKeyHost slow;
  auto page =
      Open(&slow, "search.htm", "<body style='margin:0'><input id=box style='width:380px;height:380px'></body>");
  ASSERT_TRUE(page);
  page->SetBounds(0, 0, 400, 400);
  page->SetVisible(true);
  const auto box = page->GetElementById("box");
  for (int round = 1; round <= 3; ++round) {
    SCOPED_TRACE(round);
    box->SetValue("");
    ASSERT_EQ(box->GetValue(), "");  // the write has reached the page before the keys
    const int before = slow.keyUps;
    Mouse({"mousemove", "200", "250", "click", "1"});
    Mouse({"type", "--delay", "20", "Morning"});
    EXPECT_TRUE(zorva::test::ProcessUntil(
        *page, [&] { return slow.keyUps == before + 7; }, 20000))
        << slow.keyUps - before;
    EXPECT_EQ(box->GetValue(), "Morning");
  }
}

}  // namespace

// A shown Chromium page on a display (Xvfb; label browser): the page takes no
// input while it stands for the host's answer, so a mouse button let go
// then would be lost with its click. A press whose button is up again once
// the host has answered still gives the page its release and one click; a
// press held past the answer gives its own release and one click only.
#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/html/X11Windows.h"
#include "tests/support/BrowserTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"

namespace {

using zorva::test::WritePage;
using zorva_test::ChildProcess;
using zorva_test::ScopedEnv;

bool Installed(const std::string& program) { return ::access(("/usr/bin/" + program).c_str(), X_OK) == 0; }

void Mouse(const std::vector<std::string>& args) {
  std::vector<std::string> argv{"/usr/bin/xdotool"};
  argv.insert(argv.end(), args.begin(), args.end());
  ChildProcess xdotool(argv);
  ASSERT_TRUE(xdotool.Started());
  EXPECT_EQ(xdotool.Wait(), 0);
}

// Hears the page's presses; lets the button go while the page stands for
// the answer when asked to.
class PressHost : public platform::HtmlDocumentHost {
 public:
  bool releaseWhileAsked = false;
  int presses = 0;
  void HandleEvent(platform::HtmlEvent& event) override {
    if (event.type != "mousedown") return;
    ++presses;
    if (releaseWhileAsked) Mouse({"mouseup", "1"});
  }
  void BeforeNavigate(const std::string&, bool*) override {}
  void NavigateComplete(const std::string&) override {}
  void DocumentComplete(const std::string&) override {}
  platform::ScriptDispatch* External() override { return nullptr; }
  std::vector<std::string> EventTypes() const override { return {"mousedown"}; }
};

class ChromiumShownInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* program : {"Xvfb", "xdotool"}) {
      if (!Installed(program)) GTEST_SKIP() << program << " is not installed (Debian packages xvfb, xdotool)";
    }
    xvfb_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp"});
    ASSERT_TRUE(xvfb_->WaitFor([](const std::string& line) { return !line.empty(); }, 30)) << "Xvfb did not start";
    display_ = std::make_unique<ScopedEnv>("DISPLAY", (":" + xvfb_->Lines().front()).c_str());
    platform::chromium::Browser::Options options;
    options.headless = false;
    std::string error;
    browser_ = platform::chromium::Browser::Start(options, &error);
    ASSERT_TRUE(browser_) << error;
    page_ = platform::ChromiumHtmlDocument::Create(browser_, &error);
    ASSERT_TRUE(page_) << error;
    page_->SetSilent(true);
    page_->SetHost(&host_);
    const std::string file = WritePage(folder_.Path(), "press.htm",
                                       "<body style='margin:0'><div id=pad style='height:600px'"
                                       " onmouseup='ups.textContent++' onclick='clicks.textContent++'></div>"
                                       "<i id=ups>0</i><i id=clicks>0</i></body>");
    ASSERT_TRUE(page_->LoadFile(file)) << page_->LastError();
    page_->SetBounds(0, 0, 400, 400);
    page_->SetVisible(true);
  }
  void TearDown() override {
    page_.reset();
    browser_.reset();
  }
  std::string Text(const char* id) { return page_->GetElementById(id)->GetInnerText(); }

  zorva_test::TempFolder folder_;
  std::unique_ptr<ChildProcess> xvfb_;
  std::unique_ptr<ScopedEnv> display_;
  std::shared_ptr<platform::chromium::Browser> browser_;
  PressHost host_;
  std::unique_ptr<platform::ChromiumHtmlDocument> page_;
};

TEST_F(ChromiumShownInputTest, APressLetGoWhileThePageStandsStillClicksOnce) {
  for (const bool releaseWhileAsked : {true, false}) {
    SCOPED_TRACE(releaseWhileAsked ? "let go while asked" : "let go after");
    host_.releaseWhileAsked = releaseWhileAsked;
    const int presses = host_.presses;
    const int before = std::stoi(Text("clicks"));
    Mouse({"mousemove", "200", "200", "mousedown", "1"});
    ASSERT_TRUE(zorva::test::ProcessUntil(*page_, [&] { return host_.presses == presses + 1; }, 20000));
    if (!releaseWhileAsked) Mouse({"mouseup", "1"});
    EXPECT_TRUE(zorva::test::ProcessUntil(*page_, [&] { return Text("clicks") == std::to_string(before + 1); }, 20000))
        << Text("clicks");
    EXPECT_EQ(Text("ups"), Text("clicks"));
  }
}

}  // namespace

// The application object in this process: the command line, the connection
// box, and later copies reaching the running one.
#include "zorva/ZorvaApp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Settings.h"
#include "platform/window/MessageBox.h"
#include "tests/zorva/ZorvaDlgTestSupport.h"

namespace {

using namespace zorva_test;

// The application without the browser and without starting a player.
class TestApp : public CZorvaApp {
 public:
  explicit TestApp(std::vector<std::string> arguments) { m_arguments = std::move(arguments); }

 protected:
  void InstallPlatform() override {}
};

TEST(CZorvaCmdLineTest, OnlyTheLowerCaseFlagLabIsTheLabFlag) {
  struct Case {
    std::vector<std::string> arguments;
    bool lab;
  };
  const Case cases[] = {
      {{"Zorva"}, false},
      {{"Zorva", "/lab"}, true},
      {{"Zorva", "-lab"}, true},
      {{"Zorva", "/Lab"}, false},
      {{"Zorva", "lab"}, false},
      {{"Zorva", "/labs"}, false},
      {{"Zorva", "x.mp3", "/lab"}, true},
  };
  for (const Case& c : cases) {
    TestApp app(c.arguments);
    CZorvaCmdLine commandLine;
    app.ParseCommandLine(commandLine);
    EXPECT_EQ(commandLine.lab, c.lab) << c.arguments.back();
  }
}

class CZorvaAppTest : public ZorvaDlgFixture {
 protected:
  TempFolder runtime_;
  ScopedEnv runtimeDir_{"XDG_RUNTIME_DIR", runtime_.Path()};
  ScopedEnv playerSocket_{"ZORVA_PLAYER_SOCKET", runtime_.File("no-player.sock")};
};

TEST_F(CZorvaAppTest, ALaterCopyHandsItsFlagToTheRunningOneAndEnds) {
  platform::SingleInstance running("zorva");
  ASSERT_TRUE(running.TryLock());
  std::vector<std::string> heard;
  ASSERT_TRUE(running.Listen([&](const std::string& message) { heard.push_back(message); }));
  for (const char* flag : {"/lab", "/Lab"}) {
    TestApp later({"Zorva", flag});
    EXPECT_FALSE(later.InitInstance());
  }
  platform::PumpMessages();
  EXPECT_EQ(heard, (std::vector<std::string>{"lab", "show"}));
}

TEST_F(CZorvaAppTest, CancelInTheConnectionBoxEndsWithoutSavingTheSettings) {
  platform::ScriptedMessageBoxPresenter answers;
  platform::ScopedMessageBoxPresenter installed(answers);
  answers.QueueAnswer(IDRETRY);
  answers.QueueAnswer(IDCANCEL);
  TestApp app({"Zorva"});
  EXPECT_FALSE(app.InitInstance());
  const auto questions = answers.Questions();
  ASSERT_EQ(questions.size(), 2u);
  EXPECT_EQ(questions[0].caption, "Zorva could not connect to iTunes");
  EXPECT_EQ(questions[0].text,
            "Zorva could not connect to iTunes.\n\nPlease make sure you have iTunes installed and it is running "
            "correctly.\n\nPress Retry to try connecting again or Cancel to close Zorva");
  EXPECT_EQ(questions[0].type & MB_TYPEMASK, MB_RETRYCANCEL);
  platform::ReloadProfile();
  EXPECT_EQ(static_cast<int>(GetProfileInt("Startup", "MinITunes", -1)), -1);
}

// What the timer below sees of the running program.
struct RunningCopy {
  CZorvaApp* app = nullptr;
  UINT_PTR timer = 0;
  bool reached = false;
  bool restored = false;
  bool labShown = false;
};
RunningCopy* theRunningCopy = nullptr;

// Once the window runs, a later copy says "lab"; then the window is closed.
void LaterLabStart(HWND, UINT, UINT_PTR, DWORD) {
  RunningCopy& copy = *theRunningCopy;
  auto* window = dynamic_cast<CZorvaDlg*>(copy.app->m_pMainWnd);
  if (window == nullptr || copy.app->GetPublishedWindow() == nullptr) return;
  KillTimer(nullptr, copy.timer);
  window->ShowWindow(SW_MINIMIZE);
  platform::SingleInstance later("zorva");
  copy.reached = !later.TryLock() && later.SendToRunning("lab", 1, 2000);
  platform::PumpMessages();
  copy.restored = !window->IsIconic();
  copy.labShown = window->GetLab().IsWindowVisible();
  window->OnOK();
}

TEST_F(CZorvaAppTest, TheRunningCopyComesForwardAndShowsTheLabForALaterLabStart) {
  StartPlayer(MakeLibrary(12, 200));
  TestApp app({"Zorva"});
  RunningCopy copy;
  copy.app = &app;
  theRunningCopy = &copy;
  copy.timer = SetTimer(nullptr, 0, 100, &LaterLabStart);
  clock.SetAutoAdvance(true);
  EXPECT_FALSE(app.InitInstance());
  theRunningCopy = nullptr;
  // The clock's jump ends the window's wait for its scan worker at once; one
  // still held back by a busy machine must end before the test's database,
  // clock and profile go.
  EXPECT_TRUE(WaitForScanWorker());
  EXPECT_TRUE(copy.reached);
  EXPECT_TRUE(copy.restored);
  EXPECT_TRUE(copy.labShown);
  EXPECT_NE(app.GetPublishedWindow(), nullptr);
  // The settings are saved once the window has closed.
  platform::ReloadProfile();
  EXPECT_EQ(static_cast<int>(GetProfileInt("Startup", "MinITunes", -1)), 1);
}

}  // namespace

#include "core/VersionCheck.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/AppMainWindow.h"
#include "platform/kernel/Clock.h"
#include "platform/kernel/Messages.h"
#include "platform/profile/Profile.h"
#include "platform/shell/Shell.h"
#include "platform/window/MessageBox.h"
#include "tests/core/DatabaseTestSupport.h"
#include "tests/support/WebServer.h"

namespace {

std::string VersionFile(const std::string& inside) {
  return "<?xml version=\"1.0\"?><version>" + inside + "</version>";
}

zorva_test::WebAnswer Xml(const std::string& body) {
  zorva_test::WebAnswer answer;
  answer.headers = {{"Content-Type", "text/xml"}};
  answer.body = body;
  return answer;
}

// A profile, clock, web host, message box, browser and main window of the
// test's own.
class VersionCheckTest : public ::testing::Test {
 protected:
  VersionCheckTest() {
    platform::ReloadProfile();
    previousStarter = platform::shell::SetStarter([this](const std::vector<std::string>& argv) {
      started.push_back(argv);
      return browserStarts;
    });
    window = CreateWindowHandle([this](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
      if (message == WM_CLOSE) ++closes;
      return 0;
    });
    SetAppMainWindow(window);
    clock.SetLocalDateTime(2026, 3, 10, 8, 15);
  }
  ~VersionCheckTest() override {
    SetAppMainWindow(nullptr);
    DestroyWindow(window);
    platform::shell::SetStarter(previousStarter);
    platform::ReloadProfile();
  }

  void StoreLastCheck(int day, int month, int year) {
    WriteProfileInt("Version", "CheckDay", day);
    WriteProfileInt("Version", "CheckMonth", month);
    WriteProfileInt("Version", "CheckYear", year);
  }
  std::string StoredDate() {
    return std::to_string(GetProfileInt("Version", "CheckDay", 0)) + "." +
           std::to_string(GetProfileInt("Version", "CheckMonth", 0)) + "." +
           std::to_string(GetProfileInt("Version", "CheckYear", 0));
  }
  int Check() {
    const std::size_t before = server.Requests().size();
    VersionCheck check;
    EXPECT_FALSE(check.CheckForUpdate());
    platform::PumpMessages();
    return static_cast<int>(server.Requests().size() - before);
  }

  zorva_test::TempFolder config;
  zorva_test::ScopedEnv configHome{"XDG_CONFIG_HOME", config.Path()};
  zorva_test::WebServer server;
  zorva_test::ScopedEnv webHost{"ZORVA_WEB_URL", server.BaseUrl()};
  platform::ManualClock clock;
  platform::ScopedClock installedClock{clock};
  platform::ScriptedMessageBoxPresenter boxes;
  platform::ScopedMessageBoxPresenter installedBoxes{boxes};
  platform::shell::Starter previousStarter;
  std::vector<std::vector<std::string>> started;
  bool browserStarts = true;
  HWND window = nullptr;
  int closes = 0;
};

TEST_F(VersionCheckTest, VersionTexts) {
  EXPECT_STREQ(GetVersionString(), "3.2B");
  EXPECT_EQ(GetBuildNumber(), 1034);
  EXPECT_EQ(GetVersionText(), "3.2B (Build 1034)");
}

TEST_F(VersionCheckTest, RunsAtMostOnceADayAcrossARestart) {
  server.SetDefaultAnswer(Xml(VersionFile("<number>1034</number>")));
  StoreLastCheck(9, 3, 2026);  // yesterday
  EXPECT_EQ(Check(), 1);
  EXPECT_EQ(server.Requests().front().target, "/downloads/version.xml");
  EXPECT_EQ(StoredDate(), "10.3.2026");
  EXPECT_TRUE(boxes.Questions().empty());

  clock.SetLocalDateTime(2026, 3, 10, 23, 59);
  EXPECT_EQ(Check(), 0);
  platform::ReloadProfile();  // as a new start of the program reads it
  EXPECT_EQ(Check(), 0);

  clock.SetLocalDateTime(2026, 3, 11, 0, 1);
  EXPECT_EQ(Check(), 1);
  EXPECT_EQ(StoredDate(), "11.3.2026");
}

TEST_F(VersionCheckTest, FirstCheckEverAndStoredDateInTheFuture) {
  server.SetDefaultAnswer(Xml(VersionFile("<number>1034</number>")));
  EXPECT_EQ(Check(), 1);
  StoreLastCheck(1, 1, 2027);
  EXPECT_EQ(Check(), 0);
}

TEST_F(VersionCheckTest, FailedLoadIsTriedAgainAtTheNextStart) {
  zorva_test::WebAnswer failing;
  failing.status = 500;
  server.Answer(failing);
  server.Answer(Xml("this is not xml"));
  StoreLastCheck(1, 3, 2026);
  EXPECT_EQ(Check(), 1);
  EXPECT_EQ(StoredDate(), "1.3.2026");
  EXPECT_EQ(Check(), 1);
  EXPECT_EQ(StoredDate(), "1.3.2026");
  EXPECT_TRUE(boxes.Questions().empty());
}

TEST_F(VersionCheckTest, FileWithoutNumberStoresTheDateAndOffersNothing) {
  server.Answer(Xml(VersionFile("<text>news</text>")));
  EXPECT_EQ(Check(), 1);
  EXPECT_EQ(StoredDate(), "10.3.2026");
  EXPECT_TRUE(boxes.Questions().empty());
}

TEST_F(VersionCheckTest, OtherBuildIsOfferedAndNoKeepsRunning) {
  server.Answer(
      Xml(VersionFile("<number>1000</number><text>Zorva 3.1 is out</text>"
                      "<url>http://www.zorva.example/download</url>")));
  boxes.QueueAnswer(IDNO);
  EXPECT_EQ(Check(), 1);
  const auto questions = boxes.Questions();
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0].owner, nullptr);
  EXPECT_EQ(questions[0].caption, "An update for Zorva is available");
  EXPECT_EQ(questions[0].text, "Zorva 3.1 is out\n\nWould you like to download it now?");
  EXPECT_EQ(questions[0].type & MB_TYPEMASK, MB_YESNO);
  EXPECT_TRUE(started.empty());
  EXPECT_EQ(closes, 0);
  // The next offer comes the next day.
  EXPECT_EQ(Check(), 0);
  EXPECT_EQ(boxes.Questions().size(), 1u);
}

TEST_F(VersionCheckTest, YesOpensTheDownloadPageAndClosesTheProgram) {
  server.Answer(
      Xml(VersionFile("<number>2000</number><text>New</text>"
                      "<url>https://www.zorva.example/get?v=2000&amp;os=linux</url>")));
  boxes.QueueAnswer(IDYES);
  Check();
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0], (std::vector<std::string>{"xdg-open", "https://www.zorva.example/get?v=2000&os=linux"}));
  EXPECT_EQ(closes, 1);
}

TEST_F(VersionCheckTest, OnlyWebAddressesAreOpened) {
  for (const char* url :
       {"file:///etc/passwd", "/usr/bin/xterm", "javascript:alert(1)", "", "http://", "http://host/a b"}) {
    clock.Advance(24 * 3600 * 1000);
    server.Answer(Xml(VersionFile(std::string("<number>1</number><url>") + url + "</url>")));
    boxes.QueueAnswer(IDYES);
    EXPECT_EQ(Check(), 1) << url;
  }
  EXPECT_EQ(boxes.Questions().size(), 6u);
  EXPECT_TRUE(started.empty());
  EXPECT_EQ(closes, 0);
}

TEST_F(VersionCheckTest, NothingClosesWhenTheBrowserCannotStart) {
  browserStarts = false;
  server.Answer(Xml(VersionFile("<number>1</number><url>http://www.zorva.example/</url>")));
  boxes.QueueAnswer(IDYES);
  Check();
  EXPECT_EQ(started.size(), 1u);
  EXPECT_EQ(closes, 0);
}

TEST_F(VersionCheckTest, MissingTextLeavesTheMessageEmpty) {
  server.Answer(Xml(VersionFile("<number>1035</number>")));
  boxes.QueueAnswer(IDNO);
  Check();
  const auto questions = boxes.Questions();
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0].text, "");
}

}  // namespace

// The companion window on its page file (in-memory document), with the
// player stand-in on a manual clock and the loopback profile service.
#include "companion/VantrelDlg.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "companion/ProfileClient.h"
#include "core/VersionCheck.h"
#include "platform/html/MemoryHtmlDocument.h"
#include "platform/instance/SingleInstance.h"
#include "platform/shell/Shell.h"
#include "platform/window/MessageBox.h"
#include "tests/companion/CompanionTestSupport.h"
#include "tests/core/PlayerTestSupport.h"

namespace {

using namespace zorva_test;
namespace tray = platform::tray;

const std::string kAdded = " \nwas added to your Zorva Live profile";

class CVantrelDlgTest : public PlayerFixture, public CompanionFixture {
 protected:
  void SetUp() override {
    PlayerFixture::SetUp();
    CFramelessHtmlWindow::SetPageFolder(ZORVA_PAGE_DIR);
    previousStarter_ =
        platform::shell::SetStarter([this](const std::vector<std::string>& argv, const std::string& folder) {
          started_.push_back(argv);
          startedIn_.push_back(folder);
          return true;
        });
    WriteAccount("alice", "secret");
    tray::ClearBalloons();
    ASSERT_TRUE(dialog_.Create(CWnd::GetDesktopWindow()));
    Pump();
  }
  void TearDown() override {
    dialog_.DestroyWindow();
    CSystemTray::DestroyInvisibleWnd();
    platform::shell::SetStarter(previousStarter_);
    tray::SetMenuChooser(nullptr);
    PlayerFixture::TearDown();
  }

  // One track (id `id`, `seconds` long) playing, the window connected to the player.
  void PlayOneTrack(long seconds, long id = 1) {
    pp::LibraryData library;
    library.tracks.push_back(MakeTrackData(id, seconds));
    library.playlists.push_back(pp::PlaylistData{});
    library.playlists.back().playlistId = 1;
    library.playlists.back().name = "Library";
    library.playlists.back().trackIds = {id};
    StartModel(library);
    dialog_.ConnectPlayer();
    Model().UserPlay();
  }
  void AcceptEverything() {
    WebAnswer accept;
    accept.headers = {{"Content-Type", "text/xml"}};
    accept.body = Response("<status>0</status><submiturl>" + server.Url("/submit") + "</submiturl>");
    server.SetDefaultAnswer(accept);
  }
  std::vector<std::string> BalloonTexts() {
    std::vector<std::string> texts;
    for (const auto& balloon : tray::Balloons()) texts.push_back(balloon.text);
    return texts;
  }
  // The status view; the page writes "<br/>" as "<br>".
  std::string Status() {
    std::string html = dialog_.GetElementHtml("dbdetails");
    for (std::size_t at = html.find("<br>"); at != std::string::npos; at = html.find("<br>", at)) {
      html.replace(at, 4, "<br/>");
    }
    return html;
  }
  platform::MemoryHtmlDocument& Page() { return *dynamic_cast<platform::MemoryHtmlDocument*>(dialog_.GetDocument()); }
  bool Click(const platform::HtmlElementPtr& element) {
    return Page().FireEvent(platform::HtmlEvent{"click", element});
  }
  bool Click(const std::string& id) { return Click(dialog_.GetElement(id)); }
  std::vector<std::string> Links() {
    std::vector<std::string> links;
    for (const auto& argv : started_) {
      if (argv.size() == 2 && argv[0] == "xdg-open") links.push_back(argv[1]);
    }
    return links;
  }
  void Command(UINT id) {
    dialog_.PostMessage(WM_COMMAND, id, 0);
    Pump();
  }

  CVantrelDlg dialog_;
  platform::shell::Starter previousStarter_;
  std::vector<std::vector<std::string>> started_;
  std::vector<std::string> startedIn_;  // the working folder of each start
  platform::ScriptedMessageBoxPresenter boxes_;
  platform::ScopedMessageBoxPresenter scopedBoxes_{boxes_};
};

TEST_F(CVantrelDlgTest, StartsHiddenBehindItsIconAndFindsThePlayerOnlyWithItsThirtySecondTimer) {
  EXPECT_FALSE(dialog_.IsWindowVisible());
  const auto icon = tray::FindIcon(dialog_.GetSafeHwnd(), IDR_TRAY_MENU);
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->tip, "Zorva Vantrel");
  EXPECT_EQ(dialog_.GetElementText("vernum"),
            std::string(GetVersionString()) + " (Build " + std::to_string(GetBuildNumber()) + ")");
  EXPECT_EQ(dialog_.GetElement("user_login")->GetValue(), "alice");
  EXPECT_EQ(Status(),
            "Internet connection is available and connected<br/><br/>You are not logged in to Zorva Live. Check your "
            "username and password on the options page<br/><br/>The Vantrel is not connected to iTunes as iTunes is "
            "not running<br/><br/>");

  StartModel(MakeLibrary(2));
  Advance(29999);
  EXPECT_FALSE(dialog_.IsConnected());
  Click(dialog_.GetElement("tab_about")->GetChildren().front());  // a "#" link refreshes the status
  EXPECT_NE(Status().find("has detected that iTunes is running but can not connected to it"), std::string::npos);
  Advance(1);
  EXPECT_TRUE(dialog_.IsConnected());
  EXPECT_NE(Status().find("The Vantrel is connected to iTunes<br/><br/>"), std::string::npos);

  // The player quits: the window lets go of it and looks again.
  Model().Quit();
  Pump();
  EXPECT_FALSE(dialog_.IsConnected());
  ScopedEnv offline("ZORVA_INTERNET_CONNECTED", "0");
  dialog_.UpdateStatusText();
  EXPECT_EQ(Status().rfind("You are not connected to the internet<br/><br/>", 0), 0u);
}

TEST_F(CVantrelDlgTest, SubmitsATrackOnceWhenItHasPlayedLongEnough) {
  AcceptEverything();
  struct Case {
    long length;
    long position;
    bool submitted;
  };
  const Case cases[] = {{30, 14, false}, {30, 15, true},   {21, 9, false}, {21, 10, true},
                        {20, 20, false}, {200, 20, false}, {200, 21, true}};
  long id = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.length << " s track at " << c.position << " s");
    server.Clear();
    tray::ClearBalloons();
    PlayOneTrack(c.length, ++id);
    Model().Seek(c.position);
    dialog_.PollTrack();
    dialog_.PollTrack();  // the same track again: not again
    const auto submissions = RequestsTo("/submit");
    ASSERT_EQ(submissions.size(), c.submitted ? 1u : 0u);
    EXPECT_EQ(dialog_.GetCurrentTrack().uploaded, c.submitted);
    if (c.submitted) {
      EXPECT_EQ(submissions[0].body,
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + dialog_.GetCurrentTrack().GetXml(Mix()));
      const Track& track = dialog_.GetCurrentTrack();
      EXPECT_EQ(BalloonTexts(),
                (std::vector<std::string>{"\"" + track.name + "\" by \"" + track.artist + "\"" + kAdded}));
    }
  }
  EXPECT_NE(Status().find("You are logged in to Zorva Live<br/><br/>"), std::string::npos);
}

TEST_F(CVantrelDlgTest, TheOptionsStopSubmissionsAndBalloonsAndTheStartupShortcut) {
  AcceptEverything();
  Click("notifyonupdate");
  EXPECT_FALSE(theSettings.GetNotifyOnUpdate());
  EXPECT_FALSE(dialog_.GetElement("notifyonupdate")->GetChecked());
  Click("zorvaliveupdate");
  PlayOneTrack(100);
  Model().Seek(30);
  dialog_.PollTrack();
  EXPECT_TRUE(RequestsTo("/submit").empty());
  Click("zorvaliveupdate");  // on again: the playing track goes at the next poll
  dialog_.PollTrack();
  EXPECT_EQ(RequestsTo("/submit").size(), 1u);
  EXPECT_TRUE(BalloonTexts().empty());

  EXPECT_FALSE(dialog_.GetElement("startwhenwindowsstarts")->GetChecked());
  Click("startwhenwindowsstarts");
  EXPECT_TRUE(theSettings.HasStartupShortcut());
  EXPECT_TRUE(dialog_.GetElement("startwhenwindowsstarts")->GetChecked());
  Click("startwhenwindowsstarts");
  EXPECT_FALSE(theSettings.HasStartupShortcut());
}

TEST_F(CVantrelDlgTest, TheTwitterHotKeyTellsWhatHappenedInABalloon) {
  platform::PressHotKey(MOD_ALT | MOD_CONTROL, 'T');
  Pump();
  PlayOneTrack(100);
  dialog_.PollTrack();
  platform::PressHotKey(MOD_ALT | MOD_CONTROL, 'T');
  Pump();
  WriteProfileString("upload", "TwitterName", "tweeter");
  WriteProfileString("upload", "TwitterPassword", "pw");
  theSettings.Load();
  Reply("<status/>");
  platform::PressHotKey(MOD_ALT | MOD_CONTROL, 'T');
  Pump();
  EXPECT_EQ(BalloonTexts(), (std::vector<std::string>{
                                "Could not Twitter track as we are not connected to iTunes",
                                "Could not Twitter track\n Check Twitter username and password in Options",
                                "Twittered:\n Listening to \"Track 1\" by \"Artist 1\"",
                            }));
  EXPECT_EQ(RequestsTo("/statuses/update.xml").size(), 1u);
  EXPECT_EQ(tray::Balloons().back().infoFlags, 0x1Fu);

  // Any balloon clicked opens the track's page, its names encoded.
  tray::SendIconEvent(dialog_.GetSafeHwnd(), IDR_TRAY_MENU, NIN_BALLOONUSERCLICK);
  Pump();
  EXPECT_EQ(Links(), (std::vector<std::string>{server.Url("/track/Artist%201/+/Track%201")}));
}

TEST_F(CVantrelDlgTest, TheTwitterHotKeyWithNothingPlayedPostsNothing) {
  WriteProfileString("upload", "TwitterName", "tweeter");
  WriteProfileString("upload", "TwitterPassword", "pw");
  theSettings.Load();
  Reply("<status/>");
  pp::LibraryData library;
  library.tracks.push_back(MakeTrackData(1, 100));
  library.playlists.push_back(pp::PlaylistData{});
  library.playlists.back().playlistId = 1;
  library.playlists.back().name = "Library";
  library.playlists.back().trackIds = {1};
  StartModel(library);
  dialog_.ConnectPlayer();
  dialog_.PollTrack();
  platform::PressHotKey(MOD_ALT | MOD_CONTROL, 'T');
  Pump();
  EXPECT_TRUE(RequestsTo("/statuses/update.xml").empty());
  EXPECT_TRUE(BalloonTexts().empty());
}

TEST_F(CVantrelDlgTest, LoginStoresTheAccountOrSaysWhyNotAndKeepsTheFile) {
  const std::string before = ReadAccountBytes();
  dialog_.GetElement("user_login")->SetValue("bob <b>");
  dialog_.GetElement("user_password")->SetValue("wrong");
  Reply(Response("<status>1</status><description>No such user</description>"));
  Click("login");
  ASSERT_EQ(boxes_.Questions().size(), 1u);
  EXPECT_EQ(boxes_.Questions()[0].text, "No such user");
  EXPECT_EQ(boxes_.Questions()[0].caption, "Login incorrect");
  EXPECT_EQ(boxes_.Questions()[0].type, MB_ICONERROR | MB_OK);
  EXPECT_EQ(ReadAccountBytes(), before);
  EXPECT_EQ(dialog_.GetElementHtml("loginmessage"), "");

  Reply(Response("<status>0</status><username>bob &lt;b&gt;</username><password>x</password>"));
  Click("login");
  EXPECT_EQ(dialog_.GetElementText("loginmessage"), "You are now logged in as bob <b>");
  EXPECT_EQ(theProfileClient.GetUserName(), "bob <b>");
  EXPECT_NE(ReadAccountBytes(), before);
}

TEST_F(CVantrelDlgTest, TheTrayMenuAndTheButtons) {
  Command(ID_TRAY_OPTIONS);
  EXPECT_TRUE(dialog_.IsWindowVisible());
  auto closers = Page().GetBody();  // both "ButtonOK" elements hide the window
  for (const char* which : {"X", "Close Window"}) {
    Command(ID_TRAY_OPTIONS);
    platform::HtmlElementPtr button;
    std::vector<platform::HtmlElementPtr> pending{Page().GetBody()};
    while (!pending.empty() && !button) {
      auto element = pending.back();
      pending.pop_back();
      if (element->GetAttribute("id") == "ButtonOK" && element->GetInnerText() == which) button = element;
      for (auto& child : element->GetChildren()) pending.push_back(child);
    }
    ASSERT_TRUE(button) << which;
    Click(button);
    EXPECT_FALSE(dialog_.IsWindowVisible()) << which;
  }

  Command(ID_TRAY_START_ZORVA);
  Command(ID_TRAY_OPEN_LAB);
  const std::string zorva =
      platform::shell::ModuleFileName().substr(0, platform::shell::ModuleFileName().rfind('/') + 1) + "Zorva";
  ASSERT_EQ(started_.size(), 2u);
  EXPECT_EQ(started_[0], (std::vector<std::string>{zorva}));
  EXPECT_EQ(started_[1], (std::vector<std::string>{zorva, "/lab"}));
  // In the program's folder, whatever the companion's working folder is.
  const std::string folder = zorva.substr(0, zorva.size() - 5);
  EXPECT_EQ(startedIn_, (std::vector<std::string>{folder, folder}));
  Command(ID_TRAY_PROFILE);
  Click("register");
  EXPECT_EQ(Links(), (std::vector<std::string>{server.Url("/user/alice"), server.Url("/user/register")}));

  // Quitting is asked; "No" hides the window, "Yes" ends it.
  Command(ID_TRAY_OPTIONS);
  boxes_.QueueAnswer(IDNO);
  Command(ID_TRAY_EXIT);
  EXPECT_FALSE(dialog_.IsWindowVisible());
  ASSERT_EQ(boxes_.Questions().size(), 1u);
  EXPECT_EQ(boxes_.Questions()[0].caption, "Are you sure you want to quit the Zorva Vantrel?");
  EXPECT_EQ(boxes_.Questions()[0].type, static_cast<UINT>(0x24));
  EXPECT_EQ(boxes_.Questions()[0].text.rfind("The Zorva Vantrel is designed to run in the background.\nIt uses", 0),
            0u);
  boxes_.QueueAnswer(IDYES);
  Click("ButtonCancel");
  EXPECT_EQ(boxes_.Questions().size(), 2u);
}

// A web request holds the window up while it runs (its time-outs are kept);
// the tray menu and the quit asked for meanwhile are answered once it ends.
TEST_F(CVantrelDlgTest, TheTrayMenuAndTheQuitAnswerOnceAWebRequestEnds) {
  PlayOneTrack(100);
  Model().Seek(60);
  WebAnswer slow;
  slow.headers = {{"Content-Type", "text/xml"}};
  slow.body = Response("<status>0</status><submiturl>" + server.Url("/submit") + "</submiturl>");
  slow.delayMs = 500;
  server.Answer(slow);
  Reply(Response("<status>0</status>"));
  tray::SetMenuChooser([](const tray::ShownMenu&) { return UINT{ID_TRAY_EXIT}; });
  boxes_.QueueAnswer(IDYES);
  // The user right-clicks the icon while the handshake waits for its answer.
  std::thread user([this] {
    while (RequestsTo("/user/hs").empty()) std::this_thread::yield();
    dialog_.PostMessage(WM_APP_TRAY_NOTIFY, IDR_TRAY_MENU, WM_RBUTTONUP);
  });
  dialog_.PollTrack();
  user.join();
  EXPECT_EQ(RequestsTo("/submit").size(), 1u);
  EXPECT_TRUE(boxes_.Questions().empty());
  Pump();
  ASSERT_EQ(tray::ShownMenus().size(), 1u);
  ASSERT_EQ(boxes_.Questions().size(), 1u);
  EXPECT_EQ(boxes_.Questions()[0].caption, "Are you sure you want to quit the Zorva Vantrel?");
  EXPECT_FALSE(dialog_.IsWindowVisible());
}

TEST_F(CVantrelDlgTest, ALaterCopyBringsTheWindowUp) {
  platform::SingleInstance running("vantrel-test");
  ASSERT_TRUE(running.TryLock());
  CVantrelDlg second;
  second.SetSingleInstance(&running);
  ASSERT_TRUE(second.Create(CWnd::GetDesktopWindow()));
  Pump();
  EXPECT_FALSE(second.IsWindowVisible());
  platform::SingleInstance later("vantrel-test");
  EXPECT_FALSE(later.TryLock());
  ASSERT_TRUE(later.SendToRunning("show", 1, 0));
  for (int i = 0; i < 100 && !second.IsWindowVisible(); ++i) Pump();
  EXPECT_TRUE(second.IsWindowVisible());
  EXPECT_FALSE(second.IsIconic());
}

}  // namespace

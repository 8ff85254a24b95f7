#include "platform/window/Dialog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/kernel/Clock.h"
#include "platform/kernel/Messages.h"

namespace {

constexpr UINT WM_APP_FINISH = WM_APP + 1;
constexpr UINT WM_APP_BASE = WM_APP + 6;
constexpr UINT WM_APP_DERIVED = WM_APP + 5;
constexpr UINT WM_APP_SWALLOWED = WM_APP + 7;

UINT theRegisteredMessage = 0;

const DialogTemplate kTemplate{200, 0, 0, 100, 80, WS_POPUP, 0};

// Ends itself from a timer, by way of a posted message.
class TimedDialog : public CDialog {
 public:
  explicit TimedDialog(CWnd* parent = nullptr, DialogTemplate dialog = kTemplate) : CDialog(dialog, parent) {}

  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    SetTimer(1, 500);
    if (quitAtStart) PostQuitMessage(3);
    return TRUE;
  }

  bool quitAtStart = false;
  bool visibleWhenTimerFired = false;
  bool ownerEnabledMeanwhile = true;
  bool destroyed = false;
  platform::Millis firedAt = 0;

  const MessageMap& GetMessageMap() const override { return ThisMessageMap(); }
  static const MessageMap& ThisMessageMap() {
    static const MessageMap map(&CDialog::ThisMessageMap(), {
                                                                OnWmTimer(&TimedDialog::OnTimer),
                                                                OnWmDestroy(&TimedDialog::OnDestroy),
                                                                OnMessage(WM_APP_FINISH, &TimedDialog::OnFinish),
                                                            });
    return map;
  }

 protected:
  void OnTimer(UINT_PTR id) {
    KillTimer(id);
    firedAt = platform::TheClock().Now();
    visibleWhenTimerFired = IsWindowVisible();
    if (m_pParentWnd) ownerEnabledMeanwhile = m_pParentWnd->IsWindowEnabled();
    PostMessage(WM_APP_FINISH, 42);
  }
  LRESULT OnFinish(WPARAM code, LPARAM) {
    EndDialog(static_cast<int>(code));
    return 0;
  }
  void OnDestroy() {
    destroyed = true;
    CDialog::OnDestroy();
  }
};

// Ended by a call its timer posts, which then runs a loop of its own (as a
// question does) that takes every message queued, the loop's wake-up too.
class CallEndedDialog : public CDialog {
 public:
  CallEndedDialog() : CDialog(kTemplate) {}

  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    SetTimer(1, 500);
    SetTimer(2, 10000);  // a later end, for a loop that missed the first
    return TRUE;
  }
  const MessageMap& GetMessageMap() const override { return ThisMessageMap(); }
  static const MessageMap& ThisMessageMap() {
    static const MessageMap map(&CDialog::ThisMessageMap(), {OnWmTimer(&CallEndedDialog::OnTimer)});
    return map;
  }

 private:
  void OnTimer(UINT_PTR id) {
    KillTimer(id);
    if (id == 2) {
      EndDialog(99);
      return;
    }
    platform::PostThreadCall(GetCurrentThreadId(), [this] {
      EndDialog(7);
      platform::PumpMessages();
    });
  }
};

class DialogTest : public ::testing::Test {
 protected:
  platform::ManualClock clock_;
  platform::ScopedClock installed_{clock_};
};

TEST_F(DialogTest, DoModalReturnsTheEndDialogCodeOfAPostedMessage) {
  clock_.SetAutoAdvance(true);
  const platform::Millis start = clock_.Now();
  TimedDialog dialog;
  EXPECT_EQ(dialog.DoModal(), 42);
  EXPECT_EQ(dialog.firedAt - start, 500);
  EXPECT_TRUE(dialog.destroyed);
  EXPECT_EQ(dialog.m_hWnd, nullptr);
}

TEST_F(DialogTest, AnEndFromAPostedCallEndsTheModalLoopAtOnce) {
  clock_.SetAutoAdvance(true);
  const platform::Millis start = clock_.Now();
  CallEndedDialog dialog;
  EXPECT_EQ(dialog.DoModal(), 7);
  EXPECT_EQ(clock_.Now() - start, 500);
}

TEST_F(DialogTest, ModalDialogIsShownOnceIdleAndItsOwnerDisabledMeanwhile) {
  clock_.SetAutoAdvance(true);
  CDialog owner(kTemplate);
  ASSERT_TRUE(owner.Create());
  TimedDialog dialog(&owner);
  EXPECT_EQ(dialog.DoModal(), 42);
  EXPECT_TRUE(dialog.visibleWhenTimerFired);
  EXPECT_FALSE(dialog.ownerEnabledMeanwhile);
  EXPECT_TRUE(owner.IsWindowEnabled());
}

TEST_F(DialogTest, QuitEndsTheModalLoopAndStaysQueued) {
  clock_.SetAutoAdvance(true);
  TimedDialog dialog;
  dialog.quitAtStart = true;
  EXPECT_EQ(dialog.DoModal(), -1);
  EXPECT_TRUE(dialog.destroyed);
  MSG msg{};
  ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(msg.wParam, 3u);
}

TEST_F(DialogTest, DialogPlacedFromItsOwnerInDialogUnits) {
  CDialog owner(kTemplate);
  ASSERT_TRUE(owner.Create());
  owner.MoveWindow(100, 50, 150, 130);
  CDialog dialog(DialogTemplate{1, 8, 16, 40, 24, WS_POPUP, 0});
  ASSERT_TRUE(dialog.Create(&owner));
  RECT rect{};
  dialog.GetWindowRect(&rect);
  EXPECT_EQ(rect.left, 100 + 12);
  EXPECT_EQ(rect.top, 50 + 26);
  EXPECT_EQ(rect.right - rect.left, 60);
  EXPECT_EQ(rect.bottom - rect.top, 39);
}

TEST_F(DialogTest, ModelessDialogIsShownOnlyWithAVisibleTemplateAndHiddenByEndDialog) {
  CDialog hidden(kTemplate);
  ASSERT_TRUE(hidden.Create());
  EXPECT_FALSE(hidden.IsWindowVisible());

  CDialog shown(DialogTemplate{2, 0, 0, 50, 50, WS_POPUP | WS_VISIBLE, 0});
  ASSERT_TRUE(shown.Create());
  EXPECT_TRUE(shown.IsWindowVisible());
  shown.EndDialog(IDOK);
  EXPECT_FALSE(shown.IsWindowVisible());
  EXPECT_TRUE(IsWindow(shown.m_hWnd));  // a modeless dialog stays
}

TEST_F(DialogTest, OwnedDialogsGoWithTheirOwner) {
  TimedDialog owner;
  ASSERT_TRUE(owner.Create());
  TimedDialog owned;
  ASSERT_TRUE(owned.Create(&owner));
  EXPECT_EQ(owned.GetParent(), &owner);

  owner.DestroyWindow();
  EXPECT_TRUE(owned.destroyed);
  EXPECT_EQ(owned.m_hWnd, nullptr);
  EXPECT_TRUE(owner.destroyed);
}

TEST_F(DialogTest, CloseIsCancel) {
  CDialog dialog(DialogTemplate{2, 0, 0, 50, 50, WS_POPUP | WS_VISIBLE, 0});
  ASSERT_TRUE(dialog.Create());
  dialog.SendMessage(WM_CLOSE);
  EXPECT_FALSE(dialog.IsWindowVisible());
  EXPECT_TRUE(IsWindow(dialog.m_hWnd));
}

// Message maps: a derived class's entries first, then its base's, then the
// default handling.
class BaseWindow : public CDialog {
 public:
  BaseWindow() : CDialog(kTemplate) {}
  std::vector<std::string> log;

  const MessageMap& GetMessageMap() const override { return ThisMessageMap(); }
  static const MessageMap& ThisMessageMap() {
    static const MessageMap map(&CDialog::ThisMessageMap(), {
                                                                OnMessage(WM_APP_BASE, &BaseWindow::OnBase),
                                                                OnMessage(WM_APP_DERIVED, &BaseWindow::OnBase),
                                                            });
    return map;
  }

 protected:
  LRESULT OnBase(WPARAM, LPARAM) {
    log.push_back("base");
    return 6;
  }
};

class DerivedWindow : public BaseWindow {
 public:
  const MessageMap& GetMessageMap() const override { return ThisMessageMap(); }
  static const MessageMap& ThisMessageMap() {
    static const MessageMap map(&BaseWindow::ThisMessageMap(),
                                {
                                    OnMessage(WM_APP_DERIVED, &DerivedWindow::OnDerived),
                                    OnRegisteredMessage(theRegisteredMessage, &DerivedWindow::OnRegistered),
                                    OnWmWindowPosChanged(&DerivedWindow::OnWindowPosChanged),
                                    OnWmMove(&DerivedWindow::OnMove),
                                });
    return map;
  }
  bool passPositionOn = false;

  BOOL PreTranslateMessage(MSG* msg) override { return msg->message == WM_APP_SWALLOWED; }

 protected:
  LRESULT OnDerived(WPARAM, LPARAM) {
    log.push_back("derived");
    return 5;
  }
  LRESULT OnRegistered(WPARAM wParam, LPARAM) {
    log.push_back("registered " + std::to_string(wParam));
    return 0;
  }
  void OnWindowPosChanged(WINDOWPOS* pos) {
    log.push_back("poschanged");
    if (passPositionOn) CWnd::OnWindowPosChanged(pos);
  }
  void OnMove(int x, int y) { log.push_back("move " + std::to_string(x) + "," + std::to_string(y)); }
};

TEST_F(DialogTest, MessageMapsChainToTheBaseAndToTheDefault) {
  theRegisteredMessage = RegisterWindowMessage("DialogTest_Message");
  DerivedWindow window;
  ASSERT_TRUE(window.Create());
  window.log.clear();
  EXPECT_EQ(window.SendMessage(WM_APP_DERIVED), 5);
  EXPECT_EQ(window.SendMessage(WM_APP_BASE), 6);
  window.SendMessage(theRegisteredMessage, 9);
  EXPECT_EQ(window.log, (std::vector<std::string>{"derived", "base", "registered 9"}));

  // Without the default handling of WM_WINDOWPOSCHANGED no WM_MOVE follows.
  window.log.clear();
  window.MoveWindow(10, 20, 100, 80);
  EXPECT_EQ(window.log, std::vector<std::string>{"poschanged"});
  window.passPositionOn = true;
  window.log.clear();
  window.MoveWindow(30, 40, 100, 80);
  EXPECT_EQ(window.log, (std::vector<std::string>{"poschanged", "move 30,40"}));
}

TEST_F(DialogTest, PumpLetsPreTranslateMessageTakeMessages) {
  DerivedWindow window;
  ASSERT_TRUE(window.Create());
  platform::PumpWindowMessages();
  window.log.clear();
  window.PostMessage(WM_APP_SWALLOWED);
  window.PostMessage(WM_APP_BASE);
  EXPECT_EQ(platform::PumpWindowMessages(), 2);
  EXPECT_EQ(window.log, std::vector<std::string>{"base"});
}

TEST_F(DialogTest, PumpFiresEachDueTimerOnce) {
  int ticks = 0;
  struct Ticker : CDialog {
    explicit Ticker(int& count) : CDialog(kTemplate), ticks(count) {}
    int& ticks;
    const MessageMap& GetMessageMap() const override { return Map(); }
    static const MessageMap& Map() {
      static const MessageMap map(&CDialog::ThisMessageMap(), {OnWmTimer(&Ticker::Tick)});
      return map;
    }
    void Tick(UINT_PTR) { ++ticks; }
  } ticker(ticks);
  ASSERT_TRUE(ticker.Create());
  ticker.SetTimer(7, 10);
  clock_.Advance(1000);
  platform::PumpWindowMessages();
  EXPECT_EQ(ticks, 1);
}

}  // namespace

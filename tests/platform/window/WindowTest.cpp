#include "platform/window/Window.h"

#include "platform/kernel/LastError.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

struct Logged {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

std::vector<Logged> theLog;

LRESULT LoggingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  theLog.push_back(Logged{hwnd, message, wParam, lParam});
  return DefWindowProc(hwnd, message, wParam, lParam);
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    theLog.clear();
    platform::SetDesktopSize(1920, 1080);
    WNDCLASS windowClass{};
    windowClass.lpfnWndProc = &LoggingProc;
    windowClass.lpszClassName = "WindowTestClass";
    RegisterClass(&windowClass);
  }
  void TearDown() override {
    for (HWND hwnd : made_) {
      if (IsWindow(hwnd)) DestroyWindow(hwnd);
    }
    UnregisterClass("WindowTestClass", nullptr);
    platform::PumpMessages();
  }

  HWND Make(DWORD style, int x, int y, int width, int height, HWND parent = nullptr) {
    HWND hwnd = CreateWindowEx(0, "WindowTestClass", "", style, x, y, width, height, parent, nullptr, nullptr, nullptr);
    made_.push_back(hwnd);
    return hwnd;
  }

  std::vector<UINT> MessagesOf(HWND hwnd) const {
    std::vector<UINT> messages;
    for (const Logged& entry : theLog) {
      if (entry.hwnd == hwnd) messages.push_back(entry.message);
    }
    return messages;
  }

  static RECT Rect(HWND hwnd) {
    RECT rect{};
    GetWindowRect(hwnd, &rect);
    return rect;
  }

  std::vector<HWND> made_;
};

bool SameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST_F(WindowTest, CreateSendsCreateSizeAndMoveThenShowsAVisibleWindow) {
  HWND hwnd = Make(WS_POPUP | WS_VISIBLE, 10, 20, 300, 200);
  ASSERT_NE(hwnd, nullptr);
  const std::vector<UINT> messages = MessagesOf(hwnd);
  ASSERT_GE(messages.size(), 5u);
  EXPECT_EQ(messages[0], WM_CREATE);
  EXPECT_EQ(messages[1], WM_SIZE);
  EXPECT_EQ(messages[2], WM_MOVE);
  EXPECT_EQ(messages[3], WM_SHOWWINDOW);
  EXPECT_TRUE(IsWindowVisible(hwnd));
  EXPECT_TRUE(SameRect(Rect(hwnd), RECT{10, 20, 310, 220}));
  EXPECT_EQ(GetForegroundWindow(), hwnd);
}

TEST_F(WindowTest, UnknownClassGivesNoWindow) {
  EXPECT_EQ(CreateWindowEx(0, "NoSuchClass", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);
}

TEST_F(WindowTest, OwnedWindowsGoBeforeTheirOwnerAndChildrenAfter) {
  HWND owner = Make(WS_POPUP, 0, 0, 100, 100);
  HWND owned = Make(WS_POPUP, 0, 0, 50, 50, owner);
  HWND child = Make(WS_CHILD, 0, 0, 10, 10, owner);
  EXPECT_EQ(GetWindow(owned, GW_OWNER), owner);
  EXPECT_EQ(GetParent(child), owner);
  theLog.clear();

  ASSERT_TRUE(DestroyWindow(owner));
  std::vector<std::pair<HWND, UINT>> order;
  for (const Logged& entry : theLog) {
    if (entry.message == WM_DESTROY || entry.message == WM_NCDESTROY) order.emplace_back(entry.hwnd, entry.message);
  }
  const std::vector<std::pair<HWND, UINT>> expected = {{owned, WM_DESTROY},   {owned, WM_NCDESTROY},
                                                       {owner, WM_DESTROY},   {child, WM_DESTROY},
                                                       {child, WM_NCDESTROY}, {owner, WM_NCDESTROY}};
  EXPECT_EQ(order, expected);
  EXPECT_FALSE(IsWindow(owner));
  EXPECT_FALSE(IsWindow(owned));
  EXPECT_FALSE(IsWindow(child));
}

TEST_F(WindowTest, MoveAndSizeReachTheWindowAsMoveAndSizeMessages) {
  HWND hwnd = Make(WS_POPUP | WS_VISIBLE, 0, 0, 100, 80);
  theLog.clear();
  MoveWindow(hwnd, -40, 30, 100, 80, TRUE);
  std::vector<UINT> messages = MessagesOf(hwnd);
  EXPECT_EQ(messages, (std::vector<UINT>{WM_WINDOWPOSCHANGED, WM_MOVE}));
  EXPECT_EQ(GET_X_LPARAM(theLog.back().lParam), -40);
  EXPECT_EQ(GET_Y_LPARAM(theLog.back().lParam), 30);

  theLog.clear();
  SetWindowPos(hwnd, nullptr, 0, 0, 120, 90, SWP_NOMOVE | SWP_NOZORDER);
  messages = MessagesOf(hwnd);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1], WM_SIZE);
  EXPECT_EQ(theLog.back().wParam, SIZE_RESTORED);
  EXPECT_EQ(theLog.back().lParam, MAKELPARAM(120, 90));
  RECT client{};
  GetClientRect(hwnd, &client);
  EXPECT_TRUE(SameRect(client, RECT{0, 0, 120, 90}));
}

TEST_F(WindowTest, HideAndShowSendShowWindowOnlyWhenVisibilityChanges) {
  HWND hwnd = Make(WS_POPUP, 0, 0, 100, 80);
  theLog.clear();
  EXPECT_FALSE(ShowWindow(hwnd, SW_HIDE));
  EXPECT_TRUE(MessagesOf(hwnd).empty());

  EXPECT_FALSE(ShowWindow(hwnd, SW_SHOWNA));
  EXPECT_TRUE(IsWindowVisible(hwnd));
  EXPECT_EQ(GetForegroundWindow(), nullptr);  // shown without activation
  ASSERT_FALSE(theLog.empty());
  EXPECT_EQ(theLog.front().message, WM_SHOWWINDOW);
  EXPECT_EQ(theLog.front().wParam, static_cast<WPARAM>(TRUE));

  theLog.clear();
  EXPECT_TRUE(ShowWindow(hwnd, SW_HIDE));
  ASSERT_FALSE(theLog.empty());
  EXPECT_EQ(theLog.front().message, WM_SHOWWINDOW);
  EXPECT_EQ(theLog.front().wParam, static_cast<WPARAM>(FALSE));
  EXPECT_FALSE(IsWindowVisible(hwnd));
}

TEST_F(WindowTest, MaximiseFillsTheDesktopAndRestoreComesBack) {
  platform::SetDesktopSize(1280, 800);
  HWND hwnd = Make(WS_POPUP | WS_VISIBLE, 50, 60, 300, 200);
  theLog.clear();

  ShowWindow(hwnd, SW_SHOWMAXIMIZED);
  EXPECT_TRUE(IsZoomed(hwnd));
  EXPECT_TRUE(SameRect(Rect(hwnd), RECT{0, 0, 1280, 800}));
  ASSERT_FALSE(theLog.empty());
  EXPECT_EQ(theLog.back().message, WM_SIZE);
  EXPECT_EQ(theLog.back().wParam, SIZE_MAXIMIZED);
  WINDOWPLACEMENT placement{};
  ASSERT_TRUE(GetWindowPlacement(hwnd, &placement));
  EXPECT_EQ(placement.showCmd, static_cast<UINT>(SW_SHOWMAXIMIZED));
  EXPECT_TRUE(SameRect(placement.rcNormalPosition, RECT{50, 60, 350, 260}));

  // Minimised from maximised, a restore maximises again; the next restores.
  ShowWindow(hwnd, SW_MINIMIZE);
  EXPECT_TRUE(IsIconic(hwnd));
  EXPECT_EQ(theLog.back().wParam, SIZE_MINIMIZED);
  ShowWindow(hwnd, SW_RESTORE);
  EXPECT_TRUE(IsZoomed(hwnd));
  ShowWindow(hwnd, SW_RESTORE);
  EXPECT_FALSE(IsZoomed(hwnd));
  EXPECT_TRUE(SameRect(Rect(hwnd), RECT{50, 60, 350, 260}));
  EXPECT_EQ(theLog.back().wParam, SIZE_RESTORED);
}

TEST_F(WindowTest, PlacementOfAHiddenWindowMovesItAndKeepsItHidden) {
  HWND hwnd = Make(WS_POPUP, 0, 0, 300, 200);
  WINDOWPLACEMENT placement{};
  ASSERT_TRUE(GetWindowPlacement(hwnd, &placement));
  EXPECT_EQ(placement.length, 44u);
  EXPECT_EQ(placement.showCmd, static_cast<UINT>(SW_SHOWNORMAL));  // never SW_HIDE

  placement.showCmd = SW_HIDE;
  placement.rcNormalPosition = RECT{400, 300, 640, 500};
  ASSERT_TRUE(SetWindowPlacement(hwnd, &placement));
  EXPECT_FALSE(IsWindowVisible(hwnd));
  EXPECT_TRUE(SameRect(Rect(hwnd), RECT{400, 300, 640, 500}));

  placement.length = 43;
  placement.rcNormalPosition = RECT{0, 0, 10, 10};
  EXPECT_FALSE(SetWindowPlacement(hwnd, &placement));
  EXPECT_TRUE(SameRect(Rect(hwnd), RECT{400, 300, 640, 500}));

  placement.length = 44;
  placement.showCmd = SW_SHOWMAXIMIZED;
  placement.rcNormalPosition = RECT{10, 20, 110, 120};
  ASSERT_TRUE(SetWindowPlacement(hwnd, &placement));
  EXPECT_TRUE(IsWindowVisible(hwnd));
  EXPECT_TRUE(IsZoomed(hwnd));
  ShowWindow(hwnd, SW_SHOWNORMAL);
  EXPECT_TRUE(SameRect(Rect(hwnd), RECT{10, 20, 110, 120}));
}

TEST_F(WindowTest, ZOrderFollowsSetWindowPosAndBringWindowToTop) {
  HWND a = Make(WS_POPUP, 0, 0, 10, 10);
  HWND b = Make(WS_POPUP, 0, 0, 10, 10);
  HWND c = Make(WS_POPUP, 0, 0, 10, 10);
  EXPECT_EQ(GetTopWindow(nullptr), c);  // new windows come in front

  SetWindowPos(a, c, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  EXPECT_EQ(GetWindow(c, GW_HWNDNEXT), a);
  EXPECT_EQ(GetWindow(a, GW_HWNDNEXT), b);
  EXPECT_EQ(GetWindow(a, GW_HWNDPREV), c);

  BringWindowToTop(b);
  EXPECT_EQ(GetTopWindow(nullptr), b);
  SetWindowPos(b, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  EXPECT_EQ(GetWindow(c, GW_HWNDLAST), b);
}

TEST_F(WindowTest, ForegroundChangeTellsBothWindows) {
  HWND a = Make(WS_POPUP | WS_VISIBLE, 0, 0, 10, 10);
  HWND b = Make(WS_POPUP | WS_VISIBLE, 0, 0, 10, 10);
  SetForegroundWindow(a);
  theLog.clear();

  ASSERT_TRUE(SetForegroundWindow(b));
  EXPECT_EQ(GetForegroundWindow(), b);
  EXPECT_EQ(GetTopWindow(nullptr), b);
  ASSERT_EQ(theLog.size(), 2u);
  EXPECT_EQ(theLog[0].hwnd, a);
  EXPECT_EQ(theLog[0].message, WM_ACTIVATE);
  EXPECT_EQ(theLog[0].wParam, WA_INACTIVE);
  EXPECT_EQ(theLog[0].lParam, reinterpret_cast<LPARAM>(b));
  EXPECT_EQ(theLog[1].hwnd, b);
  EXPECT_EQ(theLog[1].wParam, WA_ACTIVE);
  EXPECT_EQ(theLog[1].lParam, reinterpret_cast<LPARAM>(a));

  DestroyWindow(b);
  EXPECT_EQ(GetForegroundWindow(), nullptr);
}

TEST_F(WindowTest, SubclassSeesMessagesFirstAndPassesThemOn) {
  HWND hwnd = Make(WS_POPUP, 0, 0, 10, 10);
  std::vector<UINT> seen;
  WNDPROC original;
  original = platform::SubclassWindow(hwnd, [&seen, &original](HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    seen.push_back(message);
    return CallWindowProc(original, h, message, wParam, lParam);
  });
  ASSERT_TRUE(static_cast<bool>(original));
  theLog.clear();
  SendMessage(hwnd, WM_APP + 3, 0, 0);
  EXPECT_EQ(seen, std::vector<UINT>{WM_APP + 3});
  EXPECT_EQ(MessagesOf(hwnd), std::vector<UINT>{WM_APP + 3});
  platform::SubclassWindow(hwnd, original);
}

TEST_F(WindowTest, StyleChangesAreReported) {
  HWND hwnd = Make(WS_POPUP | WS_CAPTION | WS_THICKFRAME, 0, 0, 10, 10);
  theLog.clear();
  const LONG old = SetWindowLong(hwnd, GWL_STYLE, static_cast<LONG>(WS_POPUP));
  EXPECT_EQ(static_cast<DWORD>(old), WS_POPUP | WS_CAPTION | WS_THICKFRAME);
  ASSERT_EQ(theLog.size(), 1u);
  EXPECT_EQ(theLog[0].message, WM_STYLECHANGED);
  EXPECT_EQ(static_cast<int>(static_cast<LPARAM>(theLog[0].wParam)), GWL_STYLE);
  EXPECT_EQ(static_cast<DWORD>(GetWindowLong(hwnd, GWL_STYLE)), WS_POPUP);
}

TEST_F(WindowTest, HotKeysAreHeldByOneWindowAndPosted) {
  HWND a = Make(WS_POPUP, 0, 0, 10, 10);
  HWND b = Make(WS_POPUP, 0, 0, 10, 10);
  ASSERT_TRUE(RegisterHotKey(a, 127, MOD_ALT | MOD_CONTROL, 'L'));
  EXPECT_FALSE(RegisterHotKey(b, 1, MOD_ALT | MOD_CONTROL, 'L'));
  EXPECT_EQ(GetLastError(), ERROR_HOTKEY_ALREADY_REGISTERED);

  theLog.clear();
  ASSERT_TRUE(platform::PressHotKey(MOD_ALT | MOD_CONTROL, 'L'));
  platform::PumpMessages();
  ASSERT_EQ(MessagesOf(a), std::vector<UINT>{WM_HOTKEY});
  EXPECT_EQ(theLog[0].wParam, 127u);
  EXPECT_EQ(HIWORD(static_cast<std::uintptr_t>(theLog[0].lParam)), 'L');

  EXPECT_TRUE(UnregisterHotKey(a, 127));
  EXPECT_FALSE(platform::PressHotKey(MOD_ALT | MOD_CONTROL, 'L'));
  EXPECT_TRUE(RegisterHotKey(b, 1, MOD_ALT | MOD_CONTROL, 'L'));
}

TEST_F(WindowTest, CaptionPressesAreWindowMoveRequests) {
  HWND hwnd = Make(WS_POPUP, 0, 0, 10, 10);
  std::vector<HWND> moved;
  platform::SetWindowMoveHandler([&moved](HWND h) { moved.push_back(h); });
  SendMessage(hwnd, WM_NCLBUTTONDOWN, HTCAPTION, 0);
  SendMessage(hwnd, WM_NCLBUTTONDOWN, 1, 0);  // the client area: no move
  SendMessage(hwnd, WM_SYSCOMMAND, SC_MOVE, 0);
  platform::SetWindowMoveHandler(nullptr);
  EXPECT_EQ(platform::WindowMoveRequests(hwnd), 2);
  EXPECT_EQ(moved, (std::vector<HWND>{hwnd, hwnd}));
}

TEST_F(WindowTest, LayeredWindowKeepsItsImageAndTakesItsPlace) {
  HWND plain = Make(WS_POPUP, 0, 0, 10, 10);
  HWND layered =
      CreateWindowEx(WS_EX_LAYERED, "WindowTestClass", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  made_.push_back(layered);
  // Two rows, bottom-up: memory row 0 is the bottom row.
  const std::uint32_t bits[] = {0x01000001, 0x02000002, 0x03000003, 0x04000004};
  const LayeredBitmap bitmap{2, 2, bits};
  POINT position{30, 40};
  SIZE size{2, 2};
  EXPECT_FALSE(UpdateLayeredWindow(plain, &position, &size, &bitmap, nullptr, 0, nullptr, ULW_ALPHA));
  SIZE tooLarge{3, 2};
  EXPECT_FALSE(UpdateLayeredWindow(layered, &position, &tooLarge, &bitmap, nullptr, 0, nullptr, ULW_ALPHA));

  ASSERT_TRUE(UpdateLayeredWindow(layered, &position, &size, &bitmap, nullptr, 0, nullptr, ULW_ALPHA));
  auto surface = platform::GetLayeredSurface(layered);
  ASSERT_TRUE(surface.has_value());
  EXPECT_EQ(surface->Pixel(0, 0), 0x03000003u);  // top row
  EXPECT_EQ(surface->Pixel(1, 1), 0x02000002u);
  EXPECT_EQ(surface->updates, 1);
  EXPECT_TRUE(SameRect(Rect(layered), RECT{30, 40, 32, 42}));
}

TEST_F(WindowTest, GrowingWithRepaintPostsOnePaint) {
  HWND hwnd = Make(WS_POPUP | WS_VISIBLE, 0, 0, 100, 100);
  platform::PumpMessages();
  theLog.clear();
  MoveWindow(hwnd, 0, 0, 200, 200, TRUE);
  MoveWindow(hwnd, 0, 0, 300, 300, TRUE);
  MoveWindow(hwnd, 0, 0, 400, 400, FALSE);
  platform::PumpMessages();
  int paints = 0;
  for (const Logged& entry : theLog) paints += entry.message == WM_PAINT;
  EXPECT_EQ(paints, 1);
}

}  // namespace

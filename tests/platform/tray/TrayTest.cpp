// The notification area and popup menus as the shell stand-in records them.
#include "platform/tray/Tray.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

namespace tray = platform::tray;

class TrayTest : public ::testing::Test {
 protected:
  TrayTest() {
    // A top-level window of the window layer, which shell broadcasts reach.
    hwnd_ = platform::CreateWindowWithProc(
        0, "TrayTest", "", WS_POPUP, 0, 0, 0, 0, nullptr,
        [this](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
          if (message >= WM_USER || message == WM_COMMAND) received_.push_back({message, wParam, lParam});
          return DefWindowProc(hwnd, message, wParam, lParam);
        },
        nullptr);
    tray::ClearBalloons();
    tray::ClearShownMenus();
  }
  ~TrayTest() override {
    NOTIFYICONDATA data = Data(0);
    Shell_NotifyIcon(NIM_DELETE, &data);
    DestroyWindow(hwnd_);
    tray::SetMenuChooser(nullptr);
    tray::SetShellRunning(true);
  }

  NOTIFYICONDATA Data(UINT flags, const char* tip = "", const char* balloon = "") {
    NOTIFYICONDATA data{};
    data.cbSize = NOTIFYICONDATA_V2_SIZE;
    data.hWnd = hwnd_;
    data.uID = 7;
    data.uFlags = flags;
    data.uCallbackMessage = WM_APP + 1;
    data.hIcon = LoadIconResource(3);
    std::strncpy(data.szTip, tip, sizeof data.szTip - 1);
    std::strncpy(data.szInfo, balloon, sizeof data.szInfo - 1);
    data.uTimeout = 10000;
    return data;
  }

  struct Received {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
  };
  HWND hwnd_ = nullptr;
  std::vector<Received> received_;
};

TEST_F(TrayTest, AddsChangesAndDeletesOneIconPerWindowAndId) {
  tray::RegisterIconResource(3, "audio-x-generic");
  NOTIFYICONDATA data = Data(NIF_MESSAGE | NIF_ICON | NIF_TIP, "Tip");
  ASSERT_TRUE(Shell_NotifyIcon(NIM_ADD, &data));
  EXPECT_FALSE(Shell_NotifyIcon(NIM_ADD, &data));  // there already
  auto icon = tray::FindIcon(hwnd_, 7);
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->tip, "Tip");
  EXPECT_EQ(icon->iconName, "audio-x-generic");
  EXPECT_FALSE(icon->hidden);

  data = Data(NIF_INFO, "", "Hello");
  data.dwInfoFlags = NIIF_INFO;
  EXPECT_TRUE(Shell_NotifyIcon(NIM_MODIFY, &data));
  ASSERT_EQ(tray::Balloons().size(), 1u);
  EXPECT_EQ(tray::Balloons()[0].text, "Hello");
  EXPECT_EQ(tray::Balloons()[0].timeoutMs, 10000u);
  EXPECT_EQ(tray::FindIcon(hwnd_, 7)->tip, "Tip");  // only what the flags name changes

  data = Data(NIF_STATE);
  data.dwState = data.dwStateMask = NIS_HIDDEN;
  EXPECT_TRUE(Shell_NotifyIcon(NIM_MODIFY, &data));
  EXPECT_TRUE(tray::FindIcon(hwnd_, 7)->hidden);

  EXPECT_TRUE(Shell_NotifyIcon(NIM_DELETE, &data));
  EXPECT_FALSE(Shell_NotifyIcon(NIM_DELETE, &data));
  EXPECT_FALSE(Shell_NotifyIcon(NIM_MODIFY, &data));
  EXPECT_FALSE(tray::FindIcon(hwnd_, 7));

  tray::SetShellRunning(false);
  EXPECT_FALSE(Shell_NotifyIcon(NIM_ADD, &data));
}

TEST_F(TrayTest, UserEventsReachTheCallbackAndAShellRestartDropsIconsAndAnnouncesItself) {
  NOTIFYICONDATA data = Data(NIF_MESSAGE | NIF_TIP, "Tip");
  ASSERT_TRUE(Shell_NotifyIcon(NIM_ADD, &data));
  ASSERT_TRUE(tray::SendIconEvent(hwnd_, 7, WM_RBUTTONUP));
  EXPECT_FALSE(tray::SendIconEvent(hwnd_, 8, WM_RBUTTONUP));
  tray::RestartShell();
  EXPECT_FALSE(tray::FindIcon(hwnd_, 7));
  platform::PumpMessages();
  ASSERT_EQ(received_.size(), 2u);
  EXPECT_EQ(received_[0].message, WM_APP + 1u);
  EXPECT_EQ(received_[0].wParam, 7u);
  EXPECT_EQ(received_[0].lParam, static_cast<LPARAM>(WM_RBUTTONUP));
  EXPECT_EQ(received_[1].message, RegisterWindowMessage("TaskbarCreated"));
}

TEST_F(TrayTest, PopupMenusComeFromResourcesAndPostTheChosenCommand) {
  tray::RegisterMenuResource(40, {{"Popup", 0, {{"First", 101, {}}, {}, {"Last", 102, {}}}}});
  HMENU menu = LoadMenu(nullptr, 40);
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(LoadMenu(nullptr, 41), nullptr);
  HMENU popup = GetSubMenu(menu, 0);
  ASSERT_NE(popup, nullptr);
  EXPECT_EQ(GetMenuItemCount(popup), 3);
  EXPECT_EQ(GetMenuItemID(popup, 2), 102u);
  EXPECT_TRUE(SetMenuDefaultItem(popup, 0, TRUE));
  EXPECT_EQ(GetMenuDefaultItem(popup, FALSE), 101u);

  // Nobody chooses by default; a chooser's answer is posted, or returned.
  EXPECT_FALSE(TrackPopupMenu(popup, TPM_LEFTBUTTON, 0, 0, 0, hwnd_, nullptr));
  tray::SetMenuChooser([](const tray::ShownMenu&) { return 102u; });
  EXPECT_TRUE(TrackPopupMenu(popup, TPM_LEFTBUTTON, 0, 0, 0, hwnd_, nullptr));
  EXPECT_EQ(TrackPopupMenu(popup, TPM_RETURNCMD, 0, 0, 0, hwnd_, nullptr), 102);
  tray::SetMenuChooser([](const tray::ShownMenu&) { return 999u; });  // not in the menu
  EXPECT_EQ(TrackPopupMenu(popup, TPM_RETURNCMD, 0, 0, 0, hwnd_, nullptr), 0);
  platform::PumpMessages();
  ASSERT_EQ(received_.size(), 1u);
  EXPECT_EQ(received_[0].message, WM_COMMAND);
  EXPECT_EQ(received_[0].wParam, 102u);

  const auto shown = tray::ShownMenus();
  ASSERT_EQ(shown.size(), 4u);
  EXPECT_EQ(shown[0].texts, (std::vector<std::string>{"First", "", "Last"}));
  EXPECT_EQ(shown[0].defaultPosition, 0);
  EXPECT_TRUE(DestroyMenu(menu));
  EXPECT_EQ(GetSubMenu(menu, 0), nullptr);
  EXPECT_EQ(GetMenuItemCount(popup), -1);  // went with its menu
}

}  // namespace

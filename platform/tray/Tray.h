// The desktop shell's notification area, in place of Shell_NotifyIcon and the
// popup menus of the desktop API: icons with a tip, a hidden state and
// balloons; the icon's mouse events as its callback message; "TaskbarCreated"
// when the shell starts again; popup menus from menu resources.
//
// The area itself is a record that tests read (Icons, Balloons) and drive
// (SendIconEvent, RestartShell, ChangeWorkArea). Nobody sits at this desktop:
// a popup menu is answered by the installed chooser (by default nothing is
// chosen). Where a session bus offers a StatusNotifierWatcher, every icon is
// also shown there as a StatusNotifierItem with its menu, and what the
// desktop's host does with it (activate, context menu, a menu item) comes
// back as the icon's events and the menu's commands. On an X display without
// a watcher, an XEmbed system tray holds the icons instead (TrayXEmbed.h), and
// popup menus for them are drawn on the display.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/window/Window.h"

// Messages of the shell and the mouse that the window layer does not name.
constexpr UINT WM_SETTINGCHANGE = 0x001A;
constexpr UINT WM_CONTEXTMENU = 0x007B;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT WM_RBUTTONDBLCLK = 0x0206;
constexpr UINT SPI_SETWORKAREA = 0x002F;

// Shell_NotifyIcon.
constexpr DWORD NIM_ADD = 0x0;
constexpr DWORD NIM_MODIFY = 0x1;
constexpr DWORD NIM_DELETE = 0x2;
constexpr UINT NIF_MESSAGE = 0x01;
constexpr UINT NIF_ICON = 0x02;
constexpr UINT NIF_TIP = 0x04;
constexpr UINT NIF_STATE = 0x08;
constexpr UINT NIF_INFO = 0x10;
constexpr DWORD NIS_HIDDEN = 0x1;
constexpr DWORD NIIF_NONE = 0x0;
constexpr DWORD NIIF_INFO = 0x1;
constexpr DWORD NIIF_WARNING = 0x2;
constexpr DWORD NIIF_ERROR = 0x3;
// Events of the icon (lParam of its callback message).
constexpr UINT NIN_BALLOONSHOW = WM_USER + 2;
constexpr UINT NIN_BALLOONHIDE = WM_USER + 3;
constexpr UINT NIN_BALLOONTIMEOUT = WM_USER + 4;
constexpr UINT NIN_BALLOONUSERCLICK = WM_USER + 5;

// The record handed to the shell (the ANSI form of the desktop's second
// version; its size field reads 488 there, which the shell here accepts as
// well as sizeof).
struct NOTIFYICONDATA {
  DWORD cbSize;
  HWND hWnd;
  UINT uID;
  UINT uFlags;
  UINT uCallbackMessage;
  HICON hIcon;
  char szTip[128];
  DWORD dwState;
  DWORD dwStateMask;
  char szInfo[256];
  UINT uTimeout;  // milliseconds
  char szInfoTitle[64];
  DWORD dwInfoFlags;
};
constexpr DWORD NOTIFYICONDATA_V2_SIZE = 488;

// Adds, changes or deletes the icon of (hWnd, uID). FALSE when the shell
// refuses: an icon that is there already (NIM_ADD), one that is not (MODIFY,
// DELETE), a window that is not one, or a shell that is not running.
BOOL Shell_NotifyIcon(DWORD message, NOTIFYICONDATA* data);

// Icons of the program's resources, each known to the desktop by a name (the
// icon theme's, for the session's notification host).
HICON LoadIconResource(UINT resourceId);

// Popup menus.
struct HMENU__;
using HMENU = HMENU__*;
constexpr UINT MF_BYCOMMAND = 0x0000;
constexpr UINT MF_BYPOSITION = 0x0400;
constexpr UINT TPM_LEFTBUTTON = 0x0000;
constexpr UINT TPM_RIGHTBUTTON = 0x0002;
constexpr UINT TPM_LEFTALIGN = 0x0000;
constexpr UINT TPM_RETURNCMD = 0x0100;

// A menu resource: a popup holds items; an item with id 0 and no text is a
// separator.
struct MenuResourceItem {
  std::string text;
  UINT id = 0;
  std::vector<MenuResourceItem> popup;
  bool IsSeparator() const { return id == 0 && text.empty() && popup.empty(); }
};

// A fresh menu from the registered resource (null when none is registered).
HMENU LoadMenu(HINSTANCE instance, UINT resourceId);
HMENU GetSubMenu(HMENU menu, int position);
int GetMenuItemCount(HMENU menu);
// The command id of the item at `position`; 0xFFFFFFFF for a popup or none.
UINT GetMenuItemID(HMENU menu, int position);
// Makes an item the bold default one (by command id, or by position).
BOOL SetMenuDefaultItem(HMENU menu, UINT item, UINT byPosition);
// 0xFFFFFFFF when none.
UINT GetMenuDefaultItem(HMENU menu, UINT byPosition);
// Shows the popup at (x, y) for `owner` until the user chooses or dismisses
// it. With TPM_RETURNCMD the chosen command id is returned (0: none);
// otherwise the choice is posted to `owner` as WM_COMMAND (id, 0) and the
// result is TRUE when an item was chosen.
BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner, const RECT* rect);
BOOL DestroyMenu(HMENU menu);
BOOL GetCursorPos(POINT* point);

// Draws the caption of a window flying between two rectangles (no picture is
// drawn here: the flights are recorded).
constexpr int IDANI_CAPTION = 3;
BOOL DrawAnimatedRects(HWND hwnd, int animation, const RECT* from, const RECT* to);

namespace platform::tray {

struct Balloon {
  std::string text;
  std::string title;
  DWORD infoFlags = 0;
  UINT timeoutMs = 0;
};

// An icon as the notification area shows it.
struct TrayIcon {
  HWND hwnd = nullptr;
  UINT id = 0;
  UINT callbackMessage = 0;
  HICON icon = nullptr;
  std::string iconName;
  std::string imageFile;  // the icon's picture, for a tray that draws none itself
  std::string tip;
  bool hidden = false;
  std::vector<Balloon> balloons;  // every balloon shown on it, oldest first
};

// The icons registered now, in the order added.
std::vector<TrayIcon> Icons();
std::optional<TrayIcon> FindIcon(HWND hwnd, UINT id);
// Every balloon shown on any icon since the last ClearBalloons.
std::vector<Balloon> Balloons();
void ClearBalloons();

// The user at the icon: posts its callback message (wParam the icon's id,
// lParam the event: WM_RBUTTONUP, WM_LBUTTONDBLCLK, NIN_BALLOONUSERCLICK...).
// False when there is no such icon.
bool SendIconEvent(HWND hwnd, UINT id, UINT event);
// The shell ends and starts again: every icon is gone, and "TaskbarCreated"
// is posted to every top-level window.
void RestartShell();
// The work area changed: WM_SETTINGCHANGE (SPI_SETWORKAREA) is posted to
// every top-level window.
void ChangeWorkArea();
// While the shell is not running, Shell_NotifyIcon refuses everything.
void SetShellRunning(bool running);

// Whether the desktop shows the icons: without a display (or with headless
// pages) the record is the desktop; on a display, where the session bus has a
// StatusNotifierWatcher or the display has an XEmbed system tray.
bool IconsShownOnDesktop();
// Balloons need a shell that offers them (on by default).
void SetBalloonsOffered(bool offered);
bool BalloonsOffered();
// The system's minimise animation (off by default).
void SetMinimizeAnimation(bool on);
bool MinimizeAnimation();
// Every DrawAnimatedRects since the last call: (from, to).
std::vector<std::pair<RECT, RECT>> TakeAnimations();

// The name by which the desktop knows an icon resource (the icon theme's),
// and its picture (a PAM RGBA file; a relative path is taken from the
// program's folder) for a system tray, which has no icon theme.
void RegisterIconResource(UINT resourceId, const std::string& iconName, const std::string& imageFile = "");
void RegisterMenuResource(UINT resourceId, std::vector<MenuResourceItem> menu);
std::vector<MenuResourceItem> MenuResource(UINT resourceId);

// A popup as it was shown: its items' texts ("" for a separator), ids and the
// default item's position (-1 for none).
struct ShownMenu {
  HWND owner = nullptr;
  std::vector<std::string> texts;
  std::vector<UINT> ids;
  int defaultPosition = -1;
};
// Answers a shown popup with the command id chosen (0: dismissed). Null
// puts back the default, which dismisses every menu.
using MenuChooser = std::function<UINT(const ShownMenu& menu)>;
void SetMenuChooser(MenuChooser chooser);
std::vector<ShownMenu> ShownMenus();
void ClearShownMenus();

// The session bus side (TrayBus.cpp): true while the icons are also shown as
// StatusNotifierItems on the session bus. The host's Activate comes as
// WM_LBUTTONDBLCLK, ContextMenu as WM_RBUTTONUP, SecondaryActivate as a middle
// button up (0x0208); an item chosen in the host's menu answers the popup that
// the program shows for the WM_RBUTTONUP posted with it. Balloons go to the
// session's notification service where one runs.
bool OnSessionBus();

}  // namespace platform::tray

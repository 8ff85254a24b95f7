#include "platform/tray/Tray.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/tray/TrayBus.h"
#include "platform/tray/TrayXEmbed.h"

namespace {

using platform::tray::Balloon;
using platform::tray::ShownMenu;
using platform::tray::TrayIcon;

struct Menu;
struct MenuItem {
  std::string text;
  UINT id = 0;
  std::shared_ptr<Menu> popup;
};
struct Menu {
  HMENU handle = nullptr;
  std::vector<MenuItem> items;
  int defaultPosition = -1;
};

struct Shell {
  std::mutex mutex;
  std::vector<TrayIcon> icons;
  std::vector<Balloon> balloons;
  bool running = true;
  bool balloonsOffered = true;
  bool minimizeAnimation = false;
  std::vector<std::pair<RECT, RECT>> animations;
  std::map<UINT, std::string> iconNames;
  std::map<UINT, std::string> iconImages;
  std::map<UINT, std::vector<MenuResourceItem>> menuResources;
  std::map<HMENU, std::shared_ptr<Menu>> menus;
  std::uintptr_t nextMenu = 1;
  platform::tray::MenuChooser chooser;
  UINT busChoice = 0;  // an item chosen in the session bus's copy of the menu
  std::vector<ShownMenu> shown;
};

Shell& S() {
  static Shell* const shell = new Shell;
  return *shell;
}

// The icon handles stand for their resource id.
HICON IconHandle(UINT resourceId) { return reinterpret_cast<HICON>(static_cast<std::uintptr_t>(resourceId) + 1); }
UINT IconResource(HICON icon) { return static_cast<UINT>(reinterpret_cast<std::uintptr_t>(icon) - 1); }

std::string IconNameLocked(Shell& s, HICON icon) {
  if (icon == nullptr) return "";
  auto it = s.iconNames.find(IconResource(icon));
  return it == s.iconNames.end() ? "application-x-executable" : it->second;
}

// A text field of the record, which need not end in a zero.
template <std::size_t N>
std::string Field(const char (&text)[N]) {
  return std::string(text, strnlen(text, N));
}

std::vector<TrayIcon>::iterator FindLocked(Shell& s, HWND hwnd, UINT id) {
  return std::find_if(s.icons.begin(), s.icons.end(),
                      [&](const TrayIcon& icon) { return icon.hwnd == hwnd && icon.id == id; });
}

// Takes what the flags name from the record into the icon.
void Apply(Shell& s, TrayIcon& icon, const NOTIFYICONDATA& data) {
  if (data.uFlags & NIF_MESSAGE) icon.callbackMessage = data.uCallbackMessage;
  if (data.uFlags & NIF_ICON) {
    icon.icon = data.hIcon;
    icon.iconName = IconNameLocked(s, data.hIcon);
    auto image = data.hIcon ? s.iconImages.find(IconResource(data.hIcon)) : s.iconImages.end();
    icon.imageFile = image == s.iconImages.end() ? "" : image->second;
  }
  if (data.uFlags & NIF_TIP) icon.tip = Field(data.szTip);
  if ((data.uFlags & NIF_STATE) && (data.dwStateMask & NIS_HIDDEN)) icon.hidden = (data.dwState & NIS_HIDDEN) != 0;
}

std::shared_ptr<Menu> MakeMenuLocked(Shell& s, const std::vector<MenuResourceItem>& items) {
  auto menu = std::make_shared<Menu>();
  menu->handle = reinterpret_cast<HMENU>(s.nextMenu++);
  s.menus[menu->handle] = menu;
  for (const MenuResourceItem& item : items) {
    MenuItem made{item.text, item.id, nullptr};
    if (!item.popup.empty()) made.popup = MakeMenuLocked(s, item.popup);
    menu->items.push_back(std::move(made));
  }
  return menu;
}

void ForgetMenuLocked(Shell& s, const std::shared_ptr<Menu>& menu) {
  for (const MenuItem& item : menu->items) {
    if (item.popup) ForgetMenuLocked(s, item.popup);
  }
  s.menus.erase(menu->handle);
}

std::shared_ptr<Menu> FindMenuLocked(Shell& s, HMENU handle) {
  auto it = s.menus.find(handle);
  return it == s.menus.end() ? nullptr : it->second;
}

// Every top-level window gets the message.
void PostToTopLevelWindows(UINT message, WPARAM wParam, LPARAM lParam) {
  std::vector<HWND> windows;
  for (HWND hwnd = GetTopWindow(nullptr); hwnd != nullptr; hwnd = GetWindow(hwnd, GW_HWNDNEXT)) {
    windows.push_back(hwnd);
  }
  for (HWND hwnd : windows) ::PostMessage(hwnd, message, wParam, lParam);
}

}  // namespace

BOOL Shell_NotifyIcon(DWORD message, NOTIFYICONDATA* data) {
  if (data == nullptr || (data->cbSize != NOTIFYICONDATA_V2_SIZE && data->cbSize != sizeof(NOTIFYICONDATA))) {
    return FALSE;
  }
  Shell& s = S();
  std::optional<TrayIcon> changed;
  std::optional<Balloon> balloon;
  bool removed = false;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.running || !IsWindow(data->hWnd)) return FALSE;
    auto it = FindLocked(s, data->hWnd, data->uID);
    switch (message) {
      case NIM_ADD: {
        if (it != s.icons.end()) return FALSE;
        TrayIcon icon;
        icon.hwnd = data->hWnd;
        icon.id = data->uID;
        s.icons.push_back(icon);
        it = s.icons.end() - 1;
        break;
      }
      case NIM_MODIFY:
        if (it == s.icons.end()) return FALSE;
        break;
      case NIM_DELETE:
        if (it == s.icons.end()) return FALSE;
        s.icons.erase(it);
        removed = true;
        break;
      default:
        return FALSE;
    }
    if (!removed) {
      Apply(s, *it, *data);
      if ((data->uFlags & NIF_INFO) && s.balloonsOffered && data->szInfo[0] != '\0') {
        balloon = Balloon{Field(data->szInfo), Field(data->szInfoTitle), data->dwInfoFlags, data->uTimeout};
        it->balloons.push_back(*balloon);
        s.balloons.push_back(*balloon);
      }
      changed = *it;
    }
  }
  if (removed) {
    platform::tray::bus::IconRemoved(data->hWnd, data->uID);
    platform::tray::xembed::IconRemoved(data->hWnd, data->uID);
  } else if (changed) {
    platform::tray::bus::IconChanged(*changed);
    platform::tray::xembed::IconChanged(*changed);
    if (balloon) {
      platform::tray::bus::BalloonShown(*changed, *balloon);
      platform::tray::xembed::BalloonShown(*changed, *balloon);
    }
  }
  return TRUE;
}

HICON LoadIconResource(UINT resourceId) { return IconHandle(resourceId); }

HMENU LoadMenu(HINSTANCE, UINT resourceId) {
  Shell& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto it = s.menuResources.find(resourceId);
  if (it == s.menuResources.end()) return nullptr;
  return MakeMenuLocked(s, it->second)->handle;
}

HMENU GetSubMenu(HMENU handle, int position) {
  Shell& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto menu = FindMenuLocked(s, handle);
  if (!menu || position < 0 || position >= static_cast<int>(menu->items.size())) return nullptr;
  const auto& popup = menu->items[static_cast<std::size_t>(position)].popup;
  return popup ? popup->handle : nullptr;
}

int GetMenuItemCount(HMENU handle) {
  Shell& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto menu = FindMenuLocked(s, handle);
  return menu ? static_cast<int>(menu->items.size()) : -1;
}

UINT GetMenuItemID(HMENU handle, int position) {
  Shell& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto menu = FindMenuLocked(s, handle);
  if (!menu || position < 0 || position >= static_cast<int>(menu->items.size())) return 0xFFFFFFFFu;
  const MenuItem& item = menu->items[static_cast<std::size_t>(position)];
  return item.popup ? 0xFFFFFFFFu : item.id;
}

BOOL SetMenuDefaultItem(HMENU handle, UINT item, UINT byPosition) {
  Shell& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto menu = FindMenuLocked(s, handle);
  if (!menu) return FALSE;
  if (item == 0xFFFFFFFFu) {
    menu->defaultPosition = -1;
    return TRUE;
  }
  if (byPosition) {
    if (item >= menu->items.size()) return FALSE;
    menu->defaultPosition = static_cast<int>(item);
    return TRUE;
  }
  for (std::size_t i = 0; i < menu->items.size(); ++i) {
    if (!menu->items[i].popup && menu->items[i].id == item && item != 0) {
      menu->defaultPosition = static_cast<int>(i);
      return TRUE;
    }
  }
  return FALSE;
}

UINT GetMenuDefaultItem(HMENU handle, UINT byPosition) {
  Shell& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto menu = FindMenuLocked(s, handle);
  if (!menu || menu->defaultPosition < 0) return 0xFFFFFFFFu;
  if (byPosition) return static_cast<UINT>(menu->defaultPosition);
  return menu->items[static_cast<std::size_t>(menu->defaultPosition)].id;
}

BOOL TrackPopupMenu(HMENU handle, UINT flags, int, int, int, HWND owner, const RECT*) {
  Shell& s = S();
  ShownMenu shown;
  platform::tray::MenuChooser chooser;
  UINT busChoice = 0;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    auto menu = FindMenuLocked(s, handle);
    if (!menu || !IsWindow(owner)) return FALSE;
    shown.owner = owner;
    for (const MenuItem& item : menu->items) {
      shown.texts.push_back(item.text);
      shown.ids.push_back(item.popup ? 0 : item.id);
    }
    shown.defaultPosition = menu->defaultPosition;
    s.shown.push_back(shown);
    chooser = s.chooser;
    busChoice = std::exchange(s.busChoice, 0);
  }
  // A system tray has no menus of its own: the popup is drawn on the display.
  UINT chosen = busChoice != 0                     ? busChoice
                : chooser                          ? chooser(shown)
                : platform::tray::xembed::Docked() ? platform::tray::xembed::ShowMenu(shown)
                                                   : 0;
  // Only an item the menu holds can be chosen.
  if (std::find(shown.ids.begin(), shown.ids.end(), chosen) == shown.ids.end()) chosen = 0;
  if (flags & TPM_RETURNCMD) return static_cast<BOOL>(chosen);
  if (chosen == 0) return FALSE;
  ::PostMessage(owner, WM_COMMAND, chosen, 0);
  return TRUE;
}

BOOL DestroyMenu(HMENU handle) {
  Shell& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto menu = FindMenuLocked(s, handle);
  if (!menu) return FALSE;
  ForgetMenuLocked(s, menu);
  return TRUE;
}

BOOL GetCursorPos(POINT* point) {
  if (point == nullptr) return FALSE;
  // The mouse rests where the notification area is: the desktop's bottom right.
  point->x = GetSystemMetrics(SM_CXSCREEN) - 1;
  point->y = GetSystemMetrics(SM_CYSCREEN) - 1;
  return TRUE;
}

BOOL DrawAnimatedRects(HWND hwnd, int, const RECT* from, const RECT* to) {
  if (!IsWindow(hwnd) || from == nullptr || to == nullptr) return FALSE;
  Shell& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.animations.emplace_back(*from, *to);
  return TRUE;
}

namespace platform::tray {

std::vector<TrayIcon> Icons() {
  Shell& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.icons;
}

std::optional<TrayIcon> FindIcon(HWND hwnd, UINT id) {
  Shell& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto it = FindLocked(s, hwnd, id);
  if (it == s.icons.end()) return std::nullopt;
  return *it;
}

std::vector<Balloon> Balloons() {
  Shell& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.balloons;
}

void ClearBalloons() {
  Shell& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.balloons.clear();
}

bool SendIconEvent(HWND hwnd, UINT id, UINT event) {
  UINT callback = 0;
  {
    Shell& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = FindLocked(s, hwnd, id);
    if (it == s.icons.end() || it->callbackMessage == 0) return false;
    callback = it->callbackMessage;
  }
  return ::PostMessage(hwnd, callback, id, static_cast<LPARAM>(event)) != FALSE;
}

void RestartShell() {
  {
    Shell& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.icons.clear();
    s.running = true;
  }
  bus::AllRemoved();
  xembed::AllRemoved();
  PostToTopLevelWindows(RegisterWindowMessage("TaskbarCreated"), 0, 0);
}

void ChangeWorkArea() { PostToTopLevelWindows(WM_SETTINGCHANGE, SPI_SETWORKAREA, 0); }

void SetShellRunning(bool running) {
  Shell& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.running = running;
}

bool IconsShownOnDesktop() {
  const char* display = std::getenv("DISPLAY");
  const char* headless = std::getenv("ZORVA_HEADLESS");
  if (!display || !*display || (headless && std::string(headless) == "1")) return true;
  return bus::WatcherPresent() || xembed::TrayPresent();
}

void SetBalloonsOffered(bool offered) {
  Shell& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.balloonsOffered = offered;
}

bool BalloonsOffered() {
  Shell& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.balloonsOffered;
}

void SetMinimizeAnimation(bool on) {
  Shell& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.minimizeAnimation = on;
}

bool MinimizeAnimation() {
  Shell& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.minimizeAnimation;
}

std::vector<std::pair<RECT, RECT>> TakeAnimations() {
  Shell& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  return std::exchange(s.animations, {});
}

void RegisterIconResource(UINT resourceId, const std::string& iconName, const std::string& imageFile) {
  Shell& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.iconNames[resourceId] = iconName;
  s.iconImages[resourceId] = imageFile;
}

void RegisterMenuResource(UINT resourceId, std::vector<MenuResourceItem> menu) {
  Shell& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.menuResources[resourceId] = std::move(menu);
}

std::vector<MenuResourceItem> MenuResource(UINT resourceId) {
  Shell& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto it = s.menuResources.find(resourceId);
  return it == s.menuResources.end() ? std::vector<MenuResourceItem>{} : it->second;
}

void SetMenuChooser(MenuChooser chooser) {
  Shell& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.chooser = std::move(chooser);
}

std::vector<ShownMenu> ShownMenus() {
  Shell& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.shown;
}

void ClearShownMenus() {
  Shell& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.shown.clear();
}

bool OnSessionBus() { return bus::Active(); }

void bus::AnswerNextMenu(UINT command) {
  Shell& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.busChoice = command;
}

}  // namespace platform::tray

#include "companion/SystemTray.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/window/WinApp.h"

namespace {

const UINT taskbarCreatedMessage = RegisterWindowMessage("TaskbarCreated");

// The hidden owner of windows hidden in the icon.
std::unique_ptr<CWnd>& InvisibleWnd() {
  static std::unique_ptr<CWnd> window;
  return window;
}

// The icon's menu resource, destroyed when this goes.
class LoadedMenu {
 public:
  explicit LoadedMenu(UINT id) : menu_(LoadMenu(nullptr, id)) {}
  ~LoadedMenu() {
    if (menu_ != nullptr) DestroyMenu(menu_);
  }
  LoadedMenu(const LoadedMenu&) = delete;
  LoadedMenu& operator=(const LoadedMenu&) = delete;

  // Its first popup; null when there is no menu or no popup.
  HMENU Popup() const { return menu_ != nullptr ? GetSubMenu(menu_, 0) : nullptr; }

 private:
  HMENU menu_;
};

// Cuts at a character boundary: the desktop refuses a text that ends inside
// a UTF-8 sequence.
template <std::size_t N>
void CopyCut(char (&field)[N], const char* text, std::size_t maxLength) {
  std::memset(field, 0, N);
  if (text == nullptr) return;
  const std::size_t length = std::strlen(text);
  std::size_t cut = std::min({length, maxLength, N - 1});
  if (cut < length) {
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  }
  std::memcpy(field, text, cut);
}

}  // namespace

CSystemTray::CSystemTray() { Initialise(); }

CSystemTray::~CSystemTray() {
  RemoveIcon();
  DestroyWindow();
}

void CSystemTray::Initialise() {
  std::memset(&iconData_, 0, sizeof iconData_);
  enabled_ = false;
  hidden_ = true;
  removed_ = true;
  showIconPending_ = false;
  targetWnd_ = nullptr;
  defaultMenuItemId_ = 0;
  defaultMenuItemByPos_ = true;
  creationFlags_ = 0;
  hasBalloons_ = platform::tray::BalloonsOffered();
}

BOOL CSystemTray::Create(CWnd* parent, UINT callbackMessage, const char* tip, HICON icon, UINT id, BOOL hidden,
                         const char* balloonText, const char* balloonTitle, DWORD balloonFlags,
                         UINT balloonTimeoutSeconds) {
  enabled_ = true;
  if (!m_hWnd && !CreateEx(0, "ZorvaTrayIcon", "", WS_POPUP, 0, 0, 0, 0, nullptr)) return FALSE;

  iconData_.cbSize = NOTIFYICONDATA_V2_SIZE;
  // The callback message goes to the parent, which passes it on.
  iconData_.hWnd = parent != nullptr && parent->GetSafeHwnd() ? parent->GetSafeHwnd() : m_hWnd;
  iconData_.uID = id;
  iconData_.hIcon = icon;
  iconData_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  iconData_.uCallbackMessage = callbackMessage;
  CopyCut(iconData_.szTip, tip, kMaxTooltipLength - 1);

  if (hasBalloons_ && balloonText != nullptr) {
    iconData_.uFlags |= NIF_INFO;
    CopyCut(iconData_.szInfo, balloonText, 255);
    CopyCut(iconData_.szInfoTitle, balloonTitle, 63);
    iconData_.uTimeout = balloonTimeoutSeconds * 1000;
    iconData_.dwInfoFlags = balloonFlags;
  }

  hidden_ = hidden != FALSE;
  if (hasBalloons_ && hidden_) {
    iconData_.uFlags = NIF_STATE;
    iconData_.dwState = NIS_HIDDEN;
    iconData_.dwStateMask = NIS_HIDDEN;
  }
  creationFlags_ = iconData_.uFlags;

  BOOL added = TRUE;
  if (!(hidden_ && !hasBalloons_)) {
    added = Shell_NotifyIcon(NIM_ADD, &iconData_);
    removed_ = hidden_ = showIconPending_ = !added;
  }
  if (balloonText != nullptr) iconData_.szInfo[0] = '\0';
  return added;
}

BOOL CSystemTray::RemoveIcon() {
  showIconPending_ = false;
  if (!enabled_ || removed_) return TRUE;
  iconData_.uFlags = 0;
  const BOOL done = Shell_NotifyIcon(NIM_DELETE, &iconData_);
  if (done) hidden_ = removed_ = true;
  return done;
}

BOOL CSystemTray::ShowBalloon(const char* text, const char* title, DWORD infoFlags, UINT timeoutSeconds) {
  if (!hasBalloons_) return FALSE;
  iconData_.uFlags = NIF_INFO;
  CopyCut(iconData_.szInfo, text, 255);
  CopyCut(iconData_.szInfoTitle, title, 63);
  iconData_.dwInfoFlags = infoFlags;
  iconData_.uTimeout = timeoutSeconds * 1000;
  const BOOL shown = Shell_NotifyIcon(NIM_MODIFY, &iconData_);
  iconData_.szInfo[0] = '\0';
  return shown;
}

CWnd* CSystemTray::GetTargetWnd() const {
  if (targetWnd_ != nullptr) return targetWnd_;
  CWinApp* app = AfxGetApp();
  return app != nullptr ? app->m_pMainWnd : nullptr;
}

LRESULT CSystemTray::OnTrayNotification(WPARAM id, LPARAM event) {
  if (id != iconData_.uID) return 0;
  CWnd* target = GetTargetWnd();
  if (target == nullptr || !target->GetSafeHwnd()) return 0;

  if (event == WM_RBUTTONUP) {
    const LoadedMenu menu(iconData_.uID);
    HMENU popup = menu.Popup();
    if (popup == nullptr) return 0;
    SetMenuDefaultItem(popup, defaultMenuItemId_, defaultMenuItemByPos_ ? TRUE : FALSE);
    CustomizeMenu(popup);
    POINT cursor{};
    GetCursorPos(&cursor);
    target->SetForegroundWindow();
    TrackPopupMenu(popup, TPM_LEFTBUTTON, cursor.x, cursor.y, 0, target->GetSafeHwnd(), nullptr);
    // So the menu goes away when the user clicks elsewhere.
    target->PostMessage(WM_NULL, 0, 0);
  } else if (event == WM_LBUTTONDBLCLK) {
    target->SetForegroundWindow();
    UINT command = defaultMenuItemId_;
    if (defaultMenuItemByPos_) {
      const LoadedMenu menu(iconData_.uID);
      HMENU popup = menu.Popup();
      if (popup == nullptr) return 0;
      command = GetMenuItemID(popup, static_cast<int>(defaultMenuItemId_));
    }
    target->PostMessage(WM_COMMAND, command, 0);
  }
  return 1;
}

void CSystemTray::InstallIconPending() {
  if (!showIconPending_ || hidden_) return;
  iconData_.uFlags = creationFlags_;
  const BOOL added = Shell_NotifyIcon(NIM_ADD, &iconData_);
  hidden_ = showIconPending_ = removed_ = !added;
}

LRESULT CSystemTray::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == iconData_.uCallbackMessage && message != 0) return OnTrayNotification(wParam, lParam);
  if (message == taskbarCreatedMessage) {
    // The shell started again without our icon.
    showIconPending_ = true;
    InstallIconPending();
    return 0;
  }
  const LRESULT result = CWnd::WindowProc(message, wParam, lParam);
  if (message == WM_SETTINGCHANGE && wParam == SPI_SETWORKAREA) {
    // A registered icon is still there: adding it again would be refused and
    // hide it for good. Only an icon that is not registered comes back.
    showIconPending_ = !hidden_ && removed_;
    InstallIconPending();
  }
  return result;
}

RECT CSystemTray::GetTrayWndRect() {
  // No task bar on this desktop: the bottom-right corner of the work area.
  const LONG width = GetSystemMetrics(SM_CXSCREEN);
  const LONG height = GetSystemMetrics(SM_CYSCREEN);
  return RECT{width - 150, height - 30, width, height};
}

CWnd* CSystemTray::GetInvisibleWnd() { return InvisibleWnd().get(); }

void CSystemTray::DestroyInvisibleWnd() { InvisibleWnd().reset(); }

void CSystemTray::RemoveTaskbarIcon(CWnd*) {
  // The desktop here has no taskbar buttons; the hidden owner is still made
  // as the window would be given to it.
  auto& invisible = InvisibleWnd();
  if (invisible) return;
  auto window = std::make_unique<CWnd>();
  if (window->CreateEx(0, "ZorvaTrayOwner", "", WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                       nullptr)) {
    invisible = std::move(window);
  }
}

void CSystemTray::HideToTray(CWnd* window, BOOL force) {
  if (window == nullptr || !window->GetSafeHwnd()) return;
  if (force || platform::tray::MinimizeAnimation()) {
    RECT from{};
    window->GetWindowRect(&from);
    const RECT to = GetTrayWndRect();
    DrawAnimatedRects(window->GetSafeHwnd(), IDANI_CAPTION, &from, &to);
  }
  RemoveTaskbarIcon(window);
  window->ModifyStyle(WS_VISIBLE, 0);
}

void CSystemTray::RestoreFromTray(CWnd* window, BOOL force) {
  if (window == nullptr || !window->GetSafeHwnd()) return;
  if (force || platform::tray::MinimizeAnimation()) {
    const RECT from = GetTrayWndRect();
    RECT to{};
    window->GetWindowRect(&to);
    DrawAnimatedRects(window->GetSafeHwnd(), IDANI_CAPTION, &from, &to);
  }
  window->ModifyStyle(0, WS_VISIBLE);
  // A window minimised while hidden comes back in its normal state.
  if (window->IsIconic()) window->ShowWindow(SW_RESTORE);
  window->Invalidate(TRUE);
  ::SetActiveWindow(window->GetSafeHwnd());
  window->SetForegroundWindow();
}

// The companion's icon in the notification area: its tip, balloons, the
// popup menu on a right click, the default command on a double click, the
// icon added again when the shell starts anew; and hiding a window "into"
// the icon and bringing it back.
#pragma once

#include <string>

#include "platform/tray/Tray.h"
#include "platform/window/Wnd.h"

class CSystemTray : public CWnd {
 public:
  static constexpr int kMaxTooltipLength = 128;

  CSystemTray();
  // Removes the icon, then its window goes.
  ~CSystemTray() override;

  // Registers the icon; the callback message goes to `parent` (to the
  // icon's own window without one). Balloon text and title may be null.
  BOOL Create(CWnd* parent, UINT callbackMessage, const char* tip, HICON icon, UINT id, BOOL hidden = FALSE,
              const char* balloonText = nullptr, const char* balloonTitle = nullptr, DWORD balloonFlags = NIIF_NONE,
              UINT balloonTimeoutSeconds = 10);
  BOOL RemoveIcon();
  // False without balloons on this shell.
  BOOL ShowBalloon(const char* text, const char* title = nullptr, DWORD infoFlags = NIIF_NONE,
                   UINT timeoutSeconds = 10);

  // The icon's mouse and balloon events (wParam the icon id, lParam the event).
  virtual LRESULT OnTrayNotification(WPARAM id, LPARAM event);
  // The popup about to be shown (a hook; nothing here).
  virtual void CustomizeMenu(HMENU) {}

  // Receives the menu's commands: the one set, else the application's main window.
  CWnd* GetTargetWnd() const;
  void SetTargetWnd(CWnd* target) { targetWnd_ = target; }

  bool IsEnabled() const { return enabled_; }
  bool IsHidden() const { return hidden_; }
  bool IsRemoved() const { return removed_; }
  UINT GetIconId() const { return iconData_.uID; }

  // A window "into" the icon: no taskbar button, not visible; and back.
  static void HideToTray(CWnd* window, BOOL force = FALSE);
  static void RestoreFromTray(CWnd* window, BOOL force = FALSE);
  // Where the notification area is (the target of the animation).
  static RECT GetTrayWndRect();
  // The hidden owner made by HideToTray (null until then).
  static CWnd* GetInvisibleWnd();
  static void DestroyInvisibleWnd();

  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void Initialise();
  void InstallIconPending();
  static void RemoveTaskbarIcon(CWnd* window);

  NOTIFYICONDATA iconData_{};
  bool enabled_ = false;
  bool hidden_ = true;
  bool removed_ = true;
  bool showIconPending_ = false;
  bool hasBalloons_ = false;
  CWnd* targetWnd_ = nullptr;
  UINT defaultMenuItemId_ = 0;
  bool defaultMenuItemByPos_ = true;
  UINT creationFlags_ = 0;
};

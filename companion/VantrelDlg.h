// The companion's one window: an options page that stays hidden behind the
// notification-area icon. It looks for the player every 30 seconds, reads
// the playing track every 2 seconds once connected, and submits each track
// that has played long enough to the user's profile; Ctrl+Alt+T posts the
// playing track's status. The tray menu brings the page up, starts the main
// program or its Lab, opens the profile page, or quits.
#pragma once

#include <memory>
#include <string>

#include "companion/SystemTray.h"
#include "core/Track.h"
#include "windows/MainWindow.h"

class MusicPlayer;
namespace platform {
class SingleInstance;
}

constexpr UINT_PTR TIMER_FIND_PLAYER = 227;
constexpr UINT kFindPlayerMs = 30000;
constexpr UINT_PTR TIMER_POLL_TRACK = 127;
constexpr UINT kPollTrackMs = 2000;
constexpr int HOTKEY_TWITTER_TRACK = 139;
constexpr UINT WM_APP_TRAY_NOTIFY = WM_APP + 10;
constexpr UINT IDR_TRAY_MENU = 129;
constexpr UINT IDR_MAINFRAME_ICON = 128;
constexpr UINT ID_TRAY_OPEN_LAB = 32771;
constexpr UINT ID_TRAY_START_ZORVA = 32775;
constexpr UINT ID_TRAY_EXIT = 32776;
constexpr UINT ID_TRAY_OPTIONS = 32777;
constexpr UINT ID_TRAY_PROFILE = 32778;

// "CLOSE_PLAYER_MSG": the player is about to quit.
extern const UINT CLOSE_PLAYER_MSG;

class CVantrelDlg : public CMainWindow {
 public:
  static const DialogTemplate kDialog;  // dialog 102
  static constexpr UINT kHtmlResource = 104;

  explicit CVantrelDlg(CWnd* parent = nullptr);
  ~CVantrelDlg() override;

  // The running copy's single-instance lock: once the window is up, later
  // copies reach it there and bring the window up.
  void SetSingleInstance(platform::SingleInstance* instance) { instance_ = instance; }

  BOOL OnInitDialog() override;

  // The player's callbacks.
  void PlayNext() override {}
  void OnTrackPlaying(const Track& track) override;
  void SetScanStatus(const std::string&) override {}
  void OnPlayerQuit() override;

  void ConnectPlayer();
  void DisconnectPlayer();
  void PollTrack();
  void TwitterCurrentTrack();
  void ConfirmQuit();
  std::string GetStatusText() const;
  void UpdateStatusText();

  bool IsConnected() const { return player_ != nullptr; }
  const Track& GetCurrentTrack() const { return currentTrack_; }
  CSystemTray& GetTrayIcon() { return trayIcon_; }

  void OnBeforeNavigate(const std::string& url, bool& cancel) override;
  void OnDocumentComplete(const std::string& url) override;
  HRESULT OnButtonOK(platform::HtmlElement& element) override;
  HRESULT OnButtonCancel(platform::HtmlElement& element) override;

  const MessageMap& GetMessageMap() const override { return ThisMessageMap(); }
  static const MessageMap& ThisMessageMap();
  const DHtmlEventMap& GetDHtmlEventMap() const override { return ThisDHtmlEventMap(); }
  static const DHtmlEventMap& ThisDHtmlEventMap();

 protected:
  void DoDataExchange(CDataExchange* exchange) override;

  HRESULT OnLoginClick(platform::HtmlElement& element);
  HRESULT OnRegisterClick(platform::HtmlElement& element);
  HRESULT OnNotifyOnUpdateClick(platform::HtmlElement& element);
  HRESULT OnZorvaLiveUpdateClick(platform::HtmlElement& element);
  HRESULT OnStartWhenWindowsStartsClick(platform::HtmlElement& element);

  LRESULT OnTrayNotify(WPARAM wParam, LPARAM lParam);
  LRESULT OnCommand(WPARAM wParam, LPARAM lParam);
  LRESULT OnClosePlayer(WPARAM wParam, LPARAM lParam);
  LRESULT OnHideAfterStart(WPARAM wParam, LPARAM lParam);
  void OnTimer(UINT_PTR id);
  void OnHotKey(UINT id, UINT modifiers, UINT key);
  void OnDestroy();
  void OnClose();

  void OnTrayOptions();
  void OnTrayStartZorva(bool lab);
  void OnTrayProfile();

 private:
  void ShowBalloon(const std::string& text);

  HICON icon_ = nullptr;
  CSystemTray trayIcon_;
  Track currentTrack_;
  std::unique_ptr<MusicPlayer> player_;
  platform::SingleInstance* instance_ = nullptr;
};

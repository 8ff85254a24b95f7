#include "companion/VantrelDlg.h"

#include "companion/ProfileClient.h"
#include "core/Account.h"
#include "core/HtmlText.h"
#include "core/ITunesPlayer.h"
#include "core/Mix.h"
#include "core/Settings.h"
#include "core/ShellPath.h"
#include "core/VersionCheck.h"
#include "platform/instance/SingleInstance.h"
#include "platform/shell/Shell.h"
#include "platform/xmlhttp/UrlEncode.h"
#include "platform/xmlhttp/WebHosts.h"
#include "windows/WebLink.h"
#include "platform/kernel/Log.h"

const UINT CLOSE_PLAYER_MSG = RegisterWindowMessage("CLOSE_PLAYER_MSG");

namespace {

const char kPageFile[] = "Vantrel.htm";
// Posted once the window is up: it goes back into the icon for good.
constexpr UINT WM_APP_HIDE_AFTER_START = WM_APP + 11;
constexpr DWORD kBalloonFlags = 0x1F;
constexpr UINT kBalloonSeconds = 10;

FramelessWindowConfig VantrelConfig() {
  FramelessWindowConfig config;
  config.pageFile = kPageFile;
  // Stored when the window goes; it always starts hidden, so never read back.
  config.placementValue = "Vantrel";
  config.placement = FramelessWindowConfig::Placement::WriteOnly;
  // The dialog's own key handling stays.
  config.keyFilter = false;
  return config;
}

// The tray menu and the icon, as the program's resources.
bool RegisterResources() {
  platform::tray::RegisterIconResource(IDR_MAINFRAME_ICON, "audio-x-generic", "skin/logo_icon.pam");
  platform::tray::RegisterMenuResource(IDR_TRAY_MENU, {{"Tray",
                                                        0,
                                                        {
                                                            {"Options", ID_TRAY_OPTIONS, {}},
                                                            {"Start Zorva", ID_TRAY_START_ZORVA, {}},
                                                            {"Open Lab", ID_TRAY_OPEN_LAB, {}},
                                                            {},
                                                            {"Zorva Live - Profile", ID_TRAY_PROFILE, {}},
                                                            {},
                                                            {"Exit", ID_TRAY_EXIT, {}},
                                                        }}});
  return true;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

// 320 x 227 dialog units.
const DialogTemplate CVantrelDlg::kDialog{102, 0, 0, 320, 227, WS_POPUP | WS_CAPTION | WS_SYSMENU, 0};

CVantrelDlg::CVantrelDlg(CWnd* parent) : CMainWindow(VantrelConfig(), kDialog, kHtmlResource, parent) {
  static const bool registered = RegisterResources();
  (void)registered;
  icon_ = LoadIconResource(IDR_MAINFRAME_ICON);
}

CVantrelDlg::~CVantrelDlg() {
  // The window goes first, while the player and the icon are still here.
  DestroyWindow();
}

const MessageMap& CVantrelDlg::ThisMessageMap() {
  static const MessageMap map(&CMainWindow::ThisMessageMap(),
                              {
                                  OnMessage(WM_APP_TRAY_NOTIFY, &CVantrelDlg::OnTrayNotify),
                                  OnMessage(WM_COMMAND, &CVantrelDlg::OnCommand),
                                  OnMessage(WM_APP_HIDE_AFTER_START, &CVantrelDlg::OnHideAfterStart),
                                  OnRegisteredMessage(CLOSE_PLAYER_MSG, &CVantrelDlg::OnClosePlayer),
                                  OnWmTimer(&CVantrelDlg::OnTimer),
                                  OnWmHotKey(&CVantrelDlg::OnHotKey),
                                  OnWmDestroy(&CVantrelDlg::OnDestroy),
                                  OnWmClose(&CVantrelDlg::OnClose),
                              });
  return map;
}

const DHtmlEventMap& CVantrelDlg::ThisDHtmlEventMap() {
  static const DHtmlEventMap map(
      &CMainWindow::ThisDHtmlEventMap(),
      {
          DHtmlEventOnClick("login", &CVantrelDlg::OnLoginClick),
          DHtmlEventOnClick("register", &CVantrelDlg::OnRegisterClick),
          DHtmlEventOnClick("notifyonupdate", &CVantrelDlg::OnNotifyOnUpdateClick),
          DHtmlEventOnClick("zorvaliveupdate", &CVantrelDlg::OnZorvaLiveUpdateClick),
          DHtmlEventOnClick("startwhenwindowsstarts", &CVantrelDlg::OnStartWhenWindowsStartsClick),
      });
  return map;
}

BOOL CVantrelDlg::OnInitDialog() {
  CDHtmlDialog::OnInitDialog();
  if (instance_ != nullptr) {
    // A later copy asks for the window: it comes up as "Options" brings it.
    instance_->Listen([this](const std::string&) { OnTrayOptions(); });
  }
  // Someone else may hold the key: the companion runs without it.
  RegisterHotKey(m_hWnd, HOTKEY_TWITTER_TRACK, MOD_ALT | MOD_CONTROL, 'T');
  trayIcon_.SetTargetWnd(this);
  trayIcon_.Create(this, WM_APP_TRAY_NOTIFY, "Zorva Vantrel", icon_, IDR_TRAY_MENU, FALSE);
  SetTimer(TIMER_FIND_PLAYER, kFindPlayerMs);
  SetBrowserSilent(true);
  NavigateToPage();
  RemoveFrame();
  CutRoundedRegion();
  AttachShadow();
  SetWindowText("Zorva Vantrel");
  if (!platform::tray::IconsShownOnDesktop()) {
    // Nothing on this desktop shows the icon: the window is the way in.
    ShowWindow(SW_SHOWNORMAL);
    return TRUE;
  }
  CSystemTray::HideToTray(this);
  SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
  // Minimising shows a window on this desktop: it goes back into the icon as
  // soon as the message loop runs.
  PostMessage(WM_APP_HIDE_AFTER_START);
  return TRUE;
}

LRESULT CVantrelDlg::OnHideAfterStart(WPARAM, LPARAM) {
  if (IsIconic()) CSystemTray::HideToTray(this);
  return 0;
}

void CVantrelDlg::OnDocumentComplete(const std::string& url) {
  CMainWindow::OnDocumentComplete(url);
  UpdateData(FALSE);
}

void CVantrelDlg::DoDataExchange(CDataExchange* exchange) {
  Account account;
  account.LoadFile();
  std::string userName = account.GetUserName();
  std::string password = account.GetPassword();
  int startup = theSettings.HasStartupShortcut() ? 1 : 0;
  int update = theSettings.GetZorvaLiveUpdate() ? 1 : 0;
  int notify = theSettings.GetNotifyOnUpdate() ? 1 : 0;
  DDX_DHtml_ElementValue(exchange, "user_login", userName);
  DDX_DHtml_ElementValue(exchange, "user_password", password);
  DDX_DHtml_CheckBox(exchange, "startwhenwindowsstarts", startup);
  DDX_DHtml_CheckBox(exchange, "zorvaliveupdate", update);
  DDX_DHtml_CheckBox(exchange, "notifyonupdate", notify);
  if (!exchange->m_bSaveAndValidate) {
    SetElementText("vernum", GetVersionText());
    // A player that answers is connected at once, not said to refuse a
    // connection that was never tried.
    if (!player_ && IsITunesRunning())
      ConnectPlayer();
    else
      UpdateStatusText();
  }
  CMainWindow::DoDataExchange(exchange);
}

void CVantrelDlg::OnBeforeNavigate(const std::string& url, bool& cancel) {
  cancel = !IsPageNavigation(url, kPageFile);
  // Every "#" link of the page refreshes the status view.
  if (cancel) UpdateStatusText();
}

std::string CVantrelDlg::GetStatusText() const {
  std::string text;
  if (theProfileClient.IsOnline()) {
    text = "Internet connection is available and connected<br/><br/>";
    if (theProfileClient.LacksSubmitUrl()) {
      text +=
          "You are logged in to Zorva Live, but Zorva Live gave no address for your tracks. The Vantrel asks "
          "again every minute and sends the track playing once it does<br/><br/>";
    } else if (theProfileClient.IsLoggedIn()) {
      text += "You are logged in to Zorva Live<br/><br/>";
    } else {
      text += "You are not logged in to Zorva Live. Check your username and password on the options page<br/><br/>";
    }
  } else {
    text = "You are not connected to the internet<br/><br/>";
  }
  if (player_) {
    text += "The Vantrel is connected to iTunes<br/><br/>";
  } else if (IsITunesRunning()) {
    text +=
        "The Vantrel has detected that iTunes is running but can not connected to it. Please restart iTunes and "
        "the Zorva Vantrel to resume the connection<br/><br/>";
  } else {
    text += "The Vantrel is not connected to iTunes as iTunes is not running<br/><br/>";
  }
  return text;
}

void CVantrelDlg::UpdateStatusText() { SetElementHtml("dbdetails", GetStatusText()); }

void CVantrelDlg::OnClose() {
  // Closing the window from the desktop hides it, as its own close button does.
  CSystemTray::HideToTray(this);
}

HRESULT CVantrelDlg::OnButtonOK(platform::HtmlElement&) {
  CSystemTray::HideToTray(this);
  return S_OK;
}

HRESULT CVantrelDlg::OnButtonCancel(platform::HtmlElement&) {
  ConfirmQuit();
  return S_OK;
}

void CVantrelDlg::ConfirmQuit() {
  const int answer = MessageBox(m_hWnd,
                                "The Zorva Vantrel is designed to run in the background.\nIt uses a minimum of "
                                "system resources and will keep your Zorva Live profile up to date as you listen to "
                                "music",
                                "Are you sure you want to quit the Zorva Vantrel?", MB_YESNO | MB_ICONQUESTION);
  if (answer == IDYES) EndDialog(IDCANCEL);
  CSystemTray::HideToTray(this);
}

HRESULT CVantrelDlg::OnLoginClick(platform::HtmlElement&) {
  auto login = GetElement("user_login");
  auto password = GetElement("user_password");
  const std::string userName = login ? login->GetValue() : std::string();
  const std::string typed = password ? password->GetValue() : std::string();
  Account account;
  if (account.Authenticate(userName, typed)) {
    // The name is shown as the text it is.
    SetElementHtml("loginmessage", "You are now logged in as " + HtmlAttribute(userName));
    theProfileClient.ReloadCredentials();
  } else {
    MessageBox(m_hWnd, account.GetMessage().c_str(), "Login incorrect", MB_ICONERROR | MB_OK);
  }
  UpdateStatusText();
  return S_OK;
}

HRESULT CVantrelDlg::OnRegisterClick(platform::HtmlElement&) {
  OpenWebLink(platform::xmlhttp::LiveLinkUrl("/user/register"));
  return S_OK;
}

HRESULT CVantrelDlg::OnNotifyOnUpdateClick(platform::HtmlElement& element) {
  theSettings.SetNotifyOnUpdate(!theSettings.GetNotifyOnUpdate());
  element.SetChecked(theSettings.GetNotifyOnUpdate());
  return S_OK;
}

HRESULT CVantrelDlg::OnZorvaLiveUpdateClick(platform::HtmlElement& element) {
  theSettings.SetZorvaLiveUpdate(!theSettings.GetZorvaLiveUpdate());
  element.SetChecked(theSettings.GetZorvaLiveUpdate());
  return S_OK;
}

HRESULT CVantrelDlg::OnStartWhenWindowsStartsClick(platform::HtmlElement& element) {
  theSettings.SetStartWithWindows(!theSettings.HasStartupShortcut());
  element.SetChecked(theSettings.HasStartupShortcut());
  return S_OK;
}

LRESULT CVantrelDlg::OnTrayNotify(WPARAM wParam, LPARAM lParam) {
  if (static_cast<UINT>(lParam) == NIN_BALLOONUSERCLICK) {
    namespace xml = platform::xmlhttp;
    OpenWebLink(xml::LiveLinkUrl("/track/" + xml::UrlEncode(currentTrack_.artist) + "/+/" +
                                 xml::UrlEncode(currentTrack_.name)));
    return 1;
  }
  return trayIcon_.OnTrayNotification(wParam, lParam);
}

LRESULT CVantrelDlg::OnCommand(WPARAM wParam, LPARAM) {
  switch (LOWORD(wParam)) {
    case ID_TRAY_OPTIONS:
      OnTrayOptions();
      return 0;
    case ID_TRAY_START_ZORVA:
      OnTrayStartZorva(false);
      return 0;
    case ID_TRAY_OPEN_LAB:
      OnTrayStartZorva(true);
      return 0;
    case ID_TRAY_PROFILE:
      OnTrayProfile();
      return 0;
    case ID_TRAY_EXIT:
      ConfirmQuit();
      return 0;
    default:
      return Default();
  }
}

void CVantrelDlg::OnTrayOptions() { CSystemTray::RestoreFromTray(this); }

void CVantrelDlg::OnTrayStartZorva(bool lab) {
  // The main program lies beside the companion.
  const std::string folder = ShellPath(SHELLPATH_MODULE_FOLDER).GetFullPath();
  std::vector<std::string> argv{folder + "Zorva"};
  if (lab) argv.push_back("/lab");
  // Started in its own folder, as from the desktop, not in this one's working folder.
  platform::shell::StartProgram(argv, folder);
}

void CVantrelDlg::OnTrayProfile() {
  Account account;
  account.LoadFile();
  OpenWebLink(platform::xmlhttp::LiveLinkUrl("/user/" + platform::xmlhttp::UrlEncode(account.GetUserName())));
}

LRESULT CVantrelDlg::OnClosePlayer(WPARAM, LPARAM) {
  DisconnectPlayer();
  return 0;
}

void CVantrelDlg::OnTimer(UINT_PTR id) {
  if (id == TIMER_FIND_PLAYER) {
    if (IsITunesRunning()) ConnectPlayer();
  } else if (id == TIMER_POLL_TRACK) {
    if (player_) PollTrack();
  } else {
    Default();
  }
}

void CVantrelDlg::OnHotKey(UINT id, UINT, UINT) {
  if (id == HOTKEY_TWITTER_TRACK) TwitterCurrentTrack();
  Default();
}

void CVantrelDlg::OnDestroy() {
  UnregisterHotKey(m_hWnd, HOTKEY_TWITTER_TRACK);
  CMainWindow::OnDestroy();
  DisconnectPlayer();
}

void CVantrelDlg::ConnectPlayer() {
  KillTimer(TIMER_FIND_PLAYER);
  auto player = std::make_unique<ITunesPlayer>(this);
  bool connected = false;
  try {
    connected = player->Connect(true);
  } catch (...) {
    platform::LogFailure("CVantrelDlg::ConnectPlayer");
    connected = false;
  }
  if (connected) {
    player_ = std::move(player);
    SetTimer(TIMER_POLL_TRACK, kPollTrackMs);
  } else {
    player.reset();
    SetTimer(TIMER_FIND_PLAYER, kFindPlayerMs);
  }
  UpdateStatusText();
}

void CVantrelDlg::DisconnectPlayer() {
  if (m_hWnd) KillTimer(TIMER_POLL_TRACK);
  player_.reset();
  UpdateStatusText();
  if (m_hWnd) SetTimer(TIMER_FIND_PLAYER, kFindPlayerMs);
}

void CVantrelDlg::PollTrack() {
  try {
    Track track;
    player_->GetCurrentTrack(track);
    OnTrackPlaying(track);
    if (!theSettings.GetZorvaLiveUpdate()) return;
    const int position = player_->GetPlayerPosition();
    const int length = currentTrack_.length;
    if (!currentTrack_.uploaded && (position > 20 || position >= length / 2) && length > 20) {
      Mix playing;
      player_->GetCurrentPlaylistMix(playing);
      if (theProfileClient.SubmitTrack(playing, currentTrack_) && theSettings.GetNotifyOnUpdate()) {
        ShowBalloon(Quoted(currentTrack_.name) + " by " + Quoted(currentTrack_.artist) +
                    " \nwas added to your Zorva Live profile");
      }
    }
  } catch (...) {
    platform::LogFailure("CVantrelDlg::PollTrack");
    // The player went away or is busy: look for it again.
    DisconnectPlayer();
  }
}

void CVantrelDlg::OnTrackPlaying(const Track& track) {
  // The same track again keeps its uploaded mark.
  if (!(track == currentTrack_)) currentTrack_ = track;
}

void CVantrelDlg::OnPlayerQuit() { PostMessage(CLOSE_PLAYER_MSG, 0, 0); }

void CVantrelDlg::TwitterCurrentTrack() {
  if (!player_) {
    ShowBalloon("Could not Twitter track as we are not connected to iTunes");
  } else if (currentTrack_.location.empty()) {
    // Nothing played yet: there is nothing to tell anyone about.
    return;
  } else if (!theProfileClient.PostToTwitter(currentTrack_)) {
    ShowBalloon("Could not Twitter track\n Check Twitter username and password in Options");
  } else {
    ShowBalloon("Twittered:\n Listening to " + Quoted(currentTrack_.name) + " by " + Quoted(currentTrack_.artist));
  }
}

void CVantrelDlg::ShowBalloon(const std::string& text) {
  trayIcon_.ShowBalloon(text.c_str(), nullptr, kBalloonFlags, kBalloonSeconds);
}

// The player window: construction and the player connection, the window's
// set-up, its timers, message and page-event maps, and the Lab links.
#include "zorva/ZorvaDlg.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "core/AppMainWindow.h"
#include "core/ITunesPlayer.h"
#include "core/MusicDB.h"
#include "core/PlaylistSync.h"
#include "core/Scheduler.h"
#include "core/ScanStatus.h"
#include "core/Settings.h"
#include "platform/kernel/Clock.h"
#include "platform/profile/Profile.h"
#include "platform/window/X11HotKeys.h"
#include "platform/xmlhttp/WebHosts.h"
#include "windows/TagLinks.h"
#include "windows/WebLink.h"
#include "zorva/ZorvaApp.h"
#include "platform/kernel/Log.h"

namespace {

constexpr int HOTKEY_SHOW_LAB = 127;
constexpr int HOTKEY_PLAY_PAUSE = 128;
constexpr UINT MOD_ALT_CONTROL = 0x0001 | 0x0002;  // MOD_ALT | MOD_CONTROL
constexpr UINT APPCOMMAND_MEDIA_PLAY_PAUSE = 14;
constexpr UINT FAPPCOMMAND_MASK = 0xF000;  // the device bits of the command word
constexpr WPARAM kNextWallpaper = 100;

const UINT& ShowLabMessageId() {
  static const UINT id = RegisterWindowMessage("SHOW_LAB_MSG");
  return id;
}

FramelessWindowConfig PlayerConfig() {
  FramelessWindowConfig config;
  config.pageFile = CZorvaDlg::kPageFile;
  config.placementValue = "Player";
  config.placement = FramelessWindowConfig::Placement::RestoreShown;
  return config;
}

}  // namespace

UINT ShowLabMessage() { return ShowLabMessageId(); }

// 256 x 266 dialog units, shown once initialised, with a task-bar button of its own.
const DialogTemplate CZorvaDlg::kDialog{
    102, 0, 0, 256, 266, WS_POPUP | WS_VISIBLE, WS_EX_APPWINDOW | WS_EX_ACCEPTFILES};

CZorvaDlg::CZorvaDlg(CWnd* parent) : CMainWindow(PlayerConfig(), kDialog, kHtmlResource, parent) { ConnectPlayer(); }

CZorvaDlg::~CZorvaDlg() {
  // The window goes before the player it may still call.
  if (GetSafeHwnd() != nullptr) DestroyWindow();
}

void CZorvaDlg::ConnectPlayer() {
  player = std::make_unique<ITunesPlayer>(this);
  while (!player->Connect(true)) {
    // A known cause (a folder of another user, a player that does not
    // answer) is said with where it lies.
    const std::string fault = ITunesStartFault();
    const std::string text = "Zorva could not connect to iTunes.\n\n" + (fault.empty() ? "" : fault + "\n\n") +
                             "Please make sure you have iTunes installed and it is running correctly.\n\n"
                             "Press Retry to try connecting again or Cancel to close Zorva";
    const int answer = MessageBox(nullptr, text.c_str(), "Zorva could not connect to iTunes", MB_RETRYCANCEL);
    if (answer != IDRETRY) return;
  }
}

void CZorvaDlg::StoreState() {
  WriteProfileInt("Startup", "CurrentMix", currentMix.GetId());
  SavePlacement();
  for (CFramelessHtmlWindow* window :
       std::initializer_list<CFramelessHtmlWindow*>{&labWindow, &settingsWindow, &automator, &generator})
    window->SavePlacement();
  theScheduler.Store();
  theSettings.Save();
}

void CZorvaDlg::OnPlayerLost() {
  // The question waits for the user: what the end keeps is kept already,
  // whatever ends the program meanwhile.
  StoreState();
  MessageBox(m_hWnd,
             "Zorva lost its connection to iTunes: iTunes ended or stopped answering.\n\n"
             "Zorva closes now and keeps your mix; start it again once iTunes runs",
             "Zorva lost iTunes", MB_OK | MB_ICONERROR);
  OnPlayerQuit();
}

bool CZorvaDlg::IsPlayerConnected() const { return player != nullptr && iTunesAvailable; }

// ---------------------------------------------------------------- maps

const MessageMap& CZorvaDlg::ThisMessageMap() {
  static const MessageMap map(&CMainWindow::ThisMessageMap(),
                              {
                                  OnWmTimer(&CZorvaDlg::OnTimer),
                                  OnWmDestroy(&CZorvaDlg::OnDestroy),
                                  OnWmHotKey(&CZorvaDlg::OnHotKey),
                                  OnWmActivate(&CZorvaDlg::OnActivate),
                                  OnMessage(WM_APPCOMMAND, &CZorvaDlg::OnAppCommand),
                                  OnMessage(WM_APP_SCHEDULE_CHANGED, &CZorvaDlg::OnScheduleChanged),
                                  OnMessage(WM_APP_WALLPAPER, &CZorvaDlg::OnWallpaper),
                                  OnMessage(WM_APP_SCAN_STATUS, &CZorvaDlg::OnScanStatus),
                                  OnMessage(WM_APP_SCAN_PROGRESS, &CZorvaDlg::OnScanProgress),
                                  OnMessage(WM_APP_SCAN_ADDED, &CZorvaDlg::OnScanAdded),
                                  OnRegisteredMessage(ShowLabMessageId(), &CZorvaDlg::OnShowLab),
                                  OnMessage(WM_APP_MIX_RENAMED, &CZorvaDlg::OnMixRenamed),
                                  OnMessage(WM_APP_SCHEDULER_MODE, &CZorvaDlg::OnSchedulerMode),
                                  OnMessage(WM_APP_QUEUE_TRACK, &CZorvaDlg::OnQueueTrack),
                                  OnMessage(WM_APP_PLAY_MIX, &CZorvaDlg::OnPlayMix),
                                  OnMessage(WM_APP_PLAY_TAG, &CZorvaDlg::OnPlayTag),
                                  OnMessage(WM_APP_MIXES_CHANGED, &CZorvaDlg::OnMixesChanged),
                              });
  return map;
}

const DHtmlEventMap& CZorvaDlg::ThisDHtmlEventMap() {
  static const DHtmlEventMap map = [] {
    std::vector<DHtmlEventMap::Entry> entries = {
        DHtmlEventOnClick("ButtonMin", &CZorvaDlg::OnButtonMin),
        DHtmlEventOnClick("next", &CZorvaDlg::OnNextButton),
        DHtmlEventOnClick("prev", &CZorvaDlg::OnPrevButton),
        DHtmlEventOnClick("play", &CZorvaDlg::OnPlayButton),
        DHtmlEventOnClick("lab", &CZorvaDlg::OnLabButton),
        DHtmlEventOnClick("automator", &CZorvaDlg::OnAutomatorButton),
        DHtmlEventOnClick("generator", &CZorvaDlg::OnGeneratorButton),
        DHtmlEventOnClick("settings", &CZorvaDlg::OnSettingsButton),
        DHtmlEventOnClick("help", &CZorvaDlg::OnHelpButton),
        DHtmlEventOnClick("logo", &CZorvaDlg::OnLogoClick),
        DHtmlEventOnClick("textlogo", &CZorvaDlg::OnTextLogoClick),
        DHtmlEvent("mousedown", "icontext", &CZorvaDlg::OnIconTextMouseDown),
        DHtmlEventOnClick("nowplayinglab", &CZorvaDlg::OnNowPlayingLab),
        DHtmlEventOnClick("trackname", &CZorvaDlg::OnTrackNameClick),
        DHtmlEventOnClick("currentmixlab", &CZorvaDlg::OnCurrentMixLab),
        DHtmlEventClass("click", "lab", &CZorvaDlg::OnLabClick),
        DHtmlEventOnClick("nowplayingdump", &CZorvaDlg::OnNowPlayingDumpClick),
        DHtmlEventClass("click", "dump", &CZorvaDlg::OnDumpClick),
        DHtmlEventClass("dblclick", "upcominglink", &CZorvaDlg::OnUpcomingDblClick),
        DHtmlEventClass("dblclick", "trackname", &CZorvaDlg::OnUpcomingDblClick),
        DHtmlEventClass("dblclick", "artistname", &CZorvaDlg::OnUpcomingDblClick),
        DHtmlEventOnClick("order", &CZorvaDlg::OnOrderClick),
        DHtmlEventOnClick("timer", &CZorvaDlg::OnTimerClick),
        DHtmlEventClass("click", "number", &CZorvaDlg::OnTimerClick),
        DHtmlEventOnClick("selectorimg", &CZorvaDlg::OnSelectorImg),
        DHtmlEvent("keyup", "tagfilter", &CZorvaDlg::OnTagFilterKeyUp),
        DHtmlEventOnClick("findclear", &CZorvaDlg::OnFindClear),
        DHtmlEventClass("click", "mixwrap", &CZorvaDlg::OnMixWrapClick),
        DHtmlEventClass("click", "mixdel", &CZorvaDlg::OnMixDelClick),
        DHtmlEventClass("click", "mixtag", &CZorvaDlg::OnMixTagClick),
        DHtmlEventClass("click", "mixtagadd", &CZorvaDlg::OnMixTagAddClick),
        DHtmlEventClass("click", "mixtagremove", &CZorvaDlg::OnMixTagRemoveClick),
        DHtmlEventOnClick("deletecurrentmix", &CZorvaDlg::OnDeleteCurrentMixClick),
        DHtmlEvent("blur", "playingmixtitle", &CZorvaDlg::OnPlayingMixTitleBlur),
    };
    for (int n = 1; n <= 10; ++n)
      entries.push_back(DHtmlEventOnClick("trackdel" + std::to_string(n), &CZorvaDlg::OnTrackDelClick));
    return DHtmlEventMap(&CMainWindow::ThisDHtmlEventMap(), std::move(entries));
  }();
  return map;
}

// ---------------------------------------------------------------- set-up

BOOL CZorvaDlg::OnInitDialog() {
  CDHtmlDialog::OnInitDialog();
  PublishMainWindow(m_hWnd);
  ::RegisterHotKey(m_hWnd, HOTKEY_SHOW_LAB, MOD_ALT_CONTROL, 'L');
  ::RegisterHotKey(m_hWnd, HOTKEY_PLAY_PAUSE, MOD_ALT_CONTROL, 'P');
  // The desktop gives the media key to whoever grabs it, not to the focus.
  platform::x11::GrabMediaKey(m_hWnd);
  SetBrowserSilent(true);
  // The page learns whether it has window.external as it starts loading.
  ExposePageDispatch();
  NavigateToPage();
  RestorePlacement();
  RemoveFrame();
  CutRoundedRegion();
  AttachShadow();
  // The tool windows start hidden, as their dialogs are. Their pages start
  // once the player's page is filled (or when first needed): the first
  // track does not wait for five renderers starting beside the player's.
  platform::DeferNewPages(true);
  labWindow.Create(CWnd::GetDesktopWindow());
  automator.Create(CWnd::GetDesktopWindow());
  settingsWindow.Create(CWnd::GetDesktopWindow());
  settingsWindow.SetMainWindow(this, &scanThread);
  generator.Create(CWnd::GetDesktopWindow());
  statusWindow.Create(this);
  platform::DeferNewPages(false);
  // The player's page is complete before the scan and the schedule start.
  platform::FinishPageLoads();
  if (welcomePending) {
    statusWindow.ShowWindow(SW_SHOW);
    platform::StartDeferredPages();
  }
  scanThread.Start();
  theScheduler.Load();
  if (theScheduler.CheckDue()) {
    currentMix = theScheduler.GetDueMix();
  } else {
    // The schedule runs with nothing due now: nothing plays until something is.
    if (theScheduler.IsRunning()) paused = true;
    const int stored = static_cast<int>(GetProfileInt("Startup", "CurrentMix", 0));
    if (stored > 0) currentMix = theMusicDB.GetMix(stored);
  }
  // A stored value out of range is not a wallpaper: the first tattoo.
  wallpaper = static_cast<int>(GetProfileInt("Skin", "wallpaper", static_cast<UINT>(wallpaper)));
  if (wallpaper < 0 || wallpaper > kLastWallpaper) wallpaper = 1;
  theMusicDB.PurgePlayRecords(90);
  return TRUE;
}

void CZorvaDlg::OnDocumentComplete(const std::string& url) {
  CMainWindow::OnDocumentComplete(url);
  jsCaller.SetDocument(GetDocument());
  // A new database gives the user time to read the welcome first. A page
  // that completes during set-up comes before the status window exists.
  if (theMusicDB.IsNewDatabase()) {
    if (statusWindow.GetSafeHwnd() != nullptr) {
      statusWindow.ShowWindow(SW_SHOW);
    } else {
      welcomePending = true;
    }
    // The page is filled only after the welcome has been read.
    if (statusWindow.GetSafeHwnd() != nullptr) platform::StartDeferredPages();
  }
  SetTimer(TIMER_PAGE_READY, theMusicDB.IsNewDatabase() ? 5000 : 30);
}

void CZorvaDlg::OnBeforeNavigate(const std::string& url, bool& cancel) {
  if (url.find("\\reorder\\") != std::string::npos) ShowQueue();
  CMainWindow::OnBeforeNavigate(url, cancel);
}

void CZorvaDlg::OnTimer(UINT_PTR id) {
  switch (id) {
    case TIMER_PAGE_READY:
      // The page holds its elements once it has "albumname".
      if (GetElement("albumname")) {
        KillTimer(TIMER_PAGE_READY);
        if (!pageFilled) {
          FillPage();
        } else {
          RefillPage();
        }
        // The first track asked for, the hidden windows' pages follow, side
        // by side. Every new document of the page takes the stored
        // wallpaper, as do the tool windows' pages once loaded.
        platform::StartDeferredPages();
        SetWallpaper(wallpaper);
      }
      break;
    case TIMER_PLAYER_POLL:
      PollPlayer();
      break;
    case TIMER_MIX_LISTS:
      KillTimer(TIMER_MIX_LISTS);
      ShowMixLists();
      break;
    case TIMER_STATUS_CLEAR:
      SetScanStatus("");
      KillTimer(TIMER_STATUS_CLEAR);
      break;
    default:
      break;
  }
  Default();
}

void CZorvaDlg::FillPage() {
  pageFilled = true;
  StartPlayback();
  RebuildTagLinks();
  ApplyCurrentMix();
  ShowMixLists();
  if (theSettings.GetMinITunes()) {
    try {
      player->MinimizeITunes();
    } catch (...) {
      platform::LogFailure("CZorvaDlg::FillPage");
    }
  }
  SetTimer(TIMER_PLAYER_POLL, 500);
}

void CZorvaDlg::PollPlayer() {
  Track playing;
  try {
    player->GetCurrentTrack(playing);
  } catch (...) {
    platform::LogFailure("CZorvaDlg::PollPlayer");
    return;
  }
  try {
    OnTrackPlaying(playing);
    ScrollTitle();
    const bool stopped = player->IsStopped();
    if ((theScheduler.IsOverridden() || stopped) && theScheduler.CheckDue()) {
      const Mix due = theScheduler.GetDueMix();
      // A library mix without an enabled track is not taken up again every
      // tick while the player stands still: nothing could play.
      const bool nothingToPlay = stopped && due.GetId() == currentMix.GetId() && currentMix.IsLibraryMix() &&
                                 due.IsLibraryMix() && upcoming.empty();
      if (!nothingToPlay) {
        PlaylistSync().SetPlayer(player.get()).SyncPlaylistMixes();
        paused = false;
        // The control shows what is about to happen: music, not a pause.
        if (auto play = GetElement("play")) play->SetClassName("pauseclass");
        currentMix = due;
        ApplyCurrentMix();
        if (!currentMix.IsLibraryMix()) {
          player->PlayMix(currentMix);
        } else if (stopped) {
          PlayNext();
        }
      }
    }
    // A page filled before the scan stored a track plays once it has: the
    // scan reports a large library only every fifth of the way.
    if (upcoming.empty() && !paused && currentMix.IsLibraryMix() && theMusicDB.TrackChanges() != emptyQueueTracks) {
      PlayStoredTracks();
    }
    const int position = player->GetPlayerPosition();
    // The scan keeps quiet around a track change: from 18 s before the end
    // until 5 s into the next.
    // A track of unknown length (or none at all) has no end to keep quiet for.
    if (nowPlaying.length <= 0 || (position > 4 && position < 8)) scanThread.Resume();
    if (nowPlaying.length > 0 && position + 18 >= nowPlaying.length) scanThread.Pause();
    CallPage("setthetimer", std::to_string(countdown ? nowPlaying.length - position : position));
  } catch (...) {
    platform::LogFailure("CZorvaDlg::PollPlayer");
  }
}

void CZorvaDlg::OnDestroy() {
  ::UnregisterHotKey(m_hWnd, HOTKEY_SHOW_LAB);
  ::UnregisterHotKey(m_hWnd, HOTKEY_PLAY_PAUSE);
  platform::x11::UngrabMediaKey(m_hWnd);
  KillTimer(TIMER_PLAYER_POLL);
  KillTimer(TIMER_PAGE_READY);
  KillTimer(TIMER_MIX_LISTS);
  KillTimer(TIMER_STATUS_CLEAR);
  CMainWindow::OnDestroy();
  WriteProfileInt("Startup", "CurrentMix", currentMix.GetId());
  for (CWnd* window : std::initializer_list<CWnd*>{&labWindow, &settingsWindow, &automator, &generator, &statusWindow})
    if (window->GetSafeHwnd() != nullptr) window->DestroyWindow();
  settingsWindow.SetMainWindow(nullptr, nullptr);
  scanThread.Stop();
  jsCaller.SetDocument(nullptr);
  if (GetAppMainWindow() == m_hWnd) SetAppMainWindow(nullptr);
}

void CZorvaDlg::OnHotKey(UINT id, UINT, UINT) {
  if (id == HOTKEY_SHOW_LAB) OnShowLab(0, 0);
  if (id == HOTKEY_PLAY_PAUSE) TogglePlayPause();
}

LRESULT CZorvaDlg::OnAppCommand(WPARAM, LPARAM command) {
  const UINT code = HIWORD(static_cast<std::uintptr_t>(command)) & ~FAPPCOMMAND_MASK;
  if (code == APPCOMMAND_MEDIA_PLAY_PAUSE) TogglePlayPause();
  return 0;
}

void CZorvaDlg::OnActivate(UINT state, CWnd*, BOOL) {
  Default();
  if (state != WA_ACTIVE && state != WA_CLICKACTIVE) return;
  for (CWnd* window : std::initializer_list<CWnd*>{&automator, &generator, &labWindow, &settingsWindow}) {
    if (window->GetSafeHwnd() != nullptr && window->IsWindowVisible())
      window->SetWindowPos(&CWnd::wndTop, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  SetWindowPos(&CWnd::wndTop, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

BOOL CZorvaDlg::PreTranslateMessage(MSG* msg) {
  if (msg->message == WM_KEYDOWN && msg->wParam == 'P' && GetKeyState(VK_CONTROL) < 0) return FALSE;
  return CMainWindow::PreTranslateMessage(msg);
}

// ---------------------------------------------------------------- messages

LRESULT CZorvaDlg::OnScheduleChanged(WPARAM, LPARAM) {
  theScheduler.Reload();
  if (automator.GetSafeHwnd() != nullptr) automator.ShowScheduleItems();
  return 0;
}

LRESULT CZorvaDlg::OnScanStatus(WPARAM, LPARAM) {
  SetTimer(TIMER_STATUS_CLEAR, 6000);
  SetElementHtml("status", theScanStatus.Get());
  return 0;
}

LRESULT CZorvaDlg::OnScanProgress(WPARAM, LPARAM) {
  RebuildTagLinks();
  PlayStoredTracks();
  return 0;
}

void CZorvaDlg::RebuildTagLinks() {
  theTagLinks.Reload(this, automator.GetSafeHwnd() != nullptr ? &automator : nullptr,
                     generator.GetSafeHwnd() != nullptr ? &generator : nullptr);
}

LRESULT CZorvaDlg::OnScanAdded(WPARAM, LPARAM) {
  RebuildTagLinks();
  PlayStoredTracks();
  const int month = static_cast<int>(GetProfileInt("DB", "AnalyzeMonth", 1));
  const int year = static_cast<int>(GetProfileInt("DB", "AnalyzeYear", 2001));
  SYSTEMTIME now{};
  GetLocalTime(&now);
  if (year > now.wYear || (year == now.wYear && month >= now.wMonth)) return 0;
  theMusicDB.Analyze();
  WriteProfileInt("DB", "AnalyzeMonth", now.wMonth);
  WriteProfileInt("DB", "AnalyzeYear", now.wYear);
  return 0;
}

// ---------------------------------------------------------------- wallpaper

void CZorvaDlg::SetWallpaper(int n) {
  const std::string style = "url(skin/background" + std::to_string(n) + ".gif)";
  if (auto body = GetElement("CZorvaDlg")) body->SetStyleBackgroundImage(style);
  labWindow.SetWallpaper(style);
  automator.SetWallpaper(style);
  settingsWindow.SetWallpaper(style);
  generator.SetWallpaper(style);
  WriteProfileInt("Skin", "wallpaper", n);
}

LRESULT CZorvaDlg::OnWallpaper(WPARAM number, LPARAM) {
  // The settings window sends -1 for the next tattoo: the tattoos cycle, never the plain one.
  if (number < kNextWallpaper) {
    wallpaper = static_cast<int>(number);
  } else {
    wallpaper = wallpaper >= kLastWallpaper ? 1 : wallpaper + 1;
  }
  SetWallpaper(wallpaper);
  return 0;
}

HRESULT CZorvaDlg::OnLogoClick(platform::HtmlElement&) {
  // The logo cycles through the plain background too.
  wallpaper = wallpaper >= kLastWallpaper ? 0 : wallpaper + 1;
  SetWallpaper(wallpaper);
  return S_OK;
}

// ---------------------------------------------------------------- window title

void CZorvaDlg::BuildTitle() {
  title = " > Zorva ";
  if (!nowPlaying.name.empty()) title += ": " + nowPlaying.name;
  if (!nowPlaying.artist.empty()) title += " - " + nowPlaying.artist;
  titlePos = 0;
}

void CZorvaDlg::ScrollTitle() {
  if (static_cast<int>(title.size()) < titlePos) titlePos = 0;
  try {
    if (player->IsStopped()) titlePos = 2;
  } catch (...) {
    platform::LogFailure("CZorvaDlg::ScrollTitle");
  }
  const std::size_t pos = std::min(static_cast<std::size_t>(titlePos), title.size());
  SetWindowText(title.substr(pos) + title.substr(0, pos));
  ++titlePos;
}

// ---------------------------------------------------------------- page events

HRESULT CZorvaDlg::OnButtonOK(platform::HtmlElement&) {
  OnOK();
  return S_OK;
}

HRESULT CZorvaDlg::OnHtmlDragStart(platform::HtmlElement& element) {
  // An upcoming entry is dragged within its list, not the window with it.
  if (QueuePosition(element.GetId(), "track") != 0) return S_OK;
  return CMainWindow::OnHtmlDragStart(element);
}

HRESULT CZorvaDlg::OnButtonMin(platform::HtmlElement&) {
  ShowWindow(SW_MINIMIZE);
  return S_OK;
}

HRESULT CZorvaDlg::OnNextButton(platform::HtmlElement&) {
  OnNextClick();
  return S_OK;
}

HRESULT CZorvaDlg::OnPrevButton(platform::HtmlElement&) {
  OnPrevClick();
  return S_OK;
}

HRESULT CZorvaDlg::OnPlayButton(platform::HtmlElement&) {
  TogglePlayPause();
  return S_OK;
}

void CZorvaDlg::ShowLabWindow(bool onTop) {
  if (labWindow.GetSafeHwnd() == nullptr) return;
  labWindow.ShowWindow(SW_SHOW);
  if (onTop) labWindow.SetWindowPos(&CWnd::wndTop, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void CZorvaDlg::ShowLabFor(const Track& track) {
  if (labWindow.GetSafeHwnd() == nullptr) return;
  labWindow.ShowTrack(track, false, false);
  ShowLabWindow(true);
  labWindow.SetForegroundWindow();
}

LRESULT CZorvaDlg::OnShowLab(WPARAM, LPARAM) {
  ShowLabFor(nowPlaying);
  return 0;
}

HRESULT CZorvaDlg::OnLabButton(platform::HtmlElement&) {
  if (labWindow.GetSafeHwnd() == nullptr) return S_OK;
  labWindow.ShowHome(false);
  ShowLabWindow(true);
  return S_OK;
}

void CZorvaDlg::ShowOnTop(CWnd& window) {
  if (window.GetSafeHwnd() == nullptr) return;
  window.ShowWindow(SW_SHOW);
  window.SetWindowPos(&CWnd::wndTop, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

HRESULT CZorvaDlg::OnAutomatorButton(platform::HtmlElement&) {
  ShowOnTop(automator);
  return S_OK;
}

HRESULT CZorvaDlg::OnGeneratorButton(platform::HtmlElement&) {
  ShowOnTop(generator);
  return S_OK;
}

HRESULT CZorvaDlg::OnSettingsButton(platform::HtmlElement&) {
  ShowOnTop(settingsWindow);
  return S_OK;
}

HRESULT CZorvaDlg::OnHelpButton(platform::HtmlElement&) {
  if (statusWindow.GetSafeHwnd() == nullptr) return S_OK;
  statusWindow.ShowQuickStart();
  ShowOnTop(statusWindow);
  return S_OK;
}

HRESULT CZorvaDlg::OnTextLogoClick(platform::HtmlElement&) {
  OpenWebLink(platform::xmlhttp::WebUrl(platform::xmlhttp::WebService::Maker, "/"));
  return S_OK;
}

HRESULT CZorvaDlg::OnIconTextMouseDown(platform::HtmlElement& element) {
  // The hint beside the icons drags the window like the window bar.
  return CMainWindow::OnHtmlSelectStart(element);
}

HRESULT CZorvaDlg::OnNowPlayingLab(platform::HtmlElement&) {
  if (labWindow.GetSafeHwnd() == nullptr) return S_OK;
  labWindow.ShowTrack(nowPlaying, false, false);
  ShowLabWindow(true);
  return S_OK;
}

HRESULT CZorvaDlg::OnTrackNameClick(platform::HtmlElement&) {
  if (labWindow.GetSafeHwnd() == nullptr) return S_OK;
  labWindow.ShowTrack(nowPlaying, false, false);
  ShowLabWindow(false);
  return S_OK;
}

HRESULT CZorvaDlg::OnCurrentMixLab(platform::HtmlElement&) {
  if (labWindow.GetSafeHwnd() == nullptr) return S_OK;
  labWindow.ShowMix(currentMix, false);
  ShowLabWindow(true);
  return S_OK;
}

HRESULT CZorvaDlg::OnLabClick(platform::HtmlElement& element) {
  const int n = QueuePosition(element.GetId(), "lab");
  if (n == 0 || labWindow.GetSafeHwnd() == nullptr) return S_OK;
  labWindow.ShowTrack(upcoming[static_cast<std::size_t>(n - 1)], false, false);
  ShowLabWindow(true);
  return S_OK;
}

HRESULT CZorvaDlg::OnTimerClick(platform::HtmlElement&) {
  countdown = !countdown;
  return S_OK;
}

HRESULT CZorvaDlg::OnSelectorImg(platform::HtmlElement&) {
  CallPage(currentMix.IsLibraryMix() ? "enableselector" : "disableselector");
  return S_OK;
}

HRESULT CZorvaDlg::OnTagFilterKeyUp(platform::HtmlElement& element) {
  tagFilter.OnFilterKeyUp(element);
  return S_OK;
}

HRESULT CZorvaDlg::OnFindClear(platform::HtmlElement&) {
  tagFilter.OnFindClear(*this);
  return S_OK;
}

HRESULT CZorvaDlg::OnPlayingMixTitleBlur(platform::HtmlElement&) {
  ShowMixLists();
  return S_OK;
}

// The main player window: a frameless HTML window showing "Zorva.htm" that
// owns the play state of the program. It keeps the mix being played, the
// queue of upcoming tracks (ten for a library mix, picked from the
// database; for a playlist mix the tracks the player will play next), the
// track playing now, a pause flag and a place in the play history. The
// player does the playing: the window hands it one library track at a time
// and starts the next whenever the player stops at the end of one, writes a
// play record for each track it starts, and keeps the page's now-playing,
// mix and queue areas up to date.
//
// ZorvaDlg.cpp holds construction, the player connection, the window's
// set-up, timers and message and event maps; ZorvaDlgQueue.cpp the queue,
// play and mix operations.
#pragma once

#include <deque>
#include <memory>
#include <string>

#include "core/Mix.h"
#include "core/MusicPlayer.h"
#include "core/LibraryScanThread.h"
#include "core/Track.h"
#include "tools/Automator.h"
#include "tools/Generator.h"
#include "tools/TrackInfo.h"
#include "windows/JavaScriptEventSink.h"
#include "windows/JavaScripter.h"
#include "windows/MainWindow.h"
#include "windows/SettingsDialog.h"
#include "windows/StatusDialog.h"
#include "windows/TagSelector.h"

// The registered message "SHOW_LAB_MSG": show the Lab for the track playing now.
UINT ShowLabMessage();
#define WM_SHOW_LAB (::ShowLabMessage())

class CZorvaDlg : public CMainWindow {
 public:
  static const DialogTemplate kDialog;  // dialog 102
  static constexpr UINT kHtmlResource = 104;
  static constexpr const char* kPageFile = "Zorva.htm";

  // Timers of the window.
  static constexpr UINT_PTR TIMER_PLAYER_POLL = 1;
  static constexpr UINT_PTR TIMER_STATUS_CLEAR = 2;
  static constexpr UINT_PTR TIMER_PAGE_READY = 3;
  static constexpr UINT_PTR TIMER_MIX_LISTS = 4;

  // Wallpapers: 0 the plain background, 1 .. kLastWallpaper the tattoos.
  static constexpr int kLastWallpaper = 14;

  // Builds the window object and connects to the player, asking the user to
  // retry while it cannot be reached (IsPlayerConnected tells the outcome).
  explicit CZorvaDlg(CWnd* parent = nullptr);
  ~CZorvaDlg() override;

  void ConnectPlayer();
  bool IsPlayerConnected() const;
  // When the page is first ready the Lab shows the track playing then.
  void SetShowLabAtStart() { showLabAtStart = true; }

  // --- The play state (ZorvaDlgQueue.cpp). ---------------------------------
  void PlayNext() override;
  void OnTrackPlaying(const Track& track) override;
  // The player went without a word: the user is told, then the window ends
  // as when the player quits, keeping what it keeps then.
  void OnPlayerLost() override;
  // Stores the current mix, the windows' places, the scheduler's state and
  // the settings, as the end does.
  void StoreState();
  void OnPlayerPaused(bool paused) override;
  void HoldNextTrack();
  // The scan's status: kept, and the window hears of it by a message.
  void SetScanStatus(const std::string& status) override;

  void RefillQueue();
  void ShowQueue();
  void ApplyCurrentMix();
  void StartPlayback();
  void TogglePlayPause();
  void OnNextClick();
  void OnPrevClick();
  void PlayFromHistory();
  void ShowMixLists();
  void UpdatePlayerSelector();
  void BuildTitle();
  void ScrollTitle();

  // Page events of the queue and the mix.
  HRESULT OnUpcomingDblClick(platform::HtmlElement& element);
  HRESULT OnTrackDelClick(platform::HtmlElement& element);
  HRESULT OnDumpClick(platform::HtmlElement& element);
  HRESULT OnNowPlayingDumpClick(platform::HtmlElement& element);
  HRESULT OnOrderClick(platform::HtmlElement& element);
  HRESULT OnMixWrapClick(platform::HtmlElement& element);
  HRESULT OnMixDelClick(platform::HtmlElement& element);
  HRESULT OnMixTagClick(platform::HtmlElement& element);
  HRESULT OnMixTagAddClick(platform::HtmlElement& element);
  HRESULT OnMixTagRemoveClick(platform::HtmlElement& element);
  HRESULT OnDeleteCurrentMixClick(platform::HtmlElement& element);

  // Messages of the other windows (wParam as the message says; answer 0).
  LRESULT OnQueueTrack(WPARAM trackId, LPARAM);
  LRESULT OnPlayMix(WPARAM mixId, LPARAM);
  LRESULT OnPlayTag(WPARAM tagId, LPARAM);
  LRESULT OnSchedulerMode(WPARAM, LPARAM);
  LRESULT OnMixesChanged(WPARAM, LPARAM);
  LRESULT OnMixRenamed(WPARAM, LPARAM);
  LRESULT OnShowLab(WPARAM, LPARAM);
  LRESULT OnScheduleChanged(WPARAM, LPARAM);
  // wParam below 100: that wallpaper; 100 or more: the next tattoo.
  LRESULT OnWallpaper(WPARAM number, LPARAM);
  LRESULT OnScanStatus(WPARAM, LPARAM);
  LRESULT OnScanProgress(WPARAM, LPARAM);
  // A scan added tracks: fresh tag lists, and the database analysed at most
  // once a calendar month.
  LRESULT OnScanAdded(WPARAM, LPARAM);
  // The media keys' play/pause plays or pauses.
  LRESULT OnAppCommand(WPARAM, LPARAM command);

  // The page body and every tool window show wallpaper n; n is stored.
  void SetWallpaper(int n);
  void RebuildTagLinks();

  // --- What the window holds. ---------------------------------------------
  MusicPlayer* GetPlayer() const { return player.get(); }
  TrackInfo& GetLab() { return labWindow; }
  Automator& GetAutomator() { return automator; }
  CSettingsDialog& GetSettingsWindow() { return settingsWindow; }
  CGenerator& GetGenerator() { return generator; }
  StatusDialog& GetStatusWindow() { return statusWindow; }
  LibraryScanThread& GetScanThread() { return scanThread; }
  int GetWallpaper() const { return wallpaper; }
  const std::deque<Track>& GetUpcoming() const { return upcoming; }
  bool IsPaused() const { return paused; }
  const Track& GetNowPlaying() const { return nowPlaying; }
  const Track& GetHandedOver() const { return handedOver; }
  const Mix& GetCurrentMix() const { return currentMix; }
  int GetHistorySteps() const { return historySteps; }
  bool IsCountdown() const { return countdown; }
  const std::string& GetTitle() const { return title; }
  JavaScriptEventSink& GetExternal() { return external; }

  // --- The window (ZorvaDlg.cpp). -----------------------------------------
  BOOL OnInitDialog() override;
  void OnDocumentComplete(const std::string& url) override;
  void OnBeforeNavigate(const std::string& url, bool& cancel) override;
  void OnTimer(UINT_PTR id);
  void OnDestroy();
  // Ctrl+Alt+L shows the Lab, Ctrl+Alt+P plays or pauses, wherever the focus is.
  void OnHotKey(UINT id, UINT modifiers, UINT key);
  // Coming forward brings the visible tool windows with it.
  void OnActivate(UINT state, CWnd* other, BOOL minimized);
  // Ctrl+P goes to the page, whose own key handler plays or pauses.
  BOOL PreTranslateMessage(MSG* msg) override;

  // Page events of the window and the Lab links.
  HRESULT OnButtonOK(platform::HtmlElement& element) override;
  HRESULT OnHtmlDragStart(platform::HtmlElement& element) override;
  HRESULT OnButtonMin(platform::HtmlElement& element);
  HRESULT OnNextButton(platform::HtmlElement& element);
  HRESULT OnPrevButton(platform::HtmlElement& element);
  HRESULT OnPlayButton(platform::HtmlElement& element);
  HRESULT OnLabButton(platform::HtmlElement& element);
  HRESULT OnAutomatorButton(platform::HtmlElement& element);
  HRESULT OnGeneratorButton(platform::HtmlElement& element);
  HRESULT OnSettingsButton(platform::HtmlElement& element);
  HRESULT OnHelpButton(platform::HtmlElement& element);
  HRESULT OnLogoClick(platform::HtmlElement& element);
  HRESULT OnTextLogoClick(platform::HtmlElement& element);
  HRESULT OnIconTextMouseDown(platform::HtmlElement& element);
  HRESULT OnNowPlayingLab(platform::HtmlElement& element);
  HRESULT OnTrackNameClick(platform::HtmlElement& element);
  HRESULT OnCurrentMixLab(platform::HtmlElement& element);
  HRESULT OnLabClick(platform::HtmlElement& element);
  HRESULT OnTimerClick(platform::HtmlElement& element);
  HRESULT OnSelectorImg(platform::HtmlElement& element);
  HRESULT OnTagFilterKeyUp(platform::HtmlElement& element);
  HRESULT OnFindClear(platform::HtmlElement& element);
  HRESULT OnPlayingMixTitleBlur(platform::HtmlElement& element);

  const MessageMap& GetMessageMap() const override { return ThisMessageMap(); }
  static const MessageMap& ThisMessageMap();
  const DHtmlEventMap& GetDHtmlEventMap() const override { return ThisDHtmlEventMap(); }
  static const DHtmlEventMap& ThisDHtmlEventMap();

 protected:
  platform::ScriptDispatch* GetPageDispatch() override { return &external; }

 private:
  // The three mix elements: name, description, the name field.
  void ShowMixNames();
  // Calls a page function without argument; what it answers is not used.
  void CallPage(const char* function);
  void CallPage(const char* function, const std::string& argument);
  // Writes a play record of a track the database knows (found by its
  // location when its id is unknown); an empty queue entry is never one.
  void RecordPlay(Track track);
  // Hands a library track to the player as the one the window expects to
  // hear of next; false (nothing pending) when it did not take it.
  bool HandOver(const Track& track);
  // The scheduled mix becomes current when it is another one; a playlist
  // mix is made to play.
  void SwitchToDueMix();
  // The first page fill and the 500 ms poll.
  void FillPage();
  // A later document of the page (its renderer died, or its window was
  // closed and made again): what the first fill wrote, written again, without
  // starting anything.
  void RefillPage();
  void PollPlayer();
  // A page filled while the database held no track of the mix (a new one
  // whose first scan had stored nothing yet) fills its queue and plays once
  // the scan has stored tracks.
  void PlayStoredTracks();
  // The Lab shows the track (on the user's request, or following the
  // player) and comes forward.
  void ShowLabFor(const Track& track);
  void ShowLabWindow(bool onTop);
  // A tool window shown and put on top without moving or sizing it.
  static void ShowOnTop(CWnd& window);
  // The queue position that an element id of `prefix` and a number names
  // ("track3", "trackdel3"...): 1-based, or 0 when it names none of the queue.
  int QueuePosition(const std::string& id, const std::string& prefix) const;
  // Removes entry n and puts a new one at the end (or asks the player again
  // for a playlist mix), then redraws.
  void RemoveEntry(int n);

  std::unique_ptr<MusicPlayer> player;
  bool showLabAtStart = false;
  TrackInfo labWindow;
  Automator automator;
  CSettingsDialog settingsWindow;
  CGenerator generator;
  StatusDialog statusWindow;
  std::deque<Track> upcoming;
  bool paused = false;
  bool playRecordFailureSaid = false;
  Track nowPlaying;
  Track handedOver;
  int wallpaper = 1;
  LibraryScanThread scanThread{this};
  Mix currentMix;
  // The filter box of the page's tag selector.
  TagSelector tagFilter{TagLinks::PlayerPage};
  CJavaScripter jsCaller;
  JavaScriptEventSink external{JavaScriptEventSink::PlayerPage};
  std::string title;
  int titlePos = 0;
  int historySteps = 0;
  bool countdown = true;
  // The page has been filled once (the first page-ready tick of the process).
  bool pageFilled = false;
  // A new database's page completed before the status window was made.
  bool welcomePending = false;
  // The database's track changes when the queue was last filled empty (see
  // PollPlayer).
  long long emptyQueueTracks = -1;
};

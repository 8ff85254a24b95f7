// The player window's play state: the queue, play-next, the history, the
// entry commands and every way the current mix changes.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <source_location>
#include <utility>

#include "core/AppMainWindow.h"
#include "core/HtmlText.h"
#include "core/MusicDB.h"
#include "core/PlaylistSync.h"
#include "core/ScanStatus.h"
#include "core/Scheduler.h"
#include "core/Tag.h"
#include "windows/TagLinks.h"
#include "windows/TagSelector.h"
#include "zorva/ZorvaDlg.h"
#include "platform/kernel/Log.h"

namespace {

constexpr int kShownEntries = 10;

// A message's record id: a positive int. A larger word would name another
// record once cut to an int.
bool IsRecordId(WPARAM id) { return id > 0 && id <= static_cast<WPARAM>(INT_MAX); }

// The fixed first entry of the library-mix menu: a new random selection.
constexpr char kNewMixEntry[] =
    R"html(<div class="mixwrap" id="0_:_Totally Random_:_set" onclick="ypSlideOutMenu.hideMenu('mixchanger')" onMouseOver="this.style.backgroundColor='#adab22';" onMouseOut="this.style.backgroundColor='#ffffff';">&nbsp;New Mix&nbsp; <div class="mixdesc" onclick="this.parentNode.click()">Start a new mix</div></div>)html";

// Runs a command whose player failures (and any other) must not end the
// program; the failure is traced where the command was given.
template <typename Command>
void Contained(Command command, std::source_location at = std::source_location::current()) {
  try {
    command();
  } catch (...) {
    platform::LogFailure(("ZorvaDlgQueue.cpp:" + std::to_string(at.line())).c_str());
  }
}

// Exactly ten whole numbers joined by ":" that name each of the positions
// 1..10 once; anything else is no order.
bool ParseOrder(const std::string& text, UpcomingOrder& order) {
  std::size_t at = 0;
  std::set<int> seen;
  for (int i = 0; i < kShownEntries; ++i) {
    if (i > 0) {
      if (at >= text.size() || text[at] != ':') return false;
      ++at;
    }
    const std::size_t start = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 3) ++at;
    if (at == start) return false;
    const int position = std::atoi(text.substr(start, at - start).c_str());
    if (position < 1 || position > kShownEntries || !seen.insert(position).second) return false;
    order[static_cast<std::size_t>(i)] = position;
  }
  return at == text.size();
}

}  // namespace

void CZorvaDlg::CallPage(const char* function) { jsCaller.CallFunction(function); }

void CZorvaDlg::CallPage(const char* function, const std::string& argument) {
  jsCaller.CallFunction(function, argument);
}

void CZorvaDlg::SetScanStatus(const std::string& status) {
  theScanStatus.Set(status);
  PostMessage(WM_APP_SCAN_STATUS);
  // The settings window shows the status too, while it is there.
  const HWND settings = settingsWindow.GetSafeHwnd();
  if (!status.empty() && ::IsWindow(settings)) ::PostMessage(settings, WM_APP_SCAN_STATUS, 0, 0);
}

void CZorvaDlg::RecordPlay(Track track) {
  if (track.id < 1 && !track.location.empty()) {
    std::string genre;
    theMusicDB.FindTrackByLocation(track, genre);
  }
  if (track.id > 0 && !theMusicDB.AddPlayRecord(track, currentMix) && !playRecordFailureSaid) {
    // Said once, where the user looks; the music plays on.
    playRecordFailureSaid = true;
    const std::string text = "Zorva cannot record what it plays in " + theMusicDB.GetPath() + " (" +
                             theMusicDB.GetWriteFailure() + "); the music plays on";
    std::fprintf(stderr, "zorva: %s\n", text.c_str());
    SetTimer(TIMER_STATUS_CLEAR, 6000);
    SetElementHtml("status", text);
  }
}

bool CZorvaDlg::HandOver(const Track& track) {
  // An empty entry (a mix without an enabled track) is nothing to play.
  if (track.location.empty()) return false;
  // Pending before the call, so a play event the call itself raises is heard.
  handedOver = track;
  try {
    player->PlayTrack(track);
    Track playing;
    if (!(player->GetCurrentTrack(playing) == track) && handedOver == track) handedOver = Track();
  } catch (...) {
    if (handedOver == track) handedOver = Track();
    throw;
  }
  return true;
}

// ---------------------------------------------------------------- the queue

void CZorvaDlg::RefillQueue() {
  upcoming.clear();
  emptyQueueTracks = theMusicDB.TrackChanges();
  if (currentMix.IsLibraryMix()) {
    for (int i = 0; i < kShownEntries; ++i) {
      Track pick = theMusicDB.GetNextRandomTrack(currentMix, i == 0);
      // A mix without an enabled track leaves the queue empty.
      if (pick.id == 0) break;
      upcoming.push_back(std::move(pick));
    }
  } else {
    Contained([this] { player->FillUpcomingQueue(upcoming); });
  }
  ShowQueue();
}

void CZorvaDlg::PlayStoredTracks() {
  if (!pageFilled || !currentMix.IsLibraryMix() || !upcoming.empty()) return;
  RefillQueue();
  if (paused || upcoming.empty()) return;
  Contained([this] {
    if (player->IsStopped()) PlayNext();
  });
}

void CZorvaDlg::ShowQueue() {
  char id[16];
  for (int i = 1; i <= kShownEntries; ++i) {
    std::snprintf(id, sizeof id, "track%d", i);
    const auto index = static_cast<std::size_t>(i - 1);
    SetElementHtml(id, index < upcoming.size() ? upcoming[index].GetTitleHtml() : std::string());
  }
  CallPage("fadeList");
  HoldNextTrack();
}

// The front of a library mix's queue is what the next track change plays
// (when nothing else decides then: no schedule, no pause, no history), so
// the player may hold it to go on without a gap.
void CZorvaDlg::HoldNextTrack() {
  const bool known =
      currentMix.IsLibraryMix() && !paused && historySteps == 0 && !theScheduler.IsRunning() && !upcoming.empty();
  if (player) player->HoldNext(known ? upcoming.front() : Track());
}

void CZorvaDlg::ApplyCurrentMix() {
  if (!currentMix.IsLibraryMix()) Contained([this] { player->RefreshPlaylistMix(currentMix); });
  ShowMixNames();
  RefillQueue();
  UpdatePlayerSelector();
}

void CZorvaDlg::ShowMixNames() {
  SetElementHtml("currentmixname", HtmlText(currentMix.GetDisplayName()));
  SetElementHtml("mixnametext", HtmlText(currentMix.GetDescription()));
  SetElementText("mixnameedit", currentMix.GetDisplayName());
}

void CZorvaDlg::UpdatePlayerSelector() { theTagLinks.SetPlayerSelector(currentMix); }

void CZorvaDlg::SwitchToDueMix() {
  Mix due = theScheduler.GetDueMix();
  if (due.GetId() != currentMix.GetId()) {
    currentMix = due;
    ApplyCurrentMix();
  }
  if (!currentMix.IsLibraryMix()) player->EnsureMixPlaying(currentMix);
}

void CZorvaDlg::PlayNext() {
  if (historySteps != 0) {
    // The track reached through the history is recorded now.
    RecordPlay(nowPlaying);
    historySteps = 0;
  }
  bool taken = false;
  try {
    if (paused) {
      Track playing;
      player->GetCurrentTrack(playing);
      OnTrackPlaying(playing);
      return;
    }
    if (theScheduler.IsRunning()) {
      if (!theScheduler.CheckDue()) {
        player->Stop();  // nothing is scheduled now
        return;
      }
      SwitchToDueMix();
    } else if (theScheduler.IsOverridden() && theScheduler.CheckDue()) {
      SwitchToDueMix();
    }
    if (upcoming.empty()) return;
    const Track entry = upcoming.front();
    if (currentMix.IsLibraryMix()) {
      HandOver(entry);
    } else {
      player->EnsureMixPlaying(currentMix);
    }
    // Taken only once the player has it: a player that is gone or does not
    // answer leaves the queue as it was.
    upcoming.pop_front();
    taken = true;
    CallPage("trackchanged");
    RecordPlay(entry);
  } catch (...) {
    platform::LogFailure("CZorvaDlg::PlayNext");
  }
  // Whatever failed, the queue keeps its length and the page shows it.
  if (!taken) return;
  if (currentMix.IsLibraryMix()) {
    Track pick = theMusicDB.GetNextRandomTrack(currentMix, false);
    if (pick.id != 0) upcoming.push_back(std::move(pick));
  }
  ShowQueue();
}

void CZorvaDlg::OnTrackPlaying(const Track& track) {
  if (track == nowPlaying) {
    // The track handed over may be the one already shown (a random queue can
    // hold it): nothing to redraw, but the hand-over is done, or reports of
    // every other track would be refused from now on.
    if (track == handedOver) handedOver = Track();
    return;
  }
  // Until the player reports the track handed to it, late reports of others
  // change nothing.
  if (!handedOver.location.empty() && !(track == handedOver)) return;
  SetElementHtml("albumname", HtmlText(track.album));
  SetElementHtml("trackname", HtmlText(track.name));
  SetElementHtml("artistname", HtmlText(track.artist));
  if (labWindow.GetSafeHwnd() != nullptr) labWindow.ShowTrack(track, true, false);
  handedOver = Track();
  nowPlaying = track;
  BuildTitle();
  if (!currentMix.IsLibraryMix()) {
    upcoming.clear();
    Contained([this] { player->FillUpcomingQueue(upcoming); });
    ShowQueue();
  }
}

void CZorvaDlg::StartPlayback() {
  Track t = nowPlaying;
  if (!currentMix.IsLibraryMix()) {
    PlaylistSync().SetPlayer(player.get()).SyncPlaylistMixes();
    currentMix.Reload();
  }
  try {
    if (!player->IsStopped()) {
      // The track already playing goes on and gets no play record.
      if (!currentMix.IsLibraryMix()) player->EnsureMixPlaying(currentMix);
      player->GetCurrentTrack(t);
      OnTrackPlaying(t);
    } else if (currentMix.IsLibraryMix()) {
      t = theMusicDB.GetNextRandomTrack(currentMix, false);
      const bool started = !paused && HandOver(t);
      OnTrackPlaying(t);
      // Held (the schedule has nothing due), the track is only shown: it never plays.
      if (started) RecordPlay(t);
    } else if (!paused) {
      player->PlayMix(currentMix);
    }
  } catch (...) {
    platform::LogFailure("CZorvaDlg::StartPlayback");
    Contained([&] {
      t = theMusicDB.GetNextRandomTrack(currentMix, false);
      OnTrackPlaying(t);
    });
    paused = true;
  }
  if (paused) {
    if (auto play = GetElement("play")) play->SetClassName("playclass");
  }
  // The Lab comes up for the track once it is known.
  if (showLabAtStart) ShowLabFor(nowPlaying);
  OnSchedulerMode(0, 0);
}

void CZorvaDlg::RefillPage() {
  SetElementHtml("albumname", HtmlText(nowPlaying.album));
  SetElementHtml("trackname", HtmlText(nowPlaying.name));
  SetElementHtml("artistname", HtmlText(nowPlaying.artist));
  ShowMixNames();
  ShowQueue();
  // The new page's filter is empty: so are the lists' filters.
  tagFilter.ForgetFilter();
  RebuildTagLinks();
  UpdatePlayerSelector();
  ShowMixLists();
  if (auto play = GetElement("play")) play->SetClassName(paused ? "playclass" : "pauseclass");
  CallPage(theScheduler.IsRunning() ? "enableautomator" : "disableautomator");
  SetElementHtml("status", theScanStatus.Get());
}

void CZorvaDlg::TogglePlayPause() {
  if (theScheduler.IsRunning()) theScheduler.Override();
  if (!paused) {
    paused = true;
    try {
      // A pause keeps the place: resuming goes on from there.
      player->Pause();
      HoldNextTrack();
      if (auto play = GetElement("play")) play->SetClassName("playclass");
    } catch (...) {
      platform::LogFailure("CZorvaDlg::TogglePlayPause");
      paused = false;
    }
  } else {
    paused = false;
    try {
      if (player->IsStopped()) player->Play();
      HoldNextTrack();
      if (auto play = GetElement("play")) play->SetClassName("pauseclass");
    } catch (...) {
      platform::LogFailure("CZorvaDlg::TogglePlayPause");
      paused = true;
    }
  }
}

// Paused or played again at the player by someone else: the window follows
// rather than undoes it. An event that is late is checked against the player.
void CZorvaDlg::OnPlayerPaused(bool pausedElsewhere) {
  if (pausedElsewhere == paused) return;
  try {
    if (player->IsStopped() != pausedElsewhere) return;
  } catch (...) {
    platform::LogFailure("CZorvaDlg::OnPlayerPaused");
    return;
  }
  paused = pausedElsewhere;
  if (auto play = GetElement("play")) play->SetClassName(paused ? "playclass" : "pauseclass");
  HoldNextTrack();
}

// ---------------------------------------------------------------- next, previous, history

void CZorvaDlg::OnNextClick() {
  if (historySteps > 0) {
    --historySteps;
    PlayFromHistory();
  } else if (currentMix.IsLibraryMix()) {
    if (paused) {
      // Skipped without playing.
      if (!upcoming.empty()) RemoveEntry(1);
    } else {
      PlayNext();
    }
  } else {
    Contained([this] { player->NextTrack(); });
  }
}

void CZorvaDlg::OnPrevClick() {
  if (currentMix.IsLibraryMix()) {
    // Before the first play record there is nothing further back.
    if (theMusicDB.GetRecentlyPlayedTrack(historySteps + 1).location.empty()) return;
    ++historySteps;
    PlayFromHistory();
  } else {
    Contained([this] { player->BackTrack(); });
  }
}

void CZorvaDlg::PlayFromHistory() {
  const Track t = theMusicDB.GetRecentlyPlayedTrack(historySteps);
  Contained([&] { HandOver(t); });
  CallPage("trackchanged");
  OnTrackPlaying(t);
}

// ---------------------------------------------------------------- queue entry commands

int CZorvaDlg::QueuePosition(const std::string& id, const std::string& prefix) const {
  if (id.size() <= prefix.size() || id.size() > prefix.size() + 3 || id.compare(0, prefix.size(), prefix) != 0)
    return 0;
  int n = 0;
  for (std::size_t i = prefix.size(); i < id.size(); ++i) {
    if (id[i] < '0' || id[i] > '9') return 0;
    n = n * 10 + (id[i] - '0');
  }
  return n >= 1 && static_cast<std::size_t>(n) <= upcoming.size() ? n : 0;
}

void CZorvaDlg::RemoveEntry(int n) {
  const Track removed = upcoming[static_cast<std::size_t>(n - 1)];
  upcoming.erase(upcoming.begin() + (n - 1));
  if (currentMix.IsLibraryMix()) {
    Track pick = theMusicDB.GetNextRandomTrack(currentMix, false);
    if (pick.id != 0) upcoming.push_back(std::move(pick));
  } else {
    Contained([&] {
      player->RemoveTrackFromPlaylist(currentMix, removed);
      upcoming.clear();
      player->FillUpcomingQueue(upcoming);
    });
  }
  ShowQueue();
}

HRESULT CZorvaDlg::OnUpcomingDblClick(platform::HtmlElement& element) {
  std::string id = element.GetId();
  if (id.empty()) {
    if (auto parent = element.GetParent()) id = parent->GetId();
  }
  const int n = QueuePosition(id, "track");
  if (n == 0) return S_OK;
  const Track entry = upcoming[static_cast<std::size_t>(n - 1)];
  if (currentMix.IsLibraryMix()) {
    Contained([&] { HandOver(entry); });
    RecordPlay(entry);
    OnTrackPlaying(entry);
    RemoveEntry(n);
  } else {
    RecordPlay(entry);
    Contained([&] {
      player->PlayTrackInPlaylist(currentMix, entry);
      upcoming.clear();
      player->FillUpcomingQueue(upcoming);
    });
    ShowQueue();
  }
  CallPage("trackchanged");
  return S_OK;
}

HRESULT CZorvaDlg::OnTrackDelClick(platform::HtmlElement& element) {
  if (const int n = QueuePosition(element.GetId(), "trackdel")) RemoveEntry(n);
  return S_OK;
}

HRESULT CZorvaDlg::OnDumpClick(platform::HtmlElement& element) {
  const int n = QueuePosition(element.GetId(), "trackdump");
  // The now-playing dump link has its own handler; its click goes no further.
  if (n == 0) return S_FALSE;
  theMusicDB.DisableTrack(upcoming[static_cast<std::size_t>(n - 1)]);
  RemoveEntry(n);
  return S_OK;
}

HRESULT CZorvaDlg::OnNowPlayingDumpClick(platform::HtmlElement&) {
  if (!nowPlaying.location.empty()) theMusicDB.DisableTrack(nowPlaying);
  OnNextClick();
  return S_OK;
}

HRESULT CZorvaDlg::OnOrderClick(platform::HtmlElement&) {
  UpcomingOrder order{};
  // An order the page made up wrongly (short, out of range, repeated) only
  // shows the queue again as it is.
  const bool valid = ParseOrder(GetElementHtml("order"), order) &&
                     (!currentMix.IsLibraryMix() || upcoming.size() >= static_cast<std::size_t>(kShownEntries));
  if (valid && currentMix.IsLibraryMix()) {
    std::deque<Track> reordered;
    for (int old : order) reordered.push_back(upcoming[static_cast<std::size_t>(old - 1)]);
    upcoming = std::move(reordered);
  } else if (valid) {
    Contained([&] {
      player->ReorderUpcomingTracks(order);
      upcoming.clear();
      player->FillUpcomingQueue(upcoming);
    });
  }
  ShowQueue();
  return S_OK;
}

LRESULT CZorvaDlg::OnQueueTrack(WPARAM trackId, LPARAM) {
  if (!IsRecordId(trackId)) return 0;
  const Track track(static_cast<int>(trackId));
  // A track the database does not hold is not queued.
  if (track.location.empty()) return 0;
  upcoming.push_front(track);
  ShowQueue();
  return 0;
}

// ---------------------------------------------------------------- the current mix

HRESULT CZorvaDlg::OnMixWrapClick(platform::HtmlElement& element) {
  Mix mix(element);
  if (!IsChoosableMix(mix)) return S_OK;
  Contained([&] {
    if (!mix.IsLibraryMix()) player->RefreshPlaylistMix(mix);
  });
  currentMix = mix;
  if (theScheduler.IsRunning()) theScheduler.Override();
  ApplyCurrentMix();
  if (!currentMix.IsLibraryMix()) Contained([this] { player->PlayMix(currentMix); });
  return S_OK;
}

HRESULT CZorvaDlg::OnMixTagClick(platform::HtmlElement& element) {
  const Tag tag(element);
  if (!IsLiveTag(tag)) return S_OK;
  currentMix.SetTag(tag);
  ApplyCurrentMix();
  return S_OK;
}

HRESULT CZorvaDlg::OnMixTagAddClick(platform::HtmlElement& element) {
  const Tag tag(element);
  if (!IsLiveTag(tag)) return S_OK;
  currentMix.AddTag(tag, true);
  ApplyCurrentMix();
  return S_OK;
}

HRESULT CZorvaDlg::OnMixTagRemoveClick(platform::HtmlElement& element) {
  currentMix.RemoveTag(Tag(element), true);
  ApplyCurrentMix();
  return S_OK;
}

HRESULT CZorvaDlg::OnDeleteCurrentMixClick(platform::HtmlElement&) {
  theMusicDB.DeleteMix(currentMix);
  currentMix = Mix();
  ApplyCurrentMix();
  ShowMixLists();
  return S_OK;
}

HRESULT CZorvaDlg::OnMixDelClick(platform::HtmlElement& element) {
  DeleteMenuMix(element);
  return S_OK;
}

LRESULT CZorvaDlg::OnPlayMix(WPARAM mixId, LPARAM) {
  if (!IsRecordId(mixId)) return 0;
  Mix mix(static_cast<int>(mixId));
  // An id that names no stored mix changes nothing.
  if (mix.GetName().empty() && mix.GetTags().empty()) return 0;
  currentMix = mix;
  if (theScheduler.IsRunning()) theScheduler.Override();
  ApplyCurrentMix();
  return 0;
}

LRESULT CZorvaDlg::OnPlayTag(WPARAM tagId, LPARAM) {
  if (!IsRecordId(tagId)) return 0;
  const Tag tag(static_cast<int>(tagId));
  if (tag.name.empty()) return 0;
  Mix mix;
  mix.AddTag(tag, true);
  currentMix = mix;
  if (theScheduler.IsRunning()) theScheduler.Override();
  ApplyCurrentMix();
  return 0;
}

LRESULT CZorvaDlg::OnMixesChanged(WPARAM, LPARAM) {
  // Tags may have been made, renamed or deleted: no page offers one that is gone.
  theTagLinks.RefreshLists();
  if (currentMix.GetId() > 0 && theMusicDB.GetMix(currentMix.GetId()).GetId() != currentMix.GetId()) {
    // The current mix was deleted: play on as for a mix that is not found.
    currentMix = Mix();
    ApplyCurrentMix();
  } else {
    currentMix.Reload();
    ShowMixNames();
    UpdatePlayerSelector();
  }
  SetTimer(TIMER_MIX_LISTS, 300);
  return 0;
}

LRESULT CZorvaDlg::OnMixRenamed(WPARAM, LPARAM) {
  // The name as the page shows it: markup typed into it is not kept, and
  // characters the page writes as references are stored as themselves.
  const std::string name = GetElementText("currentmixname");
  if (name.find_first_not_of(" \t\r\n") == std::string::npos) {
    ShowMixNames();  // nothing but blanks: the old name stays
    return 0;
  }
  currentMix.Rename(name);
  SetTimer(TIMER_MIX_LISTS, 300);
  return 0;
}

LRESULT CZorvaDlg::OnSchedulerMode(WPARAM, LPARAM) {
  CallPage(theScheduler.IsRunning() ? "enableautomator" : "disableautomator");
  automator.UpdateEnableButton();
  if (!theScheduler.IsRunning()) return 0;
  if (!theScheduler.CheckDue()) {
    Contained([this] { player->Stop(); });
    return 0;
  }
  const Mix due = theScheduler.GetDueMix();
  if (due.GetId() != currentMix.GetId()) {
    currentMix = due;
    ApplyCurrentMix();
  }
  return 0;
}

void CZorvaDlg::ShowMixLists() {
  MixList mixes;
  theMusicDB.GetMixes(mixes, false);
  std::string html = kNewMixEntry;
  for (const Mix& mix : mixes) html += mix.GetPlayerMenuHtml();
  SetElementHtml("zorvamixlinks", html);
  // The scheduler's and the generator's slots choose from the same mixes.
  automator.ShowMixLinks(html);
  generator.ShowMixLinks(html);
  PlaylistSync().SetPlayer(player.get()).SyncPlaylistMixes();
  html.clear();
  mixes.clear();
  theMusicDB.GetMixes(mixes, true);
  try {
    for (Mix& mix : mixes) {
      player->RefreshPlaylistMix(mix);
      html += mix.GetPlayerMenuHtml();
    }
  } catch (...) {
    platform::LogFailure("CZorvaDlg::ShowMixLists");
    // The mixes after a failure wait for the next rebuild.
  }
  SetElementHtml("iplaylistlinks", html);
  automator.ShowPlaylistLinks(html);
}

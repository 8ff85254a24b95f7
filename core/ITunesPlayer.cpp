#include "core/ITunesPlayer.h"

#include <cstdio>
#include <utility>

#include "core/HtmlText.h"
#include "core/PlayerListener.h"
#include "platform/player/PlayerActivation.h"

using namespace platform::player;

ITunesPlayer::ITunesPlayer(PlayerListener* owner) : MusicPlayer(owner), eventHandler_(this) {}

ITunesPlayer::ITunesPlayer(PlayerListener* owner, std::shared_ptr<IiTunes> app)
    : MusicPlayer(owner), iTunes_(std::move(app)), eventHandler_(this) {}

ITunesPlayer::~ITunesPlayer() {
  if (cookie_ != 0 && connectionPoint_) connectionPoint_->Unadvise(cookie_);
  connectionPoint_.reset();
  iTunes_.reset();
}

bool ITunesPlayer::Connect(bool subscribeEvents) {
  if (iTunes_) return iTunesAvailable;
  // The automation layer has no message filter to set up: a player that is
  // busy refuses a call at once (RPC_E_CALL_REJECTED) and shows no dialog.
  std::shared_ptr<IiTunes> app;
  CoCreateITunesApp(&app);
  iTunes_ = app;
  if (iTunes_ && subscribeEvents) {
    if (auto container = QueryInterface<IConnectionPointContainer>(iTunes_)) {
      std::shared_ptr<IConnectionPoint> point;
      if (SUCCEEDED(container->FindConnectionPoint(DIID_IiTunesEvents, &point)) && point) {
        connectionPoint_ = point;
        DWORD cookie = 0;
        if (SUCCEEDED(point->Advise(&eventHandler_, &cookie))) cookie_ = cookie;
      }
    }
  }
  iTunesAvailable = iTunes_ != nullptr;
  return iTunesAvailable;
}

void ITunesPlayer::RequireAvailable() const {
  if (!iTunesAvailable) throw kPlayerUnavailable;
}

bool ITunesPlayer::IsStopped() {
  RequireAvailable();
  if (!iTunes_) return true;
  ITPlayerState state = ITPlayerStateStopped;
  if (FAILED(iTunes_->get_PlayerState(&state))) throw kPlayerCallFailed;
  switch (state) {
    case ITPlayerStatePlaying:
    case ITPlayerStateFastForward:
    case ITPlayerStateRewind:
      return false;
    default:
      return true;
  }
}

Track& ITunesPlayer::GetCurrentTrack(Track& track) {
  RequireAvailable();
  std::shared_ptr<IITTrack> current;
  if (iTunes_) iTunes_->get_CurrentTrack(&current);
  ConvertITunesTrack(track, current);
  return track;
}

int ITunesPlayer::GetPlayerPosition() {
  if (!iTunes_) throw kPlayerCallFailed;
  long seconds = 0;
  if (FAILED(iTunes_->get_PlayerPosition(&seconds))) throw kPlayerCallFailed;
  return static_cast<int>(seconds);
}

void ITunesPlayer::IgnoreStopWhilePlaying() {
  if (!IsStopped()) eventHandler_.ignoreNextStop = true;
}

void ITunesPlayer::RunPlayerCommand(HRESULT (IiTunes::*command)()) {
  RequireAvailable();
  RunTransportCommand([this, command] {
    IgnoreStopWhilePlaying();
    return iTunes_ && ((*iTunes_).*command)() == S_OK;
  });
}

void ITunesPlayer::Play() { RunPlayerCommand(&IiTunes::Play); }

void ITunesPlayer::PlayTrack(Track track) {
  RequireAvailable();
  RunTransportCommand([this, &track] {
    IgnoreStopWhilePlaying();
    return iTunes_ && iTunes_->PlayFile(track.location) == S_OK;
  });
}

void ITunesPlayer::Stop() { RunPlayerCommand(&IiTunes::Stop); }

void ITunesPlayer::Pause() { RunPlayerCommand(&IiTunes::Pause); }

void ITunesPlayer::HoldNext(const Track& track) {
  if (iTunes_ && iTunesAvailable) iTunes_->QueueNextFile(track.location);
}

void ITunesPlayer::NextTrack() { RunPlayerCommand(&IiTunes::NextTrack); }

void ITunesPlayer::BackTrack() { RunPlayerCommand(&IiTunes::BackTrack); }

void ITunesPlayer::PlayMix(const Mix& mix) {
  RequireAvailable();
  RunTransportCommand([this, &mix] {
    IgnoreStopWhilePlaying();
    auto playlist = FindMixPlaylist(mix, 0);
    if (!playlist) return false;
    IgnoreStopWhilePlaying();
    return playlist->PlayFirstTrack() == S_OK;
  });
}

void ITunesPlayer::MinimizeITunes() {
  if (!iTunes_) return;
  std::shared_ptr<IITBrowserWindow> window;
  iTunes_->get_BrowserWindow(&window);
  if (!window) return;
  window->put_MiniPlayer(true);
  window->put_Visible(false);
  window->put_Minimized(true);
}

void ITunesPlayer::OnTrackPlaying(const Track& track) {
  if (owner_) owner_->OnTrackPlaying(track);
}

void ITunesPlayer::SetLibraryChanged() { libraryChanged = true; }

// The automation layer answers whether a player runs that it can reach, in
// place of looking for the player's top-level window.
bool IsITunesRunning() { return IsPlayerRunning(); }

std::string ITunesStartFault() { return platform::player::PlayerStartFault(); }

void ConvertITunesTrack(Track& track, const std::shared_ptr<IITTrack>& source) {
  track = Track();
  if (!source) return;
  if (std::string text; SUCCEEDED(source->get_Name(&text))) track.name = text;
  if (std::string text; SUCCEEDED(source->get_Artist(&text))) track.artist = text;
  if (std::string text; SUCCEEDED(source->get_Album(&text))) track.album = text;
  if (std::string text; SUCCEEDED(source->get_Genre(&text))) track.genre = text;
  if (std::string time; SUCCEEDED(source->get_Time(&time))) {
    int minutes = 0;
    int seconds = 0;
    if (std::sscanf(time.c_str(), "%d:%d", &minutes, &seconds) == 2) track.length = minutes * 60 + seconds;
  }
  if (long rating = 0; SUCCEEDED(source->get_Rating(&rating))) {
    if (rating >= 100)
      track.rating = "5 out of 5";
    else if (rating != 0)
      track.rating = FormatText("%d out of 5", static_cast<int>(rating / 20));
  }
  if (long databaseId = 0; SUCCEEDED(source->get_TrackDatabaseID(&databaseId)))
    track.playerTrackId = static_cast<int>(databaseId);
  ITTrackKind kind = ITTrackKindUnknown;
  if (SUCCEEDED(source->get_Kind(&kind)) && (kind == ITTrackKindFile || kind == ITTrackKindCD)) {
    if (auto file = QueryInterface<IITFileOrCDTrack>(source)) {
      if (std::string location; SUCCEEDED(file->get_Location(&location))) track.location = location;
    }
  }
}

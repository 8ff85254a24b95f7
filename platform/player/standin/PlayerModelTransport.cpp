// The player model's transport and play position: events, what plays and
// where, the clock catching up (Tick), the transport commands, and the
// calls of the person at the player.
#include <algorithm>

#include "platform/player/standin/PlayerModelState.h"

namespace platform::player {
using namespace model;

namespace {

constexpr Millis kBackTrackRestart = 2000;  // further in than this, BackTrack restarts the track

}  // namespace

void PlayerModel::State::EmitTrack(DISPID id, const std::optional<ObjectRef>& track) {
  PlayerEvent e;
  e.id = id;
  e.track = track;
  if (track)
    if (auto it = lib.tracks.find(track->databaseId); it != lib.tracks.end()) e.trackKind = it->second.kind;
  Emit(e);
}

void PlayerModel::State::EmitDatabaseChanged(ObjectIDRows deleted, ObjectIDRows changed) {
  if (deleted.empty() && changed.empty()) return;
  PlayerEvent e;
  e.id = ITEventDatabaseChanged;
  e.deleted = std::move(deleted);
  e.changed = std::move(changed);
  Emit(e);
}

std::optional<ObjectRef> PlayerModel::State::CurrentRef() {
  if (!hasCurrent) return std::nullopt;
  if (Playlist* p = lib.FindPlaylist(curPlaylist); p && curEntry)
    if (const Entry* e = p->Find(curEntry)) return TrackRef(p->data.playlistId, *e);
  // Its entry is gone: the track still plays, as a track of the library.
  if (long entry = lib.LibraryEntryOf(curDatabase))
    return TrackRef(lib.Main().data.playlistId, Entry{entry, curDatabase});
  return std::nullopt;
}

Millis PlayerModel::State::PositionAt(Millis now) const {
  const TrackData* t = CurrentData();
  if (!t) return 0;
  Millis pos = positionMs;
  if (state != ITPlayerStateStopped) pos += rate * (now - since);
  return std::clamp<Millis>(pos, 0, LengthMs(*t));
}

void PlayerModel::State::Rebase(Millis now) {
  positionMs = PositionAt(now);
  since = now;
}

// --- transport

void PlayerModel::State::SetCurrent(long playlistId, const Entry& e, long orderPos) {
  hasCurrent = true;
  curPlaylist = playlistId;
  curEntry = e.entryId;
  curDatabase = e.databaseId;
  curOrderPos = orderPos;
  positionMs = 0;
}

void PlayerModel::State::StartPlaying(Millis now) {
  state = ITPlayerStatePlaying;
  rate = 1;
  since = now;
  EmitTrack(ITEventPlayerPlay, CurrentRef());
}

void PlayerModel::State::Halt() {
  state = ITPlayerStateStopped;
  rate = 0;
  positionMs = 0;
}

bool PlayerModel::State::StopForCommand(Millis now) {
  if (state == ITPlayerStateStopped) return false;
  Rebase(now);
  EmitTrack(ITEventPlayerStop, CurrentRef());
  return true;
}

std::optional<std::pair<Entry, long>> PlayerModel::State::Neighbour(int step) {
  if (!hasCurrent) return std::nullopt;
  Playlist* p = lib.FindPlaylist(curPlaylist);
  if (!p) return std::nullopt;
  long pos = curEntry ? p->OrderPosition(curEntry) : -1;
  long target;
  if (pos >= 0) {
    target = pos + step;
  } else {
    // The entry was removed: its follower now holds its place.
    target = step > 0 ? curOrderPos : curOrderPos - 1;
  }
  if (target < 0 || target >= static_cast<long>(p->order.size())) return std::nullopt;
  const Entry* e = p->Find(p->order[static_cast<size_t>(target)]);
  if (!e) return std::nullopt;
  return std::make_pair(*e, target);
}

void PlayerModel::State::Tick(Millis now) {
  while (hasCurrent && state != ITPlayerStateStopped) {
    const TrackData* t = CurrentData();
    if (!t) {
      Halt();
      return;
    }
    if (rate < 0) {
      Millis zeroAt = since + (positionMs + (-rate) - 1) / (-rate);
      if (zeroAt > now) return;
      positionMs = 0;
      since = zeroAt;
      rate = 1;
      state = ITPlayerStatePlaying;
      continue;
    }
    Millis end = since + (LengthMs(*t) - positionMs + rate - 1) / rate;
    if (end > now) return;
    EmitTrack(ITEventPlayerStop, CurrentRef());
    auto next = fromFile ? std::nullopt : Neighbour(1);
    if (!next) {
      Halt();
      return;
    }
    SetCurrent(curPlaylist, next->first, next->second);
    StartPlaying(end);
  }
}

Millis PlayerModel::State::NextWakeup() const {
  const TrackData* t = CurrentData();
  if (!t || state == ITPlayerStateStopped) return kForever;
  if (rate < 0) return since + (positionMs + (-rate) - 1) / (-rate);
  return since + (LengthMs(*t) - positionMs + rate - 1) / rate;
}

// --- commands

void PlayerModel::State::DoPlay(Millis now) {
  if (StopForCommand(now)) {
    rate = 1;
    state = ITPlayerStatePlaying;
    EmitTrack(ITEventPlayerPlay, CurrentRef());
    return;
  }
  if (!CurrentData()) {
    Playlist& main = lib.Main();
    if (main.order.empty()) return;
    const Entry* e = main.Find(main.order.front());
    SetCurrent(main.data.playlistId, *e, 0);
    fromFile = false;
  }
  StartPlaying(now);
}

void PlayerModel::State::DoStop(Millis now) {
  if (StopForCommand(now)) Halt();
}

void PlayerModel::State::DoPause(Millis now) {
  if (!StopForCommand(now)) return;
  state = ITPlayerStateStopped;
  rate = 0;
}

void PlayerModel::State::DoNext(Millis now) {
  if (!CurrentData()) return;
  bool wasPlaying = StopForCommand(now);
  if (fromFile) {
    curPlaylist = lib.Main().data.playlistId;
    curEntry = lib.LibraryEntryOf(curDatabase);
    fromFile = false;
  }
  auto next = Neighbour(1);
  if (!next) {
    Halt();
    return;
  }
  SetCurrent(curPlaylist, next->first, next->second);
  if (wasPlaying) StartPlaying(now);
}

void PlayerModel::State::DoBack(Millis now) {
  if (!CurrentData()) return;
  Millis pos = PositionAt(now);
  bool wasPlaying = StopForCommand(now);
  if (fromFile) {
    curPlaylist = lib.Main().data.playlistId;
    curEntry = lib.LibraryEntryOf(curDatabase);
    fromFile = false;
  }
  if (pos < kBackTrackRestart)
    if (auto prev = Neighbour(-1)) SetCurrent(curPlaylist, prev->first, prev->second);
  positionMs = 0;
  if (wasPlaying) StartPlaying(now);
}

void PlayerModel::State::PlayEntry(Millis now, Playlist& p, const Entry& e, bool file) {
  Entry copy = e;  // StopForCommand must not see a half-updated current
  StopForCommand(now);
  SetCurrent(p.data.playlistId, copy, p.OrderPosition(copy.entryId));
  fromFile = file;
  StartPlaying(now);
}

#undef PLAYER_CALL_PROLOGUE

// The person at the player: no gate, but nothing moves once the player quit.
#define PLAYER_USER_PROLOGUE()                          \
  std::lock_guard lock(mutex_);                         \
  State& s = *state_;                                   \
  [[maybe_unused]] const Millis now = TheClock().Now(); \
  s.Tick(now);                                          \
  if (s.quit) return

void PlayerModel::UserPlay() {
  PLAYER_USER_PROLOGUE();
  s.DoPlay(now);
}

void PlayerModel::UserStop() {
  PLAYER_USER_PROLOGUE();
  s.DoStop(now);
}

void PlayerModel::UserNext() {
  PLAYER_USER_PROLOGUE();
  s.DoNext(now);
}

bool PlayerModel::Seek(long seconds) {
  if (seconds < 0) return false;
  std::lock_guard lock(mutex_);
  State& s = *state_;
  const Millis now = TheClock().Now();
  s.Tick(now);
  const TrackData* t = s.CurrentData();
  if (s.quit || !t) return true;
  // Past the end is the end (and so the next track); seconds * 1000 must
  // not overflow on the way.
  const Millis length = LengthMs(*t);
  s.positionMs = std::min<Millis>(seconds, length / 1000 + 1) * 1000;
  s.positionMs = std::min(s.positionMs, length);
  s.since = now;
  s.Tick(now);
  return true;
}

void PlayerModel::FastForward() {
  PLAYER_USER_PROLOGUE();
  if (s.state == ITPlayerStateStopped) return;
  s.Rebase(now);
  s.rate = 4;
  s.state = ITPlayerStateFastForward;
}

void PlayerModel::Rewind() {
  PLAYER_USER_PROLOGUE();
  if (s.state == ITPlayerStateStopped) return;
  s.Rebase(now);
  s.rate = -4;
  s.state = ITPlayerStateRewind;
}

void PlayerModel::SetShuffle(long playlistId, bool on) {
  PLAYER_USER_PROLOGUE();
  if (Playlist* p = s.lib.FindPlaylist(playlistId)) {
    long entry = s.curPlaylist == playlistId ? s.curEntry : 0;
    p->Shuffle(on);
    if (entry) s.curOrderPos = p->OrderPosition(entry);
  }
}

void PlayerModel::DisableCalls(long reason) {
  PLAYER_USER_PROLOGUE();
  if (s.disabled) return;
  s.disabled = true;
  PlayerEvent e;
  e.id = ITEventCOMCallsDisabled;
  e.number = reason;
  s.Emit(e);
}

void PlayerModel::EnableCalls() {
  PLAYER_USER_PROLOGUE();
  if (!s.disabled) return;
  s.disabled = false;
  PlayerEvent e;
  e.id = ITEventCOMCallsEnabled;
  s.Emit(e);
}

void PlayerModel::Quit() {
  PLAYER_USER_PROLOGUE();
  PlayerEvent e;
  e.id = ITEventAboutToPromptUserToQuit;
  s.Emit(e);
  e.id = ITEventQuitting;
  s.Emit(e);
  s.quit = true;
  s.state = ITPlayerStateStopped;
  s.rate = 0;
}

}  // namespace platform::player

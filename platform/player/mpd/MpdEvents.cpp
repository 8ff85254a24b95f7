// The session's events: the player's state read in one look, the play and
// stop events between two looks, and the idle thread that hears MPD's
// changes and tells a lost player.
#include "platform/player/mpd/MpdSession.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <cstring>

#include "platform/kernel/Messages.h"
#include "platform/kernel/UniqueFd.h"
#include "platform/player/mpd/MpdObjects.h"
#include "platform/player/mpd/MpdQueueOrigin.h"

namespace platform::player::mpd {

namespace {

// Without any event for this long the event connection asks whether MPD is
// still there (it then has kMpdAnswerTimeout to answer).
constexpr unsigned kIdleQuietSpell = 3000;  // ms
// A song this close to its end when another starts has ended (MPD's elapsed
// time runs ahead of what is heard by the output's buffer, about 2 s with
// PulseAudio).
constexpr long long kEndMargin = 4000;  // ms

}  // namespace

// Wakes the idle thread when its application object goes.
struct WakePipe {
  platform::UniqueFd fds[2];
  WakePipe() {
    int ends[2];
    if (::pipe(ends) == 0) {
      fds[0].Reset(ends[0]);
      fds[1].Reset(ends[1]);
    }
  }
  ~WakePipe() {
    for (platform::UniqueFd& fd : fds) fd.Reset();
  }
  WakePipe(const WakePipe&) = delete;
  WakePipe& operator=(const WakePipe&) = delete;
};

bool Session::PassOverUndecodable(const std::string& uri) {
  std::lock_guard events(eventMutex_);
  std::lock_guard lock(mutex_);
  if (dead_) return false;
  mpd_connection* c = connection_.get();
  MpdStatus statusOwner(mpd_run_status(c));
  mpd_status* status = statusOwner.get();
  if (!status) {
    Failure(c);
    return false;
  }
  // Only the song's own failure: one of the output stops every song alike.
  const char* error = mpd_status_get_error(status);
  const bool failed = mpd_status_get_state(status) == MPD_STATE_STOP && error != nullptr &&
                      std::strncmp(error, "Failed to decode", 16) == 0;
  statusOwner.reset();
  if (!failed) return false;
  Seen now;
  if (FAILED(CaptureLocked(c, &now)) || !now.song || (!uri.empty() && now.song->first.uri != uri)) return false;
  if (!mpd_run_clearerror(c)) {
    Failure(c);
    return false;
  }
  // Seen playing for a moment, its stop has gone out already.
  if (lastStopped_ != now.songId) {
    Post(ITEventPlayerStop, {std::static_pointer_cast<IITObject>(TrackOf(now))});
    lastStopped_ = now.songId;
  }
  seen_ = now;
  return true;
}

HRESULT Session::Advise(IiTunesEvents* sink, DWORD* cookie) {
  if (HRESULT hr = StartIdle(); FAILED(hr)) return hr;
  platform::EnsureMessageQueue();
  std::lock_guard lock(sinks_->mutex);
  *cookie = sinks_->next++;
  sinks_->table[*cookie] = {sink, GetCurrentThreadId()};
  return S_OK;
}

HRESULT Session::Unadvise(DWORD cookie) {
  std::lock_guard lock(sinks_->mutex);
  return sinks_->table.erase(cookie) ? S_OK : CONNECT_E_NOCONNECTION;
}

HRESULT Session::CaptureLocked(mpd_connection* c, Seen* seen) {
  if (c == connection_.get() && dead_) return RPC_E_DISCONNECTED;
  // One command list: another client's skip between two separate commands
  // would pair the state of one song with another song. The song comes
  // without its tags, which no line limit then touches: they are the
  // library's, else read aside.
  const bool tagChoice = mpd_connection_cmp_server_version(c, 0, 21, 0) >= 0;
  if (!mpd_command_list_begin(c, true) || (tagChoice && !mpd_send_clear_tag_types(c)) || !mpd_send_status(c) ||
      !mpd_send_current_song(c) || (tagChoice && !mpd_send_enable_tag_types(c, kTagsRead, std::size(kTagsRead))) ||
      !mpd_command_list_end(c))
    return Failure(c);
  if (tagChoice && !mpd_response_next(c)) return Failure(c);
  MpdStatus statusOwner(mpd_recv_status(c));
  mpd_status* status = statusOwner.get();
  if (!status) return Failure(c);
  const mpd_state state = mpd_status_get_state(status);
  seen->playing = state == MPD_STATE_PLAY;
  seen->stopped = state == MPD_STATE_STOP;
  seen->failed = mpd_status_get_error(status) != nullptr;
  const int position = mpd_status_get_song_pos(status);
  const unsigned version = mpd_status_get_queue_version(status);
  seen->songId = position >= 0 ? static_cast<unsigned>(mpd_status_get_song_id(status)) : 0;
  seen->elapsedMs = mpd_status_get_elapsed_ms(status);
  seen->lengthMs = mpd_status_get_total_time(status) * 1000;
  seen->at = std::chrono::steady_clock::now();
  statusOwner.reset();
  seen->song.reset();
  MpdSong songOwner;
  if (mpd_response_next(c)) songOwner.reset(mpd_recv_song(c));
  mpd_song* song = songOwner.get();
  if (!mpd_response_finish(c)) {
    if (song) songOwner.reset();
    return Failure(c);
  }
  if (position < 0 || !song) {
    if (song) songOwner.reset();
    return S_OK;
  }
  Song data;
  const bool known = SongOf(song, &data) == S_OK;
  songOwner.reset();
  if (!known && tagChoice) ReadTagsAside(seen->songId, &data);
  Place place;
  const QueueOrigin origin = ReadOrigin();
  const long entry = origin.EntryOf(seen->songId);
  if (!origin.playlist.empty() && (entry > 0 || (origin.entries.empty() && origin.version == version))) {
    place.playlist = origin.playlist;
    place.playlistId = ids_->IdOf(MpdIds::Kind::Playlist, origin.playlist);
    // Shuffled, the play order is the queue's.
    place.index = entry > 0 && !origin.shuffled ? entry : position + 1;
  } else {
    std::lock_guard cache(libraryMutex_);
    if (library_)
      if (auto it = library_->byUri.find(data.uri); it != library_->byUri.end())
        place.index = static_cast<long>(it->second) + 1;
  }
  seen->song.emplace(std::move(data), std::move(place));
  return S_OK;
}

std::shared_ptr<IITTrack> Session::TrackOf(const Seen& seen) {
  if (!seen.song) return nullptr;
  return MakeTrack(shared_from_this(), seen.song->first, seen.song->second);
}

void Session::Post(DISPID id, std::vector<EventArg> args) {
  std::vector<std::pair<DWORD, DWORD>> targets;
  {
    std::lock_guard lock(sinks_->mutex);
    for (const auto& [cookie, sink] : sinks_->table) targets.emplace_back(cookie, sink.second);
  }
  auto shared = std::make_shared<std::vector<EventArg>>(std::move(args));
  for (const auto& [cookie, thread] : targets) {
    platform::PostThreadCall(thread, [sinks = sinks_, cookie = cookie, id, shared] {
      IiTunesEvents* sink = nullptr;
      {
        std::lock_guard lock(sinks->mutex);
        if (auto it = sinks->table.find(cookie); it != sinks->table.end()) sink = it->second.first;
      }
      if (sink) sink->Invoke(id, *shared);
    });
  }
}

void Session::Compare(const Seen& before, const Seen& after, bool command) {
  const bool other = before.songId != after.songId;
  // The song held next has begun: that is the end of the last one.
  const bool chosenElsewhere =
      !command && other && before.playing && after.playing && (held_ == 0 || after.songId != held_) && !Ended(before);
  {
    std::lock_guard lock(keptMutex_);
    if (command || after.playing) kept_.reset();
    // Stopped elsewhere before its end: the user stopping it there, as a
    // pause there is, and not the end after which the owner plays its next
    // pick. MPD forgets the place at a stop, so the place it had is kept.
    if (!command && before.playing && after.stopped && !after.failed && !other && !Ended(before)) {
      const long long since =
          std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - before.at).count();
      const long long place = std::min<long long>(before.elapsedMs + since, before.lengthMs);
      kept_ = Kept{before.songId, std::max(1L, static_cast<long>(place / 1000))};
    }
  }
  if (before.playing && (command || !after.playing || (other && !chosenElsewhere))) {
    Post(ITEventPlayerStop, {std::static_pointer_cast<IITObject>(TrackOf(before))});
    lastStopped_ = before.songId;
  }
  if (after.playing && (command || !before.playing || other))
    Post(ITEventPlayerPlay, {std::static_pointer_cast<IITObject>(TrackOf(after))});
}

HRESULT Session::Position(long* seconds) {
  return Status([&](const mpd_status* s) {
    *seconds = static_cast<long>(mpd_status_get_elapsed_time(s));
    std::lock_guard lock(keptMutex_);
    if (kept_ && mpd_status_get_state(s) == MPD_STATE_STOP && mpd_status_get_song_pos(s) >= 0 &&
        static_cast<unsigned>(mpd_status_get_song_id(s)) == kept_->songId)
      *seconds = kept_->seconds;
  });
}

bool Session::Ended(const Seen& seen) {
  if (seen.lengthMs == 0) return true;
  const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - seen.at);
  return seen.elapsedMs + since.count() + kEndMargin >= seen.lengthMs;
}

HRESULT Session::StartIdle() {
  std::lock_guard lock(idleMutex_);
  if (idle_.joinable()) return S_OK;
  if (dead_) return RPC_E_DISCONNECTED;
  Connection c = Connect();
  if (!c) return RPC_E_DISCONNECTED;
  auto wake = std::make_shared<WakePipe>();
  if (!wake->fds[0].IsDefined()) return E_FAIL;
  wake_ = wake;
  {
    std::lock_guard events(eventMutex_);
    std::lock_guard command(mutex_);
    Seen now;
    if (HRESULT hr = CaptureLocked(connection_.get(), &now); FAILED(hr)) return hr;
    seen_ = now;
  }
  std::weak_ptr<Session> weak = weak_from_this();
  idle_ = std::thread([weak, c = std::move(c), wake]() mutable { IdleLoop(weak, std::move(c), wake); });
  return S_OK;
}

void Session::StopIdle() {
  std::lock_guard lock(idleMutex_);
  if (!idle_.joinable()) return;
  const char byte = 0;
  while (::write(wake_->fds[1].Get(), &byte, 1) < 0 && errno == EINTR) {}
  // The idle thread may hold the last reference for a moment; it then ends on its own.
  if (idle_.get_id() == std::this_thread::get_id())
    idle_.detach();
  else
    idle_.join();
}

void Session::IdleLoop(const std::weak_ptr<Session>& weak, Connection c, const std::shared_ptr<WakePipe>& wake) {
  const unsigned mask = MPD_IDLE_DATABASE | MPD_IDLE_STORED_PLAYLIST | MPD_IDLE_PLAYER;
  // The library as it is now, so a later change can name what went.
  if (auto session = weak.lock()) {
    if (!session->LoadBaseline(c.get())) {
      session->OnLost();
      return;
    }
  }
  for (;;) {
    bool lost = !mpd_send_idle_mask(c.get(), static_cast<mpd_idle>(mask));
    if (!lost) {
      // A player that stopped answering keeps its socket open and an idle
      // wait would never end: a quiet spell asks it to end the wait, and
      // no answer to that in time is a lost player.
      pollfd fds[2] = {{mpd_connection_get_fd(c.get()), POLLIN, 0}, {wake->fds[0].Get(), POLLIN, 0}};
      int ready;
      while ((ready = ::poll(fds, 2, static_cast<int>(kIdleQuietSpell))) < 0 && errno == EINTR) {}
      if (fds[1].revents != 0) return;  // the application object is going away
      if (ready == 0) {
        lost = !mpd_send_noidle(c.get()) || !Readable(mpd_connection_get_fd(c.get()), wake->fds[0].Get());
        if (::poll(&fds[1], 1, 0) > 0) return;
      }
      const unsigned changed = lost ? 0 : mpd_recv_idle(c.get(), false);
      lost = lost || mpd_connection_get_error(c.get()) != MPD_ERROR_SUCCESS;
      if (!lost && changed != 0) {
        auto session = weak.lock();
        if (!session) return;
        lost = !session->OnIdle(c.get(), changed);
      }
    }
    if (lost) {
      if (auto session = weak.lock()) session->OnLost();
      return;
    }
  }
}

bool Session::OnIdle(mpd_connection* c, unsigned changed) {
  if (changed & MPD_IDLE_PLAYER) {
    std::lock_guard events(eventMutex_);
    Seen now;
    if (FAILED(CaptureLocked(c, &now))) return false;
    // MPD ran off the end of the song with the one held next still queued
    // behind it: it missed the hold (seen when the hold came as the song
    // started, on a busy machine). The held song plays at once.
    if (const unsigned held = held_; held != 0 && seen_.playing && seen_.songId != held && now.stopped && !now.failed &&
                                     now.songId == 0 && Ended(seen_)) {
      if (!mpd_run_play_id(c, held) && !mpd_connection_clear_error(c)) return false;
      if (FAILED(CaptureLocked(c, &now))) return false;
    }
    Compare(seen_, now, false);
    seen_ = now;
  }
  if (changed & MPD_IDLE_DATABASE) {
    // Which songs went and came: rows of the database-changed event.
    std::shared_ptr<const Library> before;
    {
      std::lock_guard cache(libraryMutex_);
      before = library_;
    }
    auto after = std::make_shared<Library>();
    if (!LoadStamped(c, after.get())) return mpd_connection_get_error(c) == MPD_ERROR_SUCCESS;
    {
      std::lock_guard cache(libraryMutex_);
      library_ = after;
    }
    ObjectIDRows deleted;
    ObjectIDRows changedRows;
    if (before) {
      for (const Song& s : before->songs)
        if (!after->byUri.count(s.uri)) deleted.push_back({kSourceId, kLibraryPlaylistId, s.id, s.id});
    }
    for (const Song& s : after->songs)
      if (auto it = before ? before->byUri.find(s.uri) : after->byUri.end();
          !before || it == before->byUri.end() || !SameTags(before->songs[it->second], s))
        changedRows.push_back({kSourceId, kLibraryPlaylistId, s.id, s.id});
    Post(ITEventDatabaseChanged, {std::move(deleted), std::move(changedRows)});
  }
  if (changed & MPD_IDLE_STORED_PLAYLIST)
    Post(ITEventDatabaseChanged, {ObjectIDRows{}, ObjectIDRows{{kSourceId, 0, 0, 0}}});
  return true;
}

void Session::OnLost() {
  {
    std::lock_guard lock(mutex_);
    dead_ = true;
  }
  // Gone without a word: the connection says so, as the stand-in's does.
  Post(ITEventAboutToPromptUserToQuit, {kPlayerLost});
  Post(ITEventQuitting, {});
}

}  // namespace platform::player::mpd

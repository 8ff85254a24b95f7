#include "platform/player/standin/PlayerModel.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string_view>
#include <unordered_map>

#include "platform/player/standin/LibraryInternal.h"

namespace platform::player {
namespace {

constexpr long kSourceId = 1;
constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002u);
constexpr Millis kBackTrackRestart = 2000;  // further in than this, BackTrack restarts the track

struct Entry {
  long entryId = 0;
  long databaseId = 0;
};

struct Playlist {
  PlaylistData data;  // data.trackIds is not kept up to date; entries are
  bool library = false;
  // Ordered by entry id: ids only grow, new entries go at the end and a
  // removal keeps the order, so an entry is found by binary search.
  std::vector<Entry> entries;
  std::vector<long> order;                      // entry ids in play order
  std::unordered_map<long, size_t> orderIndex;  // entry id -> place in order, while shuffled

  void Reindex() {
    orderIndex.clear();
    if (!data.shuffle) return;
    for (size_t i = 0; i < order.size(); ++i) orderIndex[order[i]] = i;
  }
  long IndexOf(long entryId) const {  // place in entries, -1 when absent
    auto it = std::lower_bound(entries.begin(), entries.end(), entryId,
                               [](const Entry& e, long id) { return e.entryId < id; });
    return it == entries.end() || it->entryId != entryId ? -1 : static_cast<long>(it - entries.begin());
  }
  const Entry* Find(long entryId) const {
    long i = IndexOf(entryId);
    return i < 0 ? nullptr : &entries[static_cast<size_t>(i)];
  }
  long OrderPosition(long entryId) const {  // 0-based, -1 when absent
    if (!data.shuffle) return IndexOf(entryId);  // play order is entry order
    auto it = orderIndex.find(entryId);
    return it == orderIndex.end() ? -1 : static_cast<long>(it->second);
  }
  void Append(const Entry& entry) {
    if (data.shuffle) orderIndex[entry.entryId] = order.size();
    entries.push_back(entry);
    order.push_back(entry.entryId);
  }
  void Remove(long entryId) {
    long i = IndexOf(entryId);
    if (i < 0) return;
    entries.erase(entries.begin() + i);
    order.erase(std::remove(order.begin(), order.end(), entryId), order.end());
    Reindex();
  }
  void Shuffle(bool on) {
    data.shuffle = on;
    order.clear();
    for (const Entry& e : entries) order.push_back(e.entryId);
    if (on) {
      std::mt19937 random(static_cast<std::mt19937::result_type>(data.playlistId));
      std::shuffle(order.begin(), order.end(), random);
    }
    Reindex();
  }
  bool Editable() const { return !library && !data.smart && data.specialKind == 0; }
  std::vector<long> TrackIds() const {
    std::vector<long> ids;
    ids.reserve(entries.size());
    for (const Entry& e : entries) ids.push_back(e.databaseId);
    return ids;
  }
};

struct Library {
  Library() = default;
  Library(Library&&) = default;
  Library& operator=(Library&&) = default;
  Library(const Library&) = delete;  // byLocation points into tracks

  std::string sourceName;
  std::map<long, TrackData> tracks;
  // Views of the locations in `tracks` (whose nodes never move), so a
  // location is not held twice.
  std::unordered_map<std::string_view, long> byLocation;
  std::vector<Playlist> playlists;
  long nextEntryId = 1;
  long nextDatabaseId = 1;
  long nextPlaylistId = 1;

  Playlist* FindPlaylist(long id) {
    for (Playlist& p : playlists)
      if (p.data.playlistId == id) return &p;
    return nullptr;
  }
  Playlist& Main() { return playlists.front(); }
  long LibraryEntryOf(long databaseId) {
    for (const Entry& e : Main().entries)
      if (e.databaseId == databaseId) return e.entryId;
    return 0;
  }
  void IndexLocation(const TrackData& t) {
    if (!t.location.empty()) byLocation.emplace(t.location, t.databaseId);
  }
  void RebuildLocations() {
    byLocation.clear();
    for (const auto& [id, t] : tracks) IndexLocation(t);
  }
};

// Takes the tracks and playlists of `data` over rather than copying them.
Library BuildLibrary(LibraryData&& data, long firstEntryId) {
  Library lib;
  lib.sourceName = data.sourceName;
  lib.nextEntryId = firstEntryId;
  for (TrackData& t : data.tracks) {
    const long id = t.databaseId;
    lib.tracks.emplace_hint(lib.tracks.end(), id, std::move(t));
    lib.nextDatabaseId = std::max(lib.nextDatabaseId, id + 1);
  }
  data.tracks = {};
  lib.RebuildLocations();
  lib.playlists.reserve(data.playlists.size());
  for (size_t i = 0; i < data.playlists.size(); ++i) {
    Playlist p;
    p.data = std::move(data.playlists[i]);
    p.library = i == 0;
    p.entries.reserve(p.data.trackIds.size());
    p.order.reserve(p.data.trackIds.size());
    for (long id : p.data.trackIds) p.Append(Entry{lib.nextEntryId++, id});
    p.data.trackIds = {};
    if (p.data.shuffle) p.Shuffle(true);
    lib.nextPlaylistId = std::max(lib.nextPlaylistId, p.data.playlistId + 1);
    lib.playlists.push_back(std::move(p));
  }
  return lib;
}

std::string MakePersistentId(long playlistId) {
  char text[32];
  std::snprintf(text, sizeof text, "5A0E%012lX", static_cast<unsigned long>(playlistId));
  return text;
}

Millis LengthMs(const TrackData& t) { return std::max<Millis>(1000, Millis{t.seconds} * 1000); }

}  // namespace

struct PlayerModel::State {
  Library lib;
  std::map<int, Listener> listeners;
  int nextListener = 1;

  long state = ITPlayerStateStopped;
  bool hasCurrent = false;
  long curPlaylist = 0;
  long curEntry = 0;  // 0 once the entry was removed while it played
  long curDatabase = 0;
  long curOrderPos = 0;  // where the entry stood in play order
  bool fromFile = false;
  Millis positionMs = 0;  // at `since`
  Millis since = 0;
  int rate = 0;

  bool disabled = false;
  bool quit = false;
  bool miniPlayer = false;
  bool visible = true;
  bool minimized = false;
  long selected = 0;
  long versionMajor = 1;
  long versionMinor = 10;

  // --- the lock is held in all of these

  void Emit(const PlayerEvent& e) {
    for (auto& [id, l] : listeners) l(e);
  }
  void EmitTrack(DISPID id, const std::optional<ObjectRef>& track) {
    PlayerEvent e;
    e.id = id;
    e.track = track;
    if (track)
      if (auto it = lib.tracks.find(track->databaseId); it != lib.tracks.end()) e.trackKind = it->second.kind;
    Emit(e);
  }
  void EmitDatabaseChanged(ObjectIDRows deleted, ObjectIDRows changed) {
    if (deleted.empty() && changed.empty()) return;
    PlayerEvent e;
    e.id = ITEventDatabaseChanged;
    e.deleted = std::move(deleted);
    e.changed = std::move(changed);
    Emit(e);
  }

  HRESULT Gate() const {
    if (quit) return RPC_E_DISCONNECTED;
    if (disabled) return RPC_E_CALL_REJECTED;
    return S_OK;
  }

  static ObjectRef TrackRef(long playlistId, const Entry& e) {
    return ObjectRef{ObjectKind::Track, kSourceId, playlistId, e.entryId, e.databaseId};
  }
  static ObjectRef PlaylistRef(long playlistId) {
    return ObjectRef{ObjectKind::Playlist, kSourceId, playlistId, 0, 0};
  }

  bool IsSource(const ObjectRef& r) const {
    return r.kind == ObjectKind::Source && r.sourceId == kSourceId;
  }
  Playlist* ResolvePlaylist(const ObjectRef& r) {
    if (r.kind != ObjectKind::Playlist || r.sourceId != kSourceId) return nullptr;
    return lib.FindPlaylist(r.playlistId);
  }
  const Entry* ResolveTrack(const ObjectRef& r, Playlist** owner = nullptr) {
    if (r.kind != ObjectKind::Track || r.sourceId != kSourceId) return nullptr;
    Playlist* p = lib.FindPlaylist(r.playlistId);
    if (!p) return nullptr;
    const Entry* e = p->Find(r.trackId);
    if (!e || e->databaseId != r.databaseId) return nullptr;
    if (owner) *owner = p;
    return e;
  }

  const TrackData* CurrentData() const {
    if (!hasCurrent) return nullptr;
    auto it = lib.tracks.find(curDatabase);
    return it == lib.tracks.end() ? nullptr : &it->second;
  }
  std::optional<ObjectRef> CurrentRef() {
    if (!hasCurrent) return std::nullopt;
    if (Playlist* p = lib.FindPlaylist(curPlaylist); p && curEntry)
      if (const Entry* e = p->Find(curEntry)) return TrackRef(p->data.playlistId, *e);
    // Its entry is gone: the track still plays, as a track of the library.
    if (long entry = lib.LibraryEntryOf(curDatabase))
      return TrackRef(lib.Main().data.playlistId, Entry{entry, curDatabase});
    return std::nullopt;
  }

  Millis PositionAt(Millis now) const {
    const TrackData* t = CurrentData();
    if (!t) return 0;
    Millis pos = positionMs;
    if (state != ITPlayerStateStopped) pos += rate * (now - since);
    return std::clamp<Millis>(pos, 0, LengthMs(*t));
  }
  void Rebase(Millis now) {
    positionMs = PositionAt(now);
    since = now;
  }

  void SetCurrent(long playlistId, const Entry& e, long orderPos) {
    hasCurrent = true;
    curPlaylist = playlistId;
    curEntry = e.entryId;
    curDatabase = e.databaseId;
    curOrderPos = orderPos;
    positionMs = 0;
  }
  void StartPlaying(Millis now) {
    state = ITPlayerStatePlaying;
    rate = 1;
    since = now;
    EmitTrack(ITEventPlayerPlay, CurrentRef());
  }
  void Halt() {
    state = ITPlayerStateStopped;
    rate = 0;
    positionMs = 0;
  }
  // A transport command while playing stops first: exactly one stop event.
  bool StopForCommand(Millis now) {
    if (state == ITPlayerStateStopped) return false;
    Rebase(now);
    EmitTrack(ITEventPlayerStop, CurrentRef());
    return true;
  }

  // The entry `step` places from the current one in play order, if any.
  std::optional<std::pair<Entry, long>> Neighbour(int step) {
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

  void Tick(Millis now) {
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

  Millis NextWakeup() const {
    const TrackData* t = CurrentData();
    if (!t || state == ITPlayerStateStopped) return kForever;
    if (rate < 0) return since + (positionMs + (-rate) - 1) / (-rate);
    return since + (LengthMs(*t) - positionMs + rate - 1) / rate;
  }

  // --- transport

  void DoPlay(Millis now) {
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
  void DoStop(Millis now) {
    if (StopForCommand(now)) Halt();
  }
  void DoPause(Millis now) {
    if (!StopForCommand(now)) return;
    state = ITPlayerStateStopped;
    rate = 0;
  }
  void DoNext(Millis now) {
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
  void DoBack(Millis now) {
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
  void PlayEntry(Millis now, Playlist& p, const Entry& e, bool file) {
    Entry copy = e;  // StopForCommand must not see a half-updated current
    StopForCommand(now);
    SetCurrent(p.data.playlistId, copy, p.OrderPosition(copy.entryId));
    fromFile = file;
    StartPlaying(now);
  }

  // --- library edits

  Playlist& NewPlaylist(const std::string& name, long specialKind, long parentId) {
    Playlist p;
    p.data.playlistId = lib.nextPlaylistId++;
    p.data.name = name.empty() ? "untitled playlist" : name;
    p.data.persistentId = MakePersistentId(p.data.playlistId);
    p.data.specialKind = specialKind;
    p.data.parentId = parentId;
    lib.playlists.push_back(std::move(p));
    Playlist& added = lib.playlists.back();
    EmitDatabaseChanged({}, {{kSourceId, added.data.playlistId, 0, 0}});
    return added;
  }

  // The library track at `path`, adding a file from disk when the library
  // has none; 0 when there is no such file.
  long TrackForPath(const std::string& path, ObjectIDRows* changed) {
    if (auto it = lib.byLocation.find(path); it != lib.byLocation.end()) return it->second;
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return 0;
    TrackData t = DescribeAudioFile(path);
    t.databaseId = lib.nextDatabaseId++;
    lib.IndexLocation(lib.tracks.emplace(t.databaseId, t).first->second);
    Entry e{lib.nextEntryId++, t.databaseId};
    lib.Main().Append(e);
    changed->push_back({kSourceId, lib.Main().data.playlistId, e.entryId, e.databaseId});
    return t.databaseId;
  }

  void RemoveFromLibrary(long databaseId, Millis now) {
    if (hasCurrent && curDatabase == databaseId) {
      StopForCommand(now);
      Halt();
      hasCurrent = false;
    }
    ObjectIDRows deleted, changed;
    for (Playlist& p : lib.playlists) {
      bool touched = false;
      for (size_t i = p.entries.size(); i-- > 0;) {
        if (p.entries[i].databaseId != databaseId) continue;
        deleted.push_back({kSourceId, p.data.playlistId, p.entries[i].entryId, databaseId});
        p.Remove(p.entries[i].entryId);
        touched = true;
      }
      if (touched && !p.library) changed.push_back({kSourceId, p.data.playlistId, 0, 0});
    }
    lib.tracks.erase(databaseId);
    lib.RebuildLocations();
    EmitDatabaseChanged(std::move(deleted), std::move(changed));
  }

  void RemoveEntry(Playlist& p, const Entry& e) {
    Entry gone = e;
    if (hasCurrent && curPlaylist == p.data.playlistId && curEntry == gone.entryId) {
      curOrderPos = p.OrderPosition(gone.entryId);
      curEntry = 0;  // keeps playing; its follower comes next
    }
    p.Remove(gone.entryId);
    EmitDatabaseChanged({{kSourceId, p.data.playlistId, gone.entryId, gone.databaseId}},
                        {{kSourceId, p.data.playlistId, 0, 0}});
  }
};

PlayerModel::PlayerModel(LibraryData library) : state_(std::make_unique<State>()) {
  ValidateLibrary(library, "library");
  state_->lib = BuildLibrary(std::move(library), 1);
}

PlayerModel::~PlayerModel() = default;

void PlayerModel::Tick() {
  std::lock_guard lock(mutex_);
  state_->Tick(TheClock().Now());
}

Millis PlayerModel::NextWakeup() {
  std::lock_guard lock(mutex_);
  state_->Tick(TheClock().Now());
  return state_->NextWakeup();
}

int PlayerModel::AddListener(Listener listener) {
  std::lock_guard lock(mutex_);
  int id = state_->nextListener++;
  state_->listeners.emplace(id, std::move(listener));
  return id;
}

void PlayerModel::RemoveListener(int id) {
  std::lock_guard lock(mutex_);
  state_->listeners.erase(id);
}

// Every automation call: lock, catch up with the clock, refuse when calls are off.
#define PLAYER_CALL_PROLOGUE()          \
  std::lock_guard lock(mutex_);         \
  State& s = *state_;                   \
  [[maybe_unused]] const Millis now = TheClock().Now(); \
  s.Tick(now);                          \
  if (HRESULT gate = s.Gate(); FAILED(gate)) return gate

HRESULT PlayerModel::Play() {
  PLAYER_CALL_PROLOGUE();
  s.DoPlay(now);
  return S_OK;
}

HRESULT PlayerModel::Stop() {
  PLAYER_CALL_PROLOGUE();
  s.DoStop(now);
  return S_OK;
}

HRESULT PlayerModel::Pause() {
  PLAYER_CALL_PROLOGUE();
  s.DoPause(now);
  return S_OK;
}

HRESULT PlayerModel::NextTrack() {
  PLAYER_CALL_PROLOGUE();
  s.DoNext(now);
  return S_OK;
}

HRESULT PlayerModel::BackTrack() {
  PLAYER_CALL_PROLOGUE();
  s.DoBack(now);
  return S_OK;
}

HRESULT PlayerModel::PlayFile(const std::string& path) {
  PLAYER_CALL_PROLOGUE();
  ObjectIDRows changed;
  long id = s.TrackForPath(path, &changed);
  if (!id) return kFileNotFound;
  s.EmitDatabaseChanged({}, std::move(changed));
  Playlist& main = s.lib.Main();
  long entry = s.lib.LibraryEntryOf(id);
  s.PlayEntry(now, main, *main.Find(entry), true);
  return S_OK;
}

HRESULT PlayerModel::CheckVersion(long major, long minor, bool* compatible) {
  PLAYER_CALL_PROLOGUE();
  *compatible = major < s.versionMajor || (major == s.versionMajor && minor <= s.versionMinor);
  return S_OK;
}

HRESULT PlayerModel::GetObjectByIds(long sourceId, long playlistId, long trackId, long databaseId,
                                    std::optional<ObjectRef>* object) {
  PLAYER_CALL_PROLOGUE();
  object->reset();
  if (sourceId != kSourceId) return S_FALSE;
  if (playlistId == 0 && trackId == 0 && databaseId == 0) {
    *object = ObjectRef{ObjectKind::Source, kSourceId, 0, 0, 0};
    return S_OK;
  }
  Playlist* p = s.lib.FindPlaylist(playlistId);
  if (!p) return S_FALSE;
  if (trackId == 0 && databaseId == 0) {
    *object = State::PlaylistRef(playlistId);
    return S_OK;
  }
  const Entry* e = p->Find(trackId);
  if (!e || e->databaseId != databaseId) return S_FALSE;
  *object = State::TrackRef(playlistId, *e);
  return S_OK;
}

HRESULT PlayerModel::CreatePlaylist(const std::string& name, ObjectRef* playlist) {
  PLAYER_CALL_PROLOGUE();
  *playlist = State::PlaylistRef(s.NewPlaylist(name, ITUserPlaylistSpecialKindNone, 0).data.playlistId);
  return S_OK;
}

HRESULT PlayerModel::CreateFolder(const std::string& name, ObjectRef* folder) {
  PLAYER_CALL_PROLOGUE();
  *folder = State::PlaylistRef(s.NewPlaylist(name, ITUserPlaylistSpecialKindFolder, 0).data.playlistId);
  return S_OK;
}

HRESULT PlayerModel::GetPlayerState(long* state) {
  PLAYER_CALL_PROLOGUE();
  *state = s.state;
  return S_OK;
}

HRESULT PlayerModel::GetPlayerPosition(long* seconds) {
  PLAYER_CALL_PROLOGUE();
  *seconds = static_cast<long>(s.PositionAt(now) / 1000);
  return S_OK;
}

HRESULT PlayerModel::GetLibrarySource(ObjectRef* source) {
  PLAYER_CALL_PROLOGUE();
  *source = ObjectRef{ObjectKind::Source, kSourceId, 0, 0, 0};
  return S_OK;
}

HRESULT PlayerModel::GetLibraryPlaylist(ObjectRef* playlist) {
  PLAYER_CALL_PROLOGUE();
  *playlist = State::PlaylistRef(s.lib.Main().data.playlistId);
  return S_OK;
}

HRESULT PlayerModel::GetCurrentTrack(std::optional<ObjectRef>* track) {
  PLAYER_CALL_PROLOGUE();
  *track = s.CurrentRef();
  return track->has_value() ? S_OK : S_FALSE;
}

HRESULT PlayerModel::CheckCalls() {
  PLAYER_CALL_PROLOGUE();
  return S_OK;
}

HRESULT PlayerModel::CheckObject(const ObjectRef& object) {
  PLAYER_CALL_PROLOGUE();
  switch (object.kind) {
    case ObjectKind::Source:
      return s.IsSource(object) ? S_OK : ITUNES_E_OBJECTDELETED;
    case ObjectKind::Playlist:
      return s.ResolvePlaylist(object) ? S_OK : ITUNES_E_OBJECTDELETED;
    case ObjectKind::Track:
      return s.ResolveTrack(object) ? S_OK : ITUNES_E_OBJECTDELETED;
  }
  return E_INVALIDARG;
}

HRESULT PlayerModel::GetName(const ObjectRef& object, std::string* name) {
  PLAYER_CALL_PROLOGUE();
  switch (object.kind) {
    case ObjectKind::Source:
      if (!s.IsSource(object)) return ITUNES_E_OBJECTDELETED;
      *name = s.lib.sourceName;
      return S_OK;
    case ObjectKind::Playlist:
      if (Playlist* p = s.ResolvePlaylist(object)) {
        *name = p->data.name;
        return S_OK;
      }
      return ITUNES_E_OBJECTDELETED;
    case ObjectKind::Track:
      if (const Entry* e = s.ResolveTrack(object)) {
        *name = s.lib.tracks.at(e->databaseId).name;
        return S_OK;
      }
      return ITUNES_E_OBJECTDELETED;
  }
  return E_INVALIDARG;
}

HRESULT PlayerModel::GetPlaylistCount(const ObjectRef& source, long* count) {
  PLAYER_CALL_PROLOGUE();
  if (!s.IsSource(source)) return ITUNES_E_OBJECTDELETED;
  *count = static_cast<long>(s.lib.playlists.size());
  return S_OK;
}

HRESULT PlayerModel::GetPlaylistItem(const ObjectRef& source, long index, ObjectRef* playlist) {
  PLAYER_CALL_PROLOGUE();
  if (!s.IsSource(source)) return ITUNES_E_OBJECTDELETED;
  if (index < 1 || index > static_cast<long>(s.lib.playlists.size())) return E_INVALIDARG;
  *playlist = State::PlaylistRef(s.lib.playlists[static_cast<size_t>(index - 1)].data.playlistId);
  return S_OK;
}

HRESULT PlayerModel::GetPlaylistInfo(const ObjectRef& playlist, PlaylistInfo* info) {
  PLAYER_CALL_PROLOGUE();
  Playlist* p = s.ResolvePlaylist(playlist);
  if (!p) return ITUNES_E_OBJECTDELETED;
  info->name = p->data.name;
  info->library = p->library;
  info->smart = p->data.smart;
  info->shuffle = p->data.shuffle;
  info->specialKind = p->data.specialKind;
  info->parentId = p->data.parentId;
  info->trackCount = static_cast<long>(p->entries.size());
  return S_OK;
}

HRESULT PlayerModel::PlayFirstTrack(const ObjectRef& playlist) {
  PLAYER_CALL_PROLOGUE();
  Playlist* p = s.ResolvePlaylist(playlist);
  if (!p) return ITUNES_E_OBJECTDELETED;
  if (p->order.empty()) return S_FALSE;
  s.PlayEntry(now, *p, *p->Find(p->order.front()), false);
  return S_OK;
}

HRESULT PlayerModel::GetTrackCount(const ObjectRef& playlist, long* count) {
  PLAYER_CALL_PROLOGUE();
  Playlist* p = s.ResolvePlaylist(playlist);
  if (!p) return ITUNES_E_OBJECTDELETED;
  *count = static_cast<long>(p->entries.size());
  return S_OK;
}

HRESULT PlayerModel::GetTrackItem(const ObjectRef& playlist, long index, bool byPlayOrder,
                                  ObjectRef* track) {
  PLAYER_CALL_PROLOGUE();
  Playlist* p = s.ResolvePlaylist(playlist);
  if (!p) return ITUNES_E_OBJECTDELETED;
  if (index < 1 || index > static_cast<long>(p->entries.size())) return E_INVALIDARG;
  const size_t i = static_cast<size_t>(index - 1);
  const Entry& e = byPlayOrder ? *p->Find(p->order[i]) : p->entries[i];
  *track = State::TrackRef(p->data.playlistId, e);
  return S_OK;
}

HRESULT PlayerModel::AddFiles(const ObjectRef& playlist, const std::vector<std::string>& paths) {
  PLAYER_CALL_PROLOGUE();
  Playlist* p = s.ResolvePlaylist(playlist);
  if (!p) return ITUNES_E_OBJECTDELETED;
  if (!p->Editable()) return E_FAIL;
  const long playlistId = p->data.playlistId;
  ObjectIDRows changed;
  bool skipped = false;
  for (const std::string& path : paths) {
    long id = s.TrackForPath(path, &changed);
    if (!id) {
      skipped = true;
      continue;
    }
    p = s.lib.FindPlaylist(playlistId);  // TrackForPath may have grown the list's storage
    Entry e{s.lib.nextEntryId++, id};
    p->Append(e);
    changed.push_back({kSourceId, playlistId, e.entryId, id});
  }
  if (!changed.empty()) changed.push_back({kSourceId, playlistId, 0, 0});
  s.EmitDatabaseChanged({}, std::move(changed));
  return skipped ? S_FALSE : S_OK;
}

HRESULT PlayerModel::AddTrack(const ObjectRef& playlist, const ObjectRef& track, ObjectRef* added) {
  PLAYER_CALL_PROLOGUE();
  Playlist* p = s.ResolvePlaylist(playlist);
  const Entry* source = s.ResolveTrack(track);
  if (!p || !source) return ITUNES_E_OBJECTDELETED;
  if (!p->Editable()) return E_FAIL;
  Entry e{s.lib.nextEntryId++, source->databaseId};
  p->Append(e);
  *added = State::TrackRef(p->data.playlistId, e);
  s.EmitDatabaseChanged({}, {{kSourceId, p->data.playlistId, e.entryId, e.databaseId},
                             {kSourceId, p->data.playlistId, 0, 0}});
  return S_OK;
}

HRESULT PlayerModel::CreatePlaylistInFolder(const ObjectRef& folder, const std::string& name,
                                            ObjectRef* playlist) {
  PLAYER_CALL_PROLOGUE();
  Playlist* p = s.ResolvePlaylist(folder);
  if (!p) return ITUNES_E_OBJECTDELETED;
  if (p->library || p->data.specialKind != ITUserPlaylistSpecialKindFolder) return E_FAIL;
  const long parentId = p->data.playlistId;
  *playlist = State::PlaylistRef(s.NewPlaylist(name, ITUserPlaylistSpecialKindNone, parentId).data.playlistId);
  return S_OK;
}

HRESULT PlayerModel::GetParent(const ObjectRef& playlist, std::optional<ObjectRef>* parent) {
  PLAYER_CALL_PROLOGUE();
  Playlist* p = s.ResolvePlaylist(playlist);
  if (!p) return ITUNES_E_OBJECTDELETED;
  parent->reset();
  if (p->data.parentId == 0 || !s.lib.FindPlaylist(p->data.parentId)) return S_FALSE;
  *parent = State::PlaylistRef(p->data.parentId);
  return S_OK;
}

HRESULT PlayerModel::GetTrackInfo(const ObjectRef& track, TrackInfo* info) {
  PLAYER_CALL_PROLOGUE();
  Playlist* p = nullptr;
  const Entry* e = s.ResolveTrack(track, &p);
  if (!e) return ITUNES_E_OBJECTDELETED;
  info->data = s.lib.tracks.at(e->databaseId);
  info->playlistId = p->data.playlistId;
  info->playOrderIndex = p->OrderPosition(e->entryId) + 1;
  return S_OK;
}

HRESULT PlayerModel::PlayTrack(const ObjectRef& track) {
  PLAYER_CALL_PROLOGUE();
  Playlist* p = nullptr;
  const Entry* e = s.ResolveTrack(track, &p);
  if (!e) return ITUNES_E_OBJECTDELETED;
  s.PlayEntry(now, *p, *e, false);
  return S_OK;
}

HRESULT PlayerModel::DeleteTrack(const ObjectRef& track) {
  PLAYER_CALL_PROLOGUE();
  Playlist* p = nullptr;
  const Entry* e = s.ResolveTrack(track, &p);
  if (!e) return ITUNES_E_OBJECTDELETED;
  if (p->library) {
    s.RemoveFromLibrary(e->databaseId, now);
    return S_OK;
  }
  if (!p->Editable()) return E_FAIL;
  s.RemoveEntry(*p, *e);
  return S_OK;
}

HRESULT PlayerModel::SetMiniPlayer(bool on) {
  PLAYER_CALL_PROLOGUE();
  s.miniPlayer = on;
  return S_OK;
}

HRESULT PlayerModel::SetBrowserVisible(bool on) {
  PLAYER_CALL_PROLOGUE();
  s.visible = on;
  return S_OK;
}

HRESULT PlayerModel::SetBrowserMinimized(bool on) {
  PLAYER_CALL_PROLOGUE();
  s.minimized = on;
  return S_OK;
}

HRESULT PlayerModel::SetSelectedPlaylist(const ObjectRef& playlist) {
  PLAYER_CALL_PROLOGUE();
  Playlist* p = s.ResolvePlaylist(playlist);
  if (!p) return ITUNES_E_OBJECTDELETED;
  s.selected = p->data.playlistId;
  return S_OK;
}

#undef PLAYER_CALL_PROLOGUE

// The person at the player: no gate, but nothing moves once the player quit.
#define PLAYER_USER_PROLOGUE()          \
  std::lock_guard lock(mutex_);         \
  State& s = *state_;                   \
  [[maybe_unused]] const Millis now = TheClock().Now(); \
  s.Tick(now);                          \
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

ReloadCounts PlayerModel::ReplaceLibrary(LibraryData library) {
  ValidateLibrary(library, "library");
  std::lock_guard lock(mutex_);
  State& s = *state_;
  const Millis now = TheClock().Now();
  s.Tick(now);
  Library next = BuildLibrary(std::move(library), s.lib.nextEntryId);
  Library& old = s.lib;

  ObjectIDRows deleted, changed;
  const long oldMain = old.Main().data.playlistId;
  const long newMain = next.Main().data.playlistId;
  for (const Entry& e : old.Main().entries)
    if (!next.tracks.count(e.databaseId))
      deleted.push_back({kSourceId, oldMain, e.entryId, e.databaseId});
  for (const Entry& e : next.Main().entries) {
    auto was = old.tracks.find(e.databaseId);
    if (was == old.tracks.end() || !(was->second == next.tracks.at(e.databaseId)))
      changed.push_back({kSourceId, newMain, e.entryId, e.databaseId});
  }
  for (Playlist& p : old.playlists)
    if (!next.FindPlaylist(p.data.playlistId))
      deleted.push_back({kSourceId, p.data.playlistId, 0, 0});
  for (Playlist& p : next.playlists) {
    Playlist* was = old.FindPlaylist(p.data.playlistId);
    bool same = was && was->data.name == p.data.name && was->data.parentId == p.data.parentId &&
                was->data.smart == p.data.smart && was->data.specialKind == p.data.specialKind &&
                was->TrackIds() == p.TrackIds();
    if (!same) changed.push_back({kSourceId, p.data.playlistId, 0, 0});
  }

  // Keep the playing track when the new library still has it.
  std::optional<ObjectRef> stopped;
  bool trackChanged = false;
  if (s.hasCurrent) {
    auto now_it = next.tracks.find(s.curDatabase);
    if (now_it == next.tracks.end()) {
      if (s.state != ITPlayerStateStopped) stopped = s.CurrentRef();
      s.Halt();
      s.hasCurrent = false;
    } else {
      trackChanged = !(old.tracks.at(s.curDatabase) == now_it->second);
      Playlist* p = next.FindPlaylist(s.curPlaylist);
      const Entry* keep = nullptr;
      if (p)
        for (const Entry& e : p->entries)
          if (e.databaseId == s.curDatabase) {
            keep = &e;
            break;
          }
      if (!keep) {
        p = &next.Main();
        keep = p->Find(next.LibraryEntryOf(s.curDatabase));
      }
      s.Rebase(now);
      s.curPlaylist = p->data.playlistId;
      s.curEntry = keep->entryId;
      s.curOrderPos = p->OrderPosition(keep->entryId);
    }
  }
  if (s.selected && !next.FindPlaylist(s.selected)) s.selected = 0;

  ReloadCounts counts{static_cast<long>(changed.size()), static_cast<long>(deleted.size())};
  if (stopped) s.EmitTrack(ITEventPlayerStop, stopped);
  s.lib = std::move(next);
  if (trackChanged && s.state != ITPlayerStateStopped)
    s.EmitTrack(ITEventPlayerPlayingTrackChanged, s.CurrentRef());
  s.EmitDatabaseChanged(std::move(deleted), std::move(changed));
  return counts;
}

void PlayerModel::SetVersion(long major, long minor) {
  std::lock_guard lock(mutex_);
  state_->versionMajor = major;
  state_->versionMinor = minor;
}

PlayerStatus PlayerModel::Status() {
  std::lock_guard lock(mutex_);
  State& s = *state_;
  const Millis now = TheClock().Now();
  s.Tick(now);
  PlayerStatus st;
  st.state = s.state;
  if (const TrackData* t = s.CurrentData()) {
    st.track = *t;
    st.position = static_cast<long>(s.PositionAt(now) / 1000);
    if (auto ref = s.CurrentRef()) {
      st.playlistId = ref->playlistId;
      st.playlistName = s.lib.FindPlaylist(ref->playlistId)->data.name;
    }
  }
  st.callsDisabled = s.disabled;
  st.quit = s.quit;
  st.miniPlayer = s.miniPlayer;
  st.browserVisible = s.visible;
  st.browserMinimized = s.minimized;
  st.selectedPlaylistId = s.selected;
  st.trackCount = static_cast<long>(s.lib.tracks.size());
  st.playlistCount = static_cast<long>(s.lib.playlists.size());
  st.versionMajor = s.versionMajor;
  st.versionMinor = s.versionMinor;
  return st;
}

PlayerModel::Facets PlayerModel::FacetsOf(const ObjectRef& object) {
  std::lock_guard lock(mutex_);
  State& s = *state_;
  Facets f;
  if (Playlist* p = s.ResolvePlaylist(object)) f.userPlaylist = !p->library;
  if (const Entry* e = s.ResolveTrack(object)) {
    const long kind = s.lib.tracks.at(e->databaseId).kind;
    f.fileOrCDTrack = kind == ITTrackKindFile || kind == ITTrackKindCD;
  }
  return f;
}

bool PlayerModel::HasQuit() {
  std::lock_guard lock(mutex_);
  return state_->quit;
}

}  // namespace platform::player

// Inside the stand-in's player model: the library as the model holds it
// (playlists of entries, each entry a track of the library) and the state
// behind PlayerModel, shared by the files that implement it. Not for use
// outside PlayerModel.
#pragma once

#include <algorithm>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/player/standin/PlayerModel.h"

namespace platform::player {
namespace model {

inline constexpr long kSourceId = 1;

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
  long OrderPosition(long entryId) const {       // 0-based, -1 when absent
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
Library BuildLibrary(LibraryData&& data, long firstEntryId);

inline Millis LengthMs(const TrackData& t) { return std::max<Millis>(1000, Millis{t.seconds} * 1000); }

}  // namespace model

struct PlayerModel::State {
  using Entry = model::Entry;
  using Playlist = model::Playlist;
  using Library = model::Library;
  static constexpr long kSourceId = model::kSourceId;

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

  // Events (PlayerModelTransport.cpp)
  void Emit(const PlayerEvent& e) {
    for (auto& [id, l] : listeners) l(e);
  }
  void EmitTrack(DISPID id, const std::optional<ObjectRef>& track);
  void EmitDatabaseChanged(ObjectIDRows deleted, ObjectIDRows changed);

  // Lookups
  HRESULT Gate() const {
    if (quit) return RPC_E_DISCONNECTED;
    if (disabled) return RPC_E_CALL_REJECTED;
    return S_OK;
  }
  static ObjectRef TrackRef(long playlistId, const Entry& e) {
    return ObjectRef{ObjectKind::Track, kSourceId, playlistId, e.entryId, e.databaseId};
  }
  static ObjectRef PlaylistRef(long playlistId) { return ObjectRef{ObjectKind::Playlist, kSourceId, playlistId, 0, 0}; }
  bool IsSource(const ObjectRef& r) const { return r.kind == ObjectKind::Source && r.sourceId == kSourceId; }
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

  // What plays and where (PlayerModelTransport.cpp)
  std::optional<ObjectRef> CurrentRef();
  Millis PositionAt(Millis now) const;
  void Rebase(Millis now);
  void SetCurrent(long playlistId, const Entry& e, long orderPos);
  void StartPlaying(Millis now);
  void Halt();
  // A transport command while playing stops first: exactly one stop event.
  bool StopForCommand(Millis now);
  // The entry `step` places from the current one in play order, if any.
  std::optional<std::pair<Entry, long>> Neighbour(int step);
  void Tick(Millis now);
  Millis NextWakeup() const;

  // Transport commands (PlayerModelTransport.cpp)
  void DoPlay(Millis now);
  void DoStop(Millis now);
  void DoPause(Millis now);
  void DoNext(Millis now);
  void DoBack(Millis now);
  void PlayEntry(Millis now, Playlist& p, const Entry& e, bool file);

  // Library edits (PlayerModelLibrary.cpp)
  Playlist& NewPlaylist(const std::string& name, long specialKind, long parentId);
  // The library track at `path`, adding a file from disk when the library
  // has none; 0 when there is no such file.
  long TrackForPath(const std::string& path, ObjectIDRows* changed);
  void RemoveFromLibrary(long databaseId, Millis now);
  void RemoveEntry(Playlist& p, const Entry& e);
};

}  // namespace platform::player

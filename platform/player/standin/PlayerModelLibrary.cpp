// The player model's library: building it from loaded data, the edits of
// the automation calls (new playlists, files added, tracks removed), and a
// whole new library swapped in.
#include <cstdio>
#include <filesystem>

#include "platform/player/standin/LibraryInternal.h"
#include "platform/player/standin/PlayerModelState.h"

namespace platform::player {
using namespace model;

namespace {

std::string MakePersistentId(long playlistId) {
  char text[32];
  std::snprintf(text, sizeof text, "5A0E%012lX", static_cast<unsigned long>(playlistId));
  return text;
}

}  // namespace

namespace model {

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

}  // namespace model

Playlist& PlayerModel::State::NewPlaylist(const std::string& name, long specialKind, long parentId) {
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

long PlayerModel::State::TrackForPath(const std::string& path, ObjectIDRows* changed) {
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

void PlayerModel::State::RemoveFromLibrary(long databaseId, Millis now) {
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

void PlayerModel::State::RemoveEntry(Playlist& p, const Entry& e) {
  Entry gone = e;
  if (hasCurrent && curPlaylist == p.data.playlistId && curEntry == gone.entryId) {
    curOrderPos = p.OrderPosition(gone.entryId);
    curEntry = 0;  // keeps playing; its follower comes next
  }
  p.Remove(gone.entryId);
  EmitDatabaseChanged({{kSourceId, p.data.playlistId, gone.entryId, gone.databaseId}},
                      {{kSourceId, p.data.playlistId, 0, 0}});
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
    if (!next.tracks.count(e.databaseId)) deleted.push_back({kSourceId, oldMain, e.entryId, e.databaseId});
  for (const Entry& e : next.Main().entries) {
    auto was = old.tracks.find(e.databaseId);
    if (was == old.tracks.end() || !(was->second == next.tracks.at(e.databaseId)))
      changed.push_back({kSourceId, newMain, e.entryId, e.databaseId});
  }
  for (Playlist& p : old.playlists)
    if (!next.FindPlaylist(p.data.playlistId)) deleted.push_back({kSourceId, p.data.playlistId, 0, 0});
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
  if (trackChanged && s.state != ITPlayerStateStopped) s.EmitTrack(ITEventPlayerPlayingTrackChanged, s.CurrentRef());
  s.EmitDatabaseChanged(std::move(deleted), std::move(changed));
  return counts;
}

}  // namespace platform::player

// The session's commands: the connection's setup and failures, the current
// song, and the stored playlists with the entries known here.
#include "platform/player/mpd/MpdSession.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "platform/player/mpd/MpdObjects.h"

namespace platform::player::mpd {

bool Session::Init() {
  std::lock_guard lock(mutex_);
  // Over a local socket MPD tells its music folder; over the network the
  // user's own is the best guess.
  if (mpd_send_command(connection_.get(), "config", nullptr)) {
    if (mpd_pair* pair = mpd_recv_pair_named(connection_.get(), "music_directory")) {
      musicFolder_ = pair->value;
      mpd_return_pair(connection_.get(), pair);
    }
    mpd_response_finish(connection_.get());
  }
  if (mpd_connection_get_error(connection_.get()) != MPD_ERROR_SUCCESS &&
      !mpd_connection_clear_error(connection_.get()))
    return false;
  if (musicFolder_.empty()) {
    const char* xdg = std::getenv("XDG_MUSIC_DIR");
    const char* home = std::getenv("HOME");
    musicFolder_ = xdg && *xdg ? xdg : std::string(home ? home : "") + "/Music";
  }
  while (musicFolder_.size() > 1 && musicFolder_.back() == '/') musicFolder_.pop_back();
  return true;
}

HRESULT Session::Status(std::function<void(const mpd_status*)> use) {
  return Run([&](mpd_connection* c) {
    MpdStatus statusOwner(mpd_run_status(c));
    mpd_status* status = statusOwner.get();
    if (!status) return false;
    use(status);
    statusOwner.reset();
    return true;
  });
}

HRESULT Session::CurrentTrack(std::shared_ptr<IITTrack>* track) {
  Seen seen;
  std::lock_guard lock(mutex_);
  HRESULT hr = CaptureLocked(connection_.get(), &seen);
  *track = TrackOf(seen);
  return hr;
}

HRESULT Session::SongOf(const mpd_song* song, Song* out) {
  *out = MakeSong(song, musicFolder_);
  {
    std::lock_guard cache(libraryMutex_);
    if (library_) {
      if (auto it = library_->byUri.find(out->uri); it != library_->byUri.end()) {
        *out = library_->songs[it->second];
        return S_OK;
      }
    }
  }
  out->id = ids_->IdOf(MpdIds::Kind::Track, out->location);
  return S_FALSE;
}

HRESULT Session::StoredPlaylists(std::vector<std::pair<long, std::string>>* playlists) {
  std::vector<std::pair<std::string, long>> listed;  // name, modification time
  HRESULT hr = Run([&](mpd_connection* c) {
    if (!mpd_send_list_playlists(c)) return false;
    while (MpdPlaylist pOwner{mpd_recv_playlist(c)}) {
      mpd_playlist* p = pOwner.get();
      listed.emplace_back(mpd_playlist_get_path(p), static_cast<long>(mpd_playlist_get_last_modified(p)));
      pOwner.reset();
    }
    return mpd_response_finish(c);
  });
  if (FAILED(hr)) return hr;
  std::sort(listed.begin(), listed.end());
  std::vector<long> ids;
  for (const auto& [name, time] : listed) ids.push_back(ids_->Find(MpdIds::Kind::Playlist, name));
  auto stamp = [](long id, long time) { return std::to_string(id) + " " + std::to_string(time); };
  std::vector<std::pair<long, std::string>> gone;  // known playlists whose name is not listed
  for (auto& known : ids_->All(MpdIds::Kind::Playlist)) {
    const bool listedName =
        std::any_of(listed.begin(), listed.end(), [&](const auto& l) { return l.first == known.second; });
    if (!listedName) gone.push_back(std::move(known));
  }
  for (std::size_t i = 0; i < listed.size(); ++i) {
    const auto& [name, time] = listed[i];
    long id = ids[i];
    // The id of an old name that now belongs to a renamed playlist.
    const bool taken = id != 0 && ids_->KeyOf(MpdIds::Kind::Playlist, id) != name;
    if (id == 0 || taken) {
      long renamed = 0;
      int found = 0;
      for (const auto& [goneId, goneName] : gone) {
        if (ids_->Find(MpdIds::Kind::Stamp, stamp(goneId, time)) != goneId) continue;
        renamed = goneId;
        ++found;
      }
      id = ids_->Bind(MpdIds::Kind::Playlist, name, found == 1 && !taken ? renamed : 0);
      ids[i] = id;
      gone.erase(std::remove_if(gone.begin(), gone.end(), [&](const auto& g) { return g.first == id; }), gone.end());
    }
    if (id != 0 && ids_->Find(MpdIds::Kind::Stamp, stamp(id, time)) != id)
      ids_->Bind(MpdIds::Kind::Stamp, stamp(id, time), id);
  }
  playlists->clear();
  for (std::size_t i = 0; i < listed.size(); ++i)
    if (ids[i] != 0) playlists->emplace_back(ids[i], listed[i].first);
  return S_OK;
}

HRESULT Session::ListSongs(const std::function<bool(mpd_connection*)>& send, std::vector<MpdSong>* songs,
                           bool* untagged) {
  songs->clear();
  if (untagged) *untagged = false;
  if (dead_) return RPC_E_DISCONNECTED;
  if (Connection aside = Connect()) {
    mpd_connection* c = aside.get();
    if (send(c))
      while (mpd_song* song = mpd_recv_song(c)) songs->emplace_back(song);
    if (mpd_response_finish(c)) return S_OK;
    songs->clear();
    if (mpd_connection_get_error(c) != MPD_ERROR_MALFORMED) return Failure(c);
  }
  const bool tagChoice = mpd_connection_cmp_server_version(connection_.get(), 0, 21, 0) >= 0;
  HRESULT hr = Run([&](mpd_connection* c) { return !tagChoice || mpd_run_clear_tag_types(c); });
  if (FAILED(hr)) return hr;
  hr = Run([&](mpd_connection* c) {
    if (send(c))
      while (mpd_song* song = mpd_recv_song(c)) songs->emplace_back(song);
    return mpd_response_finish(c);
  });
  // The tags read here come back whatever the listing gave.
  const HRESULT tags = Run(
      [&](mpd_connection* c) { return !tagChoice || mpd_run_enable_tag_types(c, kTagsRead, std::size(kTagsRead)); });
  if (FAILED(hr)) songs->clear();
  if (untagged) *untagged = tagChoice;
  return FAILED(hr) ? hr : tags;
}

void Session::TagsFromLibrary(std::vector<Song>* songs) {
  std::lock_guard cache(libraryMutex_);
  if (!library_) return;
  for (Song& s : *songs)
    if (auto it = library_->byUri.find(s.uri); it != library_->byUri.end()) {
      const Song& known = library_->songs[it->second];
      s.name = known.name;
      s.artist = known.artist;
      s.album = known.album;
      s.genre = known.genre;
    }
}

HRESULT Session::PlaylistSongs(const std::string& name, std::vector<Song>* songs, std::vector<long>* entries) {
  songs->clear();
  std::vector<MpdSong> listed;
  bool untagged = false;
  HRESULT hr =
      ListSongs([&](mpd_connection* c) { return mpd_send_list_playlist_meta(c, name.c_str()); }, &listed, &untagged);
  if (FAILED(hr)) return hr;
  for (const MpdSong& song : listed) songs->push_back(MakeSong(song.get(), musicFolder_));
  if (untagged) {
    // The library, read as it reads every song, has the tags there are.
    std::shared_ptr<const Library> library;
    GetLibrary(&library);
    TagsFromLibrary(songs);
  }
  FillIds(songs);
  std::vector<std::string> uris;
  for (const Song& s : *songs) uris.push_back(s.uri);
  std::lock_guard lock(entriesMutex_);
  Entries& known = Reconcile(name, uris);
  *entries = known.ids;
  known.songs = *songs;
  known.listed = true;
  return S_OK;
}

HRESULT Session::LiveEntries(const std::string& name,
                             const std::function<void(const std::vector<Song>&, const std::vector<long>&)>& use) {
  for (int attempt = 0;; ++attempt) {
    {
      std::lock_guard lock(entriesMutex_);
      auto it = entries_.find(name);
      if (it != entries_.end() && (it->second.listed || attempt > 0)) {
        if (it->second.songs.size() != it->second.ids.size()) break;
        use(it->second.songs, it->second.ids);
        return S_OK;
      }
    }
    if (attempt > 0) break;
    std::vector<Song> songs;
    std::vector<long> entries;
    if (HRESULT hr = PlaylistSongs(name, &songs, &entries); FAILED(hr)) return hr;
  }
  use({}, {});
  return S_OK;
}

long Session::Appended(const std::string& name, const std::string& uri) {
  std::lock_guard lock(entriesMutex_);
  Entries& known = entries_[name];
  known.uris.push_back(uri);
  known.ids.push_back(nextEntry_++);
  known.listed = false;
  return known.ids.back();
}

void Session::Edited() {
  std::vector<std::pair<long, std::string>> playlists;
  StoredPlaylists(&playlists);
}

HRESULT Session::DeleteEntry(const std::string& name, long entry, const std::string& uri, long index) {
  std::vector<std::string> uris;
  HRESULT hr = Run([&](mpd_connection* c) {
    if (!mpd_send_list_playlist(c, name.c_str())) return false;
    while (mpd_pair* pair = mpd_recv_pair_named(c, "file")) {
      uris.emplace_back(pair->value);
      mpd_return_pair(c, pair);
    }
    return mpd_response_finish(c);
  });
  if (FAILED(hr)) return hr;
  std::lock_guard lock(entriesMutex_);
  Entries& known = Reconcile(name, uris);
  long position = -1;
  if (entry != 0) {
    auto it = std::find(known.ids.begin(), known.ids.end(), entry);
    if (it != known.ids.end()) position = it - known.ids.begin();
  }
  if (position < 0) {
    for (long i = std::max(0L, index - 1); i < static_cast<long>(uris.size()) && position < 0; ++i)
      if (uris[static_cast<std::size_t>(i)] == uri) position = i;
    for (long i = 0; i < static_cast<long>(uris.size()) && position < 0; ++i)
      if (uris[static_cast<std::size_t>(i)] == uri) position = i;
  }
  if (position < 0 || known.uris[static_cast<std::size_t>(position)] != uri) return ITUNES_E_OBJECTDELETED;
  hr =
      Run([&](mpd_connection* c) { return mpd_run_playlist_delete(c, name.c_str(), static_cast<unsigned>(position)); });
  if (SUCCEEDED(hr)) {
    if (known.songs.size() == known.uris.size()) known.songs.erase(known.songs.begin() + position);
    known.uris.erase(known.uris.begin() + position);
    known.ids.erase(known.ids.begin() + position);
  }
  return hr;
}

std::string Session::UriOf(const std::string& location) const {
  const std::string prefix = musicFolder_ + "/";
  if (location.rfind(prefix, 0) == 0) return location.substr(prefix.size());
  if (!location.empty() && location[0] == '/') return "file://" + location;
  return location;
}

HRESULT Session::Failure(mpd_connection* c) {
  const mpd_error error = mpd_connection_get_error(c);
  // libmpdclient has no message (and asserts) for a connection without an error.
  const char* message = error == MPD_ERROR_SUCCESS ? nullptr : mpd_connection_get_error_message(c);
  std::fprintf(stderr, "mpd: %s\n", message ? message : "the call failed");
  if (error == MPD_ERROR_SERVER) {
    const mpd_server_error code = mpd_connection_get_server_error(c);
    if (mpd_connection_clear_error(c)) {
      if (code == MPD_SERVER_ERROR_NO_EXIST) return ITUNES_E_OBJECTDELETED;
      if (code == MPD_SERVER_ERROR_ARG) return E_INVALIDARG;
      return E_FAIL;
    }
  } else if (error == MPD_ERROR_ARGUMENT && mpd_connection_clear_error(c)) {
    return E_INVALIDARG;
  } else if (error == MPD_ERROR_SUCCESS) {
    return E_FAIL;
  }
  if (c == connection_.get()) dead_ = true;
  return RPC_E_DISCONNECTED;
}

void Session::FillIds(std::vector<Song>* songs) {
  std::vector<std::string> locations;
  locations.reserve(songs->size());
  for (const Song& s : *songs) locations.push_back(s.location);
  const std::vector<long> ids = ids_->IdsOf(MpdIds::Kind::Track, locations);
  for (std::size_t i = 0; i < songs->size(); ++i) (*songs)[i].id = ids[i];
  std::lock_guard cache(libraryMutex_);
  if (!library_) return;
  for (Song& s : *songs)
    if (auto it = library_->byUri.find(s.uri); it != library_->byUri.end())
      s.rating = library_->songs[it->second].rating;
}

Entries& Session::Reconcile(const std::string& name, const std::vector<std::string>& uris) {
  Entries& known = entries_[name];
  if (known.uris != uris) {
    // Changed elsewhere: its entries start afresh.
    known.uris = uris;
    known.listed = false;
    known.songs.clear();
    known.ids.clear();
    for (std::size_t i = 0; i < uris.size(); ++i) known.ids.push_back(nextEntry_++);
  }
  return known;
}

}  // namespace platform::player::mpd

// The session's reading of MPD's library: in shares that fit MPD's output
// buffer, a song too long for libmpdclient read tag by tag, and the ratings.
#include "platform/player/mpd/MpdSession.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace platform::player::mpd {

HRESULT Session::GetLibrary(std::shared_ptr<const Library>* library) {
  std::lock_guard lock(mutex_);
  long updated = -1;
  bool rescanned = false;
  HRESULT hr = RunLocked([&](mpd_connection* c) {
    // db_update has whole seconds: a rescan that ended in the second of the
    // last read is told by the database flag MPD keeps for this connection.
    if (!mpd_send_idle_mask(c, MPD_IDLE_DATABASE)) return false;
    const unsigned flags = mpd_run_noidle(c);
    if (mpd_connection_get_error(c) != MPD_ERROR_SUCCESS) return false;
    rescanned = (flags & MPD_IDLE_DATABASE) != 0;
    MpdStats statsOwner(mpd_run_stats(c));
    mpd_stats* stats = statsOwner.get();
    if (!stats) return false;
    updated = static_cast<long>(mpd_stats_get_db_update_time(stats));
    statsOwner.reset();
    return true;
  });
  if (FAILED(hr)) return hr;
  {
    std::lock_guard cache(libraryMutex_);
    if (library_ && library_->updated == updated && !rescanned) {
      *library = library_;
      return S_OK;
    }
  }
  auto loaded = std::make_shared<Library>();
  loaded->updated = updated;
  hr = RunLocked([&](mpd_connection*) { return LoadLibrary(loaded.get()); });
  if (FAILED(hr)) return hr;
  std::lock_guard cache(libraryMutex_);
  library_ = loaded;
  *library = loaded;
  return S_OK;
}

bool Session::LoadLibrary(Library* library) {
  Connection listing = Connect();
  if (!listing) return false;
  mpd_connection* c = listing.get();
  // MPD builds a whole answer in an output buffer of bounded size (8 MB by
  // default) and drops a client whose answer outgrows it: the songs come in
  // shares (MPD 0.20 on), each a search that every song matches.
  if (mpd_connection_cmp_server_version(c, 0, 20, 0) >= 0) {
    for (unsigned start = 0;; start += kListingShare) {
      unsigned received = 0;
      if (!ReadShare(listing, library, start, start + kListingShare, &received)) return false;
      if (received < kListingShare) break;
    }
    c = listing.get();
  } else {
    if (!mpd_send_list_all_meta(c, "")) return false;
    while (MpdEntity entityOwner{mpd_recv_entity(c)}) {
      mpd_entity* entity = entityOwner.get();
      if (mpd_entity_get_type(entity) == MPD_ENTITY_TYPE_SONG)
        AddSong(library, MakeSong(mpd_entity_get_song(entity), musicFolder_));
      entityOwner.reset();
    }
    if (!mpd_response_finish(c)) return false;
  }
  std::vector<std::string> locations;
  locations.reserve(library->songs.size());
  for (const Song& s : library->songs) locations.push_back(s.location);
  const std::vector<long> ids = ids_->IdsOf(MpdIds::Kind::Track, locations);
  for (std::size_t i = 0; i < library->songs.size(); ++i) {
    library->songs[i].id = ids[i];
    library->byId.emplace(ids[i], i);
  }
  // Ratings are stickers; without a sticker database every rating is 0.
  if (mpd_send_sticker_find(c, "song", "", "rating")) {
    std::string uri;
    while (mpd_pair* pair = mpd_recv_pair(c)) {
      if (std::strcmp(pair->name, "file") == 0) {
        uri = pair->value;
      } else if (std::strcmp(pair->name, "sticker") == 0 && std::strncmp(pair->value, "rating=", 7) == 0) {
        if (auto it = library->byUri.find(uri); it != library->byUri.end())
          library->songs[it->second].rating = std::clamp(std::atol(pair->value + 7), 0L, 100L);
      }
      mpd_return_pair(c, pair);
    }
    mpd_response_finish(c);
  }
  if (mpd_connection_get_error(c) == MPD_ERROR_SERVER) mpd_connection_clear_error(c);
  return mpd_connection_get_error(c) == MPD_ERROR_SUCCESS;
}

void Session::AddSong(Library* library, Song song) {
  // A song met twice (MPD's database changed between shares) is one song.
  if (library->byUri.emplace(song.uri, library->songs.size()).second) library->songs.push_back(std::move(song));
}

bool Session::SendWindow(mpd_connection* c, unsigned start, unsigned end) {
  const bool filters = mpd_connection_cmp_server_version(c, 0, 21, 0) >= 0;
  return mpd_search_db_songs(c, true) &&
         (filters ? mpd_search_add_expression(c, "(file != '')")
                  : mpd_search_add_modified_since_constraint(c, MPD_OPERATOR_DEFAULT, 0)) &&
         mpd_search_add_window(c, start, end) && mpd_search_commit(c);
}

bool Session::ReadShare(Connection& c, Library* library, unsigned start, unsigned end, unsigned* received) {
  unsigned count = 0;
  if (SendWindow(c.get(), start, end)) {
    while (MpdEntity entityOwner{mpd_recv_entity(c.get())}) {
      mpd_entity* entity = entityOwner.get();
      if (mpd_entity_get_type(entity) == MPD_ENTITY_TYPE_SONG) {
        ++count;
        AddSong(library, MakeSong(mpd_entity_get_song(entity), musicFolder_));
      }
      entityOwner.reset();
    }
    if (mpd_response_finish(c.get())) {
      *received += count;
      return true;
    }
  }
  if (mpd_connection_get_error(c.get()) != MPD_ERROR_MALFORMED) return false;
  c = Connect();
  if (!c) return false;
  if (end - start == 1) return ReadAlone(c, library, start, received);
  const unsigned middle = start + (end - start) / 2;
  unsigned first = 0;
  if (!ReadShare(c, library, start, middle, &first)) return false;
  *received += first;
  if (first < middle - start) return true;  // the library ends in the first half
  return ReadShare(c, library, middle, end, received);
}

bool Session::ReadAlone(Connection& c, Library* library, unsigned position, unsigned* received) {
  auto read = [&](const mpd_tag_type* tag) -> std::optional<Song> {
    if (!mpd_run_clear_tag_types(c.get()) || (tag && !mpd_run_enable_tag_types(c.get(), tag, 1)) ||
        !SendWindow(c.get(), position, position + 1))
      return std::nullopt;
    std::optional<Song> song;
    while (MpdEntity entityOwner{mpd_recv_entity(c.get())}) {
      mpd_entity* entity = entityOwner.get();
      if (mpd_entity_get_type(entity) == MPD_ENTITY_TYPE_SONG)
        song = MakeSong(mpd_entity_get_song(entity), musicFolder_);
      entityOwner.reset();
    }
    if (!mpd_response_finish(c.get())) return std::nullopt;
    return song;
  };
  std::optional<Song> song = read(nullptr);
  if (!song) {
    // Gone meanwhile, or an MPD without tag choice: the song is left out.
    if (mpd_connection_get_error(c.get()) == MPD_ERROR_SERVER && mpd_connection_clear_error(c.get())) {
      ++*received;
      return true;
    }
    return mpd_connection_get_error(c.get()) == MPD_ERROR_SUCCESS;
  }
  ++*received;
  for (const mpd_tag_type& tag : kTagsRead) {
    std::optional<Song> tagged = read(&tag);
    if (!tagged) {
      const mpd_error error = mpd_connection_get_error(c.get());
      if (error == MPD_ERROR_SERVER && mpd_connection_clear_error(c.get())) continue;
      if (error != MPD_ERROR_MALFORMED && error != MPD_ERROR_SUCCESS) return false;
      if (error == MPD_ERROR_MALFORMED) c = Connect();
      if (!c) return false;
      continue;
    }
    if (tag == MPD_TAG_TITLE) song->name = tagged->name;
    if (tag == MPD_TAG_ARTIST) song->artist = tagged->artist;
    if (tag == MPD_TAG_ALBUM) song->album = tagged->album;
    if (tag == MPD_TAG_GENRE) song->genre = tagged->genre;
  }
  AddSong(library, std::move(*song));
  // The rest of the library with the tags read here.
  c = Connect();
  return c != nullptr;
}

bool Session::LoadBaseline(mpd_connection* c) {
  {
    std::lock_guard cache(libraryMutex_);
    if (library_) return true;
  }
  auto loaded = std::make_shared<Library>();
  if (!LoadStamped(c, loaded.get())) return mpd_connection_get_error(c) == MPD_ERROR_SUCCESS;
  std::lock_guard cache(libraryMutex_);
  if (!library_) library_ = loaded;
  return true;
}

bool Session::LoadStamped(mpd_connection* c, Library* library) {
  MpdStats statsOwner(mpd_run_stats(c));
  mpd_stats* stats = statsOwner.get();
  if (!stats) return false;
  library->updated = static_cast<long>(mpd_stats_get_db_update_time(stats));
  statsOwner.reset();
  return LoadLibrary(library);
}

}  // namespace platform::player::mpd

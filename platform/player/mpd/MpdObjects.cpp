// The tracks and playlists on MPD: a track plays from its place, a stored
// playlist's collection shows its entries live, a playlist plays from its
// first track.
#include "platform/player/mpd/MpdObjects.h"

#include <algorithm>
#include <cstdio>

#include "platform/player/mpd/MpdQueueOrigin.h"

namespace platform::player::mpd {

namespace {

std::string TimeText(long seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", seconds / 60, seconds % 60);
  return text;
}

class TrackObject final : public Object<IITFileOrCDTrack> {
 public:
  TrackObject(std::shared_ptr<Session> session, Song song, Place place)
      : Object(std::move(session)), song_(std::move(song)), place_(std::move(place)) {}

  HRESULT get_Name(std::string* name) override { return Out(name, song_.name); }
  HRESULT get_SourceID(long* id) override { return Out(id, kSourceId); }
  HRESULT get_PlaylistID(long* id) override { return Out(id, place_.playlistId); }
  HRESULT get_TrackDatabaseID(long* id) override { return Out(id, song_.id); }
  HRESULT get_Kind(ITTrackKind* kind) override { return Out(kind, ITTrackKindFile); }
  HRESULT get_Album(std::string* album) override { return Out(album, song_.album); }
  HRESULT get_Artist(std::string* artist) override { return Out(artist, song_.artist); }
  HRESULT get_Genre(std::string* genre) override { return Out(genre, song_.genre); }
  HRESULT get_PlayOrderIndex(long* index) override { return Out(index, place_.index); }
  HRESULT get_Rating(long* rating) override { return Out(rating, song_.rating); }
  HRESULT get_Time(std::string* time) override { return Out(time, TimeText(song_.seconds)); }
  HRESULT get_Location(std::string* location) override { return Out(location, song_.location); }
  HRESULT get_Playlist(std::shared_ptr<IITPlaylist>* playlist) override {
    return OutObject(playlist, MakePlaylist(session_, place_.playlistId, place_.playlist));
  }

  HRESULT Delete() override {
    // MPD's database is the folder: a song leaves the library with its file.
    if (place_.playlist.empty()) return E_ACCESSDENIED;
    HRESULT hr = session_->DeleteEntry(place_.playlist, place_.entry, song_.uri, place_.index);
    if (SUCCEEDED(hr)) session_->Edited();
    return hr;
  }

  HRESULT Play() override {
    if (place_.index <= 0) return E_FAIL;
    const QueueOrigin origin = ReadOrigin();
    session_->TakeHeld();  // the queue becomes a playlist's
    return session_->Transport([&](mpd_connection* c) {
      QueueOrigin loaded;
      if (place_.playlist.empty()) {
        if (!mpd_run_clear(c) || !mpd_run_add(c, "") || !mpd_run_play_pos(c, static_cast<unsigned>(place_.index - 1)))
          return false;
      } else {
        // The queue song loaded from this entry, while it is still there.
        if (const auto id = origin.SongIdOf(place_.index);
            id && origin.playlist == place_.playlist && !origin.shuffled) {
          bool refused = false;
          const unsigned songId = *id;
          if (MpdSong queuedOwner{UntaggedSong(
                  c, [songId](mpd_connection* d) { return mpd_send_get_queue_song_id(d, songId); }, &refused)}) {
            mpd_song* queued = queuedOwner.get();
            const bool same = song_.uri == mpd_song_get_uri(queued);
            queuedOwner.reset();
            if (same) return mpd_run_play_id(c, *id);
          } else if (!refused) {
            return false;
          }
        }
        if (!LoadQueue(c, place_.playlist, &loaded)) return false;
        // No queue song for the entry: its song is gone from MPD's library,
        // and is passed over as a missing file is: the next entry there plays.
        // After the last one the playlist has ended.
        const auto next = std::find_if(loaded.entries.begin(), loaded.entries.end(),
                                       [&](const auto& queued) { return queued.second >= place_.index; });
        if (next != loaded.entries.end() && !mpd_run_play_id(c, next->first)) return false;
      }
      MpdStatus statusOwner(mpd_run_status(c));
      mpd_status* status = statusOwner.get();
      if (!status) return false;
      loaded.version = mpd_status_get_queue_version(status);
      loaded.playlist = place_.playlist;
      WriteOrigin(loaded);
      statusOwner.reset();
      return true;
    });
  }

 private:
  Song song_;
  Place place_;
};

// The tracks of a playlist: the library's as they were when asked for, a
// stored playlist's as they are after the edits made here (an entry deleted
// leaves the collection, a file added joins it).
class TrackCollection final : public IITTrackCollection {
 public:
  TrackCollection(std::shared_ptr<Session> session, std::shared_ptr<const Library> library, long playlistId,
                  std::string playlist, std::vector<Song> playOrder)
      : session_(std::move(session)),
        library_(std::move(library)),
        playlistId_(playlistId),
        playlist_(std::move(playlist)),
        playOrder_(std::move(playOrder)) {}

  HRESULT get_Count(long* count) override {
    if (!count) return E_POINTER;
    if (library_) return Out(count, static_cast<long>(library_->songs.size()));
    return session_->LiveEntries(playlist_, [&](const std::vector<Song>& songs, const std::vector<long>&) {
      *count = static_cast<long>(songs.size());
    });
  }
  HRESULT get_Item(long index, std::shared_ptr<IITTrack>* track) override {
    if (!track) return E_POINTER;
    track->reset();
    if (library_) {
      if (index < 1 || index > static_cast<long>(library_->songs.size())) return E_INVALIDARG;
      *track =
          MakeTrack(session_, library_->songs[static_cast<std::size_t>(index - 1)], {playlistId_, playlist_, index, 0});
      return S_OK;
    }
    std::optional<std::pair<Song, long>> entry;
    HRESULT hr = session_->LiveEntries(playlist_, [&](const std::vector<Song>& songs, const std::vector<long>& ids) {
      if (index >= 1 && index <= static_cast<long>(songs.size()))
        entry.emplace(songs[static_cast<std::size_t>(index - 1)], ids[static_cast<std::size_t>(index - 1)]);
    });
    if (FAILED(hr)) return hr;
    if (!entry) return E_INVALIDARG;
    *track = MakeTrack(session_, std::move(entry->first), {playlistId_, playlist_, index, entry->second});
    return S_OK;
  }
  HRESULT get_ItemByPlayOrder(long index, std::shared_ptr<IITTrack>* track) override {
    if (playOrder_.empty()) return get_Item(index, track);
    if (!track) return E_POINTER;
    track->reset();
    if (index < 1 || index > static_cast<long>(playOrder_.size())) return E_INVALIDARG;
    *track = MakeTrack(session_, playOrder_[static_cast<std::size_t>(index - 1)], {playlistId_, playlist_, index, 0});
    return S_OK;
  }

 private:
  std::shared_ptr<Session> session_;
  std::shared_ptr<const Library> library_;  // the library playlist's
  long playlistId_;
  std::string playlist_;
  std::vector<Song> playOrder_;  // the queue, while it plays this playlist shuffled
};

template <class Base>
class PlaylistBase : public Object<Base> {
 public:
  PlaylistBase(std::shared_ptr<Session> session, long id, std::string name)
      : Object<Base>(std::move(session)), id_(id), name_(std::move(name)) {}

  HRESULT get_Name(std::string* name) override {
    return Out(name, name_.empty() ? std::string("Library") : ValidUtf8(name_.c_str()));
  }
  HRESULT get_SourceID(long* id) override { return Out(id, kSourceId); }
  HRESULT get_PlaylistID(long* id) override { return Out(id, id_); }
  HRESULT get_TrackDatabaseID(long* id) override { return Out(id, 0L); }

  // Plays the playlist from its first track; shuffled when MPD's random mode is on.
  HRESULT PlayFirstTrack() override {
    this->session_->TakeHeld();  // the queue becomes the playlist's
    return this->session_->Transport([&](mpd_connection* c) {
      MpdStatus statusOwner(mpd_run_status(c));
      mpd_status* status = statusOwner.get();
      if (!status) return false;
      const bool shuffle = mpd_status_get_random(status);
      statusOwner.reset();
      QueueOrigin origin;
      const bool loaded = name_.empty() ? mpd_run_clear(c) && mpd_run_add(c, "") : LoadQueue(c, name_, &origin);
      if (!loaded || (shuffle && !mpd_run_shuffle(c)) || !mpd_run_single(c, false) || !mpd_run_play_pos(c, 0))
        return false;
      statusOwner.reset(mpd_run_status(c));
      status = statusOwner.get();
      if (!status) return false;
      origin.version = mpd_status_get_queue_version(status);
      origin.shuffled = shuffle;
      origin.playlist = name_;
      WriteOrigin(origin);
      statusOwner.reset();
      return true;
    });
  }

  HRESULT get_Shuffle(bool* shuffle) override {
    if (!shuffle) return E_POINTER;
    return this->session_->Status([&](const mpd_status* s) { *shuffle = mpd_status_get_random(s); });
  }

  HRESULT get_Tracks(std::shared_ptr<IITTrackCollection>* tracks) override {
    if (!tracks) return E_POINTER;
    tracks->reset();
    auto& session = this->session_;
    if (name_.empty()) {
      std::shared_ptr<const Library> library;
      if (HRESULT hr = session->GetLibrary(&library); FAILED(hr)) return hr;
      *tracks = std::make_shared<TrackCollection>(session, library, id_, "", std::vector<Song>{});
      return S_OK;
    }
    std::vector<Song> songs;
    std::vector<long> entries;
    if (HRESULT hr = session->PlaylistSongs(name_, &songs, &entries); FAILED(hr)) return hr;
    std::vector<Song> order;
    if (HRESULT hr = ShuffledQueue(&order); FAILED(hr)) return hr;
    *tracks = std::make_shared<TrackCollection>(session, nullptr, id_, name_, std::move(order));
    return S_OK;
  }

 protected:
  // The queue's songs while it plays this playlist in shuffled order.
  HRESULT ShuffledQueue(std::vector<Song>* order) {
    const QueueOrigin origin = ReadOrigin();
    if (!origin.shuffled || origin.playlist != name_) return S_OK;
    bool current = false;
    HRESULT hr = this->session_->Status([&](const mpd_status* s) {
      current = !origin.entries.empty() || mpd_status_get_queue_version(s) == origin.version;
    });
    if (FAILED(hr) || !current) return hr;
    std::vector<MpdSong> raw;
    hr = this->session_->ListSongs(mpd_send_list_queue_meta, &raw);
    for (const MpdSong& owned : raw) {
      mpd_song* song = owned.get();
      // Songs other clients added are not the playlist's.
      if (origin.entries.empty() || origin.EntryOf(mpd_song_get_id(song)) > 0) {
        Song s;
        this->session_->SongOf(song, &s);
        order->push_back(std::move(s));
      }
    }
    return hr;
  }

  long id_;
  std::string name_;  // MPD's; empty for the library playlist
};

class LibraryPlaylist final : public PlaylistBase<IITPlaylist> {
 public:
  using PlaylistBase::PlaylistBase;
};

class StoredPlaylist final : public PlaylistBase<IITUserPlaylist> {
 public:
  using PlaylistBase::PlaylistBase;

  HRESULT AddFiles(const std::vector<std::string>& filePaths) override {
    for (const std::string& path : filePaths) {
      const std::string uri = session_->UriOf(path);
      HRESULT hr =
          session_->Run([&](mpd_connection* c) { return mpd_run_playlist_add(c, name_.c_str(), uri.c_str()); });
      if (FAILED(hr)) return hr;
      session_->Appended(name_, uri);
    }
    session_->Edited();
    return S_OK;
  }

  HRESULT AddTrack(const std::shared_ptr<IITTrack>& track, std::shared_ptr<IITTrack>* added) override {
    auto file = QueryInterface<IITFileOrCDTrack>(track);
    std::string location;
    if (!file || FAILED(file->get_Location(&location))) return E_INVALIDARG;
    const std::string uri = session_->UriOf(location);
    long count = 0;
    HRESULT hr = session_->Run([&](mpd_connection* c) {
      if (!mpd_run_playlist_add(c, name_.c_str(), uri.c_str())) return false;
      // Its place: the playlist's length now.
      if (!mpd_send_list_playlist(c, name_.c_str())) return false;
      while (mpd_pair* pair = mpd_recv_pair_named(c, "file")) {
        ++count;
        mpd_return_pair(c, pair);
      }
      return mpd_response_finish(c);
    });
    if (FAILED(hr)) return hr;
    const long entry = session_->Appended(name_, uri);
    session_->Edited();
    if (added) {
      Song song;
      track->get_Name(&song.name);
      track->get_Artist(&song.artist);
      track->get_Album(&song.album);
      track->get_Genre(&song.genre);
      track->get_Rating(&song.rating);
      track->get_TrackDatabaseID(&song.id);
      std::string time;
      int minutes = 0, seconds = 0;
      if (SUCCEEDED(track->get_Time(&time)) && std::sscanf(time.c_str(), "%d:%d", &minutes, &seconds) == 2)
        song.seconds = minutes * 60L + seconds;
      song.uri = uri;
      song.location = location;
      *added = MakeTrack(session_, std::move(song), {id_, name_, count, entry});
    }
    return S_OK;
  }

  HRESULT get_Smart(bool* smart) override { return Out(smart, false); }
  HRESULT get_SpecialKind(ITUserPlaylistSpecialKind* kind) override { return Out(kind, ITUserPlaylistSpecialKindNone); }
  HRESULT get_Parent(std::shared_ptr<IITUserPlaylist>* parent) override {
    return OutObject(parent, std::shared_ptr<IITUserPlaylist>());
  }
  // MPD's stored playlists have no folders.
  HRESULT CreatePlaylist(const std::string&, std::shared_ptr<IITPlaylist>* playlist) override {
    if (playlist) playlist->reset();
    return E_FAIL;
  }
};

}  // namespace

std::shared_ptr<IITTrack> MakeTrack(const std::shared_ptr<Session>& session, Song song, Place place) {
  return std::make_shared<TrackObject>(session, std::move(song), std::move(place));
}

std::shared_ptr<IITPlaylist> MakePlaylist(const std::shared_ptr<Session>& session, long id, const std::string& name) {
  if (name.empty()) return std::make_shared<LibraryPlaylist>(session, kLibraryPlaylistId, "");
  return std::make_shared<StoredPlaylist>(session, id, name);
}

}  // namespace platform::player::mpd

// Owners of libmpdclient's objects: each is freed once, where its owner ends.
#pragma once

#include <mpd/client.h>

#include <memory>

namespace platform::player {

template <auto Free>
struct MpdFree {
  template <typename T>
  void operator()(T* object) const {
    Free(object);
  }
};

using MpdConnection = std::unique_ptr<mpd_connection, MpdFree<mpd_connection_free>>;
using MpdStatus = std::unique_ptr<mpd_status, MpdFree<mpd_status_free>>;
using MpdSong = std::unique_ptr<mpd_song, MpdFree<mpd_song_free>>;
using MpdEntity = std::unique_ptr<mpd_entity, MpdFree<mpd_entity_free>>;
using MpdPlaylist = std::unique_ptr<mpd_playlist, MpdFree<mpd_playlist_free>>;
using MpdStats = std::unique_ptr<mpd_stats, MpdFree<mpd_stats_free>>;

}  // namespace platform::player

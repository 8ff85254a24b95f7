#include "core/PlaylistSync.h"

#include <algorithm>

#include "core/Mix.h"
#include "core/MusicDB.h"
#include "core/MusicPlayer.h"
#include "platform/kernel/Log.h"

PlaylistSync& PlaylistSync::SetPlayer(MusicPlayer* player) {
  player_ = player;
  return *this;
}

void PlaylistSync::SyncPlaylistMixes() {
  if (!player_) return;
  try {
    // Read first: a player that cannot be reached throws here, before the
    // stored mixes are touched.
    MixList current;
    // A player that shows an empty, unreadable or changing library may show
    // fewer playlists than it has: mixes are deleted only where a scan would
    // sweep tracks, or they would come back with new ids.
    const bool mayDelete = player_->ShowsWholeLibraryDuring([&] { player_->GetUserPlaylists(current); });
    MixList stored;
    theMusicDB.GetMixes(stored, true);
    for (Mix& mix : stored) {
      // By id first (a renamed playlist), then by name (a playlist deleted
      // and made again under the same name).
      auto match = std::find_if(current.begin(), current.end(),
                                [&](const Mix& playlist) { return playlist.GetPlaylistId() == mix.GetPlaylistId(); });
      if (match == current.end()) {
        const std::string name = mix.GetDisplayName();
        match = std::find_if(current.begin(), current.end(),
                             [&](const Mix& playlist) { return playlist.GetDisplayName() == name; });
      }
      if (match != current.end()) {
        mix.SetPlaylistId(match->GetPlaylistId());
        mix.Rename(match->GetDisplayName());
        current.erase(match);
      } else if (mayDelete) {
        theMusicDB.DeleteMix(mix);
      }
    }
    for (Mix& playlist : current) theMusicDB.AddMix(playlist);
  } catch (...) {
    platform::LogFailure("PlaylistSync::SyncPlaylistMixes");
    // The player (or the database) failed part-way: nothing more is changed.
  }
}

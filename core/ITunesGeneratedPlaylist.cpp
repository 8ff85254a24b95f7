// Generated playlists in the player: the playlist generator's result, kept in
// the folder "Zorva Generated" (or at top level, prefixed, where the player
// has no playlist folders).
#include <string>
#include <vector>

#include "core/ITunesPlayer.h"
#include "core/PlaylistSchedule.h"

using namespace platform::player;

namespace {

constexpr const char* kGeneratedFolderName = "Zorva Generated";
constexpr const char* kTopLevelPrefix = "Zorva - ";

}  // namespace

ITunesPlayer::GeneratedPlaylistPlace ITunesPlayer::FindGeneratedPlace(const std::string& playlistName) {
  GeneratedPlaylistPlace place;
  bool compatible = false;
  if (FAILED(iTunes_->CheckVersion(1, 7, &compatible))) compatible = false;
  place.compatible = compatible;
  place.name = compatible ? playlistName : kTopLevelPrefix + playlistName;

  std::shared_ptr<IITSource> source;
  iTunes_->get_LibrarySource(&source);
  if (!source) return place;
  std::shared_ptr<IITPlaylistCollection> playlists;
  source->get_Playlists(&playlists);
  if (!playlists) return place;
  long count = 0;
  playlists->get_Count(&count);
  long folderId = 0;
  for (long i = 1; i <= count; ++i) {
    std::shared_ptr<IITPlaylist> playlist;
    playlists->get_Item(i, &playlist);
    if (!playlist) continue;
    std::string name;
    if (FAILED(playlist->get_Name(&name))) continue;
    if (compatible && name == kGeneratedFolderName) {
      place.folder = playlist;
      if (FAILED(playlist->get_PlaylistID(&folderId))) folderId = 0;
      continue;
    }
    if (name != place.name) continue;
    if (!compatible) {
      place.target = playlist;
      break;
    }
    // A playlist of that name elsewhere is the user's own: keep looking.
    if (!place.folder) continue;
    auto user = QueryInterface<IITUserPlaylist>(playlist);
    if (!user) continue;
    std::shared_ptr<IITUserPlaylist> parent;
    user->get_Parent(&parent);
    long parentId = 0;
    if (parent && SUCCEEDED(parent->get_PlaylistID(&parentId)) && parentId == folderId) {
      place.target = playlist;
      break;
    }
  }
  return place;
}

void ITunesPlayer::WriteGeneratedPlaylist(const std::string& playlistName, const std::vector<ItemTrackQueue>& queues) {
  if (!iTunes_) return;
  GeneratedPlaylistPlace place = FindGeneratedPlace(playlistName);
  if (place.compatible && !place.folder) {
    std::shared_ptr<IITPlaylist> folder;
    iTunes_->CreateFolder(kGeneratedFolderName, &folder);
    place.folder = folder;
  }

  std::shared_ptr<IITUserPlaylist> fill;
  if (place.target) {
    // Only a user playlist is emptied and refilled; any other playlist of that
    // name (the library itself among them) is left alone.
    fill = QueryInterface<IITUserPlaylist>(place.target);
    if (!fill) return;
    std::shared_ptr<IITTrackCollection> tracks;
    fill->get_Tracks(&tracks);
    long count = 0;
    if (tracks) tracks->get_Count(&count);
    for (long i = 0; i < count; ++i) {
      std::shared_ptr<IITTrack> first;
      tracks->get_Item(1, &first);
      if (first) first->Delete();
    }
  } else {
    std::shared_ptr<IITPlaylist> created;
    if (auto folder = QueryInterface<IITUserPlaylist>(place.folder)) folder->CreatePlaylist(place.name, &created);
    if (!created) iTunes_->CreatePlaylist(place.name, &created);
    fill = QueryInterface<IITUserPlaylist>(created);
  }
  if (!fill) return;

  for (const ItemTrackQueue& queue : queues) {
    std::vector<std::string> locations;
    for (const Track& track : queue.GetTracks()) locations.push_back(track.location);
    fill->AddFiles(locations);
  }
}

bool ITunesPlayer::FindGeneratedPlaylist(const std::string& playlistName) {
  if (!iTunes_) return false;
  GeneratedPlaylistPlace place = FindGeneratedPlace(playlistName);
  if (place.compatible && !place.folder) return false;
  if (!place.target) return false;
  std::shared_ptr<IITBrowserWindow> window;
  iTunes_->get_BrowserWindow(&window);
  if (window) {
    // Bring the full browser window back (as MinimizeITunes undone) on the playlist.
    window->put_MiniPlayer(false);
    window->put_Visible(true);
    window->put_Minimized(false);
    window->put_SelectedPlaylist(place.target);
  }
  return true;
}

// The playlist operations of ITunesPlayer: user playlists as playlist mixes,
// the upcoming tracks of a playlist mix and their reordering, playing and
// removing a track inside a playlist.
#include <algorithm>
#include <vector>

#include "core/ITunesPlayer.h"

using namespace platform::player;

namespace {

constexpr int kUpcomingCount = 10;

std::shared_ptr<IITTrackCollection> TracksOf(const std::shared_ptr<IITPlaylist>& playlist) {
  std::shared_ptr<IITTrackCollection> tracks;
  if (playlist) playlist->get_Tracks(&tracks);
  return tracks;
}

// Number of tracks of a playlist; 0 without a track collection.
long TrackCountOf(const std::shared_ptr<IITPlaylist>& playlist) {
  long count = 0;
  if (auto tracks = TracksOf(playlist)) {
    if (FAILED(tracks->get_Count(&count))) count = 0;
  }
  return count;
}

// The order holds every distance 1..10 once. It comes from page text, so
// anything else is refused before it can reach the player.
bool IsUpcomingPermutation(const UpcomingOrder& order) {
  std::array<bool, kUpcomingCount + 1> seen{};
  for (int distance : order) {
    if (distance < 1 || distance > kUpcomingCount || seen[static_cast<std::size_t>(distance)]) return false;
    seen[static_cast<std::size_t>(distance)] = true;
  }
  return true;
}

}  // namespace

std::shared_ptr<IITPlaylist> ITunesPlayer::FindMixPlaylist(const Mix& mix, int noSourceCode) {
  std::shared_ptr<IITSource> source;
  if (iTunes_) iTunes_->get_LibrarySource(&source);
  if (!source) {
    if (noSourceCode != 0) throw noSourceCode;
    return nullptr;
  }
  long sourceId = 0;
  source->get_SourceID(&sourceId);
  std::shared_ptr<IITObject> object;
  iTunes_->GetITObjectByID(sourceId, mix.GetPlaylistId(), 0, 0, &object);
  return QueryInterface<IITPlaylist>(object);
}

std::shared_ptr<IITTrack> ITunesPlayer::FindTrackInPlaylist(const std::shared_ptr<IITPlaylist>& playlist,
                                                            const Track& track) {
  // Tracks are told apart by location; a track without one (a stream, an
  // empty queue entry) would match the first track that has none.
  if (track.location.empty()) return nullptr;
  auto tracks = TracksOf(playlist);
  if (!tracks) return nullptr;
  long count = 0;
  tracks->get_Count(&count);
  for (long i = 1; i <= count; ++i) {
    std::shared_ptr<IITTrack> item;
    tracks->get_Item(i, &item);
    if (!item) continue;
    Track candidate;
    ConvertITunesTrack(candidate, item);
    if (candidate == track) return item;
  }
  return nullptr;
}

Mix& ITunesPlayer::GetCurrentPlaylistMix(Mix& mix) {
  RequireAvailable();
  if (!iTunes_) return mix = Mix();
  std::string name;
  std::shared_ptr<IITTrack> current;
  iTunes_->get_CurrentTrack(&current);
  if (current) {
    std::shared_ptr<IITPlaylist> playlist;
    current->get_Playlist(&playlist);
    if (auto user = QueryInterface<IITUserPlaylist>(playlist)) {
      if (FAILED(user->get_Name(&name))) name.clear();
    }
  }
  return mix = Mix(0, name, 99);
}

void ITunesPlayer::GetUserPlaylists(MixList& mixes) {
  if (!iTunes_) throw kPlayerUnavailable;
  // An incomplete answer would make the playlist synchronisation delete the
  // mixes of every playlist left out, so whatever cannot be read fails the
  // whole call instead.
  std::shared_ptr<IITSource> source;
  if (FAILED(iTunes_->get_LibrarySource(&source)) || !source) throw kPlayerCallFailed;
  std::shared_ptr<IITPlaylistCollection> playlists;
  if (FAILED(source->get_Playlists(&playlists)) || !playlists) throw kPlayerCallFailed;
  long count = 0;
  if (FAILED(playlists->get_Count(&count))) throw kPlayerCallFailed;
  MixList found;
  for (long i = 1; i <= count; ++i) {
    std::shared_ptr<IITPlaylist> playlist;
    if (FAILED(playlists->get_Item(i, &playlist)) || !playlist) throw kPlayerCallFailed;
    std::string name;
    if (FAILED(playlist->get_Name(&name))) name.clear();
    auto user = QueryInterface<IITUserPlaylist>(playlist);
    if (!user) continue;
    ITUserPlaylistSpecialKind kind = ITUserPlaylistSpecialKindNone;
    if (FAILED(user->get_SpecialKind(&kind))) throw kPlayerCallFailed;
    if (kind != ITUserPlaylistSpecialKindNone) continue;  // smart playlists stay in
    const long trackCount = TrackCountOf(playlist);
    long playlistId = 0;
    if (FAILED(playlist->get_PlaylistID(&playlistId))) throw kPlayerCallFailed;
    found.emplace_back(static_cast<int>(playlistId), name, static_cast<int>(trackCount));
  }
  mixes.insert(mixes.end(), found.begin(), found.end());
}

void ITunesPlayer::RefreshPlaylistMix(Mix& mix) {
  RequireAvailable();
  auto playlist = FindMixPlaylist(mix, kPlayerCallFailed);
  if (!playlist) return;
  // A name that cannot be read is not stored over the one the mix has.
  if (std::string name; SUCCEEDED(playlist->get_Name(&name))) mix.Rename(name);
  mix.SetPlaylistTrackCount(static_cast<int>(TrackCountOf(playlist)));
}

void ITunesPlayer::FillUpcomingQueue(std::deque<Track>& queue) {
  RequireAvailable();
  if (!iTunes_) return;
  queue.clear();
  std::shared_ptr<IITTrack> current;
  iTunes_->get_CurrentTrack(&current);
  if (!current) return;
  long position = 0;
  current->get_PlayOrderIndex(&position);
  std::shared_ptr<IITPlaylist> playlist;
  current->get_Playlist(&playlist);
  auto tracks = TracksOf(playlist);
  if (!tracks) return;
  long count = 0;
  tracks->get_Count(&count);
  if (count <= 0) return;
  // The list wraps to the playlist's start: a short playlist comes round again.
  for (long j = position; j < position + kUpcomingCount; ++j) {
    std::shared_ptr<IITTrack> item;
    tracks->get_ItemByPlayOrder(((j % count) + count) % count + 1, &item);
    if (!item) continue;
    Track track;
    ConvertITunesTrack(track, item);
    queue.push_back(track);
  }
}

void ITunesPlayer::EnsureMixPlaying(const Mix& mix) {
  RequireAvailable();
  if (mix.IsLibraryMix()) throw kPlayerCallFailed;
  std::shared_ptr<IITTrack> current;
  if (iTunes_) iTunes_->get_CurrentTrack(&current);
  if (current) {
    std::shared_ptr<IITPlaylist> playlist;
    current->get_Playlist(&playlist);
    long playlistId = 0;
    if (playlist && SUCCEEDED(playlist->get_PlaylistID(&playlistId)) && playlistId == mix.GetPlaylistId()) return;
  }
  PlayMix(mix);
}

void ITunesPlayer::RemoveTrackFromPlaylist(const Mix& mix, const Track& track) {
  RequireAvailable();
  if (mix.IsLibraryMix()) throw kPlayerCallFailed;
  auto playlist = FindMixPlaylist(mix, kPlayerNoLibrarySource);
  if (!playlist) return;
  if (auto item = FindTrackInPlaylist(playlist, track)) item->Delete();
}

void ITunesPlayer::PlayTrackInPlaylist(const Mix& mix, const Track& track) {
  RequireAvailable();
  if (mix.IsLibraryMix()) throw kPlayerCallFailed;
  auto playlist = FindMixPlaylist(mix, kPlayerNoLibrarySource);
  if (!playlist) return;
  auto item = FindTrackInPlaylist(playlist, track);
  if (!item) return;
  RunTransportCommand([this, &item] {
    IgnoreStopWhilePlaying();
    return item->Play() == S_OK;
  });
}

void ITunesPlayer::ReorderUpcomingTracks(const UpcomingOrder& order) {
  RequireAvailable();
  if (!IsUpcomingPermutation(order)) return;
  if (!iTunes_) return;
  std::shared_ptr<IITTrack> current;
  iTunes_->get_CurrentTrack(&current);
  if (!current) return;
  long p = 0;
  current->get_PlayOrderIndex(&p);
  std::shared_ptr<IITPlaylist> playlist;
  current->get_Playlist(&playlist);
  if (!playlist) return;

  // Only a plain user playlist in its own order can be rearranged.
  bool shuffle = true;
  if (FAILED(playlist->get_Shuffle(&shuffle)) || shuffle) return;
  auto user = QueryInterface<IITUserPlaylist>(playlist);
  if (!user) return;
  ITUserPlaylistSpecialKind kind = ITUserPlaylistSpecialKindNone;
  if (FAILED(user->get_SpecialKind(&kind)) || kind != ITUserPlaylistSpecialKindNone) return;
  bool smart = true;
  if (FAILED(user->get_Smart(&smart)) || smart) return;
  auto tracks = TracksOf(playlist);
  if (!tracks) return;
  long n = 0;
  if (FAILED(tracks->get_Count(&n)) || n < kUpcomingCount) return;
  if (p < 1 || p > n) return;

  // k: entries that stay where they are; the changed ones end at distance m.
  int k = 0;
  while (k < kUpcomingCount && order[static_cast<std::size_t>(k)] == k + 1) ++k;
  int m = kUpcomingCount;
  while (m > k && order[static_cast<std::size_t>(m - 1)] == m) --m;
  // The tracks from `start` to the playlist's end are appended anew; changed
  // places that run past the end into the playlist's start cannot be reached
  // that way (tracks would be lost or doubled), so such an order is refused.
  if (k < m && p + m > n) return;

  const long start = ((k + p) % n) + 1;
  // A start at or before the playing track would take the playing entry out
  // and append it again: the player would lose its place in the playlist.
  if (start <= p) return;
  std::vector<std::shared_ptr<IITTrack>> moved;
  for (long j = start; j <= n; ++j) {
    const long idx = j + k - start;
    const long index = idx < kUpcomingCount ? ((order[static_cast<std::size_t>(idx)] + p - 1) % n) + 1 : j;
    std::shared_ptr<IITTrack> item;
    tracks->get_ItemByPlayOrder(index, &item);
    if (!item) continue;
    // Only an entry that was appended again may lose its old place.
    if (SUCCEEDED(user->AddTrack(item, nullptr))) moved.push_back(item);
  }
  for (const auto& item : moved) item->Delete();
}

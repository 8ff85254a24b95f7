// The player interface: everything else in the program reaches the media
// player through a MusicPlayer. It runs the transport, reports the current
// track, reads and edits the player's playlists, scans its library into the
// music database and passes the player's events on to its owner window.
//
// Operations report failure by throwing an int: kPlayerUnavailable (the player
// accepts no calls now), kPlayerCallFailed (a call failed, no library source,
// or a mix that is not a playlist mix), kPlayerNoLibrarySource (the playlist
// track operations found no library source).
#pragma once

#include <array>
#include <atomic>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "core/Mix.h"
#include "core/Track.h"
#include "platform/kernel/WinTypes.h"

class PlayerListener;
class ItemTrackQueue;

constexpr int kPlayerUnavailable = 1;
constexpr int kPlayerCallFailed = 2;
constexpr int kPlayerNoLibrarySource = 3;

// Shared by every player and every thread. The player accepts calls: set by
// Connect and by the player's availability events.
extern std::atomic<bool> iTunesAvailable;
// The player's library changed since the last complete scan.
extern std::atomic<bool> libraryChanged;

// The ten entries of a reorder: entry i is the 1-based distance from the
// current track of the track that is to come (i + 1)-th.
using UpcomingOrder = std::array<int, 10>;

class MusicPlayer {
 public:
  explicit MusicPlayer(PlayerListener* owner) : owner_(owner) {}
  virtual ~MusicPlayer() = default;
  MusicPlayer(const MusicPlayer&) = delete;
  MusicPlayer& operator=(const MusicPlayer&) = delete;

  // Connects to the player, with its events when asked; answers iTunesAvailable.
  virtual bool Connect(bool subscribeEvents) = 0;
  virtual bool IsStopped() = 0;
  virtual Track& GetCurrentTrack(Track& track) = 0;
  // Seconds into the current track.
  virtual int GetPlayerPosition() = 0;
  virtual Mix& GetCurrentPlaylistMix(Mix& mix) = 0;
  virtual void Play() = 0;
  // Plays the first track of a playlist mix's playlist.
  virtual void PlayMix(const Mix& mix) = 0;
  virtual void PlayTrack(Track track) = 0;
  virtual void Stop() = 0;
  // Holds the track where it is; Play goes on from there.
  virtual void Pause() = 0;
  // The track PlayTrack will be given when the playing one ends (an empty
  // track: none known), so the player can go on to it without a gap. A
  // hint: it changes no event, and nothing is thrown.
  virtual void HoldNext(const Track&) {}
  virtual void NextTrack() = 0;
  virtual void BackTrack() = 0;
  virtual void MinimizeITunes() = 0;
  // One pass copying the player's library into the music database; returns
  // early when `quitEvent` is signalled, waits while `pauseEvent` is.
  virtual void ScanLibrary(HANDLE quitEvent, HANDLE pauseEvent) = 0;
  // Runs `read` and answers whether a scan would sweep the library as it was
  // meanwhile: not one that could not be read, showed no file track or
  // changed size, since the player may then show less than it holds.
  virtual bool ShowsWholeLibraryDuring(const std::function<void()>& read) = 0;
  virtual void WriteGeneratedPlaylist(const std::string& playlistName, const std::vector<ItemTrackQueue>& queues) = 0;
  // Every plain user playlist as a playlist mix, in the player's order.
  virtual void GetUserPlaylists(MixList& mixes) = 0;
  // Reloads name and track count of a playlist mix (the name is stored).
  virtual void RefreshPlaylistMix(Mix& mix) = 0;
  // The ten tracks after the current one in its playlist.
  virtual void FillUpcomingQueue(std::deque<Track>& queue) = 0;
  // Plays the mix's playlist unless its track is already playing.
  virtual void EnsureMixPlaying(const Mix& mix) = 0;
  virtual void RemoveTrackFromPlaylist(const Mix& mix, const Track& track) = 0;
  virtual void PlayTrackInPlaylist(const Mix& mix, const Track& track) = 0;
  virtual void ReorderUpcomingTracks(const UpcomingOrder& order) = 0;

  // The player stopped on its own: the owner plays the next track.
  virtual void OnPlayerStopped();
  // The player was paused, or played again, by someone else.
  virtual void OnPlayerPaused(bool paused);
  // The player is about to ask the user whether to quit.
  virtual void OnPlayerQuit();
  // The player went without announcing it (it died or stopped answering).
  virtual void OnPlayerLost();
  virtual void SetITunesAvailable();
  virtual void SetITunesUnavailable();
  virtual void OnTrackPlaying(const Track& track) = 0;
  virtual void SetLibraryChanged() = 0;

  PlayerListener* GetOwner() const { return owner_; }

 protected:
  PlayerListener* owner_;
};

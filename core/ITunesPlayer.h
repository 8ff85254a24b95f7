// The MusicPlayer of the media player's automation server.
//
// Each thread builds its own player and uses it only there; a player connected
// with events receives them on the thread that called Connect, from that
// thread's message queue.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/ITunesEventHandler.h"
#include "core/MusicPlayer.h"
#include "platform/player/ITunes.h"

class ITunesPlayer final : public MusicPlayer {
 public:
  // Contacts nothing yet; `owner` may be null for a player without events.
  explicit ITunesPlayer(PlayerListener* owner);
  // A player on an application object made elsewhere (tests hand in one whose
  // answers they script); Connect keeps it.
  ITunesPlayer(PlayerListener* owner, std::shared_ptr<platform::player::IiTunes> app);
  ~ITunesPlayer() override;

  bool Connect(bool subscribeEvents) override;
  bool IsStopped() override;
  Track& GetCurrentTrack(Track& track) override;
  int GetPlayerPosition() override;
  Mix& GetCurrentPlaylistMix(Mix& mix) override;
  void Play() override;
  void PlayMix(const Mix& mix) override;
  void PlayTrack(Track track) override;
  void Stop() override;
  void Pause() override;
  void HoldNext(const Track& track) override;
  void NextTrack() override;
  void BackTrack() override;
  void MinimizeITunes() override;
  void ScanLibrary(HANDLE quitEvent, HANDLE pauseEvent) override;
  bool ShowsWholeLibraryDuring(const std::function<void()>& read) override;
  void WriteGeneratedPlaylist(const std::string& playlistName, const std::vector<ItemTrackQueue>& queues) override;
  void GetUserPlaylists(MixList& mixes) override;
  void RefreshPlaylistMix(Mix& mix) override;
  void FillUpcomingQueue(std::deque<Track>& queue) override;
  void EnsureMixPlaying(const Mix& mix) override;
  void RemoveTrackFromPlaylist(const Mix& mix, const Track& track) override;
  void PlayTrackInPlaylist(const Mix& mix, const Track& track) override;
  void ReorderUpcomingTracks(const UpcomingOrder& order) override;
  void OnTrackPlaying(const Track& track) override;
  void SetLibraryChanged() override;

  // Finds the generated playlist of that name and shows it in the player's
  // browser window; false when there is none.
  bool FindGeneratedPlaylist(const std::string& playlistName);

  // The event sink (its one-shot ignoreNextStop flag).
  ITunesEventHandler& GetEventHandler() { return eventHandler_; }

 private:
  // Where a generated playlist of that name lives, as far as the player has it.
  struct GeneratedPlaylistPlace {
    bool compatible = false;  // the player has playlist folders
    std::string name;         // the playlist's name in the player
    std::shared_ptr<platform::player::IITPlaylist> folder;
    std::shared_ptr<platform::player::IITPlaylist> target;
  };
  GeneratedPlaylistPlace FindGeneratedPlace(const std::string& playlistName);

  void RequireAvailable() const;
  // Marks the coming stop event as the program's own when the player plays.
  void IgnoreStopWhilePlaying();
  // A command given while the player plays stops the playing track first,
  // and that stop event is the program's own. `command` marks it (through
  // IgnoreStopWhilePlaying) and answers whether the command went through; one
  // that did not, or that threw, causes no stop, so the mark is taken back
  // and the next real end of track still reaches the owner.
  template <typename Command>
  void RunTransportCommand(Command command) {
    const bool before = eventHandler_.ignoreNextStop;
    try {
      if (!command()) eventHandler_.ignoreNextStop = before;
    } catch (...) {
      eventHandler_.ignoreNextStop = before;
      throw;
    }
  }
  // One of the player's commands without an argument, run as above.
  void RunPlayerCommand(HRESULT (platform::player::IiTunes::*command)());
  // The mix's playlist from the library source; null when there is none.
  // Throws `noSourceCode` when the player gives no library source.
  std::shared_ptr<platform::player::IITPlaylist> FindMixPlaylist(const Mix& mix, int noSourceCode);
  // Walks the playlist for the track (same location); null when absent.
  std::shared_ptr<platform::player::IITTrack> FindTrackInPlaylist(
      const std::shared_ptr<platform::player::IITPlaylist>& playlist, const Track& track);

  std::shared_ptr<platform::player::IiTunes> iTunes_;
  std::shared_ptr<platform::player::IConnectionPoint> connectionPoint_;
  DWORD cookie_ = 0;
  ITunesEventHandler eventHandler_;
};

// True when the media player is running.
bool IsITunesRunning();
// Why the program could not start the media player, naming what is wrong
// and where; "" when nothing more is known.
std::string ITunesStartFault();

// The record of a player track: names, rating text, length, location of file
// and CD tracks, the player's database id. A null track gives an empty Track.
void ConvertITunesTrack(Track& track, const std::shared_ptr<platform::player::IITTrack>& source);

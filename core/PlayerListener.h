// What the player, its event sink and the library scan call back: the
// program's main window implements it, so the core needs no window.
#pragma once

#include <string>

class Track;

class PlayerListener {
 public:
  // The player stopped at the end of a track.
  virtual void PlayNext() = 0;
  // The player reports the track playing now (on its events and its poll).
  virtual void OnTrackPlaying(const Track& track) = 0;
  // Called on the library-scan thread: may only keep the text and post a message.
  virtual void SetScanStatus(const std::string& status) = 0;
  // Someone else paused the player mid-track, or played it again.
  virtual void OnPlayerPaused(bool) {}
  // The player is about to quit.
  virtual void OnPlayerQuit() = 0;
  // The player went without a word (it died or stopped answering).
  virtual void OnPlayerLost() = 0;

 protected:
  ~PlayerListener() = default;
};

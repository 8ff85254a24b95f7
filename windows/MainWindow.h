// The base of each program's main window: a frameless HTML window run
// modally as the application's main window, with the four operations
// through which the player, its event sink and the library scan reach it.
#pragma once

#include <string>

#include "windows/FramelessHtmlWindow.h"

class Track;

class CMainWindow : public CFramelessHtmlWindow {
 public:
  using CFramelessHtmlWindow::CFramelessHtmlWindow;

  // The player stopped at the end of a track.
  virtual void PlayNext() = 0;
  // The player reports the track playing now (on its events and its poll).
  virtual void OnTrackPlaying(const Track& track) = 0;
  // Called on the library-scan thread: may only keep the text and post a message.
  virtual void SetScanStatus(const std::string& status) = 0;
  // Someone else paused the player mid-track, or played it again.
  virtual void OnPlayerPaused(bool) {}
  // The player is about to quit: the modal window ends with IDOK.
  virtual void OnPlayerQuit();
  // The player went without a word (it died or stopped answering): as when
  // it quits, unless the window says more.
  virtual void OnPlayerLost();
};

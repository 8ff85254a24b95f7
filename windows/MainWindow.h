// The base of each program's main window: a frameless HTML window run
// modally as the application's main window, with the four operations
// through which the player, its event sink and the library scan reach it.
#pragma once

#include <string>

#include "core/PlayerListener.h"
#include "windows/FramelessHtmlWindow.h"

class CMainWindow : public CFramelessHtmlWindow, public PlayerListener {
 public:
  using CFramelessHtmlWindow::CFramelessHtmlWindow;

  // The player is about to quit: the modal window ends with IDOK.
  void OnPlayerQuit() override;
  // The player went without a word: as when it quits, unless the window
  // says more.
  void OnPlayerLost() override;
};

// The companion program's application object: one running copy per user,
// the profile key Software\Zorva\Vantrel, the settings loaded before and
// saved after the window's run.
#pragma once

#include "platform/instance/SingleInstance.h"
#include "platform/window/WinApp.h"

class CVantrelApp : public CWinApp {
 public:
  CVantrelApp();
  BOOL InitInstance() override;
  // Ends the run as "Exit" with Yes does: the window closes, the settings are
  // saved. Called on the program's own thread.
  void EndNow();

  // How long a later copy waits for the running one's window: 100 tries, 2 s apart.
  static constexpr int kShowAttempts = 100;
  static constexpr platform::Millis kShowIntervalMs = 2000;

 private:
  platform::SingleInstance instance_;
};

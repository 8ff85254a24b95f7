// Vantrel: keeps the user's profile up to date while the player plays.
#include "companion/VantrelApp.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/kernel/Messages.h"
#include "platform/kernel/Signals.h"
#include "platform/window/ChromiumBrowserFactory.h"

CVantrelApp theApp;

int main(int argc, char** argv) {
  // Logout, Ctrl+C and a closed terminal end it as "Exit" with Yes does,
  // without asking. Set before any thread starts.
  platform::EndOnSignals(GetCurrentThreadId(), [](int) { theApp.EndNow(); });
  // A scripted desktop (end-to-end runs) has nobody to look at the page.
  if (!platform::StartDesktopControl()) platform::InstallChromiumBrowser();
  return AfxWinMain(argc, argv);
}

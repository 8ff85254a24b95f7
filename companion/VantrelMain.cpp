// Vantrel: keeps the user's profile up to date while the player plays.
#include "companion/VantrelApp.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/window/ChromiumBrowserFactory.h"

CVantrelApp theApp;

int main(int argc, char** argv) {
  // A scripted desktop (end-to-end runs) has nobody to look at the page.
  if (!platform::StartDesktopControl()) platform::InstallChromiumBrowser();
  return AfxWinMain(argc, argv);
}

// The main program Zorva, and the objects it keeps for its whole life.
//
// They are built here, in this order, before main runs, and destroyed after
// it in the reverse order. The application object outlives the scheduler,
// whose destructor stores its state through the application's profile; the
// music database is opened (and made when missing) before any window exists,
// also when this copy then finds a running one and ends at once.
#include "core/AppMainWindow.h"
#include "core/MusicDB.h"
#include "core/ScanStatus.h"
#include "core/Scheduler.h"
#include "core/Settings.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/kernel/Signals.h"
#include "windows/TagLinks.h"
#include "windows/WndShadow.h"
#include "zorva/ZorvaApp.h"
#include "zorva/ZorvaDlg.h"

namespace {

CZorvaApp theApp;

// Function-local statics are destroyed in the reverse order of their
// construction, after main and before theApp above.
const bool globalsBuilt = [] {
  static_cast<void>(theScheduler);
  static_cast<void>(theTagLinks);
  static_cast<void>(theScanStatus);
  static_cast<void>(WM_SHOW_LAB);
  static_cast<void>(theMusicDB);
  static_cast<void>(theSettings);
  static_cast<void>(theShadowMap);
  return true;
}();

}  // namespace

int main(int argc, char** argv) {
  static_cast<void>(globalsBuilt);
  // Logout, Ctrl+C and a closed terminal end the program as closing its
  // window does: state saved, threads joined, the browser ended. Set before
  // any thread starts, so the signals come to this thread only.
  platform::EndOnSignals(GetCurrentThreadId(), [](int) {
    const HWND window = GetAppMainWindow();
    if (window == nullptr || !::PostMessage(window, WM_CLOSE, 0, 0)) PostQuitMessage(0);
  });
  // End-to-end runs drive the program from a scripted desktop.
  platform::StartDesktopControl();
  return AfxWinMain(argc, argv);
}

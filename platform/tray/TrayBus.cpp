// Without a session bus the notification area is only the record of Tray.cpp.
#include "platform/tray/TrayBus.h"

namespace platform::tray::bus {

void IconChanged(const TrayIcon&) {}
void IconRemoved(HWND, UINT) {}
void AllRemoved() {}
void BalloonShown(const TrayIcon&, const Balloon&) {}
bool Active() { return false; }

}  // namespace platform::tray::bus

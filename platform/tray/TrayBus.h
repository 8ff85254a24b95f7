// The notification area's side on the session bus (TrayBus.cpp): each icon
// mirrored as a StatusNotifierItem. Called by Tray.cpp with no lock held.
#pragma once

#include "platform/tray/Tray.h"

namespace platform::tray::bus {

// The icon was added or changed (shown, hidden, tip, icon).
void IconChanged(const TrayIcon& icon);
void IconRemoved(HWND hwnd, UINT id);
// Every icon is gone (the shell restarted).
void AllRemoved();
void BalloonShown(const TrayIcon& icon, const Balloon& balloon);
// The popup menu that the item offers: the icon's menu resource (the
// resource id equals the icon's id, as the icons here use it).
// True while some icon is registered with a watcher.
bool Active();
// Whether the session bus has a StatusNotifierWatcher now.
bool WatcherPresent();

// Kept by Tray.cpp: the next popup menu shown is answered with `command` (an
// item chosen in the host's copy of the menu) whatever the chooser says; 0
// clears it.
void AnswerNextMenu(UINT command);

}  // namespace platform::tray::bus

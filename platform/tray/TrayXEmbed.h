// The notification area on an X display whose session bus has no
// StatusNotifierWatcher: each icon is a small window of its own, docked into
// the XEmbed system tray that owns _NET_SYSTEM_TRAY_S<screen> (trayer, tint2,
// xfce4-panel), as the freedesktop System Tray Protocol has it; a tray that
// starts later (its MANAGER message on the root window) gets the icons too.
// A click on the icon comes back as its callback message, as from the shell;
// the tray draws no menus, so the icon's popup menu is drawn here. The
// protocol carries no tip: the tip is the icon window's name and is drawn
// here when the pointer rests on the icon; balloons go to the tray as its
// messages (trays that show them do).
// Called by Tray.cpp with no lock held.
#pragma once

#include "platform/tray/Tray.h"

namespace platform::tray::xembed {

// The icon was added or changed (shown, hidden, tip, icon).
void IconChanged(const TrayIcon& icon);
void IconRemoved(HWND hwnd, UINT id);
// Every icon is gone (the shell restarted).
void AllRemoved();
void BalloonShown(const TrayIcon& icon, const Balloon& balloon);
// A StatusNotifierWatcher started (the icons leave the tray, the watcher
// shows them) or went away (they go back into the tray, if there is one).
void WatcherChanged(bool running);
// Whether the display has a system tray now.
bool TrayPresent();
// True while some icon is docked in a system tray.
bool Docked();
// Shows the popup at the pointer until an item is chosen (its id) or the
// popup is dismissed (0): a click elsewhere or Escape.
UINT ShowMenu(const ShownMenu& menu);

}  // namespace platform::tray::xembed

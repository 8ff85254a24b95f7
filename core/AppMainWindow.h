// The application's main window: where the core posts the messages that the
// player window handles. Null until the window registers itself; while null,
// nothing is posted.
#pragma once

#include "platform/kernel/WinTypes.h"

// Schedule items, their mixes or the schedule type changed.
constexpr UINT WM_APP_SCHEDULE_CHANGED = WM_APP + 55;
// The current mix was renamed on the player page.
constexpr UINT WM_APP_MIX_RENAMED = WM_APP + 56;
// The scheduler was started, stopped, overridden or left its override.
constexpr UINT WM_APP_SCHEDULER_MODE = WM_APP + 57;
// The settings window asks for another wallpaper: wParam is its number, 100
// or more for the next one.
constexpr UINT WM_APP_WALLPAPER = WM_APP + 58;
// theScanStatus holds a new status text of the library scan.
constexpr UINT WM_APP_SCAN_STATUS = WM_APP + 59;
// The Lab: play this track next (wParam: track id).
constexpr UINT WM_APP_QUEUE_TRACK = WM_APP + 60;
// The Lab: make this mix current (wParam: mix id).
constexpr UINT WM_APP_PLAY_MIX = WM_APP + 61;
// The Lab: make a mix of this one tag current (wParam: tag id).
constexpr UINT WM_APP_PLAY_TAG = WM_APP + 62;
// The library scan added tracks; rebuild the tag lists.
constexpr UINT WM_APP_SCAN_PROGRESS = WM_APP + 63;
// Mixes, their tags, tag names or dumped tracks changed; redraw the mix lists.
constexpr UINT WM_APP_MIXES_CHANGED = WM_APP + 64;
// A library scan that added tracks has ended.
constexpr UINT WM_APP_SCAN_ADDED = WM_APP + 65;

HWND GetAppMainWindow();
void SetAppMainWindow(HWND window);

// Posts `message` to the main window; false when there is none (or it is gone).
bool PostToAppMainWindow(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

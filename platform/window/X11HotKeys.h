// System-wide hot keys on an X display: the key is grabbed on the root
// window (XGrabKey), also with NumLock and CapsLock on, so its press comes
// to this program whichever window has the focus. A key another client
// holds is refused (BadAccess). One connection of its own and one thread
// that reads its presses; a press goes to platform::PressHotKey, which
// posts WM_HOTKEY to the window that registered it.
//
// Without an X display (none set, Wayland without XWayland) Grab answers
// true and nothing is grabbed: the key is the program's alone, but nothing
// on the desktop presses it.
#pragma once

#include "platform/kernel/WinTypes.h"

namespace platform::x11 {

// MOD_ALT, MOD_CONTROL, MOD_SHIFT, MOD_WIN and a virtual key (letters,
// digits, F1-F12). False when another client holds it.
bool GrabHotKey(UINT modifiers, UINT virtualKey);
void UngrabHotKey(UINT modifiers, UINT virtualKey);
// Whether grabs reach a display.
bool HotKeysOnDisplay();

// The media play/pause key (XF86AudioPlay, with or without the locks): its
// press posts WM_APPCOMMAND with APPCOMMAND_MEDIA_PLAY_PAUSE to `hwnd`,
// whichever window has the focus. False, and a trace in the log, when
// another client holds it; the program goes on without it. Without a
// display nothing is grabbed and the answer is true, as for hot keys.
bool GrabMediaKey(HWND hwnd);
void UngrabMediaKey(HWND hwnd);

}  // namespace platform::x11

// The X window system's side of the browser's shown windows. Chromium can
// move, size and minimise its windows but not hide one; a window that must be
// hidden is withdrawn through the X server itself, as a program withdraws its
// own window: unmapped, off the window manager's list and the task bar. It is
// shown again by mapping it. Windows are found by the title they show.
//
// One connection to the display of $DISPLAY (X11Display.h), opened on first
// use; every call answers 0 or false when there is no X display (Wayland,
// headless).
#pragma once

#include <string>

namespace platform::x11 {

using WindowId = unsigned long;

// A window whose title (_NET_WM_NAME, else WM_NAME) is `title`, among the
// top-level windows and the windows a window manager has framed; 0 when
// there is none.
WindowId FindWindowByTitle(const std::string& title);
bool Withdraw(WindowId window);
bool Map(WindowId window);

// Whether a mouse button is held down now; false without a display.
bool MouseButtonDown(bool* down);

// The size in pixels of the display's default screen; false without one.
bool ScreenSize(int* width, int* height);

}  // namespace platform::x11

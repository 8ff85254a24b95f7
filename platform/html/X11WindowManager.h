// The shown pages' windows under the desktop's window manager, through the
// X server and the window manager's conventions (ICCCM, EWMH, the Motif
// hints, the SHAPE extension). The program owns these windows: it draws
// their whole area (no frame), gives them their outline, moves them with the
// pointer when the page is dragged, stacks each above its owner, minimises
// and brings them back.
//
// The connection of X11Windows.h (X11Display.h), and one more that keeps the
// outlines; every call answers false when there is no X display.
#pragma once

#include <vector>

#include "platform/html/X11Windows.h"

namespace platform::x11 {

// No frame, title bar or border from the window manager.
bool SetUndecorated(WindowId window);
// Kept above `owner` (WM_TRANSIENT_FOR); 0 removes the owner.
bool SetOwner(WindowId window, WindowId owner);

struct Rect {
  int x, y, width, height;
  bool operator==(const Rect&) const = default;
};
// Raised above the windows the window manager stacks it with.
bool Raise(WindowId window);
// Whether the window manager stacks `window` below `other` (both shown).
bool StackedBelow(WindowId window, WindowId other);

// The window's outline (window coordinates); empty: the whole window.
bool SetShape(WindowId window, const std::vector<Rect>& rectangles);

// Minimised by the window manager (WM_STATE Iconic).
bool Iconify(WindowId window);
bool IsIconic(WindowId window);
// Brought back (when minimised), raised and given the focus, as the task bar
// does (_NET_ACTIVE_WINDOW).
bool Activate(WindowId window);
// The window moves with the pointer from where it is now until the mouse
// button held down is let go, as when its title bar is dragged; false when
// no button is down.
bool BeginMove(WindowId window);
struct Point {
  int x, y;
};
// The same for a drag whose button went down at `pressed` (window
// coordinates): the window keeps that point under the pointer, so the
// pointer's travel since the press moves it all, however late this comes.
bool BeginMove(WindowId window, Point pressed);

}  // namespace platform::x11

// The X display as the window calls of platform/html (X11Windows.h,
// X11WindowManager.h) use it: one connection to the display of $DISPLAY,
// opened on first use and kept until the process ends, and X errors ignored
// while they work (a window gone meanwhile is no reason to end the program).
#pragma once

#include <X11/Xlib.h>

#include <mutex>
#include <vector>

#include "platform/html/X11Windows.h"

namespace platform::x11 {

// X's error handler is the process's, not a connection's: one handler is
// installed once, for good, and hands each error on. Errors of a connection
// given to NoteErrorsOf go to its own note; others are ignored while an
// IgnoredErrors lives on any thread, and end the program as Xlib's own
// handler does otherwise.
void NoteErrorsOf(Display* display, int (*note)(Display*, XErrorEvent*));

// While one lives, on any thread, X errors of connections without a note
// are ignored (a window gone meanwhile is no reason to end the program).
class IgnoredErrors {
 public:
  IgnoredErrors();
  ~IgnoredErrors();
  IgnoredErrors(const IgnoredErrors&) = delete;
  IgnoredErrors& operator=(const IgnoredErrors&) = delete;
};

// The shared connection, held (under its lock, X errors ignored) while this
// lives; Get() is null without a display.
class SharedDisplay {
 public:
  SharedDisplay();
  Display* Get() const { return display_; }

 private:
  std::unique_lock<std::mutex> lock_;
  IgnoredErrors ignored_;
  Display* display_ = nullptr;
};

// A connection of its own to the display of $DISPLAY, for a thread that
// reads its events; null without a display.
Display* OpenDisplay();

// Where the pointer stands on the screen and which buttons and modifiers
// are down (X's mask); false when X cannot say (the pointer on another
// screen).
struct Pointer {
  int x = 0;
  int y = 0;
  unsigned int mask = 0;
};
bool QueryPointer(Display* display, Pointer* pointer);

// The 32-bit items of `window`'s `property` of `type` (Xlib hands them over
// as longs), `most` at the most; none when the window has no such property.
std::vector<unsigned long> LongProperty(Display* display, Window window, Atom property, Atom type, long most);

// Runs `act(display, window)` with the shared connection, then waits until
// the server has done it; false without a display or window.
template <class Act>
bool WithDisplay(WindowId window, Act act) {
  SharedDisplay shared;
  Display* display = shared.Get();
  if (!display || !window) return false;
  const bool done = act(display, static_cast<Window>(window));
  XSync(display, False);
  return done;
}

}  // namespace platform::x11

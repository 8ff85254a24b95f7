// A scripted desktop for end-to-end runs of a program. With
// ZORVA_DESKTOP_CONTROL=1 the program's clock becomes a manual one and the
// desktop takes commands, one per line, on the program's standard input;
// each runs on the thread that started the control, in order, between its
// messages (all but "advance"):
//
//   advance MS        the clock moves on by MS milliseconds, at once, also
//                     while that thread is busy (a wait for time sees it
//                     pass); what falls due runs on the thread afterwards
//   hotkey MODS VK    the user presses a hot key (MOD_ bits, virtual key)
//   tray EVENT        the user acts on the first notification icon (the
//                     event number, e.g. 517 right button up, 1029 balloon click)
//   menu ID           the next popup menu is answered with command ID
//   click WINDOW ID   the user clicks element ID (the rest of the line) in
//                     the page of the frontmost window whose PAGE (or whole
//                     title) is WINDOW (see below); answers "clicked" first,
//                     or "no element"
//   quit              the program's message loop ends (WM_QUIT)
//   sync TOKEN        once every message and timer due has been handled,
//                     "sync TOKEN" is written to standard output
//
// and, for what a user would see on the screen, answers on standard output:
//
//   windows           one line per top-level window, front to back:
//                     "window VISIBLE PAGE TITLE", VISIBLE 1 or 0, PAGE the
//                     file name of the page it shows ("about:blank" before
//                     it shows one, "-" for a window without a browser),
//                     TITLE its window text (may be empty)
//   text WINDOW ID    "text " and the text of element ID in the page of the
//                     frontmost window whose PAGE (or whole title) is WINDOW;
//                     "no text" when there is no such window or element
//   place WINDOW      "place LEFT TOP RIGHT BOTTOM", the screen rectangle the
//                     program holds for the frontmost window whose PAGE (or
//                     whole title) is WINDOW; "no place" when there is none
//
// Answers never span lines: line breaks in a text are written as spaces.
// Standard input at its end changes nothing: the program runs on. A wait for
// another thread or process to let go of a lock (a database's: WaitForOthers,
// platform/kernel/Clock.h) also ends in real time, without an "advance".
#pragma once

#include <ostream>
#include <string>

#include "platform/kernel/Clock.h"

namespace platform {

// Starts the control when the environment asks for it; false otherwise.
bool StartDesktopControl();

// Runs one command line on the calling thread, answering on `out` (the
// control runs each line of standard input this way on its thread).
void RunDesktopCommand(ManualClock& clock, const std::string& line, std::ostream& out);

}  // namespace platform

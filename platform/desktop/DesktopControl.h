// A scripted desktop for end-to-end runs of a program. With
// ZORVA_DESKTOP_CONTROL=1 the program's clock becomes a manual one and the
// desktop takes commands, one per line, on the program's standard input;
// each runs on the thread that started the control, in order, between its
// messages:
//
//   advance MS        the clock moves on by MS milliseconds
//   hotkey MODS VK    the user presses a hot key (MOD_ bits, virtual key)
//   tray EVENT        the user acts on the first notification icon (the
//                     event number, e.g. 517 right button up, 1029 balloon click)
//   menu ID           the next popup menu is answered with command ID
//   quit              the program's message loop ends (WM_QUIT)
//   sync TOKEN        once every message and timer due has been handled,
//                     "sync TOKEN" is written to standard output
//
// Standard input at its end changes nothing: the program runs on.
#pragma once

namespace platform {

// Starts the control when the environment asks for it; false otherwise.
bool StartDesktopControl();

}  // namespace platform

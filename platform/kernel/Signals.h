// The signals a desktop session and a terminal end a program with: SIGTERM
// (logout, shutdown), SIGINT (Ctrl+C) and SIGHUP (the terminal closed). Their
// default action ends the process at once, saving nothing; here they become a
// call on the program's own thread, made between its messages, so the
// program can end the way it ends when the user closes it.
#pragma once

#include <functional>

#include "platform/kernel/WinTypes.h"

namespace platform {

// From now on the three signals run `onSignal` (with the signal's number) on
// thread `threadId` the next time that thread pumps its messages. Call it
// before the program starts any other thread: the signals are blocked in the
// calling thread and in every thread it starts later, and one thread of this
// layer waits for them. A second signal while the first is being handled
// ends the process at once, as the signal itself would have. Once only; false
// when the waiting thread cannot be started.
bool EndOnSignals(DWORD threadId, std::function<void(int signal)> onSignal);

// True once one of the signals has come: a question that waits for the user
// (a message box) gives way, so the program can end.
bool EndingAsked();

}  // namespace platform

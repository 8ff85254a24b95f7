// Per-thread state that the message half and the kernel-object half of this
// layer share: thread ids and the end of a thread's message queue. Internal to
// the layer; system code uses GetCurrentThreadId and CreateThread instead.
#pragma once

#include "platform/kernel/WinTypes.h"

namespace platform::detail {

// A fresh thread id, never 0 and never handed out twice.
DWORD NewThreadId();
// Gives the calling thread `id` (before it first asks for its id).
void AdoptThreadId(DWORD id);
// Ends the calling thread's message queue now, as its exit would: its windows
// die, pending sent messages return 0, later posts to it fail.
void EndThreadQueue();

}  // namespace platform::detail

// The per-thread last-error code of the desktop API.
#pragma once

#include "platform/kernel/WinTypes.h"

DWORD GetLastError();
void SetLastError(DWORD code);

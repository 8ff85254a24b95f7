// The kernel's query for the computer's name (GetComputerNameA). Here the
// name is the host name; ZORVA_COMPUTER_NAME replaces it (tests, and machines
// whose host name is not meant to leave them).
#pragma once

#include "platform/kernel/WinTypes.h"

// Copies the name, cut to *size - 1 characters, with its terminating zero
// into buffer; *size becomes the length copied. FALSE (and *size 0, buffer
// empty) when no name can be had or the buffer is too small for any name.
BOOL GetComputerNameA(char* buffer, DWORD* size);

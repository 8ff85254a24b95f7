// The desktop's own text for an error code, as FormatMessage gives it from the
// system's message table (in the system language, ending in "\r\n").
#pragma once

#include <string>

#include "platform/kernel/WinTypes.h"

// False, with `text` left alone, for a code the table has no text for.
bool FormatSystemMessage(HRESULT code, std::string* text);

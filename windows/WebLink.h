// Links that the windows hand to the user's web browser. Only web addresses
// go: a page or a configured host must never make the desktop open a local
// file or start a program.
#pragma once

#include <string>

// An http or https address with a host and no blanks or control characters.
bool IsWebAddress(const std::string& url);
// Opens a web address in the user's browser; anything else is refused
// (false), as is a browser that cannot be started.
bool OpenWebLink(const std::string& url);

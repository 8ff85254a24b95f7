// What the files of the Chromium page document share. Internal to it.
#pragma once

#include <string>

#include "platform/html/ChromiumBrowser.h"
#include "platform/html/ScriptDispatch.h"

namespace platform::chromium {

constexpr Millis kSetUpTimeout = 45000;
// Pages made again in a row, none of them loaded, before one is left closed.
constexpr int kMostReopens = 5;

inline bool IsFileUrl(const std::string& url) { return url.rfind("file:", 0) == 0; }

// Script values as they cross to the page and back: texts, 32-bit integers,
// nothing (a larger integer comes back as its text).
Json ToJson(const ScriptValue& value);
ScriptValue FromJson(const Json& value);
// The text of a script exception the browser reported.
std::string ExceptionText(const Json& details);
// The page script as the start of each new document runs it, with the
// host's settings.
std::string PageScriptWith(const Json& settings);

}  // namespace platform::chromium

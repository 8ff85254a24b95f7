// Percent-encoding of texts that go into URLs and form bodies.
#pragma once

#include <string>
#include <string_view>

namespace platform::xmlhttp {

// Every byte of the UTF-8 text except A-Z a-z 0-9 - . _ ~ becomes %XX
// (upper-case hex); a space becomes "%20".
std::string UrlEncode(std::string_view text);

}  // namespace platform::xmlhttp

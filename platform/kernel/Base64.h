// Base64 (RFC 4648, the standard alphabet, padded with '='): the form the
// browser's debugging protocol gives bytes in, both ways.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::string Base64Encode(std::string_view bytes);
// Characters outside the alphabet (the padding, line breaks) are passed
// over; trailing bits that make no whole byte are dropped.
std::string Base64Decode(std::string_view text);

}  // namespace platform

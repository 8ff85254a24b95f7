#include "platform/kernel/Base64.h"

#include <array>

namespace platform {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of each byte as a digit, -1 for one outside the alphabet.
constexpr std::array<signed char, 256> kDigits = [] {
  std::array<signed char, 256> digits{};
  digits.fill(-1);
  for (int i = 0; i < 64; ++i) digits[static_cast<unsigned char>(kAlphabet[i])] = static_cast<signed char>(i);
  return digits;
}();

}  // namespace

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  const auto at = [&](std::size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(bytes[i])); };
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = (at(i) << 16) | (at(i + 1) << 8) | at(i + 2);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < bytes.size()) {
    unsigned v = at(i) << 16;
    if (i + 1 < bytes.size()) v |= at(i + 1) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string Base64Decode(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3);
  unsigned value = 0;
  int bits = 0;
  for (char c : text) {
    const int digit = kDigits[static_cast<unsigned char>(c)];
    if (digit < 0) continue;
    value = ((value << 6) | static_cast<unsigned>(digit)) & 0xFFFFFF;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((value >> bits) & 0xFF);
    }
  }
  return out;
}

}  // namespace platform

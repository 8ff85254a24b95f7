#include "core/HtmlText.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "platform/html/HtmlEscape.h"

namespace {

// Length of the UTF-8 sequence that starts at text[pos]; 1 for a byte that
// does not start a complete, valid sequence.
std::size_t SequenceLength(const std::string& text, std::size_t pos) {
  auto lead = static_cast<unsigned char>(text[pos]);
  std::size_t length = 1;
  if (lead >= 0xC2 && lead <= 0xDF)
    length = 2;
  else if (lead >= 0xE0 && lead <= 0xEF)
    length = 3;
  else if (lead >= 0xF0 && lead <= 0xF4)
    length = 4;
  if (pos + length > text.size()) return 1;
  for (std::size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[pos + i]) & 0xC0) != 0x80) return 1;
  }
  return length;
}

}  // namespace

std::string HtmlText(const std::string& text) { return platform::html::EscapeHtml(text, true); }

std::string HtmlAttribute(const std::string& text) { return platform::html::EscapeHtml(text, false); }

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int size = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (size > 0) {
    std::vector<char> buffer(static_cast<std::size_t>(size) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    out.assign(buffer.data(), static_cast<std::size_t>(size));
  }
  va_end(args);
  return out;
}

std::string Utf8Prefix(const std::string& text, std::size_t count) {
  std::size_t pos = 0;
  for (std::size_t n = 0; n < count && pos < text.size(); ++n) pos += SequenceLength(text, pos);
  return text.substr(0, pos);
}

#include "platform/html/HtmlEscape.h"

namespace platform::html {

namespace {

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Whether text[pos] (an '&') starts "&name;", "&#123;" or "&#x1F;".
bool StartsReference(std::string_view text, std::size_t pos) {
  std::size_t i = pos + 1;
  std::size_t start = i;
  if (i < text.size() && text[i] == '#') {
    ++i;
    bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');
    if (hex) ++i;
    start = i;
    while (i < text.size() && (hex ? IsHexDigit(text[i]) : IsDigit(text[i]))) ++i;
  } else {
    if (i >= text.size() || !IsAsciiLetter(text[i])) return false;
    while (i < text.size() && (IsAsciiLetter(text[i]) || IsDigit(text[i]))) ++i;
  }
  return i > start && i < text.size() && text[i] == ';';
}

}  // namespace

std::string EscapeHtml(std::string_view text, bool keepReferences) {
  std::string out;
  out.reserve(text.size() + 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    switch (c) {
      case '&':
        if (keepReferences && StartsReference(text, i))
          out += '&';
        else
          out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
        break;
    }
  }
  return out;
}

}  // namespace platform::html

#include "platform/html/HtmlText.h"

#include <algorithm>
#include <iterator>

#include "platform/html/HtmlTree.h"

namespace platform::html {

namespace {

struct Entity {
  const char* name;
  char32_t first;
  char32_t second;
};

constexpr Entity kEntities[] = {
#include "platform/html/HtmlEntities.inc"
};

// Legacy names (those read without ';') are at most this long ("frac12").
constexpr std::size_t kLongestLegacyName = 6;

const Entity* FindEntity(std::string_view name) {
  const auto* const end = std::end(kEntities);
  const auto* const found =
      std::lower_bound(std::begin(kEntities), end, name,
                       [](const Entity& entity, std::string_view key) { return std::string_view(entity.name) < key; });
  return found != end && found->name == name ? found : nullptr;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAlnum(char c) { return IsDigit(c) || IsAlpha(c); }
bool IsHexDigit(char c) { return IsDigit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f'); }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

char32_t DigitValue(char c) { return static_cast<char32_t>(IsDigit(c) ? c - '0' : (c | 0x20) - 'a' + 10); }

// The character a numeric reference gives in a browser.
char32_t NumericCharacter(char32_t value) {
  if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0xFFFD;
  if (value >= 0x80 && value <= 0x9F) return Windows1252(static_cast<unsigned char>(value));
  return value;
}

void AppendCharacter(std::string& out, char32_t character) {
  // Control characters libxml2 refuses would be dropped.
  const bool refused = (character < 0x20 && character != '\t' && character != '\n' && character != '\r') ||
                       character == 0xFFFE || character == 0xFFFF;
  constexpr char kHex[] = "0123456789ABCDEF";
  std::string digits;
  for (char32_t rest = refused ? 0xFFFD : character; rest != 0 || digits.empty(); rest >>= 4) {
    digits.insert(digits.begin(), kHex[rest & 0xF]);
  }
  out += "&#x";
  out += digits;
  out += ';';
}

void AppendEntity(std::string& out, const Entity& entity) {
  AppendCharacter(out, entity.first);
  if (entity.second != 0) AppendCharacter(out, entity.second);
}

// Writes the reference that starts with the '&' at `at` and gives the
// position after it.
std::size_t ResolveOne(std::string_view in, std::size_t at, bool attribute, std::string& out) {
  const std::size_t start = at + 1;
  if (start < in.size() && in[start] == '#') {
    std::size_t i = start + 1;
    const bool hex = i < in.size() && (in[i] == 'x' || in[i] == 'X');
    if (hex) ++i;
    const std::size_t digits = i;
    char32_t value = 0;
    for (; i < in.size() && (hex ? IsHexDigit(in[i]) : IsDigit(in[i])); ++i) {
      value = std::min<char32_t>(value * (hex ? 16 : 10) + DigitValue(in[i]), 0x110000);
    }
    if (i > digits) {
      if (i < in.size() && in[i] == ';') ++i;
      AppendCharacter(out, NumericCharacter(value));
      return i;
    }
  } else {
    std::size_t end = start;
    while (end < in.size() && IsAlnum(in[end])) ++end;
    const std::string_view name = in.substr(start, end - start);
    if (!name.empty() && end < in.size() && in[end] == ';') {
      if (const Entity* entity = FindEntity(std::string(name) + ';')) {
        AppendEntity(out, *entity);
        return end + 1;
      }
    }
    // The longest legacy name the text starts with.
    for (std::size_t length = std::min(name.size(), kLongestLegacyName); length > 0; --length) {
      const Entity* entity = FindEntity(name.substr(0, length));
      if (entity == nullptr) continue;
      const std::size_t next = start + length;
      if (attribute && next < in.size() && (in[next] == '=' || IsAlnum(in[next]))) break;
      AppendEntity(out, *entity);
      return next;
    }
  }
  out += "&amp;";
  return start;
}

// Copies the start tag at `at`, resolving references in its attribute
// values, and gives the position after it and its name.
std::size_t CopyStartTag(std::string_view in, std::size_t at, std::string& out, std::string& name) {
  std::size_t i = at + 1;
  while (i < in.size() && !IsSpace(in[i]) && in[i] != '>' && in[i] != '/') ++i;
  name = AsciiLower(std::string(in.substr(at + 1, i - at - 1)));
  out.append(in.substr(at, i - at));
  while (i < in.size() && in[i] != '>') {
    if (in[i] != '=') {
      out += in[i++];
      continue;
    }
    out += in[i++];
    while (i < in.size() && IsSpace(in[i])) out += in[i++];
    const char quote = i < in.size() && (in[i] == '"' || in[i] == '\'') ? in[i] : '\0';
    if (quote != '\0') out += in[i++];
    while (i < in.size() && (quote != '\0' ? in[i] != quote : !IsSpace(in[i]) && in[i] != '>')) {
      if (in[i] == '&') {
        i = ResolveOne(in, i, true, out);
      } else {
        out += in[i++];
      }
    }
    if (quote != '\0' && i < in.size()) out += in[i++];
  }
  if (i < in.size()) {
    // libxml2 reads "<script/>" as an empty element.
    if (in[i - 1] == '/') name.clear();
    out += in[i++];
  }
  return i;
}

std::size_t FindCaseless(std::string_view in, std::string_view what, std::size_t from) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c; };
  for (std::size_t i = from; i + what.size() <= in.size(); ++i) {
    std::size_t matched = 0;
    while (matched < what.size() && lower(in[i + matched]) == what[matched]) ++matched;
    if (matched == what.size()) return i;
  }
  return std::string_view::npos;
}

}  // namespace

char32_t Windows1252(unsigned char byte) {
  static constexpr char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                         0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                         0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                         0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  return byte >= 0x80 && byte <= 0x9F ? kHigh[byte - 0x80] : byte;
}

std::string ResolveReferences(std::string_view in) {
  if (in.find('&') == std::string_view::npos) return std::string(in);
  std::string out;
  out.reserve(in.size() + in.size() / 8);
  std::size_t i = 0;
  const auto copyTo = [&](std::size_t end) {
    end = std::min(end, in.size());
    out.append(in.substr(i, end - i));
    i = end;
  };
  while (i < in.size()) {
    const char c = in[i];
    if (c == '&') {
      i = ResolveOne(in, i, false, out);
      continue;
    }
    const char next = i + 1 < in.size() ? in[i + 1] : '\0';
    if (c != '<') {
      out += c;
      ++i;
    } else if (in.substr(i, 4) == "<!--") {
      const std::size_t end = in.find("-->", i + 4);
      copyTo(end == std::string_view::npos ? end : end + 3);
    } else if (next == '!' || next == '?' || next == '/') {
      const std::size_t end = in.find('>', i);
      copyTo(end == std::string_view::npos ? end : end + 1);
    } else if (IsAlpha(next) || next == '_' || next == ':') {
      std::string name;
      i = CopyStartTag(in, i, out, name);
      // As libxml2 reads them, only these hold raw text.
      if (name == "script" || name == "style") copyTo(FindCaseless(in, "</" + name, i));
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

}  // namespace platform::html

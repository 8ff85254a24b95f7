#include "platform/html/HtmlText.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <type_traits>

#include "platform/html/HtmlTree.h"

namespace platform::html {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
constexpr std::size_t kPrescanLength = 1024;

const char* const kUtf8 = "UTF-8";
const char* const kWindows1252 = "windows-1252";

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Reads UTF-8 as a browser does: each longest part of a sequence that cannot
// be completed gives one U+FFFD. `valid` tells whether there was none.
std::string DecodeUtf8(std::string_view in, bool* valid = nullptr) {
  std::string out;
  out.reserve(in.size());
  bool clean = true;
  std::size_t i = 0;
  while (i < in.size()) {
    const auto lead = static_cast<unsigned char>(in[i]);
    std::size_t need = 0;
    unsigned char lower = 0x80;
    unsigned char upper = 0xBF;
    if (lead < 0x80) {
      out += in[i++];
      continue;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
      need = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      need = 2;
      if (lead == 0xE0) lower = 0xA0;
      if (lead == 0xED) upper = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      need = 3;
      if (lead == 0xF0) lower = 0x90;
      if (lead == 0xF4) upper = 0x8F;
    }
    std::size_t end = i + 1;
    for (std::size_t k = 0; k < need && end < in.size(); ++k, ++end) {
      const auto byte = static_cast<unsigned char>(in[end]);
      if (byte < lower || byte > upper) break;
      lower = 0x80;
      upper = 0xBF;
    }
    if (need > 0 && end == i + 1 + need) {
      out.append(in.substr(i, end - i));
    } else {
      out += kReplacement;
      clean = false;
    }
    i = end;
  }
  if (valid != nullptr) *valid = clean;
  return out;
}

std::string DecodeWindows1252(std::string_view in) {
  std::string out;
  out.reserve(in.size() + in.size() / 4);
  for (const char c : in) AppendUtf8(out, Windows1252(static_cast<unsigned char>(c)));
  return out;
}

std::string DecodeUtf16(std::string_view in, bool bigEndian) {
  std::string out;
  out.reserve(in.size());
  const auto unit = [&](std::size_t i) {
    const auto first = static_cast<unsigned char>(in[i]);
    const auto second = static_cast<unsigned char>(in[i + 1]);
    return static_cast<char32_t>(bigEndian ? first << 8 | second : second << 8 | first);
  };
  std::size_t i = 0;
  for (; i + 1 < in.size(); i += 2) {
    const char32_t c = unit(i);
    if (c >= 0xD800 && c <= 0xDBFF && i + 3 < in.size()) {
      const char32_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    if (c >= 0xD800 && c <= 0xDFFF) {
      out += kReplacement;
    } else {
      AppendUtf8(out, c);
    }
  }
  if (i < in.size()) out += kReplacement;  // an odd byte at the end
  return out;
}

struct IconvClose {
  void operator()(iconv_t handle) const { iconv_close(handle); }
};
using IconvHolder = std::unique_ptr<std::remove_pointer_t<iconv_t>, IconvClose>;

IconvHolder OpenToUtf8(const std::string& charset) {
  const iconv_t handle = iconv_open("UTF-8", charset.c_str());
  return IconvHolder(handle != reinterpret_cast<iconv_t>(-1) ? handle : nullptr);
}

std::string DecodeWithIconv(iconv_t handle, std::string bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  char buffer[4096];
  char* in = bytes.data();
  std::size_t inLeft = bytes.size();
  while (true) {
    char* next = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t done =
        inLeft > 0 ? iconv(handle, &in, &inLeft, &next, &outLeft) : iconv(handle, nullptr, nullptr, &next, &outLeft);
    const int error = errno;
    out.append(buffer, static_cast<std::size_t>(next - buffer));
    if (done != static_cast<std::size_t>(-1)) {
      if (inLeft == 0 && next == buffer) break;  // flushed
      continue;
    }
    if (error == E2BIG) continue;
    // A byte that starts no character (or an unfinished one at the end).
    out += kReplacement;
    ++in;
    --inLeft;
    iconv(handle, nullptr, nullptr, nullptr, nullptr);
  }
  return out;
}

// The charset a label names, as browsers read labels: the Latin-1 and ASCII
// labels mean windows-1252, a UTF-16 label in ASCII markup means UTF-8, and
// some others name the superset browsers decode. Other labels go to iconv.
// Empty when the label names nothing that can be decoded.
std::string CharsetOfLabel(std::string label) {
  const auto first = label.find_first_not_of(" \t\n\f\r");
  if (first == std::string::npos) return std::string();
  label = AsciiLower(label.substr(first, label.find_last_not_of(" \t\n\f\r") + 1 - first));
  static const std::map<std::string, const char*> kLabels = [] {
    std::map<std::string, const char*> labels;
    const auto add = [&](const char* charset, std::initializer_list<const char*> names) {
      for (const char* name : names) labels.emplace(name, charset);
    };
    add(kUtf8,
        {"utf-8", "utf8", "unicode-1-1-utf-8", "unicode11utf8", "unicode20utf8", "x-unicode20utf8", "utf-16",
         "utf-16le", "utf-16be", "unicode", "unicodefeff", "unicodefffe", "ucs-2", "csunicode", "iso-10646-ucs-2"});
    add(kWindows1252, {"windows-1252", "x-cp1252", "cp1252", "iso-8859-1", "iso8859-1", "iso88591", "iso_8859-1",
                       "iso_8859-1:1987", "iso-ir-100", "l1", "latin1", "csisolatin1", "cp819", "ibm819", "us-ascii",
                       "ascii", "ansi_x3.4-1968", "x-user-defined"});
    add("CP1254", {"windows-1254", "x-cp1254", "cp1254", "iso-8859-9", "iso8859-9", "iso88599", "iso_8859-9",
                   "iso_8859-9:1989", "iso-ir-148", "l5", "latin5", "csisolatin5"});
    add("CP874", {"windows-874", "dos-874", "iso-8859-11", "iso8859-11", "iso885911", "tis-620"});
    add("GB18030", {"gb18030", "gbk", "x-gbk", "gb2312", "gb_2312", "gb_2312-80", "chinese", "csgb2312",
                    "csiso58gb231280", "iso-ir-58"});
    add("BIG5-HKSCS", {"big5", "big5-hkscs", "cn-big5", "csbig5", "x-x-big5"});
    add("CP932", {"shift_jis", "shift-jis", "sjis", "x-sjis", "ms932", "ms_kanji", "windows-31j", "csshiftjis"});
    add("CP949", {"euc-kr", "cseuckr", "windows-949", "korean", "ks_c_5601-1987", "ks_c_5601-1989", "ksc5601",
                  "ksc_5601", "iso-ir-149", "csksc56011987"});
    return labels;
  }();
  if (const auto it = kLabels.find(label); it != kLabels.end()) return it->second;
  // Unicode forms browsers do not read (UTF-32, UTF-7...) stay unknown.
  if (label.find("utf") != std::string::npos || label.find("ucs") != std::string::npos) {
    return std::string();
  }
  return OpenToUtf8(label) != nullptr ? label : std::string();
}

bool IsPrescanSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c; }

bool StartsCaseless(std::string_view in, std::size_t at, std::string_view what) {
  if (in.size() - std::min(at, in.size()) < what.size()) return false;
  for (std::size_t i = 0; i < what.size(); ++i) {
    if (Lower(in[at + i]) != what[i]) return false;
  }
  return true;
}

struct PrescanAttribute {
  std::string name;
  std::string value;
};

// One attribute of a tag, names and values lower case; none at the tag's end.
std::optional<PrescanAttribute> NextAttribute(std::string_view in, std::size_t& at) {
  while (at < in.size() && (IsPrescanSpace(in[at]) || in[at] == '/')) ++at;
  if (at >= in.size() || in[at] == '>') return std::nullopt;
  PrescanAttribute attribute;
  while (at < in.size()) {
    const char c = in[at];
    if (c == '=' && !attribute.name.empty()) break;
    if (IsPrescanSpace(c)) {
      while (at < in.size() && IsPrescanSpace(in[at])) ++at;
      if (at >= in.size() || in[at] != '=') return attribute;
      break;
    }
    if (c == '/' || c == '>') return attribute;
    attribute.name += Lower(c);
    ++at;
  }
  if (at >= in.size()) return attribute;
  ++at;  // '='
  while (at < in.size() && IsPrescanSpace(in[at])) ++at;
  if (at < in.size() && (in[at] == '"' || in[at] == '\'')) {
    const char quote = in[at++];
    while (at < in.size() && in[at] != quote) attribute.value += Lower(in[at++]);
    if (at < in.size()) ++at;
    return attribute;
  }
  while (at < in.size() && !IsPrescanSpace(in[at]) && in[at] != '>') attribute.value += Lower(in[at++]);
  return attribute;
}

// The label after "charset=" in a content-type value.
std::string CharsetInContent(const std::string& content) {
  std::size_t at = 0;
  while (true) {
    const std::size_t found = content.find("charset", at);
    if (found == std::string::npos) return std::string();
    at = found + 7;
    while (at < content.size() && IsPrescanSpace(content[at])) ++at;
    if (at < content.size() && content[at] == '=') break;
  }
  ++at;
  while (at < content.size() && IsPrescanSpace(content[at])) ++at;
  if (at >= content.size()) return std::string();
  if (content[at] == '"' || content[at] == '\'') {
    const std::size_t close = content.find(content[at], at + 1);
    return close == std::string::npos ? std::string() : content.substr(at + 1, close - at - 1);
  }
  const std::size_t end = content.find_first_of(" \t\n\f\r;", at);
  return content.substr(at, end == std::string::npos ? end : end - at);
}

// The charset the page's first bytes declare in a META element, as a
// browser looks for it before parsing.
std::string PrescanCharset(std::string_view bytes) {
  const std::string_view in = bytes.substr(0, kPrescanLength);
  std::size_t at = 0;
  while (at < in.size()) {
    if (in.substr(at, 4) == "<!--") {
      const std::size_t close = in.find("-->", at + 2);
      if (close == std::string_view::npos) break;
      at = close + 3;
    } else if (StartsCaseless(in, at, "<meta") && at + 5 < in.size() &&
               (IsPrescanSpace(in[at + 5]) || in[at + 5] == '/')) {
      at += 5;
      std::set<std::string> seen;
      bool gotPragma = false;
      std::optional<bool> needPragma;
      std::string charset;
      while (const auto attribute = NextAttribute(in, at)) {
        if (!seen.insert(attribute->name).second) continue;
        if (attribute->name == "http-equiv") {
          gotPragma = gotPragma || attribute->value == "content-type";
        } else if (attribute->name == "content" && charset.empty()) {
          charset = CharsetInContent(attribute->value);
          if (!charset.empty()) needPragma = true;
        } else if (attribute->name == "charset") {
          charset = attribute->value;
          needPragma = false;
        }
      }
      if (needPragma.has_value() && (!*needPragma || gotPragma)) {
        if (std::string found = CharsetOfLabel(charset); !found.empty()) return found;
      }
    } else if (in[at] == '<' && at + 1 < in.size() &&
               (IsLetter(in[at + 1]) || (in[at + 1] == '/' && at + 2 < in.size() && IsLetter(in[at + 2])))) {
      while (at < in.size() && !IsPrescanSpace(in[at]) && in[at] != '>') ++at;
      while (NextAttribute(in, at)) {}
    } else if (in.substr(at, 2) == "<!" || in.substr(at, 2) == "</" || in.substr(at, 2) == "<?") {
      const std::size_t close = in.find('>', at);
      if (close == std::string_view::npos) break;
      at = close + 1;
    } else {
      ++at;
    }
  }
  return std::string();
}

}  // namespace

std::string ValidUtf8(std::string_view text) { return DecodeUtf8(text); }

std::string DecodePage(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") return DecodeUtf8(bytes.substr(3));
  if (bytes.substr(0, 2) == "\xFE\xFF") return DecodeUtf16(bytes.substr(2), true);
  if (bytes.substr(0, 2) == "\xFF\xFE") return DecodeUtf16(bytes.substr(2), false);
  std::string charset = PrescanCharset(bytes);
  if (charset.empty()) {
    bool valid = false;
    std::string text = DecodeUtf8(bytes, &valid);
    return valid ? text : DecodeWindows1252(bytes);
  }
  if (charset == kUtf8) return DecodeUtf8(bytes);
  if (charset == kWindows1252) return DecodeWindows1252(bytes);
  const IconvHolder handle = OpenToUtf8(charset);
  return handle != nullptr ? DecodeWithIconv(handle.get(), std::string(bytes)) : DecodeWindows1252(bytes);
}

}  // namespace platform::html

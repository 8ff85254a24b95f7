#include "core/UrlString.h"

CUrlString::CUrlString() : specialCharacters_("\"<>&'"), entities_{"&quot;", "&lt;", "&gt;", "&amp;", "&apos;"} {}

std::string CUrlString::Escape(const std::string& text) const {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    std::size_t which = specialCharacters_.find(c);
    if (which == std::string::npos) {
      escaped += c;
    } else {
      escaped += entities_[which];
    }
  }
  return escaped;
}

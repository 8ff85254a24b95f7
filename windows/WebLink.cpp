#include "windows/WebLink.h"

#include <cctype>
#include <string_view>

#include "platform/shell/Shell.h"

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

}  // namespace

bool IsWebAddress(const std::string& url) {
  std::string_view rest(url);
  if (StartsWithNoCase(rest, "http://")) {
    rest.remove_prefix(7);
  } else if (StartsWithNoCase(rest, "https://")) {
    rest.remove_prefix(8);
  } else {
    return false;
  }
  if (rest.empty() || rest.front() == '/' || rest.front() == '?' || rest.front() == '#') return false;
  for (char c : url) {
    if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f) return false;
  }
  return true;
}

bool OpenWebLink(const std::string& url) { return IsWebAddress(url) && platform::shell::OpenUrl(url); }

#include "platform/html/Url.h"

#include <cctype>
#include <vector>

namespace platform {

namespace {

struct Parts {
  std::string scheme;  // without ':'
  bool hasAuthority = false;
  std::string authority;  // without "//"
  std::string path;
  std::string rest;  // "?query#fragment", as it stands
};

// The length of a scheme followed by ':' at the start of `url`, or 0.
std::size_t SchemeLength(const std::string& url) {
  if (url.empty() || !std::isalpha(static_cast<unsigned char>(url[0]))) return 0;
  for (std::size_t i = 1; i < url.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(url[i]);
    if (c == ':') return i;
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return 0;
  }
  return 0;
}

Parts Split(const std::string& url) {
  Parts parts;
  std::size_t at = SchemeLength(url);
  if (at) {
    parts.scheme = url.substr(0, at);
    ++at;
  }
  if (url.compare(at, 2, "//") == 0) {
    parts.hasAuthority = true;
    const std::size_t end = url.find_first_of("/?#", at + 2);
    parts.authority = url.substr(at + 2, end == std::string::npos ? std::string::npos : end - at - 2);
    at = end == std::string::npos ? url.size() : end;
  }
  const std::size_t restAt = url.find_first_of("?#", at);
  parts.path = url.substr(at, restAt == std::string::npos ? std::string::npos : restAt - at);
  if (restAt != std::string::npos) parts.rest = url.substr(restAt);
  return parts;
}

std::string RemoveDotSegments(const std::string& path) {
  std::vector<std::string> out;
  const bool absolute = !path.empty() && path[0] == '/';
  std::size_t start = absolute ? 1 : 0;
  bool trailingSlash = false;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string segment = path.substr(start, end - start);
    const bool last = end == path.size();
    if (segment == ".") {
      trailingSlash = last;
    } else if (segment == "..") {
      if (!out.empty()) out.pop_back();
      trailingSlash = last;
    } else {
      out.push_back(segment);
      trailingSlash = false;
    }
    start = end + 1;
  }
  std::string result = absolute ? "/" : "";
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (i) result += '/';
    result += out[i];
  }
  if (trailingSlash && (result.empty() || result.back() != '/')) result += '/';
  return result;
}

std::string Join(const Parts& parts) {
  std::string url;
  if (!parts.scheme.empty()) url += parts.scheme + ":";
  if (parts.hasAuthority) url += "//" + parts.authority;
  return url + parts.path + parts.rest;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string ResolveUrl(const std::string& base, const std::string& reference) {
  if (SchemeLength(reference)) return reference;
  Parts target = Split(base);
  if (reference.empty()) {
    return StripFragment(base);
  }
  if (reference[0] == '#') {
    return StripFragment(base) + reference;
  }
  if (reference.compare(0, 2, "//") == 0) {
    return (target.scheme.empty() ? std::string() : target.scheme + ":") + reference;
  }
  const Parts ref = Split(reference);
  target.rest = ref.rest;
  if (reference[0] == '?') return Join(target);
  if (!ref.path.empty() && ref.path[0] == '/') {
    target.path = RemoveDotSegments(ref.path);
    return Join(target);
  }
  std::string merged;
  if (target.hasAuthority && target.path.empty()) {
    merged = "/" + ref.path;
  } else {
    const std::size_t slash = target.path.rfind('/');
    merged = (slash == std::string::npos ? std::string() : target.path.substr(0, slash + 1)) + ref.path;
  }
  target.path = RemoveDotSegments(merged);
  return Join(target);
}

std::string FileUrl(const std::string& path) {
  // '%', '#' and '?' in a folder name would otherwise read as an escape, the
  // fragment or the query, and the URL would lead elsewhere.
  std::string url = "file://";
  for (const char c : path) {
    if (c == '%') {
      url += "%25";
    } else if (c == '#') {
      url += "%23";
    } else if (c == '?') {
      url += "%3F";
    } else {
      url += c;
    }
  }
  return url;
}

bool FileUrlToPath(const std::string& url, std::string* path) {
  if (url.size() < 5) return false;
  for (std::size_t i = 0; i < 5; ++i) {
    if (std::tolower(static_cast<unsigned char>(url[i])) != "file:"[i]) return false;
  }
  Parts parts = Split(url);
  std::string decoded;
  for (std::size_t i = 0; i < parts.path.size(); ++i) {
    if (parts.path[i] == '%' && i + 2 < parts.path.size()) {
      const int high = HexValue(parts.path[i + 1]);
      const int low = HexValue(parts.path[i + 2]);
      if (high >= 0 && low >= 0) {
        decoded += static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    decoded += parts.path[i];
  }
  if (path) *path = decoded;
  return true;
}

std::string StripFragment(const std::string& url) {
  const std::size_t hash = url.find('#');
  return hash == std::string::npos ? url : url.substr(0, hash);
}

}  // namespace platform

// Page addresses as the browser control handles them: a link's address
// resolved against the page's, and file URLs of page files.
#pragma once

#include <string>

namespace platform {

// `reference` resolved against `base` (an absolute URL): a reference with a
// scheme stands as it is; "#x", "?x", "/x", "//host/x" and relative paths are
// resolved as a browser resolves a link, with "." and ".." segments removed.
// Backslashes are ordinary characters.
std::string ResolveUrl(const std::string& base, const std::string& reference);

// "file://" followed by the path as it is, but for '%', '#' and '?', which are
// escaped (%25, %23, %3F) so that FileUrlToPath gives the path back.
std::string FileUrl(const std::string& path);
// The path of a "file:" URL, without its query and fragment and with %XX
// escapes decoded; false for other URLs.
bool FileUrlToPath(const std::string& url, std::string* path);

// The URL without its "#..." part.
std::string StripFragment(const std::string& url);

}  // namespace platform

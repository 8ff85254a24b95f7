// Where the outside web services live. Each has a default placeholder address;
// an environment variable, read at every call, replaces it whole (scheme, host
// and port), e.g. ZORVA_LIVE_URL=http://127.0.0.1:8080:
//   Live     ZORVA_LIVE_URL     the profile service (login, handshake, pages)
//   Maker    ZORVA_WEB_URL      the maker's web host (version file, help)
//   Twitter  ZORVA_TWITTER_URL  the status update service
//   Wiki     ZORVA_WIKI_URL     the encyclopedia's article root
#pragma once

#include <string>
#include <string_view>

namespace platform::xmlhttp {

enum class WebService { Live, Maker, Twitter, Wiki };

// "scheme://host[:port]" without a trailing slash; for Wiki the article
// root, always ending in "/".
std::string WebBase(WebService service);

// WebBase + path ("/" is put in front of a path that lacks it). Requests to
// the profile service default to https, the others to http.
std::string WebUrl(WebService service, std::string_view path);

// A page of the profile service that the user's browser opens: the same host
// as WebUrl(Live, ...), by default over http.
std::string LiveLinkUrl(std::string_view path);

}  // namespace platform::xmlhttp

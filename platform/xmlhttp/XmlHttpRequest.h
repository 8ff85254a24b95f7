// The desktop XML component's synchronous HTTP request object: open with a
// method, address and optional basic-authentication user and password, set
// request headers, send a text body, then read the status and the answer.
// Only http and https are spoken (also on redirects); certificates are
// verified; every request has a connect and a total time-out.
//
// Failures are thrown as XmlHttpError (see XmlHttpError.h): a bad or non-http
// address from Open, a refused or dropped connection, a time-out or a
// certificate that is not trusted from Send, reading the answer before a
// successful Send. An answer with any status (404, 500...) is not a failure.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/xmlhttp/XmlDocument.h"
#include "platform/xmlhttp/XmlHttpError.h"

namespace platform::xmlhttp {

class XmlHttpRequest {
 public:
  static constexpr long kDefaultConnectTimeoutMs = 10000;
  static constexpr long kDefaultTotalTimeoutMs = 30000;

  XmlHttpRequest();
  ~XmlHttpRequest();
  XmlHttpRequest(XmlHttpRequest&&) noexcept;
  XmlHttpRequest& operator=(XmlHttpRequest&&) noexcept;
  XmlHttpRequest(const XmlHttpRequest&) = delete;
  XmlHttpRequest& operator=(const XmlHttpRequest&) = delete;

  // Process-wide settings for every request that has none of its own.
  // Time-outs in milliseconds (at least 1); an empty CA bundle path means
  // the system's trusted certificates.
  static void SetDefaultTimeouts(long connectMs, long totalMs);
  static void SetDefaultCaBundle(std::string path);
  // This request's own settings.
  void SetTimeouts(long connectMs, long totalMs);
  void SetCaBundle(std::string path);

  // Starts a new request and forgets the previous one. `async` must be false.
  // An empty user and password send no authentication; otherwise they go as
  // HTTP basic authentication.
  void Open(std::string_view method, std::string_view url, bool async = false, std::string_view user = {},
            std::string_view password = {});
  // Adds a request header (after Open).
  void SetRequestHeader(std::string_view name, std::string_view value);
  // Sends the request with `body` (ignored for GET and HEAD) and waits for
  // the whole answer. No "Expect: 100-continue" is ever sent.
  void Send(std::string_view body = {});

  // The answer of the last Send.
  long Status() const;
  std::string StatusText() const;
  // The body as text in UTF-8 (converted from the charset that the answer's
  // Content-Type names, if another).
  std::string ResponseText() const;
  // The body's bytes as received.
  const std::string& ResponseBody() const;
  // The body parsed as an XML document; one that is not XML gives a document
  // that is not loaded (IsLoaded false, ParseError set).
  XmlDocument ResponseXml() const;

 private:
  void RequireAnswer() const;
  std::string ResponseHeader(std::string_view name) const;

  // Settings.
  long connectTimeoutMs_ = 0;  // 0: the process default
  long totalTimeoutMs_ = 0;
  bool ownCaBundle_ = false;
  std::string caBundle_;

  // The request being built.
  bool opened_ = false;
  std::string method_;
  std::string url_;
  std::string user_;
  std::string password_;
  std::vector<std::pair<std::string, std::string>> requestHeaders_;

  // The answer.
  bool answered_ = false;
  long status_ = 0;
  std::string statusText_;
  std::vector<std::pair<std::string, std::string>> responseHeaders_;
  std::string body_;
};

}  // namespace platform::xmlhttp

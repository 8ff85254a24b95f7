#include "platform/xmlhttp/XmlHttpRequest.h"

#include <curl/curl.h>
#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace platform::xmlhttp {
namespace {

// Answers larger than this are refused rather than held in memory.
constexpr std::size_t kMaxBodyBytes = 32u * 1024u * 1024u;
constexpr long kMaxRedirects = 10;

struct Defaults {
  std::mutex mutex;
  long connectMs = XmlHttpRequest::kDefaultConnectTimeoutMs;
  long totalMs = XmlHttpRequest::kDefaultTotalTimeoutMs;
  std::string caBundle;
};

Defaults& TheDefaults() {
  static Defaults defaults;
  return defaults;
}

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool IsToken(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte <= 32 || byte >= 127) return false;
    if (std::string_view("()<>@,;:\\\"/[]?={}").find(c) != std::string_view::npos) return false;
  }
  return true;
}

bool HasLineBreakOrZero(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::string Trim(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  return std::string(text.substr(begin, end - begin));
}

HRESULT CodeOf(CURLcode code) {
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return kHttpTimeout;
    case CURLE_URL_MALFORMAT:
      return kHttpInvalidUrl;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return kHttpUnrecognizedScheme;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return kHttpNameNotResolved;
    case CURLE_COULDNT_CONNECT:
      return kHttpCannotConnect;
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
      return kHttpConnectionAborted;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
      return kHttpSecureFailure;
    default:
      return kHttpFailed;
  }
}

// The Content-Type's charset parameter, lower case; empty when none.
std::string CharsetOf(std::string_view contentType) {
  std::string lower = Lower(contentType);
  std::size_t at = lower.find("charset=");
  if (at == std::string::npos) return {};
  std::string value = lower.substr(at + 8);
  std::size_t end = value.find(';');
  if (end != std::string::npos) value.resize(end);
  value = Trim(value);
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
  return value;
}

// `bytes` from `charset` to UTF-8; the bytes unchanged when that fails.
std::string ToUtf8(const std::string& bytes, const std::string& charset) {
  iconv_t converter = iconv_open("UTF-8", charset.c_str());
  if (converter == reinterpret_cast<iconv_t>(-1)) return bytes;
  std::string out(bytes.size() * 4 + 4, '\0');
  std::string input = bytes;
  char* in = input.data();
  std::size_t inLeft = bytes.size();
  char* outAt = out.data();
  std::size_t outLeft = out.size();
  std::size_t result = iconv(converter, &in, &inLeft, &outAt, &outLeft);
  iconv_close(converter);
  if (result == static_cast<std::size_t>(-1) || inLeft != 0) return bytes;
  out.resize(out.size() - outLeft);
  return out;
}

struct Transfer {
  std::string* body;
  long* status;
  std::string* statusText;
  std::vector<std::pair<std::string, std::string>>* headers;
  bool tooLarge = false;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  std::size_t bytes = size * count;
  if (transfer->body->size() + bytes > kMaxBodyBytes) {
    transfer->tooLarge = true;
    return 0;
  }
  transfer->body->append(data, bytes);
  return bytes;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  std::size_t bytes = size * count;
  std::string_view line(data, bytes);
  if (line.starts_with("HTTP/")) {
    // A new answer begins (after a redirect or an interim 1xx answer).
    transfer->headers->clear();
    transfer->statusText->clear();
    std::size_t first = line.find(' ');
    std::size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
    if (second != std::string_view::npos) *transfer->statusText = Trim(line.substr(second + 1));
    return bytes;
  }
  std::size_t colon = line.find(':');
  if (colon != std::string_view::npos)
    transfer->headers->emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
  return bytes;
}

// Loopback addresses never go through a proxy; the environment's own list
// is kept.
std::string NoProxyList() {
  std::string list = "localhost,127.0.0.1,::1";
  for (const char* name : {"no_proxy", "NO_PROXY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') {
      list += ',';
      list += value;
      break;
    }
  }
  return list;
}

}  // namespace

XmlHttpRequest::XmlHttpRequest() { InitCurlOnce(); }
XmlHttpRequest::~XmlHttpRequest() = default;
XmlHttpRequest::XmlHttpRequest(XmlHttpRequest&&) noexcept = default;
XmlHttpRequest& XmlHttpRequest::operator=(XmlHttpRequest&&) noexcept = default;

void XmlHttpRequest::SetDefaultTimeouts(long connectMs, long totalMs) {
  Defaults& defaults = TheDefaults();
  std::lock_guard lock(defaults.mutex);
  defaults.connectMs = std::max(1L, connectMs);
  defaults.totalMs = std::max(1L, totalMs);
}

void XmlHttpRequest::SetDefaultCaBundle(std::string path) {
  Defaults& defaults = TheDefaults();
  std::lock_guard lock(defaults.mutex);
  defaults.caBundle = std::move(path);
}

void XmlHttpRequest::SetTimeouts(long connectMs, long totalMs) {
  connectTimeoutMs_ = std::max(1L, connectMs);
  totalTimeoutMs_ = std::max(1L, totalMs);
}

void XmlHttpRequest::SetCaBundle(std::string path) {
  ownCaBundle_ = true;
  caBundle_ = std::move(path);
}

void XmlHttpRequest::Open(std::string_view method, std::string_view url, bool async, std::string_view user,
                          std::string_view password) {
  opened_ = false;
  answered_ = false;
  requestHeaders_.clear();
  if (async) throw XmlHttpError(kHttpNotSupported, "asynchronous requests are not supported");
  if (!IsToken(method)) throw XmlHttpError(kHttpBadArgument, "invalid method \"" + std::string(method) + "\"");

  std::string address(url);
  std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), curl_url_cleanup);
  if (!parsed) throw XmlHttpError(kHttpFailed, "out of memory");
  if (address.find('\0') != std::string::npos) throw XmlHttpError(kHttpInvalidUrl, "invalid URL \"" + address + "\"");
  CURLUcode rc = curl_url_set(parsed.get(), CURLUPART_URL, address.c_str(), 0);
  if (rc == CURLUE_UNSUPPORTED_SCHEME)
    throw XmlHttpError(kHttpUnrecognizedScheme, "unsupported scheme in \"" + address + "\"");
  if (rc != CURLUE_OK) throw XmlHttpError(kHttpInvalidUrl, "invalid URL \"" + address + "\": " + curl_url_strerror(rc));
  char* scheme = nullptr;
  if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK)
    throw XmlHttpError(kHttpInvalidUrl, "invalid URL \"" + address + "\"");
  std::string schemeText = Lower(scheme);
  curl_free(scheme);
  if (schemeText != "http" && schemeText != "https")
    throw XmlHttpError(kHttpUnrecognizedScheme, "only http and https are allowed: \"" + address + "\"");

  method_ = std::string(method);
  url_ = std::move(address);
  user_ = std::string(user);
  password_ = std::string(password);
  opened_ = true;
}

void XmlHttpRequest::SetRequestHeader(std::string_view name, std::string_view value) {
  if (!opened_) throw XmlHttpError(kHttpNotOpened, "the request is not open");
  if (!IsToken(name)) throw XmlHttpError(kHttpBadArgument, "invalid header name \"" + std::string(name) + "\"");
  if (HasLineBreakOrZero(value))
    throw XmlHttpError(kHttpBadArgument, "invalid value for header \"" + std::string(name) + "\"");
  requestHeaders_.emplace_back(std::string(name), std::string(value));
}

void XmlHttpRequest::Send(std::string_view body) {
  if (!opened_) throw XmlHttpError(kHttpNotOpened, "the request is not open");
  answered_ = false;
  status_ = 0;
  statusText_.clear();
  responseHeaders_.clear();
  body_.clear();

  long connectMs = connectTimeoutMs_;
  long totalMs = totalTimeoutMs_;
  std::string caBundle = caBundle_;
  {
    Defaults& defaults = TheDefaults();
    std::lock_guard lock(defaults.mutex);
    if (connectMs == 0) connectMs = defaults.connectMs;
    if (totalMs == 0) totalMs = defaults.totalMs;
    if (!ownCaBundle_) caBundle = defaults.caBundle;
  }

  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
  if (!curl) throw XmlHttpError(kHttpFailed, "cannot create the request");
  CURL* handle = curl.get();
  char errorText[CURL_ERROR_SIZE] = "";
  long status = 0;
  std::string statusText;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string answer;
  Transfer transfer{&answer, &status, &statusText, &headers};
  std::string noProxy = NoProxyList();
  std::string sent(body);

  curl_easy_setopt(handle, CURLOPT_URL, url_.c_str());
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, connectMs);
  curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, totalMs);
  curl_easy_setopt(handle, CURLOPT_NOPROXY, noProxy.c_str());
  if (!caBundle.empty()) curl_easy_setopt(handle, CURLOPT_CAINFO, caBundle.c_str());
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);
  if (!user_.empty() || !password_.empty()) {
    curl_easy_setopt(handle, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(handle, CURLOPT_USERNAME, user_.c_str());
    curl_easy_setopt(handle, CURLOPT_PASSWORD, password_.c_str());
  }

  std::string upper = method_;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  bool hasBody = upper != "GET" && upper != "HEAD";
  if (upper == "GET") {
    curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
  } else if (upper == "HEAD") {
    curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
  } else {
    curl_easy_setopt(handle, CURLOPT_POST, 1L);
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, sent.c_str());
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(sent.size()));
  }
  // The method exactly as given; POST keeps curl's own handling so that a
  // redirect after it turns into a GET as browsers do.
  if (method_ != "GET" && method_ != "HEAD" && method_ != "POST")
    curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, method_.c_str());

  std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> list(nullptr, curl_slist_free_all);
  auto add = [&list](const std::string& line) {
    curl_slist* head = curl_slist_append(list.get(), line.c_str());
    if (head == nullptr) throw XmlHttpError(kHttpFailed, "out of memory");
    list.release();
    list.reset(head);
  };
  bool hasContentType = false;
  for (const auto& [name, value] : requestHeaders_) {
    if (Lower(name) == "content-type") hasContentType = true;
    // "Name;" is how an empty value is sent; "Name:" would drop the header.
    add(value.empty() ? name + ";" : name + ": " + value);
  }
  add("Expect:");
  if (hasBody && !hasContentType) add("Content-Type:");
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, list.get());

  CURLcode rc = curl_easy_perform(handle);
  if (rc != CURLE_OK) {
    if (transfer.tooLarge) throw XmlHttpError(kHttpFailed, "the answer is too large");
    std::string why = errorText[0] != '\0' ? Trim(errorText) : curl_easy_strerror(rc);
    throw XmlHttpError(CodeOf(rc), "request to " + url_ + " failed: " + why);
  }
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);

  status_ = status;
  statusText_ = std::move(statusText);
  responseHeaders_ = std::move(headers);
  body_ = std::move(answer);
  answered_ = true;
}

void XmlHttpRequest::RequireAnswer() const {
  if (!answered_) throw XmlHttpError(kHttpNoAnswer, "the request has no answer");
}

long XmlHttpRequest::Status() const {
  RequireAnswer();
  return status_;
}

std::string XmlHttpRequest::StatusText() const {
  RequireAnswer();
  return statusText_;
}

std::string XmlHttpRequest::ResponseHeader(std::string_view name) const {
  std::string wanted = Lower(name);
  for (const auto& [key, value] : responseHeaders_)
    if (Lower(key) == wanted) return value;
  return {};
}

std::string XmlHttpRequest::ResponseText() const {
  RequireAnswer();
  std::string charset = CharsetOf(ResponseHeader("Content-Type"));
  if (charset.empty() || charset == "utf-8" || charset == "utf8" || charset == "us-ascii") return body_;
  return ToUtf8(body_, charset);
}

const std::string& XmlHttpRequest::ResponseBody() const {
  RequireAnswer();
  return body_;
}

XmlDocument XmlHttpRequest::ResponseXml() const {
  RequireAnswer();
  XmlDocument document;
  document.Parse(body_, false);
  return document;
}

}  // namespace platform::xmlhttp

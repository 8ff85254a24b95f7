// A scripted web server on 127.0.0.1 for tests (tests/support/webserver.py,
// run as a child process). Tests queue the answers it gives and read back
// every request exactly as it arrived. The server ends when this object goes,
// and by itself when the test process dies.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>
#include <vector>

#include "platform/kernel/UniqueFd.h"

namespace zorva_test {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct WebAnswer {
  int status = 200;
  std::string reason;  // empty: the standard phrase of the status
  HeaderList headers;  // Content-Length and "Connection: close" are added
  std::string body;    // bytes, sent as they are
  int delayMs = 0;     // wait before answering
  bool closeWithoutAnswer = false;
};

struct RecordedRequest {
  std::string raw;          // head and body as received
  std::string requestLine;  // "POST /path?query HTTP/1.1"
  std::string method;
  std::string target;  // "/path?query"
  HeaderList headers;  // in order, names as sent
  std::string body;

  // The first header of that name (any case); nullopt when there is none.
  std::optional<std::string> Header(std::string_view name) const;
};

struct TestCertificate {
  std::string certFile;  // PEM; also the CA bundle that trusts it
  std::string keyFile;
};

class WebServer {
 public:
  // Plain http, or https with `tls`.
  WebServer();
  explicit WebServer(const TestCertificate& tls);
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  int Port() const { return port_; }
  // "http://127.0.0.1:PORT" (https with a certificate), no trailing slash.
  std::string BaseUrl() const;
  std::string Url(std::string_view path) const { return BaseUrl() + std::string(path); }

  // Queues answers, given in order to the next requests.
  void Answer(const WebAnswer& answer);
  // The answer once the queue is empty (a 404 at first).
  void SetDefaultAnswer(const WebAnswer& answer);
  std::vector<RecordedRequest> Requests();
  void Clear();

  // A self-signed certificate for 127.0.0.1 and localhost, made in `folder`
  // with the openssl command.
  static TestCertificate MakeCertificate(const std::string& folder);

 private:
  void Start(const TestCertificate* tls);
  void Stop();
  std::string ReadLine(int timeoutMs);
  std::string Command(const std::string& json);

  pid_t pid_ = -1;
  platform::UniqueFd toServer_;
  platform::UniqueFd fromServer_;
  int port_ = 0;
  bool tls_ = false;
  std::string pending_;
};

}  // namespace zorva_test

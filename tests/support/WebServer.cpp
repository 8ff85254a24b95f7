#include "tests/support/WebServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <utility>

extern char** environ;

namespace zorva_test {
namespace {

constexpr int kStartTimeoutMs = 20000;
constexpr int kReplyTimeoutMs = 20000;
constexpr int kStopTimeoutMs = 5000;

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string FromHex(const std::string& hex) {
  std::string out;
  out.reserve(hex.size() / 2);
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

std::string ToHex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (char c : bytes) {
    auto byte = static_cast<unsigned char>(c);
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0F];
  }
  return out;
}

nlohmann::json AnswerJson(const WebAnswer& answer) {
  nlohmann::json json;
  json["status"] = answer.status;
  if (!answer.reason.empty()) json["reason"] = answer.reason;
  json["headers"] = nlohmann::json::array();
  for (const auto& [name, value] : answer.headers) json["headers"].push_back({name, value});
  json["body_hex"] = ToHex(answer.body);
  json["delay_ms"] = answer.delayMs;
  json["close"] = answer.closeWithoutAnswer;
  return json;
}

// Runs a program to its end with all output thrown away; its exit status.
int RunQuietly(const std::vector<std::string>& args) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(rc));
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

std::optional<std::string> RecordedRequest::Header(std::string_view name) const {
  std::string wanted = Lower(name);
  for (const auto& [key, value] : headers)
    if (Lower(key) == wanted) return value;
  return std::nullopt;
}

WebServer::WebServer() { Start(nullptr); }

WebServer::WebServer(const TestCertificate& tls) { Start(&tls); }

WebServer::~WebServer() { Stop(); }

void WebServer::Start(const TestCertificate* tls) {
  // A write to a server that has gone must fail, not kill the test.
  signal(SIGPIPE, SIG_IGN);

  int input[2];
  int output[2];
  if (pipe2(input, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  platform::UniqueFd inputRead(input[0]);
  platform::UniqueFd inputWrite(input[1]);
  if (pipe2(output, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  platform::UniqueFd outputRead(output[0]);
  platform::UniqueFd outputWrite(output[1]);
  std::vector<std::string> args = {ZORVA_TEST_PYTHON3, ZORVA_TEST_WEBSERVER_SCRIPT, "--max-seconds", "600"};
  if (tls != nullptr) {
    args.insert(args.end(), {"--tls-cert", tls->certFile, "--tls-key", tls->keyFile});
    tls_ = true;
  }
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inputRead.Get(), 0);
  posix_spawn_file_actions_adddup2(&actions, outputWrite.Get(), 1);
  int rc = posix_spawn(&pid_, args[0].c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  // The child's ends are the child's alone: its output ends when it does.
  inputRead.Reset();
  outputWrite.Reset();
  toServer_ = std::move(inputWrite);
  fromServer_ = std::move(outputRead);
  if (rc != 0) {
    pid_ = -1;
    Stop();
    throw std::runtime_error(std::string("cannot start the web server: ") + std::strerror(rc));
  }
  std::string line;
  try {
    line = ReadLine(kStartTimeoutMs);
    port_ = std::stoi(line);
  } catch (const std::exception& e) {
    port_ = 0;
    line += std::string(line.empty() ? "" : " ") + "(" + e.what() + ")";
  }
  if (port_ <= 0) {
    Stop();
    throw std::runtime_error("the web server gave no port: " + line);
  }
}

void WebServer::Stop() {
  toServer_.Reset();  // the server ends when its input closes
  if (pid_ > 0) {
    // It has ended when its output closes; kill it when that does not come.
    bool ended = false;
    for (;;) {
      pollfd waiting{fromServer_.Get(), POLLIN, 0};
      int ready = poll(&waiting, 1, kStopTimeoutMs);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) break;
      char buffer[4096];
      ssize_t got = read(fromServer_.Get(), buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        ended = got == 0;
        break;
      }
    }
    if (!ended) kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {}
    pid_ = -1;
  }
  fromServer_.Reset();
}

std::string WebServer::ReadLine(int timeoutMs) {
  for (;;) {
    std::size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return line;
    }
    pollfd waiting{fromServer_.Get(), POLLIN, 0};
    int ready = poll(&waiting, 1, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) throw std::runtime_error("the web server does not answer");
    char buffer[65536];
    ssize_t got = read(fromServer_.Get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) throw std::runtime_error("the web server ended");
    pending_.append(buffer, static_cast<std::size_t>(got));
  }
}

std::string WebServer::Command(const std::string& json) {
  std::string line = json + "\n";
  std::size_t written = 0;
  while (written < line.size()) {
    ssize_t n = write(toServer_.Get(), line.data() + written, line.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("cannot write to the web server");
    written += static_cast<std::size_t>(n);
  }
  std::string reply = ReadLine(kReplyTimeoutMs);
  auto parsed = nlohmann::json::parse(reply);
  if (!parsed.value("ok", false)) throw std::runtime_error("the web server refused: " + reply);
  return reply;
}

std::string WebServer::BaseUrl() const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

void WebServer::Answer(const WebAnswer& answer) {
  nlohmann::json command = {{"cmd", "answer"}, {"answers", nlohmann::json::array({AnswerJson(answer)})}};
  Command(command.dump());
}

void WebServer::SetDefaultAnswer(const WebAnswer& answer) {
  nlohmann::json command = {{"cmd", "default"}, {"answer", AnswerJson(answer)}};
  Command(command.dump());
}

std::vector<RecordedRequest> WebServer::Requests() {
  auto reply = nlohmann::json::parse(Command(R"({"cmd": "requests"})"));
  std::vector<RecordedRequest> requests;
  for (const auto& item : reply["requests"]) {
    RecordedRequest request;
    request.raw = FromHex(item["raw_hex"].get<std::string>());
    request.requestLine = item["request_line"].get<std::string>();
    request.method = item["method"].get<std::string>();
    request.target = item["target"].get<std::string>();
    for (const auto& header : item["headers"])
      request.headers.emplace_back(header[0].get<std::string>(), header[1].get<std::string>());
    request.body = FromHex(item["body_hex"].get<std::string>());
    requests.push_back(std::move(request));
  }
  return requests;
}

void WebServer::Clear() { Command(R"({"cmd": "clear"})"); }

TestCertificate WebServer::MakeCertificate(const std::string& folder) {
  TestCertificate made{folder + "/cert.pem", folder + "/key.pem"};
  int rc = RunQuietly({ZORVA_TEST_OPENSSL, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                       "-nodes", "-keyout", made.keyFile, "-out", made.certFile, "-days", "2", "-subj", "/CN=127.0.0.1",
                       "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost"});
  if (rc != 0) throw std::runtime_error("openssl could not make a test certificate");
  return made;
}

}  // namespace zorva_test

// The companion's surroundings for its tests: the loopback web server as the
// profile and status services, an online machine, the user's folders and
// profile in a temporary folder, an account file written enciphered, and a
// music database of its own.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "companion/ProfileClient.h"
#include "core/Account.h"
#include "core/MusicDB.h"
#include "core/Settings.h"
#include "platform/profile/Profile.h"
#include "platform/xmlhttp/XmlHttpRequest.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WebServer.h"

namespace zorva_test {

inline std::string Response(const std::string& inside) {
  return "<?xml version=\"1.0\"?>\n<response>" + inside + "</response>\n";
}

inline std::string XmlText(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '&' ? std::string("&amp;") : c == '<' ? std::string("&lt;") : std::string(1, c);
  return out;
}

class CompanionFixture {
 public:
  CompanionFixture() {
    std::filesystem::create_directories(home.Path() + "/data/Zorva");
    std::filesystem::create_directories(home.Path() + "/run");
    std::filesystem::permissions(home.Path() + "/run", std::filesystem::perms::owner_all);
    SetRegistryKey("Zorva");
    SetProfileName("Vantrel");
    platform::ReloadProfile();
    theSettings = Settings();
    theProfileClient.ReloadCredentials();
  }
  ~CompanionFixture() {
    theSettings = Settings();
    platform::xmlhttp::XmlHttpRequest::SetDefaultTimeouts(platform::xmlhttp::XmlHttpRequest::kDefaultConnectTimeoutMs,
                                                          platform::xmlhttp::XmlHttpRequest::kDefaultTotalTimeoutMs);
  }

  // The account file as a successful login leaves it.
  void WriteAccount(const std::string& user, const std::string& password) {
    EncryptStringToFile(Account::GetAccountFilePath(), Account::kFileKey,
                        Response("<status>0</status><username>" + XmlText(user) + "</username><password>" +
                                 XmlText(password) + "</password>"));
    theProfileClient.ReloadCredentials();
  }
  std::string ReadAccountBytes() {
    std::ifstream in(Account::GetAccountFilePath(), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  void Reply(const std::string& body, int status = 200) {
    WebAnswer answer;
    answer.status = status;
    answer.headers = {{"Content-Type", "text/xml"}};
    answer.body = body;
    server.Answer(answer);
  }
  // A handshake answer that hands out the server's own submit address.
  void ReplyHandshake() {
    Reply(Response("<status>0</status><submiturl>" + server.Url("/submit") +
                   "</submiturl><md5challenge>x</md5challenge>"));
  }
  std::vector<RecordedRequest> RequestsTo(const std::string& pathPrefix) {
    std::vector<RecordedRequest> found;
    for (auto& request : server.Requests()) {
      if (request.target.rfind(pathPrefix, 0) == 0) found.push_back(request);
    }
    return found;
  }

  TempFolder home;
  ScopedEnv dataHome{"XDG_DATA_HOME", home.Path() + "/data"};
  ScopedEnv configHome{"XDG_CONFIG_HOME", home.Path() + "/config"};
  ScopedEnv runtime{"XDG_RUNTIME_DIR", home.Path() + "/run"};
  ScopedEnv online{"ZORVA_INTERNET_CONNECTED", "1"};
  ScopedEnv computer{"ZORVA_COMPUTER_NAME", "studio-pc"};
  WebServer server;
  ScopedEnv liveHost{"ZORVA_LIVE_URL", server.BaseUrl()};
  ScopedEnv twitterHost{"ZORVA_TWITTER_URL", server.BaseUrl()};
  MusicDB db{home.Path() + "/data/Zorva/music.db"};
  ScopedMusicDB scopedDB{db};
};

}  // namespace zorva_test

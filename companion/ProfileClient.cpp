#include "companion/ProfileClient.h"

#include <cstdlib>
#include <iostream>

#include "core/Account.h"
#include "core/Mix.h"
#include "core/MusicDB.h"
#include "core/Settings.h"
#include "core/Track.h"
#include "platform/kernel/Clock.h"
#include "platform/xmlhttp/InternetState.h"
#include "platform/xmlhttp/UrlEncode.h"
#include "platform/xmlhttp/WebHosts.h"
#include "platform/xmlhttp/XmlDocument.h"
#include "platform/xmlhttp/XmlHttpRequest.h"
#include "windows/WebLink.h"
#include "platform/kernel/Log.h"

namespace xml = platform::xmlhttp;

ProfileClient theProfileClient;

namespace {

constexpr const char* kHandshakePath = "/user/hs";
constexpr const char* kClientName = "zorva";
constexpr const char* kProtocolVersion = "0.3";
constexpr const char* kUserPagePath = "/user/";
constexpr const char* kStatusPath = "/statuses/update.xml";
// A handshake that named no submit address is asked again after this long.
constexpr DWORD kHandshakeRetryMs = 60000;

// The answer of a request that got 200, parsed (an answer that is not XML
// simply has no nodes); false for any other status.
bool Answered(const xml::XmlHttpRequest& request, xml::XmlDocument& answer) {
  if (request.Status() != 200) return false;
  answer.LoadXml(request.ResponseText());
  std::cout << "Load successful!" << std::endl;
  return true;
}

// "//response/status" is there and reads 0 the way atoi reads it.
bool StatusAccepted(const xml::XmlDocument& answer) {
  const xml::XmlNode status = answer.SelectSingleNode("//response/status");
  return status && std::atoi(status.Text().c_str()) == 0;
}

}  // namespace

bool IsInternetConnected() {
  DWORD flags = 0;
  return InternetGetConnectedState(&flags, 0) != FALSE;
}

ProfileClient::ProfileClient() { LoadCredentials(); }

ProfileClient::~ProfileClient() = default;

void ProfileClient::LoadCredentials() {
  Account account;
  account.LoadFile();
  UserName = account.GetUserName();
  Password = account.GetPassword();
}

void ProfileClient::ReloadCredentials() {
  LoadCredentials();
  // As at start: the next handshake names the submit address anew.
  LoggedIn = false;
  SubmitUrl.clear();
}

bool ProfileClient::IsOnline() const { return IsInternetConnected(); }

bool ProfileClient::Handshake() {
  if (!IsInternetConnected()) return false;
  LastHandshake = GetTickCount();
  try {
    xml::XmlHttpRequest request;
    // Values are percent-encoded: a name with "&" or a space must reach the
    // service as the name it is.
    request.Open("GET", xml::WebUrl(xml::WebService::Live, kHandshakePath) + "?u=" + xml::UrlEncode(UserName) +
                            "&pw=" + xml::UrlEncode(Password) + "&clientver=" + kClientName + "&p=" + kProtocolVersion);
    request.Send();
    xml::XmlDocument answer;
    if (!Answered(request, answer)) return false;
    if (!StatusAccepted(answer)) return false;
    LoggedIn = true;
    if (const xml::XmlNode submitUrl = answer.SelectSingleNode("//response/submiturl")) {
      // Tracks go only to a web address, never to a file or another scheme.
      const std::string url = submitUrl.Text();
      SubmitUrl = IsWebAddress(url) ? url : std::string();
    }
    return true;
  } catch (...) {
    platform::LogFailure("ProfileClient::Handshake");
    return false;
  }
}

bool ProfileClient::SubmitTrack(const Mix& playing, Track& track) {
  if (!IsInternetConnected()) return false;
  const bool retry = LacksSubmitUrl() && GetTickCount() - LastHandshake >= kHandshakeRetryMs;
  if (!LoggedIn || retry) Handshake();
  theMusicDB.AddOrUpdateTrack(track);
  // Kept for the address the next handshake may name.
  if (LacksSubmitUrl()) return false;
  // Offered once, whatever the service makes of it.
  track.uploaded = true;
  if (!LoggedIn) return false;
  try {
    xml::XmlHttpRequest request;
    request.Open("POST", SubmitUrl + "?u=" + xml::UrlEncode(UserName), false, "", "");
    request.SetRequestHeader("Content-Type", "application/xml");
    request.Send("<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + track.GetXml(playing));
    xml::XmlDocument answer;
    return Answered(request, answer) && StatusAccepted(answer);
  } catch (...) {
    platform::LogFailure("ProfileClient::SubmitTrack");
    return false;
  }
}

bool ProfileClient::PostToTwitter(const Track& track) {
  if (!IsInternetConnected()) return false;
  const std::string name = theSettings.GetTwitterName();
  const std::string password = theSettings.GetTwitterPassword();
  if (name.empty() || password.empty()) return false;
  try {
    xml::XmlHttpRequest request;
    request.Open("POST", xml::WebUrl(xml::WebService::Twitter, kStatusPath), false, name, password);
    request.SetRequestHeader("Content-Type", "application/x-www-form-urlencoded");
    // The status is read as plain text: names as they are, the whole value
    // percent-encoded for the form.
    const std::string status = "Listening to " + track.name + " by " + track.artist + "... See my recent tracks on " +
                               xml::LiveLinkUrl(kUserPagePath + xml::UrlEncode(UserName)) + " Zorva Live";
    request.Send("status=" + xml::UrlEncode(status));
    return request.Status() == 200;
  } catch (...) {
    platform::LogFailure("ProfileClient::PostToTwitter");
    return false;
  }
}

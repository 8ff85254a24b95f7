#include "core/VersionCheck.h"

#include <cstdlib>
#include <iostream>
#include <string_view>

#include "core/AppMainWindow.h"
#include "platform/kernel/Clock.h"
#include "platform/profile/Profile.h"
#include "platform/shell/Shell.h"
#include "platform/window/MessageBox.h"
#include "platform/xmlhttp/WebHosts.h"
#include "platform/xmlhttp/XmlDocument.h"
#include "platform/kernel/Log.h"

namespace xml = platform::xmlhttp;

namespace {

constexpr const char* kSection = "Version";
constexpr platform::Millis kMsPerHour = 3600LL * 1000;
constexpr platform::Millis kMsPerDay = 24 * kMsPerHour;

// Days from 1970-01-01 to the date (proleptic Gregorian calendar).
long long DaysFromCivil(long long year, long long month, long long day) {
  year -= month <= 2 ? 1 : 0;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const long long yearOfEra = year - era * 400;
  const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// Only web addresses are handed to the browser: the version file comes from
// the network and must not make the desktop open files or run programs.
bool IsWebAddress(const std::string& url) {
  std::string_view rest;
  if (StartsWithNoCase(url, "http://")) {
    rest = std::string_view(url).substr(7);
  } else if (StartsWithNoCase(url, "https://")) {
    rest = std::string_view(url).substr(8);
  } else {
    return false;
  }
  if (rest.empty() || rest.front() == '/') return false;
  for (char c : url) {
    if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f) return false;
  }
  return true;
}

std::string TextOf(const xml::XmlDocument& document, const char* xpath) {
  const xml::XmlNode node = document.SelectSingleNode(xpath);
  return node ? node.Text() : std::string();
}

}  // namespace

const char* GetVersionString() { return "3.2B"; }

int GetBuildNumber() { return 1034; }

std::string GetVersionText() {
  return std::string(GetVersionString()) + " (Build " + std::to_string(GetBuildNumber()) + ")";
}

bool VersionCheck::CheckForUpdate() {
  try {
    const platform::Millis now = platform::TheClock().LocalWallNow();
    const int day = static_cast<int>(GetProfileInt(kSection, "CheckDay", 1));
    const int month = static_cast<int>(GetProfileInt(kSection, "CheckMonth", 1));
    const int year = static_cast<int>(GetProfileInt(kSection, "CheckYear", 2001));
    const platform::Millis last = DaysFromCivil(year, month, day) * kMsPerDay;
    // Whole hours since the last day's midnight; a date in the future counts as today.
    if ((now - last) / kMsPerHour <= 23) return false;

    xml::XmlDocument document;
    if (!document.Load(xml::WebUrl(xml::WebService::Maker, "/downloads/version.xml"))) return false;
    std::cout << "Load successful!" << std::endl;
    SYSTEMTIME today{};
    GetLocalTime(&today);
    WriteProfileInt(kSection, "CheckDay", today.wDay);
    WriteProfileInt(kSection, "CheckMonth", today.wMonth);
    WriteProfileInt(kSection, "CheckYear", today.wYear);

    const xml::XmlNode number = document.SelectSingleNode("//version/number");
    if (!number || std::atoi(number.Text().c_str()) == GetBuildNumber()) return false;

    std::string message;
    if (const xml::XmlNode text = document.SelectSingleNode("//version/text")) {
      message = text.Text() + "\n\nWould you like to download it now?";
    }
    const std::string url = TextOf(document, "//version/url");
    if (MessageBox(nullptr, message.c_str(), "An update for Zorva is available", MB_YESNO) != IDYES) {
      return false;
    }
    // The program closes only when the download page was really opened.
    if (IsWebAddress(url) && platform::shell::OpenUrl(url)) PostToAppMainWindow(WM_CLOSE);
  } catch (...) {
    platform::LogFailure("VersionCheck::CheckForUpdate");
  }
  return false;
}

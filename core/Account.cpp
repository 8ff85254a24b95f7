#include "core/Account.h"

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>

#include "core/Blowfish.h"
#include "core/ShellPath.h"
#include "platform/shell/Shell.h"
#include "platform/sysinfo/ComputerName.h"
#include "platform/xmlhttp/UrlEncode.h"
#include "platform/xmlhttp/WebHosts.h"
#include "platform/xmlhttp/XmlDocument.h"
#include "platform/xmlhttp/XmlHttpRequest.h"
#include "platform/kernel/Log.h"

namespace xml = platform::xmlhttp;

const char* const Account::kFileKey = "tkw307.58ye]";

namespace {

constexpr const char* kFileName = "zorva.auth";
// Files were always written with only the first 4 key bytes in the schedule.
constexpr std::size_t kKeyLength = 4;
constexpr const char* kNoMatch = "Username and Password do not match our records, Please try again";
constexpr const char* kNoConnection =
    "Zorva could not connect to the internet.\n\n Please check your connection and try again.";

std::string ComputerName() {
  char buffer[16] = {};
  DWORD size = sizeof buffer;
  if (!GetComputerNameA(buffer, &size) || buffer[0] == '\0') return "Not found";
  return buffer;
}

// Moves or deletes one file through the shell's file operation.
bool RunFileOperation(UINT operation, const std::string& from, const std::string& to) {
  ShellFileOperation op;
  op.AddSourceFile(from);
  if (!to.empty()) op.AddDestFile(to);
  // No confirmation to replace: an existing destination is left alone.
  op.SetOperationFlags(operation, true, false, true, operation == FO_DELETE, true, false, false);
  bool aborted = false;
  return op.Go(&aborted) && !aborted;
}

}  // namespace

std::size_t EncryptStringToFile(const std::string& path, const std::string& key, const std::string& text) {
  const Blowfish cipher(key, kKeyLength);
  std::string data = text;
  const std::size_t pad = Blowfish::kBlockSize - data.size() % Blowfish::kBlockSize;
  data.append(pad, static_cast<char>(pad));
  cipher.Encrypt(data, BlowfishMode::ECB);

  // The file holds the password under a fixed key: only its user may read it.
  if (platform::shell::WritePrivateFile(path, data) != 0) throw std::runtime_error("Cannot write " + path);
  return data.size();
}

std::string DecryptFileToString(const std::string& path, const std::string& key) {
  const Blowfish cipher(key, kKeyLength);
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("Cannot open " + path);
  std::string data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) throw std::runtime_error("Cannot read " + path);
  if (const std::size_t rest = data.size() % Blowfish::kBlockSize; rest != 0) {
    data.append(Blowfish::kBlockSize - rest, '\0');
  }
  cipher.Decrypt(data, BlowfishMode::ECB);

  // A pad count outside 1..8 (or past the data) is not an account file.
  const std::size_t pad = static_cast<unsigned char>(data.back());
  if (pad < 1 || pad > Blowfish::kBlockSize || pad > data.size()) {
    throw std::runtime_error("Invalid account file " + path);
  }
  data.resize(data.size() - pad);
  if (const std::size_t zero = data.find('\0'); zero != std::string::npos) data.resize(zero);
  return data;
}

Account::Account() : Message(kNoMatch) {}

Account::~Account() = default;

std::string Account::GetAccountFilePath() {
  ShellPath path(platform::shell::DataFolder());
  path.SetFileName(kFileName);
  return path.GetFullPath();
}

std::string Account::GetOldAccountFilePath() {
  ShellPath path(SHELLPATH_MODULE);
  path.SetFileName(kFileName);
  return path.GetFullPath();
}

void Account::LoadFile() {
  const std::string oldPath = GetOldAccountFilePath();
  const std::string path = GetAccountFilePath();
  if (FileExists(oldPath) && !FileExists(path)) RunFileOperation(FO_MOVE, oldPath, path);
  // The old file goes only once the account file is in place, so a move that
  // failed loses nothing.
  if (FileExists(oldPath) && FileExists(path)) RunFileOperation(FO_DELETE, oldPath, std::string());
  if (!FileExists(path)) return;
  // A file written when it was still readable by others is closed now.
  platform::shell::MakeFilePrivate(path);

  try {
    xml::XmlDocument document;
    if (!document.LoadXml(DecryptFileToString(path, kFileKey))) return;
    std::cout << "Load successful!" << std::endl;
    UserName = document.SelectSingleNode("//response/username").Text();
    Password = document.SelectSingleNode("//response/password").Text();
  } catch (...) {
    platform::LogFailure("Account::LoadFile");
    // An unreadable or incomplete file: keep what was read so far.
  }
}

bool Account::Authenticate(const std::string& userName, const std::string& password) {
  try {
    xml::XmlDocument document;
    xml::XmlHttpRequest request;
    const std::string computerName = ComputerName();

    request.Open("POST", xml::WebUrl(xml::WebService::Live, "/user/authenticate"), false, "", "");
    request.SetRequestHeader("Content-Type", "application/x-www-form-urlencoded");
    request.Send("username=" + xml::UrlEncode(userName) + "&password=" + xml::UrlEncode(password) +
                 "&computername=" + xml::UrlEncode(computerName));
    if (request.Status() != 200) return false;

    if (document.LoadXml(request.ResponseText())) std::cout << "Load successful!" << std::endl;
    const xml::XmlNode status = document.SelectSingleNode("//response/status");
    if (!status) return false;

    if (std::atoi(status.Text().c_str()) != 0) {
      if (const xml::XmlNode description = document.SelectSingleNode("//response/description")) {
        Message = description.Text();
        UserName = userName;
        Password = password;
      }
      return false;
    }

    if (xml::XmlNode answerPassword = document.SelectSingleNode("//response/password")) {
      answerPassword.SetText(password);
    }
    UserName = userName;
    Password = password;
    ResponseXml = document.Xml();
    SaveFile();
    return true;
  } catch (...) {
    platform::LogFailure("Account::Authenticate");
    Message = kNoConnection;
    return false;
  }
}

void Account::SaveFile() { EncryptStringToFile(GetAccountFilePath(), kFileKey, ResponseXml); }

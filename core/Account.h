// The user's login to the profile service: the login request, and the
// account file "zorva.auth" that keeps the service's answer enciphered with
// Blowfish beside the music database. Short-lived: build one, load or log
// in, drop it.
#pragma once

#include <cstddef>
#include <string>

class Account {
 public:
  Account();
  ~Account();

  // Moves an account file left in the program's folder, then reads the user
  // name and password from the account file. Fails quietly: what could not
  // be read keeps its value.
  void LoadFile();
  // Sends the login; on success keeps the answer and writes the account file.
  bool Authenticate(const std::string& userName, const std::string& password);
  // Writes the last successful answer to the account file.
  void SaveFile();

  std::string GetUserName() const { return UserName; }
  std::string GetPassword() const { return Password; }
  // What to tell the user after a failed login.
  std::string GetMessage() const { return Message; }
  std::string GetResponseXml() const { return ResponseXml; }

  // <Local AppData>/Zorva/zorva.auth, and where older installations kept it.
  static std::string GetAccountFilePath();
  static std::string GetOldAccountFilePath();
  // The cipher key of the account file.
  static const char* const kFileKey;

 private:
  std::string Message;
  std::string ResponseXml;
  std::string UserName;
  std::string Password;
};

// Pads `text` to whole blocks (p bytes of value p, 1 <= p <= 8), enciphers it
// with the first 4 bytes of `key` (Blowfish, ECB) and writes it to `path`,
// replacing what was there. Returns the bytes written; throws
// std::runtime_error when the file cannot be written.
std::size_t EncryptStringToFile(const std::string& path, const std::string& key, const std::string& text);
// Reads and deciphers a file written so; the text stops at its first zero
// byte. Throws std::runtime_error for a file that cannot be read and for one
// whose padding is not valid, std::invalid_argument for an empty one.
std::string DecryptFileToString(const std::string& path, const std::string& key);

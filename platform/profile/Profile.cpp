#include "platform/profile/Profile.h"
#include "platform/kernel/EnvFolders.h"
#include "platform/kernel/ReadChunks.h"
#include "platform/kernel/UniqueFd.h"
#include "platform/kernel/WriteAll.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string_view>
#include <utility>

#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::json;

constexpr const char* kLeftoverPrefix = "profile.json.tmp-";

enum class ValueType { Dword, String, Binary };

struct Value {
  std::string name;  // spelling of the first write
  ValueType type = ValueType::String;
  DWORD number = 0;
  std::string text;
  std::vector<BYTE> bytes;

  bool operator==(const Value&) const = default;
};

struct Key {
  std::string name;                     // spelling of the first write
  std::map<std::string, Value> values;  // by folded name

  bool operator==(const Key&) const = default;
};

// Keys by folded full path ("software\zorva\zorva\startup").
using Tree = std::map<std::string, Key>;

enum class FileState { Missing, Good, Damaged, Unreadable };

struct FileId {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  long long seconds = 0;
  long nanoseconds = 0;
  long long changeSeconds = 0;  // the status change time catches a chmod
  long changeNanoseconds = 0;

  bool operator==(const FileId&) const = default;
};

struct Profile {
  std::mutex mutex;
  std::string company;
  std::string program;
  bool programSet = false;

  // What was last read of (or written to) the file at cachedPath.
  bool cached = false;
  std::string cachedPath;
  FileState state = FileState::Missing;
  FileId id;
  Tree tree;
};

Profile& TheProfile() {
  // Never destroyed: process globals save their state to the profile while
  // the process exits, after function-local statics may have gone.
  alignas(Profile) static unsigned char storage[sizeof(Profile)];
  static Profile* const profile = ::new (storage) Profile();
  return *profile;
}

class Damage : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string Fold(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

std::string DefaultProgramName() {
  char buffer[4096];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return "program";
  const std::string path(buffer, static_cast<size_t>(length));
  return path.substr(path.rfind('/') + 1);
}

std::string KeyPath(Profile& profile, const char* section) {
  if (!profile.programSet) {
    profile.program = DefaultProgramName();
    profile.programSet = true;
  }
  std::string path = "Software\\";
  if (!profile.company.empty()) path += profile.company + "\\";
  return path + profile.program + "\\" + section;
}

FileId IdOf(const struct stat& st) {
  return FileId{st.st_dev,          st.st_ino,
                st.st_size,         static_cast<long long>(st.st_mtim.tv_sec),
                st.st_mtim.tv_nsec, static_cast<long long>(st.st_ctim.tv_sec),
                st.st_ctim.tv_nsec};
}

std::string HexEncode(const BYTE* data, size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    hex += digits[data[i] >> 4];
    hex += digits[data[i] & 0x0F];
  }
  return hex;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::vector<BYTE> HexDecode(const std::string& hex) {
  if (hex.size() % 2 != 0) throw Damage("odd hex text");
  std::vector<BYTE> bytes;
  bytes.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexDigit(hex[i]);
    const int low = HexDigit(hex[i + 1]);
    if (high < 0 || low < 0) throw Damage("bad hex digit");
    bytes.push_back(static_cast<BYTE>(high * 16 + low));
  }
  return bytes;
}

bool IsUtf8(const std::string& text) {
  try {
    (void)Json(text).dump();
    return true;
  } catch (const Json::type_error&) {
    return false;
  }
}

// File layout:
//   {"keys": {"Software\\Zorva\\Zorva\\Startup": {"ScanLib": {"type": "REG_DWORD", "data": 1}}}}
// REG_SZ keeps its text in "data", or in "hex" when it is not UTF-8;
// REG_BINARY keeps its bytes as hex text in "data".
Value ParseValue(const std::string& name, const Json& json) {
  if (!json.is_object()) throw Damage("value " + name + " is not a table");
  const auto type = json.find("type");
  if (type == json.end() || !type->is_string()) throw Damage("value " + name + " has no type");
  Value value;
  value.name = name;
  const auto data = json.find("data");
  const std::string typeName = type->get<std::string>();
  if (typeName == "REG_DWORD") {
    if (data == json.end() || !data->is_number_unsigned() || data->get<std::uint64_t>() > 0xFFFFFFFFu) {
      throw Damage("value " + name + " is not a DWORD");
    }
    value.type = ValueType::Dword;
    value.number = static_cast<DWORD>(data->get<std::uint64_t>());
  } else if (typeName == "REG_SZ") {
    value.type = ValueType::String;
    const auto hex = json.find("hex");
    if (data != json.end() && data->is_string()) {
      value.text = data->get<std::string>();
    } else if (hex != json.end() && hex->is_string()) {
      const std::vector<BYTE> bytes = HexDecode(hex->get<std::string>());
      value.text.assign(bytes.begin(), bytes.end());
    } else {
      throw Damage("value " + name + " is not a string");
    }
  } else if (typeName == "REG_BINARY") {
    if (data == json.end() || !data->is_string()) throw Damage("value " + name + " is not binary");
    value.type = ValueType::Binary;
    value.bytes = HexDecode(data->get<std::string>());
  } else {
    throw Damage("value " + name + " has an unknown type");
  }
  return value;
}

Tree ParseTree(const std::string& text) {
  Json document;
  try {
    document = Json::parse(text);
  } catch (const Json::parse_error& error) {
    throw Damage("not JSON at byte " + std::to_string(error.byte));
  }
  const auto keys = document.is_object() ? document.find("keys") : document.end();
  if (!document.is_object() || keys == document.end() || !keys->is_object()) throw Damage("no key table");
  Tree tree;
  for (const auto& [path, values] : keys->items()) {
    if (!values.is_object()) throw Damage("key " + path + " is not a table");
    Key& key = tree.try_emplace(Fold(path), Key{path, {}}).first->second;
    for (const auto& [name, json] : values.items()) {
      key.values.try_emplace(Fold(name), ParseValue(name, json));
    }
  }
  return tree;
}

// Throws Json::type_error when a name is not UTF-8.
std::string Serialize(const Tree& tree) {
  Json keys = Json::object();
  for (const auto& entry : tree) {
    const Key& key = entry.second;
    Json values = Json::object();
    for (const auto& item : key.values) {
      const Value& value = item.second;
      Json json;
      switch (value.type) {
        case ValueType::Dword:
          json["type"] = "REG_DWORD";
          json["data"] = value.number;
          break;
        case ValueType::String:
          json["type"] = "REG_SZ";
          if (IsUtf8(value.text)) {
            json["data"] = value.text;
          } else {
            json["hex"] = HexEncode(reinterpret_cast<const BYTE*>(value.text.data()), value.text.size());
          }
          break;
        case ValueType::Binary:
          json["type"] = "REG_BINARY";
          json["data"] = HexEncode(value.bytes.data(), value.bytes.size());
          break;
      }
      values[value.name] = std::move(json);
    }
    keys[key.name] = std::move(values);
  }
  Json document;
  document["keys"] = std::move(keys);
  return document.dump(2) + "\n";
}

void Complain(const std::string& line) {
  const std::string text = "zorva: " + line + "\n";
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
}

void Forget(Profile& profile, const std::string& path, FileState state) {
  profile.cached = true;
  profile.cachedPath = path;
  profile.state = state;
  profile.id = FileId{};
  profile.tree.clear();
}

bool ReadAll(int fd, std::string& text) {
  return platform::ReadChunks(fd, [&text](std::string_view chunk) {
    text.append(chunk);
    return true;
  });
}

// Brings the cache up to date with the file; cheap when the file is unchanged.
void Refresh(Profile& profile, const std::string& path) {
  if (path.empty()) {
    Forget(profile, path, FileState::Missing);
    return;
  }
  const bool samePath = profile.cached && profile.cachedPath == path;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      Forget(profile, path, FileState::Missing);
      return;
    }
    if (!(samePath && profile.state == FileState::Unreadable)) {
      Complain("cannot read the profile " + path + " (" + std::strerror(errno) + "); its values read as defaults");
    }
    Forget(profile, path, FileState::Unreadable);
    return;
  }
  if (samePath && profile.state != FileState::Missing && profile.id == IdOf(st)) return;

  platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.IsDefined()) {
    if (errno == ENOENT) {
      Forget(profile, path, FileState::Missing);
      return;
    }
    Complain("cannot read the profile " + path + " (" + std::strerror(errno) + "); its values read as defaults");
    Forget(profile, path, FileState::Unreadable);
    profile.id = IdOf(st);
    return;
  }
  std::string text;
  const bool read = ::fstat(fd.Get(), &st) == 0 && ReadAll(fd.Get(), text);
  fd.Reset();
  if (!read) {
    Complain("cannot read the profile " + path + "; its values read as defaults");
    Forget(profile, path, FileState::Unreadable);
    profile.id = IdOf(st);
    return;
  }
  try {
    Tree tree = ParseTree(text);
    Forget(profile, path, FileState::Good);
    profile.tree = std::move(tree);
  } catch (const Damage& damage) {
    Complain("the profile " + path + " is damaged (" + damage.what() +
             "); its values read as defaults and it is kept aside before the next write");
    Forget(profile, path, FileState::Damaged);
  }
  profile.id = IdOf(st);
}

const Value* Find(Profile& profile, const char* section, const char* entry) {
  const auto key = profile.tree.find(Fold(KeyPath(profile, section)));
  if (key == profile.tree.end()) return nullptr;
  const auto value = key->second.values.find(Fold(entry));
  return value == key->second.values.end() ? nullptr : &value->second;
}

bool MakeFolders(const std::string& folder) {
  if (folder.empty()) return false;
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const size_t slash = folder.rfind('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolders(folder.substr(0, slash))) return false;
  return ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

// Serialises writers of all processes, so that none loses another's change
// and a temporary file seen while holding it is a leftover of a crash.
class FolderLock {
 public:
  explicit FolderLock(const std::string& path) : m_fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (!m_fd.IsDefined()) return;
    while (::flock(m_fd.Get(), LOCK_EX) != 0) {
      if (errno != EINTR) {
        m_fd.Reset();
        return;
      }
    }
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  bool Held() const { return m_fd.IsDefined(); }

 private:
  platform::UniqueFd m_fd;
};

void RemoveLeftovers(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  const size_t prefixLength = std::strlen(kLeftoverPrefix);
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strncmp(entry->d_name, kLeftoverPrefix, prefixLength) == 0) {
      ::unlink((folder + "/" + entry->d_name).c_str());
    }
  }
  ::closedir(dir);
}

void SyncFolder(const std::string& folder) {
  const platform::UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.IsDefined()) return;
  ::fsync(fd.Get());
}

bool WriteAtomically(const std::string& folder, const std::string& path, const std::string& text) {
  static unsigned counter = 0;
  const std::string temp =
      folder + "/" + kLeftoverPrefix + std::to_string(::getpid()) + "-" + std::to_string(++counter);
  platform::UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!fd.IsDefined()) return false;
  bool ok = platform::WriteAll(fd.Get(), text) && ::fsync(fd.Get()) == 0;
  ok = fd.Reset() == 0 && ok;
  ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  SyncFolder(folder);
  return true;
}

bool SetAside(const std::string& path) {
  for (int n = 1; n < 10000; ++n) {
    const std::string aside = path + ".damaged-" + std::to_string(n);
    struct stat st {};
    if (::lstat(aside.c_str(), &st) == 0) continue;
    if (errno != ENOENT) return false;
    if (::rename(path.c_str(), aside.c_str()) != 0) return false;
    Complain("the damaged profile was kept as " + aside);
    return true;
  }
  return false;
}

// Applies change (Tree&, key path of the section) to the latest state of the
// file and writes the result. change returns false when there is nothing to do.
template <class Change>
BOOL Modify(const char* section, Change&& change) {
  if (section == nullptr) return FALSE;
  Profile& profile = TheProfile();
  std::lock_guard<std::mutex> lock(profile.mutex);
  const std::string path = platform::ProfileFilePath();
  if (path.empty()) return FALSE;
  const std::string folder = path.substr(0, path.rfind('/'));
  if (!MakeFolders(folder)) return FALSE;
  FolderLock folderLock(folder + "/profile.lock");
  if (!folderLock.Held()) return FALSE;

  Refresh(profile, path);
  if (profile.state == FileState::Unreadable) return FALSE;  // never replace what cannot be read
  RemoveLeftovers(folder);

  const bool damaged = profile.state == FileState::Damaged;
  Tree next = damaged ? Tree{} : profile.tree;
  if (!change(next, KeyPath(profile, section))) return FALSE;
  if (!damaged && profile.state == FileState::Good && next == profile.tree) return TRUE;

  std::string text;
  try {
    text = Serialize(next);
  } catch (const Json::exception&) {
    return FALSE;
  }
  if (damaged && !SetAside(path)) return FALSE;
  if (!WriteAtomically(folder, path, text)) {
    profile.cached = false;
    return FALSE;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    profile.cached = false;
    return TRUE;
  }
  Forget(profile, path, FileState::Good);
  profile.tree = std::move(next);
  profile.id = IdOf(st);
  return TRUE;
}

BOOL Put(const char* section, const char* entry, Value value) {
  if (entry == nullptr) return FALSE;
  return Modify(section, [&](Tree& tree, const std::string& keyPath) {
    Key& key = tree.try_emplace(Fold(keyPath), Key{keyPath, {}}).first->second;
    const auto [slot, inserted] = key.values.try_emplace(Fold(entry));
    value.name = inserted ? std::string(entry) : slot->second.name;
    slot->second = std::move(value);
    return true;
  });
}

template <class Read>
auto Lookup(const char* section, const char* entry, Read&& read) {
  Profile& profile = TheProfile();
  std::lock_guard<std::mutex> lock(profile.mutex);
  Refresh(profile, platform::ProfileFilePath());
  return read(Find(profile, section, entry));
}

}  // namespace

namespace platform {

std::string ProfileFilePath() {
  std::string folder = XdgFolder("XDG_CONFIG_HOME", "/.config");
  if (folder.empty()) return {};
  if (folder == "/") folder.clear();
  return folder + "/zorva/profile.json";
}

void ReloadProfile() {
  Profile& profile = TheProfile();
  std::lock_guard<std::mutex> lock(profile.mutex);
  profile.cached = false;
  profile.tree.clear();
}

}  // namespace platform

void SetRegistryKey(const char* company) {
  Profile& profile = TheProfile();
  std::lock_guard<std::mutex> lock(profile.mutex);
  profile.company = company != nullptr ? company : "";
}

void SetProfileName(const char* program) {
  Profile& profile = TheProfile();
  std::lock_guard<std::mutex> lock(profile.mutex);
  if (program == nullptr || *program == '\0') {
    profile.programSet = false;
  } else {
    profile.program = program;
    profile.programSet = true;
  }
}

UINT GetProfileInt(const char* section, const char* entry, int defaultValue) {
  const UINT fallback = static_cast<UINT>(defaultValue);
  if (section == nullptr || entry == nullptr) return fallback;
  return Lookup(section, entry, [&](const Value* value) {
    return value != nullptr && value->type == ValueType::Dword ? static_cast<UINT>(value->number) : fallback;
  });
}

BOOL WriteProfileInt(const char* section, const char* entry, int value) {
  Value stored;
  stored.type = ValueType::Dword;
  stored.number = static_cast<DWORD>(value);
  return Put(section, entry, std::move(stored));
}

std::string GetProfileString(const char* section, const char* entry, const char* defaultValue) {
  const std::string fallback = defaultValue != nullptr ? defaultValue : "";
  if (section == nullptr || entry == nullptr) return fallback;
  return Lookup(section, entry, [&](const Value* value) {
    return value != nullptr && value->type == ValueType::String ? value->text : fallback;
  });
}

BOOL WriteProfileString(const char* section, const char* entry, const char* value) {
  if (entry == nullptr) {
    return Modify(section, [](Tree& tree, const std::string& keyPath) { return tree.erase(Fold(keyPath)) > 0; });
  }
  if (value == nullptr) {
    return Modify(section, [&](Tree& tree, const std::string& keyPath) {
      const auto key = tree.find(Fold(keyPath));
      return key != tree.end() && key->second.values.erase(Fold(entry)) > 0;
    });
  }
  Value stored;
  stored.type = ValueType::String;
  stored.text = value;
  return Put(section, entry, std::move(stored));
}

BOOL GetProfileBinary(const char* section, const char* entry, std::vector<BYTE>& data) {
  data.clear();
  if (section == nullptr || entry == nullptr) return FALSE;
  return Lookup(section, entry, [&](const Value* value) {
    if (value == nullptr || value->type != ValueType::Binary) return FALSE;
    data = value->bytes;
    return TRUE;
  });
}

BOOL WriteProfileBinary(const char* section, const char* entry, const BYTE* data, UINT bytes) {
  if (data == nullptr && bytes != 0) return FALSE;
  Value stored;
  stored.type = ValueType::Binary;
  if (bytes != 0) stored.bytes.assign(data, data + bytes);
  return Put(section, entry, std::move(stored));
}

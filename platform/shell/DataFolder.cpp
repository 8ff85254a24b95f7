// The user's data folder, the one place that says where it is, and the move
// of a returning user's files out of the lower-case folder that the player's
// files were once kept in.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/kernel/Log.h"
#include "platform/shell/Shell.h"

namespace platform::shell {
namespace {

constexpr const char* kFolderName = "Zorva";
constexpr const char* kOldFolderName = "zorva";

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

// Both names reach one folder: a file system that ignores case, or the link
// left by an earlier move.
bool SameFolder(const std::string& a, const std::string& b) {
  struct stat first {
  }, second{};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

// 0, or the error number; EEXIST when `to` is there already, which is never
// replaced.
int MoveWithoutReplacing(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno == ENOTEMPTY) return EEXIST;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without the flag: look first.
  struct stat st {};
  if (::lstat(to.c_str(), &st) == 0) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// Each entry of the old folder that the new one lacks is moved in; one that
// both hold stays in the old folder. An old folder left empty gives way to a
// link to the new one: Zorva's own MPD, started before, may still run on the
// old paths.
void MoveOldFiles(const std::string& old, const std::string& folder) {
  std::vector<std::string> names;
  {
    const std::unique_ptr<DIR, DirCloser> dir(::opendir(old.c_str()));
    if (!dir) {
      if (errno != ENOENT) LogLine("DataFolder", old + ": " + std::strerror(errno));
      return;
    }
    while (const dirent* entry = ::readdir(dir.get())) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
  }
  for (const std::string& name : names) {
    const std::string from = old + "/" + name;
    const std::string to = folder + name;
    const int error = MoveWithoutReplacing(from, to);
    if (error == EEXIST)
      LogLine("DataFolder", to + " exists, so " + from + " stays where it is");
    else if (error != 0)
      LogLine("DataFolder", "cannot move " + from + " to " + to + ": " + std::strerror(error));
  }
  if (::rmdir(old.c_str()) != 0) {
    if (errno != ENOTEMPTY && errno != EEXIST) LogLine("DataFolder", old + ": " + std::strerror(errno));
    return;
  }
  if (::symlink(kFolderName, old.c_str()) != 0) LogLine("DataFolder", old + ": " + std::strerror(errno));
}

}  // namespace

std::string DataFolder() {
  std::string base = LocalAppDataFolder();
  if (base.empty()) base = TempFolder();
  const std::string folder = base + kFolderName + "/";
  const std::string old = base + kOldFolderName;
  // One thread at a time moves; a process that comes second finds the
  // files gone or moved already.
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  if (::mkdir(folder.c_str(), 0700) != 0) {
    // The account file and the library are the user's alone, also in a
    // folder that something else made open to others.
    struct stat st {};
    if (errno != EEXIST)
      LogLine("DataFolder", folder + ": " + std::strerror(errno));
    else if (::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
             ::chmod(folder.c_str(), 0700) != 0)
      LogLine("DataFolder", folder + ": " + std::strerror(errno));
  }
  if (!SameFolder(old, folder)) MoveOldFiles(old, folder);
  return folder;
}

}  // namespace platform::shell

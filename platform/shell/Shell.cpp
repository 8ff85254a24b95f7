#include "platform/shell/Shell.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>

#include "platform/kernel/EnvFolders.h"
#include "platform/kernel/LastError.h"
#include "platform/kernel/ReadChunks.h"
#include "platform/kernel/UniqueFd.h"
#include "platform/kernel/WriteAll.h"

extern char** environ;

namespace platform::shell {
namespace {

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

std::string ConfigHome() { return XdgFolder("XDG_CONFIG_HOME", "/.config"); }

std::string ParentOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool MakeFolders(const std::string& folder, mode_t mode) {
  if (folder.empty()) return false;
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const std::string parent = ParentOf(folder);
  if (!parent.empty() && parent != folder && !MakeFolders(parent, mode)) return false;
  return ::mkdir(folder.c_str(), mode) == 0 || errno == EEXIST;
}

std::string TempNameBeside(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  return path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}

// Fills a temporary file beside path through fill(fd) and renames it over
// path, so that path is either the old file or the whole new one.
template <class Fill>
int ReplaceFile(const std::string& path, mode_t mode, Fill&& fill) {
  const std::string temp = TempNameBeside(path);
  platform::UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
  if (!fd.IsDefined()) return errno;
  int error = fill(fd.Get()) ? 0 : (errno != 0 ? errno : EIO);
  if (error == 0 && ::fsync(fd.Get()) != 0) error = errno;
  if (fd.Reset() != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) ::unlink(temp.c_str());
  return error;
}

// Splits a command-line text the way a desktop program splits its own:
// blanks separate words, double quotes group them, backslashes are literal
// except before a double quote.
std::vector<std::string> SplitCommandLine(const std::string& text) {
  std::vector<std::string> words;
  size_t i = 0;
  const size_t n = text.size();
  for (;;) {
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i >= n) break;
    std::string word;
    bool quoted = false;
    while (i < n && (quoted || (text[i] != ' ' && text[i] != '\t'))) {
      if (text[i] == '\\') {
        size_t count = 0;
        while (i < n && text[i] == '\\') {
          ++count;
          ++i;
        }
        if (i < n && text[i] == '"') {
          word.append(count / 2, '\\');
          if (count % 2 != 0) {
            word += '"';
            ++i;
          }
        } else {
          word.append(count, '\\');
        }
      } else if (text[i] == '"') {
        if (quoted && i + 1 < n && text[i + 1] == '"') {
          word += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        word += text[i++];
      }
    }
    words.push_back(std::move(word));
  }
  return words;
}

// One word of an Exec line: quoted when it holds a reserved character, with
// '"', '`', '$' and '\' escaped inside the quotes, and '%' doubled.
std::string ExecWord(const std::string& word) {
  constexpr std::string_view reserved = " \t\n\r\"'\\><~|&;$*?#()`=";
  const bool quote = word.empty() || word.find_first_of(reserved) != std::string::npos;
  std::string out = quote ? "\"" : "";
  for (const char c : word) {
    if (c == '%') {
      out += "%%";
      continue;
    }
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
    out += c;
  }
  if (quote) out += '"';
  return out;
}

// The escapes of a string value in a desktop entry; applied to the whole
// Exec value after the quoting above.
std::string EscapeValue(const std::string& value) {
  std::string out;
  for (const char c : value) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
        break;
    }
  }
  return out;
}

bool StartDetached(const std::vector<std::string>& argv, const std::string& folder) {
  if (argv.empty()) return false;
  std::vector<std::vector<char>> storage;
  std::vector<char*> args;
  storage.reserve(argv.size());
  for (const std::string& arg : argv) {
    storage.emplace_back(arg.c_str(), arg.c_str() + arg.size() + 1);
    args.push_back(storage.back().data());
  }
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  if (::posix_spawn_file_actions_init(&actions) != 0) return false;
  if (!folder.empty() && ::posix_spawn_file_actions_addchdir_np(&actions, folder.c_str()) != 0) {
    ::posix_spawn_file_actions_destroy(&actions);
    return false;
  }
  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return false;
  // Reap the child whenever it ends, without holding up the caller.
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
  }).detach();
  return true;
}

std::mutex starterMutex;
Starter& CurrentStarter() {
  static Starter starter = StartDetached;
  return starter;
}

bool Exists(const std::string& path, struct stat* st = nullptr) {
  struct stat local {};
  return ::lstat(path.c_str(), st != nullptr ? st : &local) == 0;
}

// "name (2).ext", "name (3).ext", ... beside path: the first that is free.
std::string FreeNameBeside(const std::string& path) {
  const std::string folder = ParentOf(path);
  const std::string name = BaseName(path);
  const size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
  const std::string extension = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
  for (int n = 2;; ++n) {
    const std::string candidate =
        (folder.empty() ? "" : WithSlash(folder)) + stem + " (" + std::to_string(n) + ")" + extension;
    if (!Exists(candidate)) return candidate;
  }
}

int CopyOneFile(const std::string& from, const std::string& to, mode_t mode) {
  platform::UniqueFd source(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (!source.IsDefined()) return errno;
  const int error = ReplaceFile(to, mode & 07777, [in = source.Get()](int out) {
    return platform::ReadChunks(in, [out](std::string_view chunk) { return platform::WriteAll(out, chunk); });
  });
  source.Reset();
  return error;
}

}  // namespace

std::string ModuleFileName() {
  std::vector<char> buffer(1024);
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return {};
    if (static_cast<size_t>(length) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(length));
    buffer.resize(buffer.size() * 2);
  }
}

std::string LocalAppDataFolder() {
  const std::string folder = XdgFolder("XDG_DATA_HOME", "/.local/share");
  if (folder.empty() || !MakeFolders(folder, 0700)) return {};
  return WithSlash(folder);
}

std::string TempFolder() {
  const std::string folder = AbsoluteEnv("TMPDIR");
  return WithSlash(folder.empty() ? "/tmp" : folder);
}

std::string StartupFolder() {
  const std::string config = ConfigHome();
  if (config.empty()) return {};
  return config + "/autostart/";
}

bool WriteShortcut(const std::string& target, const std::string& shortcutPath, const std::string* arguments) {
  if (target.empty() || shortcutPath.empty() || shortcutPath.front() != '/' || shortcutPath.back() == '/') {
    return false;
  }
  std::string exec = ExecWord(target);
  if (arguments != nullptr) {
    for (const std::string& word : SplitCommandLine(*arguments)) {
      exec += ' ';
      exec += ExecWord(word);
    }
  }
  std::string name = BaseName(shortcutPath);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  if (name.empty()) name = BaseName(target);

  const std::string entry =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Version=1.0\n"
      "Name=" +
      EscapeValue(name) +
      "\n"
      "Exec=" +
      EscapeValue(exec) +
      "\n"
      "Terminal=false\n"
      "X-GNOME-Autostart-enabled=true\n";
  if (!MakeFolders(ParentOf(shortcutPath), 0700)) return false;
  return ReplaceFile(shortcutPath, 0644, [&entry](int fd) { return platform::WriteAll(fd, entry); }) == 0;
}

std::string KeepAside(const std::string& path) {
  for (int n = 1; n < 10000; ++n) {
    const std::string aside = path + ".damaged-" + std::to_string(n);
    if (Exists(aside)) continue;
    if (errno != ENOENT || ::rename(path.c_str(), aside.c_str()) != 0) return {};
    // A journal left beside the old file would be rolled back into the new one.
    const std::string journal = path + "-journal";
    if (Exists(journal)) ::rename(journal.c_str(), (aside + "-journal").c_str());
    return aside;
  }
  return {};
}

int WritePrivateFile(const std::string& path, const std::string& data) {
  return ReplaceFile(path, 0600, [&data](int fd) { return platform::WriteAll(fd, data); });
}

int MakeFilePrivate(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return errno;
  if ((st.st_mode & 077) == 0) return 0;
  return ::chmod(path.c_str(), st.st_mode & 07700) == 0 ? 0 : errno;
}

bool OpenUrl(const std::string& url) {
  // Only web pages go to the user's browser: a file, script or any other
  // scheme handed over from a page could run or open anything.
  auto hasScheme = [&url](const std::string& scheme) {
    if (url.size() <= scheme.size() + 3) return false;
    for (std::size_t i = 0; i < scheme.size(); ++i) {
      if (std::tolower(static_cast<unsigned char>(url[i])) != scheme[i]) return false;
    }
    return url.compare(scheme.size(), 3, "://") == 0;
  };
  if (!hasScheme("http") && !hasScheme("https")) return false;
  // Control characters have no place in an address handed to another program.
  for (char c : url) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  }
  Starter starter;
  {
    std::lock_guard<std::mutex> lock(starterMutex);
    starter = CurrentStarter();
  }
  return starter({"xdg-open", url});
}

bool StartProgram(const std::vector<std::string>& argv, const std::string& folder) {
  if (argv.empty() || argv[0].empty()) return false;
  Starter starter;
  {
    std::lock_guard<std::mutex> lock(starterMutex);
    starter = CurrentStarter();
  }
  return starter(argv, folder);
}

Starter SetStarter(Starter starter) {
  std::lock_guard<std::mutex> lock(starterMutex);
  Starter previous = std::move(CurrentStarter());
  CurrentStarter() = starter ? std::move(starter) : Starter(StartDetached);
  return previous;
}

int FileOperation(UINT operation, const std::vector<std::string>& from, const std::vector<std::string>& to, UINT flags,
                  bool* anyAborted) {
  if (anyAborted != nullptr) *anyAborted = false;
  if (from.empty()) return EINVAL;

  if (operation == FO_DELETE) {
    for (const std::string& source : from) {
      struct stat st {};
      if (!Exists(source, &st)) return errno;
      if (S_ISDIR(st.st_mode)) return EISDIR;
      if (::unlink(source.c_str()) != 0) return errno;
    }
    return 0;
  }
  if (operation != FO_COPY && operation != FO_MOVE && operation != FO_RENAME) return EINVAL;
  if (to.empty()) return EINVAL;

  std::vector<std::string> targets;
  if ((flags & FOF_MULTIDESTFILES) != 0 && to.size() == from.size()) {
    targets = to;
  } else if (to.size() == 1) {
    struct stat st {};
    const bool isFolder = (Exists(to[0], &st) && S_ISDIR(st.st_mode)) || to[0].back() == '/' || from.size() > 1;
    if (isFolder) {
      if (!MakeFolders(to[0].back() == '/' && to[0].size() > 1 ? to[0].substr(0, to[0].size() - 1) : to[0], 0700)) {
        return errno != 0 ? errno : ENOTDIR;
      }
      for (const std::string& source : from) targets.push_back(WithSlash(to[0]) + BaseName(source));
    } else {
      targets = to;
    }
  } else {
    return EINVAL;
  }

  for (size_t i = 0; i < from.size(); ++i) {
    const std::string& source = from[i];
    std::string target = targets[i];
    struct stat sourceStat {};
    if (::stat(source.c_str(), &sourceStat) != 0) return errno;
    if (!S_ISREG(sourceStat.st_mode)) return EISDIR;
    struct stat targetStat {};
    if (::stat(target.c_str(), &targetStat) == 0 && S_ISDIR(targetStat.st_mode)) {
      target = WithSlash(target) + BaseName(source);
    }
    const std::string parent = ParentOf(target);
    if (!parent.empty() && !MakeFolders(parent, 0700)) return errno != 0 ? errno : ENOTDIR;
    if (::stat(target.c_str(), &targetStat) == 0) {
      if (targetStat.st_dev == sourceStat.st_dev && targetStat.st_ino == sourceStat.st_ino) return EINVAL;
      if ((flags & FOF_RENAMEONCOLLISION) != 0) {
        target = FreeNameBeside(target);
      } else if ((flags & FOF_NOCONFIRMATION) == 0) {
        if (anyAborted != nullptr) *anyAborted = true;
        continue;
      }
    }
    if (operation == FO_COPY) {
      if (const int error = CopyOneFile(source, target, sourceStat.st_mode); error != 0) return error;
      continue;
    }
    if (::rename(source.c_str(), target.c_str()) == 0) continue;
    if (errno != EXDEV) return errno;
    if (const int error = CopyOneFile(source, target, sourceStat.st_mode); error != 0) return error;
    if (::unlink(source.c_str()) != 0) return errno;
  }
  return 0;
}

}  // namespace platform::shell

BOOL CreateDirectoryA(const char* path, void* /*securityAttributes*/) {
  if (path == nullptr || *path == '\0') {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (::mkdir(path, 0700) == 0) return TRUE;
  switch (errno) {
    case EEXIST:
      SetLastError(ERROR_ALREADY_EXISTS);
      break;
    case ENOENT:
    case ENOTDIR:
      SetLastError(ERROR_PATH_NOT_FOUND);
      break;
    default:
      SetLastError(ERROR_ACCESS_DENIED);
      break;
  }
  return FALSE;
}

int _access(const char* path, int mode) {
  if (path == nullptr || (mode & ~6) != 0) {
    errno = EINVAL;
    return -1;
  }
  return ::access(path, mode) == 0 ? 0 : -1;
}

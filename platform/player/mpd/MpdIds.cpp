#include "platform/player/mpd/MpdIds.h"
#include "platform/kernel/UniqueFd.h"
#include "platform/kernel/WriteAll.h"
#include "platform/shell/Shell.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>

namespace platform::player {

namespace {

// Keys are paths and names: tabs, line feeds and backslashes are escaped.
std::string Escape(const std::string& key) {
  std::string out;
  out.reserve(key.size());
  for (char c : key) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\t')
      out += "\\t";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

std::string Unescape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char next = text[++i];
    out += next == 't' ? '\t' : next == 'n' ? '\n' : next;
  }
  return out;
}

// An exclusive or shared lock on the open file, given up with it.
class FileLock {
 public:
  FileLock(const std::string& path, bool exclusive) {
    fd_.Reset(::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
    if (!fd_.IsDefined()) return;
    int done;
    while ((done = ::flock(fd_.Get(), exclusive ? LOCK_EX : LOCK_SH)) != 0 && errno == EINTR) {}
    if (done != 0) fd_.Reset();
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  int Fd() const { return fd_.Get(); }

 private:
  platform::UniqueFd fd_;
};

}  // namespace

MpdIds::MpdIds(std::string file) : file_(std::move(file)) {}

std::shared_ptr<MpdIds> MpdIds::ForUser() {
  const std::string file = platform::shell::DataFolder() + "mpd-ids";
  // One map per file: tests move the data folder between cases.
  static std::mutex mutex;
  static std::map<std::string, std::shared_ptr<MpdIds>> maps;
  std::lock_guard lock(mutex);
  auto& map = maps[file];
  if (!map) map = std::make_shared<MpdIds>(file);
  return map;
}

bool MpdIds::CatchUp(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  if (st.st_size < readUpTo_) {
    // Replaced by someone: read it afresh, keeping the ids already given out.
    readUpTo_ = 0;
    partial_.clear();
  }
  if (st.st_size == readUpTo_) return true;
  std::string text(static_cast<std::size_t>(st.st_size - readUpTo_), '\0');
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::pread(fd, text.data() + done, text.size() - done, readUpTo_ + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  readUpTo_ = st.st_size;
  text = partial_ + text;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = text.substr(start, end - start);
    // "t<TAB>id<TAB>key"; a damaged line is passed over.
    if (line.size() < 4 || line[1] != '\t') continue;
    const std::size_t tab = line.find('\t', 2);
    if (tab == std::string::npos) continue;
    char* stop = nullptr;
    const long id = std::strtol(line.c_str() + 2, &stop, 10);
    if (stop != line.c_str() + tab || id <= 0) continue;
    if (line[0] != static_cast<char>(Kind::Track) && line[0] != static_cast<char>(Kind::Playlist) &&
        line[0] != static_cast<char>(Kind::Stamp))
      continue;
    Table& table = TableOf(static_cast<Kind>(line[0]));
    // A later line binds anew (a renamed playlist).
    const std::string key = Unescape(line.substr(tab + 1));
    table.ids[key] = id;
    table.keys[id] = key;
    table.last = std::max(table.last, id);
  }
  partial_ = text.substr(start);
  return true;
}

std::vector<long> MpdIds::IdsOf(Kind kind, const std::vector<std::string>& keys) {
  std::vector<long> ids(keys.size(), 0);
  std::lock_guard lock(mutex_);
  Table& table = TableOf(kind);
  bool missing = false;
  for (std::size_t i = 0; i < keys.size() && !missing; ++i) missing = !table.ids.count(keys[i]);
  if (missing) {
    FileLock file(file_, true);
    if (file.Fd() < 0 || !CatchUp(file.Fd())) return ids;
    if (table.last == 0 && kind == Kind::Playlist) table.last = kLibraryPlaylistId;
    std::string lines;
    for (const std::string& key : keys) {
      if (table.ids.count(key)) continue;
      const long id = ++table.last;
      table.ids.emplace(key, id);
      table.keys.emplace(id, key);
      lines += static_cast<char>(kind);
      lines += '\t' + std::to_string(id) + '\t' + Escape(key) + '\n';
    }
    if (!WriteAll(file.Fd(), lines)) {
      // Not written: the ids were never given, take them back.
      partial_.clear();
      readUpTo_ = 0;
      tracks_ = {};
      playlists_ = {};
      stamps_ = {};
      return ids;
    }
    struct stat st {};
    if (::fstat(file.Fd(), &st) == 0 && partial_.empty()) readUpTo_ = st.st_size;
  }
  for (std::size_t i = 0; i < keys.size(); ++i) {
    auto it = table.ids.find(keys[i]);
    if (it != table.ids.end()) ids[i] = it->second;
  }
  return ids;
}

std::vector<std::pair<long, std::string>> MpdIds::All(Kind kind) {
  std::lock_guard lock(mutex_);
  FileLock file(file_, false);
  if (file.Fd() < 0 || !CatchUp(file.Fd())) return {};
  const Table& table = TableOf(kind);
  return {table.keys.begin(), table.keys.end()};
}

long MpdIds::Find(Kind kind, const std::string& key) {
  std::lock_guard lock(mutex_);
  FileLock file(file_, false);
  if (file.Fd() < 0 || !CatchUp(file.Fd())) return 0;
  const Table& table = TableOf(kind);
  auto it = table.ids.find(key);
  return it == table.ids.end() ? 0 : it->second;
}

long MpdIds::Bind(Kind kind, const std::string& key, long id) {
  std::lock_guard lock(mutex_);
  FileLock file(file_, true);
  if (file.Fd() < 0 || !CatchUp(file.Fd())) return 0;
  Table& table = TableOf(kind);
  if (table.last == 0 && kind == Kind::Playlist) table.last = kLibraryPlaylistId;
  if (id == 0) id = ++table.last;
  const std::string line =
      std::string(1, static_cast<char>(kind)) + '\t' + std::to_string(id) + '\t' + Escape(key) + '\n';
  if (!WriteAll(file.Fd(), line)) return 0;
  table.ids[key] = id;
  table.keys[id] = key;
  table.last = std::max(table.last, id);
  struct stat st {};
  if (::fstat(file.Fd(), &st) == 0 && partial_.empty()) readUpTo_ = st.st_size;
  return id;
}

std::optional<std::string> MpdIds::KeyOf(Kind kind, long id) {
  std::lock_guard lock(mutex_);
  Table& table = TableOf(kind);
  // Read again: another process may have given the id a new key.
  FileLock file(file_, false);
  if (file.Fd() < 0 || !CatchUp(file.Fd())) return std::nullopt;
  auto it = table.keys.find(id);
  if (it == table.keys.end()) return std::nullopt;
  return it->second;
}

}  // namespace platform::player

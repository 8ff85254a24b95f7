// Stable ids for what MPD names only by path: a song file (by its location)
// and a stored playlist (by its name). MPD's own song ids belong to its queue
// and change; music.db keeps a track's id across restarts and rescans, so the
// ids live in a small file of their own in the user's data folder. An id,
// once given, stays with its key and is never given to another.
//
// The file only grows (one line per key) and is shared by every process of
// the user: each one reads the lines the others appended, and a new id is
// taken under an exclusive lock on the file.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform::player {

class MpdIds {
 public:
  // A stamp is a stored playlist's id with its modification time ("ID TIME"):
  // a playlist renamed outside the program keeps its time.
  enum class Kind : char { Track = 't', Playlist = 'p', Stamp = 's' };

  // The map kept in `file`; nothing is read until it is used.
  explicit MpdIds(std::string file);

  // The map of the user's data folder ($XDG_DATA_HOME/Zorva/mpd-ids, default
  // ~/.local/share/Zorva/mpd-ids), shared by the whole process.
  static std::shared_ptr<MpdIds> ForUser();

  // The ids of `keys`, in order, giving new ones to keys that have none;
  // 0 for every key when the file cannot be read or written.
  std::vector<long> IdsOf(Kind kind, const std::vector<std::string>& keys);
  long IdOf(Kind kind, const std::string& key) { return IdsOf(kind, {key}).front(); }
  // The key that holds `id` (the last one given it), if any.
  std::optional<std::string> KeyOf(Kind kind, long id);
  // Every id given, with its key.
  std::vector<std::pair<long, std::string>> All(Kind kind);
  // The id of `key` without giving one; 0 when it has none.
  long Find(Kind kind, const std::string& key);
  // Gives `key` the id `id`, or a new id when `id` is 0; the id it had goes
  // on belonging to nobody else. The id given; 0 when it cannot be written.
  long Bind(Kind kind, const std::string& key, long id);
  // Playlist ids start above this one, which is the library playlist's.
  static constexpr long kLibraryPlaylistId = 1;

 private:
  struct Table {
    std::unordered_map<std::string, long> ids;
    std::unordered_map<long, std::string> keys;
    long last = 0;
  };
  // Reads what other processes appended since the last read; the caller holds
  // the file lock (fd) and mutex_.
  bool CatchUp(int fd);
  Table& TableOf(Kind kind) { return kind == Kind::Track ? tracks_ : kind == Kind::Playlist ? playlists_ : stamps_; }

  std::string file_;
  std::mutex mutex_;
  long long readUpTo_ = 0;
  std::string partial_;
  Table tracks_;
  Table playlists_;
  Table stamps_;
};

}  // namespace platform::player

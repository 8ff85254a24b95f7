// The session of one application object on MPD: its command connection,
// the library and playlist entries it keeps, and the events its idle
// connection hears (the bodies in MpdSession.cpp, MpdLibraryRead.cpp and
// MpdEvents.cpp).
#pragma once

#include <mpd/client.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/player/ITunes.h"
#include "platform/player/mpd/MpdClient.h"

namespace platform::player::mpd {

struct Library {
  std::vector<Song> songs;
  std::unordered_map<std::string, std::size_t> byUri;
  std::unordered_map<long, std::size_t> byId;
  long updated = -1;  // MPD's db_update
};

// How a playlist entry is known across edits made here: MPD has only positions.
struct Entries {
  std::vector<std::string> uris;
  std::vector<long> ids;
  std::vector<Song> songs;  // when listed
  bool listed = false;      // false after an edit whose songs are not read yet
};

// Where a track object sits: the library playlist or a stored playlist, its
// 1-based place there and, in a stored playlist, its entry.
struct Place {
  long playlistId = kLibraryPlaylistId;
  std::string playlist;  // MPD's name; empty for the library
  long index = 0;
  long entry = 0;
};

// The state the events compare: playing or not, MPD's queue song id, and the
// song (kept as data: an object would keep its session alive).
struct Seen {
  bool playing = false;
  bool stopped = false;  // not paused
  bool failed = false;   // with an error of the player's
  // Where the song was, how long it is, and when that was read.
  unsigned elapsedMs = 0;
  unsigned lengthMs = 0;
  std::chrono::steady_clock::time_point at;
  unsigned songId = 0;
  std::optional<std::pair<Song, Place>> song;
};

// Wakes the idle thread when its application object goes.
struct WakePipe;

// The sinks advised on one application object, with the thread each advised from.
struct Sinks {
  std::mutex mutex;
  std::map<DWORD, std::pair<IiTunesEvents*, DWORD>> table;
  DWORD next = 1;
};

class Session : public std::enable_shared_from_this<Session> {
 public:
  explicit Session(Connection connection) : connection_(std::move(connection)), ids_(MpdIds::ForUser()) {}
  ~Session() { StopIdle(); }

  bool Init();

  const std::string& MusicFolder() const { return musicFolder_; }

  // MPD's id of the song held next behind the file playing (0: none).
  unsigned Held() const { return held_; }
  void Hold(unsigned id) { held_ = id; }
  unsigned TakeHeld() { return held_.exchange(0); }
  MpdIds& Ids() { return *ids_; }

  // Runs `call` on the command connection: S_OK when it says so, else the
  // failure as the automation layer names it.
  template <class F>
  HRESULT Run(F&& call) {
    std::lock_guard lock(mutex_);
    return RunLocked(call);
  }

  // A transport command: the play and stop events it causes, as the player
  // sends them for a command, go out here (a stop for what played, a play
  // for what plays then), and the idle connection sees no change afterwards.
  template <class F>
  HRESULT Transport(F&& call) {
    std::lock_guard events(eventMutex_);
    Seen before;
    Seen after;
    HRESULT hr;
    {
      std::lock_guard lock(mutex_);
      if (HRESULT seen = CaptureLocked(connection_.get(), &before); FAILED(seen)) return seen;
    }
    // What happened since the last look (a track that ended) goes out first.
    Compare(seen_, before, false);
    {
      std::lock_guard lock(mutex_);
      hr = RunLocked(call);
      if (HRESULT seen = CaptureLocked(connection_.get(), &after); FAILED(seen)) return seen;
    }
    Compare(before, after, true);
    seen_ = after;
    return hr;
  }

  // A file MPD cannot decode (gone, or other bytes, since MPD read the
  // folder) stops the player at once with an error and no change of state
  // to tell: the owner hears it end, as a track that played, and the error
  // goes, so what comes next plays. True when `uri` (empty: the current
  // song, whatever it is) was such a file.
  bool PassOverUndecodable(const std::string& uri);

  HRESULT Status(std::function<void(const mpd_status*)> use);

  // The current song and where it sits; null when there is none.
  HRESULT CurrentTrack(std::shared_ptr<IITTrack>* track);

  // The library as MPD has it now (read again only when MPD's database changed).
  HRESULT GetLibrary(std::shared_ptr<const Library>* library);

  // One song by its path, with its id and rating: S_OK when the library has
  // it (its tags then the library's), else S_FALSE.
  HRESULT SongOf(const mpd_song* song, Song* out);

  // The stored playlists, by name. A name new here whose modification time
  // is that of a playlist whose name went is that playlist renamed: it keeps
  // its id, so its mix keeps its rows.
  HRESULT StoredPlaylists(std::vector<std::pair<long, std::string>>* playlists);

  // The songs that `send` lists (a stored playlist's, the queue's), read on a
  // connection of their own: a tag too long for libmpdclient's line ends
  // only that one, and they are then listed without tags on the command
  // connection (`untagged` says so).
  HRESULT ListSongs(const std::function<bool(mpd_connection*)>& send, std::vector<MpdSong>* songs,
                    bool* untagged = nullptr);
  // The library's tags of the songs it has.
  void TagsFromLibrary(std::vector<Song>* songs);

  // The songs of a stored playlist, with the entries known here.
  HRESULT PlaylistSongs(const std::string& name, std::vector<Song>* songs, std::vector<long>* entries);

  // The entries of `name` as they are after the edits made here, for
  // collections that show them live: `use` gets the songs and their entries.
  HRESULT LiveEntries(const std::string& name,
                      const std::function<void(const std::vector<Song>&, const std::vector<long>&)>& use);

  // After an edit made here: the entries of `name` as they now are.
  long Appended(const std::string& name, const std::string& uri);

  // After an edit made here: the playlist's new modification time is its
  // own, so a rename outside afterwards still finds it by that time.
  void Edited();

  // Deletes the entry (or, for an entry not known here, the first entry of
  // `uri` at or after `index`); ITUNES_E_OBJECTDELETED when it is gone.
  HRESULT DeleteEntry(const std::string& name, long entry, const std::string& uri, long index);

  // The path MPD knows a file by: relative to its music folder, else a local
  // file's URI (MPD plays those for local clients).
  std::string UriOf(const std::string& location) const;

  // --- events

  // The play position in seconds: MPD's, or, while MPD stays stopped on a
  // song stopped elsewhere before its end, the place it was stopped at (a
  // stop there is the user's, as a pause there is).
  HRESULT Position(long* seconds);

  HRESULT Advise(IiTunesEvents* sink, DWORD* cookie);
  HRESULT Unadvise(DWORD cookie);

 private:
  template <class F>
  HRESULT RunLocked(F&& call) {
    if (dead_) return RPC_E_DISCONNECTED;
    if (call(connection_.get()) && mpd_connection_get_error(connection_.get()) == MPD_ERROR_SUCCESS) return S_OK;
    return Failure(connection_.get());
  }

  // Names a failed call: a command MPD refused leaves the connection usable;
  // anything else (no answer in time, a lost connection) ends it.
  HRESULT Failure(mpd_connection* c);

  void FillIds(std::vector<Song>* songs);

  // The library, read on a connection of its own: a song whose answer line
  // outgrows libmpdclient's 4 KB buffer ends the connection it came on, so
  // that one is replaced and the song read again tag by tag.
  bool LoadLibrary(Library* library);

  static void AddSong(Library* library, Song song);

  // Every song, whatever its file's date (modified-since 0 leaves out those
  // before 1970), from `start` to before `end` in MPD's order.
  static bool SendWindow(mpd_connection* c, unsigned start, unsigned end);

  // One share; a line too long for libmpdclient narrows it down to its song.
  bool ReadShare(Connection& c, Library* library, unsigned start, unsigned end, unsigned* received);

  // The song at `position` without tags, then each tag on its own: a tag too
  // long to read is left empty.
  bool ReadAlone(Connection& c, Library* library, unsigned position, unsigned* received);

  Entries& Reconcile(const std::string& name, const std::vector<std::string>& uris);

 public:
  // Reads the player's state on `c` (the caller holds its lock).
  HRESULT CaptureLocked(mpd_connection* c, Seen* seen);

  std::shared_ptr<IITTrack> TrackOf(const Seen& seen);

 private:
  void Post(DISPID id, std::vector<EventArg> args);

  // The events between two looks at the player. A command always stops what
  // played and plays what plays afterwards, as the player does for commands.
  // Another song playing without a command from here is the end of the last
  // one, or someone else's choice at the player: that is followed, not
  // reported as a stop (which would have the program play its own pick).
  void Compare(const Seen& before, const Seen& after, bool command);

  // Whether a song seen playing has reached its end by now (within a margin
  // for MPD's buffers and the time the look took).
  static bool Ended(const Seen& seen);

  HRESULT StartIdle();

  void StopIdle();

  static void IdleLoop(const std::weak_ptr<Session>& weak, Connection c, const std::shared_ptr<WakePipe>& wake);

  bool LoadBaseline(mpd_connection* c);

  // The library with the time of MPD's database it was read from.
  bool LoadStamped(mpd_connection* c, Library* library);

  bool OnIdle(mpd_connection* c, unsigned changed);

  // The connection to MPD is gone: the player has quit.
  void OnLost();

  std::mutex mutex_;  // the command connection
  Connection connection_;
  std::atomic<bool> dead_ = false;
  std::atomic<unsigned> held_ = 0;
  std::string musicFolder_;
  std::shared_ptr<MpdIds> ids_;

  std::mutex libraryMutex_;
  std::shared_ptr<const Library> library_;

  std::mutex entriesMutex_;
  std::map<std::string, Entries> entries_;
  long nextEntry_ = 1;

  std::mutex eventMutex_;  // taken before mutex_
  Seen seen_;
  std::optional<unsigned> lastStopped_;  // MPD's queue song id of the last stop sent
  struct Kept {
    unsigned songId = 0;
    long seconds = 0;
  };
  std::mutex keptMutex_;
  std::optional<Kept> kept_;  // the place of the song stopped elsewhere
  std::shared_ptr<Sinks> sinks_ = std::make_shared<Sinks>();
  std::mutex idleMutex_;
  std::thread idle_;
  std::shared_ptr<WakePipe> wake_;
};

}  // namespace platform::player::mpd

#include "platform/player/mpd/MpdPlayer.h"

#include <mpd/client.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <sstream>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/kernel/Messages.h"
#include "platform/player/mpd/MpdIds.h"
#include "platform/player/mpd/MpdOwners.h"
#include "platform/kernel/UniqueFd.h"
#include "platform/shell/Shell.h"

namespace platform::player {

namespace {

constexpr long kSourceId = 1;
constexpr long kLibraryPlaylistId = MpdIds::kLibraryPlaylistId;
// Songs per listing: with the tags read here about 1 MB of MPD's answer.
constexpr unsigned kListingShare = 5000;
constexpr mpd_tag_type kTagsRead[] = {MPD_TAG_TITLE, MPD_TAG_ARTIST, MPD_TAG_ALBUM, MPD_TAG_GENRE};
// Without any event for this long the event connection asks whether MPD is
// still there (it then has kMpdAnswerTimeout to answer).
constexpr unsigned kIdleQuietSpell = 3000;  // ms
// A song this close to its end when another starts has ended (MPD's elapsed
// time runs ahead of what is heard by the output's buffer, about 2 s with
// PulseAudio).
constexpr long long kEndMargin = 4000;  // ms

// Waits up to kMpdAnswerTimeout for `fd` to have something to read; false
// when it has not, or when `wake` woke first.
bool Readable(int fd, int wake) {
  pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
  int ready;
  while ((ready = ::poll(fds, 2, static_cast<int>(kMpdAnswerTimeout))) < 0 && errno == EINTR) {
  }
  return ready > 0 && fds[1].revents == 0;
}

using Connection = MpdConnection;

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

// MPD sends only the tags read here, so a song's answer stays small and a
// share of a large library fits in MPD's output buffer. An MPD older than
// 0.21 sends every tag.
Connection OnlyTagsRead(Connection c) {
  if (!c || mpd_connection_get_error(c.get()) != MPD_ERROR_SUCCESS) return nullptr;
  if (mpd_connection_cmp_server_version(c.get(), 0, 21, 0) < 0) return c;
  static const mpd_tag_type kRead[] = {MPD_TAG_TITLE, MPD_TAG_ARTIST, MPD_TAG_ALBUM, MPD_TAG_GENRE};
  if (mpd_run_clear_tag_types(c.get()) && mpd_run_enable_tag_types(c.get(), kRead, std::size(kRead))) return c;
  if (mpd_connection_get_error(c.get()) == MPD_ERROR_SERVER && mpd_connection_clear_error(c.get())) return c;
  return nullptr;
}

// MPD_HOST/MPD_PORT as libmpdclient reads them, else its default places, else
// Zorva's own MPD; null when none answers in time.
Connection Connect() {
  // libmpdclient writes without MSG_NOSIGNAL: a write to an MPD that has gone
  // must give EPIPE (a disconnected player), not end the program.
  struct sigaction current {};
  if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) ::signal(SIGPIPE, SIG_IGN);
  Connection c(mpd_connection_new(nullptr, 0, kMpdAnswerTimeout));
  if (c && mpd_connection_get_error(c.get()) == MPD_ERROR_SUCCESS) return OnlyTagsRead(std::move(c));
  if (Set("MPD_HOST") || Set("MPD_PORT")) return nullptr;
  c.reset(mpd_connection_new((OwnMpdFolder() + "/socket").c_str(), 0, kMpdAnswerTimeout));
  return OnlyTagsRead(std::move(c));
}

// Tags are text for pages and the database: invalid UTF-8 becomes U+FFFD.
std::string ValidUtf8(const char* text) {
  if (!text) return {};
  std::string out;
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  while (*s) {
    const unsigned char c = *s;
    int length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    bool good = length > 0 && !(c == 0xC0 || c == 0xC1 || c > 0xF4);
    for (int i = 1; good && i < length; ++i) good = (s[i] & 0xC0) == 0x80;
    if (good && length == 3) good = !(c == 0xE0 && s[1] < 0xA0) && !(c == 0xED && s[1] > 0x9F);
    if (good && length == 4) good = !(c == 0xF0 && s[1] < 0x90) && !(c == 0xF4 && s[1] > 0x8F);
    if (!good) {
      out += "\xEF\xBF\xBD";
      ++s;
      continue;
    }
    out.append(reinterpret_cast<const char*>(s), static_cast<std::size_t>(length));
    s += length;
  }
  return out;
}

struct Song {
  std::string uri;
  std::string location;
  std::string name;
  std::string artist;
  std::string album;
  std::string genre;
  long seconds = 0;
  long rating = 0;
  long id = 0;
};

std::string Tag(const mpd_song* song, mpd_tag_type type) { return ValidUtf8(mpd_song_get_tag(song, type, 0)); }

// The song's data; its id is given by the caller.
Song MakeSong(const mpd_song* song, const std::string& musicFolder) {
  Song s;
  s.uri = mpd_song_get_uri(song);
  s.location = s.uri.find("://") != std::string::npos ? s.uri.substr(s.uri.find("://") + 3)
                                                      : musicFolder + "/" + s.uri;
  s.name = Tag(song, MPD_TAG_TITLE);
  if (s.name.empty()) {
    // Untagged: the file's name, as a player shows it.
    std::string file = s.uri.substr(s.uri.find_last_of('/') + 1);
    s.name = ValidUtf8(file.substr(0, file.find_last_of('.')).c_str());
  }
  s.artist = Tag(song, MPD_TAG_ARTIST);
  s.album = Tag(song, MPD_TAG_ALBUM);
  s.genre = Tag(song, MPD_TAG_GENRE);
  s.seconds = static_cast<long>(mpd_song_get_duration_ms(song) / 1000);
  return s;
}

// The tags of a song as the library shows them: a song whose tags changed is a
// changed song.
bool SameTags(const Song& a, const Song& b) {
  return a.name == b.name && a.artist == b.artist && a.album == b.album && a.genre == b.genre &&
         a.seconds == b.seconds;
}

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

// What the queue was loaded from, kept beside the ids so every program of the
// user sees it: MPD's queue version then, the stored playlist, and which
// queue song (by MPD's song id, which other clients' edits leave alone) came
// from which entry of it.
struct QueueOrigin {
  unsigned version = 0;
  bool shuffled = false;
  std::string playlist;
  std::vector<std::pair<unsigned, long>> entries;  // song id, 1-based entry

  long EntryOf(unsigned songId) const {
    for (const auto& [id, entry] : entries)
      if (id == songId) return entry;
    return 0;
  }
  std::optional<unsigned> SongIdOf(long entry) const {
    for (const auto& [id, at] : entries)
      if (at == entry) return id;
    return std::nullopt;
  }
};

// The user's data folder, without its final "/".
std::string DataFolder() {
  const std::string folder = platform::shell::DataFolder();
  return folder.substr(0, folder.size() - 1);
}

QueueOrigin ReadOrigin() {
  QueueOrigin origin;
  std::ifstream file(DataFolder() + "/mpd-queue");
  std::string line;
  if (!std::getline(file, line)) return origin;
  unsigned version = 0;
  int shuffled = 0;
  int used = 0;
  if (std::sscanf(line.c_str(), "%u %d %n", &version, &shuffled, &used) < 2) return origin;
  origin.version = version;
  origin.shuffled = shuffled != 0;
  origin.playlist = line.substr(static_cast<std::size_t>(used));
  if (std::getline(file, line)) {
    std::istringstream pairs(line);
    unsigned id = 0;
    char colon = 0;
    long entry = 0;
    while (pairs >> id >> colon >> entry && colon == ':') origin.entries.emplace_back(id, entry);
  }
  return origin;
}

void WriteOrigin(const QueueOrigin& origin) {
  const std::string path = DataFolder() + "/mpd-queue";
  {
    std::ofstream file(path + ".new", std::ios::trunc);
    file << origin.version << ' ' << (origin.shuffled ? 1 : 0) << ' ' << origin.playlist << '\n';
    for (const auto& [id, entry] : origin.entries) file << id << ':' << entry << ' ';
    file << '\n';
    if (!file) return;
  }
  std::rename((path + ".new").c_str(), path.c_str());
}

// Clears the queue and loads the stored playlist into it. MPD's load leaves
// out the entries whose song is gone, so `origin` gets which queue song came
// from which entry.
bool LoadQueue(mpd_connection* c, const std::string& playlist, QueueOrigin* origin) {
  origin->playlist = playlist;
  origin->entries.clear();
  if (!mpd_run_clear(c) || !mpd_run_load(c, playlist.c_str())) return false;
  std::vector<std::string> uris;
  if (!mpd_send_list_playlist(c, playlist.c_str())) return false;
  while (mpd_pair* pair = mpd_recv_pair_named(c, "file")) {
    uris.emplace_back(pair->value);
    mpd_return_pair(c, pair);
  }
  if (!mpd_response_finish(c)) return false;
  // The queue by path and id alone (no tag to outgrow a line), then the tags
  // read again.
  const bool tagChoice = mpd_connection_cmp_server_version(c, 0, 21, 0) >= 0;
  if (tagChoice && !mpd_run_clear_tag_types(c)) return false;
  std::vector<std::pair<std::string, unsigned>> queue;
  if (!mpd_send_list_queue_meta(c)) return false;
  while (MpdSong songOwner{mpd_recv_song(c)}) {
    mpd_song* song = songOwner.get();
    queue.emplace_back(mpd_song_get_uri(song), mpd_song_get_id(song));
    songOwner.reset();
  }
  if (!mpd_response_finish(c)) return false;
  if (tagChoice && !mpd_run_enable_tag_types(c, kTagsRead, std::size(kTagsRead))) return false;
  std::size_t q = 0;
  for (std::size_t i = 0; i < uris.size() && q < queue.size(); ++i)
    if (queue[q].first == uris[i]) origin->entries.emplace_back(queue[q++].second, static_cast<long>(i) + 1);
  return true;
}

// Where a track object sits: the library playlist or a stored playlist, its
// 1-based place there and, in a stored playlist, its entry.
struct Place {
  long playlistId = kLibraryPlaylistId;
  std::string playlist;  // MPD's name; empty for the library
  long index = 0;
  long entry = 0;
};

class Session;
std::shared_ptr<IITTrack> MakeTrack(const std::shared_ptr<Session>& session, Song song, Place place);
std::shared_ptr<IITPlaylist> MakePlaylist(const std::shared_ptr<Session>& session, long id, const std::string& name);

// The state the events compare: playing or not, MPD's queue song id, and the
// song (kept as data: an object would keep its session alive).
struct Seen {
  bool playing = false;
  // Where the song was, how long it is, and when that was read.
  unsigned elapsedMs = 0;
  unsigned lengthMs = 0;
  std::chrono::steady_clock::time_point at;
  unsigned songId = 0;
  std::optional<std::pair<Song, Place>> song;
};

// Wakes the idle thread when its application object goes.
struct WakePipe {
  platform::UniqueFd fds[2];
  WakePipe() {
    int ends[2];
    if (::pipe(ends) == 0) {
      fds[0].Reset(ends[0]);
      fds[1].Reset(ends[1]);
    }
  }
  ~WakePipe() {
    for (platform::UniqueFd& fd : fds) fd.Reset();
  }
  WakePipe(const WakePipe&) = delete;
  WakePipe& operator=(const WakePipe&) = delete;
};

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

  bool Init() {
    std::lock_guard lock(mutex_);
    // Over a local socket MPD tells its music folder; over the network the
    // user's own is the best guess.
    if (mpd_send_command(connection_.get(), "config", nullptr)) {
      if (mpd_pair* pair = mpd_recv_pair_named(connection_.get(), "music_directory")) {
        musicFolder_ = pair->value;
        mpd_return_pair(connection_.get(), pair);
      }
      mpd_response_finish(connection_.get());
    }
    if (mpd_connection_get_error(connection_.get()) != MPD_ERROR_SUCCESS &&
        !mpd_connection_clear_error(connection_.get()))
      return false;
    if (musicFolder_.empty()) {
      const char* xdg = std::getenv("XDG_MUSIC_DIR");
      const char* home = std::getenv("HOME");
      musicFolder_ = xdg && *xdg ? xdg : std::string(home ? home : "") + "/Music";
    }
    while (musicFolder_.size() > 1 && musicFolder_.back() == '/') musicFolder_.pop_back();
    return true;
  }

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
  bool PassOverUndecodable(const std::string& uri) {
    std::lock_guard events(eventMutex_);
    std::lock_guard lock(mutex_);
    if (dead_) return false;
    mpd_connection* c = connection_.get();
    MpdStatus statusOwner(mpd_run_status(c));
    mpd_status* status = statusOwner.get();
    if (!status) {
      Failure(c);
      return false;
    }
    // Only the song's own failure: one of the output stops every song alike.
    const char* error = mpd_status_get_error(status);
    const bool failed = mpd_status_get_state(status) == MPD_STATE_STOP && error != nullptr &&
                        std::strncmp(error, "Failed to decode", 16) == 0;
    statusOwner.reset();
    if (!failed) return false;
    Seen now;
    if (FAILED(CaptureLocked(c, &now)) || !now.song || (!uri.empty() && now.song->first.uri != uri)) return false;
    if (!mpd_run_clearerror(c)) {
      Failure(c);
      return false;
    }
    // Seen playing for a moment, its stop has gone out already.
    if (lastStopped_ != now.songId) {
      Post(ITEventPlayerStop, {std::static_pointer_cast<IITObject>(TrackOf(now))});
      lastStopped_ = now.songId;
    }
    seen_ = now;
    return true;
  }

  HRESULT Status(std::function<void(const mpd_status*)> use) {
    return Run([&](mpd_connection* c) {
      MpdStatus statusOwner(mpd_run_status(c));
      mpd_status* status = statusOwner.get();
      if (!status) return false;
      use(status);
      statusOwner.reset();
      return true;
    });
  }

  // The current song and where it sits; null when there is none.
  HRESULT CurrentTrack(std::shared_ptr<IITTrack>* track) {
    Seen seen;
    std::lock_guard lock(mutex_);
    HRESULT hr = CaptureLocked(connection_.get(), &seen);
    *track = TrackOf(seen);
    return hr;
  }

  // The library as MPD has it now (read again only when MPD's database changed).
  HRESULT GetLibrary(std::shared_ptr<const Library>* library) {
    std::lock_guard lock(mutex_);
    long updated = -1;
    bool rescanned = false;
    HRESULT hr = RunLocked([&](mpd_connection* c) {
      // db_update has whole seconds: a rescan that ended in the second of the
      // last read is told by the database flag MPD keeps for this connection.
      if (!mpd_send_idle_mask(c, MPD_IDLE_DATABASE)) return false;
      const unsigned flags = mpd_run_noidle(c);
      if (mpd_connection_get_error(c) != MPD_ERROR_SUCCESS) return false;
      rescanned = (flags & MPD_IDLE_DATABASE) != 0;
      MpdStats statsOwner(mpd_run_stats(c));
      mpd_stats* stats = statsOwner.get();
      if (!stats) return false;
      updated = static_cast<long>(mpd_stats_get_db_update_time(stats));
      statsOwner.reset();
      return true;
    });
    if (FAILED(hr)) return hr;
    {
      std::lock_guard cache(libraryMutex_);
      if (library_ && library_->updated == updated && !rescanned) {
        *library = library_;
        return S_OK;
      }
    }
    auto loaded = std::make_shared<Library>();
    loaded->updated = updated;
    hr = RunLocked([&](mpd_connection*) { return LoadLibrary(loaded.get()); });
    if (FAILED(hr)) return hr;
    std::lock_guard cache(libraryMutex_);
    library_ = loaded;
    *library = loaded;
    return S_OK;
  }

  // One song by its path, with its id and rating.
  HRESULT SongOf(const mpd_song* song, Song* out) {
    *out = MakeSong(song, musicFolder_);
    {
      std::lock_guard cache(libraryMutex_);
      if (library_) {
        if (auto it = library_->byUri.find(out->uri); it != library_->byUri.end()) {
          *out = library_->songs[it->second];
          return S_OK;
        }
      }
    }
    out->id = ids_->IdOf(MpdIds::Kind::Track, out->location);
    return S_OK;
  }

  // The stored playlists, by name. A name new here whose modification time
  // is that of a playlist whose name went is that playlist renamed: it keeps
  // its id, so its mix keeps its rows.
  HRESULT StoredPlaylists(std::vector<std::pair<long, std::string>>* playlists) {
    std::vector<std::pair<std::string, long>> listed;  // name, modification time
    HRESULT hr = Run([&](mpd_connection* c) {
      if (!mpd_send_list_playlists(c)) return false;
      while (MpdPlaylist pOwner{mpd_recv_playlist(c)}) {
        mpd_playlist* p = pOwner.get();
        listed.emplace_back(mpd_playlist_get_path(p), static_cast<long>(mpd_playlist_get_last_modified(p)));
        pOwner.reset();
      }
      return mpd_response_finish(c);
    });
    if (FAILED(hr)) return hr;
    std::sort(listed.begin(), listed.end());
    std::vector<long> ids;
    for (const auto& [name, time] : listed) ids.push_back(ids_->Find(MpdIds::Kind::Playlist, name));
    auto stamp = [](long id, long time) { return std::to_string(id) + " " + std::to_string(time); };
    std::vector<std::pair<long, std::string>> gone;  // known playlists whose name is not listed
    for (auto& known : ids_->All(MpdIds::Kind::Playlist)) {
      const bool listedName = std::any_of(listed.begin(), listed.end(), [&](const auto& l) { return l.first == known.second; });
      if (!listedName) gone.push_back(std::move(known));
    }
    for (std::size_t i = 0; i < listed.size(); ++i) {
      const auto& [name, time] = listed[i];
      long id = ids[i];
      // The id of an old name that now belongs to a renamed playlist.
      const bool taken = id != 0 && ids_->KeyOf(MpdIds::Kind::Playlist, id) != name;
      if (id == 0 || taken) {
        long renamed = 0;
        int found = 0;
        for (const auto& [goneId, goneName] : gone) {
          if (ids_->Find(MpdIds::Kind::Stamp, stamp(goneId, time)) != goneId) continue;
          renamed = goneId;
          ++found;
        }
        id = ids_->Bind(MpdIds::Kind::Playlist, name, found == 1 && !taken ? renamed : 0);
        ids[i] = id;
        gone.erase(std::remove_if(gone.begin(), gone.end(), [&](const auto& g) { return g.first == id; }), gone.end());
      }
      if (id != 0 && ids_->Find(MpdIds::Kind::Stamp, stamp(id, time)) != id)
        ids_->Bind(MpdIds::Kind::Stamp, stamp(id, time), id);
    }
    playlists->clear();
    for (std::size_t i = 0; i < listed.size(); ++i)
      if (ids[i] != 0) playlists->emplace_back(ids[i], listed[i].first);
    return S_OK;
  }

  // The songs of a stored playlist, with the entries known here.
  HRESULT PlaylistSongs(const std::string& name, std::vector<Song>* songs, std::vector<long>* entries) {
    songs->clear();
    HRESULT hr = Run([&](mpd_connection* c) {
      if (!mpd_send_list_playlist_meta(c, name.c_str())) return false;
      while (MpdSong songOwner{mpd_recv_song(c)}) {
        mpd_song* song = songOwner.get();
        songs->push_back(MakeSong(song, musicFolder_));
        songOwner.reset();
      }
      return mpd_response_finish(c);
    });
    if (FAILED(hr)) return hr;
    FillIds(songs);
    std::vector<std::string> uris;
    for (const Song& s : *songs) uris.push_back(s.uri);
    std::lock_guard lock(entriesMutex_);
    Entries& known = Reconcile(name, uris);
    *entries = known.ids;
    known.songs = *songs;
    known.listed = true;
    return S_OK;
  }

  // The entries of `name` as they are after the edits made here, for
  // collections that show them live: `use` gets the songs and their entries.
  HRESULT LiveEntries(const std::string& name,
                      const std::function<void(const std::vector<Song>&, const std::vector<long>&)>& use) {
    for (int attempt = 0;; ++attempt) {
      {
        std::lock_guard lock(entriesMutex_);
        auto it = entries_.find(name);
        if (it != entries_.end() && (it->second.listed || attempt > 0)) {
          if (it->second.songs.size() != it->second.ids.size()) break;
          use(it->second.songs, it->second.ids);
          return S_OK;
        }
      }
      if (attempt > 0) break;
      std::vector<Song> songs;
      std::vector<long> entries;
      if (HRESULT hr = PlaylistSongs(name, &songs, &entries); FAILED(hr)) return hr;
    }
    use({}, {});
    return S_OK;
  }

  // After an edit made here: the entries of `name` as they now are.
  long Appended(const std::string& name, const std::string& uri) {
    std::lock_guard lock(entriesMutex_);
    Entries& known = entries_[name];
    known.uris.push_back(uri);
    known.ids.push_back(nextEntry_++);
    known.listed = false;
    return known.ids.back();
  }

  // After an edit made here: the playlist's new modification time is its
  // own, so a rename outside afterwards still finds it by that time.
  void Edited() {
    std::vector<std::pair<long, std::string>> playlists;
    StoredPlaylists(&playlists);
  }

  // Deletes the entry (or, for an entry not known here, the first entry of
  // `uri` at or after `index`); ITUNES_E_OBJECTDELETED when it is gone.
  HRESULT DeleteEntry(const std::string& name, long entry, const std::string& uri, long index) {
    std::vector<std::string> uris;
    HRESULT hr = Run([&](mpd_connection* c) {
      if (!mpd_send_list_playlist(c, name.c_str())) return false;
      while (mpd_pair* pair = mpd_recv_pair_named(c, "file")) {
        uris.emplace_back(pair->value);
        mpd_return_pair(c, pair);
      }
      return mpd_response_finish(c);
    });
    if (FAILED(hr)) return hr;
    std::lock_guard lock(entriesMutex_);
    Entries& known = Reconcile(name, uris);
    long position = -1;
    if (entry != 0) {
      auto it = std::find(known.ids.begin(), known.ids.end(), entry);
      if (it != known.ids.end()) position = it - known.ids.begin();
    }
    if (position < 0) {
      for (long i = std::max(0L, index - 1); i < static_cast<long>(uris.size()) && position < 0; ++i)
        if (uris[static_cast<std::size_t>(i)] == uri) position = i;
      for (long i = 0; i < static_cast<long>(uris.size()) && position < 0; ++i)
        if (uris[static_cast<std::size_t>(i)] == uri) position = i;
    }
    if (position < 0 || known.uris[static_cast<std::size_t>(position)] != uri) return ITUNES_E_OBJECTDELETED;
    hr = Run([&](mpd_connection* c) {
      return mpd_run_playlist_delete(c, name.c_str(), static_cast<unsigned>(position));
    });
    if (SUCCEEDED(hr)) {
      if (known.songs.size() == known.uris.size()) known.songs.erase(known.songs.begin() + position);
      known.uris.erase(known.uris.begin() + position);
      known.ids.erase(known.ids.begin() + position);
    }
    return hr;
  }

  // The path MPD knows a file by: relative to its music folder, else a local
  // file's URI (MPD plays those for local clients).
  std::string UriOf(const std::string& location) const {
    const std::string prefix = musicFolder_ + "/";
    if (location.rfind(prefix, 0) == 0) return location.substr(prefix.size());
    if (!location.empty() && location[0] == '/') return "file://" + location;
    return location;
  }

  // --- events

  HRESULT Advise(IiTunesEvents* sink, DWORD* cookie) {
    if (HRESULT hr = StartIdle(); FAILED(hr)) return hr;
    platform::EnsureMessageQueue();
    std::lock_guard lock(sinks_->mutex);
    *cookie = sinks_->next++;
    sinks_->table[*cookie] = {sink, GetCurrentThreadId()};
    return S_OK;
  }
  HRESULT Unadvise(DWORD cookie) {
    std::lock_guard lock(sinks_->mutex);
    return sinks_->table.erase(cookie) ? S_OK : CONNECT_E_NOCONNECTION;
  }

 private:
  template <class F>
  HRESULT RunLocked(F&& call) {
    if (dead_) return RPC_E_DISCONNECTED;
    if (call(connection_.get()) && mpd_connection_get_error(connection_.get()) == MPD_ERROR_SUCCESS) return S_OK;
    return Failure(connection_.get());
  }

  // Names a failed call: a command MPD refused leaves the connection usable;
  // anything else (no answer in time, a lost connection) ends it.
  HRESULT Failure(mpd_connection* c) {
    const mpd_error error = mpd_connection_get_error(c);
    const char* message = mpd_connection_get_error_message(c);
    std::fprintf(stderr, "mpd: %s\n", message ? message : "the call failed");
    if (error == MPD_ERROR_SERVER) {
      const mpd_server_error code = mpd_connection_get_server_error(c);
      if (mpd_connection_clear_error(c)) {
        if (code == MPD_SERVER_ERROR_NO_EXIST) return ITUNES_E_OBJECTDELETED;
        if (code == MPD_SERVER_ERROR_ARG) return E_INVALIDARG;
        return E_FAIL;
      }
    } else if (error == MPD_ERROR_ARGUMENT && mpd_connection_clear_error(c)) {
      return E_INVALIDARG;
    } else if (error == MPD_ERROR_SUCCESS) {
      return E_FAIL;
    }
    if (c == connection_.get()) dead_ = true;
    return RPC_E_DISCONNECTED;
  }

  void FillIds(std::vector<Song>* songs) {
    std::vector<std::string> locations;
    locations.reserve(songs->size());
    for (const Song& s : *songs) locations.push_back(s.location);
    const std::vector<long> ids = ids_->IdsOf(MpdIds::Kind::Track, locations);
    for (std::size_t i = 0; i < songs->size(); ++i) (*songs)[i].id = ids[i];
    std::lock_guard cache(libraryMutex_);
    if (!library_) return;
    for (Song& s : *songs)
      if (auto it = library_->byUri.find(s.uri); it != library_->byUri.end())
        s.rating = library_->songs[it->second].rating;
  }

  // The library, read on a connection of its own: a song whose answer line
  // outgrows libmpdclient's 4 KB buffer ends the connection it came on, so
  // that one is replaced and the song read again tag by tag.
  bool LoadLibrary(Library* library) {
    Connection listing = Connect();
    if (!listing) return false;
    mpd_connection* c = listing.get();
    // MPD builds a whole answer in an output buffer of bounded size (8 MB by
    // default) and drops a client whose answer outgrows it: the songs come in
    // shares (MPD 0.20 on), each a search that every song matches.
    if (mpd_connection_cmp_server_version(c, 0, 20, 0) >= 0) {
      for (unsigned start = 0;; start += kListingShare) {
        unsigned received = 0;
        if (!ReadShare(listing, library, start, start + kListingShare, &received)) return false;
        if (received < kListingShare) break;
      }
      c = listing.get();
    } else {
      if (!mpd_send_list_all_meta(c, "")) return false;
      while (MpdEntity entityOwner{mpd_recv_entity(c)}) {
        mpd_entity* entity = entityOwner.get();
        if (mpd_entity_get_type(entity) == MPD_ENTITY_TYPE_SONG)
          AddSong(library, MakeSong(mpd_entity_get_song(entity), musicFolder_));
        entityOwner.reset();
      }
      if (!mpd_response_finish(c)) return false;
    }
    std::vector<std::string> locations;
    locations.reserve(library->songs.size());
    for (const Song& s : library->songs) locations.push_back(s.location);
    const std::vector<long> ids = ids_->IdsOf(MpdIds::Kind::Track, locations);
    for (std::size_t i = 0; i < library->songs.size(); ++i) {
      library->songs[i].id = ids[i];
      library->byId.emplace(ids[i], i);
    }
    // Ratings are stickers; without a sticker database every rating is 0.
    if (mpd_send_sticker_find(c, "song", "", "rating")) {
      std::string uri;
      while (mpd_pair* pair = mpd_recv_pair(c)) {
        if (std::strcmp(pair->name, "file") == 0) {
          uri = pair->value;
        } else if (std::strcmp(pair->name, "sticker") == 0 && std::strncmp(pair->value, "rating=", 7) == 0) {
          if (auto it = library->byUri.find(uri); it != library->byUri.end())
            library->songs[it->second].rating = std::clamp(std::atol(pair->value + 7), 0L, 100L);
        }
        mpd_return_pair(c, pair);
      }
      mpd_response_finish(c);
    }
    if (mpd_connection_get_error(c) == MPD_ERROR_SERVER) mpd_connection_clear_error(c);
    return mpd_connection_get_error(c) == MPD_ERROR_SUCCESS;
  }

  static void AddSong(Library* library, Song song) {
    // A song met twice (MPD's database changed between shares) is one song.
    if (library->byUri.emplace(song.uri, library->songs.size()).second) library->songs.push_back(std::move(song));
  }

  // Every song, whatever its file's date (modified-since 0 leaves out those
  // before 1970), from `start` to before `end` in MPD's order.
  static bool SendWindow(mpd_connection* c, unsigned start, unsigned end) {
    const bool filters = mpd_connection_cmp_server_version(c, 0, 21, 0) >= 0;
    return mpd_search_db_songs(c, true) &&
           (filters ? mpd_search_add_expression(c, "(file != '')")
                    : mpd_search_add_modified_since_constraint(c, MPD_OPERATOR_DEFAULT, 0)) &&
           mpd_search_add_window(c, start, end) && mpd_search_commit(c);
  }

  // One share; a line too long for libmpdclient narrows it down to its song.
  bool ReadShare(Connection& c, Library* library, unsigned start, unsigned end, unsigned* received) {
    unsigned count = 0;
    if (SendWindow(c.get(), start, end)) {
      while (MpdEntity entityOwner{mpd_recv_entity(c.get())}) {
        mpd_entity* entity = entityOwner.get();
        if (mpd_entity_get_type(entity) == MPD_ENTITY_TYPE_SONG) {
          ++count;
          AddSong(library, MakeSong(mpd_entity_get_song(entity), musicFolder_));
        }
        entityOwner.reset();
      }
      if (mpd_response_finish(c.get())) {
        *received += count;
        return true;
      }
    }
    if (mpd_connection_get_error(c.get()) != MPD_ERROR_MALFORMED) return false;
    c = Connect();
    if (!c) return false;
    if (end - start == 1) return ReadAlone(c, library, start, received);
    const unsigned middle = start + (end - start) / 2;
    unsigned first = 0;
    if (!ReadShare(c, library, start, middle, &first)) return false;
    *received += first;
    if (first < middle - start) return true;  // the library ends in the first half
    return ReadShare(c, library, middle, end, received);
  }

  // The song at `position` without tags, then each tag on its own: a tag too
  // long to read is left empty.
  bool ReadAlone(Connection& c, Library* library, unsigned position, unsigned* received) {
    auto read = [&](const mpd_tag_type* tag) -> std::optional<Song> {
      if (!mpd_run_clear_tag_types(c.get()) || (tag && !mpd_run_enable_tag_types(c.get(), tag, 1)) ||
          !SendWindow(c.get(), position, position + 1))
        return std::nullopt;
      std::optional<Song> song;
      while (MpdEntity entityOwner{mpd_recv_entity(c.get())}) {
        mpd_entity* entity = entityOwner.get();
        if (mpd_entity_get_type(entity) == MPD_ENTITY_TYPE_SONG)
          song = MakeSong(mpd_entity_get_song(entity), musicFolder_);
        entityOwner.reset();
      }
      if (!mpd_response_finish(c.get())) return std::nullopt;
      return song;
    };
    std::optional<Song> song = read(nullptr);
    if (!song) {
      // Gone meanwhile, or an MPD without tag choice: the song is left out.
      if (mpd_connection_get_error(c.get()) == MPD_ERROR_SERVER && mpd_connection_clear_error(c.get())) {
        ++*received;
        return true;
      }
      return mpd_connection_get_error(c.get()) == MPD_ERROR_SUCCESS;
    }
    ++*received;
    for (const mpd_tag_type& tag : kTagsRead) {
      std::optional<Song> tagged = read(&tag);
      if (!tagged) {
        const mpd_error error = mpd_connection_get_error(c.get());
        if (error == MPD_ERROR_SERVER && mpd_connection_clear_error(c.get())) continue;
        if (error != MPD_ERROR_MALFORMED && error != MPD_ERROR_SUCCESS) return false;
        if (error == MPD_ERROR_MALFORMED) c = Connect();
        if (!c) return false;
        continue;
      }
      if (tag == MPD_TAG_TITLE) song->name = tagged->name;
      if (tag == MPD_TAG_ARTIST) song->artist = tagged->artist;
      if (tag == MPD_TAG_ALBUM) song->album = tagged->album;
      if (tag == MPD_TAG_GENRE) song->genre = tagged->genre;
    }
    AddSong(library, std::move(*song));
    // The rest of the library with the tags read here.
    c = Connect();
    return c != nullptr;
  }

  Entries& Reconcile(const std::string& name, const std::vector<std::string>& uris) {
    Entries& known = entries_[name];
    if (known.uris != uris) {
      // Changed elsewhere: its entries start afresh.
      known.uris = uris;
      known.listed = false;
      known.songs.clear();
      known.ids.clear();
      for (std::size_t i = 0; i < uris.size(); ++i) known.ids.push_back(nextEntry_++);
    }
    return known;
  }

 public:
  // Reads the player's state on `c` (the caller holds its lock).
  HRESULT CaptureLocked(mpd_connection* c, Seen* seen) {
    if (c == connection_.get() && dead_) return RPC_E_DISCONNECTED;
    // One command list: another client's skip between two separate commands
    // would pair the state of one song with another song.
    if (!mpd_command_list_begin(c, true) || !mpd_send_status(c) || !mpd_send_current_song(c) ||
        !mpd_command_list_end(c))
      return Failure(c);
    MpdStatus statusOwner(mpd_recv_status(c));
    mpd_status* status = statusOwner.get();
    if (!status) return Failure(c);
    const mpd_state state = mpd_status_get_state(status);
    seen->playing = state == MPD_STATE_PLAY;
    const int position = mpd_status_get_song_pos(status);
    const unsigned version = mpd_status_get_queue_version(status);
    seen->songId = position >= 0 ? static_cast<unsigned>(mpd_status_get_song_id(status)) : 0;
    seen->elapsedMs = mpd_status_get_elapsed_ms(status);
    seen->lengthMs = mpd_status_get_total_time(status) * 1000;
    seen->at = std::chrono::steady_clock::now();
    statusOwner.reset();
    seen->song.reset();
    MpdSong songOwner;
    if (mpd_response_next(c)) songOwner.reset(mpd_recv_song(c));
    mpd_song* song = songOwner.get();
    if (!mpd_response_finish(c)) {
      if (song) songOwner.reset();
      return Failure(c);
    }
    if (position < 0 || !song) {
      if (song) songOwner.reset();
      return S_OK;
    }
    Song data;
    SongOf(song, &data);
    songOwner.reset();
    Place place;
    const QueueOrigin origin = ReadOrigin();
    const long entry = origin.EntryOf(seen->songId);
    if (!origin.playlist.empty() && (entry > 0 || (origin.entries.empty() && origin.version == version))) {
      place.playlist = origin.playlist;
      place.playlistId = ids_->IdOf(MpdIds::Kind::Playlist, origin.playlist);
      // Shuffled, the play order is the queue's.
      place.index = entry > 0 && !origin.shuffled ? entry : position + 1;
    } else {
      std::lock_guard cache(libraryMutex_);
      if (library_)
        if (auto it = library_->byUri.find(data.uri); it != library_->byUri.end())
          place.index = static_cast<long>(it->second) + 1;
    }
    seen->song.emplace(std::move(data), std::move(place));
    return S_OK;
  }

  std::shared_ptr<IITTrack> TrackOf(const Seen& seen) {
    if (!seen.song) return nullptr;
    return MakeTrack(shared_from_this(), seen.song->first, seen.song->second);
  }

 private:
  void Post(DISPID id, std::vector<EventArg> args) {
    std::vector<std::pair<DWORD, DWORD>> targets;
    {
      std::lock_guard lock(sinks_->mutex);
      for (const auto& [cookie, sink] : sinks_->table) targets.emplace_back(cookie, sink.second);
    }
    auto shared = std::make_shared<std::vector<EventArg>>(std::move(args));
    for (const auto& [cookie, thread] : targets) {
      platform::PostThreadCall(thread, [sinks = sinks_, cookie = cookie, id, shared] {
        IiTunesEvents* sink = nullptr;
        {
          std::lock_guard lock(sinks->mutex);
          if (auto it = sinks->table.find(cookie); it != sinks->table.end()) sink = it->second.first;
        }
        if (sink) sink->Invoke(id, *shared);
      });
    }
  }

  // The events between two looks at the player. A command always stops what
  // played and plays what plays afterwards, as the player does for commands.
  // Another song playing without a command from here is the end of the last
  // one, or someone else's choice at the player: that is followed, not
  // reported as a stop (which would have the program play its own pick).
  void Compare(const Seen& before, const Seen& after, bool command) {
    const bool other = before.songId != after.songId;
    // The song held next has begun: that is the end of the last one.
    const bool chosenElsewhere = !command && other && before.playing && after.playing &&
                                 (held_ == 0 || after.songId != held_) && !Ended(before);
    if (before.playing && (command || !after.playing || (other && !chosenElsewhere))) {
      Post(ITEventPlayerStop, {std::static_pointer_cast<IITObject>(TrackOf(before))});
      lastStopped_ = before.songId;
    }
    if (after.playing && (command || !before.playing || other))
      Post(ITEventPlayerPlay, {std::static_pointer_cast<IITObject>(TrackOf(after))});
  }

  // Whether a song seen playing has reached its end by now (within a margin
  // for MPD's buffers and the time the look took).
  static bool Ended(const Seen& seen) {
    if (seen.lengthMs == 0) return true;
    const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - seen.at);
    return seen.elapsedMs + since.count() + kEndMargin >= seen.lengthMs;
  }

  HRESULT StartIdle() {
    std::lock_guard lock(idleMutex_);
    if (idle_.joinable()) return S_OK;
    if (dead_) return RPC_E_DISCONNECTED;
    Connection c = Connect();
    if (!c) return RPC_E_DISCONNECTED;
    auto wake = std::make_shared<WakePipe>();
    if (!wake->fds[0].IsDefined()) return E_FAIL;
    wake_ = wake;
    {
      std::lock_guard events(eventMutex_);
      std::lock_guard command(mutex_);
      Seen now;
      if (HRESULT hr = CaptureLocked(connection_.get(), &now); FAILED(hr)) return hr;
      seen_ = now;
    }
    std::weak_ptr<Session> weak = weak_from_this();
    idle_ = std::thread([weak, c = std::move(c), wake]() mutable { IdleLoop(weak, std::move(c), wake); });
    return S_OK;
  }

  void StopIdle() {
    std::lock_guard lock(idleMutex_);
    if (!idle_.joinable()) return;
    const char byte = 0;
    while (::write(wake_->fds[1].Get(), &byte, 1) < 0 && errno == EINTR) {
    }
    // The idle thread may hold the last reference for a moment; it then ends on its own.
    if (idle_.get_id() == std::this_thread::get_id())
      idle_.detach();
    else
      idle_.join();
  }

  static void IdleLoop(const std::weak_ptr<Session>& weak, Connection c, const std::shared_ptr<WakePipe>& wake) {
    const unsigned mask = MPD_IDLE_DATABASE | MPD_IDLE_STORED_PLAYLIST | MPD_IDLE_PLAYER;
    // The library as it is now, so a later change can name what went.
    if (auto session = weak.lock()) {
      if (!session->LoadBaseline(c.get())) {
        session->OnLost();
        return;
      }
    }
    for (;;) {
      bool lost = !mpd_send_idle_mask(c.get(), static_cast<mpd_idle>(mask));
      if (!lost) {
        // A player that stopped answering keeps its socket open and an idle
        // wait would never end: a quiet spell asks it to end the wait, and
        // no answer to that in time is a lost player.
        pollfd fds[2] = {{mpd_connection_get_fd(c.get()), POLLIN, 0}, {wake->fds[0].Get(), POLLIN, 0}};
        int ready;
        while ((ready = ::poll(fds, 2, static_cast<int>(kIdleQuietSpell))) < 0 && errno == EINTR) {
        }
        if (fds[1].revents != 0) return;  // the application object is going away
        if (ready == 0) {
          lost = !mpd_send_noidle(c.get()) || !Readable(mpd_connection_get_fd(c.get()), wake->fds[0].Get());
          if (::poll(&fds[1], 1, 0) > 0) return;
        }
        const unsigned changed = lost ? 0 : mpd_recv_idle(c.get(), false);
        lost = lost || mpd_connection_get_error(c.get()) != MPD_ERROR_SUCCESS;
        if (!lost && changed != 0) {
          auto session = weak.lock();
          if (!session) return;
          lost = !session->OnIdle(c.get(), changed);
        }
      }
      if (lost) {
        if (auto session = weak.lock()) session->OnLost();
        return;
      }
    }
  }

  bool LoadBaseline(mpd_connection* c) {
    {
      std::lock_guard cache(libraryMutex_);
      if (library_) return true;
    }
    auto loaded = std::make_shared<Library>();
    if (!LoadStamped(c, loaded.get())) return mpd_connection_get_error(c) == MPD_ERROR_SUCCESS;
    std::lock_guard cache(libraryMutex_);
    if (!library_) library_ = loaded;
    return true;
  }

  // The library with the time of MPD's database it was read from.
  bool LoadStamped(mpd_connection* c, Library* library) {
    MpdStats statsOwner(mpd_run_stats(c));
    mpd_stats* stats = statsOwner.get();
    if (!stats) return false;
    library->updated = static_cast<long>(mpd_stats_get_db_update_time(stats));
    statsOwner.reset();
    return LoadLibrary(library);
  }

  bool OnIdle(mpd_connection* c, unsigned changed) {
    if (changed & MPD_IDLE_PLAYER) {
      std::lock_guard events(eventMutex_);
      Seen now;
      if (FAILED(CaptureLocked(c, &now))) return false;
      Compare(seen_, now, false);
      seen_ = now;
    }
    if (changed & MPD_IDLE_DATABASE) {
      // Which songs went and came: rows of the database-changed event.
      std::shared_ptr<const Library> before;
      {
        std::lock_guard cache(libraryMutex_);
        before = library_;
      }
      auto after = std::make_shared<Library>();
      if (!LoadStamped(c, after.get())) return mpd_connection_get_error(c) == MPD_ERROR_SUCCESS;
      {
        std::lock_guard cache(libraryMutex_);
        library_ = after;
      }
      ObjectIDRows deleted;
      ObjectIDRows changedRows;
      if (before) {
        for (const Song& s : before->songs)
          if (!after->byUri.count(s.uri)) deleted.push_back({kSourceId, kLibraryPlaylistId, s.id, s.id});
      }
      for (const Song& s : after->songs)
        if (auto it = before ? before->byUri.find(s.uri) : after->byUri.end();
            !before || it == before->byUri.end() || !SameTags(before->songs[it->second], s))
          changedRows.push_back({kSourceId, kLibraryPlaylistId, s.id, s.id});
      Post(ITEventDatabaseChanged, {std::move(deleted), std::move(changedRows)});
    }
    if (changed & MPD_IDLE_STORED_PLAYLIST) Post(ITEventDatabaseChanged, {ObjectIDRows{}, ObjectIDRows{{kSourceId, 0, 0, 0}}});
    return true;
  }

  // The connection to MPD is gone: the player has quit.
  void OnLost() {
    {
      std::lock_guard lock(mutex_);
      dead_ = true;
    }
    // Gone without a word: the connection says so, as the stand-in's does.
    Post(ITEventAboutToPromptUserToQuit, {kPlayerLost});
    Post(ITEventQuitting, {});
  }

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
  std::shared_ptr<Sinks> sinks_ = std::make_shared<Sinks>();
  std::mutex idleMutex_;
  std::thread idle_;
  std::shared_ptr<WakePipe> wake_;
};

// --- the objects

template <class Base>
class Object : public Base {
 public:
  explicit Object(std::shared_ptr<Session> session) : session_(std::move(session)) {}

 protected:
  std::shared_ptr<Session> session_;
};

template <class T>
HRESULT Out(T* out, T value) {
  if (!out) return E_POINTER;
  *out = std::move(value);
  return S_OK;
}

template <class T, class U>
HRESULT OutObject(std::shared_ptr<T>* out, std::shared_ptr<U> value) {
  if (!out) return E_POINTER;
  *out = std::move(value);
  return *out ? S_OK : S_FALSE;
}

std::string TimeText(long seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", seconds / 60, seconds % 60);
  return text;
}

class TrackObject final : public Object<IITFileOrCDTrack> {
 public:
  TrackObject(std::shared_ptr<Session> session, Song song, Place place)
      : Object(std::move(session)), song_(std::move(song)), place_(std::move(place)) {}

  HRESULT get_Name(std::string* name) override { return Out(name, song_.name); }
  HRESULT get_SourceID(long* id) override { return Out(id, kSourceId); }
  HRESULT get_PlaylistID(long* id) override { return Out(id, place_.playlistId); }
  HRESULT get_TrackDatabaseID(long* id) override { return Out(id, song_.id); }
  HRESULT get_Kind(ITTrackKind* kind) override { return Out(kind, ITTrackKindFile); }
  HRESULT get_Album(std::string* album) override { return Out(album, song_.album); }
  HRESULT get_Artist(std::string* artist) override { return Out(artist, song_.artist); }
  HRESULT get_Genre(std::string* genre) override { return Out(genre, song_.genre); }
  HRESULT get_PlayOrderIndex(long* index) override { return Out(index, place_.index); }
  HRESULT get_Rating(long* rating) override { return Out(rating, song_.rating); }
  HRESULT get_Time(std::string* time) override { return Out(time, TimeText(song_.seconds)); }
  HRESULT get_Location(std::string* location) override { return Out(location, song_.location); }
  HRESULT get_Playlist(std::shared_ptr<IITPlaylist>* playlist) override {
    return OutObject(playlist, MakePlaylist(session_, place_.playlistId, place_.playlist));
  }

  HRESULT Delete() override {
    // MPD's database is the folder: a song leaves the library with its file.
    if (place_.playlist.empty()) return E_ACCESSDENIED;
    HRESULT hr = session_->DeleteEntry(place_.playlist, place_.entry, song_.uri, place_.index);
    if (SUCCEEDED(hr)) session_->Edited();
    return hr;
  }

  HRESULT Play() override {
    if (place_.index <= 0) return E_FAIL;
    const QueueOrigin origin = ReadOrigin();
    session_->TakeHeld();  // the queue becomes a playlist's
    return session_->Transport([&](mpd_connection* c) {
      QueueOrigin loaded;
      if (place_.playlist.empty()) {
        if (!mpd_run_clear(c) || !mpd_run_add(c, "") || !mpd_run_play_pos(c, static_cast<unsigned>(place_.index - 1)))
          return false;
      } else {
        // The queue song loaded from this entry, while it is still there.
        if (const auto id = origin.SongIdOf(place_.index);
            id && origin.playlist == place_.playlist && !origin.shuffled) {
          if (MpdSong queuedOwner{mpd_run_get_queue_song_id(c, *id)}) {
            mpd_song* queued = queuedOwner.get();
            const bool same = song_.uri == mpd_song_get_uri(queued);
            queuedOwner.reset();
            if (same) return mpd_run_play_id(c, *id);
          } else if (mpd_connection_get_error(c) != MPD_ERROR_SERVER || !mpd_connection_clear_error(c)) {
            return false;
          }
        }
        if (!LoadQueue(c, place_.playlist, &loaded)) return false;
        // No queue song for the entry: its song is gone from MPD's library.
        const auto id = loaded.SongIdOf(place_.index);
        if (!id || !mpd_run_play_id(c, *id)) return false;
      }
      MpdStatus statusOwner(mpd_run_status(c));
      mpd_status* status = statusOwner.get();
      if (!status) return false;
      loaded.version = mpd_status_get_queue_version(status);
      loaded.playlist = place_.playlist;
      WriteOrigin(loaded);
      statusOwner.reset();
      return true;
    });
  }

 private:
  Song song_;
  Place place_;
};

// The tracks of a playlist: the library's as they were when asked for, a
// stored playlist's as they are after the edits made here (an entry deleted
// leaves the collection, a file added joins it).
class TrackCollection final : public IITTrackCollection {
 public:
  TrackCollection(std::shared_ptr<Session> session, std::shared_ptr<const Library> library, long playlistId,
                  std::string playlist, std::vector<Song> playOrder)
      : session_(std::move(session)),
        library_(std::move(library)),
        playlistId_(playlistId),
        playlist_(std::move(playlist)),
        playOrder_(std::move(playOrder)) {}

  HRESULT get_Count(long* count) override {
    if (!count) return E_POINTER;
    if (library_) return Out(count, static_cast<long>(library_->songs.size()));
    return session_->LiveEntries(playlist_, [&](const std::vector<Song>& songs, const std::vector<long>&) {
      *count = static_cast<long>(songs.size());
    });
  }
  HRESULT get_Item(long index, std::shared_ptr<IITTrack>* track) override {
    if (!track) return E_POINTER;
    track->reset();
    if (library_) {
      if (index < 1 || index > static_cast<long>(library_->songs.size())) return E_INVALIDARG;
      *track = MakeTrack(session_, library_->songs[static_cast<std::size_t>(index - 1)],
                         {playlistId_, playlist_, index, 0});
      return S_OK;
    }
    std::optional<std::pair<Song, long>> entry;
    HRESULT hr = session_->LiveEntries(playlist_, [&](const std::vector<Song>& songs, const std::vector<long>& ids) {
      if (index >= 1 && index <= static_cast<long>(songs.size()))
        entry.emplace(songs[static_cast<std::size_t>(index - 1)], ids[static_cast<std::size_t>(index - 1)]);
    });
    if (FAILED(hr)) return hr;
    if (!entry) return E_INVALIDARG;
    *track = MakeTrack(session_, std::move(entry->first), {playlistId_, playlist_, index, entry->second});
    return S_OK;
  }
  HRESULT get_ItemByPlayOrder(long index, std::shared_ptr<IITTrack>* track) override {
    if (playOrder_.empty()) return get_Item(index, track);
    if (!track) return E_POINTER;
    track->reset();
    if (index < 1 || index > static_cast<long>(playOrder_.size())) return E_INVALIDARG;
    *track = MakeTrack(session_, playOrder_[static_cast<std::size_t>(index - 1)], {playlistId_, playlist_, index, 0});
    return S_OK;
  }

 private:
  std::shared_ptr<Session> session_;
  std::shared_ptr<const Library> library_;  // the library playlist's
  long playlistId_;
  std::string playlist_;
  std::vector<Song> playOrder_;  // the queue, while it plays this playlist shuffled
};

template <class Base>
class PlaylistBase : public Object<Base> {
 public:
  PlaylistBase(std::shared_ptr<Session> session, long id, std::string name)
      : Object<Base>(std::move(session)), id_(id), name_(std::move(name)) {}

  HRESULT get_Name(std::string* name) override {
    return Out(name, name_.empty() ? std::string("Library") : ValidUtf8(name_.c_str()));
  }
  HRESULT get_SourceID(long* id) override { return Out(id, kSourceId); }
  HRESULT get_PlaylistID(long* id) override { return Out(id, id_); }
  HRESULT get_TrackDatabaseID(long* id) override { return Out(id, 0L); }

  // Plays the playlist from its first track; shuffled when MPD's random mode is on.
  HRESULT PlayFirstTrack() override {
    this->session_->TakeHeld();  // the queue becomes the playlist's
    return this->session_->Transport([&](mpd_connection* c) {
      MpdStatus statusOwner(mpd_run_status(c));
      mpd_status* status = statusOwner.get();
      if (!status) return false;
      const bool shuffle = mpd_status_get_random(status);
      statusOwner.reset();
      QueueOrigin origin;
      const bool loaded = name_.empty() ? mpd_run_clear(c) && mpd_run_add(c, "") : LoadQueue(c, name_, &origin);
      if (!loaded || (shuffle && !mpd_run_shuffle(c)) || !mpd_run_single(c, false) || !mpd_run_play_pos(c, 0))
        return false;
      statusOwner.reset(mpd_run_status(c));
      status = statusOwner.get();
      if (!status) return false;
      origin.version = mpd_status_get_queue_version(status);
      origin.shuffled = shuffle;
      origin.playlist = name_;
      WriteOrigin(origin);
      statusOwner.reset();
      return true;
    });
  }

  HRESULT get_Shuffle(bool* shuffle) override {
    if (!shuffle) return E_POINTER;
    return this->session_->Status([&](const mpd_status* s) { *shuffle = mpd_status_get_random(s); });
  }

  HRESULT get_Tracks(std::shared_ptr<IITTrackCollection>* tracks) override {
    if (!tracks) return E_POINTER;
    tracks->reset();
    auto& session = this->session_;
    if (name_.empty()) {
      std::shared_ptr<const Library> library;
      if (HRESULT hr = session->GetLibrary(&library); FAILED(hr)) return hr;
      *tracks = std::make_shared<TrackCollection>(session, library, id_, "", std::vector<Song>{});
      return S_OK;
    }
    std::vector<Song> songs;
    std::vector<long> entries;
    if (HRESULT hr = session->PlaylistSongs(name_, &songs, &entries); FAILED(hr)) return hr;
    std::vector<Song> order;
    if (HRESULT hr = ShuffledQueue(&order); FAILED(hr)) return hr;
    *tracks = std::make_shared<TrackCollection>(session, nullptr, id_, name_, std::move(order));
    return S_OK;
  }

 protected:
  // The queue's songs while it plays this playlist in shuffled order.
  HRESULT ShuffledQueue(std::vector<Song>* order) {
    const QueueOrigin origin = ReadOrigin();
    if (!origin.shuffled || origin.playlist != name_) return S_OK;
    bool current = false;
    HRESULT hr = this->session_->Status([&](const mpd_status* s) {
      current = !origin.entries.empty() || mpd_status_get_queue_version(s) == origin.version;
    });
    if (FAILED(hr) || !current) return hr;
    std::vector<MpdSong> raw;
    hr = this->session_->Run([&](mpd_connection* c) {
      if (!mpd_send_list_queue_meta(c)) return false;
      while (mpd_song* song = mpd_recv_song(c)) raw.emplace_back(song);
      return mpd_response_finish(c);
    });
    for (const MpdSong& owned : raw) {
      mpd_song* song = owned.get();
      // Songs other clients added are not the playlist's.
      if (origin.entries.empty() || origin.EntryOf(mpd_song_get_id(song)) > 0) {
        Song s;
        this->session_->SongOf(song, &s);
        order->push_back(std::move(s));
      }
    }
    return hr;
  }

  long id_;
  std::string name_;  // MPD's; empty for the library playlist
};

class LibraryPlaylist final : public PlaylistBase<IITPlaylist> {
 public:
  using PlaylistBase::PlaylistBase;
};

class StoredPlaylist final : public PlaylistBase<IITUserPlaylist> {
 public:
  using PlaylistBase::PlaylistBase;

  HRESULT AddFiles(const std::vector<std::string>& filePaths) override {
    for (const std::string& path : filePaths) {
      const std::string uri = session_->UriOf(path);
      HRESULT hr = session_->Run([&](mpd_connection* c) { return mpd_run_playlist_add(c, name_.c_str(), uri.c_str()); });
      if (FAILED(hr)) return hr;
      session_->Appended(name_, uri);
    }
    session_->Edited();
    return S_OK;
  }

  HRESULT AddTrack(const std::shared_ptr<IITTrack>& track, std::shared_ptr<IITTrack>* added) override {
    auto file = QueryInterface<IITFileOrCDTrack>(track);
    std::string location;
    if (!file || FAILED(file->get_Location(&location))) return E_INVALIDARG;
    const std::string uri = session_->UriOf(location);
    long count = 0;
    HRESULT hr = session_->Run([&](mpd_connection* c) {
      if (!mpd_run_playlist_add(c, name_.c_str(), uri.c_str())) return false;
      // Its place: the playlist's length now.
      if (!mpd_send_list_playlist(c, name_.c_str())) return false;
      while (mpd_pair* pair = mpd_recv_pair_named(c, "file")) {
        ++count;
        mpd_return_pair(c, pair);
      }
      return mpd_response_finish(c);
    });
    if (FAILED(hr)) return hr;
    const long entry = session_->Appended(name_, uri);
    session_->Edited();
    if (added) {
      Song song;
      track->get_Name(&song.name);
      track->get_Artist(&song.artist);
      track->get_Album(&song.album);
      track->get_Genre(&song.genre);
      track->get_Rating(&song.rating);
      track->get_TrackDatabaseID(&song.id);
      std::string time;
      int minutes = 0, seconds = 0;
      if (SUCCEEDED(track->get_Time(&time)) && std::sscanf(time.c_str(), "%d:%d", &minutes, &seconds) == 2)
        song.seconds = minutes * 60L + seconds;
      song.uri = uri;
      song.location = location;
      *added = MakeTrack(session_, std::move(song), {id_, name_, count, entry});
    }
    return S_OK;
  }

  HRESULT get_Smart(bool* smart) override { return Out(smart, false); }
  HRESULT get_SpecialKind(ITUserPlaylistSpecialKind* kind) override { return Out(kind, ITUserPlaylistSpecialKindNone); }
  HRESULT get_Parent(std::shared_ptr<IITUserPlaylist>* parent) override {
    return OutObject(parent, std::shared_ptr<IITUserPlaylist>());
  }
  // MPD's stored playlists have no folders.
  HRESULT CreatePlaylist(const std::string&, std::shared_ptr<IITPlaylist>* playlist) override {
    if (playlist) playlist->reset();
    return E_FAIL;
  }
};

class PlaylistCollection final : public IITPlaylistCollection {
 public:
  PlaylistCollection(std::shared_ptr<Session> session, std::vector<std::pair<long, std::string>> playlists)
      : session_(std::move(session)), playlists_(std::move(playlists)) {}
  HRESULT get_Count(long* count) override { return Out(count, static_cast<long>(playlists_.size()) + 1); }
  HRESULT get_Item(long index, std::shared_ptr<IITPlaylist>* playlist) override {
    if (!playlist) return E_POINTER;
    playlist->reset();
    if (index < 1 || index > static_cast<long>(playlists_.size()) + 1) return E_INVALIDARG;
    if (index == 1) return OutObject(playlist, MakePlaylist(session_, kLibraryPlaylistId, ""));
    const auto& [id, name] = playlists_[static_cast<std::size_t>(index - 2)];
    return OutObject(playlist, MakePlaylist(session_, id, name));
  }

 private:
  std::shared_ptr<Session> session_;
  std::vector<std::pair<long, std::string>> playlists_;
};

class SourceObject final : public Object<IITSource> {
 public:
  using Object::Object;
  HRESULT get_Name(std::string* name) override { return Out(name, std::string("Library")); }
  HRESULT get_SourceID(long* id) override { return Out(id, kSourceId); }
  HRESULT get_PlaylistID(long* id) override { return Out(id, 0L); }
  HRESULT get_TrackDatabaseID(long* id) override { return Out(id, 0L); }
  HRESULT get_Playlists(std::shared_ptr<IITPlaylistCollection>* playlists) override {
    if (!playlists) return E_POINTER;
    playlists->reset();
    std::vector<std::pair<long, std::string>> stored;
    if (HRESULT hr = session_->StoredPlaylists(&stored); FAILED(hr)) return hr;
    *playlists = std::make_shared<PlaylistCollection>(session_, std::move(stored));
    return S_OK;
  }
};

// MPD has no window of its own to arrange.
class BrowserWindow final : public IITBrowserWindow {
 public:
  HRESULT put_Visible(bool) override { return S_OK; }
  HRESULT put_Minimized(bool) override { return S_OK; }
  HRESULT put_MiniPlayer(bool) override { return S_OK; }
  HRESULT put_SelectedPlaylist(const std::shared_ptr<IITPlaylist>& playlist) override {
    return playlist ? S_OK : E_INVALIDARG;
  }
};

class ConnectionPoint final : public IConnectionPoint {
 public:
  explicit ConnectionPoint(std::shared_ptr<Session> session) : session_(std::move(session)) {}
  HRESULT Advise(IiTunesEvents* sink, DWORD* cookie) override {
    if (!sink || !cookie) return E_POINTER;
    return session_->Advise(sink, cookie);
  }
  HRESULT Unadvise(DWORD cookie) override { return session_->Unadvise(cookie); }

 private:
  std::shared_ptr<Session> session_;
};

class App final : public IiTunes, public IConnectionPointContainer {
 public:
  explicit App(std::shared_ptr<Session> session) : session_(std::move(session)) {}

  HRESULT BackTrack() override { return session_->Transport([](mpd_connection* c) { return mpd_run_previous(c); }); }
  HRESULT NextTrack() override { return session_->Transport([](mpd_connection* c) { return mpd_run_next(c); }); }
  HRESULT Stop() override { return session_->Transport([](mpd_connection* c) { return mpd_run_stop(c); }); }
  // MPD's pause keeps the place; only a playing MPD is paused (a stopped one
  // would start).
  HRESULT Pause() override {
    return session_->Transport([](mpd_connection* c) {
      MpdStatus statusOwner(mpd_run_status(c));
      mpd_status* status = statusOwner.get();
      if (!status) return false;
      const bool playing = mpd_status_get_state(status) == MPD_STATE_PLAY;
      statusOwner.reset();
      return !playing || mpd_run_pause(c, true);
    });
  }

  HRESULT Play() override {
    return session_->Transport([](mpd_connection* c) {
      MpdStatus statusOwner(mpd_run_status(c));
      mpd_status* status = statusOwner.get();
      if (!status) return false;
      const mpd_state state = mpd_status_get_state(status);
      const unsigned length = mpd_status_get_queue_length(status);
      statusOwner.reset();
      if (state == MPD_STATE_PAUSE) return mpd_run_pause(c, false);
      if (state == MPD_STATE_PLAY) return true;
      if (length == 0 && !mpd_run_add(c, "")) return false;
      return mpd_run_play(c);
    });
  }

  // One file: a queue of that file alone, which stops at its end. When it
  // is the file held next and MPD has just gone on to it, it plays on.
  HRESULT PlayFile(const std::string& filePath) override {
    const std::string uri = session_->UriOf(filePath);
    const unsigned held = session_->TakeHeld();
    const HRESULT hr = session_->Transport([&](mpd_connection* c) {
      if (held != 0) {
        MpdStatus statusOwner(mpd_run_status(c));
        mpd_status* status = statusOwner.get();
        if (!status) return false;
        const bool reached = mpd_status_get_state(status) == MPD_STATE_PLAY &&
                             mpd_status_get_song_pos(status) > 0 &&
                             static_cast<unsigned>(mpd_status_get_song_id(status)) == held;
        const auto position = static_cast<unsigned>(std::max(0, mpd_status_get_song_pos(status)));
        statusOwner.reset();
        MpdSong songOwner(reached ? mpd_run_current_song(c) : nullptr);
        mpd_song* song = songOwner.get();
        const bool same = song && uri == mpd_song_get_uri(song);
        if (song) songOwner.reset();
        if (same) return mpd_run_delete_range(c, 0, position);
        if (mpd_connection_get_error(c) != MPD_ERROR_SUCCESS) return false;
      }
      return mpd_run_clear(c) && mpd_run_add(c, uri.c_str()) && mpd_run_repeat(c, false) &&
             mpd_run_single(c, false) && mpd_run_play_pos(c, 0);
    });
    if (hr != RPC_E_DISCONNECTED && session_->PassOverUndecodable(uri)) return S_OK;
    return hr;
  }

  // Holds the file that is to play next behind the one file playing, so MPD
  // goes on to it without closing its output (no silence between them);
  // an empty path holds nothing. Only the queue of one file played here is
  // touched, and no event comes of it.
  HRESULT QueueNextFile(const std::string& filePath) override {
    const std::string uri = filePath.empty() ? std::string() : session_->UriOf(filePath);
    return session_->Run([&](mpd_connection* c) {
      MpdStatus statusOwner(mpd_run_status(c));
      mpd_status* status = statusOwner.get();
      if (!status) return false;
      // Whether it plays yet or not: MPD may take a moment to start it.
      const bool first = mpd_status_get_song_pos(status) == 0 && !mpd_status_get_random(status) &&
                         !mpd_status_get_repeat(status) && !mpd_status_get_single(status);
      const unsigned length = mpd_status_get_queue_length(status);
      statusOwner.reset();
      const unsigned held = session_->Held();
      bool ours = first && length == 1;
      if (first && length == 2 && held != 0) {
        MpdSong nextOwner(mpd_run_get_queue_song_pos(c, 1));
        mpd_song* next = nextOwner.get();
        if (!next) return false;
        ours = mpd_song_get_id(next) == held;
        nextOwner.reset();
        if (ours) {
          if (!mpd_run_delete(c, 1)) return false;
          session_->TakeHeld();
        }
      }
      if (!ours || uri.empty()) return true;
      const int id = mpd_run_add_id(c, uri.c_str());
      if (id < 0) return false;
      session_->Hold(static_cast<unsigned>(id));
      return true;
    });
  }

  // MPD's stored playlists have no folders, which the automation interface
  // has from 1.7 on: this player answers as 1.6.
  HRESULT CheckVersion(long majorVersion, long minorVersion, bool* isCompatible) override {
    return Out(isCompatible, majorVersion < 1 || (majorVersion == 1 && minorVersion <= 6));
  }

  HRESULT GetITObjectByID(long sourceID, long playlistID, long trackID, long databaseID,
                          std::shared_ptr<IITObject>* object) override {
    if (!object) return E_POINTER;
    object->reset();
    if (sourceID != kSourceId) return E_INVALIDARG;
    if (databaseID != 0 || trackID != 0) {
      std::shared_ptr<const Library> library;
      if (HRESULT hr = session_->GetLibrary(&library); FAILED(hr)) return hr;
      auto it = library->byId.find(databaseID != 0 ? databaseID : trackID);
      if (it == library->byId.end()) return E_INVALIDARG;
      *object = MakeTrack(session_, library->songs[it->second],
                          {kLibraryPlaylistId, "", static_cast<long>(it->second) + 1, 0});
      return S_OK;
    }
    if (playlistID == 0) return OutObject(object, std::make_shared<SourceObject>(session_));
    if (playlistID == kLibraryPlaylistId) return OutObject(object, MakePlaylist(session_, playlistID, ""));
    std::vector<std::pair<long, std::string>> stored;
    if (HRESULT hr = session_->StoredPlaylists(&stored); FAILED(hr)) return hr;
    for (const auto& [id, name] : stored)
      if (id == playlistID) return OutObject(object, MakePlaylist(session_, id, name));
    return E_INVALIDARG;
  }

  // A new empty stored playlist: MPD makes one by saving a queue, then
  // clearing it. A name that is taken gets a number.
  HRESULT CreatePlaylist(const std::string& name, std::shared_ptr<IITPlaylist>* playlist) override {
    if (!playlist) return E_POINTER;
    playlist->reset();
    std::vector<std::pair<long, std::string>> stored;
    if (HRESULT hr = session_->StoredPlaylists(&stored); FAILED(hr)) return hr;
    const std::string base = name.empty() ? "untitled playlist" : name;
    std::string chosen = base;
    auto taken = [&](const std::string& n) {
      return std::any_of(stored.begin(), stored.end(), [&](const auto& p) { return p.second == n; });
    };
    for (int n = 2; taken(chosen); ++n) chosen = base + " " + std::to_string(n);
    HRESULT hr = session_->Run([&](mpd_connection* c) {
      return mpd_run_save(c, chosen.c_str()) && mpd_run_playlist_clear(c, chosen.c_str());
    });
    if (FAILED(hr)) return hr;
    if (hr = session_->StoredPlaylists(&stored); FAILED(hr)) return hr;
    for (const auto& [id, listed] : stored)
      if (listed == chosen) return OutObject(playlist, MakePlaylist(session_, id, chosen));
    return E_FAIL;
  }

  HRESULT CreateFolder(const std::string&, std::shared_ptr<IITPlaylist>* folder) override {
    if (folder) folder->reset();
    return E_FAIL;
  }

  HRESULT get_PlayerState(ITPlayerState* state) override {
    if (!state) return E_POINTER;
    return session_->Status([&](const mpd_status* s) {
      *state = mpd_status_get_state(s) == MPD_STATE_PLAY ? ITPlayerStatePlaying : ITPlayerStateStopped;
    });
  }
  HRESULT get_PlayerPosition(long* seconds) override {
    if (!seconds) return E_POINTER;
    return session_->Status([&](const mpd_status* s) { *seconds = static_cast<long>(mpd_status_get_elapsed_time(s)); });
  }
  HRESULT get_BrowserWindow(std::shared_ptr<IITBrowserWindow>* window) override {
    return OutObject(window, std::make_shared<BrowserWindow>());
  }
  HRESULT get_LibrarySource(std::shared_ptr<IITSource>* source) override {
    return OutObject(source, std::make_shared<SourceObject>(session_));
  }
  HRESULT get_LibraryPlaylist(std::shared_ptr<IITPlaylist>* playlist) override {
    return OutObject(playlist, MakePlaylist(session_, kLibraryPlaylistId, ""));
  }
  HRESULT get_CurrentTrack(std::shared_ptr<IITTrack>* track) override {
    if (!track) return E_POINTER;
    HRESULT hr = session_->CurrentTrack(track);
    if (FAILED(hr)) return hr;
    return *track ? S_OK : S_FALSE;
  }

  HRESULT FindConnectionPoint(const IID& iid, std::shared_ptr<IConnectionPoint>* point) override {
    if (!point) return E_POINTER;
    point->reset();
    if (!(iid == DIID_IiTunesEvents)) return CONNECT_E_NOCONNECTION;
    *point = std::make_shared<ConnectionPoint>(session_);
    return S_OK;
  }

 private:
  std::shared_ptr<Session> session_;
};

std::shared_ptr<IITTrack> MakeTrack(const std::shared_ptr<Session>& session, Song song, Place place) {
  return std::make_shared<TrackObject>(session, std::move(song), std::move(place));
}

std::shared_ptr<IITPlaylist> MakePlaylist(const std::shared_ptr<Session>& session, long id, const std::string& name) {
  if (name.empty()) return std::make_shared<LibraryPlaylist>(session, kLibraryPlaylistId, "");
  return std::make_shared<StoredPlaylist>(session, id, name);
}

}  // namespace

HRESULT CoCreateMpdApp(std::shared_ptr<IiTunes>* app, const std::function<bool()>& activate) {
  if (!app) return E_POINTER;
  app->reset();
  Connection c = Connect();
  if (!c && !Set("MPD_HOST") && !Set("MPD_PORT") && activate && activate()) c = Connect();
  if (!c) return CO_E_SERVER_EXEC_FAILURE;
  auto session = std::make_shared<Session>(std::move(c));
  if (!session->Init()) return CO_E_SERVER_EXEC_FAILURE;
  *app = std::make_shared<App>(session);
  return S_OK;
}

bool IsMpdRunning() { return Connect() != nullptr; }

}  // namespace platform::player

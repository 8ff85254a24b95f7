// The libmpdclient glue: connecting, and what a song's answer becomes.
#include "platform/player/mpd/MpdClient.h"

#include <poll.h>
#include <signal.h>

#include <cerrno>
#include <cstdlib>
#include <optional>

#include "platform/player/mpd/MpdPlayer.h"

namespace platform::player::mpd {

namespace {

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

std::string Tag(const mpd_song* song, mpd_tag_type type) { return ValidUtf8(mpd_song_get_tag(song, type, 0)); }

}  // namespace

// Waits up to kMpdAnswerTimeout for `fd` to have something to read; false
// when it has not, or when `wake` woke first.
bool Readable(int fd, int wake) {
  pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
  int ready;
  while ((ready = ::poll(fds, 2, static_cast<int>(kMpdAnswerTimeout))) < 0 && errno == EINTR) {}
  return ready > 0 && fds[1].revents == 0;
}

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
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

MpdSong UntaggedSong(mpd_connection* c, const std::function<bool(mpd_connection*)>& send, bool* refused) {
  if (refused) *refused = false;
  const bool tagChoice = mpd_connection_cmp_server_version(c, 0, 21, 0) >= 0;
  if (tagChoice && !mpd_run_clear_tag_types(c)) return nullptr;
  MpdSong song;
  if (send(c)) song.reset(mpd_recv_song(c));
  if (!mpd_response_finish(c)) {
    song.reset();
    if (mpd_connection_get_error(c) != MPD_ERROR_SERVER || !mpd_connection_clear_error(c)) return nullptr;
    if (refused) *refused = true;
  }
  if (tagChoice && !mpd_run_enable_tag_types(c, kTagsRead, std::size(kTagsRead))) return nullptr;
  return song;
}

void ReadTagsAside(unsigned songId, Song* song) {
  // `tag` alone, or every tag read here; nothing when it cannot be read.
  auto read = [&](const mpd_tag_type* tag) -> std::optional<Song> {
    Connection c = Connect();
    if (!c || (tag && (!mpd_run_clear_tag_types(c.get()) || !mpd_run_enable_tag_types(c.get(), tag, 1))))
      return std::nullopt;
    MpdSong found(mpd_run_get_queue_song_id(c.get(), songId));
    if (!found) {
      if (mpd_connection_get_error(c.get()) == MPD_ERROR_MALFORMED) return Song{};  // too long: left out
      return std::nullopt;
    }
    return MakeSong(found.get(), "");
  };
  auto keep = [&](const Song& tagged, const mpd_tag_type* tag) {
    if (!tagged.uri.empty() && (!tag || *tag == MPD_TAG_TITLE)) song->name = tagged.name;
    if (!tag || *tag == MPD_TAG_ARTIST) song->artist = tagged.artist;
    if (!tag || *tag == MPD_TAG_ALBUM) song->album = tagged.album;
    if (!tag || *tag == MPD_TAG_GENRE) song->genre = tagged.genre;
  };
  const std::optional<Song> all = read(nullptr);
  if (!all) return;
  if (!all->uri.empty()) {
    keep(*all, nullptr);
    return;
  }
  for (const mpd_tag_type& tag : kTagsRead)
    if (const std::optional<Song> one = read(&tag)) keep(*one, &tag);
}

// The song's data; its id is given by the caller.
Song MakeSong(const mpd_song* song, const std::string& musicFolder) {
  Song s;
  s.uri = mpd_song_get_uri(song);
  s.location = s.uri.find("://") != std::string::npos ? s.uri.substr(s.uri.find("://") + 3) : musicFolder + "/" + s.uri;
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
  return a.name == b.name && a.artist == b.artist && a.album == b.album && a.genre == b.genre && a.seconds == b.seconds;
}

}  // namespace platform::player::mpd

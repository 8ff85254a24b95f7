// The libmpdclient glue of the player layer on MPD: the connection as the
// user's MPD clients find it, and a song's answer as the layer keeps it.
#pragma once

#include <mpd/client.h>

#include <functional>
#include <iterator>
#include <string>

#include "platform/player/mpd/MpdIds.h"
#include "platform/player/mpd/MpdOwners.h"

namespace platform::player::mpd {

constexpr long kSourceId = 1;
constexpr long kLibraryPlaylistId = MpdIds::kLibraryPlaylistId;
// Songs per listing: with the tags read here about 1 MB of MPD's answer.
constexpr unsigned kListingShare = 5000;
inline constexpr mpd_tag_type kTagsRead[] = {MPD_TAG_TITLE, MPD_TAG_ARTIST, MPD_TAG_ALBUM, MPD_TAG_GENRE};

// Waits up to kMpdAnswerTimeout for `fd` to have something to read; false
// when it has not, or when `wake` woke first.
bool Readable(int fd, int wake);

using Connection = MpdConnection;

// Whether the environment variable `name` is set and not empty.
bool Set(const char* name);

// MPD_HOST/MPD_PORT as libmpdclient reads them, else its default places, else
// Zorva's own MPD; null when none answers in time.
Connection Connect();

// Tags are text for pages and the database: invalid UTF-8 becomes U+FFFD.
std::string ValidUtf8(const char* text);

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

// The queue song that `send` asks for, read without its tags, so that no tag
// outgrows libmpdclient's 4 KB line and ends the connection; the tags read
// here are back on afterwards. Null when there is none: `refused` then says
// whether MPD refused the command (the connection stays usable).
MpdSong UntaggedSong(mpd_connection* c, const std::function<bool(mpd_connection*)>& send, bool* refused = nullptr);

// The tags read here of the queue song `songId`, on connections of their
// own: all at once, else each alone, a tag too long to read left out.
void ReadTagsAside(unsigned songId, Song* song);

// The song's data; its id is given by the caller.
Song MakeSong(const mpd_song* song, const std::string& musicFolder);

// The tags of a song as the library shows them: a song whose tags changed is a
// changed song.
bool SameTags(const Song& a, const Song& b);

}  // namespace platform::player::mpd

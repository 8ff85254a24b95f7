// The library that the player stand-in serves: plain data, loaded from an
// exported library file, from a folder of audio files, or generated.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace platform::player {

struct TrackData {
  long databaseId = 0;
  std::string name;
  std::string artist;
  std::string album;
  std::string genre;
  std::string location;  // a file path for file tracks, the URL for URL tracks
  long kind = 1;         // ITTrackKind
  long rating = 0;       // 0..100
  long seconds = 0;      // length
  friend bool operator==(const TrackData&, const TrackData&) = default;
};

struct PlaylistData {
  long playlistId = 0;
  std::string name;
  std::string persistentId;
  long parentId = 0;  // playlist id of the folder holding it, 0 at top level
  bool smart = false;
  long specialKind = 0;  // ITUserPlaylistSpecialKind (4 for a folder)
  bool shuffle = false;
  std::vector<long> trackIds;  // database ids in playlist order; duplicates allowed
  friend bool operator==(const PlaylistData&, const PlaylistData&) = default;
};

struct LibraryData {
  std::string sourceName = "Library";
  // playlists.front() is the library playlist: every track once.
  std::vector<TrackData> tracks;
  std::vector<PlaylistData> playlists;
};

// A library that cannot be loaded; what() names the file and what is wrong.
class LibraryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws LibraryError (prefixed with `origin`) unless ids are unique and
// positive, every playlist entry names a known track, the library playlist
// comes first with every track once, and parents are folders without cycles.
void ValidateLibrary(const LibraryData& library, const std::string& origin);

// An exported library property list (Tracks dictionary, Playlists array).
// External entities and DTDs are never loaded.
LibraryData LoadLibraryXml(const std::string& path);
// Same, from text in memory; `origin` names it in messages.
LibraryData ParseLibraryXml(const std::string& text, const std::string& origin);

// Every audio file below `folder`, sorted by path. Names come from the path:
// Artist/Album/NN Title.ext. Files are not decoded: a length is estimated from
// the file size at 128 kbit/s.
LibraryData LoadLibraryFolder(const std::string& folder);

// The generated demonstration library: 40 tracks by five artists on eight
// albums in four genres, two user playlists (one inside a folder), one smart
// playlist and the folder. Locations lie below `root`. Always the same.
LibraryData MakeSampleLibrary(const std::string& root = "/music/Zorva Sample");

// Decodes a file:// URL of a library file into a path ("C:/..." for a drive
// letter). Throws LibraryError (message without origin) for anything else.
std::string FileUrlToPath(const std::string& url);

}  // namespace platform::player

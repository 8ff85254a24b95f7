#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <set>

#include "platform/player/ITunes.h"
#include "platform/player/standin/LibraryInternal.h"

namespace platform::player {
namespace {

constexpr long kSecondsPerByteDivisor = 16000;  // 128 kbit/s = 16000 bytes a second

bool IsValidUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t extra;
    if (c < 0x80) {
      extra = 0;
    } else if ((c >> 5) == 0x6) {
      extra = 1;
    } else if ((c >> 4) == 0xE) {
      extra = 2;
    } else if ((c >> 3) == 0x1E) {
      extra = 3;
    } else {
      return false;
    }
    if (i + extra >= s.size() && extra > 0) return false;
    for (size_t k = 1; k <= extra; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += extra + 1;
  }
  return true;
}

std::string StripTrackNumber(const std::string& stem) {
  size_t i = 0;
  while (i < stem.size() && i < 3 && std::isdigit(static_cast<unsigned char>(stem[i]))) ++i;
  if (i == 0) return stem;
  size_t j = i;
  while (j < stem.size() && (stem[j] == ' ' || stem[j] == '-' || stem[j] == '.' || stem[j] == '_')) ++j;
  if (j == i || j == stem.size()) return stem;
  return stem.substr(j);
}

std::string PersistentIdFor(long id) {
  char text[32];
  std::snprintf(text, sizeof text, "5A0E%012lX", static_cast<unsigned long>(id));
  return text;
}

}  // namespace

bool IsAudioFileName(const std::filesystem::path& path) {
  static const std::set<std::string> kExtensions = {".mp3",  ".m4a",  ".m4p", ".m4b", ".aac",  ".wav", ".aif",
                                                    ".aiff", ".flac", ".ogg", ".oga", ".opus", ".wma", ".alac"};
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return kExtensions.count(ext) > 0;
}

TrackData DescribeAudioFile(const std::filesystem::path& path, const std::filesystem::path& root) {
  std::vector<std::string> parts;
  const std::filesystem::path relative = root.empty() ? path : path.lexically_relative(root);
  for (const auto& part : relative)
    if (!part.empty() && part != "/") parts.push_back(part.string());
  TrackData t;
  t.kind = ITTrackKindFile;
  t.location = path.lexically_normal().string();
  t.name = StripTrackNumber(path.stem().string());
  if (parts.size() >= 2) t.album = parts[parts.size() - 2];
  if (parts.size() >= 3) t.artist = parts[parts.size() - 3];
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  t.seconds = ec ? 1 : std::max<long>(1, static_cast<long>(size / kSecondsPerByteDivisor));
  return t;
}

void ValidateLibrary(const LibraryData& library, const std::string& origin) {
  auto fail = [&](const std::string& what) { throw LibraryError(origin + ": " + what); };
  std::set<long> trackIds;
  for (const TrackData& t : library.tracks) {
    if (t.databaseId <= 0) fail("a track has no positive id");
    if (!trackIds.insert(t.databaseId).second) fail("track id " + std::to_string(t.databaseId) + " is used twice");
    if (t.rating < 0 || t.rating > 100) fail("track " + std::to_string(t.databaseId) + " has a rating outside 0..100");
    if (t.seconds < 0) fail("track " + std::to_string(t.databaseId) + " has a negative length");
  }
  if (library.playlists.empty()) fail("there is no library playlist");
  std::map<long, const PlaylistData*> byId;
  for (const PlaylistData& p : library.playlists) {
    if (p.playlistId <= 0) fail("playlist \"" + p.name + "\" has no positive id");
    if (!byId.emplace(p.playlistId, &p).second) fail("playlist id " + std::to_string(p.playlistId) + " is used twice");
    for (long id : p.trackIds)
      if (!trackIds.count(id)) fail("playlist \"" + p.name + "\" holds unknown track " + std::to_string(id));
  }
  const PlaylistData& main = library.playlists.front();
  std::vector<long> sortedMain = main.trackIds;
  std::sort(sortedMain.begin(), sortedMain.end());
  if (sortedMain != std::vector<long>(trackIds.begin(), trackIds.end()))
    fail("the library playlist must hold every track once");
  if (main.parentId != 0) fail("the library playlist cannot lie in a folder");
  for (const PlaylistData& p : library.playlists) {
    std::set<long> seen{p.playlistId};
    for (long parent = p.parentId; parent != 0;) {
      auto it = byId.find(parent);
      if (it == byId.end() || it->second->specialKind != ITUserPlaylistSpecialKindFolder)
        fail("playlist \"" + p.name + "\" lies in something that is not a folder");
      if (it->second == &main) fail("playlist \"" + p.name + "\" lies in the library playlist");
      if (!seen.insert(parent).second) fail("folders of playlist \"" + p.name + "\" form a loop");
      parent = it->second->parentId;
    }
  }
}

LibraryData LoadLibraryFolder(const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::exists(folder, ec)) throw LibraryError(folder + ": no such folder");
  if (!fs::is_directory(folder, ec)) throw LibraryError(folder + ": not a folder");
  const fs::path root = fs::absolute(folder).lexically_normal();
  std::vector<fs::path> files;
  try {
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied);
         it != fs::recursive_directory_iterator(); ++it) {
      // Paths that are not UTF-8 cannot travel to clients intact; they are left out.
      if (it->is_regular_file() && IsAudioFileName(it->path()) && IsValidUtf8(it->path().string()))
        files.push_back(it->path());
    }
  } catch (const fs::filesystem_error& e) {
    throw LibraryError(folder + ": cannot read the folder: " + e.what());
  }
  std::sort(files.begin(), files.end());
  LibraryData library;
  PlaylistData main;
  main.playlistId = 1;
  main.name = "Library";
  main.persistentId = PersistentIdFor(1);
  long id = 1;
  for (const fs::path& file : files) {
    TrackData t = DescribeAudioFile(file, root);
    t.databaseId = id++;
    main.trackIds.push_back(t.databaseId);
    library.tracks.push_back(std::move(t));
  }
  library.playlists.push_back(std::move(main));
  return library;
}

LibraryData MakeSampleLibrary(const std::string& root) {
  struct Album {
    const char* artist;
    const char* title;
    const char* genre;
    const char* tracks[5];
  };
  static const Album kAlbums[] = {
      {"Marta Kova",
       "Northern Lights",
       "Electronic",
       {"Aurora Drift", "Polar Signal", "Static Snow", "Long Night", "First Light"}},
      {"Marta Kova",
       "Glass Harbor",
       "Electronic",
       {"Harbor Lights", "Tidal Clock", "Glass Waves", "Low Fog", "Morning Ferry"}},
      {"The Lantern Sisters",
       "Paper Boats",
       "Folk",
       {"Paper Boats", "River Song", "Grandmother's Hill", "Lantern Walk", "Home by Noon"}},
      {"The Lantern Sisters",
       "Winter Orchard",
       "Folk",
       {"Winter Orchard", "Cider Moon", "Frost on the Gate", "Old Wool Coat", "Candle Hour"}},
      {"Deep Ochre",
       "Dust and Chrome",
       "Rock",
       {"Dust and Chrome", "Highway Nine", "Rust Belt Radio", "Burned Map", "Engine Heart"}},
      {"Deep Ochre",
       "Second Engine",
       "Rock",
       {"Second Engine", "Red Line", "Gravel Kings", "Night Garage", "Last Exit"}},
      {"Tomas Reyn Trio", "Blue Hour", "Jazz", {"Blue Hour", "Brushes", "Late Tram", "Quiet Corner", "Walking Bass"}},
      {"Kiri Alvan",
       "Saltwater",
       "Jazz",
       {"Saltwater", "Pier at Dusk", "Sea Glass", "Slow Current", "Lighthouse Keeper"}},
  };
  LibraryData library;
  PlaylistData main;
  main.playlistId = 1;
  main.name = "Library";
  main.persistentId = PersistentIdFor(1);
  long index = 0;
  for (const Album& album : kAlbums) {
    for (int n = 0; n < 5; ++n, ++index) {
      TrackData t;
      t.databaseId = 101 + index;
      t.name = album.tracks[n];
      t.artist = album.artist;
      t.album = album.title;
      t.genre = album.genre;
      t.kind = ITTrackKindFile;
      t.rating = (index % 6) * 20;
      t.seconds = 120 + (index * 37) % 240;
      char file[16];
      std::snprintf(file, sizeof file, "%02d ", n + 1);
      t.location = root + "/" + album.artist + "/" + album.title + "/" + file + t.name + ".mp3";
      main.trackIds.push_back(t.databaseId);
      library.tracks.push_back(std::move(t));
    }
  }
  library.playlists.push_back(main);

  PlaylistData coffee;
  coffee.playlistId = 2;
  coffee.name = "Morning Coffee";
  coffee.persistentId = PersistentIdFor(2);
  coffee.trackIds = {111, 131, 136, 113, 102, 132, 111, 138, 115, 106};  // 111 twice

  PlaylistData folder;
  folder.playlistId = 3;
  folder.name = "Collections";
  folder.persistentId = PersistentIdFor(3);
  folder.specialKind = ITUserPlaylistSpecialKindFolder;

  PlaylistData road;
  road.playlistId = 4;
  road.name = "Road Trip";
  road.persistentId = PersistentIdFor(4);
  road.parentId = 3;
  road.trackIds = {121, 122, 123, 126, 127, 128, 129, 130, 104, 109, 117, 120};
  folder.trackIds = road.trackIds;

  PlaylistData top;
  top.playlistId = 5;
  top.name = "Top Rated";
  top.persistentId = PersistentIdFor(5);
  top.smart = true;
  for (const TrackData& t : library.tracks)
    if (t.rating >= 80) top.trackIds.push_back(t.databaseId);

  library.playlists.push_back(std::move(coffee));
  library.playlists.push_back(std::move(folder));
  library.playlists.push_back(std::move(road));
  library.playlists.push_back(std::move(top));
  return library;
}

std::string FileUrlToPath(const std::string& url) {
  static const std::string kScheme = "file://";
  if (url.compare(0, kScheme.size(), kScheme) != 0) throw LibraryError("not a file:// URL");
  std::string rest = url.substr(kScheme.size());
  const size_t slash = rest.find('/');
  if (slash == std::string::npos) throw LibraryError("no path in the URL");
  const std::string host = rest.substr(0, slash);
  if (!host.empty() && host != "localhost") throw LibraryError("a file on another host");
  std::string path;
  const std::string encoded = rest.substr(slash);
  for (size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] != '%') {
      path += encoded[i];
      continue;
    }
    auto hex = [&](size_t k) -> int {
      if (k >= encoded.size()) return -1;
      const char c = encoded[k];
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      return -1;
    };
    const int hi = hex(i + 1), lo = hex(i + 2);
    if (hi < 0 || lo < 0) throw LibraryError("a broken %-escape");
    if (hi == 0 && lo == 0) throw LibraryError("a NUL character");
    path += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  if (!IsValidUtf8(path)) throw LibraryError("a path that is not UTF-8");
  // "/C:/Music/..." is a drive-letter path.
  if (path.size() >= 3 && path[0] == '/' && std::isalpha(static_cast<unsigned char>(path[1])) && path[2] == ':')
    path.erase(0, 1);
  if (path == "/" || path.empty()) throw LibraryError("no file in the URL");
  return path;
}

}  // namespace platform::player

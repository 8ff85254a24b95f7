// The player stand-in loading an exported library file of 100,000 tracks
// (about 75 MB, laid out as the player writes it) and building its model:
// what `zorva-player serve --library` does before it answers. Reports the
// time, the resident memory before, the peak during and the resident memory
// after the load, with the model still alive.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/player/standin/Library.h"
#include "platform/player/standin/PlayerModel.h"

namespace {

namespace pp = platform::player;

constexpr int kTracks = 100000;
constexpr int kAlbums = 10000;
constexpr int kArtists = 5000;
constexpr int kGenres = 200;
constexpr int kPlaylists = 20;  // user playlists of 2,000 tracks each

void Field(std::ofstream& out, const char* key, const char* type, const std::string& value) {
  out << "\t\t\t<key>" << key << "</key><" << type << ">" << value << "</" << type << ">\n";
}

void WriteLibrary(const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n<dict>\n"
         "\t<key>Major Version</key><integer>1</integer>\n"
         "\t<key>Minor Version</key><integer>1</integer>\n"
         "\t<key>Application Version</key><string>8.2.1</string>\n"
         "\t<key>Music Folder</key><string>file://localhost/C:/Music/</string>\n"
         "\t<key>Tracks</key>\n\t<dict>\n";
  for (int i = 1; i <= kTracks; ++i) {
    const std::string id = std::to_string(i);
    const std::string artist = "Artist Number " + std::to_string(i % kArtists);
    const std::string album = "Album Title " + std::to_string(i % kAlbums);
    out << "\t\t<key>" << id << "</key>\n\t\t<dict>\n";
    Field(out, "Track ID", "integer", id);
    Field(out, "Name", "string", "Song Title Number " + id);
    Field(out, "Artist", "string", artist);
    Field(out, "Album", "string", album);
    Field(out, "Genre", "string", "Genre " + std::to_string(i % kGenres));
    Field(out, "Kind", "string", "MPEG audio file");
    Field(out, "Total Time", "integer", std::to_string(120000 + i % 300000));
    Field(out, "Rating", "integer", std::to_string(i % 6 * 20));
    Field(out, "Track Type", "string", "File");
    Field(out, "Location", "string",
          "file://localhost/C:/Music/" + artist + "/" + album + "/" + id + "%20Song%20Title.mp3");
    out << "\t\t</dict>\n";
  }
  out << "\t</dict>\n\t<key>Playlists</key>\n\t<array>\n";
  auto playlist = [&](const std::string& name, int playlistId, const char* extra, int first, int count) {
    out << "\t\t<dict>\n\t\t\t<key>Name</key><string>" << name << "</string>\n"
        << extra << "\t\t\t<key>Playlist ID</key><integer>" << playlistId << "</integer>\n"
        << "\t\t\t<key>Playlist Persistent ID</key><string>5A0E00000000" << playlistId << "</string>\n"
        << "\t\t\t<key>Playlist Items</key>\n\t\t\t<array>\n";
    for (int i = first; i < first + count; ++i)
      out << "\t\t\t\t<dict>\n\t\t\t\t\t<key>Track ID</key><integer>" << i << "</integer>\n\t\t\t\t</dict>\n";
    out << "\t\t\t</array>\n\t\t</dict>\n";
  };
  playlist("Library", 1000, "\t\t\t<key>Master</key><true/>\n", 1, kTracks);
  playlist("Music", 1001, "\t\t\t<key>Distinguished Kind</key><integer>4</integer>\n", 1, kTracks);
  for (int p = 0; p < kPlaylists; ++p) playlist("Playlist " + std::to_string(p), 1002 + p, "", 1 + p * 2000, 2000);
  out << "\t</array>\n</dict>\n</plist>\n";
}

// A field of /proc/self/status in MB (VmRSS: resident now, VmHWM: peak).
double StatusMB(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field + ":", 0) == 0) return std::strtod(line.c_str() + field.size() + 1, nullptr) / 1024;
  return 0;
}

// Starts the peak (VmHWM) again from what is resident now.
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

void BM_LoadLibraryXml(benchmark::State& state) {
  std::string folder = (std::filesystem::temp_directory_path() / "zorva-player-bench-XXXXXX").string();
  if (!mkdtemp(folder.data())) {
    state.SkipWithError("cannot make a temporary folder");
    return;
  }
  const std::string path = folder + "/Library.xml";
  WriteLibrary(path);
  double before = 0, peak = 0, after = 0;
  std::optional<pp::PlayerModel> model;
  for (auto _ : state) {
    state.PauseTiming();
    ResetPeak();
    before = StatusMB("VmRSS");
    state.ResumeTiming();
    model.emplace(pp::LoadLibraryXml(path));
    state.PauseTiming();
    peak = StatusMB("VmHWM");
    after = StatusMB("VmRSS");
    benchmark::DoNotOptimize(model->Status().trackCount);
    model.reset();
    state.ResumeTiming();
  }
  state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(path)) / (1 << 20);
  state.counters["rss_before_MB"] = before;
  state.counters["peak_MB"] = peak;
  state.counters["rss_after_MB"] = after;
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

BENCHMARK(BM_LoadLibraryXml)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

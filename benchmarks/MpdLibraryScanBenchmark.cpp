// The library scan from a real MPD of 2,000 generated songs (tagged Ogg
// Vorbis files made with sox once, kept in $TMPDIR/zorva-mpd-bench-songs;
// ZORVA_BENCH_MPD_SONGS=100000 makes and keeps another folder of that many),
// beside the same library in the in-process stand-in. The pause per track is
// left out (a manual clock that moves to every deadline at once). Figures per
// track: the whole scan into a new database, and reading the player alone;
// their difference is the database's time.
#include <benchmark/benchmark.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mpd/client.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "benchmarks/ScanBenchmarkSupport.h"
#include "platform/kernel/Clock.h"
#include "platform/player/ITunes.h"
#include "platform/player/standin/Library.h"
#include "platform/player/standin/PlayerModel.h"
#include "tests/support/SoxSong.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
namespace pp = platform::player;

int SongsOfEnvironment() {
  const char* songs = std::getenv("ZORVA_BENCH_MPD_SONGS");
  const int count = songs ? std::atoi(songs) : 0;
  return count > 0 ? count : 2000;
}
const int kSongs = SongsOfEnvironment();

struct SongTags {
  std::string path, title, artist, album, genre;
};

SongTags TagsOf(const std::string& folder, int i) {
  const std::string artist = "Artist " + std::to_string(i % std::max(1, kSongs / 20));
  const std::string album = "Album " + std::to_string(i % std::max(1, kSongs / 10));
  return {folder + "/" + artist + "/" + album + "/" + std::to_string(i) + ".ogg", "Song " + std::to_string(i), artist,
          album, "Genre " + std::to_string(i % 20)};
}

pid_t Spawn(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  std::vector<std::string> copy = argv;
  for (std::string& a : copy) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return -1;
  return pid;
}

void Reap(pid_t pid) {
  int status = 0;
  if (pid > 0) waitpid(pid, &status, 0);
}

// The songs, made four at a time the first time.
std::string Songs() {
  const char* tmp = std::getenv("TMPDIR");
  const std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/zorva-mpd-bench-songs" +
                             (kSongs == 2000 ? "" : "-" + std::to_string(kSongs));
  if (fs::exists(folder + "/.made")) return folder;
  std::vector<pid_t> running;
  for (int i = 1; i <= kSongs; ++i) {
    const SongTags t = TagsOf(folder, i);
    fs::create_directories(fs::path(t.path).parent_path());
    running.push_back(Spawn(zorva_test::SoxSongCommand(t.path, {t.title, t.artist, t.album, t.genre}, 0.1, 300)));
    if (running.size() == 4) {
      for (pid_t pid : running) Reap(pid);
      running.clear();
    }
  }
  for (pid_t pid : running) Reap(pid);
  std::ofstream(folder + "/.made") << "made\n";
  return folder;
}

// The stand-in's library of the same songs.
pp::LibraryData StandInLibrary(const std::string& folder) {
  return zorva_bench::StandInLibrary(kSongs, [&](int i, pp::TrackData& t) {
    const SongTags s = TagsOf(folder, i);
    t.name = s.title;
    t.artist = s.artist;
    t.album = s.album;
    t.genre = s.genre;
    t.location = s.path;
    t.seconds = 1;
  });
}

// The songs, an MPD serving them, a clock without waits and a folder for the
// databases and the MPD's files, made once per run.
class World {
 public:
  World() : songs_(Songs()), model_(StandInLibrary(songs_)) {
    clock_.SetAutoAdvance(true);
    platform::InstallClock(&clock_);
    std::string pattern = (fs::temp_directory_path() / "zorva-mpd-bench-XXXXXX").string();
    if (char* made = mkdtemp(pattern.data())) folder_ = made;
    fs::create_directories(folder_ + "/playlists");
    std::ofstream(folder_ + "/mpd.conf") << "music_directory \"" << songs_ << "\"\n"
                                         << "playlist_directory \"" << folder_ << "/playlists\"\n"
                                         << "db_file \"" << folder_ << "/db\"\n"
                                         << "bind_to_address \"" << folder_ << "/socket\"\n"
                                         << "audio_output {\n type \"null\"\n name \"null\"\n}\n";
    setenv("MPD_HOST", (folder_ + "/socket").c_str(), 1);
    setenv("XDG_DATA_HOME", folder_.c_str(), 1);
    setenv("ZORVA_PLAYER", "mpd", 1);
    mpd_ = Spawn({"mpd", "--no-daemon", folder_ + "/mpd.conf"});
    mpd_connection* c = nullptr;
    for (int tries = 0; tries < 600; ++tries) {
      c = mpd_connection_new((folder_ + "/socket").c_str(), 0, 10000);
      if (c && mpd_connection_get_error(c) == MPD_ERROR_SUCCESS) break;
      if (c) mpd_connection_free(c);
      c = nullptr;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));  // MPD coming up
    }
    if (!c) return;
    mpd_run_update(c, nullptr);
    for (bool updating = true; updating;) {
      mpd_status* status = mpd_run_status(c);
      updating = status && mpd_status_get_update_id(status) != 0;
      if (status) mpd_status_free(status);
      if (updating) std::this_thread::sleep_for(std::chrono::milliseconds(100));  // MPD reading the folder
    }
    mpd_connection_free(c);
  }
  ~World() {
    if (mpd_ > 0) {
      kill(mpd_, SIGTERM);
      Reap(mpd_);
    }
    platform::InstallClock(nullptr);
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  std::string FreshPath() {
    const std::string path = folder_ + "/music" + std::to_string(++files_) + ".db";
    fs::remove(path);
    return path;
  }
  zorva_bench::Scanner& Scanner() { return scanner_; }
  // While it lives, the programs reach the stand-in instead of MPD.
  std::unique_ptr<pp::ScopedInProcessPlayer> StandIn() { return std::make_unique<pp::ScopedInProcessPlayer>(model_); }

 private:
  std::string songs_;
  platform::ManualClock clock_;
  pp::PlayerModel model_;
  std::string folder_;
  pid_t mpd_ = -1;
  int files_ = 0;
  zorva_bench::Scanner scanner_;
};

World& TheWorld() {
  static World world;
  return world;
}

// Reads every track as the scan does, without the database: from MPD (0) or
// from the stand-in (1).
void BM_ReadPlayerOnly(benchmark::State& state) {
  World& world = TheWorld();
  auto standIn = state.range(0) ? world.StandIn() : nullptr;
  for (auto _ : state) {
    if (zorva_bench::ReadLibraryAsTheScanDoes() != kSongs) {
      state.SkipWithError("the library is not all there");
      return;
    }
  }
  zorva_bench::SetPerTrack(state, kSongs);
}

// The first scan: every track and tag inserted into a new database, from
// MPD (0) or from the stand-in (1).
void BM_ScanIntoNewDatabase(benchmark::State& state) {
  World& world = TheWorld();
  auto standIn = state.range(0) ? world.StandIn() : nullptr;
  zorva_bench::ScanIntoNewDatabases(state, world.Scanner(), [&] { return world.FreshPath(); });
  zorva_bench::SetPerTrack(state, kSongs);
}

// A rescan of the unchanged library into a database that holds it, from MPD
// (0) or from the stand-in (1).
void BM_RescanDatabase(benchmark::State& state) {
  World& world = TheWorld();
  auto standIn = state.range(0) ? world.StandIn() : nullptr;
  const std::string path = world.FreshPath();
  MusicDB db(path);
  ScopedMusicDB installed(db);
  world.Scanner().Scan();
  for (auto _ : state) world.Scanner().Scan();
  zorva_bench::SetPerTrack(state, kSongs);
}

BENCHMARK(BM_ReadPlayerOnly)->Arg(0)->Arg(1)->ArgName("stand_in")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ScanIntoNewDatabase)->Arg(0)->Arg(1)->ArgName("stand_in")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_RescanDatabase)->Arg(0)->Arg(1)->ArgName("stand_in")->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

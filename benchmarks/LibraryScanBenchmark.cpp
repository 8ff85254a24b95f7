// One library scan of 100,000 tracks (10,000 albums, 5,000 artists, 200
// genres) from the in-process media player, with the pause per track left
// out (a manual clock that moves to every deadline at once). The figures:
// the whole scan per track, and the reading of the player alone per track;
// their difference is the database's time per track.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "benchmarks/ScanBenchmarkSupport.h"
#include "platform/kernel/Clock.h"
#include "platform/player/ITunes.h"
#include "platform/player/standin/Library.h"
#include "platform/player/standin/PlayerModel.h"

namespace {

namespace pp = platform::player;

constexpr int kTracks = 100000;
constexpr int kAlbums = 10000;
constexpr int kArtists = 5000;
constexpr int kGenres = 200;

pp::LibraryData MakeLibrary() {
  return zorva_bench::StandInLibrary(kTracks, [](int i, pp::TrackData& t) {
    t.name = "Song " + std::to_string(i);
    t.artist = "Artist " + std::to_string(i % kArtists);
    t.album = "Album " + std::to_string(i % kAlbums);
    t.genre = "Genre " + std::to_string(i % kGenres);
    t.location = "/music/" + std::to_string(i % kArtists) + "/" + std::to_string(i) + ".mp3";
    t.seconds = 120 + i % 300;
  });
}

// The player, a clock without waits and a folder for the databases, made
// once per run.
class World {
 public:
  World() : model_(MakeLibrary()), binding_(model_) {
    clock_.SetAutoAdvance(true);
    platform::InstallClock(&clock_);
    std::string pattern = (std::filesystem::temp_directory_path() / "zorva-scan-bench-XXXXXX").string();
    if (char* made = mkdtemp(pattern.data())) folder_ = made;
  }
  ~World() {
    platform::InstallClock(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  std::string FreshPath() {
    const std::string path = folder_ + "/music" + std::to_string(++files_) + ".db";
    std::filesystem::remove(path);
    return path;
  }
  // One scan into theMusicDB's file.
  void Scan() { scanner_.Scan(); }
  zorva_bench::Scanner& Scanner() { return scanner_; }

 private:
  platform::ManualClock clock_;
  pp::PlayerModel model_;
  pp::ScopedInProcessPlayer binding_;
  std::string folder_;
  int files_ = 0;
  zorva_bench::Scanner scanner_;
};

World& TheWorld() {
  static World world;
  return world;
}

void SetPerTrack(benchmark::State& state) { zorva_bench::SetPerTrack(state, kTracks); }

// Reads every track as the scan does, without the database.
void BM_ReadPlayerOnly(benchmark::State& state) {
  TheWorld();
  for (auto _ : state) zorva_bench::ReadLibraryAsTheScanDoes();
  SetPerTrack(state);
}

// The first scan: every track and tag inserted into a new database.
void BM_ScanIntoNewDatabase(benchmark::State& state) {
  World& world = TheWorld();
  zorva_bench::ScanIntoNewDatabases(state, world.Scanner(), [&] { return world.FreshPath(); });
  SetPerTrack(state);
}

// A rescan of the unchanged library into a database that holds it: without
// (0) or with (1) the planner's statistics.
void BM_RescanDatabase(benchmark::State& state) {
  World& world = TheWorld();
  const bool analysed = state.range(0) != 0;
  const std::string path = world.FreshPath();
  {
    MusicDB db(path);
    ScopedMusicDB installed(db);
    world.Scan();
    if (analysed) db.Analyze();
  }
  MusicDB db(path);
  ScopedMusicDB installed(db);
  for (auto _ : state) world.Scan();
  SetPerTrack(state);
}

BENCHMARK(BM_ReadPlayerOnly)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ScanIntoNewDatabase)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_RescanDatabase)->Arg(0)->Arg(1)->ArgName("analysed")->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

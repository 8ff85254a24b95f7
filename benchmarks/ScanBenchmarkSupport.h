// What the library scan benchmarks share: the scan as the worker runs it, the
// reading of the player alone, and the figures per track.
#pragma once

#include <benchmark/benchmark.h>

#include <functional>
#include <memory>
#include <string>

#include "core/ITunesPlayer.h"
#include "core/MusicDB.h"
#include "core/MusicPlayer.h"
#include "platform/kernel/Sync.h"
#include "platform/player/ITunes.h"
#include "platform/player/standin/Library.h"

namespace zorva_bench {

// A stand-in library of `count` tracks in its library playlist; `fill` sets
// each track's data (its database id is its number, from 1).
inline platform::player::LibraryData StandInLibrary(
    int count, const std::function<void(int, platform::player::TrackData&)>& fill) {
  platform::player::LibraryData library;
  platform::player::PlaylistData main;
  main.playlistId = 1;
  main.name = "Library";
  for (int i = 1; i <= count; ++i) {
    platform::player::TrackData t;
    t.databaseId = i;
    fill(i, t);
    library.tracks.push_back(std::move(t));
    main.trackIds.push_back(i);
  }
  library.playlists.push_back(std::move(main));
  return library;
}

// One scan of the player's library into theMusicDB, with the worker's events.
class Scanner {
 public:
  Scanner() {
    quit_.Reset(CreateEvent(nullptr, TRUE, FALSE, nullptr));
    pause_.Reset(CreateEvent(nullptr, TRUE, FALSE, nullptr));
  }
  void Scan() {
    ITunesPlayer player(nullptr);
    player.Connect(false);
    libraryChanged = true;
    player.ScanLibrary(quit_.Get(), pause_.Get());
  }

 private:
  platform::UniqueHandle quit_;
  platform::UniqueHandle pause_;
};

inline void SetPerTrack(benchmark::State& state, long tracks) {
  state.SetItemsProcessed(state.iterations() * tracks);
  state.counters["per_track_us"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * static_cast<double>(tracks),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::kIs1000);
}

// Reads every track of the player's library as the scan does, without the
// database; the count read, or -1 without a player.
inline long ReadLibraryAsTheScanDoes() {
  namespace pp = platform::player;
  std::shared_ptr<pp::IiTunes> app;
  if (pp::CoCreateITunesApp(&app) != S_OK) return -1;
  std::shared_ptr<pp::IITPlaylist> library;
  std::shared_ptr<pp::IITTrackCollection> tracks;
  if (FAILED(app->get_LibraryPlaylist(&library)) || !library || FAILED(library->get_Tracks(&tracks)) || !tracks)
    return -1;
  long count = 0;
  tracks->get_Count(&count);
  for (long i = 1; i <= count; ++i) {
    std::shared_ptr<pp::IITTrack> item;
    tracks->get_Item(i, &item);
    pp::ITTrackKind kind = pp::ITTrackKindUnknown;
    item->get_Kind(&kind);
    Track track;
    ConvertITunesTrack(track, item);
    item->get_Kind(&kind);
    benchmark::DoNotOptimize(track.location.data());
  }
  return count;
}

// Each iteration scans into a new database file, `path` giving its name.
inline void ScanIntoNewDatabases(benchmark::State& state, Scanner& scanner, const std::function<std::string()>& path) {
  for (auto _ : state) {
    state.PauseTiming();
    auto db = std::make_unique<MusicDB>(path());
    auto installed = std::make_unique<ScopedMusicDB>(*db);
    state.ResumeTiming();
    scanner.Scan();
    state.PauseTiming();
    installed.reset();
    db.reset();
    state.ResumeTiming();
  }
}

}  // namespace zorva_bench

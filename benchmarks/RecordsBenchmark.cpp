// Queries of the records on a library of 100,000 tracks with 10,000 albums,
// 5,000 artists and 200 genres, generated once per run into a temporary file.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "benchmarks/GeneratedLibrary.h"
#include "core/MusicDB.h"

namespace {

using zorva_bench::kAlbums;
using zorva_bench::kArtists;
using zorva_bench::kGenres;
using zorva_bench::Library;

Library& TheLibrary() {
  static Library library;
  return library;
}

void RefillQueue(benchmark::State& state, const Mix& mix, MusicDB& db) {
  for (auto _ : state) {
    for (int i = 0; i < 10; ++i) benchmark::DoNotOptimize(db.GetNextRandomTrack(mix, i == 0));
  }
}

void BM_QueueRefillRandomMix(benchmark::State& state) {
  MusicDB db(TheLibrary().AnalysedPath());
  RefillQueue(state, Mix(), db);
}
BENCHMARK(BM_QueueRefillRandomMix)->Unit(benchmark::kMillisecond);

void BM_QueueRefillSmallTagMix(benchmark::State& state) {
  MusicDB db(TheLibrary().AnalysedPath());
  RefillQueue(state, db.GetMix(TheLibrary().smallMixId), db);
}
BENCHMARK(BM_QueueRefillSmallTagMix)->Unit(benchmark::kMillisecond);

void BM_QueueRefillLargeTagMix(benchmark::State& state) {
  MusicDB db(TheLibrary().AnalysedPath());
  Mix mix = db.GetMix(TheLibrary().largeMixId);
  RefillQueue(state, mix, db);
  state.counters["mix tracks"] = mix.GetPlaylistTrackCount();
}
BENCHMARK(BM_QueueRefillLargeTagMix)->Unit(benchmark::kMillisecond);

void BM_TagsByType(benchmark::State& state) {
  MusicDB db(TheLibrary().AnalysedPath());
  const int type = static_cast<int>(state.range(0));
  std::size_t count = 0;
  for (auto _ : state) {
    TagList tags;
    db.GetTagsByType(tags, type, "");
    count = tags.size();
  }
  state.SetLabel(TagTypeWord(type));
  state.counters["tags"] = static_cast<double>(count);
}
BENCHMARK(BM_TagsByType)->Arg(TagGenre)->Arg(TagAlbum)->Arg(TagArtist)->Unit(benchmark::kMillisecond);

void BM_LabTrackPage(benchmark::State& state) {
  MusicDB db(TheLibrary().AnalysedPath());
  const int offset = static_cast<int>(state.range(0));
  for (auto _ : state) {
    TrackList tracks;
    benchmark::DoNotOptimize(db.GetEnabledTracks(tracks, offset, 100));
    std::string html;
    for (const Track& track : tracks) html += track.GetLabListHtml();
    benchmark::DoNotOptimize(html);
  }
}
BENCHMARK(BM_LabTrackPage)->Arg(0)->Arg(50000)->Unit(benchmark::kMillisecond);

void BM_NameSearch(benchmark::State& state) {
  MusicDB db(TheLibrary().AnalysedPath());
  for (auto _ : state) {
    TrackList tracks;
    db.SearchTracks(tracks, "%ver 0424%", 0, 10);
    benchmark::DoNotOptimize(tracks);
  }
}
BENCHMARK(BM_NameSearch)->Unit(benchmark::kMillisecond);

void AddTracks(benchmark::State& state, const std::string& path) {
  MusicDB db(path);
  static int next = 0;
  for (auto _ : state) {
    Track track;
    ++next;
    track.name = "New " + std::to_string(next);
    track.album = "Album " + std::to_string(next % kAlbums);
    track.artist = "Artist " + std::to_string(next % kArtists);
    track.genre = "Genre " + std::to_string(next % kGenres);
    track.location = "/music/new/" + std::to_string(next) + ".mp3";
    track.length = 200;
    benchmark::DoNotOptimize(db.AddOrUpdateTrack(track));
  }
}

void BM_AddOrUpdateTrackNewDatabase(benchmark::State& state) { AddTracks(state, TheLibrary().NewPath()); }
BENCHMARK(BM_AddOrUpdateTrackNewDatabase)->Unit(benchmark::kMicrosecond);

void BM_AddOrUpdateTrackAnalysedDatabase(benchmark::State& state) { AddTracks(state, TheLibrary().AnalysedPath()); }
BENCHMARK(BM_AddOrUpdateTrackAnalysedDatabase)->Unit(benchmark::kMicrosecond);

}  // namespace

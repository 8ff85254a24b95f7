// Queries of the records on a library of 100,000 tracks with 10,000 albums,
// 5,000 artists and 200 genres, generated once per run into a temporary file.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/MusicDB.h"

namespace {

constexpr int kTracks = 100000;
constexpr int kAlbums = 10000;
constexpr int kArtists = 5000;
constexpr int kGenres = 200;
constexpr int kGenreBase = 1;
constexpr int kAlbumBase = kGenreBase + kGenres;
constexpr int kArtistBase = kAlbumBase + kAlbums;

class Library {
 public:
  Library() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zorva-bench-XXXXXX").string();
    if (char* made = mkdtemp(pattern.data())) folder_ = made;
    Generate(NewPath());
    std::filesystem::copy_file(NewPath(), AnalysedPath());
    MusicDB analysed(AnalysedPath());
    analysed.Analyze();
  }
  ~Library() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  std::string NewPath() const { return folder_ + "/new.db"; }
  std::string AnalysedPath() const { return folder_ + "/analysed.db"; }
  int smallMixId = 0;
  int largeMixId = 0;

 private:
  void Generate(const std::string& path) {
    MusicDB db(path);
    ScopedMusicDB installed(db);
    db.Exec("BEGIN");
    db.Exec(
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < " +
        std::to_string(kTracks - 1) +
        ") INSERT INTO track (id, name, album, artist, location, genre, length, enabled) "
        "SELECT i + 1, printf('%s %06d', CASE i % 5 WHEN 0 THEN 'Love' WHEN 1 THEN 'Night' "
        "WHEN 2 THEN 'Blue' WHEN 3 THEN 'River' ELSE 'Song' END, (i * 7919) % 100000), "
        "'Album ' || (i % " + std::to_string(kAlbums) + "), 'Artist ' || (i % " +
        std::to_string(kArtists) + "), '/music/' || i || '.mp3', 'Genre ' || (i % " +
        std::to_string(kGenres) + "), 120 + i % 300, CASE WHEN i % 97 = 0 THEN 0 ELSE 1 END FROM n");
    auto tags = [&](int base, int count, const char* word, int type) {
      db.Exec("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < " +
              std::to_string(count - 1) + ") INSERT INTO tag (id, name, type) SELECT i + " +
              std::to_string(base) + ", '" + word + " ' || i, " + std::to_string(type) + " FROM n");
      db.Exec("INSERT INTO tracktag (trackid, tagid) SELECT id, " + std::to_string(base) +
              " + (id - 1) % " + std::to_string(count) + " FROM track");
    };
    tags(kGenreBase, kGenres, "Genre", TagGenre);
    tags(kAlbumBase, kAlbums, "Album", TagAlbum);
    tags(kArtistBase, kArtists, "Artist", TagArtist);

    // A small mix of one album (10 tracks) and a large one of 40 genres
    // (20,000 tracks).
    Mix small;
    small.AddTag(Tag("Album 42", TagAlbum, kAlbumBase + 42), false);
    small.Rename("Small");
    smallMixId = small.GetId();
    Mix large;
    for (int g = 0; g < 40; ++g) large.AddTag(Tag("Genre " + std::to_string(g), TagGenre, kGenreBase + g), false);
    db.AddMix(large);
    largeMixId = large.GetId();
    db.Exec("COMMIT");
  }

  std::string folder_;
};

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

void BM_AddOrUpdateTrackAnalysedDatabase(benchmark::State& state) {
  AddTracks(state, TheLibrary().AnalysedPath());
}
BENCHMARK(BM_AddOrUpdateTrackAnalysedDatabase)->Unit(benchmark::kMicrosecond);

}  // namespace

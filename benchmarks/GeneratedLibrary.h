// A generated music library for the benchmarks: 100,000 tracks (unless
// ZORVA_BENCH_TRACKS says otherwise) with 10,000
// albums, 5,000 artists and 200 genres (every 97th track disabled), written
// once into a temporary folder, with an analysed copy.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/MusicDB.h"

namespace zorva_bench {

// ZORVA_BENCH_TRACKS=300000 generates a larger library over the same albums,
// artists and genres.
inline int TracksOfEnvironment() {
  const char* tracks = std::getenv("ZORVA_BENCH_TRACKS");
  const int count = tracks ? std::atoi(tracks) : 0;
  return count > 0 ? count : 100000;
}
inline const int kTracks = TracksOfEnvironment();
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
    db.Exec("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(kTracks - 1) +
            ") INSERT INTO track (id, name, album, artist, location, genre, length, enabled) "
            "SELECT i + 1, printf('%s %06d', CASE i % 5 WHEN 0 THEN 'Love' WHEN 1 THEN 'Night' "
            "WHEN 2 THEN 'Blue' WHEN 3 THEN 'River' ELSE 'Song' END, (i * 7919) % 100000), "
            "'Album ' || (i % " +
            std::to_string(kAlbums) + "), 'Artist ' || (i % " + std::to_string(kArtists) +
            "), '/music/' || i || '.mp3', 'Genre ' || (i % " + std::to_string(kGenres) +
            "), 120 + i % 300, CASE WHEN i % 97 = 0 THEN 0 ELSE 1 END FROM n");
    auto tags = [&](int base, int count, const char* word, int type) {
      db.Exec("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(count - 1) +
              ") INSERT INTO tag (id, name, type) SELECT i + " + std::to_string(base) + ", '" + word + " ' || i, " +
              std::to_string(type) + " FROM n");
      db.Exec("INSERT INTO tracktag (trackid, tagid) SELECT id, " + std::to_string(base) + " + (id - 1) % " +
              std::to_string(count) + " FROM track");
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

}  // namespace zorva_bench

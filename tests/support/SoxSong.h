// The sox command that makes a short tagged Ogg Vorbis song of one sine
// tone: the music of the tests and benchmarks on a real MPD. Header only,
// without gtest.
#pragma once

#include <string>
#include <vector>

namespace zorva_test {

struct SongTags {
  std::string title, artist, album, genre;
};

// sox's arguments for the song at `path` (its folder must exist).
inline std::vector<std::string> SoxSongCommand(const std::string& path, const SongTags& tags, double seconds,
                                               int tone) {
  return {"sox",
          "-q",
          "-n",
          "-r",
          "8000",
          "-c",
          "1",
          "--add-comment",
          "TITLE=" + tags.title,
          "--add-comment",
          "ARTIST=" + tags.artist,
          "--add-comment",
          "ALBUM=" + tags.album,
          "--add-comment",
          "GENRE=" + tags.genre,
          path,
          "synth",
          std::to_string(seconds),
          "sine",
          std::to_string(tone)};
}

}  // namespace zorva_test

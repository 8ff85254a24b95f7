// A music database in a fresh temporary folder, installed as theMusicDB, for
// the tests of the records and their queries.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "core/Mix.h"
#include "core/MusicDB.h"
#include "core/Tag.h"
#include "tests/core/DatabaseTestSupport.h"

namespace zorva_test {

class RecordsTest : public ::testing::Test {
 protected:
  // Adds a track as a library scan does and returns it with its id.
  Track AddTrack(const std::string& name, const std::string& artist, const std::string& album, const std::string& genre,
                 int length = 200) {
    Track track;
    track.name = name;
    track.artist = artist;
    track.album = album;
    track.genre = genre;
    track.location = "/music/" + artist + "/" + album + "/" + name + ".mp3";
    track.length = length;
    db.AddOrUpdateTrack(track);
    std::string storedGenre;
    db.FindTrackByLocation(track, storedGenre);
    return track;
  }

  // A stored mix of one genre tag (with a track of that genre), named `name`.
  Mix StoreMix(const std::string& name) {
    AddTrack(name + " song", name + " artist", name + " album", name);
    Mix mix;
    mix.AddTag(db.FindOrCreateTag(name, TagGenre), false);
    mix.Rename(name);
    return mix;
  }

  // The first column of the first row of a query, as a number.
  int Number(const std::string& sql) {
    SQLiteRowSet rows;
    db.Query(sql, rows);
    if (rows.empty() || rows.front().Empty()) return -1;
    return std::atoi(rows.front().begin()->second.c_str());
  }

  TempFolder folder;
  MusicDB db{folder.File("music.db")};
  ScopedMusicDB installed{db};
};

}  // namespace zorva_test

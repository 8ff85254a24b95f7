// The listings of the music database against the plain statements they
// stand for, run on a copy of the same file without the indexes that the
// program adds; the indexes made at open; the tag lists kept between changes,
// and the mix tags read from them.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/MusicDB.h"
#include "core/Schedule.h"
#include "tests/core/RecordsTestSupport.h"

namespace {

constexpr const char* kAddedIndexes[] = {"tag_name_type_idx", "tracktag_tag_track_idx", "tracktag_track_tag_idx",
                                         "track_enabled_name_idx"};

std::string Describe(const Tag& tag) {
  return std::to_string(tag.id) + "|" + tag.name + "|" + std::to_string(tag.type) + "|" +
         std::to_string(tag.frequency) + "|" + tag.GetLabel();
}

std::string Describe(const Track& track) {
  return std::to_string(track.id) + "|" + track.name + "|" + track.album + "|" + track.artist + "|" + track.location +
         "|" + track.genre + "|" + std::to_string(track.length) + "|" + (track.enabled ? "1" : "0");
}

template <typename List>
std::vector<std::string> Describe(const List& list) {
  std::vector<std::string> out;
  for (const auto& item : list) out.push_back(Describe(item));
  return out;
}

// A connection that counts the rows its statements give, so a test can tell
// lists kept from lists read again.
class CountingDB : public MusicDB {
 public:
  explicit CountingDB(const std::string& path) : MusicDB(path) {
    sqlite3_trace_v2(Handle(), SQLITE_TRACE_ROW, &CountingDB::Count, this);
  }
  // The rows the call read from the file.
  template <typename Call>
  int RowsRead(Call call) {
    rows_ = 0;
    call();
    return rows_;
  }

 private:
  static int Count(unsigned /*event*/, void* self, void* /*statement*/, void* /*unused*/) {
    ++static_cast<CountingDB*>(self)->rows_;
    return 0;
  }
  int rows_ = 0;
};

class MusicDBQueryTest : public zorva_test::RecordsTest {
 protected:
  void SetUp() override {
    // Names repeat across tracks and tag types, ids are not in the order the
    // rows were stored, a pair is assigned twice, and assignments name
    // tracks that do not exist.
    ASSERT_EQ(db.Exec("BEGIN"), SQLITE_OK);
    for (int i = 1; i <= 60; ++i) {
      const int id = (i * 37) % 61;
      db.Exec("INSERT INTO track (id, name, album, artist, location, genre, length, enabled) VALUES (" +
              std::to_string(id) + ", 'Song " + std::to_string(i % 7) + "', 'Al', 'Ar', '/m/" + std::to_string(i) +
              "', 'G', " + std::to_string(100 + i) + ", " + (i % 5 == 0 ? "0" : "1") + ")");
    }
    for (int i = 1; i <= 24; ++i) {
      const int id = (i * 7) % 25;
      db.Exec("INSERT INTO tag (id, name, type) VALUES (" + std::to_string(id) + ", 'Tag " + std::to_string(i % 5) +
              "', " + std::to_string(i % 4) + ")");
    }
    for (int i = 0; i < 150; ++i) {
      const int track = (i * 13) % 63;  // 0, 61 and 62 name no track
      const int tag = (i * 11) % 26;    // 0 and 25 name no tag
      db.Exec("INSERT INTO tracktag (trackid, tagid) VALUES (" + std::to_string(track) + ", " + std::to_string(tag) +
              ")");
    }
    db.Exec("INSERT INTO tracktag (trackid, tagid) SELECT trackid, tagid FROM tracktag WHERE id % 9 = 0");
    db.Exec("INSERT INTO mix (id, name) VALUES (1, 'Mix')");
    for (int tag : {2, 5, 5, 9, 14, 25}) {
      db.Exec("INSERT INTO mixtag (mixid, tagid) VALUES (1, " + std::to_string(tag) + ")");
    }
    for (int i = 0; i < 12; ++i) {
      db.Exec("INSERT INTO trackPlayRecord (trackid, mixid) VALUES (" + std::to_string((i * 5) % 64) + ", 1)");
    }
    ASSERT_EQ(db.Exec("COMMIT"), SQLITE_OK);
    RefreshReference();
  }

  // A copy of the file as the plain schema has it.
  void RefreshReference() {
    reference.Close();
    std::filesystem::copy_file(folder.File("music.db"), folder.File("plain.db"),
                               std::filesystem::copy_options::overwrite_existing);
    ASSERT_TRUE(reference.Open(folder.File("plain.db")));
    for (const char* index : kAddedIndexes) reference.Exec(std::string("DROP INDEX ") + index);
  }

  SQLiteRowSet Plain(const std::string& sql) {
    SQLiteRowSet rows;
    EXPECT_EQ(reference.Query(sql, rows), SQLITE_OK) << sql;
    return rows;
  }
  std::vector<std::string> PlainTags(const std::string& sql) {
    TagList tags;
    for (const auto& row : Plain(sql)) tags.emplace_back(row);
    return Describe(tags);
  }
  std::vector<std::string> PlainTracks(const std::string& sql) {
    TrackList tracks;
    for (const auto& row : Plain(sql)) tracks.emplace_back(row);
    return Describe(tracks);
  }

  std::vector<std::string> TagsByType(int type, MusicDB& lists) {
    TagList tags;
    lists.GetTagsByType(tags, type, "");
    return Describe(tags);
  }
  std::vector<std::string> PlainTagsByType(int type) {
    return PlainTags(
        "SELECT tag.id as id, tag.name as name, tag.type as type, count (tag.id) as frequency FROM track, "
        "tracktag, tag WHERE track.enabled = 1 and track.id = tracktag.trackid AND type = " +
        std::to_string(type) + "  AND tracktag.tagid = tag.id GROUP BY tag.id ORDER by frequency DESC");
  }

  // Every listing that a change can alter, next to its plain statement.
  void ExpectTagListsAsPlain() { ExpectTagListsAsPlain(db); }
  void ExpectTagListsAsPlain(MusicDB& lists) {
    RefreshReference();
    for (int type = 0; type <= 5; ++type) EXPECT_EQ(TagsByType(type, lists), PlainTagsByType(type)) << type;
    TagList all;
    EXPECT_EQ(lists.GetTagsPage(all, 0, 1000), Number("SELECT COUNT (id) FROM tag"));
    EXPECT_EQ(Describe(all),
              PlainTags("SELECT tag.*, count (tag.id) as frequency FROM tag, track, tracktag WHERE track.enabled = "
                        "1 AND track.id = tracktag.trackid AND tag.id = tracktag.tagid GROUP BY tag.id ORDER BY "
                        "tag.name"));
  }

  SQLiteDB reference;
};

TEST_F(MusicDBQueryTest, TagListingsEqualThePlainStatements) {
  ExpectTagListsAsPlain();
  const std::string tagsPage =
      "SELECT tag.*, count (tag.id) as frequency FROM tag, track, tracktag WHERE track.enabled = 1 AND track.id "
      "= tracktag.trackid AND tag.id = tracktag.tagid GROUP BY tag.id ORDER BY tag.name ";
  for (auto [offset, limit] : {std::pair{0, 5}, {5, 5}, {17, 100}, {-3, 4}, {2, -1}, {400, 10}}) {
    TagList page;
    db.GetTagsPage(page, offset, limit);
    EXPECT_EQ(Describe(page),
              PlainTags(tagsPage + "limit " + std::to_string(limit) + " offset " + std::to_string(offset)))
        << offset << " " << limit;
  }
  for (int id : {2, 5, 9, 13, 25}) {
    TagList related;
    db.GetRelatedTags(related, Tag("", 0, id));
    EXPECT_EQ(Describe(related),
              PlainTags("SELECT tag.*, count (tag.id) as frequency FROM tag, track, tracktag as t1, tracktag as "
                        "t2 WHERE track.enabled = 1 AND track.id = t2.trackid AND tag.id = t2.tagid AND t2.trackid "
                        "= t1.trackid AND t1.tagid = " +
                        std::to_string(id) + " AND tag.id != " + std::to_string(id) +
                        " GROUP BY tag.id ORDER BY frequency DESC"));
  }
  TagList patterned;
  db.GetTagsByTypePage(patterned, 1, "Tag%", 1, 2);
  EXPECT_EQ(Describe(patterned),
            PlainTags("SELECT tag.id as id, tag.name as name, tag.type as type, count (tag.id) as frequency FROM "
                      "track, tracktag, tag WHERE track.enabled = 1 and track.id = tracktag.trackid AND type = 1  "
                      "AND tracktag.tagid = tag.id AND tag.name like 'Tag%' GROUP BY tag.id ORDER by frequency "
                      "DESC limit 2 offset 1;"));
  Mix mix = db.GetMix(1);
  EXPECT_EQ(Describe(mix.GetTags()),
            PlainTags("SELECT  tag.id as id, tag.name as name, tag.type as type, count (tag.id) as frequency FROM "
                      "track, mixtag, tag, tracktag WHERE track.enabled = 1 AND track.id = tracktag.trackid AND "
                      "tracktag.tagid = mixtag.tagid AND mixtag.tagid = tag.id AND mixid = 1 GROUP BY tag.id"));
}

TEST_F(MusicDBQueryTest, MixTagsEqualThePlainStatementWhetherTheTagListsAreKeptOrNot) {
  // Types and ids that are not integers, a tag carried only by a dumped
  // track (2), ids beyond an int and below zero, rows named twice, and mix
  // rows that name no tag or another mix in text.
  db.Exec(
      "INSERT INTO tag (id, name, type) VALUES (30, 'Text type', 'abc'), (31, 'Real type', 2.5), "
      "(32, NULL, NULL), (33, 'Dumped only', 0), (5000000000, 'Far', 1), (-4, 'Below', 3)");
  db.Exec(
      "INSERT INTO tracktag (trackid, tagid) VALUES (3, 30), (3, 30), (4, 31), (6, 32), (2, 33), "
      "('3x', 30), (3.5, 31), (4, '30x'), (4, 30.5), (5, 5000000000), (6, 5000000000), (7, -4)");
  db.Exec("INSERT INTO mix (id, name) VALUES (2, 'Odd'), (3, 'Empty')");
  db.Exec(
      "INSERT INTO mixtag (mixid, tagid) VALUES (2, 30), (2, 30), (2, 31), (2, 32), (2, 33), "
      "(2, '30x'), (2, 31.5), (2, 99), (2, 5), (2, 5000000000), (2, -4), (2, -4), (2, -4), ('2x', 9)");
  const std::string mixTags =
      "SELECT  tag.id as id, tag.name as name, tag.type as type, count (tag.id) as frequency FROM track, mixtag, "
      "tag, tracktag WHERE track.enabled = 1 AND track.id = tracktag.trackid AND tracktag.tagid = mixtag.tagid AND "
      "mixtag.tagid = tag.id AND mixid = ";
  auto expectAsPlain = [&](const std::string& when) {
    RefreshReference();
    MixList listed;
    db.GetMixes(listed, false);
    ASSERT_EQ(listed.size(), 3u) << when;
    for (const Mix& mix : listed) {
      const std::string sql = mixTags + std::to_string(mix.GetId()) + " GROUP BY tag.id";
      int total = 0;
      for (const auto& row : Plain(sql)) total += row.GetInt("frequency");
      const Mix loaded = db.GetMix(mix.GetId());
      for (const Mix* each : {&mix, &loaded}) {
        EXPECT_EQ(Describe(each->GetTags()), PlainTags(sql)) << when << " mix " << mix.GetId();
        EXPECT_EQ(each->GetPlaylistTrackCount(), total) << when << " mix " << mix.GetId();
      }
    }
  };
  auto readTagLists = [&] {
    TagList tags;
    db.GetTagsPage(tags, 0, 1);
  };
  expectAsPlain("never listed");
  readTagLists();
  expectAsPlain("listed");
  const std::pair<const char*, std::function<void()>> changes[] = {
      {"dump",
       [&] {
         Track track(3);
         db.DisableTrack(track);
       }},
      {"mix tag added", [&] { db.AddMixTag(db.GetMix(2), Tag("", 0, 13)); }},
      {"mix tag removed", [&] { db.RemoveMixTag(db.GetMix(2), Tag("", 0, 30)); }},
      {"tag deleted", [&] { db.DeleteTag(Tag("", 0, 31)); }},
      {"another connection",
       [&] {
         MusicDB other(folder.File("music.db"));
         Track track(6);
         other.DisableTrack(track);
         other.AddMixTag(other.GetMix(1), Tag("", 0, 33));
       }},
  };
  for (const auto& [change, apply] : changes) {
    apply();
    expectAsPlain(std::string(change) + ", not listed since");
    readTagLists();
    expectAsPlain(std::string(change) + ", listed");
  }
}

TEST_F(MusicDBQueryTest, TrackListingsEqualThePlainStatements) {
  const std::string page = " limit 7 offset 3;";
  TrackList enabled;
  EXPECT_EQ(db.GetEnabledTracks(enabled, 3, 7), 48);
  EXPECT_EQ(Describe(enabled),
            PlainTracks("SELECT  track.* FROM track WHERE track.enabled = 1 order by track.name" + page));
  TrackList dumped;
  EXPECT_EQ(db.GetDisabledTracks(dumped, 3, 7), 12);
  EXPECT_EQ(Describe(dumped),
            PlainTracks("SELECT  track.* FROM track WHERE track.enabled = 0 order by track.name" + page));
  TrackList found;
  db.SearchTracks(found, "%ng 3%", 3, 7);
  EXPECT_EQ(Describe(found), PlainTracks("SELECT  track.* FROM track WHERE track.enabled = 1 AND track.name "
                                         "LIKE '%ng 3%' order by track.name" +
                                         page));
  for (int id : {2, 5, 9, 13}) {
    TrackList ofTag;
    db.GetTracksOfTag(Tag("", 0, id), ofTag, 1, 7);
    EXPECT_EQ(Describe(ofTag),
              PlainTracks("SELECT  track.* FROM track, tracktag WHERE track.enabled = 1 AND track.id = "
                          "tracktag.trackid AND tracktag.tagid = " +
                          std::to_string(id) + " order by track.name limit 7 offset 1;"))
        << id;
  }
  for (int offset : {0, 4, 30}) {
    TrackList ofMix;
    db.GetTracksOfMix(db.GetMix(1), ofMix, offset, 9);
    EXPECT_EQ(Describe(ofMix),
              PlainTracks("SELECT  track.* FROM track, tracktag, tag, mixtag WHERE track.enabled = 1 AND track.id "
                          "= tracktag.trackid AND tag.id = tracktag.tagid AND mixtag.tagid = tag.id AND "
                          "mixtag.mixid = 1 order by track.name limit 9 offset " +
                          std::to_string(offset)));
  }
  for (int n : {0, 3, 11, 12}) {
    std::vector<std::string> played = PlainTracks(
        "SELECT track.* FROM trackPlayRecord, track WHERE trackPlayRecord.trackid = track.id order by "
        "trackPlayRecord.id desc limit 1 offset " +
        std::to_string(n));
    if (played.empty()) played.push_back(Describe(Track()));
    EXPECT_EQ(Describe(db.GetRecentlyPlayedTrack(n)), played.front()) << n;
  }
}

TEST_F(MusicDBQueryTest, OlderFileGainsTheIndexesAtOpenOnce) {
  const std::string path = folder.File("older.db");
  {
    SQLiteDB plain;
    ASSERT_TRUE(plain.Open(path));
    plain.Exec(
        "CREATE TABLE tag (id INTEGER NOT NULL PRIMARY KEY UNIQUE, name VARCHAR2(255) COLLATE NOCASE, type "
        "INTEGER);"
        "CREATE TABLE track (id INTEGER NOT NULL PRIMARY KEY UNIQUE, name VARCHAR2(255), album VARCHAR(255), "
        "artist VARCHAR2(255), location VARCHAR2(255), genre VARCHAR2(255) COLLATE NOCASE, length INTEGER, "
        "ondisk INTEGER DEFAULT '1', enabled INTEGER DEFAULT '1', reenableDate DATETIME);"
        "CREATE TABLE tracktag (id INTEGER NOT NULL PRIMARY KEY UNIQUE, trackid INTEGER, tagid INTEGER, "
        "enabled INTEGER DEFAULT '1', reenableDate DATETIME);"
        "CREATE TABLE version (id INTEGER NOT NULL, name VARCHAR2(255));"
        "INSERT INTO version (id, name) VALUES (102, '102');");
  }
  const std::string indexes =
      "SELECT COUNT(*) FROM sqlite_master WHERE type = 'index' AND name IN "
      "('tag_name_type_idx', 'tracktag_tag_track_idx', 'tracktag_track_tag_idx', "
      "'track_enabled_name_idx')";
  for (int open = 0; open < 2; ++open) {
    MusicDB older(path);
    EXPECT_EQ(older.GetSchemaVersion(), 102);
    SQLiteRowSet rows;
    older.Query(indexes, rows);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows.front().begin()->second, "4");
  }
  EXPECT_EQ(Number(indexes), 4);
}

TEST_F(MusicDBQueryTest, TagListsFollowScansDumpsAndTagEdits) {
  ExpectTagListsAsPlain();
  // A scan on a connection of its own.
  {
    MusicDB scan(folder.File("music.db"));
    for (int i = 0; i < 3; ++i) {
      Track track;
      track.name = "New";
      track.album = "Tag 1";
      track.genre = "Fresh";
      track.location = "/new/" + std::to_string(i);
      scan.AddOrUpdateTrack(track);
    }
  }
  ExpectTagListsAsPlain();
  Track dump(7);
  // The play history leaves the lists as they were; a change after it still shows.
  db.AddPlayRecord(dump, Mix());
  db.PurgePlayRecords(90);
  ExpectTagListsAsPlain();
  db.AddPlayRecord(dump, Mix());
  db.DisableTrack(dump);
  ExpectTagListsAsPlain();
  db.EnableTrack(dump);
  ExpectTagListsAsPlain();
  Tag renamed = db.FindOrCreateTag("Fresh", TagGenre);
  renamed.Rename("Aaa first");
  ExpectTagListsAsPlain();
  db.SetTrackTag(dump, "Mine", TagZorva, false);
  db.SetTrackTag(dump, "Mine", TagZorva, false);
  ExpectTagListsAsPlain();
  db.DeleteTag(renamed);
  ExpectTagListsAsPlain();
}

TEST_F(MusicDBQueryTest, UpgradedFileGetsStatisticsForTheIndexesItGains) {
  // Files of the releases before the indexes, one analysed by its monthly
  // analysis and one never analysed.
  for (const bool analysed : {true, false}) {
    const std::string path = folder.File(analysed ? "analysed.db" : "unanalysed.db");
    std::filesystem::copy_file(folder.File("plain.db"), path);
    {
      SQLiteDB older;
      ASSERT_TRUE(older.Open(path));
      if (analysed) {
        ASSERT_EQ(older.Exec("ANALYZE"), SQLITE_OK);
      }
    }
    MusicDB upgraded(path);
    for (const char* index : kAddedIndexes) {
      SQLiteRowSet rows;
      upgraded.Query(std::string("SELECT stat FROM sqlite_stat1 WHERE idx = '") + index + "'", rows);
      // The first figure is the number of rows of the table.
      EXPECT_EQ(rows.size(), analysed ? 1u : 0u) << index;
      if (analysed && !rows.empty()) {
        EXPECT_GT(std::atoi(rows.front().Get("stat").c_str()), 0) << index;
      }
    }
  }
}

TEST_F(MusicDBQueryTest, TagListsOutliveWritesToMixesSchedulesAndPlaysAndFollowTheirOwnChanges) {
  CountingDB lists(folder.File("music.db"));
  auto read = [&] {
    return lists.RowsRead([&] {
      TagList tags;
      lists.GetTagsByType(tags, 1, "");
    });
  };
  const int assignments = Number("SELECT COUNT(*) FROM tracktag");
  ASSERT_GE(read(), assignments);
  ASSERT_LT(read(), assignments);
  MusicDB other(folder.File("music.db"));
  struct Write {
    const char* what;
    std::function<void()> write;
    // The lists are kept, or brought up to date, without reading the library.
    bool keeps;
  };
  const Write writes[] = {
      {"mix stored",
       [&] {
         Mix mix;
         mix.AddTag(Tag("Tag 1", 1, 3), false);
         lists.AddMix(mix);
       },
       true},
      {"mix renamed",
       [&] {
         Mix mix = lists.GetMix(1);
         mix.Rename("Renamed");
         lists.UpdateMix(mix);
       },
       true},
      {"mix tag", [&] { lists.AddMixTag(lists.GetMix(1), Tag("Tag 2", 2, 4)); }, true},
      {"schedule item",
       [&] {
         ScheduleItem item(60, 120, 1, 1);
         lists.AddScheduleItem(item);
       },
       true},
      {"play", [&] { lists.AddPlayRecord(Track(7), Mix()); }, true},
      {"mix of another connection", [&] { other.DeleteMix(other.GetMix(1)); }, true},
      {"schedule of another connection", [&] { other.SetScheduleItemMix(1, 2); }, true},
      // This connection's own writes bring the kept lists up to date.
      {"assignment",
       [&] {
         Track t(7);
         lists.AddTrackTag(t, Tag("Tag 1", 1, 3));
       },
       true},
      {"dump",
       [&] {
         Track t(8);
         lists.DisableTrack(t);
       },
       true},
      {"tag renamed",
       [&] {
         Tag t("Zz", 1, 3);
         lists.RenameTag(t);
       },
       true},
      // So do another connection's, from the file's log.
      {"assignment of another connection",
       [&] {
         Track t(9);
         other.SetTrackTag(t, "Else", 1, false);
       },
       true},
      {"dump of another connection",
       [&] {
         Track t(9);
         other.DisableTrack(t);
       },
       true},
      {"tag of another connection",
       [&] {
         Tag t("Yy", 1, 4);
         other.RenameTag(t);
       },
       true},
      // A log that no longer reaches back to the reading: read anew.
      {"log trimmed",
       [&] {
         other.Exec("INSERT INTO tracktag (trackid, tagid) SELECT id, 3 FROM track WHERE enabled = 1 LIMIT 1");
         other.Exec("DELETE FROM taglistdelta");
       },
       false},
  };
  for (const Write& write : writes) {
    write.write();
    if (write.keeps) {
      EXPECT_LT(read(), assignments) << write.what;
    } else {
      EXPECT_GE(read(), assignments) << write.what;
    }
    TagList kept;
    lists.GetTagsByType(kept, 1, "");
    RefreshReference();
    EXPECT_EQ(Describe(kept), PlainTagsByType(1)) << write.what;
  }
}

// Another connection (the scan's) adds, retags, dumps and deletes tracks:
// the kept lists count its changes from the file's log, as the plain
// statements count them, without reading the library again.
TEST_F(MusicDBQueryTest, TagListsCountAnotherConnectionsChanges) {
  CountingDB lists(folder.File("music.db"));
  const int assignments = Number("SELECT COUNT(*) FROM tracktag");
  auto read = [&] {
    return lists.RowsRead([&] {
      TagList tags;
      lists.GetTagsByType(tags, TagGenre, "");
    });
  };
  ASSERT_GE(read(), assignments);
  MusicDB scan(folder.File("music.db"));
  auto scanned = [](const std::string& location, const std::string& genre) {
    Track track;
    track.name = "New";
    track.location = location;
    track.album = "Tag 2";
    track.artist = "Artist " + location;
    track.genre = genre;
    return track;
  };
  struct Change {
    const char* what;
    std::function<void()> write;
  };
  const Change changes[] = {
      {"track added", [&] { scan.AddOrUpdateTrack(scanned("/new/1", "Tag 1")); }},
      {"tracks added in one batch",
       [&] {
         scan.BatchScanWrites(true);
         for (const char* location : {"/new/2", "/new/3", "/new/4"}) scan.AddOrUpdateTrack(scanned(location, "Fresh"));
         scan.FlushScanWrites();
         scan.BatchScanWrites(false);
       }},
      {"track retagged",
       [&] {
         Track t(11);
         scan.SetTrackTag(t, "Moved", TagGenre, true);
       }},
      {"genre moved by a rescan", [&] { scan.AddOrUpdateTrack(scanned("/new/1", "Fresh")); }},
      {"assignment added twice",
       [&] {
         Track t(12);
         scan.AddTrackTag(t, Tag("Tag 3", 0, 6));
         scan.AddTrackTag(t, Tag("Tag 3", 0, 6));
       }},
      {"assignment removed",
       [&] {
         Track t(12);
         scan.RemoveTrackTag(t, Tag("Tag 3", 0, 6));
       }},
      {"assignment moved to a dumped track", [&] { scan.Exec("UPDATE tracktag SET trackid = 5 WHERE trackid = 13"); }},
      {"track dumped",
       [&] {
         Track t(14);
         scan.DisableTrack(t);
       }},
      {"track taken back", [&] { scan.EnableTrack(Track(14)); }},
      {"tag deleted", [&] { scan.DeleteTag(Tag("", 0, 4)); }},
      {"tag renamed",
       [&] {
         Tag t("Aaa", 0, 6);
         scan.RenameTag(t);
       }},
      {"tracks deleted",
       [&] {
         scan.MarkAllTracksNotOnDisk();
         scan.Exec("UPDATE track SET ondisk = 1 WHERE id % 3 <> 0");
         scan.DeleteTracksNotOnDisk();
       }},
      {"both connections",
       [&] {
         Track t(16);
         lists.AddTrackTag(t, Tag("Tag 1", 1, 3));
         scan.DisableTrack(t);
       }},
  };
  for (const Change& change : changes) {
    SCOPED_TRACE(change.what);
    change.write();
    EXPECT_LT(read(), assignments);
    ExpectTagListsAsPlain(lists);
  }
}

TEST_F(MusicDBQueryTest, PagesOfAMixsTracksAreSlicesOfItsWholeOrder) {
  // A mix of every tag, whose first pages are found walking the tracks by
  // name, and one of a single tag.
  db.Exec("INSERT INTO mix (id, name) VALUES (2, 'Every tag')");
  db.Exec("INSERT INTO mixtag (mixid, tagid) SELECT 2, id FROM tag");
  db.Exec("INSERT INTO mixtag (mixid, tagid) VALUES (2, 7), (3, 9)");
  for (int mixId : {1, 2, 3}) {
    Mix mix;
    mix.SetId(mixId);
    TrackList whole;
    db.GetTracksOfMix(mix, whole, 0, -1);
    ASSERT_FALSE(whole.empty()) << mixId;
    for (auto [offset, limit] : {std::pair{0, 1}, {0, 3}, {1, 2}, {0, 9}, {5, 9}, {30, 9}, {-2, 4}, {0, 400}}) {
      TrackList page;
      db.GetTracksOfMix(mix, page, offset, limit);
      const auto first = whole.begin() + std::min<std::ptrdiff_t>(std::max(offset, 0), whole.size());
      const auto last = first + std::min<std::ptrdiff_t>(limit, whole.end() - first);
      EXPECT_EQ(Describe(page), Describe(TrackList(first, last))) << mixId << " " << offset << " " << limit;
    }
  }
}

}  // namespace

// The queries behind the pages, the queue refill and the scan's writes, side
// by side: the program's MusicDB ("project") and the plain statements of the
// schema read into row maps and records ("written"), each on its own copy of
// one generated library of 100,000 tracks (10,000 albums, 5,000 artists, 200
// genres, every 97th track dumped). The written copy lacks the indexes that
// the program adds at open. After the run a table gives the medians and the
// ratio written / project.
//
// "project" runs after any change (the tag lists are read anew);
// "project_elsewhere" runs after another connection (the scan's) stored a new
// track with its album, artist and genre;
// "project_cached" repeats a query with nothing changed in between, the tag
// lists having been read once before (as the Lab's views have);
// "project_new" is the program on a copy without the planner's statistics;
// "project_upgraded" the program on a copy analysed before the program's
// indexes were made (a file of an older release, upgraded at open);
// "project_batched" is the scan's way of writing the on-disk marks of
// unchanged tracks, twenty in one transaction.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "benchmarks/GeneratedLibrary.h"
#include "core/MusicDB.h"

namespace {

using zorva_bench::kAlbumBase;
using zorva_bench::kAlbums;
using zorva_bench::kArtists;
using zorva_bench::kGenreBase;
using zorva_bench::kGenres;
using zorva_bench::kTracks;
constexpr int kLargeMixGenres = 40;  // the library's large mix: 20,000 tracks
constexpr int kRepetitions = 5;

const char* const kAddedIndexes[] = {"tag_name_type_idx", "tracktag_tag_track_idx", "tracktag_track_tag_idx",
                                     "track_enabled_name_idx"};

// The files, made once per run.
class Files {
  // First: the members below are made from it.
  zorva_bench::Library library_;

 public:
  Files() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zorva-queries-XXXXXX").string();
    if (char* made = mkdtemp(pattern.data())) folder_ = made;
    std::filesystem::copy_file(library_.NewPath(), Path("project-new"));
    for (const char* name : {"project", "elsewhere", "written", "written-new", "scan-project-new", "scan-project",
                             "scan-written-new", "scan-written", "upgraded"}) {
      std::filesystem::copy_file(Path("project-new"), Path(name));
    }
    for (const char* name : {"written", "written-new", "scan-written-new", "scan-written", "upgraded"}) {
      SQLiteDB plain;
      plain.Open(Path(name));
      for (const char* index : kAddedIndexes) plain.Exec(std::string("DROP INDEX ") + index);
      plain.Exec("VACUUM");
    }
    for (const char* name : {"project", "elsewhere", "written", "scan-project", "scan-written", "upgraded"}) {
      SQLiteDB plain;
      plain.Open(Path(name));
      plain.Exec("ANALYZE");
    }
    // Upgraded: the indexes made here, as a first start of the program does.
    MusicDB upgraded(Path("upgraded"));
  }
  ~Files() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  std::string Path(const std::string& name) const { return folder_ + "/" + name + ".db"; }

  const int largeMixId = library_.largeMixId;
  const int smallMixId = library_.smallMixId;

 private:
  std::string folder_;
};

Files& TheFiles() {
  static Files files;
  return files;
}

// The schema's statements as written, on a plain connection, read through
// row maps into records.
class Written {
 public:
  explicit Written(const std::string& path) {
    db_.Open(path);
    db_.Exec("PRAGMA synchronous = OFF; PRAGMA temp_store = MEMORY;");
  }
  ~Written() {
    for (auto& [sql, statement] : statements_) db_.Finalize(statement);
  }

  // Binds ints and texts by index, collects the rows and resets.
  template <typename... Args>
  SQLiteRowSet Rows(const std::string& sql, const Args&... args) {
    sqlite3_stmt* statement = Statement(sql);
    int index = 0;
    (Bind(statement, ++index, args), ...);
    SQLiteRowSet rows;
    db_.FetchRows(statement, rows);
    sqlite3_reset(statement);
    return rows;
  }
  template <typename... Args>
  int Step(const std::string& sql, const Args&... args) {
    sqlite3_stmt* statement = Statement(sql);
    int index = 0;
    (Bind(statement, ++index, args), ...);
    const int rc = sqlite3_step(statement);
    sqlite3_reset(statement);
    return rc;
  }
  template <typename... Args>
  TagList Tags(const std::string& sql, const Args&... args) {
    TagList tags;
    for (const auto& row : Rows(sql, args...)) tags.emplace_back(row);
    return tags;
  }
  template <typename... Args>
  TrackList Tracks(const std::string& sql, const Args&... args) {
    TrackList tracks;
    for (const auto& row : Rows(sql, args...)) tracks.emplace_back(row);
    return tracks;
  }
  int Count(const std::string& sql) {
    SQLiteRowSet rows;
    db_.Query(sql, rows);
    return rows.empty() ? 0 : rows.front().GetInt("count");
  }
  SQLiteDB& Db() { return db_; }

 private:
  sqlite3_stmt* Statement(const std::string& sql) {
    auto [entry, added] = statements_.try_emplace(sql, nullptr);
    if (added) entry->second = db_.Prepare(sql);
    return entry->second;
  }
  static void Bind(sqlite3_stmt* statement, int index, int value) { sqlite3_bind_int(statement, index, value); }
  static void Bind(sqlite3_stmt* statement, int index, const std::string& text) {
    sqlite3_bind_text(statement, index, text.c_str(), -1, SQLITE_TRANSIENT);
  }

  SQLiteDB db_;
  std::map<std::string, sqlite3_stmt*> statements_;
};

const std::string kTagsByType =
    "SELECT tag.id as id, tag.name as name, tag.type as type, count (tag.id) as frequency FROM track, tracktag, "
    "tag WHERE track.enabled = 1 and track.id = tracktag.trackid AND type = ?  AND tracktag.tagid = tag.id GROUP "
    "BY tag.id ORDER by frequency DESC";
const std::string kTagsPage =
    "SELECT tag.*, count (tag.id) as frequency FROM tag, track, tracktag WHERE track.enabled = 1 AND track.id = "
    "tracktag.trackid AND tag.id = tracktag.tagid GROUP BY tag.id ORDER BY tag.name limit ? offset ?;";
const std::string kEnabledTracks =
    "SELECT  track.* FROM track WHERE track.enabled = 1 order by track.name limit ? offset ?;";
const std::string kDisabledTracks =
    "SELECT  track.* FROM track WHERE track.enabled = 0 order by track.name limit ? offset ?;";
const std::string kSearchTracks =
    "SELECT  track.* FROM track WHERE track.enabled = 1 AND track.name LIKE ? order by track.name limit ? "
    "offset ?;";
const std::string kTracksOfTag =
    "SELECT  track.* FROM track, tracktag WHERE track.enabled = 1 AND track.id = tracktag.trackid AND "
    "tracktag.tagid = ? order by track.name limit ? offset ?;";
const std::string kTracksOfMix =
    "SELECT  track.* FROM track, tracktag, tag, mixtag WHERE track.enabled = 1 AND track.id = tracktag.trackid "
    "AND tag.id = tracktag.tagid AND mixtag.tagid = tag.id AND mixtag.mixid = ? order by track.name limit ? "
    "offset ?;";
const std::string kMixTags =
    "SELECT  tag.id as id, tag.name as name, tag.type as type, count (tag.id) as frequency FROM track, mixtag, "
    "tag, tracktag WHERE track.enabled = 1 AND track.id = tracktag.trackid AND tracktag.tagid = mixtag.tagid AND "
    "mixtag.tagid = tag.id AND mixid = ? GROUP BY tag.id";
const std::string kLoadMix = "SELECT id, name, playlistmix, playlistpos, playlistid FROM mix WHERE id = ? ";
const std::string kRelatedTags =
    "SELECT tag.*, count (tag.id) as frequency FROM tag, track, tracktag as t1, tracktag as t2 WHERE "
    "track.enabled = 1 AND track.id = t2.trackid AND tag.id = t2.tagid AND t2.trackid = t1.trackid AND t1.tagid "
    "= ? GROUP BY tag.id ORDER BY frequency DESC";
const std::string kTrackTags =
    "SELECT tag.*, count (tag.id) as frequency FROM track, tag, tracktag as t1, tracktag as t2 WHERE  "
    "track.enabled = 1 and track.id = t1.trackid AND t2.tagid = tag.id AND t1.trackid = ?  AND tag.id = "
    "t1.tagid GROUP BY tag.id ";
const std::string kLoadTag =
    "SELECT tag.id as id, tag.name as name, tag.type as type, count (tag.id) as frequency  FROM track, tracktag, "
    "tag WHERE track.enabled = 1 and track.id = tracktag.trackid AND tracktag.tagid = tag.id AND tag.id = ? ";
const std::string kRandomTracks = "SELECT  * FROM track WHERE track.enabled = 1 order by random() limit ?;";
const std::string kRandomTracksOfMix =
    "SELECT  track.* FROM track, tracktag, tag, mixtag WHERE track.enabled = 1 AND track.id = tracktag.trackid "
    "AND tag.id = tracktag.tagid AND mixtag.tagid = tag.id AND mixtag.mixid = ? order by random() limit ?;";

// The sides of one case. Each returns a number that the loop keeps.
struct Case {
  std::string name;
  std::function<long(Written&)> written;
  std::function<long(MusicDB&)> project;
  // Also measured with nothing changed between two calls.
  bool cached = false;
};

long Sum(const TagList& tags) {
  long sum = static_cast<long>(tags.size());
  for (const Tag& tag : tags) sum += tag.frequency;
  return sum;
}
long Sum(const TrackList& tracks) {
  long sum = static_cast<long>(tracks.size());
  for (const Track& track : tracks) sum += track.id;
  return sum;
}

// A tag mix that is not stored: the 40 genres of the large mix.
Mix UnstoredLargeMix() {
  Mix mix;
  for (int g = 0; g < kLargeMixGenres; ++g) {
    mix.AddTag(Tag("Genre " + std::to_string(g), TagGenre, kGenreBase + g), false);
  }
  return mix;
}

std::vector<Case> Cases() {
  std::vector<Case> cases;
  for (int type : {TagGenre, TagAlbum, TagArtist}) {
    cases.push_back({std::string("TagList/") + TagTypeWord(type),
                     [type](Written& w) { return Sum(w.Tags(kTagsByType, type)); },
                     [type](MusicDB& db) {
                       TagList tags;
                       db.GetTagsByType(tags, type, "");
                       return Sum(tags);
                     },
                     true});
  }
  for (int offset : {0, 15100}) {
    cases.push_back({"AllTagsPage/offset:" + std::to_string(offset),
                     [offset](Written& w) {
                       long sum = Sum(w.Tags(kTagsPage, 100, offset));
                       return sum + w.Count("SELECT COUNT (id) as count FROM tag");
                     },
                     [offset](MusicDB& db) {
                       TagList tags;
                       long sum = db.GetTagsPage(tags, offset, 100);
                       return sum + Sum(tags);
                     },
                     true});
  }
  for (int offset : {0, 50000, 98900}) {
    cases.push_back({"LabAllTracks/offset:" + std::to_string(offset),
                     [offset](Written& w) {
                       long sum = Sum(w.Tracks(kEnabledTracks, 100, offset));
                       return sum + w.Count("SELECT COUNT (id) as count FROM track WHERE enabled = 1");
                     },
                     [offset](MusicDB& db) {
                       TrackList tracks;
                       long sum = db.GetEnabledTracks(tracks, offset, 100);
                       return sum + Sum(tracks);
                     }});
  }
  cases.push_back({"LabDump",
                   [](Written& w) {
                     long sum = Sum(w.Tracks(kDisabledTracks, 100, 0));
                     return sum + w.Count("SELECT COUNT (id) as count FROM track WHERE enabled = 0");
                   },
                   [](MusicDB& db) {
                     TrackList tracks;
                     long sum = db.GetDisabledTracks(tracks, 0, 100);
                     return sum + Sum(tracks);
                   }});
  cases.push_back({"LabSearch",
                   [](Written& w) { return Sum(w.Tracks(kSearchTracks, std::string("%ver 0424%"), 100, 0)); },
                   [](MusicDB& db) {
                     TrackList tracks;
                     db.SearchTracks(tracks, "%ver 0424%", 0, 100);
                     return Sum(tracks);
                   }});
  for (int offset : {0, 400}) {
    cases.push_back({"LabTagTracks/offset:" + std::to_string(offset),
                     [offset](Written& w) { return Sum(w.Tracks(kTracksOfTag, kGenreBase + 7, 100, offset)); },
                     [offset](MusicDB& db) {
                       TrackList tracks;
                       db.GetTracksOfTag(Tag("Genre 7", TagGenre, kGenreBase + 7), tracks, offset, 100);
                       return Sum(tracks);
                     }});
  }
  for (int offset : {0, 10000, 19700}) {
    cases.push_back({"LabMixTracks/offset:" + std::to_string(offset),
                     [offset](Written& w) { return Sum(w.Tracks(kTracksOfMix, TheFiles().largeMixId, 100, offset)); },
                     [offset](MusicDB& db) {
                       TrackList tracks;
                       Mix mix;
                       mix.SetId(TheFiles().largeMixId);
                       db.GetTracksOfMix(mix, tracks, offset, 100);
                       return Sum(tracks);
                     }});
  }
  cases.push_back({"LabLoadMix",
                   [](Written& w) {
                     SQLiteRowSet rows = w.Rows(kLoadMix, TheFiles().largeMixId);
                     Mix mix(rows.front());
                     for (const Tag& tag : w.Tags(kMixTags, mix.GetId())) mix.AddTag(tag, false);
                     return static_cast<long>(mix.GetTags().size());
                   },
                   [](MusicDB& db) { return static_cast<long>(db.GetMix(TheFiles().largeMixId).GetTags().size()); },
                   true});
  // The tags of the large mix (40 genres), with the track count they add up to.
  cases.push_back({"MixTags/large",
                   [](Written& w) {
                     Mix mix;
                     mix.SetId(TheFiles().largeMixId);
                     for (const Tag& tag : w.Tags(kMixTags, mix.GetId())) mix.AddTag(tag, false);
                     return static_cast<long>(mix.GetTags().size()) + mix.GetPlaylistTrackCount();
                   },
                   [](MusicDB& db) {
                     Mix mix;
                     mix.SetId(TheFiles().largeMixId);
                     db.GetMixTags(mix);
                     return static_cast<long>(mix.GetTags().size()) + mix.GetPlaylistTrackCount();
                   },
                   true});
  cases.push_back({"LabRelatedTags", [](Written& w) { return Sum(w.Tags(kRelatedTags, kGenreBase + 7)); },
                   [](MusicDB& db) {
                     TagList tags;
                     db.GetRelatedTags(tags, Tag("Genre 7", TagGenre, kGenreBase + 7));
                     return Sum(tags);
                   }});
  cases.push_back({"LabTrackTags", [](Written& w) { return Sum(w.Tags(kTrackTags, 4242)); },
                   [](MusicDB& db) {
                     TagList tags;
                     Track track;
                     track.id = 4242;
                     db.GetTrackTags(tags, track);
                     return Sum(tags);
                   }});
  cases.push_back({"LabLoadTag", [](Written& w) { return Sum(w.Tags(kLoadTag, kGenreBase + 7)); },
                   [](MusicDB& db) {
                     Tag tag("", 0, kGenreBase + 7);
                     db.LoadTag(tag);
                     return static_cast<long>(tag.frequency);
                   }});
  // One refill of the queue's pool of 50.
  cases.push_back({"Refill/random", [](Written& w) { return Sum(w.Tracks(kRandomTracks, 50)); },
                   [](MusicDB& db) {
                     Mix mix;
                     mix.SetId(TheFiles().largeMixId + 1000);  // stored and random: no tags
                     TrackList tracks;
                     db.FetchRandomTracks(mix, tracks, 50);
                     return Sum(tracks);
                   }});
  cases.push_back({"Refill/small_mix",
                   [](Written& w) { return Sum(w.Tracks(kRandomTracksOfMix, TheFiles().smallMixId, 50)); },
                   [](MusicDB& db) {
                     Mix mix;
                     mix.SetId(TheFiles().smallMixId);
                     mix.AddTag(Tag("Album 42", TagAlbum, kAlbumBase + 42), false);
                     TrackList tracks;
                     db.FetchRandomTracks(mix, tracks, 50);
                     return Sum(tracks);
                   }});
  cases.push_back({"Refill/large_mix",
                   [](Written& w) { return Sum(w.Tracks(kRandomTracksOfMix, TheFiles().largeMixId, 50)); },
                   [](MusicDB& db) {
                     Mix mix;
                     mix.SetId(TheFiles().largeMixId);
                     mix.AddTag(Tag("Genre 0", TagGenre, kGenreBase), false);
                     TrackList tracks;
                     db.FetchRandomTracks(mix, tracks, 50);
                     return Sum(tracks);
                   }});
  cases.push_back({"Refill/large_unstored_mix",
                   [](Written& w) {
                     TrackList tracks;
                     SQLiteRowSet rows;
                     w.Db().Query(
                         "SELECT  track.* FROM track  , tracktag, tag WHERE track.enabled= 1 AND track.id = "
                         "tracktag.trackid AND tag.id = tracktag.tagid " +
                             UnstoredLargeMix().GetTagSqlClause() + " order by random() limit 50;",
                         rows);
                     for (const auto& row : rows) tracks.emplace_back(row);
                     return Sum(tracks);
                   },
                   [](MusicDB& db) {
                     TrackList tracks;
                     db.FetchRandomTracks(UnstoredLargeMix(), tracks, 50);
                     return Sum(tracks);
                   }});
  return cases;
}

// A write to a track on the connection, so the tag lists are read anew.
void Touch(SQLiteDB& db) { db.Exec("UPDATE track SET enabled = enabled WHERE id = 1"); }

void RunWritten(benchmark::State& state, const Case& c, const std::string& file) {
  Written written(TheFiles().Path(file));
  long kept = 0;
  for (auto _ : state) kept += c.written(written);
  benchmark::DoNotOptimize(kept);
}

void RunProject(benchmark::State& state, const Case& c, const std::string& file, bool cached) {
  MusicDB db(TheFiles().Path(file));
  if (cached) {
    TagList tags;
    db.GetTagsPage(tags, 0, 1);
  }
  long kept = c.project(db);
  for (auto _ : state) {
    if (!cached) {
      state.PauseTiming();
      Touch(db);
      state.ResumeTiming();
    }
    kept += c.project(db);
  }
  benchmark::DoNotOptimize(kept);
}

Track NewTrack();

// After a new track stored through a connection of its own, as the scan
// stores it.
void RunProjectAfterOtherConnection(benchmark::State& state, const Case& c) {
  MusicDB db(TheFiles().Path("elsewhere"));
  MusicDB scan(TheFiles().Path("elsewhere"));
  long kept = c.project(db);
  for (auto _ : state) {
    state.PauseTiming();
    scan.AddOrUpdateTrack(NewTrack());
    state.ResumeTiming();
    kept += c.project(db);
  }
  benchmark::DoNotOptimize(kept);
}

// The scan's writes for one new track, as written: one transaction, the
// track found or inserted, then its album, artist and genre assignments.
class WrittenScan {
 public:
  // Every row marked off the disk first, as a scan does: a mark that
  // changes nothing is not written by SQLite at all.
  explicit WrittenScan(const std::string& path) : w_(path) { w_.Db().Exec("UPDATE track SET ondisk = 0;"); }

  void AddOrUpdateTrack(const Track& track) {
    w_.Db().Exec("BEGIN;");
    int id = 0;
    SQLiteRowSet found = w_.Rows("SELECT id, genre FROM track WHERE location = ?", track.location);
    if (!found.empty()) {
      id = found.front().GetInt("id");
      w_.Step("UPDATE track SET  ondisk = 1 WHERE id = ?", id);
    } else {
      w_.Step("INSERT INTO track (name,album,artist,location,genre,length) VALUES (?, ?, ?, ?, ?, ?) ", track.name,
              track.album, track.artist, track.location, track.genre, track.length);
      id = static_cast<int>(w_.Db().LastInsertRowId());
    }
    SetTag(id, track.album, TagAlbum);
    SetTag(id, track.artist, TagArtist);
    SetTag(id, track.genre, TagGenre);
    w_.Db().Exec("COMMIT;");
  }

 private:
  void SetTag(int trackId, const std::string& name, int type) {
    if (name.empty()) return;
    SQLiteRowSet tags = w_.Rows("SELECT id, name, type  FROM tag WHERE name = ? AND type = ?", name, type);
    int tagId = 0;
    if (!tags.empty()) {
      tagId = tags.front().GetInt("id");
    } else {
      w_.Step("INSERT INTO tag (name, type) VALUES (?, ?)", name, type);
      tagId = static_cast<int>(w_.Db().LastInsertRowId());
    }
    SQLiteRowSet current = w_.Rows(
        "SELECT tracktag.id, tracktag.trackid, tracktag.tagid FROM tracktag, tag WHERE trackid = ? AND tagid = "
        "tag.id AND tag.type = ?",
        trackId, type);
    if (!current.empty()) {
      if (current.front().GetInt("tagid") != tagId) {
        w_.Step("UPDATE tracktag SET trackid = ?, tagid = ? WHERE id = ?", trackId, tagId,
                current.front().GetInt("id"));
      }
      return;
    }
    w_.Step("INSERT INTO tracktag (trackid, tagid) VALUES (?, ?)", trackId, tagId);
  }

  Written w_;
};

// The library's tracks again, in order, as a rescan meets them.
Track KnownTrack() {
  static int next = 0;
  const int i = next++ % kTracks;
  Track track;
  track.name = "Known";
  track.album = "Album " + std::to_string(i % kAlbums);
  track.artist = "Artist " + std::to_string(i % kArtists);
  track.genre = "Genre " + std::to_string(i % kGenres);
  track.location = "/music/" + std::to_string(i) + ".mp3";
  return track;
}

// New tracks of known albums, artists and genres, and now and then new ones.
Track NewTrack() {
  static int next = 0;
  ++next;
  Track track;
  track.name = "New " + std::to_string(next);
  track.album = "Album " + std::to_string(next % 11 == 0 ? kAlbums + next : next % kAlbums);
  track.artist = "Artist " + std::to_string(next % kArtists);
  track.genre = "Genre " + std::to_string(next % kGenres);
  track.location = "/music/new/" + std::to_string(next) + ".mp3";
  track.length = 200;
  return track;
}

// Every case in milliseconds, repeated, its median kept.
template <typename Function>
void Register(const std::string& name, Function function) {
  benchmark::RegisterBenchmark(name.c_str(), function)
      ->Unit(benchmark::kMillisecond)
      ->Repetitions(kRepetitions)
      ->ReportAggregatesOnly(true);
}

void RegisterAll() {
  for (const Case& c : Cases()) {
    Register(c.name + "/written", [c](benchmark::State& s) { RunWritten(s, c, "written"); });
    Register(c.name + "/project", [c](benchmark::State& s) { RunProject(s, c, "project", false); });
    if (c.cached) {
      Register(c.name + "/project_cached", [c](benchmark::State& s) { RunProject(s, c, "project", true); });
    }
    if (c.name.rfind("TagList/", 0) == 0) {
      Register(c.name + "/project_elsewhere", [c](benchmark::State& s) { RunProjectAfterOtherConnection(s, c); });
    }
    Register(c.name + "/project_new", [c](benchmark::State& s) { RunProject(s, c, "project-new", false); });
    Register(c.name + "/project_upgraded", [c](benchmark::State& s) { RunProject(s, c, "upgraded", false); });
  }
  // The scan's writes for one track: a track the database holds (a rescan)
  // and a new one, on a database without and with the planner's statistics.
  for (const bool known : {true, false}) {
    for (const bool analysed : {false, true}) {
      const std::string name =
          std::string(known ? "ScanKnownTrack/" : "ScanNewTrack/") + (analysed ? "analysed" : "new");
      Track (*next)() = known ? KnownTrack : NewTrack;
      Register(name + "/written", [analysed, next](benchmark::State& s) {
        WrittenScan scan(TheFiles().Path(analysed ? "scan-written" : "scan-written-new"));
        for (auto _ : s) scan.AddOrUpdateTrack(next());
      });
      // As a scan meets them: every row marked off the disk first (see
      // WrittenScan).
      Register(name + "/project", [analysed, next](benchmark::State& s) {
        MusicDB db(TheFiles().Path(analysed ? "scan-project" : "scan-project-new"));
        db.MarkAllTracksNotOnDisk();
        for (auto _ : s) benchmark::DoNotOptimize(db.AddOrUpdateTrack(next()));
      });
      // As the scan writes them: the marks of unchanged tracks twenty at a time.
      Register(name + "/project_batched", [analysed, next](benchmark::State& s) {
        MusicDB db(TheFiles().Path(analysed ? "scan-project" : "scan-project-new"));
        db.MarkAllTracksNotOnDisk();
        db.BatchScanWrites(true);
        for (auto _ : s) {
          benchmark::DoNotOptimize(db.AddOrUpdateTrack(next()));
          if (db.PendingScanWrites() >= 20) db.FlushScanWrites();
        }
        db.FlushScanWrites();
      });
    }
  }
}

// Prints the runs as usual, then the medians side by side.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.aggregate_name != "median") continue;
      const std::string& name = run.run_name.function_name;
      const std::size_t side = name.rfind('/');
      const double ms = run.GetAdjustedRealTime();
      medians_[name.substr(0, side)][name.substr(side + 1)] = ms;
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nMedians (ms) and ratios written / project, written / cached and written / upgraded:\n");
    std::printf("%-32s %10s %10s %10s %10s %10s %10s %10s %8s %8s %8s\n", "case", "written", "project", "cached",
                "new db", "upgraded", "batched", "elsewhere", "ratio", "ratio c", "ratio u");
    for (const auto& [name, sides] : medians_) {
      auto get = [&](const char* side) {
        auto found = sides.find(side);
        return found == sides.end() ? -1.0 : found->second;
      };
      const double written = get("written");
      const double project = get("project");
      const double cached = get("project_cached");
      const double upgraded = get("project_upgraded");
      std::printf("%-32s %10.3f %10.3f %10.3f %10.3f %10.3f %10.3f %10.3f %8.1f %8.1f %8.1f\n", name.c_str(), written,
                  project, cached, get("project_new"), upgraded, get("project_batched"), get("project_elsewhere"),
                  project > 0 ? written / project : 0.0, cached > 0 ? written / cached : 0.0,
                  upgraded > 0 ? written / upgraded : 0.0);
    }
  }

 private:
  std::map<std::string, std::map<std::string, double>> medians_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RegisterAll();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

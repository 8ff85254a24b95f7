#include "core/MusicDB.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/kernel/Clock.h"
#include "tests/core/DatabaseTestSupport.h"

namespace {

using zorva_test::OpenFileCount;
using zorva_test::ScopedEnv;
using zorva_test::TempFolder;

// Opens the statement-level interface that the query operations build on.
class MusicDBProbe : public MusicDB {
 public:
  using MusicDB::FetchRows;
  using MusicDB::IsFailed;
  using MusicDB::kStatementCount;
  using MusicDB::MusicDB;
  using MusicDB::Statement;
  using MusicDB::StatementId;
  using MusicDB::StepOnce;
};
using Id = MusicDBProbe::StatementId;

// The tables of a file at version 101, as the releases before playlist mixes wrote it.
constexpr const char* kSchema101 =
    "CREATE TABLE mix (id INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, name VARCHAR, "
    "playlistmix INTEGER DEFAULT 0, playlistpos INTEGER DEFAULT 0);"
    "CREATE TABLE mixtag (mixid INTEGER, tagid INTEGER, id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT UNIQUE);"
    "CREATE TABLE tag (id INTEGER NOT NULL PRIMARY KEY UNIQUE, name VARCHAR2(255) COLLATE NOCASE, type INTEGER);"
    "CREATE TABLE tagType (id INTEGER NOT NULL PRIMARY KEY UNIQUE, name VARCHAR(255));"
    "CREATE TABLE track (id INTEGER NOT NULL PRIMARY KEY UNIQUE, name VARCHAR2(255), album VARCHAR(255), "
    "artist VARCHAR2(255), location VARCHAR2(255), genre VARCHAR2(255) COLLATE NOCASE, length INTEGER, "
    "ondisk INTEGER DEFAULT '1', enabled INTEGER DEFAULT '1', reenableDate DATETIME);"
    "CREATE TABLE trackPlayRecord (id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT UNIQUE, trackid INTEGER NOT "
    "NULL, whenplayed DATETIME DEFAULT CURRENT_TIMESTAMP, mixid INTEGER);"
    "CREATE TABLE tracktag (id INTEGER NOT NULL PRIMARY KEY UNIQUE, trackid INTEGER, tagid INTEGER, "
    "enabled INTEGER DEFAULT '1', reenableDate DATETIME);"
    "CREATE TABLE version (id INTEGER NOT NULL, name VARCHAR2(255));"
    "CREATE TABLE schedule (id INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, name VARCHAR, type INTEGER DEFAULT "
    "'0', monday INTEGER DEFAULT '0', tuesday INTEGER DEFAULT '0', wednesday INTEGER DEFAULT '0', thursday "
    "INTEGER DEFAULT '0', friday INTEGER DEFAULT '0', saturday INTEGER DEFAULT '0', sunday INTEGER DEFAULT "
    "'0', duration INTEGER DEFAULT '1440');";
constexpr const char* kScheduleItemTable =
    "CREATE TABLE scheduleItem (id INTEGER PRIMARY KEY UNIQUE, starttime INTEGER, endtime INTEGER, "
    "mixid INTEGER, scheduleid INTEGER);";

class MusicDBTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(folder_.Path().empty()); }

  std::string DefaultPath() const { return folder_.Path() + "/Zorva/music.db"; }

  // Runs `sql` on a plain connection of its own.
  static void Build(const std::string& path, const std::string& sql) {
    SQLiteDB db;
    ASSERT_TRUE(db.Open(path));
    ASSERT_EQ(db.Exec(sql), SQLITE_OK) << sql;
  }

  static SQLiteRowSet Rows(SQLiteDB& db, const std::string& sql) {
    SQLiteRowSet rows;
    EXPECT_EQ(db.Query(sql, rows), SQLITE_OK) << sql;
    return rows;
  }

  static std::vector<std::string> Column(const SQLiteRowSet& rows, const std::string& name) {
    std::vector<std::string> values;
    for (const auto& row : rows) values.push_back(row[name]);
    return values;
  }

  static bool HasColumn(SQLiteDB& db, const std::string& table, const std::string& column) {
    for (const auto& row : Rows(db, "PRAGMA table_info(" + table + ")")) {
      if (row["name"] == column) return true;
    }
    return false;
  }

  TempFolder folder_;
  ScopedEnv dataHome_{"XDG_DATA_HOME", folder_.Path()};
};

TEST_F(MusicDBTest, NewFileGetsSchemaSeedRowsAndEveryStatement) {
  EXPECT_EQ(GetMusicDBPath(), DefaultPath());
  ASSERT_FALSE(std::filesystem::exists(DefaultPath()));
  MusicDBProbe db;
  ASSERT_TRUE(std::filesystem::exists(DefaultPath()));
  EXPECT_TRUE(db.IsNewDatabase());
  EXPECT_FALSE(db.IsFailed());
  EXPECT_EQ(db.GetSchemaVersion(), 102);

  auto tables =
      Column(Rows(db, "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite%' ORDER BY name"),
             "name");
  // taglistchange and taglistdelta are the program's own, as its indexes are.
  EXPECT_EQ(tables,
            (std::vector<std::string>{"mix", "mixtag", "schedule", "scheduleItem", "tag", "tagType", "taglistchange",
                                      "taglistdelta", "track", "trackPlayRecord", "tracktag", "version"}));

  auto types = Rows(db, "SELECT id, name FROM tagType ORDER BY id");
  EXPECT_EQ(Column(types, "id"), (std::vector<std::string>{"0", "1", "2", "3", "4", "5"}));
  EXPECT_EQ(Column(types, "name"), (std::vector<std::string>{"genre", "album", "artist", "mix", "zorva", "playlist"}));

  auto schedules = Rows(db, "SELECT id, name, type, monday, saturday, duration FROM schedule ORDER BY id");
  EXPECT_EQ(Column(schedules, "id"), (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}));
  EXPECT_EQ(Column(schedules, "duration"), std::vector<std::string>(10, "1440"));
  EXPECT_EQ(Column(schedules, "name"),
            (std::vector<std::string>{"all days", "weekdays", "weekend", "monday", "tuesday", "wednesday", "thursday",
                                      "friday", "saturday", "sunday"}));
  EXPECT_EQ(Column(schedules, "type"), (std::vector<std::string>{"0", "1", "1", "2", "2", "2", "2", "2", "2", "2"}));
  EXPECT_EQ(Column(schedules, "saturday"),
            (std::vector<std::string>{"1", "0", "1", "0", "0", "0", "0", "0", "1", "0"}));

  auto versions = Rows(db, "SELECT id, name FROM version ORDER BY id");
  EXPECT_EQ(Column(versions, "id"), (std::vector<std::string>{"101", "102"}));
  EXPECT_EQ(Column(versions, "name"),
            (std::vector<std::string>{"101 - Release version", "102 - added playlist support"}));
  EXPECT_TRUE(HasColumn(db, "mix", "playlistid"));

  for (int i = 0; i < MusicDBProbe::kStatementCount; ++i) {
    MusicDBProbe::Statement statement(db, static_cast<Id>(i));
    EXPECT_TRUE(statement.IsValid()) << "statement #" << i + 1;
  }
}

TEST_F(MusicDBTest, SecondOpenFindsTheFileAndLeavesItAlone) {
  { MusicDBProbe first; }
  MusicDBProbe second;
  EXPECT_FALSE(second.IsNewDatabase());
  EXPECT_FALSE(second.IsFailed());
  EXPECT_EQ(second.GetSchemaVersion(), 102);
  EXPECT_EQ(Column(Rows(second, "SELECT id FROM version ORDER BY id"), "id"), (std::vector<std::string>{"101", "102"}));
  EXPECT_EQ(Rows(second, "SELECT id FROM schedule").size(), 10u);
}

TEST_F(MusicDBTest, FileAtVersion101IsUpgraded) {
  const std::string path = folder_.File("old.db");
  Build(path, std::string(kSchema101) + kScheduleItemTable +
                  "INSERT INTO version (id, name) VALUES (101, '101 - Release version');"
                  "INSERT INTO mix (name) VALUES ('kept');");
  MusicDBProbe db(path);
  EXPECT_FALSE(db.IsNewDatabase());
  EXPECT_FALSE(db.IsFailed());
  EXPECT_EQ(db.GetSchemaVersion(), 102);
  EXPECT_TRUE(HasColumn(db, "mix", "playlistid"));
  auto mixes = Rows(db, "SELECT name, playlistid FROM mix");
  ASSERT_EQ(mixes.size(), 1u);
  EXPECT_EQ(mixes[0]["playlistid"], "0");
  EXPECT_EQ(Column(Rows(db, "SELECT id FROM version ORDER BY id"), "id"), (std::vector<std::string>{"101", "102"}));
}

TEST_F(MusicDBTest, EmptyVersionTableReadsZeroAndIsNotUpgraded) {
  const std::string path = folder_.File("empty-version.db");
  Build(path, std::string(kSchema101) + kScheduleItemTable);
  MusicDBProbe db(path);
  EXPECT_EQ(db.GetSchemaVersion(), 0);
  EXPECT_FALSE(HasColumn(db, "mix", "playlistid"));
  EXPECT_TRUE(Rows(db, "SELECT id FROM version").empty());
  // The statements that name playlistid cannot compile on such a file.
  EXPECT_TRUE(db.IsFailed());
}

// A file whose making was cut short (an empty file, a full disk) gets the
// tables it lacks and keeps what it holds; one that cannot be opened as a
// database is kept aside, said where, and a new one made in its place.
TEST_F(MusicDBTest, AnUnfinishedFileIsCompletedAndAnUnreadableOneKeptAside) {
  auto tableCount = [](const std::string& path) {
    SQLiteDB plain;
    EXPECT_TRUE(plain.Open(path));
    SQLiteRowSet rows;
    plain.Query("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite%'", rows);
    return rows.size();
  };
  struct Case {
    const char* name;
    std::function<void(const std::string& path)> make;
    bool keptAside;
    bool newDatabase;
    const char* keptRows;  // a query counting what the file held before, 1 when kept
  };
  const std::string big = std::string(kSchema101) + kScheduleItemTable +
                          "INSERT INTO version VALUES (101, '101');WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL "
                          "SELECT i + 1 FROM n WHERE i < 3000) INSERT INTO track (name) SELECT printf('%0200d', i) "
                          "FROM n;";
  const Case cases[] = {
      {"empty file", [](const std::string& path) { zorva_test::WriteFile(path, ""); }, false, true, nullptr},
      {"cut short after four tables",
       [](const std::string& path) {
         Build(path,
               "CREATE TABLE mix (id INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, name VARCHAR, playlistmix "
               "INTEGER DEFAULT 0, playlistpos INTEGER DEFAULT 0);CREATE TABLE mixtag (mixid INTEGER, tagid "
               "INTEGER, id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT UNIQUE);CREATE TABLE tag (id INTEGER "
               "NOT NULL PRIMARY KEY UNIQUE, name VARCHAR2(255) COLLATE NOCASE, type INTEGER);CREATE TABLE "
               "tagType (id INTEGER NOT NULL PRIMARY KEY UNIQUE, name VARCHAR(255));INSERT INTO tagType "
               "VALUES (0, 'genre'), (1, 'album');");
       },
       false, true, nullptr},
      {"tables of its own only", [](const std::string& path) { Build(path, "CREATE TABLE other (x);"); }, false, true,
       "SELECT COUNT(*) AS n FROM sqlite_master WHERE name = 'other'"},
      {"library without its play history",
       [](const std::string& path) {
         Build(path, std::string(kSchema101) + kScheduleItemTable +
                         "DROP TABLE trackPlayRecord;INSERT INTO version VALUES (101, '101');"
                         "INSERT INTO track (name) VALUES ('kept');");
       },
       false, false, "SELECT COUNT(*) AS n FROM track WHERE name = 'kept'"},
      {"another program's database",
       [](const std::string& path) { Build(path, "CREATE TABLE notes (x);INSERT INTO notes VALUES ('mine');"); }, true,
       true, nullptr},
      {"not a database", [](const std::string& path) { zorva_test::WriteFile(path, std::string(5000, 'x')); }, true,
       true, nullptr},
      {"truncated",
       [&big](const std::string& path) {
         Build(path, big);
         std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
       },
       true, true, nullptr},
      {"a folder", [](const std::string& path) { std::filesystem::create_directory(path); }, true, true, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder here;
    const std::string path = here.File("music.db");
    c.make(path);
    const auto before = std::filesystem::status(path).type();
    const std::string bytes = std::filesystem::is_regular_file(path) ? zorva_test::ReadFile(path) : "";
    testing::internal::CaptureStderr();
    {
      MusicDBProbe db(path);
      EXPECT_FALSE(db.IsFailed());
      EXPECT_EQ(db.IsNewDatabase(), c.newDatabase);
      EXPECT_EQ(db.GetSchemaVersion(), 102);
      if (c.newDatabase) {
        EXPECT_EQ(Column(Rows(db, "SELECT id FROM schedule ORDER BY id"), "id"),
                  (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}));
        EXPECT_EQ(Rows(db, "SELECT id FROM tagType").size(), 6u);
      }
      if (c.keptRows) {
        EXPECT_EQ(Rows(db, c.keptRows)[0]["n"], "1");
      }
    }
    const std::string said = testing::internal::GetCapturedStderr();
    const std::string aside = path + ".damaged-1";
    EXPECT_EQ(std::filesystem::exists(aside), c.keptAside);
    if (c.keptAside) {
      EXPECT_NE(said.find("it was kept as " + aside), std::string::npos) << said;
      EXPECT_EQ(std::filesystem::status(aside).type(), before);
      if (!bytes.empty()) {
        EXPECT_EQ(zorva_test::ReadFile(aside), bytes);
      }
    } else {
      EXPECT_EQ(said, "");
    }
    EXPECT_GE(tableCount(path), 10u);
    // The next start finds the file as it was left.
    MusicDBProbe again(path);
    EXPECT_FALSE(again.IsNewDatabase());
    EXPECT_FALSE(std::filesystem::exists(path + ".damaged-2"));
  }
}

TEST_F(MusicDBTest, TagNamesCompareWithoutCase) {
  MusicDBProbe db;
  ASSERT_EQ(db.StepOnce(Id::InsertTag, "rock", 0), SQLITE_DONE);
  SQLiteRowSet rows;
  db.FetchRows(Id::FindTag, rows, "Rock", 0);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["name"], "rock");
  EXPECT_EQ(rows[0]["type"], "0");
  rows.clear();
  db.FetchRows(Id::FindTag, rows, "Rock", 3);
  EXPECT_TRUE(rows.empty());
}

TEST_F(MusicDBTest, StatementIsResetAndClearedOnEveryWayOut) {
  MusicDBProbe db;
  ASSERT_EQ(db.StepOnce(Id::InsertTag, "rock", 0), SQLITE_DONE);
  ASSERT_EQ(db.StepOnce(Id::InsertTag, "pop", 0), SQLITE_DONE);
  try {
    MusicDBProbe::Statement statement(db, Id::FindTag);
    statement.BindAll("rock", 0);
    ASSERT_EQ(statement.Step(), SQLITE_ROW);
    throw std::runtime_error("left in the middle of a row");
  } catch (const std::runtime_error&) {}
  {
    MusicDBProbe::Statement statement(db, Id::FindTag);
    statement.Bind(1, std::string("pop")).Bind(2, 0);
    ASSERT_EQ(statement.Step(), SQLITE_ROW);
    EXPECT_EQ(statement.ColumnText(1), "pop");
    EXPECT_GT(statement.ColumnInt(0), 0);
  }
  {
    // Bindings are cleared too: unbound parameters are NULL and match nothing.
    MusicDBProbe::Statement statement(db, Id::FindTag);
    EXPECT_EQ(statement.Step(), SQLITE_DONE);
  }
}

TEST_F(MusicDBTest, NestedUseOfOneStatementIsRefused) {
  MusicDBProbe db;
  ASSERT_EQ(db.StepOnce(Id::InsertTag, "rock", 0), SQLITE_DONE);
  MusicDBProbe::Statement outer(db, Id::FindTag);
  outer.BindAll("rock", 0);
  {
    MusicDBProbe::Statement inner(db, Id::FindTag);
    EXPECT_FALSE(inner.IsValid());
    EXPECT_EQ(inner.BindAll("pop", 0).Step(), SQLITE_MISUSE);
    SQLiteRowSet rows;
    inner.FetchRows(rows);
    EXPECT_TRUE(rows.empty());
  }
  ASSERT_EQ(outer.Step(), SQLITE_ROW);
  EXPECT_EQ(outer.ColumnText(1), "rock");
}

TEST_F(MusicDBTest, ConnectionKeepsWorkingAfterAnotherConnectionsFirstAnalyze) {
  MusicDBProbe a;
  ASSERT_EQ(a.StepOnce(Id::InsertTrack, "Song", "Album", "Artist", "/music/song.mp3", "Rock", 200), SQLITE_DONE);
  SQLiteRowSet rows;
  a.FetchRows(Id::LoadTrack, rows, 1);
  ASSERT_EQ(rows.size(), 1u);

  MusicDBProbe b;
  ASSERT_TRUE(Rows(b, "SELECT name FROM sqlite_master WHERE name = 'sqlite_stat1'").empty());
  b.Analyze();
  EXPECT_FALSE(b.IsFailed());
  EXPECT_EQ(Rows(b, "SELECT name FROM sqlite_master WHERE name = 'sqlite_stat1'").size(), 1u);

  rows.clear();
  a.FetchRows(Id::LoadTrack, rows, 1);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["location"], "/music/song.mp3");
  EXPECT_EQ(a.StepOnce(Id::MarkTrackOnDisk, 1), SQLITE_DONE);
  EXPECT_EQ(a.StepOnce(Id::InsertTag, "after", 4), SQLITE_DONE);
}

TEST_F(MusicDBTest, BusyDatabaseIsWaitedForTwentyTimesHalfASecond) {
  platform::ManualClock clock;
  clock.SetAutoAdvance(true);
  platform::ScopedClock scoped(clock);
  MusicDBProbe db;
  ASSERT_FALSE(db.IsFailed());

  SQLiteDB holder;
  ASSERT_TRUE(holder.Open(DefaultPath()));
  ASSERT_EQ(holder.Exec("BEGIN EXCLUSIVE;"), SQLITE_OK);
  const platform::Millis start = clock.Now();
  EXPECT_EQ(db.StepOnce(Id::InsertTag, "blocked", 4), SQLITE_BUSY);
  EXPECT_EQ(clock.Now() - start, 10000);
  ASSERT_EQ(holder.Exec("COMMIT;"), SQLITE_OK);

  EXPECT_EQ(db.StepOnce(Id::InsertTag, "free", 4), SQLITE_DONE);
}

TEST_F(MusicDBTest, FailedOpenAnswersMisuseAndNothingFound) {
  zorva_test::WriteFile(folder_.File("plain"), "not a folder");
  testing::internal::CaptureStderr();
  MusicDBProbe db(folder_.File("plain/music.db"));
  const std::string message = testing::internal::GetCapturedStderr();
  EXPECT_EQ(message.rfind("Can't open database: ", 0), 0u) << message;
  EXPECT_TRUE(db.IsFailed());
  EXPECT_TRUE(db.IsNewDatabase());

  EXPECT_EQ(db.StepOnce(Id::InsertTag, "x", 4), SQLITE_MISUSE);
  SQLiteRowSet rows;
  db.FetchRows(Id::LoadTrack, rows, 1);
  EXPECT_TRUE(rows.empty());
  MusicDBProbe::Statement statement(db, Id::LoadTrack);
  EXPECT_FALSE(statement.IsValid());
  EXPECT_EQ(statement.ColumnText(0), "");
  EXPECT_EQ(db.Exec("SELECT 1"), SQLITE_MISUSE);

  testing::internal::CaptureStderr();
  db.Analyze();
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(db.IsFailed());
}

TEST_F(MusicDBTest, FailedFlagStillClosesTheConnection) {
  const std::string path = folder_.File("no-playlist-id.db");
  // At version 0 nothing adds playlistid: the set fails at its first statement that names it.
  Build(path, std::string(kSchema101) + kScheduleItemTable);
  const long before = OpenFileCount();
  {
    MusicDBProbe db(path);
    EXPECT_TRUE(db.IsFailed());
    EXPECT_EQ(db.StepOnce(Id::InsertTag, "x", 4), SQLITE_MISUSE);
    EXPECT_TRUE(Rows(db, "SELECT id FROM tag").empty());
    EXPECT_EQ(OpenFileCount(), before + 1);
    db.Close();
    EXPECT_EQ(OpenFileCount(), before);
    EXPECT_EQ(db.StepOnce(Id::InsertTag, "x", 4), SQLITE_MISUSE);
  }
  EXPECT_EQ(OpenFileCount(), before);
}

TEST_F(MusicDBTest, AnalyzeReopensItsOwnFile) {
  MusicDBProbe db;
  TempFolder elsewhere;
  ScopedEnv moved("XDG_DATA_HOME", elsewhere.Path());
  db.Analyze();
  EXPECT_FALSE(db.IsFailed());
  EXPECT_FALSE(std::filesystem::exists(elsewhere.Path() + "/Zorva/music.db"));
  EXPECT_TRUE(db.IsNewDatabase());  // kept across the reopen
  ASSERT_EQ(db.StepOnce(Id::InsertTag, "jazz", 0), SQLITE_DONE);

  SQLiteDB original;
  ASSERT_TRUE(original.Open(DefaultPath()));
  EXPECT_EQ(Column(Rows(original, "SELECT name FROM tag"), "name"), std::vector<std::string>{"jazz"});
  EXPECT_EQ(Rows(original, "SELECT name FROM sqlite_master WHERE name = 'sqlite_stat1'").size(), 1u);
}

TEST_F(MusicDBTest, MakeDirectoryPathCreatesMissingFoldersOutsideIn) {
  const std::string base = folder_.Path();
  ASSERT_TRUE(MakeDirectoryPath(base + "/one/two/three/"));
  EXPECT_TRUE(std::filesystem::is_directory(base + "/one/two/three"));
  EXPECT_TRUE(MakeDirectoryPath(base + "/one/two/three/"));
  EXPECT_TRUE(MakeDirectoryPath(base + "/one/two/four"));
  EXPECT_TRUE(std::filesystem::is_directory(base + "/one/two/four"));
}

TEST_F(MusicDBTest, MakeDirectoryPathFailsBelowAFile) {
  zorva_test::WriteFile(folder_.File("plain"), "x");
  EXPECT_FALSE(MakeDirectoryPath(folder_.File("plain/sub/")));
  EXPECT_TRUE(std::filesystem::is_regular_file(folder_.File("plain")));
}

TEST_F(MusicDBTest, MakeDirectoryPathGivesUpAfterTenAttempts) {
  // Five missing levels take eleven attempts: walking back five, then forward five,
  // then the full text with its trailing separator.
  const std::string base = folder_.Path();
  EXPECT_FALSE(MakeDirectoryPath(base + "/a/b/c/d/e/"));
  EXPECT_TRUE(MakeDirectoryPath(base + "/f/g/h/i/"));
  EXPECT_TRUE(std::filesystem::is_directory(base + "/f/g/h/i"));
}

}  // namespace

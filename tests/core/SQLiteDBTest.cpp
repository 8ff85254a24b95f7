#include "core/SQLiteDB.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/kernel/Clock.h"
#include "tests/core/DatabaseTestSupport.h"

namespace {

using zorva_test::OpenFileCount;
using zorva_test::TempFolder;

class SQLiteDBTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.Path().empty());
    ASSERT_TRUE(db_.Open(folder_.File("test.db")));
    ASSERT_EQ(db_.Exec("CREATE TABLE t (a INTEGER, b TEXT); INSERT INTO t VALUES (1, NULL); "
                       "INSERT INTO t VALUES (2, 'x');"),
              SQLITE_OK);
  }

  TempFolder folder_;
  SQLiteDB db_;
};

TEST_F(SQLiteDBTest, QueryGivesRowsUnderHeaderNamesWithNullAsEmpty) {
  SQLiteRowSet rows;
  ASSERT_EQ(db_.Query("SELECT a, b AS label FROM t ORDER BY a", rows), SQLITE_OK);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0]["a"], "1");
  EXPECT_TRUE(rows[0].Has("label"));
  EXPECT_EQ(rows[0]["label"], "");
  EXPECT_EQ(rows[0].GetInt("label"), 0);
  EXPECT_EQ(rows[1]["label"], "x");
  EXPECT_EQ(rows[1]["missing"], "");
  EXPECT_FALSE(rows[1].Has("missing"));
}

TEST_F(SQLiteDBTest, QueryKeepsTheLaterOfTwoColumnsOfOneName) {
  SQLiteRowSet rows;
  ASSERT_EQ(db_.Query("SELECT 1 AS v, 2 AS v", rows), SQLITE_OK);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["v"], "2");
  EXPECT_EQ(rows[0].Size(), 1u);
}

TEST_F(SQLiteDBTest, QueryEmptiesTheSetOnNoMatchAndOnFailure) {
  SQLiteRowSet rows;
  ASSERT_EQ(db_.Query("SELECT a FROM t", rows), SQLITE_OK);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(db_.Query("SELECT a FROM t WHERE a > 100", rows), SQLITE_OK);
  EXPECT_TRUE(rows.empty());
  ASSERT_EQ(db_.Query("SELECT a FROM t", rows), SQLITE_OK);
  EXPECT_EQ(db_.Query("SELECT a FROM nowhere", rows), SQLITE_ERROR);
  EXPECT_TRUE(rows.empty());
}

TEST_F(SQLiteDBTest, AggregateWithoutGroupByGivesOneRow) {
  SQLiteRowSet rows;
  ASSERT_EQ(db_.Query("SELECT COUNT (a) as count FROM t WHERE a > 100", rows), SQLITE_OK);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["count"], "0");
}

TEST_F(SQLiteDBTest, ExecRunsEveryStatementOfTheTextInOrder) {
  EXPECT_EQ(db_.Exec("DELETE FROM t; INSERT INTO t VALUES (7, 'a'); UPDATE t SET b = 'c' WHERE a = 7"), SQLITE_OK);
  SQLiteRowSet rows;
  ASSERT_EQ(db_.Query("SELECT a, b FROM t", rows), SQLITE_OK);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["b"], "c");
  EXPECT_EQ(db_.Exec("INSERT INTO nowhere VALUES (1)"), SQLITE_ERROR);
}

TEST_F(SQLiteDBTest, PrepareThrowsOneOnSyntaxError) {
  try {
    db_.Prepare("SELEC a FROM t");
    FAIL() << "no throw";
  } catch (int code) {
    EXPECT_EQ(code, SQLITE_ERROR);
  }
}

TEST_F(SQLiteDBTest, PrepareThrowsTwentySixOnAFileThatIsNoDatabase) {
  const std::string junk = folder_.File("junk.db");
  zorva_test::WriteFile(junk, std::string(4096, 'z'));
  SQLiteDB other;
  ASSERT_TRUE(other.Open(junk));
  try {
    other.Prepare("SELECT 1 FROM sqlite_master");
    FAIL() << "no throw";
  } catch (int code) {
    EXPECT_EQ(code, SQLITE_NOTADB);
  }
}

TEST_F(SQLiteDBTest, FetchRowsAppendsEveryRowOfTheStatement) {
  sqlite3_stmt* statement = db_.Prepare("SELECT a, b FROM t ORDER BY a");
  ASSERT_NE(statement, nullptr);
  SQLiteRowSet rows{SQLiteRow{{"a", "0"}}};
  db_.FetchRows(statement, rows);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0]["a"], "0");
  EXPECT_EQ(rows[1]["a"], "1");
  EXPECT_EQ(rows[1]["b"], "");
  EXPECT_EQ(rows[2]["b"], "x");
  db_.Finalize(statement);
}

TEST_F(SQLiteDBTest, LastInsertRowIdAndChanges) {
  ASSERT_EQ(db_.Exec("INSERT INTO t VALUES (3, 'y')"), SQLITE_OK);
  EXPECT_EQ(db_.LastInsertRowId(), 3);
  ASSERT_EQ(db_.Exec("UPDATE t SET b = 'z' WHERE a < 3"), SQLITE_OK);
  EXPECT_EQ(db_.Changes(), 2);
}

TEST_F(SQLiteDBTest, FailedOpenReportsOnStderrAndAnswersMisuse) {
  SQLiteDB failed;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(failed.Open(folder_.File("no/such/folder/x.db")));
  const std::string message = testing::internal::GetCapturedStderr();
  EXPECT_EQ(message.rfind("Can't open database: ", 0), 0u) << message;
  EXPECT_EQ(message.back(), '\n');
  EXPECT_FALSE(failed.IsOpen());

  SQLiteRowSet rows{SQLiteRow{{"a", "1"}}};
  EXPECT_EQ(failed.Query("SELECT 1", rows), SQLITE_MISUSE);
  EXPECT_TRUE(rows.empty());
  EXPECT_EQ(failed.Exec("SELECT 1"), SQLITE_MISUSE);
  EXPECT_EQ(failed.Prepare("SELECT 1"), nullptr);
  failed.FetchRows(nullptr, rows);
  EXPECT_TRUE(rows.empty());
  EXPECT_EQ(failed.LastInsertRowId(), 0);
  EXPECT_EQ(failed.Changes(), 0);
  failed.Close();
}

TEST_F(SQLiteDBTest, CloseGivesUpOnAConnectionWithOpenStatements) {
  const long before = OpenFileCount();
  {
    SQLiteDB other;
    ASSERT_TRUE(other.Open(folder_.File("test.db")));
    sqlite3_stmt* statement = other.Prepare("SELECT a FROM t");
    ASSERT_NE(statement, nullptr);
    other.Close();
    EXPECT_FALSE(other.IsOpen());
    EXPECT_EQ(other.Exec("SELECT 1"), SQLITE_MISUSE);
    // The connection is still there, holding its file.
    EXPECT_EQ(OpenFileCount(), before + 1);
    sqlite3* connection = sqlite3_db_handle(statement);
    sqlite3_finalize(statement);
    EXPECT_EQ(sqlite3_close(connection), SQLITE_OK);
  }
  EXPECT_EQ(OpenFileCount(), before);
}

TEST_F(SQLiteDBTest, BusyCallbackWaitsHalfASecondTwentyTimesThenGivesUp) {
  platform::ManualClock clock;
  clock.SetAutoAdvance(true);
  platform::ScopedClock scoped(clock);
  const platform::Millis start = clock.Now();
  for (int count = 0; count < 20; ++count) {
    EXPECT_EQ(SQLiteDB::BusyCallback(nullptr, count), 1) << count;
    EXPECT_EQ(clock.Now() - start, 500 * (count + 1));
  }
  EXPECT_EQ(SQLiteDB::BusyCallback(nullptr, 20), 0);
  EXPECT_EQ(SQLiteDB::BusyCallback(nullptr, 21), 0);
  EXPECT_EQ(clock.Now() - start, 10000);
}

// Another connection lets go of its lock while the program's clock stands
// still (a scripted desktop moves it only when told): the query waiting for
// it goes on all the same.
TEST_F(SQLiteDBTest, AQueryGoesOnOnceALockIsLetGoWhileTheClockStandsStill) {
  platform::ManualClock clock;
  platform::ScopedClock scoped(clock);
  SQLiteDB holder;
  ASSERT_TRUE(holder.Open(folder_.File("test.db")));
  ASSERT_EQ(holder.Exec("BEGIN EXCLUSIVE;"), SQLITE_OK);
  std::atomic<int> result{-1};
  std::thread reader([&] {
    SQLiteRowSet rows;
    result = db_.Query("SELECT a FROM t", rows);
  });
  while (clock.Waiters() == 0) std::this_thread::yield();  // the reader waits for the lock
  EXPECT_EQ(holder.Exec("COMMIT;"), SQLITE_OK);
  reader.join();
  EXPECT_EQ(result, SQLITE_OK);
  EXPECT_EQ(clock.Now(), 0);
}

}  // namespace

namespace {

struct TransactionCase {
  const char* name;
  bool openedBefore;  // a transaction of the caller's is open already
  bool commit;
  bool began;
  int rowsAfter;  // rows of t once the caller's transaction, if any, is rolled back
};

class SQLiteTransactionTest : public SQLiteDBTest, public ::testing::WithParamInterface<TransactionCase> {};

TEST_P(SQLiteTransactionTest, CommitsRollsBackWhenLeftAndStaysOutOfAnOpenOne) {
  const TransactionCase& c = GetParam();
  if (c.openedBefore) {
    ASSERT_EQ(db_.Exec("BEGIN"), SQLITE_OK);
  }
  {
    SQLiteTransaction transaction(db_, SQLiteTransaction::Mode::Immediate);
    EXPECT_EQ(transaction.Began(), c.began);
    ASSERT_EQ(db_.Exec("INSERT INTO t VALUES (3, 'y')"), SQLITE_OK);
    if (c.commit) {
      EXPECT_TRUE(transaction.Commit());
    }
  }
  // The caller's transaction is still open: nothing was committed for it.
  if (c.openedBefore) {
    EXPECT_EQ(db_.Exec("ROLLBACK"), SQLITE_OK);
  }
  SQLiteRowSet rows;
  ASSERT_EQ(db_.Query("SELECT a FROM t", rows), SQLITE_OK);
  EXPECT_EQ(static_cast<int>(rows.size()), c.rowsAfter);
}

INSTANTIATE_TEST_SUITE_P(Cases, SQLiteTransactionTest,
                         ::testing::Values(TransactionCase{"Committed", false, true, true, 3},
                                           TransactionCase{"LeftWithoutCommit", false, false, true, 2},
                                           TransactionCase{"InsideAnOpenOne", true, true, false, 2}),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace

// One connection to one SQLite database file, and the text rows that its
// queries return.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <initializer_list>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

// One result row: column name to column value as text (NULL as the empty text).
class SQLiteRow {
 public:
  using Map = std::unordered_map<std::string, std::string>;

  SQLiteRow() = default;
  SQLiteRow(std::initializer_list<Map::value_type> values);

  // The value of `column`; the empty text when the row has no such column.
  const std::string& Get(const std::string& column) const;
  const std::string& operator[](const std::string& column) const { return Get(column); }
  // The value read as a decimal number (atoi: empty or missing reads as 0).
  int GetInt(const std::string& column) const;
  bool Has(const std::string& column) const;
  // A later column of the same name replaces the earlier value.
  void Set(const std::string& column, std::string value);

  std::size_t Size() const { return values_.size(); }
  bool Empty() const { return values_.empty(); }
  Map::const_iterator begin() const { return values_.begin(); }
  Map::const_iterator end() const { return values_.end(); }

  bool operator==(const SQLiteRow& other) const = default;

 private:
  Map values_;
};

// The rows of a result in the order SQLite delivered them.
using SQLiteRowSet = std::vector<SQLiteRow>;

class SQLiteDB {
 public:
  SQLiteDB() = default;
  virtual ~SQLiteDB();
  SQLiteDB(const SQLiteDB&) = delete;
  SQLiteDB& operator=(const SQLiteDB&) = delete;

  // Opens (or creates) the file and installs the busy callback. On failure the
  // reason goes to stderr and the wrapper stays closed. An open connection is
  // closed first.
  bool Open(const std::string& path);
  // Closes the connection. While statements are still open SQLite refuses; the
  // close is retried 20 times (interrupting the connection each time) and then
  // given up: the connection is left as it is and no longer used.
  void Close();
  bool IsOpen() const { return open_ != 0; }

  // Runs the text and puts one row per result row into `rows` (emptied in every
  // case). SQLITE_MISUSE when the wrapper is not open.
  int Query(const std::string& sql, SQLiteRowSet& rows);
  // Runs the text (several statements separated by ";" run in order) and
  // discards any rows. SQLITE_MISUSE when the wrapper is not open.
  int Exec(const std::string& sql);
  // Compiles the text. Throws the result code (int) on SQLITE_ERROR and
  // SQLITE_NOTADB; null on any other failure and when the wrapper is not open.
  sqlite3_stmt* Prepare(const std::string& sql);
  void Finalize(sqlite3_stmt* statement);
  // Steps the statement to its end, appending one row per result row. Neither
  // empties `rows` nor resets the statement. Does nothing for a null statement
  // or a closed wrapper.
  void FetchRows(sqlite3_stmt* statement, SQLiteRowSet& rows);
  // 0 when the wrapper is not open.
  sqlite3_int64 LastInsertRowId();
  int Changes();

  // SQLite's busy handler: waits 500 ms for each of the first 20 calls for one
  // lock (about 10 s in all), then gives up so the statement fails with SQLITE_BUSY.
  static int BusyCallback(void* context, int priorCalls);

  enum class TransactionStep { Begin, BeginImmediate, Commit, RollBack };

 protected:
  friend class SQLiteTransaction;
  // Runs one step of a transaction; true when it succeeded. Here the text
  // runs as it is; a connection with compiled statements may use those.
  virtual bool RunTransactionStep(TransactionStep step);

  // The connection; null while the wrapper is not open.
  sqlite3* Handle() const { return open_ ? db_ : nullptr; }

 private:
  sqlite3* db_ = nullptr;
  int open_ = 0;
};

// The statements of one scope in a transaction of their own: begun here,
// rolled back when the scope is left without a commit. When BEGIN fails (or
// a transaction is already open) the statements run without one, and
// nothing is committed or rolled back here.
class SQLiteTransaction {
 public:
  enum class Mode { Deferred, Immediate };
  explicit SQLiteTransaction(SQLiteDB& db, Mode mode = Mode::Deferred);
  ~SQLiteTransaction();
  SQLiteTransaction(const SQLiteTransaction&) = delete;
  SQLiteTransaction& operator=(const SQLiteTransaction&) = delete;

  bool Began() const { return open_; }
  // Tries COMMIT up to `attempts` times and rolls back when none succeeds.
  // True when committed, or when there was no transaction of its own.
  bool Commit(int attempts = 1);

 private:
  SQLiteDB& db_;
  bool open_;
};

#include "core/SQLiteDB.h"

#include <cstdio>
#include <cstdlib>

#include "platform/kernel/Clock.h"

namespace {

constexpr int kBusyTries = 20;
constexpr DWORD kBusyWaitMs = 500;
constexpr int kCloseRetries = 20;

std::string ColumnText(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

// Runs `sql`, its rows kept in `rows` when given; the table and the error
// text are freed here.
int GetTable(sqlite3* db, const std::string& sql, SQLiteRowSet* rows) {
  char** table = nullptr;
  int rowCount = 0;
  int columnCount = 0;
  char* error = nullptr;
  int rc = sqlite3_get_table(db, sql.c_str(), &table, &rowCount, &columnCount, &error);
  if (rows && rc == SQLITE_OK && table) {
    rows->reserve(static_cast<std::size_t>(rowCount));
    // The first columnCount entries are the header names; the rows follow.
    for (int r = 1; r <= rowCount; ++r) {
      SQLiteRow row;
      for (int c = 0; c < columnCount; ++c) {
        const char* name = table[c];
        const char* value = table[r * columnCount + c];
        row.Set(name ? name : "", value ? value : "");
      }
      rows->push_back(std::move(row));
    }
  }
  sqlite3_free_table(table);
  sqlite3_free(error);
  return rc;
}

}  // namespace

SQLiteRow::SQLiteRow(std::initializer_list<Map::value_type> values) {
  for (const auto& [column, value] : values) Set(column, value);
}

const std::string& SQLiteRow::Get(const std::string& column) const {
  // Function-local, so rows work during static initialisation too.
  static const std::string empty;
  auto it = values_.find(column);
  return it == values_.end() ? empty : it->second;
}

int SQLiteRow::GetInt(const std::string& column) const { return std::atoi(Get(column).c_str()); }

bool SQLiteRow::Has(const std::string& column) const { return values_.count(column) != 0; }

void SQLiteRow::Set(const std::string& column, std::string value) {
  values_.insert_or_assign(column, std::move(value));
}

SQLiteDB::~SQLiteDB() { Close(); }

bool SQLiteDB::Open(const std::string& path) {
  Close();
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
    std::fprintf(stderr, "Can't open database: %s\n", db ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_close(db);
    return false;
  }
  db_ = db;
  open_ = 1;
  sqlite3_busy_handler(db_, &SQLiteDB::BusyCallback, this);
  return true;
}

void SQLiteDB::Close() {
  if (!open_) return;
  open_ = 0;
  int rc = sqlite3_close(db_);
  for (int retries = 0; rc == SQLITE_BUSY && retries < kCloseRetries; ++retries) {
    sqlite3_interrupt(db_);
    rc = sqlite3_close(db_);
  }
  // Closed, or given up on: either way this wrapper is done with the handle.
  db_ = nullptr;
}

int SQLiteDB::BusyCallback(void* /*context*/, int priorCalls) {
  if (priorCalls >= kBusyTries) return 0;
  // The lock is another connection's (the scan thread's, the other
  // program's): it goes at their pace, also while a manual clock stands still.
  platform::WaitForOthers(kBusyWaitMs);
  return 1;
}

int SQLiteDB::Query(const std::string& sql, SQLiteRowSet& rows) {
  rows.clear();
  if (!open_) return SQLITE_MISUSE;
  return GetTable(db_, sql, &rows);
}

int SQLiteDB::Exec(const std::string& sql) {
  if (!open_) return SQLITE_MISUSE;
  return GetTable(db_, sql, nullptr);
}

sqlite3_stmt* SQLiteDB::Prepare(const std::string& sql) {
  if (!open_) return nullptr;
  sqlite3_stmt* statement = nullptr;
  // The v2 interface recompiles a statement by itself after another
  // connection changed the schema (its first ANALYZE does); the old one
  // would fail every later step of it.
  int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr);
  if (rc == SQLITE_OK) return statement;
  sqlite3_finalize(statement);
  if (rc == SQLITE_ERROR || rc == SQLITE_NOTADB) throw rc;
  return nullptr;
}

void SQLiteDB::Finalize(sqlite3_stmt* statement) {
  if (statement) sqlite3_finalize(statement);
}

void SQLiteDB::FetchRows(sqlite3_stmt* statement, SQLiteRowSet& rows) {
  if (!open_ || !statement) return;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    SQLiteRow row;
    int columnCount = sqlite3_column_count(statement);
    for (int c = 0; c < columnCount; ++c) {
      const char* name = sqlite3_column_name(statement, c);
      row.Set(name ? name : "", ColumnText(statement, c));
    }
    rows.push_back(std::move(row));
  }
}

sqlite3_int64 SQLiteDB::LastInsertRowId() { return open_ ? sqlite3_last_insert_rowid(db_) : 0; }

int SQLiteDB::Changes() { return open_ ? sqlite3_changes(db_) : 0; }

bool SQLiteDB::RunTransactionStep(TransactionStep step) {
  switch (step) {
    case TransactionStep::Begin:
      return Exec("BEGIN") == SQLITE_OK;
    case TransactionStep::BeginImmediate:
      return Exec("BEGIN IMMEDIATE") == SQLITE_OK;
    case TransactionStep::Commit:
      return Exec("COMMIT") == SQLITE_OK;
    case TransactionStep::RollBack:
      return Exec("ROLLBACK") == SQLITE_OK;
  }
  return false;
}

SQLiteTransaction::SQLiteTransaction(SQLiteDB& db, Mode mode)
    : db_(db),
      open_(db.RunTransactionStep(mode == Mode::Immediate ? SQLiteDB::TransactionStep::BeginImmediate
                                                          : SQLiteDB::TransactionStep::Begin)) {}

SQLiteTransaction::~SQLiteTransaction() {
  if (open_) db_.RunTransactionStep(SQLiteDB::TransactionStep::RollBack);
}

bool SQLiteTransaction::Commit(int attempts) {
  if (!open_) return true;
  open_ = false;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (db_.RunTransactionStep(SQLiteDB::TransactionStep::Commit)) return true;
  }
  db_.RunTransactionStep(SQLiteDB::TransactionStep::RollBack);
  return false;
}

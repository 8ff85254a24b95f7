// The library's prepared statements as one call holds them: binding, stepping
// and reading columns, and a track read from a row.
#include <cstddef>

#include "core/MusicDB.h"

MusicDB::Statement::Statement(MusicDB& db, StatementId id)
    : db_(db), lock_(db.mutex_), index_(static_cast<int>(id)), owner_(false) {
  auto& inUse = db_.inUse_[static_cast<std::size_t>(index_)];
  if (!inUse) {
    inUse = true;
    owner_ = true;
  }
}

MusicDB::Statement::~Statement() {
  if (!owner_) return;
  if (sqlite3_stmt* statement = Handle()) {
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
  }
  db_.inUse_[static_cast<std::size_t>(index_)] = false;
}

sqlite3_stmt* MusicDB::Statement::Handle() const {
  if (!owner_ || db_.failed_ || !db_.IsOpen()) return nullptr;
  return db_.statements_[static_cast<std::size_t>(index_)].get();
}

MusicDB::Statement& MusicDB::Statement::Bind(int index, int value) {
  if (sqlite3_stmt* statement = Handle()) sqlite3_bind_int(statement, index, value);
  return *this;
}

MusicDB::Statement& MusicDB::Statement::Bind(int index, const std::string& text) {
  if (sqlite3_stmt* statement = Handle()) {
    sqlite3_bind_text(statement, index, text.c_str(), -1, SQLITE_TRANSIENT);
  }
  return *this;
}

MusicDB::Statement& MusicDB::Statement::Bind(int index, const char* text) {
  if (sqlite3_stmt* statement = Handle()) sqlite3_bind_text(statement, index, text, -1, SQLITE_TRANSIENT);
  return *this;
}

int MusicDB::Statement::Step() {
  sqlite3_stmt* statement = Handle();
  return statement ? sqlite3_step(statement) : SQLITE_MISUSE;
}

void MusicDB::Statement::FetchRows(SQLiteRowSet& rows) {
  if (sqlite3_stmt* statement = Handle()) db_.SQLiteDB::FetchRows(statement, rows);
}

int MusicDB::Statement::ColumnInt(int column) const {
  sqlite3_stmt* statement = Handle();
  return statement ? sqlite3_column_int(statement, column) : 0;
}

sqlite3_int64 MusicDB::Statement::ColumnInt64(int column) const {
  sqlite3_stmt* statement = Handle();
  return statement ? sqlite3_column_int64(statement, column) : 0;
}

int MusicDB::Statement::ColumnType(int column) const {
  sqlite3_stmt* statement = Handle();
  return statement ? sqlite3_column_type(statement, column) : SQLITE_NULL;
}

Track MusicDB::Statement::ReadTrack() const { return MusicDB::ReadTrack(Handle()); }

Tag MusicDB::Statement::ReadTag() const {
  Tag tag(ColumnText(1), ColumnInt(2), ColumnInt(0));
  tag.frequency = ColumnInt(3);
  return tag;
}

Track MusicDB::ReadTrack(sqlite3_stmt* statement) {
  Track track;
  if (!statement) return track;
  auto text = [statement](int column) {
    const unsigned char* value = sqlite3_column_text(statement, column);
    return value ? std::string(reinterpret_cast<const char*>(value)) : std::string();
  };
  track.id = sqlite3_column_int(statement, 0);
  track.name = text(1);
  track.album = text(2);
  track.artist = text(3);
  track.location = text(4);
  track.genre = text(5);
  track.length = sqlite3_column_int(statement, 6);
  track.enabled = sqlite3_column_int(statement, 7) != 0;
  return track;
}

std::string MusicDB::Statement::ColumnText(int column) const {
  sqlite3_stmt* statement = Handle();
  if (!statement) return std::string();
  const unsigned char* text = sqlite3_column_text(statement, column);
  return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

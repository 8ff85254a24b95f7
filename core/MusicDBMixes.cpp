// Mix and play-record queries and the library statistics of the music
// database.
#include <algorithm>
#include <utility>

#include "core/HtmlText.h"
#include "core/MusicDB.h"

namespace {

// The "count" column of the first row of a COUNT query as text.
std::string CountText(SQLiteDB& db, const char* sql) {
  SQLiteRowSet rows;
  db.Query(sql, rows);
  return rows.empty() ? std::string() : rows.front().Get("count");
}

}  // namespace

void MusicDB::AddMix(Mix& mix) {
  auto lock = Lock();
  const bool inserted = StepOnce(StatementId::InsertMix, mix.GetDisplayName(), mix.playlistmix ? 1 : 0, mix.playlistpos,
                                 mix.playlistid) == SQLITE_DONE;
  // After a failed insert the last row id belongs to another row.
  if (!inserted) return;
  mix.id = static_cast<int>(LastInsertRowId());
  for (const Tag& tag : mix.tags) StepOnce(StatementId::InsertMixTag, mix.id, tag.id);
}

void MusicDB::UpdateMix(Mix& mix) {
  if (mix.id == 0) {
    AddMix(mix);
    return;
  }
  StepOnce(StatementId::UpdateMix, mix.GetDisplayName(), mix.playlistmix ? 1 : 0, mix.playlistpos, mix.playlistid,
           mix.id);
}

void MusicDB::AddMixTag(const Mix& mix, const Tag& tag) {
  if (mix.id == 0 || tag.id == 0) return;
  StepOnce(StatementId::InsertMixTag, mix.id, tag.id);
}

void MusicDB::RemoveMixTag(const Mix& mix, const Tag& tag) {
  if (mix.id == 0 || tag.id == 0) return;
  StepOnce(StatementId::DeleteMixTag, mix.id, tag.id);
}

void MusicDB::GetMixes(MixList& mixes, bool playlist) {
  // The rows are all read before the tags are: the tag query must not run
  // while this statement is mid-step.
  SQLiteRowSet rows;
  FetchRows(StatementId::Mixes, rows, playlist ? 1 : 0);
  for (const SQLiteRow& row : rows) {
    Mix mix(row);
    GetMixTags(mix);
    mixes.push_back(std::move(mix));
  }
}

void MusicDB::LoadMix(Mix& mix) {
  SQLiteRowSet rows;
  FetchRows(StatementId::LoadMix, rows, mix.id);
  if (rows.empty()) return;
  mix = Mix(rows.front());
  GetMixTags(mix);
}

Mix MusicDB::GetMix(int mixId) {
  SQLiteRowSet rows;
  FetchRows(StatementId::LoadMix, rows, mixId);
  if (rows.empty()) return Mix();
  Mix mix(rows.front());
  GetMixTags(mix);
  return mix;
}

Mix MusicDB::GetMixOfScheduleItem(int itemId) {
  SQLiteRowSet rows;
  FetchRows(StatementId::MixOfScheduleItem, rows, itemId);
  if (rows.empty()) return Mix();
  Mix mix(rows.front());
  GetMixTags(mix);
  return mix;
}

void MusicDB::DeleteMix(const Mix& mix) {
  auto lock = Lock();
  SQLiteTransaction transaction(*this, SQLiteTransaction::Mode::Immediate);
  StepOnce(StatementId::DeleteMix, mix.id);
  StepOnce(StatementId::DeleteMixTags, mix.id);
  StepOnce(StatementId::ClearScheduleItemMixes, mix.id);
  transaction.Commit(kCommitAttempts);
}

bool MusicDB::MixTagsFromCache(int mixId, TagList& tags) {
  const TagCache* cache = CurrentTagCache(false);
  if (!cache) return false;
  {
    // The rows come by tag id, as the grouping of MixTags leaves them. A tag
    // named by n mixtag rows is counted n times over there, once per row.
    Statement statement(*this, StatementId::MixTagRows);
    statement.Bind(1, mixId);
    int rc = SQLITE_ROW;
    while ((rc = statement.Step()) == SQLITE_ROW) {
      const sqlite3_int64 frequency = cache->frequencies.Get(statement.ColumnInt64(0));
      if (frequency == 0) continue;
      Tag& tag = tags.emplace_back(statement.ColumnText(1), statement.ColumnInt(2), statement.ColumnInt(0));
      // Cut to an int as a column read of the count would be.
      tag.frequency = static_cast<int>(frequency * statement.ColumnInt64(3));
    }
    if (rc != SQLITE_DONE) return false;
  }
  // Another connection may have committed after the check, before the read:
  // the rows would then not fit the frequencies.
  return TagCacheIfCurrent() == cache;
}

void MusicDB::GetMixTags(Mix& mix) {
  auto lock = Lock();
  TagList tags;
  // The cached frequencies when they are current or only this connection's
  // writes changed them; the full count otherwise (it is not worth reading
  // the whole library again for one mix).
  if (!MixTagsFromCache(mix.id, tags)) {
    tags.clear();
    FetchTags(StatementId::MixTags, tags, mix.id);
  }
  int total = 0;
  for (const Tag& tag : tags) {
    total += tag.frequency;
    mix.AddTag(tag, false);
  }
  mix.trackCount = total;
}

bool MusicDB::WalkMixByName(int mixId, int offset, int limit) {
  if (limit < 0) return false;
  Statement size(*this, StatementId::MixSize);
  size.Bind(1, mixId);
  if (size.Step() != SQLITE_ROW) return false;
  const double rows = static_cast<double>(size.ColumnInt64(0));
  const double tracks = static_cast<double>(size.ColumnInt64(1));
  const double wanted = static_cast<double>(std::max(offset, 0)) + limit;
  // The walk meets a track of the mix once in tracks / rows and looks up
  // about three rows for each track it passes; the other way reads every
  // row of the mix once.
  return 3.0 * wanted * tracks < rows * rows;
}

void MusicDB::GetTracksOfMix(const Mix& mix, TrackList& tracks, int offset, int limit) {
  auto lock = Lock();
  const StatementId id =
      WalkMixByName(mix.id, offset, limit) ? StatementId::TracksOfMixByName : StatementId::TracksOfMix;
  FetchTracks(id, tracks, mix.id, limit, offset);
}

bool MusicDB::AddPlayRecord(const Track& track, const Mix& mix) {
  return StepKeepingTagLists(StatementId::AddPlayRecord, track.id, mix.id) == SQLITE_DONE;
}

std::string MusicDB::GetWriteFailure() const {
  auto lock = Lock();
  return Handle() ? sqlite3_errmsg(Handle()) : "no database";
}

Track MusicDB::GetRecentlyPlayedTrack(int n) {
  Statement statement(*this, StatementId::RecentlyPlayedTrack);
  statement.Bind(1, n);
  return statement.Step() == SQLITE_ROW ? statement.ReadTrack() : Track();
}

void MusicDB::PurgePlayRecords(int days) { StepKeepingTagLists(StatementId::PurgePlayRecords, days); }

std::string MusicDB::GetLibraryStatistics() {
  const std::string tracks = CountText(*this, "SELECT COUNT (id) as count FROM track");
  const std::string tags = CountText(*this, "SELECT COUNT (id) as count FROM tag");
  const std::string genres = CountText(*this, "SELECT COUNT (id) as count FROM tag WHERE type = 0");
  const std::string albums = CountText(*this, "SELECT COUNT (id) as count FROM tag WHERE type = 1");
  const std::string artists = CountText(*this, "SELECT COUNT (id) as count FROM tag WHERE type = 2");
  return FormatText(
      "About your library: <br><br> You have %s tracks<br><br>And %s selectors<br><br>Of which "
      "<UL><LI>%s are genres</LI><LI>%s are artist</LI><LI>%s are albums</LI></UL>",
      tracks.c_str(), tags.c_str(), genres.c_str(), artists.c_str(), albums.c_str());
}

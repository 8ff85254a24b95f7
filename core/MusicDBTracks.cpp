// Track and library-scan queries of the music database.
#include <utility>

#include "core/MusicDB.h"

void MusicDB::MarkAllTracksNotOnDisk() { StepOnce(StatementId::MarkAllTracksNotOnDisk); }

bool MusicDB::FindTrackByLocation(Track& track, std::string& genre) {
  Statement statement(*this, StatementId::FindTrackByLocation);
  statement.Bind(1, track.location);
  if (statement.Step() != SQLITE_ROW) return false;
  track.id = statement.ColumnInt(0);
  genre = statement.ColumnText(1);
  return true;
}

bool MusicDB::AddOrUpdateTrack(Track track) {
  bool stored = false;
  return AddOrUpdateTrack(std::move(track), stored);
}

MusicDB::ScannedTrack MusicDB::ReadScannedTrack(const Track& track) {
  ScannedTrack scanned;
  Statement scan(*this, StatementId::ScanTrack);
  scan.BindAll(track.location, track.album, track.artist, track.genre);
  if (scan.Step() != SQLITE_ROW) return scanned;
  scanned.found = true;
  scanned.id = scan.ColumnInt(0);
  scanned.onDisk = scan.ColumnInt(2) == 1;
  // An empty text sets no tag of its type.
  auto current = [&scan](const std::string& name, int column) { return name.empty() || scan.ColumnInt(column) == 1; };
  scanned.tagsCurrent = current(track.album, 3) && current(track.artist, 4) && current(track.genre, 5);
  return scanned;
}

bool MusicDB::AddOrUpdateTrack(Track track, bool& stored) {
  auto lock = Lock();
  // When BEGIN fails (or a transaction is already open) the statements run
  // without a transaction of their own, and nothing is committed here.
  SQLiteTransaction transaction(*this, SQLiteTransaction::Mode::Immediate);
  // A rescan meets mostly tracks whose tags are as the library has them: one
  // read shows it, and such a track is at most marked on disk (or its mark
  // is kept for the batch).
  const ScannedTrack scanned = ReadScannedTrack(track);
  if (batchMarks_) {
    if (scanned.OnlyMark()) {
      if (!scanned.onDisk) pendingMarks_.push_back(scanned.id);
    } else {
      pendingTracks_.push_back(std::move(track));
    }
    // Written with the batch; the read above ends here.
    transaction.Commit(kCommitAttempts);
    stored = true;
    return !scanned.found;
  }
  const bool inserted = WriteTrack(track, scanned, stored);
  // A rolled-back transaction takes the row's on-disk mark (or the new row)
  // with it.
  if (!transaction.Commit(kCommitAttempts)) stored = false;
  return inserted && stored;
}

bool MusicDB::WriteTrack(Track& track, const ScannedTrack& scanned, bool& stored) {
  bool inserted = false;
  int rc = SQLITE_DONE;
  if (scanned.found) {
    track.id = scanned.id;
    // A row marked already stays as it is.
    if (!scanned.onDisk) rc = StepOnce(StatementId::MarkTrackOnDisk, track.id);
  } else {
    rc = StepOnce(StatementId::InsertTrack, track.name, track.album, track.artist, track.location, track.genre,
                  track.length);
    inserted = rc == SQLITE_DONE;
    // After a failed insert the last row id belongs to another row.
    track.id = inserted ? static_cast<int>(LastInsertRowId()) : 0;
  }
  if (track.id > 0 && !scanned.OnlyMark()) {
    SetTrackTag(track, track.album, TagAlbum, true);
    SetTrackTag(track, track.artist, TagArtist, true);
    SetTrackTag(track, track.genre, TagGenre, true);
  }
  stored = rc == SQLITE_DONE;
  return inserted;
}

void MusicDB::BatchScanWrites(bool on) {
  auto lock = Lock();
  batchMarks_ = on;
}

bool MusicDB::FlushScanWrites() {
  auto lock = Lock();
  if (pendingMarks_.empty() && pendingTracks_.empty()) return true;
  SQLiteTransaction transaction(*this, SQLiteTransaction::Mode::Immediate);
  bool stored = true;
  for (int id : pendingMarks_) {
    if (StepOnce(StatementId::MarkTrackOnDisk, id) != SQLITE_DONE) stored = false;
  }
  pendingMarks_.clear();
  // Each kept track is read again inside this transaction: an earlier one of
  // the batch may have added its row (the same file listed twice).
  for (Track& track : pendingTracks_) {
    bool written = false;
    WriteTrack(track, ReadScannedTrack(track), written);
    if (!written) stored = false;
  }
  pendingTracks_.clear();
  if (!transaction.Commit(kCommitAttempts)) stored = false;
  return stored;
}

int MusicDB::DeleteTracksNotOnDisk() {
  auto lock = Lock();
  StepOnce(StatementId::DeleteTracksNotOnDisk);
  const int deleted = Changes();
  StepOnce(StatementId::DeleteOrphanTrackTags);
  // Track ids are reused, so a play record left behind would later name a
  // new track that was never played.
  StepOnce(StatementId::DeleteOrphanPlayRecords);
  return deleted;
}

bool MusicDB::LoadTrack(Track& track) {
  Statement statement(*this, StatementId::LoadTrack);
  statement.Bind(1, track.id);
  if (statement.Step() != SQLITE_ROW) return false;
  track = statement.ReadTrack();
  return true;
}

void MusicDB::DisableTrack(Track& track) {
  if (track.id < 1) {
    std::string genre;
    FindTrackByLocation(track, genre);
  }
  StepOnce(StatementId::SetTrackEnabled, 0, track.id);
}

void MusicDB::EnableTrack(const Track& track) { StepOnce(StatementId::SetTrackEnabled, 1, track.id); }

void MusicDB::UpdateTrackDetails(const Track& track) {
  StepOnce(StatementId::UpdateTrackDetails, track.name, track.album, track.artist, track.genre, track.id);
}

int MusicDB::GetEnabledTracks(TrackList& tracks, int offset, int limit) {
  FetchTracks(StatementId::EnabledTracks, tracks, limit, offset);
  return CountTracks(true);
}

int MusicDB::GetDisabledTracks(TrackList& tracks, int offset, int limit) {
  FetchTracks(StatementId::DisabledTracks, tracks, limit, offset);
  return CountTracks(false);
}

int MusicDB::CountTracks(bool enabled) {
  auto lock = Lock();
  KeptCount& kept = trackCounts_[enabled ? 1 : 0];
  // The change count is read first: a commit between the two reads makes
  // the next call count again.
  sqlite3_int64 changes = 0;
  const bool counted = ReadTagListChanges(changes);
  if (counted && kept.valid && kept.changeCount == changes) return kept.count;
  SQLiteRowSet rows;
  Query(enabled ? "SELECT COUNT (id) as count FROM track WHERE enabled = 1"
                : "SELECT COUNT (id) as count FROM track WHERE enabled = 0",
        rows);
  kept.count = rows.empty() ? 0 : rows.front().GetInt("count");
  // A count that failed is not kept.
  kept.valid = counted && !rows.empty();
  kept.changeCount = changes;
  return kept.count;
}

void MusicDB::SearchTracks(TrackList& tracks, const std::string& pattern, int offset, int limit) {
  if (pattern.empty()) return;
  FetchTracks(StatementId::SearchTracks, tracks, pattern, limit, offset);
}

void MusicDB::GetTracksOfTag(const Tag& tag, TrackList& tracks, int offset, int limit) {
  FetchTracks(StatementId::TracksOfTag, tracks, tag.id, limit, offset);
}

bool MusicDB::RunTransactionStep(TransactionStep step) {
  if (!statements_[static_cast<std::size_t>(StatementId::Begin)]) return SQLiteDB::RunTransactionStep(step);
  switch (step) {
    case TransactionStep::Begin:
      return SQLiteDB::RunTransactionStep(step);
    case TransactionStep::BeginImmediate:
      return StepOnce(StatementId::Begin) == SQLITE_DONE;
    case TransactionStep::Commit:
      return StepOnce(StatementId::Commit) == SQLITE_DONE;
    case TransactionStep::RollBack:
      return StepOnce(StatementId::Rollback) == SQLITE_DONE;
  }
  return false;
}

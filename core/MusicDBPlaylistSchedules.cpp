// Storage of generator playlists: rows of table "schedule" of type 5 with
// their items.
#include "core/MusicDB.h"
#include "core/PlaylistSchedule.h"

void MusicDB::AddPlaylistSchedule(PlaylistSchedule& schedule) {
  auto lock = Lock();
  // Only a row that was inserted gives an id: after a failed insert the last
  // row id belongs to some other row, which later updates would overwrite.
  if (StepOnce(StatementId::InsertSchedule, schedule.GetName(), PlaylistSchedule::GetType(), schedule.GetDuration()) ==
      SQLITE_DONE)
    schedule.SetId(static_cast<int>(LastInsertRowId()));
}

void MusicDB::UpdatePlaylistSchedule(const PlaylistSchedule& schedule) {
  StepOnce(StatementId::UpdateSchedule, schedule.GetName(), PlaylistSchedule::GetType(), schedule.GetDuration(),
           schedule.GetId());
}

void MusicDB::GetPlaylistSchedule(PlaylistSchedule& schedule) {
  SQLiteRowSet rows;
  FetchRows(StatementId::LoadSchedule, rows, schedule.GetId());
  if (!rows.empty()) schedule = PlaylistSchedule(rows.front());
}

void MusicDB::DeletePlaylistSchedule(const PlaylistSchedule& schedule) {
  auto lock = Lock();
  StepOnce(StatementId::DeleteSchedule, schedule.GetId());
  StepOnce(StatementId::DeleteScheduleItems, schedule.GetId());
}

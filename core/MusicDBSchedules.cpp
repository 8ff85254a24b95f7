// Storage of schedules and schedule items.
#include "core/MusicDB.h"
#include "core/Schedule.h"

#include <map>
#include <utility>

void MusicDB::AddScheduleItem(ScheduleItem& item) {
  auto lock = Lock();
  StepOnce(StatementId::InsertScheduleItem, item.GetStart(), item.GetEnd(), item.GetMix().GetId(),
           item.GetScheduleId());
  item.SetId(static_cast<int>(LastInsertRowId()));
}

void MusicDB::UpdateScheduleItem(const ScheduleItem& item) {
  StepOnce(StatementId::UpdateScheduleItem, item.GetStart(), item.GetEnd(), item.GetMix().GetId(), item.GetScheduleId(),
           item.GetId());
}

void MusicDB::SetScheduleItemMix(int itemId, int mixId) { StepOnce(StatementId::SetScheduleItemMix, mixId, itemId); }

void MusicDB::DeleteScheduleItem(const ScheduleItem& item) {
  StepOnce(StatementId::DeleteScheduleItem, item.GetId(), item.GetScheduleId());
}

void MusicDB::GetScheduleItems(int scheduleId, std::vector<ScheduleItem>& items) {
  SQLiteRowSet rows;
  FetchRows(StatementId::ScheduleItems, rows, scheduleId);
  // The slots of a day share a few mixes, and a mix with its tag counts is
  // costly to load on a large library: each is loaded once.
  std::map<int, Mix> mixes;
  for (const SQLiteRow& row : rows) {
    const int mixId = row.GetInt("mixid");
    auto mix = mixes.find(mixId);
    if (mix == mixes.end()) mix = mixes.emplace(mixId, theMusicDB.GetMix(mixId)).first;
    ScheduleItem item(0, 0, 0, row.GetInt("scheduleid"));
    item.SetId(row.GetInt("id"));
    item.SetStart(row.GetInt("starttime"));
    item.SetEnd(row.GetInt("endtime"));
    item.SetMix(mix->second);
    items.push_back(std::move(item));
  }
}

ScheduleItem MusicDB::GetScheduleItem(int itemId) {
  SQLiteRowSet rows;
  FetchRows(StatementId::ScheduleItem, rows, itemId);
  if (rows.empty()) return ScheduleItem(0, 0, 0, 0);
  return ScheduleItem(rows.front());
}

void MusicDB::GetSchedules(int scheduleType, std::vector<Schedule>& schedules) {
  SQLiteRowSet rows;
  FetchRows(StatementId::Schedules, rows, scheduleType);
  for (const SQLiteRow& row : rows) schedules.emplace_back(row);
}

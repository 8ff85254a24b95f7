// Tag queries and track tag assignments of the music database.
#include "core/MusicDB.h"

namespace {

void AppendTags(const SQLiteRowSet& rows, TagList& tags) {
  for (const SQLiteRow& row : rows) tags.emplace_back(row);
}

}  // namespace

bool MusicDB::LoadTag(Tag& tag) {
  SQLiteRowSet rows;
  FetchRows(StatementId::LoadTag, rows, tag.id);
  // The count has no GROUP BY, so a tag that no enabled track carries still
  // gives one row, with an empty id: that is a tag not found.
  if (rows.empty() || rows.front().Get("id").empty()) return false;
  const SQLiteRow& row = rows.front();
  tag.name = row.Get("name");
  tag.id = row.GetInt("id");
  tag.frequency = row.GetInt("frequency");
  tag.type = row.GetInt("type");
  tag.UpdateLabel();
  return true;
}

Tag MusicDB::FindOrCreateTag(const std::string& name, int type) {
  auto lock = Lock();
  {
    Statement find(*this, StatementId::FindTag);
    find.BindAll(name, type);
    if (find.Step() == SQLITE_ROW) return Tag(find.ColumnText(1), find.ColumnInt(2), find.ColumnInt(0));
  }
  const bool inserted = StepOnce(StatementId::InsertTag, name, type) == SQLITE_DONE;
  // After a failed insert the last row id belongs to another row.
  return Tag(name, type, inserted ? static_cast<int>(LastInsertRowId()) : 0);
}

void MusicDB::GetTagsByType(TagList& tags, int type, const std::string& pattern) {
  SQLiteRowSet rows;
  if (pattern.empty())
    FetchRows(StatementId::TagsByType, rows, type);
  else
    FetchRows(StatementId::TagsByTypeLike, rows, type, pattern);
  AppendTags(rows, tags);
}

void MusicDB::GetTagsByTypePage(TagList& tags, int type, const std::string& pattern, int offset,
                                int limit) {
  if (pattern.empty()) return;
  SQLiteRowSet rows;
  FetchRows(StatementId::TagsByTypePage, rows, type, pattern, limit, offset);
  AppendTags(rows, tags);
}

int MusicDB::GetTagsPage(TagList& tags, int offset, int limit) {
  SQLiteRowSet rows;
  FetchRows(StatementId::TagsPage, rows, limit, offset);
  AppendTags(rows, tags);
  SQLiteRowSet count;
  Query("SELECT COUNT (id) as count FROM tag", count);
  return count.empty() ? 0 : count.front().GetInt("count");
}

void MusicDB::GetRelatedTags(TagList& tags, const Tag& tag) {
  SQLiteRowSet rows;
  FetchRows(StatementId::RelatedTags, rows, tag.id);
  for (const SQLiteRow& row : rows) {
    if (row.GetInt("id") != tag.id) tags.emplace_back(row);
  }
}

void MusicDB::DeleteTag(const Tag& tag) {
  StepOnce(StatementId::DeleteTag, tag.id);
  StepOnce(StatementId::DeleteTagAssignments, tag.id);
  // Tag ids are reused once the highest is gone: a mix left naming this id
  // would take in the next new tag.
  StepOnce(StatementId::DeleteMixTagsOfTag, tag.id);
}

void MusicDB::RenameTag(const Tag& tag) { StepOnce(StatementId::RenameTag, tag.name, tag.id); }

void MusicDB::GetTrackTags(TagList& tags, Track& track) {
  if (track.id <= 0) {
    std::string genre;
    FindTrackByLocation(track, genre);
  }
  if (track.id <= 0) return;
  SQLiteRowSet rows;
  FetchRows(StatementId::TrackTags, rows, track.id);
  AppendTags(rows, tags);
}

int MusicDB::GetTrackTagOfType(const Track& track, int type, int& tagId) {
  Statement statement(*this, StatementId::TrackTagOfType);
  statement.BindAll(track.id, type);
  if (statement.Step() != SQLITE_ROW) return 0;
  tagId = statement.ColumnInt(2);
  return statement.ColumnInt(0);
}

void MusicDB::SetTrackTag(Track& track, const std::string& name, int type, bool replace) {
  auto lock = Lock();
  if (name.empty()) return;
  if (track.id <= 0) {
    std::string genre;
    FindTrackByLocation(track, genre);
  }
  const Tag tag = FindOrCreateTag(name, type);
  if (tag.id <= 0) return;
  if (replace && (type == TagGenre || type == TagAlbum || type == TagArtist)) {
    int currentTagId = 0;
    const int trackTagId = GetTrackTagOfType(track, type, currentTagId);
    if (trackTagId > 0) {
      if (currentTagId != tag.id)
        StepOnce(StatementId::UpdateTrackTag, track.id, tag.id, trackTagId);
      return;
    }
  }
  StepOnce(StatementId::InsertTrackTag, track.id, tag.id);
}

void MusicDB::AddTrackTag(Track& track, const Tag& tag) {
  if (tag.name.empty()) return;
  if (track.id <= 0) {
    std::string genre;
    FindTrackByLocation(track, genre);
  }
  StepOnce(StatementId::InsertTrackTag, track.id, tag.id);
}

void MusicDB::RemoveTrackTag(Track& track, const Tag& tag) {
  if (track.id < 1) {
    std::string genre;
    FindTrackByLocation(track, genre);
  }
  StepOnce(StatementId::DeleteTrackTag, track.id, tag.id);
}

void MusicDB::AddTagToTracksOf(const Tag& source, const std::string& name, int type) {
  if (name.empty()) return;
  CopyTagAssignments(source, FindOrCreateTag(name, type));
}

void MusicDB::CopyTagAssignments(const Tag& source, const Tag& target) {
  if (target.name.empty()) return;
  StepOnce(StatementId::CopyTagAssignments, target.id, source.id, target.id);
}

void MusicDB::RemoveSharedAssignments(const Tag& a, const Tag& b) {
  StepOnce(StatementId::RemoveSharedAssignments, b.id, a.id);
}

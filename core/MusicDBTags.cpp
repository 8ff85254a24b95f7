// Tag queries and track tag assignments of the music database.
#include "core/MusicDB.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

namespace {

// The rows of a page of `list`, as LIMIT and OFFSET cut them (a negative
// limit: no bound; a negative offset: from the start).
void AppendPage(const TagList& list, int offset, int limit, TagList& tags) {
  const std::size_t first = std::min(list.size(), static_cast<std::size_t>(std::max(offset, 0)));
  std::size_t last = list.size();
  if (limit >= 0) last = std::min(last, first + static_cast<std::size_t>(limit));
  tags.insert(tags.end(), list.begin() + static_cast<std::ptrdiff_t>(first),
              list.begin() + static_cast<std::ptrdiff_t>(last));
}

// Counts per tag id: tag ids are mostly small and dense, the rest go to a map.
class Frequencies {
 public:
  void Add(sqlite3_int64 id) {
    if (id >= 0 && id < kDense) {
      const auto index = static_cast<std::size_t>(id);
      if (index >= dense_.size()) dense_.resize(std::max(index + 1, dense_.size() * 2));
      ++dense_[index];
    } else {
      ++sparse_[id];
    }
  }
  int Get(sqlite3_int64 id) const {
    if (id >= 0 && id < kDense) {
      const auto index = static_cast<std::size_t>(id);
      return index < dense_.size() ? dense_[index] : 0;
    }
    auto found = sparse_.find(id);
    return found == sparse_.end() ? 0 : found->second;
  }

 private:
  static constexpr sqlite3_int64 kDense = 1 << 22;
  std::vector<int> dense_;
  std::unordered_map<sqlite3_int64, int> sparse_;
};

}  // namespace

MusicDB::TagCache* MusicDB::CurrentTagCache() {
  auto lock = Lock();
  if (!Handle() || IsFailed()) return nullptr;
  sqlite3_int64 dataVersion = 0;
  {
    Statement version(*this, StatementId::DataVersion);
    if (version.Step() != SQLITE_ROW) return nullptr;
    dataVersion = version.ColumnInt64(0);
  }
  const sqlite3_int64 totalChanges = sqlite3_total_changes64(Handle());
  TagCache& cache = tagCache_;
  if (cache.valid && cache.dataVersion == dataVersion && cache.totalChanges == totalChanges) return &cache;

  cache = TagCache();
  // Both reads in one transaction, so that no commit falls between them.
  const bool began = Exec("BEGIN") == SQLITE_OK;
  // Frequency: the assignments on enabled tracks, as the listings count them.
  // Both walks run in index order and meet like a merge; only integers can
  // equal a track's or a tag's id.
  Frequencies frequencies;
  bool complete = true;
  {
    Statement assignments(*this, StatementId::AssignmentsByTrack);
    Statement enabled(*this, StatementId::EnabledTrackIds);
    int enabledRc = enabled.Step();
    int rc = SQLITE_ROW;
    while ((rc = assignments.Step()) == SQLITE_ROW) {
      if (assignments.ColumnType(0) != SQLITE_INTEGER || assignments.ColumnType(1) != SQLITE_INTEGER) continue;
      const sqlite3_int64 trackId = assignments.ColumnInt64(0);
      while (enabledRc == SQLITE_ROW && enabled.ColumnInt64(0) < trackId) enabledRc = enabled.Step();
      if (enabledRc != SQLITE_ROW) break;
      if (enabled.ColumnInt64(0) == trackId) frequencies.Add(assignments.ColumnInt64(1));
    }
    complete = (rc == SQLITE_ROW || rc == SQLITE_DONE) && (enabledRc == SQLITE_ROW || enabledRc == SQLITE_DONE);
  }
  {
    Statement tags(*this, StatementId::TagsByName);
    int rc = SQLITE_ROW;
    while (complete && (rc = tags.Step()) == SQLITE_ROW) {
      ++cache.allTags;
      const int frequency = frequencies.Get(tags.ColumnInt64(0));
      if (frequency == 0) continue;
      Tag tag(tags.ColumnText(1), tags.ColumnInt(2), tags.ColumnInt(0));
      tag.frequency = frequency;
      cache.byName.push_back(std::move(tag));
      cache.integerType.push_back(tags.ColumnType(2) == SQLITE_INTEGER);
    }
    complete = complete && rc == SQLITE_DONE;
  }
  if (began) Exec("COMMIT");
  if (!complete) {
    cache = TagCache();
    return nullptr;
  }
  cache.valid = true;
  cache.dataVersion = dataVersion;
  cache.totalChanges = totalChanges;
  return &cache;
}

bool MusicDB::LoadTag(Tag& tag) {
  Statement statement(*this, StatementId::LoadTag);
  statement.Bind(1, tag.id);
  // The count has no GROUP BY, so a tag that no enabled track carries still
  // gives one row, with an empty id: that is a tag not found.
  if (statement.Step() != SQLITE_ROW || statement.ColumnType(0) == SQLITE_NULL) return false;
  tag.name = statement.ColumnText(1);
  tag.id = statement.ColumnInt(0);
  tag.frequency = statement.ColumnInt(3);
  tag.type = statement.ColumnInt(2);
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
  if (!pattern.empty()) {
    FetchTags(StatementId::TagsByTypeLike, tags, type, pattern);
    return;
  }
  auto lock = Lock();
  TagCache* cache = CurrentTagCache();
  if (!cache) {
    FetchTags(StatementId::TagsByType, tags, type);
    return;
  }
  auto [entry, added] = cache->byType.try_emplace(type);
  if (added) {
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < cache->byName.size(); ++i) {
      if (cache->integerType[i] && cache->byName[i].type == type) order.push_back(i);
    }
    // Most frequent first; equal frequencies by id, as the grouping left them.
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      const Tag& x = cache->byName[a];
      const Tag& y = cache->byName[b];
      return x.frequency != y.frequency ? x.frequency > y.frequency : x.id < y.id;
    });
    entry->second.reserve(order.size());
    for (std::size_t i : order) entry->second.push_back(cache->byName[i]);
  }
  tags.insert(tags.end(), entry->second.begin(), entry->second.end());
}

void MusicDB::GetTagsByTypePage(TagList& tags, int type, const std::string& pattern, int offset,
                                int limit) {
  if (pattern.empty()) return;
  FetchTags(StatementId::TagsByTypePage, tags, type, pattern, limit, offset);
}

int MusicDB::GetTagsPage(TagList& tags, int offset, int limit) {
  auto lock = Lock();
  if (TagCache* cache = CurrentTagCache()) {
    AppendPage(cache->byName, offset, limit, tags);
    return cache->allTags;
  }
  FetchTags(StatementId::TagsPage, tags, limit, offset);
  SQLiteRowSet count;
  Query("SELECT COUNT (id) as count FROM tag", count);
  return count.empty() ? 0 : count.front().GetInt("count");
}

void MusicDB::GetRelatedTags(TagList& tags, const Tag& tag) {
  Statement statement(*this, StatementId::RelatedTags);
  statement.Bind(1, tag.id);
  while (statement.Step() == SQLITE_ROW) {
    if (statement.ColumnInt(0) != tag.id) tags.push_back(statement.ReadTag());
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
  FetchTags(StatementId::TrackTags, tags, track.id);
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

// Tag queries and track tag assignments of the music database.
#include "core/MusicDB.h"

#include <algorithm>
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

constexpr sqlite3_int64 kDenseTagIds = 1 << 22;

}  // namespace

void MusicDB::Frequencies::Clear() {
  std::fill(dense_.begin(), dense_.end(), 0);
  sparse_.clear();
}

void MusicDB::Frequencies::Add(sqlite3_int64 id, int count) {
  if (id >= 0 && id < kDenseTagIds) {
    const auto index = static_cast<std::size_t>(id);
    if (index >= dense_.size()) dense_.resize(std::max(index + 1, dense_.size() * 2));
    dense_[index] += count;
  } else {
    sparse_[id] += count;
  }
}

int MusicDB::Frequencies::Get(sqlite3_int64 id) const {
  if (id >= 0 && id < kDenseTagIds) {
    const auto index = static_cast<std::size_t>(id);
    return index < dense_.size() ? dense_[index] : 0;
  }
  auto found = sparse_.find(id);
  return found == sparse_.end() ? 0 : found->second;
}

bool MusicDB::ReadDataVersion(sqlite3_int64& version) {
  Statement statement(*this, StatementId::DataVersion);
  if (statement.Step() != SQLITE_ROW) return false;
  version = statement.ColumnInt64(0);
  return true;
}

MusicDB::TagCache* MusicDB::TagCacheIfCurrent() {
  auto lock = Lock();
  if (!Handle() || IsFailed() || !tagCache_.valid) return nullptr;
  sqlite3_int64 dataVersion = 0;
  if (!ReadDataVersion(dataVersion)) return nullptr;
  const sqlite3_int64 totalChanges = sqlite3_total_changes64(Handle());
  if (tagCache_.dataVersion == dataVersion && tagCache_.totalChanges == totalChanges) return &tagCache_;
  // Something was written: the lists stand unless it was a track, a tag or
  // an assignment. The count is read after the version, so a commit between
  // the two reads is seen at the next check.
  sqlite3_int64 changeCount = 0;
  if (!tagCache_.counted || !ReadTagListChanges(changeCount) || changeCount != tagCache_.changeCount) {
    return nullptr;
  }
  tagCache_.dataVersion = dataVersion;
  tagCache_.totalChanges = totalChanges;
  return &tagCache_;
}

MusicDB::TagCache* MusicDB::CurrentTagCache(bool readAll) {
  auto lock = Lock();
  if (TagCache* current = TagCacheIfCurrent()) return current;
  if (!Handle() || IsFailed()) return nullptr;
  sqlite3_int64 dataVersion = 0;
  if (!ReadDataVersion(dataVersion)) return nullptr;
  TagCache& cache = tagCache_;
  // All reads in one transaction, so that no commit falls between them.
  SQLiteTransaction transaction(*this);
  const bool began = transaction.Began();
  sqlite3_int64 changeCount = 0;
  const bool counted = ReadTagListChanges(changeCount);
  bool complete = false;
  // The file's log first: it leaves the frequencies untouched when it does
  // not serve, while this connection's may have applied part of its own.
  if (began && counted && cache.valid && cache.counted &&
      (ApplyLoggedTagListWrites(cache) || ApplyOwnTagListWrites(cache, changeCount))) {
    complete = true;
  } else if (!readAll) {
    // The frequencies may be stale or half brought up to date.
    cache.valid = false;
  } else {
    // Emptied, not freed: the lists of a large library are read again into
    // the same storage.
    cache.valid = false;
    Frequencies& frequencies = cache.frequencies;
    frequencies.Clear();
    // Frequency: the assignments on enabled tracks, as the listings count
    // them. Both walks run in index order and meet like a merge; only
    // integers can equal a track's or a tag's id. The loops read the
    // statements directly: they see every assignment of the library.
    Statement assignmentUse(*this, StatementId::AssignmentsByTrack);
    Statement enabledUse(*this, StatementId::EnabledTrackIds);
    sqlite3_stmt* assignments = assignmentUse.Raw();
    sqlite3_stmt* enabled = enabledUse.Raw();
    if (assignments && enabled) {
      int enabledRc = sqlite3_step(enabled);
      sqlite3_int64 enabledId = enabledRc == SQLITE_ROW ? sqlite3_column_int64(enabled, 0) : 0;
      int rc = SQLITE_ROW;
      while (enabledRc == SQLITE_ROW && (rc = sqlite3_step(assignments)) == SQLITE_ROW) {
        sqlite3_value* track = sqlite3_column_value(assignments, 0);
        if (sqlite3_value_type(track) != SQLITE_INTEGER) continue;
        const sqlite3_int64 trackId = sqlite3_value_int64(track);
        while (enabledId < trackId && (enabledRc = sqlite3_step(enabled)) == SQLITE_ROW) {
          enabledId = sqlite3_column_int64(enabled, 0);
        }
        if (enabledRc != SQLITE_ROW || enabledId != trackId) continue;
        sqlite3_value* tag = sqlite3_column_value(assignments, 1);
        if (sqlite3_value_type(tag) == SQLITE_INTEGER) frequencies.Add(sqlite3_value_int64(tag));
      }
      complete = (rc == SQLITE_ROW || rc == SQLITE_DONE) && (enabledRc == SQLITE_ROW || enabledRc == SQLITE_DONE);
    }
  }
  complete = complete && ReadTagsByName(cache);
  if (complete) {
    RestartTagListLog();
    cache.lastDelta = ReadLastTagListDelta();
  }
  transaction.Commit();
  if (!complete) {
    cache.valid = false;
    cache.byName.clear();
    cache.integerType.clear();
    cache.byType.clear();
    cache.allTags = 0;
    return nullptr;
  }
  cache.valid = true;
  cache.counted = counted;
  cache.changeCount = changeCount;
  cache.dataVersion = dataVersion;
  // Read last: the log's own restart is a write of this connection.
  cache.totalChanges = sqlite3_total_changes64(Handle());
  return &cache;
}

bool MusicDB::ReadTagsByName(TagCache& cache) {
  cache.byName.clear();
  cache.integerType.clear();
  cache.byType.clear();
  cache.allTags = 0;
  Statement tagUse(*this, StatementId::TagsByName);
  sqlite3_stmt* tags = tagUse.Raw();
  int rc = tags ? SQLITE_ROW : SQLITE_MISUSE;
  while (tags && (rc = sqlite3_step(tags)) == SQLITE_ROW) {
    ++cache.allTags;
    const int frequency = cache.frequencies.Get(sqlite3_column_int64(tags, 0));
    if (frequency == 0) continue;
    const unsigned char* name = sqlite3_column_text(tags, 1);
    Tag& tag = cache.byName.emplace_back(name ? reinterpret_cast<const char*>(name) : "", sqlite3_column_int(tags, 2),
                                         sqlite3_column_int(tags, 0));
    tag.frequency = frequency;
    cache.integerType.push_back(sqlite3_column_type(tags, 2) == SQLITE_INTEGER);
  }
  return rc == SQLITE_DONE;
}

bool MusicDB::ApplyOwnTagListWrites(TagCache& cache, sqlite3_int64 changeCount) {
  if (!tagListLogging_) return false;
  auto prepare = [this](const char* sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(Handle(), sql, -1, &statement, nullptr) != SQLITE_OK) {
      sqlite3_finalize(statement);
      statement = nullptr;
    }
    return StatementHandle(statement);
  };
  {
    StatementHandle own = prepare("SELECT armed, count FROM temp.taglistown");
    if (!own || sqlite3_step(own.get()) != SQLITE_ROW) return false;
    // Every write since the reading was this connection's, and each was logged.
    if (sqlite3_column_int(own.get(), 0) != 1 ||
        sqlite3_column_int64(own.get(), 1) != changeCount - cache.changeCount) {
      return false;
    }
  }
  StatementHandle log = prepare("SELECT tagid, delta FROM temp.taglistlog");
  if (!log) return false;
  int rc = SQLITE_ROW;
  while ((rc = sqlite3_step(log.get())) == SQLITE_ROW) {
    cache.frequencies.Add(sqlite3_column_int64(log.get(), 0), sqlite3_column_int(log.get(), 1));
  }
  // A failure half way leaves the frequencies wrong: they are read again.
  return rc == SQLITE_DONE;
}

sqlite3_int64 MusicDB::ReadLastTagListDelta() {
  if (!tagListDeltas_) return -1;
  sqlite3_stmt* raw = nullptr;
  // The last number given, whether its row still stands or not.
  if (sqlite3_prepare_v2(Handle(), "SELECT IFNULL((SELECT seq FROM sqlite_sequence WHERE name = 'taglistdelta'), 0)",
                         -1, &raw, nullptr) != SQLITE_OK) {
    sqlite3_finalize(raw);
    return -1;
  }
  StatementHandle last(raw);
  return sqlite3_step(raw) == SQLITE_ROW ? sqlite3_column_int64(raw, 0) : -1;
}

bool MusicDB::ApplyLoggedTagListWrites(TagCache& cache) {
  if (!tagListDeltas_ || cache.lastDelta < 0) return false;
  const sqlite3_int64 last = ReadLastTagListDelta();
  if (last < cache.lastDelta) return false;
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(Handle(), "SELECT seq, tagid, delta FROM taglistdelta WHERE seq > ?1 ORDER BY seq", -1, &raw,
                         nullptr) != SQLITE_OK) {
    sqlite3_finalize(raw);
    return false;
  }
  StatementHandle log(raw);
  sqlite3_bind_int64(raw, 1, cache.lastDelta);
  // Gathered first: a log cut short leaves the frequencies as they were.
  std::vector<std::pair<sqlite3_int64, int>> deltas;
  sqlite3_int64 expected = cache.lastDelta + 1;
  int rc = SQLITE_ROW;
  while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
    // Rows deleted since the lists were read: the log no longer reaches back.
    if (sqlite3_column_int64(raw, 0) != expected++) return false;
    if (sqlite3_column_type(raw, 1) == SQLITE_INTEGER) {
      deltas.emplace_back(sqlite3_column_int64(raw, 1), sqlite3_column_int(raw, 2));
    }
  }
  // Every row numbered since the reading still stands.
  if (rc != SQLITE_DONE || expected != last + 1) return false;
  for (const auto& [tagId, delta] : deltas) cache.frequencies.Add(tagId, delta);
  return true;
}

void MusicDB::RestartTagListLog() {
  if (!tagListLogging_) return;
  // Logging stays off when this fails: the shared count then tells of the
  // writes that follow, and the lists are read again.
  if (Exec("DELETE FROM temp.taglistlog") != SQLITE_OK ||
      Exec("UPDATE temp.taglistown SET armed = 1, count = 0") != SQLITE_OK) {
    Exec("UPDATE temp.taglistown SET armed = 0");
  }
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
  std::vector<std::size_t>& order = entry->second;
  if (added) {
    for (std::size_t i = 0; i < cache->byName.size(); ++i) {
      if (cache->integerType[i] && cache->byName[i].type == type) order.push_back(i);
    }
    // Most frequent first; equal frequencies by id, as the grouping left them.
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      const Tag& x = cache->byName[a];
      const Tag& y = cache->byName[b];
      return x.frequency != y.frequency ? x.frequency > y.frequency : x.id < y.id;
    });
  }
  tags.reserve(tags.size() + order.size());
  for (std::size_t i : order) tags.push_back(cache->byName[i]);
}

void MusicDB::GetTagsByTypePage(TagList& tags, int type, const std::string& pattern, int offset, int limit) {
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
      if (currentTagId != tag.id) StepOnce(StatementId::UpdateTrackTag, track.id, tag.id, trackTagId);
      return;
    }
    // The scan's own row and tag, looked at just now.
    StepOnce(StatementId::InsertTrackTag, track.id, tag.id);
    return;
  }
  StepOnce(StatementId::AssignTrackTag, track.id, tag.id);
}

void MusicDB::AddTrackTag(Track& track, const Tag& tag) {
  if (tag.name.empty()) return;
  if (track.id <= 0) {
    std::string genre;
    FindTrackByLocation(track, genre);
  }
  StepOnce(StatementId::AssignTrackTag, track.id, tag.id);
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

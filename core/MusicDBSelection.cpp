// Random track selection for mixes.
#include <string>
#include <utility>

#include "core/MusicDB.h"

namespace {
constexpr int kRandomPoolSize = 50;
}

Track MusicDB::GetNextRandomTrack(const Mix& mix, bool refill) {
  auto lock = Lock();
  if (randomTracks_.empty() || refill) {
    randomTracks_.clear();
    FetchRandomTracks(mix, randomTracks_, kRandomPoolSize);
  }
  if (randomTracks_.empty()) return Track();
  Track next = std::move(randomTracks_.front());
  randomTracks_.erase(randomTracks_.begin());
  return next;
}

void MusicDB::FetchRandomTracks(const Mix& mix, TrackList& tracks, int limit) {
  SQLiteRowSet rows;
  if (mix.GetId() > 0) {
    if (mix.IsRandom())
      FetchRows(StatementId::RandomTracks, rows, limit);
    else
      FetchRows(StatementId::RandomTracksOfMix, rows, mix.GetId(), limit);
  } else {
    std::string sql = "SELECT  track.* FROM track  ";
    if (mix.IsRandom())
      sql += "WHERE track.enabled = 1";
    else
      sql += ", tracktag, tag WHERE track.enabled= 1 AND track.id = tracktag.trackid AND tag.id = "
             "tracktag.tagid " +
             mix.GetTagSqlClause();
    sql += " order by random() limit ";
    sql += std::to_string(limit) + ";";
    Query(sql, rows);
  }
  for (const SQLiteRow& row : rows) tracks.emplace_back(row);
}

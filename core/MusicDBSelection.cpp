// Random track selection for mixes.
#include <memory>
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
  if (mix.GetId() > 0) {
    if (mix.IsRandom())
      FetchTracks(StatementId::RandomTracks, tracks, limit);
    else
      FetchTracks(StatementId::RandomTracksOfMix, tracks, mix.GetId(), limit);
    return;
  }
  // Ids are drawn first and only the rows drawn are read (see the statement
  // set); the outer loop keeps the order of the draw.
  // The tags come first, whatever the planner's statistics say: the clause
  // names a few of them, while enabled tracks are most of the library.
  std::string picks = "SELECT  track.id AS id FROM ";
  if (mix.IsRandom())
    picks += "track WHERE track.enabled = 1";
  else
    picks +=
        "tag CROSS JOIN tracktag CROSS JOIN track WHERE track.enabled= 1 AND track.id = tracktag.trackid "
        "AND tag.id = tracktag.tagid " +
        mix.GetTagSqlClause();
  picks += " order by random() limit ";
  picks += std::to_string(limit);
  const std::string sql =
      "SELECT " + std::string(TrackColumns()) + " FROM (" + picks + ") AS pick CROSS JOIN track ON track.id = pick.id";
  auto lock = Lock();
  if (!Handle()) return;
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(Handle(), sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
    sqlite3_finalize(raw);
    return;
  }
  const StatementHandle statement(raw);
  while (sqlite3_step(raw) == SQLITE_ROW) tracks.push_back(ReadTrack(raw));
}

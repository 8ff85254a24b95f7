#include "core/MusicDB.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <iterator>

#include "core/ShellPath.h"
#include "platform/kernel/LastError.h"
#include "platform/shell/Shell.h"
#include "platform/kernel/Log.h"

namespace {

constexpr int kCurrentVersion = 102;
constexpr int kMakeDirectoryAttempts = 10;

// A line for the user on the standard error stream, as the profile reports
// a damaged file.
void Complain(const std::string& line) {
  const std::string text = "zorva: " + line + "\n";
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
}

// A new file receives these, in order, each with the table it makes or
// fills; a file that lacks some of the tables receives theirs. Their failures
// are ignored.
constexpr struct {
  const char* table;
  const char* sql;
} kSchema[] = {
    {"mix",
     R"sql(CREATE TABLE "mix" (id iNTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, name VARCHAR, playlistmix INTEGER DEFAULT 0, playlistpos INTEGER DEFAULT 0);)sql"},
    {"mixtag",
     R"sql(CREATE TABLE "mixtag" (mixid INTEGER, tagid INTEGER, id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT UNIQUE) )sql"},
    {"mixtag", R"sql(CREATE INDEX mixtag_indx ON mixtag (mixid, tagid))sql"},
    {"tag",
     R"sql(CREATE TABLE "tag" (id INTEGER NOT NULL PRIMARY KEY UNIQUE, name VARCHAR2(255) COLLATE NOCASE, type INTEGER))sql"},
    {"tag", R"sql(CREATE INDEX name_idx ON tag (name))sql"},
    {"tag", R"sql(CREATE INDEX type_idx ON tag (type))sql"},
    {"tagType", R"sql(CREATE TABLE "tagType" (id INTEGER NOT NULL PRIMARY KEY UNIQUE, name VARCHAR(255)) )sql"},
    {"tagType", R"sql(CREATE INDEX name_x ON tagType (name COLLATE NOCASE))sql"},
    {"tagType", R"sql(INSERT INTO "tagType" (id, name) VALUES (0 , 'genre'))sql"},
    {"tagType", R"sql(INSERT INTO "tagType" (id, name) VALUES (1 , 'album'))sql"},
    {"tagType", R"sql(INSERT INTO "tagType" (id, name) VALUES (2 , 'artist'))sql"},
    {"tagType", R"sql(INSERT INTO "tagType" (id, name) VALUES (3 , 'mix'))sql"},
    {"tagType", R"sql(INSERT INTO "tagType" (id, name) VALUES (4 , 'zorva'))sql"},
    {"tagType", R"sql(INSERT INTO "tagType" (id, name) VALUES (5 , 'playlist'))sql"},
    {"track",
     R"sql(CREATE TABLE "track" (id INTEGER NOT NULL PRIMARY KEY UNIQUE, name VARCHAR2(255), album VARCHAR(255), artist VARCHAR2(255), location VARCHAR2(255), genre VARCHAR2(255) COLLATE NOCASE, length INTEGER, ondisk INTEGER DEFAULT '1', enabled INTEGER DEFAULT '1', reenableDate DATETIME))sql"},
    {"track", R"sql(CREATE INDEX namex ON track (name) )sql"},
    {"track", R"sql(CREATE INDEX locationx ON track (location) )sql"},
    {"track", R"sql(CREATE INDEX enabled_idx ON track (enabled);)sql"},
    {"trackPlayRecord",
     R"sql(CREATE TABLE "trackPlayRecord" (id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT UNIQUE, trackid INTEGER NOT NULL, whenplayed DATETIME DEFAULT CURRENT_TIMESTAMP, mixid INTEGER) )sql"},
    {"tracktag",
     R"sql(CREATE TABLE "tracktag" (id INTEGER NOT NULL PRIMARY KEY UNIQUE, trackid INTEGER, tagid INTEGER, enabled INTEGER DEFAULT '1', reenableDate DATETIME) )sql"},
    {"tracktag", R"sql(CREATE INDEX tag_idx ON tracktag (tagid) )sql"},
    {"tracktag", R"sql(CREATE INDEX track_idx ON tracktag (trackid))sql"},
    {"tracktag", R"sql(CREATE INDEX enableidx ON tracktag (enabled))sql"},
    {"version", R"sql(CREATE TABLE "version" (id INTEGER NOT NULL, name VARCHAR2(255)))sql"},
    {"version", R"sql(INSERT INTO "version" (id, name) VALUES ( 101 , "101 - Release version"))sql"},
    {"schedule",
     R"sql(CREATE TABLE "schedule" (id INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, name VARCHAR, type INTEGER DEFAULT '0', monday INTEGER DEFAULT '0', tuesday INTEGER DEFAULT '0', wednesday INTEGER DEFAULT '0', thursday INTEGER DEFAULT '0', friday INTEGER DEFAULT '0', saturday INTEGER DEFAULT '0', sunday INTEGER DEFAULT '0', duration INTEGER DEFAULT '1440') )sql"},
    {"scheduleItem",
     R"sql(CREATE TABLE "scheduleItem" (id INTEGER PRIMARY KEY UNIQUE, starttime INTEGER, endtime INTEGER, mixid INTEGER, scheduleid INTEGER);)sql"},
    {"schedule",
     R"sql(INSERT INTO "schedule" (name, type, monday, tuesday, wednesday, thursday, friday, saturday, sunday) VALUES ( 'all days', 0, 1, 1, 1, 1, 1, 1, 1) ;)sql"},
    {"schedule",
     R"sql(INSERT INTO "schedule" (name, type, monday, tuesday, wednesday, thursday, friday, saturday, sunday) VALUES ( 'weekdays', 1, 1, 1, 1, 1, 1, 0, 0) ;)sql"},
    {"schedule",
     R"sql(INSERT INTO "schedule" (name, type, monday, tuesday, wednesday, thursday, friday, saturday, sunday) VALUES ( 'weekend', 1, 0, 0, 0, 0, 0, 1, 1) ;)sql"},
    {"schedule",
     R"sql(INSERT INTO "schedule" (name, type, monday, tuesday, wednesday, thursday, friday, saturday, sunday) VALUES ( 'monday', 2, 1, 0, 0, 0, 0, 0, 0) ;)sql"},
    {"schedule",
     R"sql(INSERT INTO "schedule" (name, type, monday, tuesday, wednesday, thursday, friday, saturday, sunday) VALUES ( 'tuesday', 2, 0, 1, 0, 0, 0, 0, 0) ;)sql"},
    {"schedule",
     R"sql(INSERT INTO "schedule" (name, type, monday, tuesday, wednesday, thursday, friday, saturday, sunday) VALUES ( 'wednesday', 2, 0, 0, 1, 0, 0, 0, 0) ;)sql"},
    {"schedule",
     R"sql(INSERT INTO "schedule" (name, type, monday, tuesday, wednesday, thursday, friday, saturday, sunday) VALUES ( 'thursday', 2, 0, 0, 0, 1, 0, 0, 0) ;)sql"},
    {"schedule",
     R"sql(INSERT INTO "schedule" (name, type, monday, tuesday, wednesday, thursday, friday, saturday, sunday) VALUES ( 'friday', 2, 0, 0, 0, 0, 1, 0, 0) ;)sql"},
    {"schedule",
     R"sql(INSERT INTO "schedule" (name, type, monday, tuesday, wednesday, thursday, friday, saturday, sunday) VALUES ( 'saturday', 2, 0, 0, 0, 0, 0, 1, 0) ;)sql"},
    {"schedule",
     R"sql(INSERT INTO "schedule" (name, type, monday, tuesday, wednesday, thursday, friday, saturday, sunday) VALUES ( 'sunday', 2, 0, 0, 0, 0, 0, 0, 1) ;)sql"},
};

// Run on a file at version 101; their failures are ignored (a file made by
// the schema above has the first two columns already).
constexpr const char* kUpgradeTo102[] = {
    R"sql(ALTER TABLE 'mix' ADD 'playlistmix' INTEGER DEFAULT '0';)sql",
    R"sql(ALTER TABLE 'mix' ADD 'playlistpos' INTEGER DEFAULT '0';)sql",
    R"sql(ALTER TABLE 'mix' ADD 'playlistid' INTEGER DEFAULT '0';)sql",
    R"sql(INSERT INTO "version" (id, name) VALUES ( 102 , "102 - added playlist support"))sql",
};

// Indexes beyond the schema above, made at every open where missing: the tag
// lookups of a scan by name and type, the assignments walked from a tag or a
// track without reading their rows, and the enabled tracks by name.
constexpr struct {
  const char* name;
  const char* sql;
} kIndexes[] = {
    {"tag_name_type_idx", "CREATE INDEX IF NOT EXISTS tag_name_type_idx ON tag (name, type)"},
    {"tracktag_tag_track_idx", "CREATE INDEX IF NOT EXISTS tracktag_tag_track_idx ON tracktag (tagid, trackid)"},
    {"tracktag_track_tag_idx", "CREATE INDEX IF NOT EXISTS tracktag_track_tag_idx ON tracktag (trackid, tagid)"},
    {"track_enabled_name_idx", "CREATE INDEX IF NOT EXISTS track_enabled_name_idx ON track (enabled, name)"},
};

// The tag lists are built from tracks, tags and their assignments only. Every
// write to those, from any connection or program, counts up the one row of
// taglistchange, so a connection's kept lists outlive writes to mixes,
// schedules or the play history, its own and others'. Made at every open where
// missing, as the indexes are.
constexpr const char* kTagListChangeTable = "taglistchange";
constexpr struct {
  const char* name;
  const char* event;
} kTagListTriggers[] = {
    {"taglistchange_track_insert", "INSERT ON track"},
    {"taglistchange_track_delete", "DELETE ON track"},
    {"taglistchange_track_update", "UPDATE OF id, enabled ON track"},
    {"taglistchange_tag_insert", "INSERT ON tag"},
    {"taglistchange_tag_delete", "DELETE ON tag"},
    {"taglistchange_tag_update", "UPDATE OF id, name, type ON tag"},
    {"taglistchange_tracktag_insert", "INSERT ON tracktag"},
    {"taglistchange_tracktag_delete", "DELETE ON tracktag"},
    {"taglistchange_tracktag_update", "UPDATE OF id, trackid, tagid ON tracktag"},
};

// This connection's own writes to those tables, logged as they happen while
// tag lists are kept: +1 or -1 on the frequency of a tag id. When the shared count moved by just this
// connection's writes, the log brings the kept lists up to date without
// reading the whole library again. Temporary, so no other connection pays
// for it; above 100,000 logged writes the lists are read again instead. (A
// trigger writes to tables named without their database.)
constexpr const char* kTagListLogSchema =
    "CREATE TEMP TABLE IF NOT EXISTS taglistlog (tagid, delta INTEGER);"
    "CREATE TEMP TABLE IF NOT EXISTS taglistown (armed INTEGER, count INTEGER);"
    "INSERT INTO temp.taglistown (armed, count) SELECT 0, 0 WHERE NOT EXISTS (SELECT 1 FROM temp.taglistown);"
    // A REPLACE deletes rows too: its delete triggers must fire.
    "PRAGMA recursive_triggers = ON;";
// An assignment counts for an integer tag id when its track is enabled.
#define TAGLIST_TRACK_LOG(row, delta)                                                           \
  "INSERT INTO taglistlog (tagid, delta) SELECT tagid, " delta " FROM main.tracktag WHERE " row \
  ".enabled = 1 AND trackid = " row ".id AND typeof(tagid) = 'integer';"
#define TAGLIST_ASSIGNMENT_LOG(row, delta)                                                  \
  "INSERT INTO taglistlog (tagid, delta) SELECT " row ".tagid, " delta " WHERE typeof(" row \
  ".tagid) = 'integer' AND typeof(" row                                                     \
  ".trackid) = 'integer' AND EXISTS (SELECT 1 FROM main.track WHERE "                       \
  "id = " row ".trackid AND enabled = 1);"
constexpr struct {
  const char* name;
  const char* event;
  const char* log;
} kTagListLogTriggers[] = {
    {"taglistlog_track_insert", "INSERT ON main.track", TAGLIST_TRACK_LOG("NEW", "1")},
    {"taglistlog_track_delete", "DELETE ON main.track", TAGLIST_TRACK_LOG("OLD", "-1")},
    {"taglistlog_track_update", "UPDATE OF id, enabled ON main.track",
     TAGLIST_TRACK_LOG("OLD", "-1") TAGLIST_TRACK_LOG("NEW", "1")},
    // Tags are read again by name whenever the log is applied: a tag's
    // write is counted only.
    {"taglistlog_tag_insert", "INSERT ON main.tag", ""},
    {"taglistlog_tag_delete", "DELETE ON main.tag", ""},
    {"taglistlog_tag_update", "UPDATE OF id, name, type ON main.tag", ""},
    {"taglistlog_tracktag_insert", "INSERT ON main.tracktag", TAGLIST_ASSIGNMENT_LOG("NEW", "1")},
    {"taglistlog_tracktag_delete", "DELETE ON main.tracktag", TAGLIST_ASSIGNMENT_LOG("OLD", "-1")},
    {"taglistlog_tracktag_update", "UPDATE OF id, trackid, tagid ON main.tracktag",
     TAGLIST_ASSIGNMENT_LOG("OLD", "-1") TAGLIST_ASSIGNMENT_LOG("NEW", "1")},
};
#undef TAGLIST_TRACK_LOG
#undef TAGLIST_ASSIGNMENT_LOG
constexpr int kTagListLogLimit = 100000;

// Every connection's writes to those tables, logged in the file as the same
// +1 and -1 on a tag id: a connection whose kept lists another connection
// (the scan's) changed brings them up to date from the rows logged since it
// read them. The rows are numbered without gaps and never again from a
// lower number; the oldest are deleted once 100,000 newer ones stand, and a
// connection that read its lists before the oldest left reads them all again.
constexpr const char* kTagListDeltaTable = "taglistdelta";
#define TAGLIST_TRACK_DELTA(row, delta)                                                      \
  "INSERT INTO taglistdelta (tagid, delta) SELECT tagid, " delta " FROM tracktag WHERE " row \
  ".enabled = 1 AND trackid = " row ".id AND typeof(tagid) = 'integer';"
#define TAGLIST_ASSIGNMENT_DELTA(row, delta)                                                  \
  "INSERT INTO taglistdelta (tagid, delta) SELECT " row ".tagid, " delta " WHERE typeof(" row \
  ".tagid) = 'integer' AND typeof(" row                                                       \
  ".trackid) = 'integer' AND EXISTS (SELECT 1 FROM track WHERE "                              \
  "id = " row ".trackid AND enabled = 1);"
constexpr struct {
  const char* name;
  const char* event;
  const char* log;
} kTagListDeltaTriggers[] = {
    {"taglistdelta_track_insert", "INSERT ON track", TAGLIST_TRACK_DELTA("NEW", "1")},
    {"taglistdelta_track_delete", "DELETE ON track", TAGLIST_TRACK_DELTA("OLD", "-1")},
    {"taglistdelta_track_update", "UPDATE OF id, enabled ON track",
     TAGLIST_TRACK_DELTA("OLD", "-1") TAGLIST_TRACK_DELTA("NEW", "1")},
    {"taglistdelta_tracktag_insert", "INSERT ON tracktag", TAGLIST_ASSIGNMENT_DELTA("NEW", "1")},
    {"taglistdelta_tracktag_delete", "DELETE ON tracktag", TAGLIST_ASSIGNMENT_DELTA("OLD", "-1")},
    {"taglistdelta_tracktag_update", "UPDATE OF id, trackid, tagid ON tracktag",
     TAGLIST_ASSIGNMENT_DELTA("OLD", "-1") TAGLIST_ASSIGNMENT_DELTA("NEW", "1")},
    {"taglistdelta_trim", "INSERT ON taglistdelta WHEN NEW.seq % 10000 = 0",
     "DELETE FROM taglistdelta WHERE seq <= NEW.seq - 100000;"},
};
#undef TAGLIST_TRACK_DELTA
#undef TAGLIST_ASSIGNMENT_DELTA

// Each connection keeps up to 32 MB of pages: the tag lists and mix pages
// touch most of a large library. The file is read, not mapped: a map gained
// no measured speed and stayed resident (110 MB at 300,000 tracks). The journal is emptied after each transaction
// instead of deleted: a scan commits once a track, and making and removing the file cost more than the writes of a
// rescan.
constexpr const char* kConnectionSettings = "PRAGMA cache_size = -32768; PRAGMA journal_mode = TRUNCATE;";

}  // namespace

// The columns that Track's row holds, in the order ReadTrack reads them.
#define TRACK_COLUMNS \
  "track.id, track.name, track.album, track.artist, track.location, track.genre, track.length, track.enabled"
#define RANDOM_TRACK_IDS "SELECT track.id AS id FROM track WHERE track.enabled = 1 ORDER BY random() LIMIT ?"
#define RANDOM_MIX_TRACK_IDS                                                                              \
  "SELECT track.id AS id FROM track, tracktag, tag, mixtag WHERE track.enabled = 1 AND track.id = "       \
  "tracktag.trackid AND tag.id = tracktag.tagid AND mixtag.tagid = tag.id AND mixtag.mixid = ? ORDER BY " \
  "random() LIMIT ?"
#define TAG_TRACK_PAGE                                                                                   \
  "SELECT track.id AS id FROM tracktag, track WHERE tracktag.tagid = ? AND track.id = tracktag.trackid " \
  "AND track.enabled = 1 ORDER BY track.name, tracktag.id LIMIT ? OFFSET ?"
#define MIX_TRACK_PAGE                                                                                    \
  "SELECT track.id AS id FROM mixtag, tag, tracktag, track WHERE mixtag.mixid = ? AND tag.id = "          \
  "mixtag.tagid AND tracktag.tagid = tag.id AND track.id = tracktag.trackid AND track.enabled = 1 ORDER " \
  "BY track.name, mixtag.id, tracktag.id LIMIT ? OFFSET ?"

// The same page with the tracks walked by name: near the start of a large
// mix the page is found after a few hundred tracks and the walk stops.
#define MIX_TRACK_PAGE_BY_NAME                                                                             \
  "SELECT track.id AS id FROM track CROSS JOIN tracktag ON tracktag.trackid = track.id CROSS JOIN tag ON " \
  "tag.id = tracktag.tagid CROSS JOIN mixtag ON mixtag.tagid = tag.id WHERE mixtag.mixid = ? AND "         \
  "track.enabled = 1 ORDER BY track.name, mixtag.id, tracktag.id LIMIT ? OFFSET ?"

#define SCAN_TAG_CURRENT(name, type)                                                                         \
  "(SELECT tracktag.id > 0 AND tracktag.tagid = (SELECT id FROM tag WHERE name = ?" name " AND type = " type \
  ") FROM tracktag, tag WHERE tracktag.trackid = track.id AND tracktag.tagid = tag.id AND tag.type = " type  \
  " ORDER BY tracktag.id LIMIT 1)"

const char* MusicDB::StatementText(StatementId id) {
  struct Entry {
    StatementId id;
    const char* sql;
  };
  static constexpr Entry kStatements[] = {
      {StatementId::InsertTrack,
       R"sql(INSERT INTO track (name,album,artist,location,genre,length) VALUES (?, ?, ?, ?, ?, ?) )sql"},
      {StatementId::MarkTrackOnDisk, R"sql(UPDATE track SET  ondisk = 1 WHERE id = ?)sql"},
      {StatementId::FindTrackByLocation, R"sql(SELECT id, genre FROM track WHERE location = ?)sql"},
      {StatementId::MarkAllTracksNotOnDisk, R"sql(UPDATE track SET ondisk = 0;)sql"},
      {StatementId::DeleteTracksNotOnDisk, R"sql(DELETE from track WHERE ondisk = 0;)sql"},
      {StatementId::DeleteOrphanTrackTags,
       R"sql(DELETE FROM tracktag WHERE tracktag.trackid not in (SELECT id FROM track))sql"},
      // The random picks and the pages sort ids and names only; the rows
      // themselves are read for the tracks that are kept. The pages break
      // ties of names in the order the rows were stored.
      {StatementId::RandomTracks,
       "SELECT " TRACK_COLUMNS " FROM (" RANDOM_TRACK_IDS ") AS pick CROSS JOIN track ON track.id = pick.id"},
      {StatementId::RandomTracksOfMix,
       "SELECT " TRACK_COLUMNS " FROM (" RANDOM_MIX_TRACK_IDS ") AS pick CROSS JOIN track ON track.id = pick.id"},
      {StatementId::LoadTrack, "SELECT " TRACK_COLUMNS " FROM track WHERE track.id = ?"},
      {StatementId::SearchTracks,
       "SELECT " TRACK_COLUMNS
       " FROM track WHERE track.enabled = 1 AND track.name LIKE ? ORDER BY track.name, track.id LIMIT ? OFFSET ?"},
      {StatementId::EnabledTracks,
       "SELECT " TRACK_COLUMNS " FROM track WHERE track.enabled = 1 ORDER BY track.name, track.id LIMIT ? OFFSET ?"},
      {StatementId::DisabledTracks,
       "SELECT " TRACK_COLUMNS " FROM track WHERE track.enabled = 0 ORDER BY track.name, track.id LIMIT ? OFFSET ?"},
      {StatementId::TracksOfTag,
       "SELECT " TRACK_COLUMNS " FROM (" TAG_TRACK_PAGE ") AS page CROSS JOIN track ON track.id = page.id"},
      {StatementId::TracksOfMix,
       "SELECT " TRACK_COLUMNS " FROM (" MIX_TRACK_PAGE ") AS page CROSS JOIN track ON track.id = page.id"},
      {StatementId::SetTrackEnabled, R"sql(UPDATE track SET enabled = ? WHERE id = ? ;)sql"},
      {StatementId::UpdateTrackDetails,
       R"sql(UPDATE track SET name = ?, album = ?, artist = ?, genre = ? WHERE id = ? ;)sql"},
      {StatementId::LoadTag,
       R"sql(SELECT tag.id as id, tag.name as name, tag.type as type, count (tag.id) as frequency  FROM track, tracktag, tag WHERE track.enabled = 1 and track.id = tracktag.trackid AND tracktag.tagid = tag.id AND tag.id = ? )sql"},
      {StatementId::TagsByType,
       R"sql(SELECT tag.id as id, tag.name as name, tag.type as type, count (tag.id) as frequency FROM track, tracktag, tag WHERE track.enabled = 1 and track.id = tracktag.trackid AND type = ?  AND tracktag.tagid = tag.id GROUP BY tag.id ORDER by frequency DESC)sql"},
      {StatementId::TagsByTypeLike,
       R"sql(SELECT tag.id as id, tag.name as name, tag.type as type, count (tag.id) as frequency FROM track, tracktag, tag WHERE track.enabled = 1 and track.id = tracktag.trackid AND type = ?  AND tracktag.tagid = tag.id AND tag.name like ? GROUP BY tag.id ORDER by frequency DESC)sql"},
      {StatementId::TagsByTypePage,
       R"sql(SELECT tag.id as id, tag.name as name, tag.type as type, count (tag.id) as frequency FROM track, tracktag, tag WHERE track.enabled = 1 and track.id = tracktag.trackid AND type = ?  AND tracktag.tagid = tag.id AND tag.name like ? GROUP BY tag.id ORDER by frequency DESC limit ? offset ?;)sql"},
      {StatementId::TagsPage,
       R"sql(SELECT tag.*, count (tag.id) as frequency FROM tag, track, tracktag WHERE track.enabled = 1 AND track.id = tracktag.trackid AND tag.id = tracktag.tagid GROUP BY tag.id ORDER BY tag.name limit ? offset ?;)sql"},
      {StatementId::RelatedTags,
       R"sql(SELECT tag.*, count (tag.id) as frequency FROM tag, track, tracktag as t1, tracktag as t2 WHERE track.enabled = 1 AND track.id = t2.trackid AND tag.id = t2.tagid AND t2.trackid = t1.trackid AND t1.tagid = ? GROUP BY tag.id ORDER BY frequency DESC)sql"},
      // Nothing for a target tag that is gone: its id may be given to the next new tag.
      {StatementId::CopyTagAssignments,
       R"sql(INSERT INTO tracktag   (trackid, tagid) SELECT tracktag.trackid, ?1 FROM tracktag WHERE tracktag.tagid = ?2 AND tracktag.trackid NOT IN (SELECT tracktag.trackid FROM tracktag WHERE tracktag.tagid = ?3) AND EXISTS (SELECT 1 FROM tag WHERE tag.id = ?1) ORDER BY tracktag.id)sql"},
      {StatementId::RemoveSharedAssignments,
       R"sql(DELETE from tracktag WHERE id IN (Select tracktag.id from tracktag where tracktag.tagid = ? AND tracktag.trackid  in (Select tracktag.trackid from tracktag Where tracktag.tagid = ?)))sql"},
      {StatementId::DeleteTagAssignments, R"sql(DELETE from tracktag WHERE tagid = ? )sql"},
      {StatementId::DeleteTag, R"sql(DELETE from tag WHERE id = ? )sql"},
      {StatementId::RenameTag, R"sql(UPDATE tag SET name = ? WHERE id = ?)sql"},
      {StatementId::AddPlayRecord, R"sql(INSERT INTO trackPlayRecord (trackid, mixid) VALUES ( ?, ?))sql"},
      {StatementId::PurgePlayRecords,
       R"sql(DELETE FROM trackPlayRecord WHERE  (julianday ('now') - julianday(whenplayed)) > ?;)sql"},
      {StatementId::InsertTag, R"sql(INSERT INTO tag (name, type) VALUES (?, ?))sql"},
      {StatementId::FindTag, R"sql(SELECT id, name, type  FROM tag WHERE name = ? AND type = ?)sql"},
      {StatementId::InsertTrackTag, R"sql(INSERT INTO tracktag (trackid, tagid) VALUES (?, ?))sql"},
      {StatementId::UpdateTrackTag, R"sql(UPDATE tracktag SET trackid = ?, tagid = ? WHERE id = ?)sql"},
      {StatementId::DeleteTrackTag, R"sql(DELETE FROM tracktag WHERE trackid = ? and tagid = ?)sql"},
      {StatementId::TrackTagOfType,
       R"sql(SELECT tracktag.id, tracktag.trackid, tracktag.tagid FROM tracktag, tag WHERE trackid = ? AND tagid = tag.id AND tag.type = ? ORDER BY tracktag.id)sql"},
      {StatementId::TrackTags,
       R"sql(SELECT tag.*, count (tag.id) as frequency FROM track, tag, tracktag as t1, tracktag as t2 WHERE  track.enabled = 1 and track.id = t1.trackid AND t2.tagid = tag.id AND t1.trackid = ?  AND tag.id = t1.tagid GROUP BY tag.id )sql"},
      {StatementId::InsertMix,
       R"sql(INSERT INTO mix (name, playlistmix, playlistpos, playlistid) VALUES (?, ?, ?, ?))sql"},
      {StatementId::UpdateMix,
       R"sql(UPDATE mix SET name = ?, playlistmix = ?, playlistpos = ?, playlistid = ? WHERE id = ? )sql"},
      {StatementId::Mixes,
       R"sql(SELECT id, name, playlistmix, playlistpos, playlistid FROM mix where playlistmix = ? ORDER BY lower (name) DESC)sql"},
      {StatementId::LoadMix, R"sql(SELECT id, name, playlistmix, playlistpos, playlistid FROM mix WHERE id = ? )sql"},
      {StatementId::MixOfScheduleItem,
       R"sql(SELECT mix.id, mix.name, playlistmix, playlistpos, playlistid FROM mix, scheduleItem WHERE mix.id = scheduleItem.mixid AND scheduleItem.id = ? )sql"},
      {StatementId::DeleteMix, R"sql(DELETE FROM mix WHERE id = ? )sql"},
      {StatementId::DeleteMixTags, R"sql(DELETE FROM mixtag WHERE mixid = ? )sql"},
      // A row only for a stored mix and tag, once: ids of deleted tags are
      // given again, and a second row would count the tag's tracks twice.
      {StatementId::InsertMixTag,
       R"sql(INSERT INTO mixtag (mixid, tagid) SELECT ?1, ?2 WHERE EXISTS (SELECT 1 FROM mix WHERE id = ?1) AND EXISTS (SELECT 1 FROM tag WHERE id = ?2) AND NOT EXISTS (SELECT 1 FROM mixtag WHERE mixid = ?1 AND tagid = ?2))sql"},
      {StatementId::DeleteMixTag, R"sql(DELETE FROM mixtag  WHERE mixid = ? AND tagid = ?)sql"},
      {StatementId::MixTags,
       R"sql(SELECT  tag.id as id, tag.name as name, tag.type as type, count (tag.id) as frequency FROM track, mixtag, tag, tracktag WHERE track.enabled = 1 AND track.id = tracktag.trackid AND tracktag.tagid = mixtag.tagid AND mixtag.tagid = tag.id AND mixid = ? GROUP BY tag.id)sql"},
      {StatementId::InsertScheduleItem,
       R"sql(INSERT INTO "scheduleItem" (starttime, endtime, mixid, scheduleid) VALUES (?, ?, ?, ?))sql"},
      {StatementId::UpdateScheduleItem,
       R"sql(UPDATE "scheduleItem" SET starttime = ?, endtime = ?, mixid= ?, scheduleid = ? WHERE id = ? )sql"},
      {StatementId::SetScheduleItemMix, R"sql(UPDATE "scheduleItem" SET mixid= ? WHERE id = ? )sql"},
      {StatementId::DeleteScheduleItem, R"sql(DELETE FROM "scheduleItem" WHERE id = ? AND scheduleid = ?)sql"},
      {StatementId::DeleteScheduleItems, R"sql(DELETE FROM "scheduleItem" WHERE scheduleid = ?)sql"},
      {StatementId::ScheduleItems,
       R"sql(SELECT id, starttime, endtime, mixid, scheduleid FROM "scheduleItem" WHERE scheduleid = ?)sql"},
      {StatementId::ScheduleItem,
       R"sql(SELECT id, starttime, endtime, mixid, scheduleid FROM "scheduleItem" WHERE id = ?)sql"},
      {StatementId::Schedules,
       R"sql(SELECT id, name, type, monday, tuesday, wednesday, thursday, friday, saturday, sunday, duration FROM "schedule" WHERE type = ? )sql"},
      {StatementId::InsertSchedule, R"sql(INSERT INTO "schedule" (name, type, duration) VALUES (?, ?, ?);)sql"},
      {StatementId::LoadSchedule, R"sql(SELECT * FROM "schedule" WHERE id = ? )sql"},
      {StatementId::DeleteSchedule, R"sql(DELETE FROM "schedule" WHERE id = ? )sql"},
      {StatementId::UpdateSchedule, R"sql(UPDATE "schedule" SET name = ?, type = ?, duration = ? WHERE id = ?;)sql"},
      {StatementId::RecentlyPlayedTrack,
       "SELECT " TRACK_COLUMNS
       R"sql( FROM "trackPlayRecord", "track" WHERE trackPlayRecord.trackid = track.id order by trackPlayRecord.id desc limit 1 offset ?;)sql"},
      {StatementId::DeleteMixTagsOfTag, R"sql(DELETE FROM mixtag WHERE tagid = ?)sql"},
      {StatementId::DeleteOrphanPlayRecords,
       R"sql(DELETE FROM trackPlayRecord WHERE trackid NOT IN (SELECT id FROM track))sql"},
      {StatementId::DataVersion, "PRAGMA data_version"},
      {StatementId::AssignmentsByTrack, "SELECT trackid, tagid FROM tracktag ORDER BY trackid"},
      {StatementId::EnabledTrackIds, "SELECT id FROM track WHERE enabled = 1 ORDER BY id"},
      {StatementId::TagsByName, "SELECT id, name, type FROM tag ORDER BY name, id"},
      // Every transaction of the set reads before it writes: taking the write
      // lock at its start lets the busy handler wait for another connection's
      // write, where a read lock held on would be refused the upgrade at once.
      {StatementId::Begin, "BEGIN IMMEDIATE"},
      {StatementId::Commit, "COMMIT"},
      {StatementId::Rollback, "ROLLBACK"},
      // A scan's look at a track: the row as FindTrackByLocation finds it,
      // whether it is marked on disk, and per type (album 1, artist 2, genre
      // 0) whether its first assignment of that type, as GetTrackTagOfType
      // picks it, names the tag that FindOrCreateTag finds for the text: 1
      // when it does, else 0 or NULL.
      {StatementId::ScanTrack, "SELECT id, genre, ondisk = 1, " SCAN_TAG_CURRENT("2", "1") ", " SCAN_TAG_CURRENT(
                                   "3", "2") ", " SCAN_TAG_CURRENT("4", "0") " FROM track WHERE location = ?1"},
      {StatementId::TracksOfMixByName,
       "SELECT " TRACK_COLUMNS " FROM (" MIX_TRACK_PAGE_BY_NAME ") AS page CROSS JOIN track ON track.id = page.id"},
      {StatementId::MixSize,
       "SELECT (SELECT count(*) FROM mixtag CROSS JOIN tracktag ON tracktag.tagid = mixtag.tagid WHERE mixtag.mixid = "
       "?), (SELECT max(id) FROM track)"},
      {StatementId::MixTagRows,
       "SELECT tag.id, tag.name, tag.type, count(*) FROM mixtag, tag WHERE mixtag.mixid = ? AND tag.id = mixtag.tagid "
       "GROUP BY tag.id ORDER BY tag.id"},
      {StatementId::AssignTrackTag,
       R"sql(INSERT INTO tracktag (trackid, tagid) SELECT ?1, ?2 WHERE EXISTS (SELECT 1 FROM track WHERE id = ?1) AND EXISTS (SELECT 1 FROM tag WHERE id = ?2) AND NOT EXISTS (SELECT 1 FROM tracktag WHERE trackid = ?1 AND tagid = ?2))sql"},
      {StatementId::ClearScheduleItemMixes, R"sql(UPDATE "scheduleItem" SET mixid = 0 WHERE mixid = ?)sql"},
  };
  static_assert(std::size(kStatements) == kStatementCount);
  static_assert(
      [] {
        for (std::size_t i = 0; i < std::size(kStatements); ++i) {
          if (static_cast<std::size_t>(kStatements[i].id) != i) return false;
        }
        return true;
      }(),
      "statement table out of order");
  return kStatements[static_cast<std::size_t>(id)].sql;
}

std::string GetMusicDBPath() {
  // The Local AppData folder's "Zorva" folder, which the shell names.
  ShellPath path(platform::shell::DataFolder());
  path.SetFileName("music.db");
  return path.GetFullPath();
}

bool MakeDirectoryPath(const std::string& path) {
  // The text tried is the path up to the cursor: the cursor walks back one
  // folder while the parent is missing, then forward again as each one is made.
  std::size_t cursor = path.size();
  for (int attempt = 0; attempt < kMakeDirectoryAttempts; ++attempt) {
    std::string current = path.substr(0, cursor);
    if (CreateDirectoryA(current.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) {
      if (cursor >= path.size()) return true;
      std::size_t next = path.find('/', cursor + 1);
      cursor = next == std::string::npos ? path.size() : next;
    } else if (GetLastError() == ERROR_PATH_NOT_FOUND) {
      std::size_t previous = cursor == 0 ? std::string::npos : path.rfind('/', cursor - 1);
      if (previous == std::string::npos) return false;
      cursor = previous;
    } else {
      return false;
    }
  }
  return false;
}

void MusicDB::StatementFinalizer::operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }

MusicDB::MusicDB() { Open(GetMusicDBPath()); }

MusicDB::MusicDB(const std::string& path) { Open(path); }

MusicDB::~MusicDB() { Close(); }

void MusicDB::Open(const std::string& path) {
  auto lock = Lock();
  Close();
  path_ = path;
  // Stays set unless every step below succeeds.
  failed_ = true;
  failure_.clear();
  try {
    const bool exists = FileExists(path);
    if (!exists) {
      newDatabase_ = true;
      MakeDirectoryPath(ShellPath(path).GetFolder());
    }
    const bool opened = OpenFile(path);
    if (!opened && !exists) {
      failure_ = "the file cannot be made";
      return;
    }
    const bool readable = opened && IsReadable();
    const bool foreign = readable && HoldsAnotherProgramsData();
    if (!readable || foreign) {
      // Not a database, damaged, another program's, or not a file at all:
      // the user's file is kept as it is, beside a new one.
      const std::string reason = foreign  ? "it holds another program's tables"
                                 : opened ? sqlite3_errmsg(Handle())
                                          : "it is no file";
      SQLiteDB::Close();
      const std::string aside = platform::shell::KeepAside(path);
      if (aside.empty()) {
        failure_ = reason;
        Complain("the music database " + path + " cannot be opened (" + reason + ") nor moved aside");
        return;
      }
      Complain("the music database " + path + " could not be opened (" + reason + "); it was kept as " + aside +
               " and a new one made");
      newDatabase_ = true;
      if (!OpenFile(path)) {
        failure_ = "the file cannot be made";
        return;
      }
    }
    // A new file, or one whose making was cut short (an empty file, a full
    // disk), gets what it lacks; one without tracks counts as new.
    if (CreateSchema()) newDatabase_ = true;
    if (GetSchemaVersion() < kCurrentVersion) UpgradeTo102();
    Exec("PRAGMA synchronous = OFF; PRAGMA temp_store = MEMORY;");
    Exec(kConnectionSettings);
    CreateMissingIndexes();
    PrepareStatements();
    PrepareTagListChanges();
    failed_ = false;
    failure_.clear();
  } catch (...) {
    platform::LogFailure("MusicDB::Open");
    // Statements after the one that failed stay uncompiled.
    failed_ = true;
    if (failure_.empty()) failure_ = Handle() ? sqlite3_errmsg(Handle()) : "it cannot be opened";
  }
}

void MusicDB::Close() {
  auto lock = Lock();
  tagCache_ = TagCache();
  trackCounts_ = {};
  // Every compiled statement goes, also after a failed open: SQLite refuses to
  // close a connection that still has statements.
  FinalizeStatements();
  SQLiteDB::Close();
}

long long MusicDB::TrackChanges() {
  auto lock = Lock();
  sqlite3_int64 count = 0;
  return ReadTagListChanges(count) ? count : -1;
}

void MusicDB::Analyze() {
  auto lock = Lock();
  Exec("ANALYZE;");
  const std::string path = path_;
  Close();
  Open(path);
}

int MusicDB::GetSchemaVersion() {
  SQLiteRowSet rows;
  Query("SELECT MAX(id) as verid FROM version ", rows);
  if (rows.empty()) return 101;
  return rows.front().GetInt("verid");
}

void MusicDB::UpgradeTo102() {
  if (GetSchemaVersion() != 101) return;
  for (const char* sql : kUpgradeTo102) Exec(sql);
}

bool MusicDB::OpenFile(const std::string& path) {
  if (!SQLiteDB::Open(path)) return false;
  // The stored SQL texts quote some string literals with double quotes.
  sqlite3_db_config(Handle(), SQLITE_DBCONFIG_DQS_DDL, 1, nullptr);
  sqlite3_db_config(Handle(), SQLITE_DBCONFIG_DQS_DML, 1, nullptr);
  return true;
}

bool MusicDB::IsReadable() {
  SQLiteRowSet rows;
  switch (Query("SELECT name FROM sqlite_master", rows) & 0xFF) {
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR:
    case SQLITE_FORMAT:
      return false;
    default:
      // Readable, or only locked by another connection for longer than the
      // busy handler waits: no reason to move the user's file.
      return true;
  }
}

std::set<std::string> MusicDB::MissingTables() {
  std::set<std::string> missing;
  for (const auto& statement : kSchema) missing.insert(statement.table);
  SQLiteRowSet rows;
  // Unknown (another connection holds the file) counts as nothing missing.
  if (Query("SELECT name FROM sqlite_master WHERE type = 'table'", rows) != SQLITE_OK) return {};
  for (const SQLiteRow& row : rows) missing.erase(row.Get("name"));
  return missing;
}

bool MusicDB::HoldsAnotherProgramsData() {
  SQLiteRowSet tables;
  // Unknown (another connection holds the file) is no reason to move it.
  if (Query("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite%'", tables) != SQLITE_OK)
    return false;
  bool rows = false;
  for (const SQLiteRow& table : tables) {
    const std::string& name = table.Get("name");
    // One table of ours makes it a music database, however incomplete.
    if (std::any_of(std::begin(kSchema), std::end(kSchema),
                    [&name](const auto& statement) { return name == statement.table; }))
      return false;
    SQLiteRowSet one;
    rows = rows || (Query("SELECT 1 AS n FROM \"" + name + "\" LIMIT 1", one) == SQLITE_OK && !one.empty());
  }
  return rows;
}

bool MusicDB::HoldsNoUserData() {
  SQLiteRowSet tables;
  if (Query("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite%'", tables) != SQLITE_OK)
    return false;
  for (const SQLiteRow& table : tables) {
    const std::string& name = table.Get("name");
    const bool ours = std::any_of(std::begin(kSchema), std::end(kSchema),
                                  [&name](const auto& statement) { return name == statement.table; });
    if (!ours) return false;
    // Seed rows are the schema's own; schedules past the ten seeded are the user's.
    if (name == "tagType" || name == "version") continue;
    SQLiteRowSet count;
    const std::string sql = name == "schedule" ? "SELECT COUNT(*) AS n FROM schedule WHERE id > 10"
                                               : "SELECT COUNT(*) AS n FROM \"" + name + "\"";
    if (Query(sql, count) != SQLITE_OK || count.empty() || count.front().GetInt("n") != 0) return false;
  }
  return true;
}

bool MusicDB::CreateSchema() {
  if (MissingTables().empty()) return false;
  // All or nothing, and looked at again under the write lock: another
  // connection may be making the same tables.
  SQLiteTransaction transaction(*this, SQLiteTransaction::Mode::Immediate);
  std::set<std::string> missing = MissingTables();
  // A file cut short while it was made holds nothing of the user's (its seed
  // rows may be cut short too): it is made anew.
  if (!missing.empty() && HoldsNoUserData()) {
    for (const auto& statement : kSchema) {
      if (!missing.count(statement.table)) Exec(std::string("DROP TABLE IF EXISTS \"") + statement.table + "\"");
    }
    missing = MissingTables();
  }
  for (const auto& statement : kSchema) {
    // The first failure is the one to tell (a full disk), should nothing work.
    if (missing.count(statement.table) && Exec(statement.sql) != SQLITE_OK && failure_.empty())
      failure_ = sqlite3_errmsg(Handle());
  }
  transaction.Commit();
  return missing.count("track") != 0;
}

void MusicDB::CreateMissingIndexes() {
  // Only the missing ones are made: every connection opens the file, and an
  // index that exists already is no reason to wait for another's write lock.
  SQLiteRowSet rows;
  Query("SELECT name FROM sqlite_master WHERE type IN ('index', 'table', 'trigger')", rows);
  auto exists = [&](const char* name) {
    return std::any_of(rows.begin(), rows.end(), [&](const SQLiteRow& row) { return row.Get("name") == name; });
  };
  // A file analysed before an index was added has statistics for every other
  // one; the planner then takes the new index for a poor one and passes it
  // over until the next monthly analysis. The new index gets its own at once.
  // (A file never analysed keeps none: the planner's defaults hold for all.)
  const bool analysed = exists("sqlite_stat1");
  for (const auto& index : kIndexes) {
    // A failure leaves the queries as they are, only slower.
    if (!exists(index.name) && Exec(index.sql) == SQLITE_OK && analysed) {
      Exec(std::string("ANALYZE ") + index.name);
    }
  }
  if (!exists(kTagListChangeTable)) {
    Exec(std::string("CREATE TABLE IF NOT EXISTS ") + kTagListChangeTable + " (count INTEGER NOT NULL)");
  }
  for (const auto& trigger : kTagListTriggers) {
    if (exists(trigger.name)) continue;
    Exec(std::string("CREATE TRIGGER IF NOT EXISTS ") + trigger.name + " AFTER " + trigger.event + " BEGIN UPDATE " +
         kTagListChangeTable + " SET count = count + 1; END");
  }
  bool deltas =
      exists(kTagListDeltaTable) || Exec(std::string("CREATE TABLE IF NOT EXISTS ") + kTagListDeltaTable +
                                         " (seq INTEGER PRIMARY KEY AUTOINCREMENT, tagid, delta INTEGER)") == SQLITE_OK;
  for (const auto& trigger : kTagListDeltaTriggers) {
    if (!deltas) break;
    deltas = exists(trigger.name) || Exec(std::string("CREATE TRIGGER IF NOT EXISTS ") + trigger.name + " AFTER " +
                                          trigger.event + " BEGIN " + trigger.log + " END") == SQLITE_OK;
  }
  // Without every trigger the log misses writes: the lists are read again.
  tagListDeltas_ = deltas;
  SQLiteRowSet counted;
  Query(std::string("SELECT count FROM ") + kTagListChangeTable, counted);
  if (counted.empty()) Exec(std::string("INSERT INTO ") + kTagListChangeTable + " (count) VALUES (0)");
}

void MusicDB::PrepareStatements() {
  for (int i = 0; i < kStatementCount; ++i) {
    statements_[static_cast<std::size_t>(i)].reset(Prepare(StatementText(static_cast<StatementId>(i))));
  }
}

void MusicDB::PrepareTagListChanges() {
  // Not one of the set: a file that cannot hold the count (read-only, say)
  // still opens, its lists then read again after any write.
  sqlite3_stmt* statement = nullptr;
  const std::string sql = std::string("SELECT count FROM ") + kTagListChangeTable;
  if (sqlite3_prepare_v2(Handle(), sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
    tagListChanges_.reset(statement);
  } else {
    sqlite3_finalize(statement);
    return;
  }
  bool logging = Exec(kTagListLogSchema) == SQLITE_OK;
  for (const auto& trigger : kTagListLogTriggers) {
    if (!logging) break;
    logging = Exec(std::string("CREATE TEMP TRIGGER IF NOT EXISTS ") + trigger.name + " AFTER " + trigger.event +
                   " WHEN (SELECT armed AND count < " + std::to_string(kTagListLogLimit) +
                   " FROM temp.taglistown) BEGIN UPDATE taglistown SET count = count + 1; " + trigger.log + " END") ==
              SQLITE_OK;
  }
  tagListLogging_ = logging;
}

bool MusicDB::ReadTagListChanges(sqlite3_int64& count) {
  sqlite3_stmt* statement = tagListChanges_.get();
  if (!statement || !IsOpen()) return false;
  const bool read = sqlite3_step(statement) == SQLITE_ROW;
  if (read) count = sqlite3_column_int64(statement, 0);
  sqlite3_reset(statement);
  return read;
}

void MusicDB::FinalizeStatements() {
  tagListChanges_.reset();
  for (auto& statement : statements_) statement.reset();
}

const char* MusicDB::TrackColumns() { return TRACK_COLUMNS; }

// The music database "music.db": its file, schema and upgrade, and the fixed
// set of compiled statements that every query runs.
#pragma once

#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "core/Mix.h"
#include "core/SQLiteDB.h"
#include "core/Tag.h"
#include "core/Track.h"

// Where the music database lives: <Local AppData>/Zorva/music.db.
std::string GetMusicDBPath();
// Creates every missing folder of `path` ("/" separated), outermost first, in
// at most 10 attempts. True when the whole path exists afterwards.
bool MakeDirectoryPath(const std::string& path);

// Schedules and their items (core/Schedule.h).
class ScheduleItem;
class Schedule;
class PlaylistSchedule;

class MusicDB : public SQLiteDB {
 public:
  // Opens (and when missing creates) the file at GetMusicDBPath().
  MusicDB();
  // Opens (and when missing creates) the file at `path`.
  explicit MusicDB(const std::string& path);
  ~MusicDB() override;

  // Opens, creates or upgrades the file and compiles the statement set. Never
  // throws: when any step fails the failed flag is set instead.
  void Open(const std::string& path);
  // Finalizes every compiled statement, then closes the connection.
  void Close();
  // Refreshes the query planner's statistics, then reopens the same file so the
  // statements are compiled against them.
  void Analyze();
  // True when the file did not exist, held no tracks' table yet, or could
  // not be opened and was replaced, and this instance made it.
  bool IsNewDatabase() const { return newDatabase_; }
  // Moves on with every write to tracks, tags or their assignments, by any
  // connection; -1 when it cannot be read.
  long long TrackChanges();
  // The file of the last Open.
  std::string GetPath() const {
    auto lock = Lock();
    return path_;
  }
  // Set when the last Open failed; the statement set is then not used.
  bool IsFailed() const { return failed_; }
  // Why the last Open failed, as SQLite says it ("database or disk is
  // full"); "" when it did not.
  const std::string& GetFailure() const { return failure_; }
  // Holds the connection for the calling thread. Every statement use and every
  // operation of several steps (a transaction, an insert and its row id) takes
  // it, so threads that share one instance take turns, one operation at a time.
  std::unique_lock<std::recursive_mutex> Lock() const { return std::unique_lock(mutex_); }
  // The highest row of table "version"; 101 when it cannot be read.
  int GetSchemaVersion();

  // Track selection for mixes. -----------------------------------------------

  // The next track of the random-track pool, which is refilled with 50 random
  // tracks of the mix first when it is empty or `refill` is set. An empty
  // Track (id 0) when the mix matches no track.
  Track GetNextRandomTrack(const Mix& mix, bool refill);
  // Appends up to `limit` random enabled tracks of the mix: the stored mix's
  // tags (or any track for a random mix), or for a mix that is not stored the
  // tags it holds.
  void FetchRandomTracks(const Mix& mix, TrackList& tracks, int limit);

  // Tracks and the library scan. ---------------------------------------------

  void MarkAllTracksNotOnDisk();
  // Finds the track's row by its location: sets the track's id and `genre`
  // to the stored genre.
  bool FindTrackByLocation(Track& track, std::string& genre);
  // Inserts the track or marks its row on disk, then moves its album, artist
  // and genre assignments to its texts. True when a row was inserted.
  bool AddOrUpdateTrack(Track track);
  // As above; `stored` is false when the row's insert or on-disk mark did not
  // reach the database (a failed step, a commit rolled back).
  bool AddOrUpdateTrack(Track track, bool& stored);
  // A scan's batch of writes. While it is on, AddOrUpdateTrack keeps what a
  // track needs written (an on-disk mark, or a new row or changed tags)
  // instead of writing it in a transaction of its own (`stored` is then
  // true, and the answer says whether a row will be inserted), and
  // FlushScanWrites writes what was kept in one short transaction.
  void BatchScanWrites(bool on);
  std::size_t PendingScanWrites() const {
    auto lock = Lock();
    return pendingMarks_.size() + pendingTracks_.size();
  }
  // False when anything kept did not reach the database; it is dropped
  // either way.
  bool FlushScanWrites();
  // Deletes the tracks that the scan did not see, with their tag assignments
  // and play records. Returns the number of tracks deleted.
  int DeleteTracksNotOnDisk();
  bool LoadTrack(Track& track);
  // Dumps the track (found by location when its id is unknown).
  void DisableTrack(Track& track);
  void EnableTrack(const Track& track);
  // Stores name, album, artist and genre.
  void UpdateTrackDetails(const Track& track);
  // Pages of the enabled or dumped tracks by name; each returns the number of
  // all such tracks, counted again only after tracks were added, removed,
  // dumped or released (by any connection).
  int GetEnabledTracks(TrackList& tracks, int offset, int limit);
  int GetDisabledTracks(TrackList& tracks, int offset, int limit);
  // Enabled tracks whose name is LIKE `pattern` (the caller's wildcards);
  // nothing for an empty pattern.
  void SearchTracks(TrackList& tracks, const std::string& pattern, int offset, int limit);
  void GetTracksOfTag(const Tag& tag, TrackList& tracks, int offset, int limit);

  // Tags and track tag assignments. ------------------------------------------

  // Fills name, frequency and type of the tag of that id; false when no
  // enabled track carries a tag of that id.
  bool LoadTag(Tag& tag);
  Tag FindOrCreateTag(const std::string& name, int type);
  // Tags of the type on enabled tracks, most frequent first; names LIKE the
  // pattern unless it is empty.
  void GetTagsByType(TagList& tags, int type, const std::string& pattern);
  // A page of those; nothing for an empty pattern.
  void GetTagsByTypePage(TagList& tags, int type, const std::string& pattern, int offset, int limit);
  // A page of the tags on enabled tracks by name; returns the number of all tags.
  int GetTagsPage(TagList& tags, int offset, int limit);
  // Tags found together with the tag on enabled tracks, without the tag itself.
  void GetRelatedTags(TagList& tags, const Tag& tag);
  // Deletes the tag, its assignments and its place in every stored mix.
  void DeleteTag(const Tag& tag);
  // Stores the tag's (new) name.
  void RenameTag(const Tag& tag);
  // The tags of an enabled track (found by location when its id is unknown).
  void GetTrackTags(TagList& tags, Track& track);
  // The id of the track's first assignment of a tag of the type, 0 when none;
  // `tagId` receives that tag's id.
  int GetTrackTagOfType(const Track& track, int type, int& tagId);
  // Gives the track the tag of that name and type, found or created. With
  // `replace`, a genre, album or artist assignment the track has is moved to
  // it instead. Without, as AddTrackTag.
  void SetTrackTag(Track& track, const std::string& name, int type, bool replace);
  // Nothing for a track or tag that is not stored, or a tag the track has.
  void AddTrackTag(Track& track, const Tag& tag);
  void RemoveTrackTag(Track& track, const Tag& tag);
  // Gives the tag of that name and type to every track that carries `source`.
  void AddTagToTracksOf(const Tag& source, const std::string& name, int type);
  void CopyTagAssignments(const Tag& source, const Tag& target);
  // Deletes b's assignments on the tracks that also carry a.
  void RemoveSharedAssignments(const Tag& a, const Tag& b);

  // Mixes, play records and statistics. --------------------------------------

  // Stores a new mix with its tags; the mix receives its id.
  void AddMix(Mix& mix);
  // Stores name and playlist fields (a mix with id 0 is added).
  void UpdateMix(Mix& mix);
  // Nothing for a mix or tag that is not stored, or a tag the mix has.
  void AddMixTag(const Mix& mix, const Tag& tag);
  void RemoveMixTag(const Mix& mix, const Tag& tag);
  // The stored mixes of the kind with their tags, by lower-case name descending.
  void GetMixes(MixList& mixes, bool playlist);
  // Replaces the mix by the stored one of its id; unchanged when none.
  void LoadMix(Mix& mix);
  // The stored mix of that id; a random mix when none.
  Mix GetMix(int mixId);
  Mix GetMixOfScheduleItem(int itemId);
  // Deletes the mix and its tags; the schedule items that played it play a
  // random selection.
  void DeleteMix(const Mix& mix);
  // Appends the mix's tags that enabled tracks carry; sets its track count.
  void GetMixTags(Mix& mix);
  void GetTracksOfMix(const Mix& mix, TrackList& tracks, int offset, int limit);
  // False when the record could not be written (a read-only file, a full
  // disk); GetWriteFailure then says why.
  bool AddPlayRecord(const Track& track, const Mix& mix);
  // SQLite's words for the last failure on this connection.
  std::string GetWriteFailure() const;
  // The track of the n-th latest play (0: the latest); an empty Track when none.
  Track GetRecentlyPlayedTrack(int n);
  // Deletes the play records older than `days`.
  void PurgePlayRecords(int days);
  // The "About your library" text.
  std::string GetLibraryStatistics();

  // Schedules and schedule items. ---------------------------------------------

  // Stores a new item; the item receives its id.
  void AddScheduleItem(ScheduleItem& item);
  void UpdateScheduleItem(const ScheduleItem& item);
  void SetScheduleItemMix(int itemId, int mixId);
  // Deletes the item when it belongs to its schedule id.
  void DeleteScheduleItem(const ScheduleItem& item);
  // Appends the schedule's items, each with its mix.
  void GetScheduleItems(int scheduleId, std::vector<ScheduleItem>& items);
  // The stored item; an item of minute 0 with a random mix (id 0) when none.
  ScheduleItem GetScheduleItem(int itemId);
  // Appends the schedules of the type, each with its items.
  void GetSchedules(int scheduleType, std::vector<Schedule>& schedules);

  // Generator playlists: schedules of type 5 (core/PlaylistSchedule.h). -----

  // Stores a new generator playlist; it receives its id.
  void AddPlaylistSchedule(PlaylistSchedule& schedule);
  // Stores name, type and duration.
  void UpdatePlaylistSchedule(const PlaylistSchedule& schedule);
  // Replaces the playlist by the stored one of its id, with its items;
  // unchanged when there is none.
  void GetPlaylistSchedule(PlaylistSchedule& schedule);
  // Deletes the row and its items.
  void DeletePlaylistSchedule(const PlaylistSchedule& schedule);

 protected:
  struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const;
  };
  using StatementHandle = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

  // The statement set, in the order it is compiled.
  enum class StatementId : int {
    InsertTrack,              // (name, album, artist, location, genre, length)
    MarkTrackOnDisk,          // (track id)
    FindTrackByLocation,      // (location)
    MarkAllTracksNotOnDisk,   // ()
    DeleteTracksNotOnDisk,    // ()
    DeleteOrphanTrackTags,    // ()
    RandomTracks,             // (limit)
    RandomTracksOfMix,        // (mix id, limit)
    LoadTrack,                // (track id)
    SearchTracks,             // (name pattern, limit, offset)
    EnabledTracks,            // (limit, offset)
    DisabledTracks,           // (limit, offset)
    TracksOfTag,              // (tag id, limit, offset)
    TracksOfMix,              // (mix id, limit, offset)
    SetTrackEnabled,          // (enabled, track id)
    UpdateTrackDetails,       // (name, album, artist, genre, track id)
    LoadTag,                  // (tag id)
    TagsByType,               // (type)
    TagsByTypeLike,           // (type, name pattern)
    TagsByTypePage,           // (type, name pattern, limit, offset)
    TagsPage,                 // (limit, offset)
    RelatedTags,              // (tag id)
    CopyTagAssignments,       // (target tag id, source tag id, target tag id)
    RemoveSharedAssignments,  // (id of the tag losing assignments, id of the other tag)
    DeleteTagAssignments,     // (tag id)
    DeleteTag,                // (tag id)
    RenameTag,                // (name, tag id)
    AddPlayRecord,            // (track id, mix id)
    PurgePlayRecords,         // (days)
    InsertTag,                // (name, type)
    FindTag,                  // (name, type)
    InsertTrackTag,           // (track id, tag id)
    UpdateTrackTag,           // (track id, tag id, tracktag id)
    DeleteTrackTag,           // (track id, tag id)
    TrackTagOfType,           // (track id, type)
    TrackTags,                // (track id)
    InsertMix,                // (name, playlist flag, playlist position, playlist id)
    UpdateMix,                // (name, playlist flag, playlist position, playlist id, mix id)
    Mixes,                    // (playlist flag)
    LoadMix,                  // (mix id)
    MixOfScheduleItem,        // (schedule item id)
    DeleteMix,                // (mix id)
    DeleteMixTags,            // (mix id)
    InsertMixTag,             // (mix id, tag id)
    DeleteMixTag,             // (mix id, tag id)
    MixTags,                  // (mix id)
    InsertScheduleItem,       // (start, end, mix id, schedule id)
    UpdateScheduleItem,       // (start, end, mix id, schedule id, item id)
    SetScheduleItemMix,       // (mix id, item id)
    DeleteScheduleItem,       // (item id, schedule id)
    DeleteScheduleItems,      // (schedule id)
    ScheduleItems,            // (schedule id)
    ScheduleItem,             // (item id)
    Schedules,                // (schedule type)
    InsertSchedule,           // (name, type, duration)
    LoadSchedule,             // (schedule id)
    DeleteSchedule,           // (schedule id)
    UpdateSchedule,           // (name, type, duration, schedule id)
    RecentlyPlayedTrack,      // (offset)
    DeleteMixTagsOfTag,       // (tag id)
    DeleteOrphanPlayRecords,  // ()
    DataVersion,              // (): changes when another connection commits
    AssignmentsByTrack,       // (): every assignment by track id
    EnabledTrackIds,          // (): the ids of the enabled tracks in order
    TagsByName,               // (): every tag by name
    Begin,                    // ()
    Commit,                   // ()
    Rollback,                 // ()
    ScanTrack,                // (location, album, artist, genre): the row and whether its tags are current
    TracksOfMixByName,        // (mix id, limit, offset): as TracksOfMix, walking the tracks by name
    MixSize,                  // (mix id): the mix's assignments, and the highest track id
    MixTagRows,               // (mix id): the mix's tags by id, with how many mixtag rows name each
    AssignTrackTag,           // (track id, tag id): only for a stored track and tag it does not carry yet
    ClearScheduleItemMixes,   // (mix id): the items that played the mix play a random selection
  };
  static constexpr int kStatementCount = 74;

  // The SQL text of a statement of the set.
  static const char* StatementText(StatementId id);
  // The columns of a track that ReadTrack reads, for a select list.
  static const char* TrackColumns();
  // The current row of a statement that selects TrackColumns(), as a track.
  static Track ReadTrack(sqlite3_stmt* statement);

  // One use of a statement of the set. Binds, steps and reads it; whatever
  // path leaves the scope, the statement is reset and its bindings cleared.
  //
  // A use is invalid (every Step answers SQLITE_MISUSE, FetchRows appends
  // nothing, columns read empty) when the database failed to open, the
  // statement was never compiled, or another use of the same statement is
  // still alive.
  class Statement {
   public:
    Statement(MusicDB& db, StatementId id);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool IsValid() const { return Handle() != nullptr; }
    // The compiled statement for loops that read many rows; null when the
    // use is invalid.
    sqlite3_stmt* Raw() const { return Handle(); }

    // Parameters by 1-based index. Texts are copied by SQLite.
    Statement& Bind(int index, int value);
    Statement& Bind(int index, const std::string& text);
    Statement& Bind(int index, const char* text);
    // Binds the arguments to parameters 1, 2, ... in order.
    template <typename... Args>
    Statement& BindAll(const Args&... args) {
      [[maybe_unused]] int index = 0;
      (Bind(++index, args), ...);
      return *this;
    }

    // One sqlite3_step: SQLITE_ROW, SQLITE_DONE or an error code.
    int Step();
    // Steps to the end and appends one row per result row.
    void FetchRows(SQLiteRowSet& rows);
    // Columns of the current row (after Step returned SQLITE_ROW), by 0-based index.
    int ColumnInt(int column) const;
    sqlite3_int64 ColumnInt64(int column) const;
    // SQLITE_INTEGER, SQLITE_TEXT, SQLITE_NULL, ...
    int ColumnType(int column) const;
    std::string ColumnText(int column) const;
    // The current row as a track, from the columns that TRACK_COLUMNS lists.
    Track ReadTrack() const;
    // The current row as a tag, from the columns id, name, type, frequency.
    Tag ReadTag() const;

   private:
    sqlite3_stmt* Handle() const;

    MusicDB& db_;
    std::unique_lock<std::recursive_mutex> lock_;
    int index_;
    bool owner_;
  };

  // Binds `args` to the statement, steps it once and resets it: for statements
  // that change data. Returns the step's result code.
  template <typename... Args>
  int StepOnce(StatementId id, const Args&... args) {
    Statement statement(*this, id);
    statement.BindAll(args...);
    return statement.Step();
  }

  // Binds `args` and appends a track for every row of a statement that
  // selects TRACK_COLUMNS.
  template <typename... Args>
  void FetchTracks(StatementId id, TrackList& tracks, const Args&... args) {
    Statement statement(*this, id);
    statement.BindAll(args...);
    while (statement.Step() == SQLITE_ROW) tracks.push_back(statement.ReadTrack());
  }

  // Binds `args` and appends a tag for every row of a statement that selects
  // id, name, type and frequency in this order.
  template <typename... Args>
  void FetchTags(StatementId id, TagList& tags, const Args&... args) {
    Statement statement(*this, id);
    statement.BindAll(args...);
    while (statement.Step() == SQLITE_ROW) tags.push_back(statement.ReadTag());
  }

  // Binds `args`, appends the statement's rows to `rows` and resets it.
  template <typename... Args>
  void FetchRows(StatementId id, SQLiteRowSet& rows, const Args&... args) {
    Statement statement(*this, id);
    statement.BindAll(args...);
    statement.FetchRows(rows);
  }
  using SQLiteDB::FetchRows;

  // Upgrades a file at version 101 to 102.
  void UpgradeTo102();
  // Compiles the statement set in order; throws out of SQLiteDB::Prepare.
  void PrepareStatements();

 private:
  // SQLiteDB::Open with the connection's SQL dialect settings.
  bool OpenFile(const std::string& path);
  // False when the file is not a database, is damaged, or cannot be read.
  bool IsReadable();
  // The tables of the schema that the file lacks.
  std::set<std::string> MissingTables();
  // No table holds a row of the user's, nor is there a table of another kind.
  bool HoldsNoUserData();
  // True when the file holds no table of the music schema but another
  // program's tables with rows.
  bool HoldsAnotherProgramsData();
  // Makes the tables that the file lacks, with their indexes and seed rows
  // (all anew when the file holds nothing of the user's);
  // true when it lacked the track table (it held no library).
  bool CreateSchema();
  void CreateMissingIndexes();

  // Counts per tag id: tag ids are mostly small and dense, the rest go to a map.
  class Frequencies {
   public:
    // Zero for every id; the storage stays for the next count.
    void Clear();
    void Add(sqlite3_int64 id, int count = 1);
    int Get(sqlite3_int64 id) const;

   private:
    std::vector<int> dense_;
    std::map<sqlite3_int64, int> sparse_;
  };

  // The tags that enabled tracks carry, with their frequencies, kept between
  // the changes that can alter them: writes to tracks, tags or assignments,
  // of this connection or another (a scan, the companion), as the count of
  // taglistchange tells. A new reading refills the storage of the last one.
  struct TagCache {
    bool valid = false;
    // Nothing at all was written since these were read.
    sqlite3_int64 dataVersion = 0;
    sqlite3_int64 totalChanges = 0;
    // The count of taglistchange then; false when it could not be read, so
    // that any write drops the lists.
    bool counted = false;
    sqlite3_int64 changeCount = 0;
    // The last row of taglistdelta then; -1 when it could not be read.
    sqlite3_int64 lastDelta = -1;
    // By name (ties by id), as the tag pages list them.
    TagList byName;
    // Per entry of byName: its stored type is an integer (a type of another
    // storage class never equals a type code).
    std::vector<bool> integerType;
    // Rows of table tag, whether enabled tracks carry them or not.
    int allTags = 0;
    // Per type, the entries of byName most frequent first (ties by id),
    // built on first use.
    std::map<int, std::vector<std::size_t>> byType;
    Frequencies frequencies;
  };
  // The cache, brought up to date; null when the database cannot be read.
  // Without `readAll`, only when that needs no reading of the whole library
  // (nothing changed, or only this connection's logged writes).
  TagCache* CurrentTagCache(bool readAll = true);
  // Inside the reading's transaction: the cache's entries by name from its
  // frequencies. False when the tags could not be read.
  bool ReadTagsByName(TagCache& cache);
  // Inside a transaction: this connection's logged writes applied to the
  // kept frequencies, when they are all that changed since the lists were
  // read. False when the lists must be read again.
  bool ApplyOwnTagListWrites(TagCache& cache, sqlite3_int64 changeCount);
  // Inside a transaction: the writes of every connection since the lists
  // were read, from the file's log, applied to the kept frequencies. False
  // (the frequencies untouched) when the log does not reach back that far.
  bool ApplyLoggedTagListWrites(TagCache& cache);
  // Inside a transaction: the last row of the file's log (0 when empty, -1
  // when it cannot be read).
  sqlite3_int64 ReadLastTagListDelta();
  // Empties the log and logs from now on (the kept lists stand as read).
  void RestartTagListLog();
  // The cache when nothing has changed since it was read; null otherwise
  // (it is not read again).
  TagCache* TagCacheIfCurrent();
  // A write of the play history, which is no part of the tag lists: kept
  // ones stay current (a play every few minutes would otherwise have them
  // read again).
  template <class... Args>
  int StepKeepingTagLists(StatementId id, Args... args) {
    auto lock = Lock();
    TagCache* kept = TagCacheIfCurrent();
    const int result = StepOnce(id, args...);
    if (kept) kept->totalChanges = sqlite3_total_changes64(Handle());
    return result;
  }
  // PRAGMA data_version; false when it cannot be read.
  bool ReadDataVersion(sqlite3_int64& version);
  void PrepareTagListChanges();
  // The count of writes that can change the tag lists; false when the file
  // has no such count.
  bool ReadTagListChanges(sqlite3_int64& count);
  // The mix's tags as MixTags lists them, from the cached frequencies. False
  // (and `tags` left to be thrown away) when the cache is not current.
  bool MixTagsFromCache(int mixId, TagList& tags);
  void FinalizeStatements();
  // Whether a page of the mix's tracks is found sooner by walking the
  // tracks by name than by reading and sorting all the mix's assignments.
  bool WalkMixByName(int mixId, int offset, int limit);
  // The compiled statements once they are (they fail on a failed
  // connection); the text while the file is opened.
  bool RunTransactionStep(TransactionStep step) override;
  // A commit that fails (the database stayed busy) is tried once more, then
  // the transaction is rolled back so that no write lock is kept.
  static constexpr int kCommitAttempts = 2;

  // What a scan's read found of a track by its location.
  struct ScannedTrack {
    bool found = false;
    int id = 0;
    bool onDisk = false;
    // Its album, artist and genre assignments name the tags of its texts.
    bool tagsCurrent = false;
    // A known track whose tags stand: at most its on-disk mark is written.
    bool OnlyMark() const { return found && (tagsCurrent || id <= 0); }
  };
  ScannedTrack ReadScannedTrack(const Track& track);
  // AddOrUpdateTrack's writes, inside the caller's transaction: `stored` is
  // false when a step failed. True when a row was inserted.
  bool WriteTrack(Track& track, const ScannedTrack& scanned, bool& stored);

  // On-disk marks kept by a batch (BatchScanWrites).
  bool batchMarks_ = false;
  std::vector<int> pendingMarks_;
  std::vector<Track> pendingTracks_;
  // Random tracks of the current mix, handed out one by one.
  TrackList randomTracks_;
  std::array<StatementHandle, kStatementCount> statements_;
  StatementHandle tagListChanges_;
  // This connection logs its own writes to the tag lists' tables (temp.taglistlog).
  bool tagListLogging_ = false;
  // The file logs every connection's writes to them (table taglistdelta).
  bool tagListDeltas_ = false;
  TagCache tagCache_;
  // The number of enabled (1) and dumped (0) tracks, with the count of
  // taglistchange it was read after.
  struct KeptCount {
    bool valid = false;
    sqlite3_int64 changeCount = 0;
    int count = 0;
  };
  std::array<KeptCount, 2> trackCounts_;
  int CountTracks(bool enabled);
  bool failed_ = false;
  std::string failure_;
  bool newDatabase_ = false;
  // The file of the last Open, which Analyze reopens.
  std::string path_;
  // Which statements a Statement use holds right now.
  std::array<bool, kStatementCount> inUse_{};
  // See Lock().
  mutable std::recursive_mutex mutex_;
};

// The user-interface thread's database, named theMusicDB. Unless another
// instance is installed it is the program's own, built on first use on the
// file at GetMusicDBPath().
MusicDB& TheMusicDB();
// Makes `db` the instance that theMusicDB names (null: the program's own
// again); returns the one installed before.
MusicDB* InstallMusicDB(MusicDB* db);

// Installs a database as theMusicDB for the life of the guard.
class ScopedMusicDB {
 public:
  explicit ScopedMusicDB(MusicDB& db) : previous_(InstallMusicDB(&db)) {}
  ~ScopedMusicDB() { InstallMusicDB(previous_); }
  ScopedMusicDB(const ScopedMusicDB&) = delete;
  ScopedMusicDB& operator=(const ScopedMusicDB&) = delete;

 private:
  MusicDB* previous_;
};

#define theMusicDB (::TheMusicDB())

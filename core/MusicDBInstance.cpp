// The user-interface thread's music database.
#include "core/MusicDB.h"

#include <atomic>

namespace {
// Read by the scan worker too.
std::atomic<MusicDB*> installed{nullptr};
}  // namespace

MusicDB& TheMusicDB() {
  if (MusicDB* db = installed.load()) return *db;
  static MusicDB programDB;
  return programDB;
}

MusicDB* InstallMusicDB(MusicDB* db) { return installed.exchange(db); }

// The user-interface thread's music database.
#include "core/MusicDB.h"

namespace {
MusicDB* installed = nullptr;
}

MusicDB& TheMusicDB() {
  if (installed) return *installed;
  static MusicDB programDB;
  return programDB;
}

MusicDB* InstallMusicDB(MusicDB* db) {
  MusicDB* previous = installed;
  installed = db;
  return previous;
}

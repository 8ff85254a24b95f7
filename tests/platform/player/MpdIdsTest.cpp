// The ids given to MPD's songs and playlists: stable, never reused, and the
// same in every process that shares the file.
#include "platform/player/mpd/MpdIds.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/support/TempFolder.h"

namespace {

namespace pp = platform::player;
using Kind = pp::MpdIds::Kind;
using zorva_test::TempFolder;

TEST(MpdIdsTest, KeysKeepTheirIdsAndNewKeysGetIdsNeverGivenBefore) {
  TempFolder folder;
  const std::string file = folder.File("mpd-ids");
  pp::MpdIds first(file);
  const std::vector<long> ids = first.IdsOf(Kind::Track, {"/m/a.ogg", "/m/b\tc.ogg", "/m/d\n.ogg"});
  EXPECT_EQ(ids, (std::vector<long>{1, 2, 3}));
  // Playlists count apart, above the library playlist.
  EXPECT_EQ(first.IdOf(Kind::Playlist, "Evening"), pp::MpdIds::kLibraryPlaylistId + 1);
  EXPECT_EQ(first.IdOf(Kind::Track, "/m/b\tc.ogg"), 2);

  // Another process: it reads what the first gave, and what each gives
  // later the other sees, with no id given twice.
  pp::MpdIds second(file);
  EXPECT_EQ(second.IdsOf(Kind::Track, {"/m/d\n.ogg", "/m/a.ogg"}), (std::vector<long>{3, 1}));
  EXPECT_EQ(second.IdOf(Kind::Track, "/m/e.ogg"), 4);
  EXPECT_EQ(first.IdOf(Kind::Track, "/m/f.ogg"), 5);
  EXPECT_EQ(second.KeyOf(Kind::Track, 5), "/m/f.ogg");
  EXPECT_EQ(first.KeyOf(Kind::Track, 4), "/m/e.ogg");
  EXPECT_EQ(first.KeyOf(Kind::Playlist, 2), "Evening");
  EXPECT_FALSE(first.KeyOf(Kind::Track, 6));

  // A damaged line is passed over; the ids after it go on above every id read.
  std::ofstream(file, std::ios::app) << "t\tnot-a-number\t/m/x.ogg\nq\t9\t/m/y.ogg\n";
  pp::MpdIds third(file);
  EXPECT_EQ(third.IdOf(Kind::Track, "/m/g.ogg"), 6);
  EXPECT_EQ(third.IdOf(Kind::Track, "/m/a.ogg"), 1);
}

TEST(MpdIdsTest, AFileThatCannotBeWrittenGivesNoIds) {
  TempFolder folder;
  pp::MpdIds ids(folder.File("missing/mpd-ids"));
  EXPECT_EQ(ids.IdsOf(Kind::Track, {"/m/a.ogg", "/m/b.ogg"}), (std::vector<long>{0, 0}));
  EXPECT_FALSE(ids.KeyOf(Kind::Track, 1));
}

}  // namespace

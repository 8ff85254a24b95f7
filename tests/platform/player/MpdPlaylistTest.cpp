// Stored playlists on a real MPD: their ids and operations, live
// collections, and entries whose song is gone.
#include "platform/player/mpd/MpdPlayer.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/player/ITunes.h"
#include "platform/player/PlayerActivation.h"
#include "tests/platform/player/MpdPlayerFixture.h"

namespace {

namespace pp = platform::player;
using namespace zorva_test;

TEST_F(MpdPlayerTest, StoredPlaylistsAreUserPlaylistsWithStableIdsAndTheirOperations) {
  auto app = App();
  auto playlist = NewPlaylist(app, "Evening");
  ASSERT_TRUE(playlist);
  long id = 0;
  playlist->get_PlaylistID(&id);
  EXPECT_GT(id, 1);
  ASSERT_EQ(playlist->AddFiles({Song(1), Song(2), Song(1)}), S_OK);
  std::shared_ptr<pp::IITPlaylist> library;
  app->get_LibraryPlaylist(&library);
  std::shared_ptr<pp::IITTrackCollection> all;
  library->get_Tracks(&all);
  std::shared_ptr<pp::IITTrack> third;
  all->get_Item(3, &third);
  std::shared_ptr<pp::IITTrack> added;
  ASSERT_EQ(playlist->AddTrack(third, &added), S_OK);
  EXPECT_EQ(View(added).name, "Tone 3");

  // Listed after the library playlist, as a plain user playlist.
  std::shared_ptr<pp::IITSource> source;
  app->get_LibrarySource(&source);
  std::shared_ptr<pp::IITPlaylistCollection> playlists;
  ASSERT_EQ(source->get_Playlists(&playlists), S_OK);
  long count = 0;
  playlists->get_Count(&count);
  ASSERT_EQ(count, 2);
  std::shared_ptr<pp::IITPlaylist> listed;
  playlists->get_Item(2, &listed);
  auto user = pp::QueryInterface<pp::IITUserPlaylist>(listed);
  ASSERT_TRUE(user);
  pp::ITUserPlaylistSpecialKind kind = pp::ITUserPlaylistSpecialKindFolder;
  user->get_SpecialKind(&kind);
  EXPECT_EQ(kind, pp::ITUserPlaylistSpecialKindNone);
  std::shared_ptr<pp::IITPlaylist> first;
  playlists->get_Item(1, &first);
  EXPECT_FALSE(pp::QueryInterface<pp::IITUserPlaylist>(first));

  auto names = [](const std::vector<TrackView>& tracks) {
    std::vector<std::string> out;
    for (const auto& t : tracks) out.push_back(t.name);
    return out;
  };
  EXPECT_EQ(names(Tracks(listed)), (std::vector<std::string>{"Tone 1", "Tone 2", "Tone 1", "Tone 3"}));

  // Deleting entries from one snapshot: each goes, whatever moved before it.
  std::shared_ptr<pp::IITTrackCollection> entries;
  listed->get_Tracks(&entries);
  std::shared_ptr<pp::IITTrack> one, two;
  entries->get_Item(1, &one);
  entries->get_Item(2, &two);
  EXPECT_EQ(one->Delete(), S_OK);
  EXPECT_EQ(two->Delete(), S_OK);
  EXPECT_EQ(names(Tracks(listed)), (std::vector<std::string>{"Tone 1", "Tone 3"}));
  EXPECT_EQ(two->Delete(), pp::ITUNES_E_OBJECTDELETED);
  // Library tracks stay: MPD's library is the folder.
  EXPECT_TRUE(FAILED(third->Delete()));

  // Found again by its id, from another application object; a taken name gets a number.
  std::shared_ptr<pp::IITObject> object;
  ASSERT_EQ(App()->GetITObjectByID(1, id, 0, 0, &object), S_OK);
  std::string name;
  pp::QueryInterface<pp::IITPlaylist>(object)->get_Name(&name);
  EXPECT_EQ(name, "Evening");
  auto again = NewPlaylist(app, "Evening");
  again->get_Name(&name);
  EXPECT_EQ(name, "Evening 2");

  // Renamed outside the program: it keeps its id under the new name; a new
  // playlist of the old name is another playlist.
  {
    auto c = mpd_.Open();
    ASSERT_TRUE(mpd_run_rename(c.get(), "Evening", "Night"));
  }
  ASSERT_EQ(app->GetITObjectByID(1, id, 0, 0, &object), S_OK);
  pp::QueryInterface<pp::IITPlaylist>(object)->get_Name(&name);
  EXPECT_EQ(name, "Night");
  auto recreated = NewPlaylist(app, "Evening");
  long recreatedId = 0;
  recreated->get_PlaylistID(&recreatedId);
  EXPECT_NE(recreatedId, id);
  ASSERT_EQ(App()->GetITObjectByID(1, id, 0, 0, &object), S_OK);
  pp::QueryInterface<pp::IITPlaylist>(object)->get_Name(&name);
  EXPECT_EQ(name, "Night");
  // A deleted playlist's id finds nothing.
  {
    auto c = mpd_.Open();
    ASSERT_TRUE(mpd_run_rm(c.get(), "Night"));
  }
  EXPECT_EQ(app->GetITObjectByID(1, id, 0, 0, &object), E_INVALIDARG);
  EXPECT_FALSE(object);
  // A name that is not UTF-8 (a playlist file named so) reads with U+FFFD,
  // and the playlist behind it still answers.
  std::ofstream(mpd_.Folder().File("playlists/Odd\xFFname.m3u")) << "Kiri/t1.ogg\n";
  app->get_LibrarySource(&source);
  ASSERT_EQ(source->get_Playlists(&playlists), S_OK);
  playlists->get_Count(&count);
  std::vector<std::string> listedNames;
  for (long i = 1; i <= count; ++i) {
    playlists->get_Item(i, &listed);
    listed->get_Name(&name);
    listedNames.push_back(name);
    if (name == "Odd\xEF\xBF\xBDname") {
      EXPECT_EQ(Tracks(listed).size(), 1u);
    }
  }
  EXPECT_NE(std::find(listedNames.begin(), listedNames.end(), "Odd\xEF\xBF\xBDname"), listedNames.end());
  // A playlist name MPD refuses is an error, not a playlist.
  std::shared_ptr<pp::IITPlaylist> refused;
  EXPECT_TRUE(FAILED(app->CreatePlaylist("a/b", &refused)));
  EXPECT_FALSE(refused);
  // No folders: the layer answers as an interface older than 1.7.
  bool compatible = true;
  app->CheckVersion(1, 7, &compatible);
  EXPECT_FALSE(compatible);
}

// The layer's own edits move a playlist's modification time: one renamed
// outside afterwards still keeps its id.
TEST_F(MpdPlayerTest, APlaylistEditedHereThenRenamedOutsideKeepsItsId) {
  const std::string file = mpd_.Folder().File("playlists/Old.m3u");
  std::ofstream(file) << "Kiri/t1.ogg\n";
  SetFileTime(file, 946684800);  // 2000
  auto app = App();
  std::shared_ptr<pp::IITSource> source;
  app->get_LibrarySource(&source);
  std::shared_ptr<pp::IITPlaylistCollection> playlists;
  ASSERT_EQ(source->get_Playlists(&playlists), S_OK);
  std::shared_ptr<pp::IITPlaylist> listed;
  ASSERT_EQ(playlists->get_Item(2, &listed), S_OK);
  long id = 0;
  listed->get_PlaylistID(&id);
  ASSERT_EQ(pp::QueryInterface<pp::IITUserPlaylist>(listed)->AddFiles({Song(2)}), S_OK);
  {
    auto c = mpd_.Open();
    ASSERT_TRUE(mpd_run_rename(c.get(), "Old", "New"));
  }
  std::shared_ptr<pp::IITObject> object;
  ASSERT_EQ(app->GetITObjectByID(1, id, 0, 0, &object), S_OK);
  std::string name;
  pp::QueryInterface<pp::IITPlaylist>(object)->get_Name(&name);
  EXPECT_EQ(name, "New");
}

// A playlist emptied through one collection, front first, as generated
// playlists are rewritten: each deleted entry leaves that collection.
TEST_F(MpdPlayerTest, ACollectionLosesTheEntriesDeletedThroughIt) {
  auto app = App();
  auto playlist = NewPlaylist(app, "Zorva - Morning");
  ASSERT_TRUE(playlist);
  ASSERT_EQ(playlist->AddFiles({Song(1), Song(2), Song(3), Song(2)}), S_OK);
  std::shared_ptr<pp::IITTrackCollection> tracks;
  ASSERT_EQ(playlist->get_Tracks(&tracks), S_OK);
  long count = 0;
  tracks->get_Count(&count);
  ASSERT_EQ(count, 4);
  for (long i = 0; i < 4; ++i) {
    std::shared_ptr<pp::IITTrack> first;
    ASSERT_EQ(tracks->get_Item(1, &first), S_OK);
    EXPECT_EQ(first->Delete(), S_OK);
    tracks->get_Count(&count);
    EXPECT_EQ(count, 3 - i);
  }
  EXPECT_TRUE(Tracks(playlist).empty());
  // Files added afterwards are in the same collection.
  ASSERT_EQ(playlist->AddFiles({Song(4)}), S_OK);
  tracks->get_Count(&count);
  EXPECT_EQ(count, 1);
  std::shared_ptr<pp::IITTrack> added;
  ASSERT_EQ(tracks->get_Item(1, &added), S_OK);
  EXPECT_EQ(View(added).name, "Tone 4");
}

// MPD's load leaves out the entries whose song is gone; the entry chosen is
// the entry that plays, and the current track's place is its entry's.
TEST_F(MpdPlayerTest, APlaylistWithMissingSongsPlaysTheEntryChosen) {
  // Songs that outlast the test: one that ended while a loaded machine kept
  // the test from looking would leave the next one current.
  auto song = [&](int i) { return mpd_.Music() + "/Gaps/g" + std::to_string(i) + ".ogg"; };
  for (int i = 1; i <= 4; ++i)
    ASSERT_TRUE(zorva_test::MakeSong(song(i), "Gap " + std::to_string(i), "Kiri", "Folk", 30, 300 + 50 * i));
  mpd_.Update();
  auto app = App();
  auto playlist = NewPlaylist(app, "Gaps");
  ASSERT_TRUE(playlist);
  ASSERT_EQ(playlist->AddFiles({song(2), song(1), song(2), song(3), song(4)}), S_OK);
  long id = 0;
  playlist->get_PlaylistID(&id);
  std::filesystem::remove(song(2));
  mpd_.Update();

  auto place = [&](std::string* name) {
    std::shared_ptr<pp::IITTrack> current;
    long index = 0, playingId = 0;
    if (app->get_CurrentTrack(&current) != S_OK) return -1L;
    current->get_PlayOrderIndex(&index);
    std::shared_ptr<pp::IITPlaylist> playing;
    current->get_Playlist(&playing);
    if (playing) playing->get_PlaylistID(&playingId);
    *name = View(current).name;
    return playingId == id ? index : 0L;
  };
  std::string name;
  ASSERT_EQ(playlist->PlayFirstTrack(), S_OK);
  EXPECT_EQ(place(&name), 2);
  EXPECT_EQ(name, "Gap 1");
  std::shared_ptr<pp::IITTrackCollection> tracks;
  ASSERT_EQ(playlist->get_Tracks(&tracks), S_OK);
  for (long chosen : {4L, 2L, 5L}) {
    std::shared_ptr<pp::IITTrack> entry;
    ASSERT_EQ(tracks->get_Item(chosen, &entry), S_OK);
    ASSERT_EQ(entry->Play(), S_OK);
    EXPECT_EQ(place(&name), chosen);
    EXPECT_EQ(name, View(entry).name);
  }
  // Another client appending to the queue leaves the track in its playlist.
  {
    auto c = mpd_.Open();
    ASSERT_TRUE(mpd_run_add(c.get(), "Gaps/g1.ogg"));
  }
  EXPECT_EQ(place(&name), 5);
  EXPECT_EQ(name, "Gap 4");
}

// An entry whose song is gone from MPD is passed over as a missing file is:
// choosing it plays the next entry that is there.
TEST_F(MpdPlayerTest, AChosenEntryWhoseSongIsGoneIsPassedOverToTheNextThere) {
  auto song = [&](int i) { return mpd_.Music() + "/Gone/g" + std::to_string(i) + ".ogg"; };
  for (int i = 1; i <= 3; ++i)
    ASSERT_TRUE(zorva_test::MakeSong(song(i), "Gone " + std::to_string(i), "Kiri", "Folk", 30, 300 + 50 * i));
  mpd_.Update();
  auto app = App();
  auto playlist = NewPlaylist(app, "Gone");
  ASSERT_TRUE(playlist);
  ASSERT_EQ(playlist->AddFiles({song(1), song(2), song(2), song(3)}), S_OK);
  std::filesystem::remove(song(2));
  mpd_.Update();
  std::shared_ptr<pp::IITTrackCollection> tracks;
  ASSERT_EQ(playlist->get_Tracks(&tracks), S_OK);
  for (long chosen : {2L, 3L}) {
    SCOPED_TRACE(chosen);
    std::shared_ptr<pp::IITTrack> entry;
    ASSERT_EQ(tracks->get_Item(chosen, &entry), S_OK);
    EXPECT_EQ(entry->Play(), S_OK);
    pp::ITPlayerState state = pp::ITPlayerStateStopped;
    EXPECT_EQ(app->get_PlayerState(&state), S_OK);
    EXPECT_EQ(state, pp::ITPlayerStatePlaying);
    std::shared_ptr<pp::IITTrack> current;
    ASSERT_EQ(app->get_CurrentTrack(&current), S_OK);
    long index = 0;
    current->get_PlayOrderIndex(&index);
    EXPECT_EQ(View(current).name, "Gone 3");
    EXPECT_EQ(index, 4);
  }
}

}  // namespace

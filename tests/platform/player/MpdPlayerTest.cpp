// The player layer on a real MPD, started by each test on a folder of short
// generated songs: the library and its stable ids, stored playlists,
// transport, position, events, a player that quits and comes back, and one
// that stops answering.
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
#include "tests/platform/player/MpdTestSupport.h"

namespace {

namespace pp = platform::player;
using zorva_test::PumpUntil;
using zorva_test::TestMpd;

struct TrackView {
  std::string name, artist, genre, location, time;
  long id = 0;
  pp::ITTrackKind kind = pp::ITTrackKindUnknown;
};

TrackView View(const std::shared_ptr<pp::IITTrack>& track) {
  TrackView v;
  if (!track) return v;
  track->get_Name(&v.name);
  track->get_Artist(&v.artist);
  track->get_Genre(&v.genre);
  track->get_Time(&v.time);
  track->get_TrackDatabaseID(&v.id);
  track->get_Kind(&v.kind);
  if (auto file = pp::QueryInterface<pp::IITFileOrCDTrack>(track)) file->get_Location(&v.location);
  return v;
}

// Every track of a playlist, in order.
std::vector<TrackView> Tracks(const std::shared_ptr<pp::IITPlaylist>& playlist) {
  std::vector<TrackView> out;
  std::shared_ptr<pp::IITTrackCollection> tracks;
  if (!playlist || FAILED(playlist->get_Tracks(&tracks)) || !tracks) return out;
  long count = 0;
  tracks->get_Count(&count);
  for (long i = 1; i <= count; ++i) {
    std::shared_ptr<pp::IITTrack> track;
    tracks->get_Item(i, &track);
    out.push_back(View(track));
  }
  return out;
}

std::map<std::string, long> IdsByLocation(const std::shared_ptr<pp::IiTunes>& app) {
  std::shared_ptr<pp::IITPlaylist> library;
  app->get_LibraryPlaylist(&library);
  std::map<std::string, long> ids;
  for (const TrackView& t : Tracks(library)) ids[t.location] = t.id;
  return ids;
}

// The events a sink received, by id, with the names of their tracks.
class RecordingSink : public pp::IiTunesEvents {
 public:
  HRESULT Invoke(pp::DISPID id, const std::vector<pp::EventArg>& args) override {
    if (id == pp::ITEventDatabaseChanged) {
      ++databaseChanges;
      if (args.size() == 2) {
        if (auto rows = std::get_if<pp::ObjectIDRows>(&args[0])) deletedRows += rows->size();
        if (auto rows = std::get_if<pp::ObjectIDRows>(&args[1]))
          for (const auto& row : *rows) changedIds.insert(row[3]);
      }
      return S_OK;
    }
    std::string name;
    if (!args.empty())
      if (auto object = std::get_if<std::shared_ptr<pp::IITObject>>(&args[0]); object && *object) {
        (*object)->get_Name(&name);
        if (auto track = pp::QueryInterface<pp::IITTrack>(*object); track && id == pp::ITEventPlayerPlay) {
          long index = 0;
          track->get_PlayOrderIndex(&index);
          played.emplace_back(name, index);
        }
      }
    if (id == pp::ITEventAboutToPromptUserToQuit && !args.empty())
      if (auto number = std::get_if<long>(&args[0])) lostWords += *number == pp::kPlayerLost;
    events.emplace_back(id, name);
    return S_OK;
  }
  std::size_t Count(pp::DISPID id) const {
    std::size_t n = 0;
    for (const auto& e : events) n += e.first == id;
    return n;
  }
  std::vector<std::pair<pp::DISPID, std::string>> events;
  std::vector<std::pair<std::string, long>> played;  // the play events' tracks and places
  int lostWords = 0;  // about-to-quit events that say the player was lost
  int databaseChanges = 0;
  std::size_t deletedRows = 0;
  std::set<long> changedIds;
};

// The sink advised on the application object for the life of the guard.
class Advised {
 public:
  Advised(const std::shared_ptr<pp::IiTunes>& app, pp::IiTunesEvents* sink) {
    pp::QueryInterface<pp::IConnectionPointContainer>(app)->FindConnectionPoint(pp::DIID_IiTunesEvents, &point_);
    result_ = point_ ? point_->Advise(sink, &cookie_) : E_FAIL;
  }
  ~Advised() { Unadvise(); }
  Advised(const Advised&) = delete;
  Advised& operator=(const Advised&) = delete;
  HRESULT Result() const { return result_; }
  HRESULT Unadvise() {
    if (FAILED(result_)) return result_;
    result_ = E_FAIL;
    return point_->Unadvise(cookie_);
  }

 private:
  std::shared_ptr<pp::IConnectionPoint> point_;
  DWORD cookie_ = 0;
  HRESULT result_ = E_FAIL;
};

class MpdPlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 1; i <= 4; ++i)
      ASSERT_TRUE(zorva_test::MakeSong(mpd_.Music() + "/Kiri/t" + std::to_string(i) + ".ogg",
                                       "Tone " + std::to_string(i), "Kiri", i % 2 ? "Ambient" : "Folk",
                                       i == 4 ? 1.5 : 2.5, 300 + 50 * i));
    mpd_.Start();
  }

  std::shared_ptr<pp::IiTunes> App() {
    std::shared_ptr<pp::IiTunes> app;
    EXPECT_EQ(pp::CoCreateITunesApp(&app), S_OK);
    return app;
  }

  std::shared_ptr<pp::IITUserPlaylist> NewPlaylist(const std::shared_ptr<pp::IiTunes>& app, const std::string& name) {
    std::shared_ptr<pp::IITPlaylist> playlist;
    EXPECT_EQ(app->CreatePlaylist(name, &playlist), S_OK);
    return pp::QueryInterface<pp::IITUserPlaylist>(playlist);
  }

  std::string Song(int i) const { return mpd_.Music() + "/Kiri/t" + std::to_string(i) + ".ogg"; }

  TestMpd mpd_;
};

TEST_F(MpdPlayerTest, ReadsTheLibraryWithIdsThatStayAcrossARestartAndARescan) {
  EXPECT_EQ(pp::ChosenPlayer(), pp::PlayerKind::Mpd);
  EXPECT_TRUE(pp::IsPlayerRunning());
  auto app = App();
  std::shared_ptr<pp::IITPlaylist> library;
  ASSERT_EQ(app->get_LibraryPlaylist(&library), S_OK);
  const std::vector<TrackView> tracks = Tracks(library);
  ASSERT_EQ(tracks.size(), 4u);
  EXPECT_EQ(tracks[0].name, "Tone 1");
  EXPECT_EQ(tracks[0].artist, "Kiri");
  EXPECT_EQ(tracks[0].genre, "Ambient");
  EXPECT_EQ(tracks[0].location, Song(1));
  EXPECT_EQ(tracks[0].kind, pp::ITTrackKindFile);
  EXPECT_EQ(tracks[3].time, "0:01");
  std::set<long> distinct;
  for (const TrackView& t : tracks) distinct.insert(t.id);
  EXPECT_EQ(distinct.size(), 4u);
  EXPECT_EQ(distinct.count(0), 0u);
  const auto before = IdsByLocation(app);
  app.reset();

  // The same ids after MPD starts again, from a new application object.
  mpd_.Stop();
  EXPECT_FALSE(pp::IsPlayerRunning());
  mpd_.Start();
  EXPECT_EQ(IdsByLocation(App()), before);

  // A song removed and one added: the others keep theirs, the new one gets a
  // new id, and the removed one gets its own back when it returns.
  std::filesystem::rename(Song(2), mpd_.Folder().File("t2.ogg"));
  ASSERT_TRUE(zorva_test::MakeSong(mpd_.Music() + "/Kiri/t5.ogg", "Tone 5", "Kiri", "Folk", 1, 500));
  mpd_.Update();
  auto after = IdsByLocation(App());
  EXPECT_EQ(after.count(Song(2)), 0u);
  ASSERT_EQ(after.count(Song(5)), 1u);
  EXPECT_EQ(distinct.count(after[Song(5)]), 0u);
  for (int i : {1, 3, 4}) EXPECT_EQ(after[Song(i)], before.at(Song(i)));
  std::filesystem::rename(mpd_.Folder().File("t2.ogg"), Song(2));
  mpd_.Update();
  after = IdsByLocation(App());
  EXPECT_EQ(after[Song(2)], before.at(Song(2)));

  // A track found by its id.
  std::shared_ptr<pp::IITObject> object;
  ASSERT_EQ(App()->GetITObjectByID(1, 0, 0, before.at(Song(3)), &object), S_OK);
  EXPECT_EQ(View(pp::QueryInterface<pp::IITTrack>(object)).name, "Tone 3");
}

TEST_F(MpdPlayerTest, RatingsComeFromTheRatingSticker) {
  {
    auto c = mpd_.Open();
    ASSERT_TRUE(mpd_run_sticker_set(c.get(), "song", "Kiri/t3.ogg", "rating", "80"));
  }
  std::shared_ptr<pp::IITPlaylist> library;
  App()->get_LibraryPlaylist(&library);
  std::shared_ptr<pp::IITTrackCollection> tracks;
  ASSERT_EQ(library->get_Tracks(&tracks), S_OK);
  std::vector<long> ratings;
  for (long i = 1; i <= 4; ++i) {
    std::shared_ptr<pp::IITTrack> track;
    tracks->get_Item(i, &track);
    long rating = -1;
    track->get_Rating(&rating);
    ratings.push_back(rating);
  }
  EXPECT_EQ(ratings, (std::vector<long>{0, 0, 80, 0}));
}

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

TEST_F(MpdPlayerTest, PlaysOneFileOrAPlaylistAndReportsStateAndPosition) {
  // Songs long enough that a loaded machine, slow to look or to hear of a
  // change, still finds each one playing where it looks for it playing.
  const std::string first = mpd_.Music() + "/Play/first.ogg";
  const std::string second = mpd_.Music() + "/Play/second.ogg";
  ASSERT_TRUE(zorva_test::MakeSong(first, "First", "Kiri", "Ambient", 4, 450));
  ASSERT_TRUE(zorva_test::MakeSong(second, "Second", "Kiri", "Folk", 30, 550));
  mpd_.Update();
  auto app = App();
  RecordingSink sink;
  Advised advised(app, &sink);
  ASSERT_EQ(advised.Result(), S_OK);

  ASSERT_EQ(app->PlayFile(first), S_OK);
  pp::ITPlayerState state = pp::ITPlayerStateStopped;
  app->get_PlayerState(&state);
  EXPECT_EQ(state, pp::ITPlayerStatePlaying);
  std::shared_ptr<pp::IITTrack> current;
  ASSERT_EQ(app->get_CurrentTrack(&current), S_OK);
  EXPECT_EQ(View(current).location, first);
  // The position moves, and the file alone plays: it stops at its end.
  long position = -1;
  EXPECT_TRUE(PumpUntil([&] { return SUCCEEDED(app->get_PlayerPosition(&position)) && position >= 1; }));
  EXPECT_TRUE(PumpUntil([&] { return sink.Count(pp::ITEventPlayerStop) == 1; }));
  app->get_PlayerState(&state);
  EXPECT_EQ(state, pp::ITPlayerStateStopped);
  ASSERT_GE(sink.events.size(), 2u);
  EXPECT_EQ(sink.events[0], std::make_pair(pp::ITEventPlayerPlay, std::string("First")));
  EXPECT_EQ(sink.events[1], std::make_pair(pp::ITEventPlayerStop, std::string("First")));

  // A playlist from its first track; its tracks follow one another.
  auto playlist = NewPlaylist(app, "Two");
  ASSERT_EQ(playlist->AddFiles({first, second}), S_OK);
  sink.events.clear();
  ASSERT_EQ(playlist->PlayFirstTrack(), S_OK);
  ASSERT_EQ(app->get_CurrentTrack(&current), S_OK);
  std::shared_ptr<pp::IITPlaylist> playing;
  current->get_Playlist(&playing);
  long id = 0, playingId = -1, order = 0;
  playlist->get_PlaylistID(&id);
  playing->get_PlaylistID(&playingId);
  current->get_PlayOrderIndex(&order);
  EXPECT_EQ(playingId, id);
  EXPECT_EQ(order, 1);
  EXPECT_TRUE(PumpUntil([&] { return sink.Count(pp::ITEventPlayerPlay) == 2; }));
  EXPECT_EQ(sink.events[0], std::make_pair(pp::ITEventPlayerPlay, std::string("First")));
  EXPECT_EQ(sink.events[1], std::make_pair(pp::ITEventPlayerStop, std::string("First")));
  EXPECT_EQ(sink.events[2], std::make_pair(pp::ITEventPlayerPlay, std::string("Second")));

  // Commands while playing stop what plays, once, then play.
  sink.events.clear();
  ASSERT_EQ(app->BackTrack(), S_OK);
  ASSERT_EQ(app->Stop(), S_OK);
  app->get_PlayerState(&state);
  EXPECT_EQ(state, pp::ITPlayerStateStopped);
  ASSERT_EQ(app->Play(), S_OK);
  ASSERT_EQ(app->get_CurrentTrack(&current), S_OK);
  EXPECT_EQ(View(current).name, "First");
  EXPECT_TRUE(PumpUntil([&] { return sink.Count(pp::ITEventPlayerPlay) == 2; }));
  EXPECT_EQ(sink.Count(pp::ITEventPlayerStop), 2u);
  ASSERT_EQ(app->Stop(), S_OK);

  // A song that vanished: the database-changed event names it, playing it
  // is refused, and the player goes on answering.
  std::filesystem::remove(Song(3));
  mpd_.Update();
  EXPECT_TRUE(PumpUntil([&] { return sink.deletedRows == 1; }));
  EXPECT_TRUE(FAILED(app->PlayFile(Song(3))));
  EXPECT_EQ(app->get_PlayerState(&state), S_OK);
  EXPECT_EQ(advised.Unadvise(), S_OK);
}

long Elapsed(TestMpd& mpd, mpd_state* state) {
  auto c = mpd.Open();
  mpd_status* status = c ? mpd_run_status(c.get()) : nullptr;
  if (!status) return -1;
  *state = mpd_status_get_state(status);
  const long ms = static_cast<long>(mpd_status_get_elapsed_ms(status));
  mpd_status_free(status);
  return ms;
}

// A pause keeps the place and Play goes on from it. Another client pausing
// is a stop with the place kept; another client choosing another song is
// followed: the new song plays, and no stop says the last one ended.
TEST_F(MpdPlayerTest, APauseKeepsThePlaceAndAnotherClientsChoiceIsNoEndOfTrack) {
  const std::string longSong = mpd_.Music() + "/Kiri/long.ogg";
  ASSERT_TRUE(zorva_test::MakeSong(longSong, "Long", "Kiri", "Ambient", 30, 500));
  mpd_.Update();
  auto app = App();
  RecordingSink sink;
  Advised advised(app, &sink);
  ASSERT_EQ(advised.Result(), S_OK);
  ASSERT_EQ(app->PlayFile(longSong), S_OK);
  mpd_state state = MPD_STATE_UNKNOWN;
  ASSERT_TRUE(PumpUntil([&] { return Elapsed(mpd_, &state) >= 1500; }));

  ASSERT_EQ(app->Pause(), S_OK);
  pp::ITPlayerState playerState = pp::ITPlayerStatePlaying;
  app->get_PlayerState(&playerState);
  EXPECT_EQ(playerState, pp::ITPlayerStateStopped);
  const long paused = Elapsed(mpd_, &state);
  EXPECT_EQ(state, MPD_STATE_PAUSE);
  long position = 0;
  EXPECT_EQ(app->get_PlayerPosition(&position), S_OK);
  EXPECT_GE(position, 1);
  ASSERT_EQ(app->Play(), S_OK);
  const long resumed = Elapsed(mpd_, &state);
  EXPECT_EQ(state, MPD_STATE_PLAY);
  EXPECT_GE(resumed, paused);
  EXPECT_LT(resumed, paused + 500);
  EXPECT_TRUE(PumpUntil([&] { return sink.Count(pp::ITEventPlayerPlay) == 2; }));

  auto other = mpd_.Open();
  ASSERT_TRUE(other);
  sink.events.clear();
  ASSERT_TRUE(mpd_run_pause(other.get(), true));
  EXPECT_TRUE(PumpUntil([&] { return sink.Count(pp::ITEventPlayerStop) == 1; }));
  EXPECT_EQ(app->get_PlayerPosition(&position), S_OK);
  EXPECT_GE(position, 1);
  ASSERT_TRUE(mpd_run_pause(other.get(), false));
  EXPECT_TRUE(PumpUntil([&] { return sink.Count(pp::ITEventPlayerPlay) == 1; }));

  // An insert and a skip there, mid-song.
  sink.events.clear();
  ASSERT_GE(mpd_run_add_id_to(other.get(), "Kiri/t1.ogg", 1), 0);
  ASSERT_TRUE(mpd_run_next(other.get()));
  EXPECT_TRUE(PumpUntil([&] { return sink.Count(pp::ITEventPlayerPlay) == 1; }));
  EXPECT_EQ(sink.events.back(), std::make_pair(pp::ITEventPlayerPlay, std::string("Tone 1")));
  EXPECT_EQ(sink.Count(pp::ITEventPlayerStop), 0u);
  // That song's own end is an end.
  EXPECT_TRUE(PumpUntil([&] { return sink.Count(pp::ITEventPlayerStop) == 1; }));
}

// The file held next: MPD is on it when the stop event of the last one comes
// (no stop between them, so no silence, on the null output too), and
// playing it then keeps it playing where it is.
TEST_F(MpdPlayerTest, AFileHeldNextFollowsWithoutAStopAndPlaysOn) {
  // Long enough that neither ends while a loaded machine keeps the test
  // from its next look: the first one before the next is held, the held
  // one before it is played.
  const std::string first = mpd_.Music() + "/Held/first.ogg";
  const std::string held = mpd_.Music() + "/Held/held.ogg";
  ASSERT_TRUE(zorva_test::MakeSong(first, "First", "Kiri", "Folk", 4, 450));
  ASSERT_TRUE(zorva_test::MakeSong(held, "Held", "Kiri", "Folk", 30, 500));
  mpd_.Update();
  auto app = App();
  RecordingSink sink;
  Advised advised(app, &sink);
  ASSERT_EQ(advised.Result(), S_OK);
  ASSERT_EQ(app->PlayFile(first), S_OK);
  ASSERT_EQ(app->QueueNextFile(held), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return sink.Count(pp::ITEventPlayerPlay) == 1; }));
  sink.events.clear();
  ASSERT_TRUE(PumpUntil([&] { return sink.Count(pp::ITEventPlayerStop) == 1; }));
  EXPECT_EQ(sink.events.front(), std::make_pair(pp::ITEventPlayerStop, std::string("First")));
  pp::ITPlayerState state = pp::ITPlayerStateStopped;
  app->get_PlayerState(&state);
  EXPECT_EQ(state, pp::ITPlayerStatePlaying);
  std::shared_ptr<pp::IITTrack> current;
  ASSERT_EQ(app->get_CurrentTrack(&current), S_OK);
  EXPECT_EQ(View(current).name, "Held");
  mpd_state mpdState = MPD_STATE_UNKNOWN;
  ASSERT_TRUE(PumpUntil([&] { return Elapsed(mpd_, &mpdState) >= 300; }));
  const long before = Elapsed(mpd_, &mpdState);
  ASSERT_EQ(app->PlayFile(held), S_OK);
  EXPECT_GE(Elapsed(mpd_, &mpdState), before);
  auto other = mpd_.Open();
  mpd_status* status = mpd_run_status(other.get());
  ASSERT_TRUE(status);
  EXPECT_EQ(mpd_status_get_queue_length(status), 1u);
  mpd_status_free(status);
}

// Another client skipping fast: every play event names the song at the
// place it reports, never the state of one song with another song.
TEST_F(MpdPlayerTest, EventsNameTheSongThatPlaysUnderQuickSkipsElsewhere) {
  auto app = App();
  auto playlist = NewPlaylist(app, "Round");
  const std::vector<std::string> names = {"Tone 1", "Tone 2", "Tone 3", "Tone 4"};
  for (int round = 0; round < 3; ++round) ASSERT_EQ(playlist->AddFiles({Song(1), Song(2), Song(3), Song(4)}), S_OK);
  RecordingSink sink;
  Advised advised(app, &sink);
  ASSERT_EQ(advised.Result(), S_OK);
  ASSERT_EQ(playlist->PlayFirstTrack(), S_OK);

  auto other = mpd_.Open();
  ASSERT_TRUE(other);
  ASSERT_TRUE(mpd_run_repeat(other.get(), true));
  constexpr int kSkips = 200;
  std::size_t seen = 0;
  for (int i = 0; i < kSkips; ++i) {
    ASSERT_TRUE(mpd_run_next(other.get()));
    // Let the events of some skips through while the others race them.
    if (i % 4 == 0) platform::PumpMessages();
  }
  mpd_status* status = mpd_run_status(other.get());
  ASSERT_TRUE(status);
  const long last = mpd_status_get_song_pos(status) + 1;
  mpd_status_free(status);
  EXPECT_TRUE(PumpUntil([&] { return !sink.played.empty() && sink.played.back().second == last; }));
  for (const auto& [name, index] : sink.played) {
    ASSERT_GE(index, 1);
    EXPECT_EQ(name, names[static_cast<std::size_t>(index - 1) % names.size()]) << "at place " << index;
    ++seen;
  }
  EXPECT_GT(seen, 1u);
  mpd_run_stop(other.get());
}

TEST_F(MpdPlayerTest, ALostPlayerHasQuitAndOneThatComesBackIsReachedAgain) {
  auto app = App();
  RecordingSink sink;
  Advised advised(app, &sink);
  ASSERT_EQ(advised.Result(), S_OK);
  const auto ids = IdsByLocation(app);

  mpd_.Stop();
  EXPECT_TRUE(PumpUntil([&] { return sink.Count(pp::ITEventQuitting) == 1; }));
  EXPECT_EQ(sink.Count(pp::ITEventAboutToPromptUserToQuit), 1u);
  // It went without asking the user: the event says the player was lost.
  EXPECT_EQ(sink.lostWords, 1);
  pp::ITPlayerState state;
  EXPECT_EQ(app->get_PlayerState(&state), pp::RPC_E_DISCONNECTED);
  EXPECT_FALSE(pp::IsPlayerRunning());
  std::shared_ptr<pp::IiTunes> none;
  EXPECT_EQ(pp::CoCreateITunesApp(&none), pp::CO_E_SERVER_EXEC_FAILURE);

  mpd_.Start();
  EXPECT_TRUE(pp::IsPlayerRunning());
  EXPECT_EQ(IdsByLocation(App()), ids);
}

// Without an event connection nothing notices first: the next call writes to
// the closed socket, which is a disconnected player, not the program's end.
TEST_F(MpdPlayerTest, ACallToAPlayerThatHasGoneIsDisconnected) {
  auto app = App();
  pp::ITPlayerState state;
  ASSERT_EQ(app->get_PlayerState(&state), S_OK);
  mpd_.Stop();
  EXPECT_EQ(app->get_PlayerState(&state), pp::RPC_E_DISCONNECTED);
}

TEST_F(MpdPlayerTest, APlayerThatStopsAnsweringIsDisconnectedNotWaitedFor) {
  auto app = App();
  RecordingSink sink;
  Advised advised(app, &sink);
  ASSERT_EQ(advised.Result(), S_OK);

  mpd_.Pause();
  // Nobody calls: the event connection notices by itself, well within 10 s.
  EXPECT_TRUE(PumpUntil([&] { return sink.lostWords == 1; }, std::chrono::seconds(10)));
  pp::ITPlayerState state;
  EXPECT_EQ(app->get_PlayerState(&state), pp::RPC_E_DISCONNECTED);
  // Once disconnected, calls fail without asking again.
  long position = 0;
  EXPECT_EQ(app->get_PlayerPosition(&position), pp::RPC_E_DISCONNECTED);
  EXPECT_FALSE(pp::IsPlayerRunning());
  std::shared_ptr<pp::IiTunes> none;
  EXPECT_EQ(pp::CoCreateITunesApp(&none), pp::CO_E_SERVER_EXEC_FAILURE);

  mpd_.Resume();
  EXPECT_TRUE(PumpUntil([] { return pp::IsPlayerRunning(); }));
  EXPECT_EQ(App()->get_PlayerState(&state), S_OK);
  app.reset();  // its event connection ends with it
}

// Sets a file's modification time (seconds since 1970, negative before).
void SetFileTime(const std::string& path, long seconds) {
  const timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// A song dated before 1970 is listed; a tag longer than libmpdclient's
// 4 KB line costs that tag only, on the command connection and the event
// connection alike.
TEST_F(MpdPlayerTest, EverySongIsListedWhateverItsDateOrTheLengthOfItsTags) {
  SetFileTime(Song(2), -315619200);  // 1960
  const std::string longText(5000, 'x');
  ASSERT_TRUE(zorva_test::MakeSong(mpd_.Music() + "/Kiri/t5.ogg", "Tone 5", longText, "Folk", 1, 500));
  ASSERT_TRUE(zorva_test::MakeSong(mpd_.Music() + "/Kiri/t6.ogg", longText, "Kiri", "Folk", 1, 550));
  mpd_.Update();

  auto app = App();
  RecordingSink sink;
  Advised advised(app, &sink);
  ASSERT_EQ(advised.Result(), S_OK);
  std::shared_ptr<pp::IITPlaylist> library;
  ASSERT_EQ(app->get_LibraryPlaylist(&library), S_OK);
  std::map<std::string, TrackView> byLocation;
  for (const TrackView& t : Tracks(library)) byLocation[t.location] = t;
  ASSERT_EQ(byLocation.size(), 6u);
  EXPECT_EQ(byLocation[Song(2)].name, "Tone 2");
  EXPECT_EQ(byLocation[Song(5)].name, "Tone 5");
  EXPECT_EQ(byLocation[Song(5)].artist, "");
  EXPECT_EQ(byLocation[Song(5)].genre, "Folk");
  EXPECT_EQ(byLocation[Song(6)].name, "t6");  // untitled: its file's name
  EXPECT_EQ(byLocation[Song(6)].artist, "Kiri");
  EXPECT_EQ(byLocation[Song(1)].artist, "Kiri");
  pp::ITPlayerState state;
  EXPECT_EQ(app->get_PlayerState(&state), S_OK);
  // The event connection read the library too, and a change is still heard.
  std::filesystem::remove(Song(3));
  mpd_.Update();
  EXPECT_TRUE(PumpUntil([&] { return sink.deletedRows == 1 || sink.Count(pp::ITEventQuitting) > 0; }));
  EXPECT_EQ(sink.Count(pp::ITEventQuitting), 0u);
}

// MPD's db_update has whole seconds: a rescan that ends in the second of the
// last read is still seen by an application object without events.
TEST_F(MpdPlayerTest, ARescanInTheSecondOfTheLastReadIsSeen) {
  auto app = App();
  auto updated = [&] {
    auto c = mpd_.Open();
    mpd_stats* stats = mpd_run_stats(c.get());
    const auto time = stats ? mpd_stats_get_db_update_time(stats) : 0;
    if (stats) mpd_stats_free(stats);
    return time;
  };
  bool sameSecond = false;
  for (int round = 0; round < 30 && !sameSecond; ++round) {
    const std::string song = mpd_.Music() + "/New/" + std::to_string(round) + ".ogg";
    std::filesystem::create_directories(mpd_.Music() + "/New");
    std::filesystem::copy_file(Song(4), mpd_.Music() + "/New/first" + std::to_string(round) + ".ogg");
    mpd_.Update();
    const auto before = updated();
    std::shared_ptr<pp::IITPlaylist> library;
    app->get_LibraryPlaylist(&library);
    const std::size_t count = Tracks(library).size();
    std::filesystem::copy_file(Song(4), song);
    mpd_.Update();
    sameSecond = updated() == before;
    const auto after = IdsByLocation(app);
    EXPECT_EQ(after.size(), count + 1);
    EXPECT_EQ(after.count(song), 1u) << "round " << round;
  }
  EXPECT_TRUE(sameSecond);
}

// A song whose tags changed is named in the database-changed event.
TEST_F(MpdPlayerTest, ARetaggedSongIsNamedInTheDatabaseChangedEvent) {
  auto app = App();
  RecordingSink sink;
  Advised advised(app, &sink);
  ASSERT_EQ(advised.Result(), S_OK);
  const auto ids = IdsByLocation(app);
  ASSERT_TRUE(zorva_test::MakeSong(Song(2), "Tone 2 retagged", "Kiri", "Folk", 2.5, 400));
  // MPD tells a changed file by its time in whole seconds.
  SetFileTime(Song(2), 978307200);
  mpd_.Update();
  EXPECT_TRUE(PumpUntil([&] { return sink.changedIds.count(ids.at(Song(2))) == 1; }));
  EXPECT_EQ(sink.changedIds.count(ids.at(Song(1))), 0u);
  EXPECT_EQ(sink.deletedRows, 0u);
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

// A file that MPD can no longer decode (deleted, or overwritten with other
// bytes, after MPD read the folder) ends at once: the owner hears it stop,
// and the next file plays.
TEST_F(MpdPlayerTest, AFileThatCannotBePlayedEndsAtOnceAndTheNextPlays) {
  auto app = App();
  RecordingSink sink;
  Advised advised(app, &sink);
  ASSERT_EQ(advised.Result(), S_OK);
  std::filesystem::remove(Song(2));
  {
    std::ofstream damaged(Song(3), std::ios::binary | std::ios::trunc);
    for (int i = 0; i < 20000; ++i) damaged.put(static_cast<char>((i * 7919) % 251));
  }
  for (int broken : {2, 3}) {
    SCOPED_TRACE(broken);
    ASSERT_EQ(app->PlayFile(Song(1)), S_OK);
    sink.events.clear();
    EXPECT_EQ(app->PlayFile(Song(broken)), S_OK);
    EXPECT_TRUE(PumpUntil([&] {
      return std::count(sink.events.begin(), sink.events.end(),
                        std::make_pair(pp::ITEventPlayerStop, "Tone " + std::to_string(broken))) == 1;
    }));
    ASSERT_EQ(app->PlayFile(Song(4)), S_OK);
    pp::ITPlayerState state = pp::ITPlayerStateStopped;
    app->get_PlayerState(&state);
    EXPECT_EQ(state, pp::ITPlayerStatePlaying);
  }
}

// MPD builds each answer whole and drops a client whose answer outgrows its
// output buffer (here 1 MB instead of 8, so 12,000 songs are enough to
// outgrow it): the library is still read whole, with stable ids, and the
// player has not quit.
TEST(MpdLargeLibraryTest, ALibraryLargerThanOneAnswerOfMpdIsReadWhole) {
  TestMpd mpd("max_output_buffer_size \"1024\"\n");
  constexpr int kSongs = 12000;
  const std::string first = mpd.Music() + "/a/0.ogg";
  ASSERT_TRUE(zorva_test::MakeSong(first, "Tone", "Kiri", "Ambient", 0.1, 300));
  for (int i = 1; i < kSongs; ++i)
    std::filesystem::create_hard_link(first, mpd.Music() + "/a/" + std::to_string(i) + ".ogg");
  mpd.Start();

  std::shared_ptr<pp::IiTunes> app;
  ASSERT_EQ(pp::CoCreateITunesApp(&app), S_OK);
  RecordingSink sink;
  Advised advised(app, &sink);
  ASSERT_EQ(advised.Result(), S_OK);
  const auto ids = IdsByLocation(app);
  ASSERT_EQ(ids.size(), static_cast<std::size_t>(kSongs));
  std::set<long> distinct;
  for (const auto& [location, id] : ids) distinct.insert(id);
  EXPECT_EQ(distinct.size(), ids.size());
  EXPECT_EQ(distinct.count(0), 0u);

  // The event connection read it too: a song added takes no song away.
  std::filesystem::create_hard_link(first, mpd.Music() + "/a/new.ogg");
  mpd.Update();
  EXPECT_TRUE(PumpUntil([&] { return sink.databaseChanges > 0 || sink.Count(pp::ITEventQuitting) > 0; }));
  EXPECT_EQ(sink.Count(pp::ITEventQuitting), 0u);
  EXPECT_EQ(sink.deletedRows, 0u);
  std::shared_ptr<pp::IiTunes> again;
  ASSERT_EQ(pp::CoCreateITunesApp(&again), S_OK);
  auto after = IdsByLocation(again);
  EXPECT_EQ(after.size(), ids.size() + 1);
  after.erase(mpd.Music() + "/a/new.ogg");
  EXPECT_EQ(after, ids);
}

}  // namespace

namespace {

using zorva_test::ScopedEnv;
using zorva_test::TempFolder;

// The MPD processes whose command line names `config`.
std::vector<pid_t> ProcessesOn(const std::string& config) {
  std::vector<pid_t> pids;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    std::ifstream file(entry.path() / "cmdline");
    const std::string line((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (line.find(config) != std::string::npos && line.rfind("mpd", 0) == 0)
      pids.push_back(std::atoi(entry.path().filename().c_str()));
  }
  return pids;
}

// Which player the programs take, and Zorva's own MPD when none answers.
class OwnMpdTest : public ::testing::Test {
 protected:
  OwnMpdTest() { std::filesystem::create_directories(home_.File("run")); }
  ~OwnMpdTest() override { EndOwnMpd(); }

  // Ends every MPD the test had started on its configuration.
  void EndOwnMpd() {
    for (pid_t pid : ProcessesOn(home_.File("run/zorva-mpd/mpd.conf"))) {
      ::kill(pid, SIGCONT);
      ::kill(pid, SIGTERM);
      PumpUntil([pid] { return ::kill(pid, 0) != 0; });
    }
  }

  std::string Titles() {
    std::shared_ptr<pp::IiTunes> app;
    if (pp::CoCreateITunesApp(&app) != S_OK) return "no player";
    std::shared_ptr<pp::IITPlaylist> library;
    app->get_LibraryPlaylist(&library);
    std::string titles;
    for (const TrackView& t : Tracks(library)) titles += t.name + ";";
    return titles;
  }

  TempFolder home_;
  ScopedEnv homeEnv_{"HOME", home_.Path()};
  ScopedEnv runtime_{"XDG_RUNTIME_DIR", home_.File("run")};
  ScopedEnv data_{"XDG_DATA_HOME", home_.File("data")};
  ScopedEnv config_{"XDG_CONFIG_HOME", home_.File("config")};
  ScopedEnv music_{"XDG_MUSIC_DIR", nullptr};
  ScopedEnv host_{"MPD_HOST", nullptr};
  ScopedEnv port_{"MPD_PORT", nullptr};
  ScopedEnv socket_{"ZORVA_PLAYER_SOCKET", nullptr};
  ScopedEnv player_{"ZORVA_PLAYER", nullptr};
};

TEST_F(OwnMpdTest, ThePlayerNamedElseAnMpdThatAnswersElseTheStandInThatAnswersElseMpdWhenInstalled) {
  struct Case {
    const char* named;
    pp::PlayerKind chosen;
  };
  for (const Case& c : {Case{"stand-in", pp::PlayerKind::StandIn}, Case{"mpd", pp::PlayerKind::Mpd}}) {
    ScopedEnv named("ZORVA_PLAYER", c.named);
    EXPECT_EQ(pp::ChosenPlayer(), c.chosen) << c.named;
  }
  {
    ScopedEnv socket("ZORVA_PLAYER_SOCKET", home_.File("run/elsewhere.sock"));
    EXPECT_EQ(pp::ChosenPlayer(), pp::PlayerKind::StandIn);
  }
  // Nothing answers: MPD, since it is installed; without it on the path, the stand-in.
  EXPECT_EQ(pp::ChosenPlayer(), pp::PlayerKind::Mpd);
  {
    ScopedEnv path("PATH", home_.Path());
    EXPECT_FALSE(pp::MpdInstalled());
    EXPECT_EQ(pp::ChosenPlayer(), pp::PlayerKind::StandIn);
  }
  // A stand-in that answers is taken over starting an MPD.
  {
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = home_.File("run/zorva-player.sock");
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    EXPECT_EQ(pp::ChosenPlayer(), pp::PlayerKind::StandIn);
    ::close(listener);
    std::filesystem::remove(path);
  }
  // An MPD where the user's clients look is taken.
  TestMpd mpd;
  mpd.Start();
  ScopedEnv unnamed("ZORVA_PLAYER", nullptr);
  EXPECT_EQ(pp::ChosenPlayer(), pp::PlayerKind::Mpd);
}

TEST_F(OwnMpdTest, StartsOnTheUsersMusicWhenItHoldsAudioElseOnTheSampleBesideThePrograms) {
  const std::string programs = home_.File("bin");
  ASSERT_TRUE(zorva_test::MakeSong(programs + "/sample-music/Kiri/1.ogg", "Sample Tone", "Kiri", "Ambient", 1, 300));
  std::filesystem::create_directories(home_.File("Music"));
  std::shared_ptr<pp::IiTunes> none;
  EXPECT_EQ(pp::CoCreateITunesApp(&none), pp::CO_E_SERVER_EXEC_FAILURE);  // nothing registered to start one

  pp::RegisterPlayerActivator([&] { return pp::StartPlayerServer(programs + "/zorva-player", 60000); });
  EXPECT_EQ(Titles(), "Sample Tone;");
  const std::string config = home_.File("run/zorva-mpd/mpd.conf");
  std::ifstream text(config);
  const std::string written((std::istreambuf_iterator<char>(text)), std::istreambuf_iterator<char>());
  EXPECT_NE(written.find("type \"" + pp::OwnMpdAudioOutput() + "\""), std::string::npos) << written;
  EndOwnMpd();
  EXPECT_FALSE(pp::IsPlayerRunning());

  // With a song in ~/Music it serves that.
  ASSERT_TRUE(zorva_test::MakeSong(home_.File("Music/Mine/1.ogg"), "My Tone", "Me", "Folk", 1, 400));
  EXPECT_EQ(Titles(), "My Tone;");
  pp::RegisterPlayerActivator({});
}

}  // namespace

namespace {

mode_t ModeOf(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

TEST_F(OwnMpdTest, AnOwnMpdThatDoesNotAnswerIsNotJoinedByASecondOne) {
  ASSERT_TRUE(zorva_test::MakeSong(home_.File("Music/Mine/1.ogg"), "My Tone", "Me", "Folk", 1, 400));
  ASSERT_TRUE(pp::StartOwnMpd(home_.File("Music"), 60000));
  const std::string config = home_.File("run/zorva-mpd/mpd.conf");
  std::ifstream pidFile(home_.File("run/zorva-mpd/pid"));
  pid_t first = 0;
  ASSERT_TRUE(pidFile >> first);
  ::kill(first, SIGSTOP);
  EXPECT_FALSE(pp::StartOwnMpd(home_.File("Music"), 3000));
  EXPECT_EQ(ProcessesOn(config).size(), 1u);
  std::ifstream after(home_.File("run/zorva-mpd/pid"));
  pid_t named = 0;
  after >> named;
  EXPECT_EQ(named, first);
  ::kill(first, SIGCONT);
  // Once it answers again it is the player, and still the only one.
  EXPECT_TRUE(pp::StartOwnMpd(home_.File("Music"), 60000));
  EXPECT_EQ(ProcessesOn(config).size(), 1u);
}

TEST_F(OwnMpdTest, ItsFoldersAndFilesAreTheUsersAlone) {
  ASSERT_TRUE(zorva_test::MakeSong(home_.File("Music/Mine/1.ogg"), "My Tone", "Me", "Folk", 1, 400));
  // An older start left them open to others.
  const std::string zorva = home_.File("data/Zorva");
  std::filesystem::create_directories(zorva + "/mpd/playlists");
  std::ofstream(zorva + "/mpd/sticker.sql").flush();
  std::ofstream(zorva + "/mpd/playlists/Old.m3u") << "Mine/1.ogg\n";
  for (const std::string& folder : {zorva, zorva + "/mpd", zorva + "/mpd/playlists"}) ::chmod(folder.c_str(), 0755);
  ::chmod((zorva + "/mpd/playlists/Old.m3u").c_str(), 0644);
  ::chmod((zorva + "/mpd/sticker.sql").c_str(), 0644);

  ASSERT_TRUE(pp::StartOwnMpd(home_.File("Music"), 60000));
  std::shared_ptr<pp::IiTunes> app;
  ASSERT_EQ(pp::CoCreateITunesApp(&app), S_OK);
  std::shared_ptr<pp::IITPlaylist> made;
  ASSERT_EQ(app->CreatePlaylist("New", &made), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return std::filesystem::exists(zorva + "/mpd/playlists/New.m3u"); }));
  std::vector<std::string> files = {zorva + "/mpd/sticker.sql"};
  for (const auto& entry : std::filesystem::recursive_directory_iterator(zorva)) {
    if (entry.is_directory()) EXPECT_EQ(ModeOf(entry.path()), 0700u) << entry.path();
    else files.push_back(entry.path());
  }
  EXPECT_EQ(ModeOf(zorva), 0700u);
  for (const std::string& file : files) EXPECT_EQ(ModeOf(file) & 077, 0u) << file;
  bool db = false;
  for (const std::string& file : files) db |= file.find("/db-") != std::string::npos;
  EXPECT_TRUE(db);
}

}  // namespace

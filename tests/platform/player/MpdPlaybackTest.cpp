// Playing on a real MPD: transport, position and events, another client's
// commands, a file held next, a file that cannot be played, and a player
// that quits, comes back or stops answering.
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

TEST_F(MpdPlayerTest, PlaysOneFileOrAPlaylistAndReportsStateAndPosition) {
  // Songs long enough that a loaded machine, slow to look or to hear of a
  // change, still finds each one playing where it looks for it playing.
  const std::string first = mpd_.Music() + "/Play/first.ogg";
  const std::string second = mpd_.Music() + "/Play/second.ogg";
  ASSERT_NO_FATAL_FAILURE(
      AddSongs({{first, "First", "Kiri", "Ambient", 4, 450}, {second, "Second", "Kiri", "Folk", 30, 550}}));
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
  ASSERT_NO_FATAL_FAILURE(AddSongs({{longSong, "Long", "Kiri", "Ambient", 30, 500}}));
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
  ASSERT_NO_FATAL_FAILURE(
      AddSongs({{first, "First", "Kiri", "Folk", 4, 450}, {held, "Held", "Kiri", "Folk", 30, 500}}));
  auto app = App();
  RecordingSink sink;
  Advised advised(app, &sink);
  ASSERT_EQ(advised.Result(), S_OK);
  ASSERT_EQ(app->PlayFile(first), S_OK);
  ASSERT_EQ(app->QueueNextFile(held), S_OK);
  // A test kept from looking may find the first one's play and its stop
  // arrived together: both are looked for in what arrived.
  ASSERT_TRUE(PumpUntil([&] { return sink.Count(pp::ITEventPlayerStop) == 1; }));
  ASSERT_GE(sink.events.size(), 2u);
  EXPECT_EQ(sink.events[0], std::make_pair(pp::ITEventPlayerPlay, std::string("First")));
  EXPECT_EQ(sink.events[1], std::make_pair(pp::ITEventPlayerStop, std::string("First")));
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

// Another client stopping a song in its middle is the user stopping it
// there: the owner hears the stop with the place told, as for a pause at the
// player, which it leaves be. A song that ends tells no place.
TEST_F(MpdPlayerTest, AStopElsewhereMidSongTellsItsPlaceAndAnEndTellsNone) {
  const std::string longSong = mpd_.Music() + "/Kiri/long.ogg";
  ASSERT_NO_FATAL_FAILURE(AddSongs({{longSong, "Long", "Kiri", "Ambient", 30, 500}}));
  auto app = App();
  RecordingSink sink;
  Advised advised(app, &sink);
  ASSERT_EQ(advised.Result(), S_OK);
  ASSERT_EQ(app->PlayFile(longSong), S_OK);
  mpd_state mpdState = MPD_STATE_UNKNOWN;
  ASSERT_TRUE(PumpUntil([&] { return Elapsed(mpd_, &mpdState) >= 1500; }));
  auto other = mpd_.Open();
  ASSERT_TRUE(other);
  sink.events.clear();
  ASSERT_TRUE(mpd_run_stop(other.get()));
  ASSERT_TRUE(PumpUntil([&] { return sink.Count(pp::ITEventPlayerStop) == 1; }));
  pp::ITPlayerState state = pp::ITPlayerStatePlaying;
  EXPECT_EQ(app->get_PlayerState(&state), S_OK);
  EXPECT_EQ(state, pp::ITPlayerStateStopped);
  long position = 0;
  EXPECT_EQ(app->get_PlayerPosition(&position), S_OK);
  EXPECT_GE(position, 1);

  // Played from here, a song that ends: its stop tells no place.
  ASSERT_EQ(app->PlayFile(Song(4)), S_OK);
  EXPECT_EQ(app->get_PlayerPosition(&position), S_OK);
  sink.events.clear();
  ASSERT_TRUE(PumpUntil([&] { return sink.Count(pp::ITEventPlayerStop) == 1; }));
  EXPECT_EQ(app->get_PlayerState(&state), S_OK);
  EXPECT_EQ(state, pp::ITPlayerStateStopped);
  EXPECT_EQ(app->get_PlayerPosition(&position), S_OK);
  EXPECT_EQ(position, 0);
}

// A tag longer than libmpdclient's 4 KB line on the song that plays costs
// that tag only: the song is held next, played, named by the events and the
// current track with its other tags, also outside the library, and the
// player never quits.
TEST_F(MpdPlayerTest, APlayingSongWithATagTooLongForOneLineCostsThatTagOnly) {
  const std::string longText(5000, 'x');
  const std::string first = mpd_.Music() + "/Big/first.ogg";
  const std::string big = mpd_.Music() + "/Big/big.ogg";
  const std::string outside = mpd_.Folder().File("outside/big.ogg");
  ASSERT_NO_FATAL_FAILURE(AddSongs({{first, "First", "Kiri", "Folk", 4, 450},
                                    {big, "Big", longText, "Folk", 30, 500},
                                    {outside, "Outside", longText, "Ambient", 30, 550}}));
  auto app = App();
  RecordingSink sink;
  Advised advised(app, &sink);
  ASSERT_EQ(advised.Result(), S_OK);
  ASSERT_EQ(app->PlayFile(first), S_OK);
  ASSERT_EQ(app->QueueNextFile(big), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return sink.Count(pp::ITEventPlayerStop) == 1 || sink.Count(pp::ITEventQuitting) > 0; }));
  EXPECT_EQ(app->PlayFile(big), S_OK);
  std::shared_ptr<pp::IITTrack> current;
  ASSERT_EQ(app->get_CurrentTrack(&current), S_OK);
  EXPECT_EQ(View(current).name, "Big");
  EXPECT_EQ(View(current).artist, "");
  EXPECT_EQ(View(current).genre, "Folk");
  EXPECT_TRUE(PumpUntil([&] { return !sink.played.empty() && sink.played.back().first == "Big"; }));

  ASSERT_EQ(app->PlayFile(outside), S_OK);
  ASSERT_EQ(app->get_CurrentTrack(&current), S_OK);
  EXPECT_EQ(View(current).name, "Outside");
  EXPECT_EQ(View(current).artist, "");
  EXPECT_EQ(View(current).genre, "Ambient");
  EXPECT_TRUE(PumpUntil([&] { return !sink.played.empty() && sink.played.back().first == "Outside"; }));
  pp::ITPlayerState state = pp::ITPlayerStateStopped;
  EXPECT_EQ(app->get_PlayerState(&state), S_OK);
  EXPECT_EQ(state, pp::ITPlayerStatePlaying);
  // Listed in a stored playlist, it costs that tag there too.
  auto playlist = NewPlaylist(app, "Big");
  ASSERT_TRUE(playlist);
  ASSERT_EQ(playlist->AddFiles({first, big}), S_OK);
  const std::vector<TrackView> listed = Tracks(playlist);
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0].artist, "Kiri");
  EXPECT_EQ(listed[1].name, "Big");
  EXPECT_EQ(listed[1].artist, "");
  EXPECT_EQ(listed[1].genre, "Folk");
  EXPECT_EQ(app->get_PlayerState(&state), S_OK);
  platform::PumpMessages();
  EXPECT_EQ(sink.Count(pp::ITEventQuitting), 0u);
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

}  // namespace

// The player against the in-process media player: connection, state, the
// current track, transport commands and the events they cause.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "core/ITunesPlayer.h"
#include "tests/core/PlayerTestSupport.h"

namespace {

using namespace zorva_test;

// A file track whose answers the test sets.
class FakeTrack final : public pp::IITFileOrCDTrack {
 public:
  long rating = 0;
  std::string time = "3:07";
  pp::ITTrackKind kind = pp::ITTrackKindFile;
  HRESULT nameResult = S_OK;

  HRESULT get_Name(std::string* name) override {
    if (SUCCEEDED(nameResult)) *name = "Fake";
    return nameResult;
  }
  HRESULT get_SourceID(long* id) override { return *id = 1, S_OK; }
  HRESULT get_PlaylistID(long* id) override { return *id = 1, S_OK; }
  HRESULT get_TrackDatabaseID(long* id) override { return *id = 77, S_OK; }
  HRESULT Delete() override { return S_OK; }
  HRESULT Play() override { return S_OK; }
  HRESULT get_Kind(pp::ITTrackKind* k) override { return *k = kind, S_OK; }
  HRESULT get_Playlist(std::shared_ptr<pp::IITPlaylist>* p) override { return p->reset(), S_FALSE; }
  HRESULT get_Album(std::string* a) override { return *a = "Fake Album", S_OK; }
  HRESULT get_Artist(std::string* a) override { return *a = "Fake Artist", S_OK; }
  HRESULT get_Genre(std::string* g) override { return *g = "Fake Genre", S_OK; }
  HRESULT get_PlayOrderIndex(long* i) override { return *i = 1, S_OK; }
  HRESULT get_Rating(long* r) override { return *r = rating, S_OK; }
  HRESULT get_Time(std::string* t) override { return *t = time, S_OK; }
  HRESULT get_Location(std::string* l) override { return *l = "/fake.mp3", S_OK; }
};

std::string RatingText(long rating) {
  auto fake = std::make_shared<FakeTrack>();
  fake->rating = rating;
  Track track;
  ConvertITunesTrack(track, fake);
  return track.rating;
}

class ITunesPlayerTest : public PlayerFixture {
 protected:
  void SetUp() override {
    PlayerFixture::SetUp();
    pp::LibraryData library = MakeLibrary(6, 200);
    library.tracks[0].rating = 60;
    library.tracks[1].seconds = 187;
    AddPlaylist(library, 2, "Road Mix", Range(1, 4));
    StartModel(std::move(library));
    player_ = std::make_unique<ITunesPlayer>(&window_);
    ASSERT_TRUE(player_->Connect(true));
  }

  ITunesPlayer& Player() { return *player_; }
  bool Ignoring() { return player_->GetEventHandler().ignoreNextStop; }

  std::unique_ptr<ITunesPlayer> player_;
};

TEST_F(ITunesPlayerTest, ConnectWithoutAPlayerFailsAndDisablesCalls) {
  binding_.reset();
  ScopedEnv socket("ZORVA_PLAYER_SOCKET", "/nonexistent/zorva-player.sock");
  ITunesPlayer lonely(nullptr);
  EXPECT_FALSE(lonely.Connect(false));
  EXPECT_FALSE(iTunesAvailable);
  EXPECT_EQ(ThrownCode([&] { lonely.IsStopped(); }), kPlayerUnavailable);
  EXPECT_EQ(ThrownCode([&] { lonely.Play(); }), kPlayerUnavailable);
  EXPECT_EQ(ThrownCode([&] { lonely.GetPlayerPosition(); }), kPlayerCallFailed);
  EXPECT_FALSE(IsITunesRunning());
}

TEST_F(ITunesPlayerTest, SecondConnectKeepsTheConnectionAndAnswersTheFlag) {
  EXPECT_TRUE(IsITunesRunning());
  iTunesAvailable = false;
  EXPECT_FALSE(Player().Connect(true));
  iTunesAvailable = true;
  EXPECT_TRUE(Player().Connect(true));
  // Still advised once: one play gives one report.
  Player().Play();
  Pump();
  EXPECT_EQ(window_.playing.size(), 1u);
}

TEST_F(ITunesPlayerTest, ReportsStateCurrentTrackAndPosition) {
  EXPECT_TRUE(Player().IsStopped());
  Track none;
  none.name = "left over";
  EXPECT_TRUE(Player().GetCurrentTrack(none).name.empty());

  Player().Play();
  EXPECT_FALSE(Player().IsStopped());
  Advance(30000);
  EXPECT_EQ(Player().GetPlayerPosition(), 30);

  Track current;
  Track& same = Player().GetCurrentTrack(current);
  EXPECT_EQ(&same, &current);
  EXPECT_EQ(current.name, "Track 1");
  EXPECT_EQ(current.artist, "Artist 1");
  EXPECT_EQ(current.album, "Album 1");
  EXPECT_EQ(current.genre, "Genre 1");
  EXPECT_EQ(current.location, TrackLocation(1));
  EXPECT_EQ(current.length, 200);
  EXPECT_EQ(current.rating, "3 out of 5");
  EXPECT_EQ(current.playerTrackId, 1);
  EXPECT_EQ(current.id, 0);

  Model().FastForward();
  EXPECT_FALSE(Player().IsStopped());
}

TEST_F(ITunesPlayerTest, OnlyPlayingStatesCountAsPlaying) {
  std::shared_ptr<pp::IiTunes> real;
  ASSERT_EQ(pp::CoCreateITunesApp(&real), S_OK);
  auto scripted = std::make_shared<ScriptedApp>(real);
  ITunesPlayer player(nullptr, scripted);
  const std::pair<long, bool> states[] = {{0, true}, {1, false}, {2, false}, {3, false}, {7, true}};
  for (const auto& [state, stopped] : states) {
    scripted->forcedState = state;
    EXPECT_EQ(player.IsStopped(), stopped) << "state " << state;
  }
  EXPECT_TRUE(player.Connect(false));  // keeps the object it was given
  scripted->forcedState = 7;
  EXPECT_TRUE(player.IsStopped());
}

TEST_F(ITunesPlayerTest, EndOfTrackAsksTheOwnerForTheNextOne) {
  Player().PlayTrack(Track());  // no such file: nothing starts
  Pump();
  EXPECT_TRUE(window_.playing.empty());

  Track second;
  second.location = TrackLocation(2);
  Player().PlayTrack(second);
  Pump();
  ASSERT_EQ(window_.playing.size(), 1u);
  EXPECT_EQ(window_.playing[0].name, "Track 2");
  EXPECT_EQ(window_.playing[0].length, 187);
  EXPECT_EQ(window_.playNextCalls, 0);

  Advance(187000);
  EXPECT_EQ(window_.playNextCalls, 1);
  EXPECT_TRUE(Player().IsStopped());
}

TEST_F(ITunesPlayerTest, OwnTransportCommandsNeverReachPlayNext) {
  Player().Play();
  Pump();
  Player().NextTrack();  // stop, then play of track 2
  EXPECT_TRUE(Ignoring());
  Pump();
  EXPECT_FALSE(Ignoring());
  Player().BackTrack();
  Pump();
  Track fourth;
  fourth.location = TrackLocation(4);
  Player().PlayTrack(fourth);
  Pump();
  Player().Play();  // playing already: the player restarts it with a stop
  Pump();
  Player().Stop();
  Pump();
  EXPECT_EQ(window_.playNextCalls, 0);
  EXPECT_FALSE(Ignoring());
  ASSERT_FALSE(window_.playing.empty());
  EXPECT_EQ(window_.playing.back().name, "Track 4");

  // The person at the player presses stop: that stop is not the program's.
  Model().UserPlay();
  Pump();
  Model().UserStop();
  Pump();
  EXPECT_EQ(window_.playNextCalls, 1);
}

// A pause keeps the place, whoever pauses: the program's own pause is its
// command; another's pause mid-track is told to the window, not played past,
// and so is playing again there.
TEST_F(ITunesPlayerTest, APauseKeepsThePlaceAndAPauseElsewhereIsFollowed) {
  Player().Play();
  Pump();
  Advance(30000);
  Player().Pause();
  EXPECT_TRUE(Player().IsStopped());
  Pump();
  EXPECT_EQ(window_.playNextCalls, 0);
  EXPECT_EQ(Player().GetPlayerPosition(), 30);
  Player().Play();
  Advance(2000);
  EXPECT_EQ(Player().GetPlayerPosition(), 32);
  Pump();

  std::shared_ptr<pp::IiTunes> other;
  ASSERT_EQ(pp::CoCreateITunesApp(&other), S_OK);
  window_.pausedElsewhere.clear();  // each play event says it plays
  ASSERT_EQ(other->Pause(), S_OK);
  Pump();
  EXPECT_EQ(window_.playNextCalls, 0);
  EXPECT_EQ(window_.pausedElsewhere, std::vector<bool>{true});
  ASSERT_EQ(other->Play(), S_OK);
  Pump();
  EXPECT_EQ(window_.pausedElsewhere, (std::vector<bool>{true, false}));
  EXPECT_EQ(Player().GetPlayerPosition(), 32);
  // A stop there is still the end of what played: the next track comes.
  ASSERT_EQ(other->Stop(), S_OK);
  Pump();
  EXPECT_EQ(window_.playNextCalls, 1);
}

TEST_F(ITunesPlayerTest, CommandsWhileStoppedMarkNoStop) {
  Player().NextTrack();
  EXPECT_FALSE(Ignoring());
  Player().Stop();
  EXPECT_FALSE(Ignoring());
  Player().Play();
  EXPECT_FALSE(Ignoring());
  Pump();
  // The first track runs out: a real end of track.
  Advance(200000);
  EXPECT_EQ(window_.playNextCalls, 1);
}

TEST_F(ITunesPlayerTest, FailedCommandLosesNoLaterStop) {
  Track first;
  first.location = TrackLocation(1);
  Player().PlayTrack(first);
  Pump();
  Track missing;
  missing.location = "/music/not there.mp3";
  Player().PlayTrack(missing);  // refused: the playing track goes on
  EXPECT_FALSE(Ignoring());
  Advance(200000);
  EXPECT_EQ(window_.playNextCalls, 1);
}

TEST_F(ITunesPlayerTest, PlayMixPlaysTheFirstTrackOfItsPlaylist) {
  Player().Play();
  Pump();
  Player().NextTrack();
  Pump();
  Player().PlayMix(Mix(2, "Road Mix", 4));
  Pump();
  ASSERT_FALSE(window_.playing.empty());
  EXPECT_EQ(window_.playing.back().name, "Track 1");
  EXPECT_EQ(window_.playNextCalls, 0);
  Player().PlayMix(Mix(99, "Gone", 0));  // no such playlist: nothing happens
  EXPECT_FALSE(Ignoring());
  Pump();
  EXPECT_EQ(Model().Status().playlistId, 2);
}

TEST_F(ITunesPlayerTest, DisabledCallsThrowOneAndFailedCallsTwo) {
  Player().Play();
  Pump();
  Model().DisableCalls(pp::ITCOMDisabledReasonDialog);
  // Before the event arrives the refusal shows as a failed call.
  EXPECT_EQ(ThrownCode([&] { Player().IsStopped(); }), kPlayerCallFailed);
  EXPECT_EQ(ThrownCode([&] { Player().GetPlayerPosition(); }), kPlayerCallFailed);
  EXPECT_EQ(ThrownCode([&] { Player().NextTrack(); }), kPlayerCallFailed);
  EXPECT_FALSE(Ignoring());
  Pump();
  EXPECT_FALSE(iTunesAvailable);
  EXPECT_EQ(ThrownCode([&] { Player().IsStopped(); }), kPlayerUnavailable);
  EXPECT_EQ(ThrownCode([&] { Player().Stop(); }), kPlayerUnavailable);
  Track track;
  EXPECT_EQ(ThrownCode([&] { Player().GetCurrentTrack(track); }), kPlayerUnavailable);

  // The track ends while calls are off: nothing can be played next.
  Advance(200000);
  EXPECT_EQ(window_.playNextCalls, 0);

  Model().EnableCalls();
  Pump();
  EXPECT_TRUE(iTunesAvailable);
  EXPECT_NO_THROW(Player().Play());
}

TEST_F(ITunesPlayerTest, UnavailableFlagStopsCommandsBeforeAnyCall) {
  Player().Play();
  Pump();
  Advance(20000);
  iTunesAvailable = false;  // the player itself would still take calls
  Track second;
  second.location = TrackLocation(2);
  const Mix road(2, "Road Mix", 4);
  const std::function<void()> guarded[] = {[&] { Player().IsStopped(); },
                                           [&] { Player().Play(); },
                                           [&] { Player().PlayMix(road); },
                                           [&] { Player().PlayTrack(second); },
                                           [&] { Player().Stop(); },
                                           [&] { Player().NextTrack(); },
                                           [&] { Player().BackTrack(); },
                                           [&] {
                                             Track t;
                                             Player().GetCurrentTrack(t);
                                           }};
  for (const auto& call : guarded) EXPECT_EQ(ThrownCode(call), kPlayerUnavailable);
  EXPECT_FALSE(Ignoring());
  const pp::PlayerStatus status = Model().Status();
  EXPECT_EQ(status.state, pp::ITPlayerStatePlaying);
  EXPECT_EQ(status.playlistId, 1);
  ASSERT_TRUE(status.track.has_value());
  EXPECT_EQ(status.track->databaseId, 1);

  // These do not look at the flag.
  EXPECT_EQ(Player().GetPlayerPosition(), 20);
  Player().MinimizeITunes();
  EXPECT_TRUE(Model().Status().miniPlayer);
}

TEST_F(ITunesPlayerTest, QuitPromptReachesTheOwner) {
  Model().Quit();
  Pump();
  EXPECT_EQ(window_.quitCalls, 1);
}

TEST_F(ITunesPlayerTest, DestroyedPlayerGetsNoEvents) {
  Player().Play();
  player_.reset();
  Pump();
  Model().UserStop();
  Pump();
  EXPECT_TRUE(window_.playing.empty());
  EXPECT_EQ(window_.playNextCalls, 0);
}

TEST_F(ITunesPlayerTest, PlayerWithoutEventsReportsNothing) {
  RecordingWindow other;
  ITunesPlayer quiet(&other);
  ASSERT_TRUE(quiet.Connect(false));
  quiet.Play();
  Pump();
  Advance(200000);
  EXPECT_TRUE(other.playing.empty());
  EXPECT_EQ(other.playNextCalls, 0);
  EXPECT_EQ(window_.playing.size(), 2u);  // the advised player saw both tracks
  EXPECT_EQ(window_.playNextCalls, 1);
}

TEST_F(ITunesPlayerTest, MinimizeShrinksThePlayerWindow) {
  Player().MinimizeITunes();
  const pp::PlayerStatus status = Model().Status();
  EXPECT_TRUE(status.miniPlayer);
  EXPECT_FALSE(status.browserVisible);
  EXPECT_TRUE(status.browserMinimized);
}

TEST_F(ITunesPlayerTest, ConvertsRatingTimeAndLocation) {
  EXPECT_EQ(RatingText(0), "");
  EXPECT_EQ(RatingText(19), "0 out of 5");
  EXPECT_EQ(RatingText(20), "1 out of 5");
  EXPECT_EQ(RatingText(99), "4 out of 5");
  EXPECT_EQ(RatingText(100), "5 out of 5");
  EXPECT_EQ(RatingText(120), "5 out of 5");

  auto fake = std::make_shared<FakeTrack>();
  Track track;
  track.id = 5;
  track.enabled = false;
  ConvertITunesTrack(track, fake);
  EXPECT_EQ(track.length, 187);
  EXPECT_EQ(track.location, "/fake.mp3");
  EXPECT_EQ(track.playerTrackId, 77);
  EXPECT_EQ(track.id, 0);
  EXPECT_TRUE(track.enabled);

  fake->kind = pp::ITTrackKindCD;
  ConvertITunesTrack(track, fake);
  EXPECT_EQ(track.location, "/fake.mp3");

  fake->kind = pp::ITTrackKindURL;
  fake->time = "";
  fake->nameResult = E_FAIL;
  ConvertITunesTrack(track, fake);
  EXPECT_TRUE(track.location.empty());
  EXPECT_TRUE(track.name.empty());
  EXPECT_EQ(track.artist, "Fake Artist");
  EXPECT_EQ(track.length, Track().length);

  ConvertITunesTrack(track, nullptr);
  EXPECT_TRUE(track.artist.empty());
}

}  // namespace

// The event sink: each event id and its reaction on the player and its owner.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/ITunesEventHandler.h"
#include "core/ITunesPlayer.h"
#include "tests/core/PlayerTestSupport.h"

namespace {

using namespace zorva_test;

pp::ObjectIDRows Rows(int count) {
  pp::ObjectIDRows rows;
  for (int i = 0; i < count; ++i) rows.push_back({1, 2, i + 1, i + 1});
  return rows;
}

class ITunesEventHandlerTest : public PlayerFixture {
 protected:
  HRESULT Send(pp::DISPID id, std::vector<pp::EventArg> args = {}) {
    return player_.GetEventHandler().Invoke(id, args);
  }

  // Not connected: IsStopped answers "stopped" while calls are allowed.
  ITunesPlayer player_{&window_};
};

TEST_F(ITunesEventHandlerTest, SmallDatabaseChangesDoNotMarkTheLibrary) {
  libraryChanged = false;
  EXPECT_EQ(Send(pp::ITEventDatabaseChanged, {Rows(0), Rows(6)}), S_OK);
  EXPECT_FALSE(libraryChanged);
  Send(pp::ITEventDatabaseChanged, {Rows(0), Rows(7)});
  EXPECT_TRUE(libraryChanged);
  libraryChanged = false;
  Send(pp::ITEventDatabaseChanged, {Rows(1), Rows(0)});
  EXPECT_TRUE(libraryChanged);
  libraryChanged = false;
  Send(pp::ITEventDatabaseChanged, {});
  EXPECT_FALSE(libraryChanged);
}

TEST_F(ITunesEventHandlerTest, StopAfterOwnCommandIsConsumedOnce) {
  player_.GetEventHandler().ignoreNextStop = true;
  Send(pp::ITEventPlayerStop, {std::monostate{}});
  EXPECT_EQ(window_.playNextCalls, 0);
  EXPECT_FALSE(player_.GetEventHandler().ignoreNextStop);
  Send(pp::ITEventPlayerStop, {std::monostate{}});
  EXPECT_EQ(window_.playNextCalls, 1);
}

TEST_F(ITunesEventHandlerTest, StopWhileCallsAreOffPlaysNothing) {
  Send(pp::ITEventCOMCallsDisabled, {long{pp::ITCOMDisabledReasonDialog}});
  EXPECT_FALSE(iTunesAvailable);
  Send(pp::ITEventPlayerStop, {std::monostate{}});
  EXPECT_EQ(window_.playNextCalls, 0);
  Send(pp::ITEventCOMCallsEnabled);
  EXPECT_TRUE(iTunesAvailable);
  Send(pp::ITEventCOMCallsDisabled, {long{pp::ITCOMDisabledReasonOther}});
  Send(pp::ITEventUserInterfaceEnabled);
  EXPECT_TRUE(iTunesAvailable);
  Send(pp::ITEventPlayerStop, {std::monostate{}});
  EXPECT_EQ(window_.playNextCalls, 1);
}

TEST_F(ITunesEventHandlerTest, StopWhoseStateCannotBeReadPlaysNothing) {
  StartModel(MakeLibrary(2, 90));
  std::shared_ptr<pp::IiTunes> real;
  ASSERT_EQ(pp::CoCreateITunesApp(&real), S_OK);
  auto scripted = std::make_shared<ScriptedApp>(real);
  ITunesPlayer player(&window_, scripted);
  std::vector<pp::EventArg> stop{std::monostate{}};
  scripted->stateResult = pp::RPC_E_DISCONNECTED;
  player.GetEventHandler().Invoke(pp::ITEventPlayerStop, stop);
  EXPECT_EQ(window_.playNextCalls, 0);
  EXPECT_TRUE(iTunesAvailable);
  scripted->stateResult = S_OK;
  player.GetEventHandler().Invoke(pp::ITEventPlayerStop, stop);
  EXPECT_EQ(window_.playNextCalls, 1);
}

TEST_F(ITunesEventHandlerTest, PlayEventReportsOnlyTracks) {
  Send(pp::ITEventPlayerPlay, {std::monostate{}});
  Send(pp::ITEventPlayerPlay, {long{3}});
  EXPECT_TRUE(window_.playing.empty());

  // A real track object, from the in-process player.
  pp::LibraryData library = MakeLibrary(2, 90);
  StartModel(library);
  std::shared_ptr<pp::IiTunes> app;
  ASSERT_EQ(pp::CoCreateITunesApp(&app), S_OK);
  std::shared_ptr<pp::IITSource> source;
  app->get_LibrarySource(&source);
  Send(pp::ITEventPlayerPlay, {std::static_pointer_cast<pp::IITObject>(source)});
  EXPECT_TRUE(window_.playing.empty());

  std::shared_ptr<pp::IITPlaylist> main;
  app->get_LibraryPlaylist(&main);
  std::shared_ptr<pp::IITTrackCollection> tracks;
  main->get_Tracks(&tracks);
  std::shared_ptr<pp::IITTrack> second;
  tracks->get_Item(2, &second);
  Send(pp::ITEventPlayerPlay, {std::static_pointer_cast<pp::IITObject>(second)});
  ASSERT_EQ(window_.playing.size(), 1u);
  EXPECT_EQ(window_.playing[0].name, "Track 2");
  EXPECT_EQ(window_.playing[0].length, 90);
  EXPECT_EQ(window_.playing[0].location, TrackLocation(2));
}

TEST_F(ITunesEventHandlerTest, QuitPromptClosesTheOwnerAndQuittingDoesNothing) {
  Send(pp::ITEventQuitting);
  EXPECT_EQ(window_.quitCalls, 0);
  Send(pp::ITEventAboutToPromptUserToQuit);
  EXPECT_EQ(window_.quitCalls, 1);
}

TEST_F(ITunesEventHandlerTest, OtherEventsChangeNothing) {
  libraryChanged = false;
  EXPECT_EQ(Send(pp::ITEventPlayerPlayingTrackChanged, {std::monostate{}}), S_OK);
  EXPECT_EQ(Send(pp::ITEventSoundVolumeChanged, {long{40}}), S_OK);
  EXPECT_NE(Send(42), S_OK);
  EXPECT_EQ(window_.playNextCalls, 0);
  EXPECT_TRUE(window_.playing.empty());
  EXPECT_FALSE(libraryChanged);
  EXPECT_TRUE(iTunesAvailable);
}

TEST_F(ITunesEventHandlerTest, EventsWithoutOwnerAreHarmless) {
  ITunesPlayer ownerless(nullptr);
  std::vector<pp::EventArg> none;
  EXPECT_EQ(ownerless.GetEventHandler().Invoke(pp::ITEventPlayerStop, none), S_OK);
  EXPECT_EQ(ownerless.GetEventHandler().Invoke(pp::ITEventAboutToPromptUserToQuit, none), S_OK);
}

}  // namespace

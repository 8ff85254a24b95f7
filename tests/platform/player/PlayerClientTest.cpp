#include <gtest/gtest.h>

#include "platform/kernel/Clock.h"
#include "platform/player/ITunes.h"
#include "platform/player/standin/PlayerModel.h"
#include "tests/platform/player/PlayerTestSupport.h"

namespace {

using namespace platform::player;
using player_test::RecordingSink;

class PlayerClientTest : public ::testing::Test {
 protected:
  PlayerClientTest() : scoped_(clock_), model_(player_test::SmallLibrary()), guard_(model_) {
    EXPECT_EQ(CoCreateITunesApp(&app_), S_OK);
  }

  std::shared_ptr<IITPlaylist> PlaylistAt(long index) {
    std::shared_ptr<IITSource> source;
    std::shared_ptr<IITPlaylistCollection> playlists;
    std::shared_ptr<IITPlaylist> playlist;
    EXPECT_EQ(app_->get_LibrarySource(&source), S_OK);
    EXPECT_EQ(source->get_Playlists(&playlists), S_OK);
    EXPECT_EQ(playlists->get_Item(index, &playlist), S_OK);
    return playlist;
  }
  std::shared_ptr<IITTrack> TrackAt(const std::shared_ptr<IITPlaylist>& playlist, long index) {
    std::shared_ptr<IITTrackCollection> tracks;
    std::shared_ptr<IITTrack> track;
    EXPECT_EQ(playlist->get_Tracks(&tracks), S_OK);
    EXPECT_EQ(tracks->get_Item(index, &track), S_OK);
    return track;
  }
  DWORD Advise(RecordingSink& sink) {
    auto container = QueryInterface<IConnectionPointContainer>(app_);
    EXPECT_TRUE(container);
    EXPECT_EQ(container->FindConnectionPoint(DIID_IiTunesEvents, &point_), S_OK);
    DWORD cookie = 0;
    EXPECT_EQ(point_->Advise(&sink, &cookie), S_OK);
    return cookie;
  }

  platform::ManualClock clock_;
  platform::ScopedClock scoped_;
  PlayerModel model_;
  ScopedInProcessPlayer guard_;
  std::shared_ptr<IiTunes> app_;
  std::shared_ptr<IConnectionPoint> point_;
};

TEST_F(PlayerClientTest, ObjectsAnswerOnlyTheInterfacesTheyHave) {
  ASSERT_TRUE(app_);
  auto library = PlaylistAt(1);
  auto four = PlaylistAt(2);
  EXPECT_FALSE(QueryInterface<IITUserPlaylist>(library));
  auto user = QueryInterface<IITUserPlaylist>(four);
  ASSERT_TRUE(user);
  ITUserPlaylistSpecialKind kind = ITUserPlaylistSpecialKindFolder;
  ASSERT_EQ(user->get_SpecialKind(&kind), S_OK);
  EXPECT_EQ(kind, ITUserPlaylistSpecialKindNone);
  bool smart = true;
  ASSERT_EQ(user->get_Smart(&smart), S_OK);
  EXPECT_FALSE(smart);
  std::shared_ptr<IITUserPlaylist> parent;
  EXPECT_EQ(user->get_Parent(&parent), S_FALSE);
  EXPECT_FALSE(parent);

  auto file = QueryInterface<IITFileOrCDTrack>(TrackAt(library, 2));
  ASSERT_TRUE(file);
  std::string text;
  ASSERT_EQ(file->get_Location(&text), S_OK);
  EXPECT_EQ(text, "/music/track2.mp3");
  ASSERT_EQ(file->get_Time(&text), S_OK);
  EXPECT_EQ(text, "3:20");
  long value = 0;
  ASSERT_EQ(file->get_Rating(&value), S_OK);
  EXPECT_EQ(value, 40);
  ASSERT_EQ(file->get_TrackDatabaseID(&value), S_OK);
  EXPECT_EQ(value, 2);
  ITTrackKind trackKind = ITTrackKindUnknown;
  ASSERT_EQ(file->get_Kind(&trackKind), S_OK);
  EXPECT_EQ(trackKind, ITTrackKindFile);
  auto stream = TrackAt(library, 5);
  ASSERT_TRUE(stream);
  EXPECT_FALSE(QueryInterface<IITFileOrCDTrack>(stream));

  std::shared_ptr<IITPlaylist> owner;
  ASSERT_EQ(TrackAt(four, 1)->get_Playlist(&owner), S_OK);
  ASSERT_EQ(owner->get_Name(&text), S_OK);
  EXPECT_EQ(text, "Four");
  std::shared_ptr<IITTrack> none;
  EXPECT_EQ(app_->get_CurrentTrack(&none), S_FALSE);
  EXPECT_FALSE(none);
  std::shared_ptr<IITTrackCollection> tracks;
  four->get_Tracks(&tracks);
  EXPECT_EQ(tracks->get_Item(9, &none), E_INVALIDARG);
}

TEST_F(PlayerClientTest, GetITObjectByIDFindsObjectsAndStaleOnesFail) {
  auto four = PlaylistAt(2);
  long source = 0, playlist = 0;
  four->get_SourceID(&source);
  four->get_PlaylistID(&playlist);
  std::shared_ptr<IITObject> object;
  ASSERT_EQ(app_->GetITObjectByID(source, playlist, 0, 0, &object), S_OK);
  auto found = QueryInterface<IITPlaylist>(object);
  ASSERT_TRUE(found);
  std::string name;
  found->get_Name(&name);
  EXPECT_EQ(name, "Four");
  EXPECT_EQ(app_->GetITObjectByID(source, 4242, 0, 0, &object), S_FALSE);
  EXPECT_FALSE(object);

  auto track = TrackAt(four, 1);
  ASSERT_EQ(track->Delete(), S_OK);
  EXPECT_EQ(track->get_Name(&name), ITUNES_E_OBJECTDELETED);
  EXPECT_EQ(track->Play(), ITUNES_E_OBJECTDELETED);
}

TEST_F(PlayerClientTest, EventsArriveOnTheAdvisingThreadsQueue) {
  RecordingSink sink;
  Advise(sink);
  ASSERT_EQ(PlaylistAt(2)->PlayFirstTrack(), S_OK);
  EXPECT_TRUE(sink.events.empty());  // nothing before the queue is pumped
  platform::PumpMessages();
  ASSERT_EQ(sink.Ids(), std::vector<DISPID>{ITEventPlayerPlay});
  auto track = QueryInterface<IITTrack>(std::get<std::shared_ptr<IITObject>>(sink.events[0].second[0]));
  ASSERT_TRUE(track);
  EXPECT_EQ(sink.TrackName(0), "Track 1");

  clock_.Advance(100000);
  model_.Tick();
  platform::PumpMessages();
  ASSERT_EQ(sink.Ids(), (std::vector<DISPID>{ITEventPlayerPlay, ITEventPlayerStop, ITEventPlayerPlay}));
  EXPECT_EQ(sink.TrackName(1), "Track 1");
  EXPECT_EQ(sink.TrackName(2), "Track 2");
  long position = -1;
  ASSERT_EQ(app_->get_PlayerPosition(&position), S_OK);
  EXPECT_EQ(position, 0);
}

TEST_F(PlayerClientTest, DatabaseChangesCarryTheirRows) {
  RecordingSink sink;
  Advise(sink);
  std::shared_ptr<IITPlaylist> created;
  ASSERT_EQ(app_->CreatePlaylist("Fresh", &created), S_OK);
  auto fresh = QueryInterface<IITUserPlaylist>(created);
  ASSERT_TRUE(fresh);
  ASSERT_EQ(fresh->AddFiles({"/music/track1.mp3", "/music/track2.mp3"}), S_OK);
  std::shared_ptr<IITTrack> added;
  ASSERT_EQ(fresh->AddTrack(TrackAt(PlaylistAt(1), 3), &added), S_OK);
  ASSERT_TRUE(added);
  platform::PumpMessages();
  ASSERT_EQ(sink.events.size(), 3u);
  const auto& changed = std::get<ObjectIDRows>(sink.events[1].second[1]);
  EXPECT_EQ(changed.size(), 3u);  // two entries and the playlist
  EXPECT_TRUE(std::get<ObjectIDRows>(sink.events[1].second[0]).empty());
  std::shared_ptr<IITTrackCollection> tracks;
  long count = 0;
  fresh->get_Tracks(&tracks);
  tracks->get_Count(&count);
  EXPECT_EQ(count, 3);
}

TEST_F(PlayerClientTest, UnadvisedSinksGetNothingMore) {
  RecordingSink sink;
  DWORD cookie = Advise(sink);
  ASSERT_EQ(app_->Play(), S_OK);
  ASSERT_EQ(point_->Unadvise(cookie), S_OK);
  platform::PumpMessages();
  EXPECT_TRUE(sink.events.empty());
  EXPECT_EQ(point_->Unadvise(cookie), CONNECT_E_NOCONNECTION);
}

TEST_F(PlayerClientTest, DisabledCallsFailAndTheEventsSayWhy) {
  RecordingSink sink;
  Advise(sink);
  model_.DisableCalls(ITCOMDisabledReasonDialog);
  ITPlayerState state;
  EXPECT_EQ(app_->get_PlayerState(&state), RPC_E_CALL_REJECTED);
  EXPECT_EQ(app_->Play(), RPC_E_CALL_REJECTED);
  EXPECT_EQ(app_->get_LibrarySource(nullptr), E_POINTER);
  model_.EnableCalls();
  platform::PumpMessages();
  ASSERT_EQ(sink.Ids(), (std::vector<DISPID>{ITEventCOMCallsDisabled, ITEventCOMCallsEnabled}));
  EXPECT_EQ(std::get<long>(sink.events[0].second[0]), ITCOMDisabledReasonDialog);
  EXPECT_EQ(app_->get_PlayerState(&state), S_OK);
  EXPECT_EQ(state, ITPlayerStateStopped);
}

TEST_F(PlayerClientTest, BrowserWindowAndVersion) {
  std::shared_ptr<IITBrowserWindow> window;
  ASSERT_EQ(app_->get_BrowserWindow(&window), S_OK);
  ASSERT_EQ(window->put_MiniPlayer(true), S_OK);
  ASSERT_EQ(window->put_Visible(false), S_OK);
  ASSERT_EQ(window->put_Minimized(true), S_OK);
  ASSERT_EQ(window->put_SelectedPlaylist(PlaylistAt(2)), S_OK);
  EXPECT_EQ(window->put_SelectedPlaylist(nullptr), E_INVALIDARG);
  const PlayerStatus status = model_.Status();
  EXPECT_TRUE(status.miniPlayer);
  EXPECT_FALSE(status.browserVisible);
  EXPECT_TRUE(status.browserMinimized);
  EXPECT_EQ(status.selectedPlaylistId, 11);

  bool compatible = false;
  ASSERT_EQ(app_->CheckVersion(1, 7, &compatible), S_OK);
  EXPECT_TRUE(compatible);
  model_.SetVersion(1, 6);
  app_->CheckVersion(1, 7, &compatible);
  EXPECT_FALSE(compatible);

  auto container = QueryInterface<IConnectionPointContainer>(app_);
  std::shared_ptr<IConnectionPoint> point;
  EXPECT_EQ(container->FindConnectionPoint(IID{1, 2, 3, {}}, &point), CONNECT_E_NOCONNECTION);
}

TEST_F(PlayerClientTest, FoldersHoldPlaylists) {
  std::shared_ptr<IITPlaylist> folderPlaylist, inside, plain;
  ASSERT_EQ(app_->CreateFolder("Zorva Generated", &folderPlaylist), S_OK);
  auto folder = QueryInterface<IITUserPlaylist>(folderPlaylist);
  ASSERT_TRUE(folder);
  ASSERT_EQ(folder->CreatePlaylist("Monday", &inside), S_OK);
  std::shared_ptr<IITUserPlaylist> parent;
  ASSERT_EQ(QueryInterface<IITUserPlaylist>(inside)->get_Parent(&parent), S_OK);
  long a = 0, b = 0;
  parent->get_PlaylistID(&a);
  folder->get_PlaylistID(&b);
  EXPECT_EQ(a, b);
  EXPECT_EQ(QueryInterface<IITUserPlaylist>(PlaylistAt(2))->CreatePlaylist("x", &plain), E_FAIL);
  EXPECT_FALSE(plain);
}

TEST_F(PlayerClientTest, ObjectsFailOnceTheInProcessPlayerIsGone) {
  PlayerModel other(player_test::SmallLibrary());
  std::shared_ptr<IiTunes> app;
  {
    ScopedInProcessPlayer inner(other);
    EXPECT_TRUE(IsPlayerRunning());
    ASSERT_EQ(CoCreateITunesApp(&app), S_OK);
    EXPECT_EQ(app->Play(), S_OK);
    EXPECT_EQ(other.Status().state, ITPlayerStatePlaying);
    EXPECT_EQ(model_.Status().state, ITPlayerStateStopped);
    other.Quit();
    EXPECT_FALSE(IsPlayerRunning());
  }
  EXPECT_EQ(app->Play(), RPC_E_DISCONNECTED);
  EXPECT_TRUE(IsPlayerRunning());  // the outer player is back
}

}  // namespace

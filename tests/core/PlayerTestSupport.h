// The in-process media player on a manual clock, a recording owner window and
// a music database in a temporary folder, for the player tests.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/ITunesPlayer.h"
#include "core/MusicDB.h"
#include "core/Track.h"
#include "platform/kernel/Clock.h"
#include "platform/kernel/Messages.h"
#include "platform/player/ITunes.h"
#include "platform/player/standin/Library.h"
#include "platform/player/standin/PlayerModel.h"
#include "tests/core/DatabaseTestSupport.h"
#include "windows/MainWindow.h"

namespace zorva_test {

namespace pp = platform::player;

// Records what the player hands its owner.
class RecordingWindow : public CMainWindow {
 public:
  RecordingWindow() : CMainWindow(FramelessWindowConfig{}, DialogTemplate{}, 0) {}

  void PlayNext() override { ++playNextCalls; }
  void OnTrackPlaying(const Track& track) override { playing.push_back(track); }
  void SetScanStatus(const std::string& status) override { statuses.push_back(status); }
  void OnPlayerQuit() override { ++quitCalls; }
  void OnPlayerPaused(bool paused) override { pausedElsewhere.push_back(paused); }

  int playNextCalls = 0;
  std::vector<bool> pausedElsewhere;
  int quitCalls = 0;
  std::vector<Track> playing;
  std::vector<std::string> statuses;
};

inline std::string TrackLocation(long databaseId) {
  return "/music/Test Artist/Test Album/" + std::to_string(databaseId) + ".mp3";
}

inline pp::TrackData MakeTrackData(long databaseId, long seconds, long rating = 0) {
  pp::TrackData t;
  t.databaseId = databaseId;
  t.name = "Track " + std::to_string(databaseId);
  t.artist = "Artist " + std::to_string(databaseId % 3);
  t.album = "Album " + std::to_string(databaseId % 4);
  t.genre = "Genre " + std::to_string(databaseId % 2);
  t.location = TrackLocation(databaseId);
  t.rating = rating;
  t.seconds = seconds;
  return t;
}

// A library of `trackCount` tracks (ids 1.., `seconds` long each) with its
// library playlist first (playlist id 1).
inline pp::LibraryData MakeLibrary(int trackCount, long seconds = 200) {
  pp::LibraryData library;
  pp::PlaylistData main;
  main.playlistId = 1;
  main.name = "Library";
  for (int i = 1; i <= trackCount; ++i) {
    library.tracks.push_back(MakeTrackData(i, seconds));
    main.trackIds.push_back(i);
  }
  library.playlists.push_back(main);
  return library;
}

// The library's tracks stored in `target`, as a scan stores them.
inline void AddTracks(MusicDB& target, const pp::LibraryData& library) {
  for (const pp::TrackData& source : library.tracks) {
    Track track;
    track.name = source.name;
    track.artist = source.artist;
    track.album = source.album;
    track.genre = source.genre;
    track.location = source.location;
    track.length = static_cast<int>(source.seconds);
    target.AddOrUpdateTrack(track);
  }
}

// Appends a playlist of the given tracks.
inline pp::PlaylistData& AddPlaylist(pp::LibraryData& library, long playlistId, const std::string& name,
                                     std::vector<long> trackIds) {
  pp::PlaylistData p;
  p.playlistId = playlistId;
  p.name = name;
  p.trackIds = std::move(trackIds);
  library.playlists.push_back(p);
  return library.playlists.back();
}

// What a call threw as the player's failure number; 0 when it threw none.
inline int ThrownCode(const std::function<void()>& call) {
  try {
    call();
  } catch (int code) {
    return code;
  }
  return 0;
}

// The in-process player's playlists of that name, in the library's order.
inline std::vector<std::shared_ptr<pp::IITPlaylist>> PlayerPlaylistsNamed(const std::string& name) {
  std::vector<std::shared_ptr<pp::IITPlaylist>> named;
  std::shared_ptr<pp::IiTunes> app;
  pp::CoCreateITunesApp(&app);
  std::shared_ptr<pp::IITSource> source;
  app->get_LibrarySource(&source);
  std::shared_ptr<pp::IITPlaylistCollection> playlists;
  source->get_Playlists(&playlists);
  long count = 0;
  playlists->get_Count(&count);
  for (long i = 1; i <= count; ++i) {
    std::shared_ptr<pp::IITPlaylist> playlist;
    playlists->get_Item(i, &playlist);
    std::string playlistName;
    playlist->get_Name(&playlistName);
    if (playlistName == name) named.push_back(playlist);
  }
  return named;
}

inline std::vector<long> Range(long first, long last) {
  std::vector<long> ids;
  for (long i = first; i <= last; ++i) ids.push_back(i);
  return ids;
}

// An application object that answers through a real one, except where the
// test scripts a player state or a failing playlist collection.
class ScriptedApp final : public pp::IiTunes {
 public:
  explicit ScriptedApp(std::shared_ptr<pp::IiTunes> real) : real_(std::move(real)) {}

  long forcedState = -1;                     // >= 0: the player state answered
  HRESULT stateResult = S_OK;                // a failure: the player state cannot be read
  bool noPlaylists = false;                  // the library source has no playlist collection
  long failingPlaylistItem = 0;              // > 0: that item of the collection cannot be had
  bool noLibraryPlaylist = false;            // the library playlist cannot be had
  std::function<void(long)> onPlaylistItem;  // runs before each item of the collection is had

  HRESULT BackTrack() override { return real_->BackTrack(); }
  HRESULT NextTrack() override { return real_->NextTrack(); }
  HRESULT Play() override { return real_->Play(); }
  HRESULT PlayFile(const std::string& path) override { return real_->PlayFile(path); }
  HRESULT Stop() override { return real_->Stop(); }
  HRESULT Pause() override { return real_->Pause(); }
  HRESULT CheckVersion(long major, long minor, bool* compatible) override {
    return real_->CheckVersion(major, minor, compatible);
  }
  HRESULT GetITObjectByID(long sourceID, long playlistID, long trackID, long databaseID,
                          std::shared_ptr<pp::IITObject>* object) override {
    return real_->GetITObjectByID(sourceID, playlistID, trackID, databaseID, object);
  }
  HRESULT CreatePlaylist(const std::string& name, std::shared_ptr<pp::IITPlaylist>* playlist) override {
    return real_->CreatePlaylist(name, playlist);
  }
  HRESULT get_PlayerState(pp::ITPlayerState* state) override {
    if (FAILED(stateResult)) return stateResult;
    if (forcedState < 0) return real_->get_PlayerState(state);
    *state = static_cast<pp::ITPlayerState>(forcedState);
    return S_OK;
  }
  HRESULT get_PlayerPosition(long* seconds) override { return real_->get_PlayerPosition(seconds); }
  HRESULT get_BrowserWindow(std::shared_ptr<pp::IITBrowserWindow>* window) override {
    return real_->get_BrowserWindow(window);
  }
  HRESULT get_LibrarySource(std::shared_ptr<pp::IITSource>* source) override {
    std::shared_ptr<pp::IITSource> real;
    HRESULT hr = real_->get_LibrarySource(&real);
    *source = real ? std::make_shared<Source>(*this, real) : nullptr;
    return hr;
  }
  HRESULT get_LibraryPlaylist(std::shared_ptr<pp::IITPlaylist>* playlist) override {
    if (noLibraryPlaylist) {
      playlist->reset();
      return pp::RPC_E_DISCONNECTED;
    }
    return real_->get_LibraryPlaylist(playlist);
  }
  HRESULT get_CurrentTrack(std::shared_ptr<pp::IITTrack>* track) override { return real_->get_CurrentTrack(track); }
  HRESULT CreateFolder(const std::string& name, std::shared_ptr<pp::IITPlaylist>* folder) override {
    return real_->CreateFolder(name, folder);
  }

 private:
  class Collection final : public pp::IITPlaylistCollection {
   public:
    Collection(ScriptedApp& app, std::shared_ptr<pp::IITPlaylistCollection> real) : app_(app), real_(std::move(real)) {}
    HRESULT get_Count(long* count) override { return real_->get_Count(count); }
    HRESULT get_Item(long index, std::shared_ptr<pp::IITPlaylist>* playlist) override {
      if (app_.onPlaylistItem) app_.onPlaylistItem(index);
      if (index == app_.failingPlaylistItem) {
        playlist->reset();
        return pp::RPC_E_DISCONNECTED;
      }
      return real_->get_Item(index, playlist);
    }

   private:
    ScriptedApp& app_;
    std::shared_ptr<pp::IITPlaylistCollection> real_;
  };

  class Source final : public pp::IITSource {
   public:
    Source(ScriptedApp& app, std::shared_ptr<pp::IITSource> real) : app_(app), real_(std::move(real)) {}
    HRESULT get_Name(std::string* name) override { return real_->get_Name(name); }
    HRESULT get_SourceID(long* id) override { return real_->get_SourceID(id); }
    HRESULT get_PlaylistID(long* id) override { return real_->get_PlaylistID(id); }
    HRESULT get_TrackDatabaseID(long* id) override { return real_->get_TrackDatabaseID(id); }
    HRESULT get_Playlists(std::shared_ptr<pp::IITPlaylistCollection>* playlists) override {
      if (app_.noPlaylists) {
        playlists->reset();
        return S_FALSE;
      }
      std::shared_ptr<pp::IITPlaylistCollection> real;
      HRESULT hr = real_->get_Playlists(&real);
      *playlists = real ? std::make_shared<Collection>(app_, real) : nullptr;
      return hr;
    }

   private:
    ScriptedApp& app_;
    std::shared_ptr<pp::IITSource> real_;
  };

  std::shared_ptr<pp::IiTunes> real_;
};

// The model behind CoCreateITunesApp, on a manual clock, with an owner
// window that records the player's calls.
class PlayerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    iTunesAvailable = true;
    libraryChanged = true;
  }
  void TearDown() override {
    iTunesAvailable = true;
    libraryChanged = true;
  }

  void StartModel(pp::LibraryData library) {
    binding_.reset();
    model_ = std::make_unique<pp::PlayerModel>(std::move(library));
    binding_ = std::make_unique<pp::ScopedInProcessPlayer>(*model_);
  }
  pp::PlayerModel& Model() { return *model_; }

  // Lets time pass in the player, then delivers the events it raised.
  void Advance(platform::Millis ms) {
    clock_.Advance(ms);
    model_->Tick();
    platform::PumpMessages();
  }
  void Pump() { platform::PumpMessages(); }

  // The playlist's track names in play order, read through the automation objects.
  std::vector<std::string> PlaylistTrackNames(long playlistId) {
    std::vector<std::string> names;
    std::shared_ptr<pp::IiTunes> app;
    pp::CoCreateITunesApp(&app);
    std::shared_ptr<pp::IITSource> source;
    app->get_LibrarySource(&source);
    long sourceId = 0;
    source->get_SourceID(&sourceId);
    std::shared_ptr<pp::IITObject> object;
    app->GetITObjectByID(sourceId, playlistId, 0, 0, &object);
    auto playlist = pp::QueryInterface<pp::IITPlaylist>(object);
    if (!playlist) return names;
    std::shared_ptr<pp::IITTrackCollection> tracks;
    playlist->get_Tracks(&tracks);
    long count = 0;
    tracks->get_Count(&count);
    for (long i = 1; i <= count; ++i) {
      std::shared_ptr<pp::IITTrack> track;
      tracks->get_ItemByPlayOrder(i, &track);
      std::string name;
      track->get_Name(&name);
      names.push_back(name);
    }
    return names;
  }

  platform::ManualClock clock_;
  platform::ScopedClock scopedClock_{clock_};
  RecordingWindow window_;
  std::unique_ptr<pp::PlayerModel> model_;
  std::unique_ptr<pp::ScopedInProcessPlayer> binding_;
};

// A music database of its own in a temporary folder, installed as theMusicDB.
class TestMusicDB {
 public:
  TestMusicDB() : db_(folder_.File("music.db")), scoped_(db_) {}
  MusicDB& DB() { return db_; }

 private:
  TempFolder folder_;
  MusicDB db_;
  ScopedMusicDB scoped_;
};

inline std::vector<std::string> TrackNames(std::initializer_list<int> ids) {
  std::vector<std::string> names;
  for (int id : ids) names.push_back("Track " + std::to_string(id));
  return names;
}

}  // namespace zorva_test

// The application object on MPD and what it hands out (the source, its
// playlists, the connection point, the window), and the connection made for
// it; the session, objects and glue are in the other Mpd*.cpp files.
#include "platform/player/mpd/MpdPlayer.h"

#include <mpd/client.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/player/mpd/MpdClient.h"
#include "platform/player/mpd/MpdObjects.h"
#include "platform/player/mpd/MpdSession.h"
#include "platform/shell/Shell.h"

namespace platform::player {

namespace mpd {

// The user's data folder, without its final "/".
std::string DataFolder() {
  const std::string folder = platform::shell::DataFolder();
  return folder.substr(0, folder.size() - 1);
}

namespace {

class PlaylistCollection final : public IITPlaylistCollection {
 public:
  PlaylistCollection(std::shared_ptr<Session> session, std::vector<std::pair<long, std::string>> playlists)
      : session_(std::move(session)), playlists_(std::move(playlists)) {}
  HRESULT get_Count(long* count) override { return Out(count, static_cast<long>(playlists_.size()) + 1); }
  HRESULT get_Item(long index, std::shared_ptr<IITPlaylist>* playlist) override {
    if (!playlist) return E_POINTER;
    playlist->reset();
    if (index < 1 || index > static_cast<long>(playlists_.size()) + 1) return E_INVALIDARG;
    if (index == 1) return OutObject(playlist, MakePlaylist(session_, kLibraryPlaylistId, ""));
    const auto& [id, name] = playlists_[static_cast<std::size_t>(index - 2)];
    return OutObject(playlist, MakePlaylist(session_, id, name));
  }

 private:
  std::shared_ptr<Session> session_;
  std::vector<std::pair<long, std::string>> playlists_;
};

class SourceObject final : public Object<IITSource> {
 public:
  using Object::Object;
  HRESULT get_Name(std::string* name) override { return Out(name, std::string("Library")); }
  HRESULT get_SourceID(long* id) override { return Out(id, kSourceId); }
  HRESULT get_PlaylistID(long* id) override { return Out(id, 0L); }
  HRESULT get_TrackDatabaseID(long* id) override { return Out(id, 0L); }
  HRESULT get_Playlists(std::shared_ptr<IITPlaylistCollection>* playlists) override {
    if (!playlists) return E_POINTER;
    playlists->reset();
    std::vector<std::pair<long, std::string>> stored;
    if (HRESULT hr = session_->StoredPlaylists(&stored); FAILED(hr)) return hr;
    *playlists = std::make_shared<PlaylistCollection>(session_, std::move(stored));
    return S_OK;
  }
};

// MPD has no window of its own to arrange.
class BrowserWindow final : public IITBrowserWindow {
 public:
  HRESULT put_Visible(bool) override { return S_OK; }
  HRESULT put_Minimized(bool) override { return S_OK; }
  HRESULT put_MiniPlayer(bool) override { return S_OK; }
  HRESULT put_SelectedPlaylist(const std::shared_ptr<IITPlaylist>& playlist) override {
    return playlist ? S_OK : E_INVALIDARG;
  }
};

class ConnectionPoint final : public IConnectionPoint {
 public:
  explicit ConnectionPoint(std::shared_ptr<Session> session) : session_(std::move(session)) {}
  HRESULT Advise(IiTunesEvents* sink, DWORD* cookie) override {
    if (!sink || !cookie) return E_POINTER;
    return session_->Advise(sink, cookie);
  }
  HRESULT Unadvise(DWORD cookie) override { return session_->Unadvise(cookie); }

 private:
  std::shared_ptr<Session> session_;
};

class App final : public IiTunes, public IConnectionPointContainer {
 public:
  explicit App(std::shared_ptr<Session> session) : session_(std::move(session)) {}

  HRESULT BackTrack() override {
    return session_->Transport([](mpd_connection* c) { return mpd_run_previous(c); });
  }
  HRESULT NextTrack() override {
    return session_->Transport([](mpd_connection* c) { return mpd_run_next(c); });
  }
  HRESULT Stop() override {
    return session_->Transport([](mpd_connection* c) { return mpd_run_stop(c); });
  }
  // MPD's pause keeps the place; only a playing MPD is paused (a stopped one
  // would start).
  HRESULT Pause() override {
    return session_->Transport([](mpd_connection* c) {
      MpdStatus statusOwner(mpd_run_status(c));
      mpd_status* status = statusOwner.get();
      if (!status) return false;
      const bool playing = mpd_status_get_state(status) == MPD_STATE_PLAY;
      statusOwner.reset();
      return !playing || mpd_run_pause(c, true);
    });
  }

  HRESULT Play() override {
    return session_->Transport([](mpd_connection* c) {
      MpdStatus statusOwner(mpd_run_status(c));
      mpd_status* status = statusOwner.get();
      if (!status) return false;
      const mpd_state state = mpd_status_get_state(status);
      const unsigned length = mpd_status_get_queue_length(status);
      statusOwner.reset();
      if (state == MPD_STATE_PAUSE) return mpd_run_pause(c, false);
      if (state == MPD_STATE_PLAY) return true;
      if (length == 0 && !mpd_run_add(c, "")) return false;
      return mpd_run_play(c);
    });
  }

  // One file: a queue of that file alone, which stops at its end. When it
  // is the file held next and MPD has just gone on to it, it plays on.
  HRESULT PlayFile(const std::string& filePath) override {
    const std::string uri = session_->UriOf(filePath);
    const unsigned held = session_->TakeHeld();
    const HRESULT hr = session_->Transport([&](mpd_connection* c) {
      if (held != 0) {
        MpdStatus statusOwner(mpd_run_status(c));
        mpd_status* status = statusOwner.get();
        if (!status) return false;
        const bool reached = mpd_status_get_state(status) == MPD_STATE_PLAY && mpd_status_get_song_pos(status) > 0 &&
                             static_cast<unsigned>(mpd_status_get_song_id(status)) == held;
        const auto position = static_cast<unsigned>(std::max(0, mpd_status_get_song_pos(status)));
        statusOwner.reset();
        MpdSong songOwner(reached ? UntaggedSong(c, mpd_send_current_song) : nullptr);
        mpd_song* song = songOwner.get();
        const bool same = song && uri == mpd_song_get_uri(song);
        if (song) songOwner.reset();
        if (same) return mpd_run_delete_range(c, 0, position);
        if (mpd_connection_get_error(c) != MPD_ERROR_SUCCESS) return false;
      }
      return mpd_run_clear(c) && mpd_run_add(c, uri.c_str()) && mpd_run_repeat(c, false) && mpd_run_single(c, false) &&
             mpd_run_play_pos(c, 0);
    });
    if (hr != RPC_E_DISCONNECTED && session_->PassOverUndecodable(uri)) return S_OK;
    return hr;
  }

  // Holds the file that is to play next behind the one file playing, so MPD
  // goes on to it without closing its output (no silence between them);
  // an empty path holds nothing. Only the queue of one file played here is
  // touched, and no event comes of it.
  HRESULT QueueNextFile(const std::string& filePath) override {
    const std::string uri = filePath.empty() ? std::string() : session_->UriOf(filePath);
    return session_->Run([&](mpd_connection* c) {
      MpdStatus statusOwner(mpd_run_status(c));
      mpd_status* status = statusOwner.get();
      if (!status) return false;
      // Whether it plays yet or not: MPD may take a moment to start it.
      const bool first = mpd_status_get_song_pos(status) == 0 && !mpd_status_get_random(status) &&
                         !mpd_status_get_repeat(status) && !mpd_status_get_single(status);
      const unsigned length = mpd_status_get_queue_length(status);
      statusOwner.reset();
      const unsigned held = session_->Held();
      bool ours = first && length == 1;
      if (first && length == 2 && held != 0) {
        MpdSong nextOwner(UntaggedSong(c, [](mpd_connection* d) { return mpd_send_get_queue_song_pos(d, 1); }));
        mpd_song* next = nextOwner.get();
        if (!next) return false;
        ours = mpd_song_get_id(next) == held;
        nextOwner.reset();
        if (ours) {
          if (!mpd_run_delete(c, 1)) return false;
          session_->TakeHeld();
        }
      }
      if (!ours || uri.empty()) return true;
      const int id = mpd_run_add_id(c, uri.c_str());
      if (id < 0) return false;
      session_->Hold(static_cast<unsigned>(id));
      return true;
    });
  }

  // MPD's stored playlists have no folders, which the automation interface
  // has from 1.7 on: this player answers as 1.6.
  HRESULT CheckVersion(long majorVersion, long minorVersion, bool* isCompatible) override {
    return Out(isCompatible, majorVersion < 1 || (majorVersion == 1 && minorVersion <= 6));
  }

  HRESULT GetITObjectByID(long sourceID, long playlistID, long trackID, long databaseID,
                          std::shared_ptr<IITObject>* object) override {
    if (!object) return E_POINTER;
    object->reset();
    if (sourceID != kSourceId) return E_INVALIDARG;
    if (databaseID != 0 || trackID != 0) {
      std::shared_ptr<const Library> library;
      if (HRESULT hr = session_->GetLibrary(&library); FAILED(hr)) return hr;
      auto it = library->byId.find(databaseID != 0 ? databaseID : trackID);
      if (it == library->byId.end()) return E_INVALIDARG;
      *object = MakeTrack(session_, library->songs[it->second],
                          {kLibraryPlaylistId, "", static_cast<long>(it->second) + 1, 0});
      return S_OK;
    }
    if (playlistID == 0) return OutObject(object, std::make_shared<SourceObject>(session_));
    if (playlistID == kLibraryPlaylistId) return OutObject(object, MakePlaylist(session_, playlistID, ""));
    std::vector<std::pair<long, std::string>> stored;
    if (HRESULT hr = session_->StoredPlaylists(&stored); FAILED(hr)) return hr;
    for (const auto& [id, name] : stored)
      if (id == playlistID) return OutObject(object, MakePlaylist(session_, id, name));
    return E_INVALIDARG;
  }

  // A new empty stored playlist: MPD makes one by saving a queue, then
  // clearing it. A name that is taken gets a number.
  HRESULT CreatePlaylist(const std::string& name, std::shared_ptr<IITPlaylist>* playlist) override {
    if (!playlist) return E_POINTER;
    playlist->reset();
    std::vector<std::pair<long, std::string>> stored;
    if (HRESULT hr = session_->StoredPlaylists(&stored); FAILED(hr)) return hr;
    const std::string base = name.empty() ? "untitled playlist" : name;
    std::string chosen = base;
    auto taken = [&](const std::string& n) {
      return std::any_of(stored.begin(), stored.end(), [&](const auto& p) { return p.second == n; });
    };
    for (int n = 2; taken(chosen); ++n) chosen = base + " " + std::to_string(n);
    HRESULT hr = session_->Run([&](mpd_connection* c) {
      return mpd_run_save(c, chosen.c_str()) && mpd_run_playlist_clear(c, chosen.c_str());
    });
    if (FAILED(hr)) return hr;
    if (hr = session_->StoredPlaylists(&stored); FAILED(hr)) return hr;
    for (const auto& [id, listed] : stored)
      if (listed == chosen) return OutObject(playlist, MakePlaylist(session_, id, chosen));
    return E_FAIL;
  }

  HRESULT CreateFolder(const std::string&, std::shared_ptr<IITPlaylist>* folder) override {
    if (folder) folder->reset();
    return E_FAIL;
  }

  HRESULT get_PlayerState(ITPlayerState* state) override {
    if (!state) return E_POINTER;
    return session_->Status([&](const mpd_status* s) {
      *state = mpd_status_get_state(s) == MPD_STATE_PLAY ? ITPlayerStatePlaying : ITPlayerStateStopped;
    });
  }
  HRESULT get_PlayerPosition(long* seconds) override {
    if (!seconds) return E_POINTER;
    return session_->Position(seconds);
  }
  HRESULT get_BrowserWindow(std::shared_ptr<IITBrowserWindow>* window) override {
    return OutObject(window, std::make_shared<BrowserWindow>());
  }
  HRESULT get_LibrarySource(std::shared_ptr<IITSource>* source) override {
    return OutObject(source, std::make_shared<SourceObject>(session_));
  }
  HRESULT get_LibraryPlaylist(std::shared_ptr<IITPlaylist>* playlist) override {
    return OutObject(playlist, MakePlaylist(session_, kLibraryPlaylistId, ""));
  }
  HRESULT get_CurrentTrack(std::shared_ptr<IITTrack>* track) override {
    if (!track) return E_POINTER;
    HRESULT hr = session_->CurrentTrack(track);
    if (FAILED(hr)) return hr;
    return *track ? S_OK : S_FALSE;
  }

  HRESULT FindConnectionPoint(const IID& iid, std::shared_ptr<IConnectionPoint>* point) override {
    if (!point) return E_POINTER;
    point->reset();
    if (!(iid == DIID_IiTunesEvents)) return CONNECT_E_NOCONNECTION;
    *point = std::make_shared<ConnectionPoint>(session_);
    return S_OK;
  }

 private:
  std::shared_ptr<Session> session_;
};

}  // namespace

}  // namespace mpd

HRESULT CoCreateMpdApp(std::shared_ptr<IiTunes>* app, const std::function<bool()>& activate) {
  if (!app) return E_POINTER;
  app->reset();
  mpd::Connection c = mpd::Connect();
  if (!c && !mpd::Set("MPD_HOST") && !mpd::Set("MPD_PORT") && activate && activate()) c = mpd::Connect();
  if (!c) return CO_E_SERVER_EXEC_FAILURE;
  auto session = std::make_shared<mpd::Session>(std::move(c));
  if (!session->Init()) return CO_E_SERVER_EXEC_FAILURE;
  *app = std::make_shared<mpd::App>(session);
  return S_OK;
}

bool IsMpdRunning() { return mpd::Connect() != nullptr; }

}  // namespace platform::player

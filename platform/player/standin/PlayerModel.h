// The media player that the automation stand-in serves: one library source,
// its playlists, the transport and the play position. No sound is decoded or
// played; the position simply moves with the installed clock.
//
// Time: the model owns no thread. Every call first brings the player up to
// the clock (Tick), so a position read or a command always sees the tracks
// that ended meanwhile. Whoever owns the model also calls Tick when the clock
// has moved and nobody asks: the server calls it from its poll loop when
// NextWakeup is due (or after `ctl advance` on a manual clock); a test that
// advances a ManualClock calls Tick (or any other member) afterwards.
//
// Events go to listeners synchronously, on the calling thread, while the
// model's lock is held: a listener must not call back into the model.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/kernel/Clock.h"
#include "platform/player/ITunes.h"
#include "platform/player/standin/Library.h"

namespace platform::player {

enum class ObjectKind { Source, Playlist, Track };

// Addresses a model object by its ids, never by memory: an object that is
// gone simply fails to resolve. For tracks, trackId is the playlist entry.
struct ObjectRef {
  ObjectKind kind = ObjectKind::Source;
  long sourceId = 0;
  long playlistId = 0;
  long trackId = 0;
  long databaseId = 0;
  friend bool operator==(const ObjectRef&, const ObjectRef&) = default;
};

struct PlayerEvent {
  DISPID id = 0;
  std::optional<ObjectRef> track;  // play, stop, playing track changed
  long trackKind = 0;              // the kind of that track (ITTrackKind)
  ObjectIDRows deleted;            // database changed
  ObjectIDRows changed;
  long number = 0;  // calls disabled: reason
};

struct TrackInfo {
  TrackData data;
  long playlistId = 0;
  long playOrderIndex = 0;  // 1-based place in its playlist's play order
};

struct PlaylistInfo {
  std::string name;
  bool library = false;  // the library playlist (not a user playlist)
  bool smart = false;
  bool shuffle = false;
  long specialKind = 0;
  long parentId = 0;
  long trackCount = 0;
};

struct ReloadCounts {
  long changed = 0;  // rows of the database-changed event
  long deleted = 0;
};

struct PlayerStatus {
  long state = ITPlayerStateStopped;
  std::optional<TrackData> track;
  long playlistId = 0;
  std::string playlistName;
  long position = 0;
  bool callsDisabled = false;
  bool quit = false;
  bool miniPlayer = false;
  bool browserVisible = true;
  bool browserMinimized = false;
  long selectedPlaylistId = 0;
  long trackCount = 0;
  long playlistCount = 0;
  long versionMajor = 0;
  long versionMinor = 0;
};

class PlayerModel {
 public:
  // Throws LibraryError when the library does not hold together.
  explicit PlayerModel(LibraryData library);
  ~PlayerModel();
  PlayerModel(const PlayerModel&) = delete;
  PlayerModel& operator=(const PlayerModel&) = delete;

  void Tick();
  // Clock time (platform::TheClock) of the next thing Tick has to do, or kForever.
  Millis NextWakeup();

  using Listener = std::function<void(const PlayerEvent&)>;
  int AddListener(Listener listener);
  void RemoveListener(int id);

  // --- Automation calls. Refused with RPC_E_CALL_REJECTED while calls are
  // disabled and RPC_E_DISCONNECTED after Quit.
  HRESULT Play();
  HRESULT Stop();
  HRESULT Pause();  // as Stop, but the position stays for Play
  HRESULT NextTrack();
  HRESULT BackTrack();
  HRESULT PlayFile(const std::string& path);
  HRESULT CheckVersion(long major, long minor, bool* compatible);
  HRESULT GetObjectByIds(long sourceId, long playlistId, long trackId, long databaseId,
                         std::optional<ObjectRef>* object);
  HRESULT CreatePlaylist(const std::string& name, ObjectRef* playlist);
  HRESULT CreateFolder(const std::string& name, ObjectRef* folder);
  HRESULT GetPlayerState(long* state);
  HRESULT GetPlayerPosition(long* seconds);
  HRESULT GetLibrarySource(ObjectRef* source);
  HRESULT GetLibraryPlaylist(ObjectRef* playlist);
  HRESULT GetCurrentTrack(std::optional<ObjectRef>* track);
  HRESULT CheckCalls();  // S_OK when calls are accepted now
  HRESULT CheckObject(const ObjectRef& object);
  HRESULT GetName(const ObjectRef& object, std::string* name);
  HRESULT GetPlaylistCount(const ObjectRef& source, long* count);
  HRESULT GetPlaylistItem(const ObjectRef& source, long index, ObjectRef* playlist);
  HRESULT GetPlaylistInfo(const ObjectRef& playlist, PlaylistInfo* info);
  HRESULT PlayFirstTrack(const ObjectRef& playlist);
  HRESULT GetTrackCount(const ObjectRef& playlist, long* count);
  HRESULT GetTrackItem(const ObjectRef& playlist, long index, bool byPlayOrder, ObjectRef* track);
  HRESULT AddFiles(const ObjectRef& playlist, const std::vector<std::string>& paths);
  HRESULT AddTrack(const ObjectRef& playlist, const ObjectRef& track, ObjectRef* added);
  HRESULT CreatePlaylistInFolder(const ObjectRef& folder, const std::string& name, ObjectRef* playlist);
  HRESULT GetParent(const ObjectRef& playlist, std::optional<ObjectRef>* parent);
  HRESULT GetTrackInfo(const ObjectRef& track, TrackInfo* info);
  HRESULT PlayTrack(const ObjectRef& track);
  HRESULT DeleteTrack(const ObjectRef& track);
  HRESULT SetMiniPlayer(bool on);
  HRESULT SetBrowserVisible(bool on);
  HRESULT SetBrowserMinimized(bool on);
  HRESULT SetSelectedPlaylist(const ObjectRef& playlist);

  // --- The person at the player: never refused while calls are disabled.
  void UserPlay();
  void UserStop();
  void UserNext();
  // To `seconds` into the current track; past its end is its end. False
  // (nothing moves) for a negative number.
  bool Seek(long seconds);
  void FastForward();  // four times as fast until the end
  void Rewind();       // four times as fast backwards, then plays from the start
  void SetShuffle(long playlistId, bool on);
  void DisableCalls(long reason);
  void EnableCalls();
  void Quit();  // about to prompt user to quit, then quitting; calls fail afterwards
  // Swaps in a new library (the old one stays when `library` is invalid:
  // LibraryError). Playback keeps the playing track when it is still there.
  ReloadCounts ReplaceLibrary(LibraryData library);
  void SetVersion(long major, long minor);  // what CheckVersion compares with; 1.10 by default

  // What a reference answers to, whatever the gate says: a user playlist
  // (not the library playlist), a file or CD track.
  struct Facets {
    bool userPlaylist = false;
    bool fileOrCDTrack = false;
  };
  Facets FacetsOf(const ObjectRef& object);

  PlayerStatus Status();
  bool HasQuit();

 private:
  struct State;
  std::mutex mutex_;
  std::unique_ptr<State> state_;
};

}  // namespace platform::player

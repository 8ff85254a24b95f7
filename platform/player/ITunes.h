// The media player's automation interfaces, as the system's code uses them.
//
// CoCreateITunesApp answers them from MPD (MpdPlayer.h, through libmpdclient),
// which plays the music, or from the stand-in: the zorva-player server process
// over a local socket, or in unit tests an in-process PlayerModel, which keeps
// a library, playlists and a play position that moves with the clock and plays
// no sound. PlayerActivation.h says which one a program gets.
//
// Shape: every member returns an HRESULT and hands its result through an
// out-parameter; object results are shared pointers, null for "none" (then the
// result is S_FALSE). Collections count from 1. Strings are UTF-8. A call fails,
// never throws: RPC_E_CALL_REJECTED while the player has calls disabled,
// RPC_E_DISCONNECTED once the server is gone, ITUNES_E_OBJECTDELETED for an
// object that no longer exists, E_INVALIDARG for a bad index or argument.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform/kernel/WinTypes.h"

namespace platform::player {

// Result codes of the automation layer.
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = static_cast<HRESULT>(0x80080005u);
constexpr HRESULT RPC_E_CALL_REJECTED = static_cast<HRESULT>(0x80010001u);
constexpr HRESULT RPC_E_DISCONNECTED = static_cast<HRESULT>(0x80010108u);
constexpr HRESULT CONNECT_E_NOCONNECTION = static_cast<HRESULT>(0x80040200u);
constexpr HRESULT CONNECT_E_NOINTERFACE = static_cast<HRESULT>(0x80040205u);
constexpr HRESULT ITUNES_E_OBJECTDELETED = static_cast<HRESULT>(0xA0040202u);

using DISPID = LONG;

enum ITPlayerState : long {
  ITPlayerStateStopped = 0,
  ITPlayerStatePlaying = 1,
  ITPlayerStateFastForward = 2,
  ITPlayerStateRewind = 3,
};

enum ITTrackKind : long {
  ITTrackKindUnknown = 0,
  ITTrackKindFile = 1,
  ITTrackKindCD = 2,
  ITTrackKindURL = 3,
  ITTrackKindDevice = 4,
  ITTrackKindSharedCloud = 5,
};

enum ITUserPlaylistSpecialKind : long {
  ITUserPlaylistSpecialKindNone = 0,
  ITUserPlaylistSpecialKindPurchasedMusic = 1,
  ITUserPlaylistSpecialKindPartyShuffle = 2,
  ITUserPlaylistSpecialKindPodcasts = 3,
  ITUserPlaylistSpecialKindFolder = 4,
  ITUserPlaylistSpecialKindVideos = 5,
  ITUserPlaylistSpecialKindMusic = 6,
  ITUserPlaylistSpecialKindMovies = 7,
  ITUserPlaylistSpecialKindTVShows = 8,
  ITUserPlaylistSpecialKindAudiobooks = 9,
  // A special playlist of a kind that has no name of its own here.
  ITUserPlaylistSpecialKindOther = 100,
};

enum ITCOMDisabledReason : long {
  ITCOMDisabledReasonOther = 0,
  ITCOMDisabledReasonDialog = 1,
  ITCOMDisabledReasonQuitting = 2,
};

// Dispatch ids of the player's event interface.
constexpr DISPID ITEventDatabaseChanged = 1;            // deleted rows, changed rows
constexpr DISPID ITEventPlayerPlay = 2;                 // track
constexpr DISPID ITEventPlayerStop = 3;                 // track
constexpr DISPID ITEventPlayerPlayingTrackChanged = 4;  // track
constexpr DISPID ITEventUserInterfaceEnabled = 5;       // none
constexpr DISPID ITEventCOMCallsDisabled = 6;           // reason (ITCOMDisabledReason)
constexpr DISPID ITEventCOMCallsEnabled = 7;            // none
constexpr DISPID ITEventQuitting = 8;                   // none
constexpr DISPID ITEventAboutToPromptUserToQuit = 9;    // none
constexpr DISPID ITEventSoundVolumeChanged = 10;        // volume
// The argument of an ITEventAboutToPromptUserToQuit that the connection gives
// when the player went without announcing it (it died or stopped answering).
constexpr long kPlayerLost = 1;

class IITObject;
class IITSource;
class IITPlaylist;
class IITUserPlaylist;
class IITTrack;
class IITPlaylistCollection;
class IITTrackCollection;
class IITBrowserWindow;

// The identity of an object: source, playlist, track and database ids (0 where
// the object has none). One row per object in a database-changed event.
using ObjectIDRow = std::array<long, 4>;
using ObjectIDRows = std::vector<ObjectIDRow>;

// One event argument (the VARIANT of the original): nothing, a number (reason,
// volume), an object (query it for IITTrack), or a two-dimensional id array.
using EventArg = std::variant<std::monostate, long, std::shared_ptr<IITObject>, ObjectIDRows>;

// Asks an object for another of its interfaces: null when it does not have it
// (a playlist answers IITUserPlaylist only when it is a user playlist, a track
// answers IITFileOrCDTrack only when it is a file or CD track, the application
// answers IConnectionPointContainer).
template <class T, class U>
std::shared_ptr<T> QueryInterface(const std::shared_ptr<U>& object) {
  return std::dynamic_pointer_cast<T>(object);
}

class IITObject {
 public:
  virtual ~IITObject() = default;
  virtual HRESULT get_Name(std::string* name) = 0;
  virtual HRESULT get_SourceID(long* sourceID) = 0;
  virtual HRESULT get_PlaylistID(long* playlistID) = 0;
  virtual HRESULT get_TrackDatabaseID(long* databaseID) = 0;
};

class IITSource : public IITObject {
 public:
  virtual HRESULT get_Playlists(std::shared_ptr<IITPlaylistCollection>* playlists) = 0;
};

class IITPlaylistCollection {
 public:
  virtual ~IITPlaylistCollection() = default;
  virtual HRESULT get_Count(long* count) = 0;
  virtual HRESULT get_Item(long index, std::shared_ptr<IITPlaylist>* playlist) = 0;
};

class IITPlaylist : public IITObject {
 public:
  virtual HRESULT PlayFirstTrack() = 0;
  virtual HRESULT get_Shuffle(bool* shuffle) = 0;
  virtual HRESULT get_Tracks(std::shared_ptr<IITTrackCollection>* tracks) = 0;
};

class IITUserPlaylist : public IITPlaylist {
 public:
  // Adds files by location: a location the library has adds that library
  // track; a file on disk the library lacks becomes a new library track too.
  virtual HRESULT AddFiles(const std::vector<std::string>& filePaths) = 0;
  // Appends the track (duplicates allowed); `added` (may be null) gets the new entry.
  virtual HRESULT AddTrack(const std::shared_ptr<IITTrack>& track, std::shared_ptr<IITTrack>* added) = 0;
  virtual HRESULT get_Smart(bool* smart) = 0;
  virtual HRESULT get_SpecialKind(ITUserPlaylistSpecialKind* kind) = 0;
  virtual HRESULT get_Parent(std::shared_ptr<IITUserPlaylist>* parent) = 0;
  // A new playlist inside this folder (fails unless this is a folder).
  virtual HRESULT CreatePlaylist(const std::string& name, std::shared_ptr<IITPlaylist>* playlist) = 0;
};

class IITTrackCollection {
 public:
  virtual ~IITTrackCollection() = default;
  virtual HRESULT get_Count(long* count) = 0;
  virtual HRESULT get_Item(long index, std::shared_ptr<IITTrack>* track) = 0;
  virtual HRESULT get_ItemByPlayOrder(long index, std::shared_ptr<IITTrack>* track) = 0;
};

class IITTrack : public IITObject {
 public:
  // From a user playlist: removes this entry. From the library playlist:
  // removes the track from the library and every playlist.
  virtual HRESULT Delete() = 0;
  virtual HRESULT Play() = 0;
  virtual HRESULT get_Kind(ITTrackKind* kind) = 0;
  virtual HRESULT get_Playlist(std::shared_ptr<IITPlaylist>* playlist) = 0;
  virtual HRESULT get_Album(std::string* album) = 0;
  virtual HRESULT get_Artist(std::string* artist) = 0;
  virtual HRESULT get_Genre(std::string* genre) = 0;
  virtual HRESULT get_PlayOrderIndex(long* index) = 0;
  virtual HRESULT get_Rating(long* rating) = 0;     // 0..100
  virtual HRESULT get_Time(std::string* time) = 0;  // "m:ss"
};

class IITFileOrCDTrack : public IITTrack {
 public:
  virtual HRESULT get_Location(std::string* location) = 0;
};

class IITWindow {
 public:
  virtual ~IITWindow() = default;
  virtual HRESULT put_Visible(bool visible) = 0;
  virtual HRESULT put_Minimized(bool minimized) = 0;
};

class IITBrowserWindow : public IITWindow {
 public:
  virtual HRESULT put_MiniPlayer(bool miniPlayer) = 0;
  virtual HRESULT put_SelectedPlaylist(const std::shared_ptr<IITPlaylist>& playlist) = 0;
};

// The player's event interface. Invoke runs on the thread that advised the
// sink, from its message queue (platform::PumpMessages / the message loop).
class IiTunesEvents {
 public:
  virtual ~IiTunesEvents() = default;
  virtual HRESULT Invoke(DISPID dispId, const std::vector<EventArg>& args) = 0;
};
using _IiTunesEvents = IiTunesEvents;

struct IID {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::array<std::uint8_t, 8> data4;
  friend bool operator==(const IID&, const IID&) = default;
};
constexpr IID DIID_IiTunesEvents = {0x5846EB78, 0x317E, 0x4B6F, {0xB0, 0xC3, 0x11, 0xEE, 0x8C, 0x8F, 0xEE, 0xF2}};

class IConnectionPoint {
 public:
  virtual ~IConnectionPoint() = default;
  // The sink must stay alive until Unadvise; events queued for it before
  // Unadvise are dropped once it has been unadvised.
  virtual HRESULT Advise(IiTunesEvents* sink, DWORD* cookie) = 0;
  virtual HRESULT Unadvise(DWORD cookie) = 0;
};

class IConnectionPointContainer {
 public:
  virtual ~IConnectionPointContainer() = default;
  virtual HRESULT FindConnectionPoint(const IID& iid, std::shared_ptr<IConnectionPoint>* point) = 0;
};

class IiTunes {
 public:
  virtual ~IiTunes() = default;
  virtual HRESULT BackTrack() = 0;
  virtual HRESULT NextTrack() = 0;
  virtual HRESULT Play() = 0;
  // Plays the file at `filePath` (a library location, or a file on disk that
  // then joins the library); it stops at its end.
  virtual HRESULT PlayFile(const std::string& filePath) = 0;
  virtual HRESULT Stop() = 0;
  // Holds the current track where it is (the state then reads stopped);
  // Play goes on from there.
  virtual HRESULT Pause() = 0;
  // A hint beyond the automation interface: the file that PlayFile will be
  // asked for when the playing file ends, so a player may go on to it
  // without a gap. An empty path takes the hint back. Players without it
  // answer E_NOTIMPL.
  virtual HRESULT QueueNextFile(const std::string&) { return E_NOTIMPL; }
  virtual HRESULT CheckVersion(long majorVersion, long minorVersion, bool* isCompatible) = 0;
  virtual HRESULT GetITObjectByID(long sourceID, long playlistID, long trackID, long databaseID,
                                  std::shared_ptr<IITObject>* object) = 0;
  virtual HRESULT CreatePlaylist(const std::string& name, std::shared_ptr<IITPlaylist>* playlist) = 0;
  virtual HRESULT get_PlayerState(ITPlayerState* state) = 0;
  virtual HRESULT get_PlayerPosition(long* seconds) = 0;
  virtual HRESULT get_BrowserWindow(std::shared_ptr<IITBrowserWindow>* window) = 0;
  virtual HRESULT get_LibrarySource(std::shared_ptr<IITSource>* source) = 0;
  virtual HRESULT get_LibraryPlaylist(std::shared_ptr<IITPlaylist>* playlist) = 0;
  virtual HRESULT get_CurrentTrack(std::shared_ptr<IITTrack>* track) = 0;
  virtual HRESULT CreateFolder(const std::string& name, std::shared_ptr<IITPlaylist>* folder) = 0;
};

// Creates the application object: connects to the running player server (or
// binds to the in-process model of a ScopedInProcessPlayer). Without a running
// player: CO_E_SERVER_EXEC_FAILURE and a null `app`; E_ACCESSDENIED when the
// server that answers runs as another user, or the socket's private folder
// is not private.
HRESULT CoCreateITunesApp(std::shared_ptr<IiTunes>* app);

// Stands for the registration of the player as a local automation server:
// when CoCreateITunesApp finds no player running, it runs the registered
// activator (which starts one and answers whether it came up) and then tries
// once more. Activations are made one at a time. Nothing is registered
// unless a program registers it; an empty one takes it away.
using PlayerActivator = std::function<bool()>;
void RegisterPlayerActivator(PlayerActivator activator);

// True when a player of this user's runs that CoCreateITunesApp can reach
// (stands in for finding the player's top-level window).
bool IsPlayerRunning();

// The server's socket: $ZORVA_PLAYER_SOCKET, else $XDG_RUNTIME_DIR/zorva-player.sock,
// else zorva-player.sock in the private folder $TMPDIR/zorva-<uid> (/tmp
// without TMPDIR), which must be the user's own with mode 0700.
std::string PlayerSocketPath();

class PlayerModel;
struct InProcessBinding;

// While it lives, CoCreateITunesApp and IsPlayerRunning use `model` in this
// process instead of the server. Objects made meanwhile fail with
// RPC_E_DISCONNECTED once the guard is gone. `model` must outlive the guard.
class ScopedInProcessPlayer {
 public:
  explicit ScopedInProcessPlayer(PlayerModel& model);
  ~ScopedInProcessPlayer();
  ScopedInProcessPlayer(const ScopedInProcessPlayer&) = delete;
  ScopedInProcessPlayer& operator=(const ScopedInProcessPlayer&) = delete;

 private:
  std::shared_ptr<InProcessBinding> binding_;
  std::shared_ptr<InProcessBinding> previous_;
};

}  // namespace platform::player

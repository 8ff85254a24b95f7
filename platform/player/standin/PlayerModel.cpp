// PlayerModel's automation calls, each gated on calls being accepted, and
// its status. The transport and the library edits they make are in
// PlayerModelTransport.cpp and PlayerModelLibrary.cpp.
#include "platform/player/standin/PlayerModel.h"

#include "platform/player/standin/PlayerModelState.h"

namespace platform::player {
using namespace model;

namespace {

constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002u);

}  // namespace

PlayerModel::PlayerModel(LibraryData library) : state_(std::make_unique<State>()) {
  ValidateLibrary(library, "library");
  state_->lib = BuildLibrary(std::move(library), 1);
}

PlayerModel::~PlayerModel() = default;

void PlayerModel::Tick() {
  std::lock_guard lock(mutex_);
  state_->Tick(TheClock().Now());
}

Millis PlayerModel::NextWakeup() {
  std::lock_guard lock(mutex_);
  state_->Tick(TheClock().Now());
  return state_->NextWakeup();
}

int PlayerModel::AddListener(Listener listener) {
  std::lock_guard lock(mutex_);
  int id = state_->nextListener++;
  state_->listeners.emplace(id, std::move(listener));
  return id;
}

void PlayerModel::RemoveListener(int id) {
  std::lock_guard lock(mutex_);
  state_->listeners.erase(id);
}

// Every automation call: lock, catch up with the clock, refuse when calls are off.
#define PLAYER_CALL_PROLOGUE()                          \
  std::lock_guard lock(mutex_);                         \
  State& s = *state_;                                   \
  [[maybe_unused]] const Millis now = TheClock().Now(); \
  s.Tick(now);                                          \
  if (HRESULT gate = s.Gate(); FAILED(gate)) return gate

HRESULT PlayerModel::Play() {
  PLAYER_CALL_PROLOGUE();
  s.DoPlay(now);
  return S_OK;
}

HRESULT PlayerModel::Stop() {
  PLAYER_CALL_PROLOGUE();
  s.DoStop(now);
  return S_OK;
}

HRESULT PlayerModel::Pause() {
  PLAYER_CALL_PROLOGUE();
  s.DoPause(now);
  return S_OK;
}

HRESULT PlayerModel::NextTrack() {
  PLAYER_CALL_PROLOGUE();
  s.DoNext(now);
  return S_OK;
}

HRESULT PlayerModel::BackTrack() {
  PLAYER_CALL_PROLOGUE();
  s.DoBack(now);
  return S_OK;
}

HRESULT PlayerModel::PlayFile(const std::string& path) {
  PLAYER_CALL_PROLOGUE();
  ObjectIDRows changed;
  long id = s.TrackForPath(path, &changed);
  if (!id) return kFileNotFound;
  s.EmitDatabaseChanged({}, std::move(changed));
  Playlist& main = s.lib.Main();
  long entry = s.lib.LibraryEntryOf(id);
  s.PlayEntry(now, main, *main.Find(entry), true);
  return S_OK;
}

HRESULT PlayerModel::CheckVersion(long major, long minor, bool* compatible) {
  PLAYER_CALL_PROLOGUE();
  *compatible = major < s.versionMajor || (major == s.versionMajor && minor <= s.versionMinor);
  return S_OK;
}

HRESULT PlayerModel::GetObjectByIds(long sourceId, long playlistId, long trackId, long databaseId,
                                    std::optional<ObjectRef>* object) {
  PLAYER_CALL_PROLOGUE();
  object->reset();
  if (sourceId != kSourceId) return S_FALSE;
  if (playlistId == 0 && trackId == 0 && databaseId == 0) {
    *object = ObjectRef{ObjectKind::Source, kSourceId, 0, 0, 0};
    return S_OK;
  }
  Playlist* p = s.lib.FindPlaylist(playlistId);
  if (!p) return S_FALSE;
  if (trackId == 0 && databaseId == 0) {
    *object = State::PlaylistRef(playlistId);
    return S_OK;
  }
  const Entry* e = p->Find(trackId);
  if (!e || e->databaseId != databaseId) return S_FALSE;
  *object = State::TrackRef(playlistId, *e);
  return S_OK;
}

HRESULT PlayerModel::CreatePlaylist(const std::string& name, ObjectRef* playlist) {
  PLAYER_CALL_PROLOGUE();
  *playlist = State::PlaylistRef(s.NewPlaylist(name, ITUserPlaylistSpecialKindNone, 0).data.playlistId);
  return S_OK;
}

HRESULT PlayerModel::CreateFolder(const std::string& name, ObjectRef* folder) {
  PLAYER_CALL_PROLOGUE();
  *folder = State::PlaylistRef(s.NewPlaylist(name, ITUserPlaylistSpecialKindFolder, 0).data.playlistId);
  return S_OK;
}

HRESULT PlayerModel::GetPlayerState(long* state) {
  PLAYER_CALL_PROLOGUE();
  *state = s.state;
  return S_OK;
}

HRESULT PlayerModel::GetPlayerPosition(long* seconds) {
  PLAYER_CALL_PROLOGUE();
  *seconds = static_cast<long>(s.PositionAt(now) / 1000);
  return S_OK;
}

HRESULT PlayerModel::GetLibrarySource(ObjectRef* source) {
  PLAYER_CALL_PROLOGUE();
  *source = ObjectRef{ObjectKind::Source, kSourceId, 0, 0, 0};
  return S_OK;
}

HRESULT PlayerModel::GetLibraryPlaylist(ObjectRef* playlist) {
  PLAYER_CALL_PROLOGUE();
  *playlist = State::PlaylistRef(s.lib.Main().data.playlistId);
  return S_OK;
}

HRESULT PlayerModel::GetCurrentTrack(std::optional<ObjectRef>* track) {
  PLAYER_CALL_PROLOGUE();
  *track = s.CurrentRef();
  return track->has_value() ? S_OK : S_FALSE;
}

HRESULT PlayerModel::CheckCalls() {
  PLAYER_CALL_PROLOGUE();
  return S_OK;
}

HRESULT PlayerModel::CheckObject(const ObjectRef& object) {
  PLAYER_CALL_PROLOGUE();
  switch (object.kind) {
    case ObjectKind::Source:
      return s.IsSource(object) ? S_OK : ITUNES_E_OBJECTDELETED;
    case ObjectKind::Playlist:
      return s.ResolvePlaylist(object) ? S_OK : ITUNES_E_OBJECTDELETED;
    case ObjectKind::Track:
      return s.ResolveTrack(object) ? S_OK : ITUNES_E_OBJECTDELETED;
  }
  return E_INVALIDARG;
}

HRESULT PlayerModel::GetName(const ObjectRef& object, std::string* name) {
  PLAYER_CALL_PROLOGUE();
  switch (object.kind) {
    case ObjectKind::Source:
      if (!s.IsSource(object)) return ITUNES_E_OBJECTDELETED;
      *name = s.lib.sourceName;
      return S_OK;
    case ObjectKind::Playlist:
      if (Playlist* p = s.ResolvePlaylist(object)) {
        *name = p->data.name;
        return S_OK;
      }
      return ITUNES_E_OBJECTDELETED;
    case ObjectKind::Track:
      if (const Entry* e = s.ResolveTrack(object)) {
        *name = s.lib.tracks.at(e->databaseId).name;
        return S_OK;
      }
      return ITUNES_E_OBJECTDELETED;
  }
  return E_INVALIDARG;
}

HRESULT PlayerModel::GetPlaylistCount(const ObjectRef& source, long* count) {
  PLAYER_CALL_PROLOGUE();
  if (!s.IsSource(source)) return ITUNES_E_OBJECTDELETED;
  *count = static_cast<long>(s.lib.playlists.size());
  return S_OK;
}

HRESULT PlayerModel::GetPlaylistItem(const ObjectRef& source, long index, ObjectRef* playlist) {
  PLAYER_CALL_PROLOGUE();
  if (!s.IsSource(source)) return ITUNES_E_OBJECTDELETED;
  if (index < 1 || index > static_cast<long>(s.lib.playlists.size())) return E_INVALIDARG;
  *playlist = State::PlaylistRef(s.lib.playlists[static_cast<size_t>(index - 1)].data.playlistId);
  return S_OK;
}

HRESULT PlayerModel::GetPlaylistInfo(const ObjectRef& playlist, PlaylistInfo* info) {
  PLAYER_CALL_PROLOGUE();
  Playlist* p = s.ResolvePlaylist(playlist);
  if (!p) return ITUNES_E_OBJECTDELETED;
  info->name = p->data.name;
  info->library = p->library;
  info->smart = p->data.smart;
  info->shuffle = p->data.shuffle;
  info->specialKind = p->data.specialKind;
  info->parentId = p->data.parentId;
  info->trackCount = static_cast<long>(p->entries.size());
  return S_OK;
}

HRESULT PlayerModel::PlayFirstTrack(const ObjectRef& playlist) {
  PLAYER_CALL_PROLOGUE();
  Playlist* p = s.ResolvePlaylist(playlist);
  if (!p) return ITUNES_E_OBJECTDELETED;
  if (p->order.empty()) return S_FALSE;
  s.PlayEntry(now, *p, *p->Find(p->order.front()), false);
  return S_OK;
}

HRESULT PlayerModel::GetTrackCount(const ObjectRef& playlist, long* count) {
  PLAYER_CALL_PROLOGUE();
  Playlist* p = s.ResolvePlaylist(playlist);
  if (!p) return ITUNES_E_OBJECTDELETED;
  *count = static_cast<long>(p->entries.size());
  return S_OK;
}

HRESULT PlayerModel::GetTrackItem(const ObjectRef& playlist, long index, bool byPlayOrder, ObjectRef* track) {
  PLAYER_CALL_PROLOGUE();
  Playlist* p = s.ResolvePlaylist(playlist);
  if (!p) return ITUNES_E_OBJECTDELETED;
  if (index < 1 || index > static_cast<long>(p->entries.size())) return E_INVALIDARG;
  const size_t i = static_cast<size_t>(index - 1);
  const Entry& e = byPlayOrder ? *p->Find(p->order[i]) : p->entries[i];
  *track = State::TrackRef(p->data.playlistId, e);
  return S_OK;
}

HRESULT PlayerModel::AddFiles(const ObjectRef& playlist, const std::vector<std::string>& paths) {
  PLAYER_CALL_PROLOGUE();
  Playlist* p = s.ResolvePlaylist(playlist);
  if (!p) return ITUNES_E_OBJECTDELETED;
  if (!p->Editable()) return E_FAIL;
  const long playlistId = p->data.playlistId;
  ObjectIDRows changed;
  bool skipped = false;
  for (const std::string& path : paths) {
    long id = s.TrackForPath(path, &changed);
    if (!id) {
      skipped = true;
      continue;
    }
    p = s.lib.FindPlaylist(playlistId);  // TrackForPath may have grown the list's storage
    Entry e{s.lib.nextEntryId++, id};
    p->Append(e);
    changed.push_back({kSourceId, playlistId, e.entryId, id});
  }
  if (!changed.empty()) changed.push_back({kSourceId, playlistId, 0, 0});
  s.EmitDatabaseChanged({}, std::move(changed));
  return skipped ? S_FALSE : S_OK;
}

HRESULT PlayerModel::AddTrack(const ObjectRef& playlist, const ObjectRef& track, ObjectRef* added) {
  PLAYER_CALL_PROLOGUE();
  Playlist* p = s.ResolvePlaylist(playlist);
  const Entry* source = s.ResolveTrack(track);
  if (!p || !source) return ITUNES_E_OBJECTDELETED;
  if (!p->Editable()) return E_FAIL;
  Entry e{s.lib.nextEntryId++, source->databaseId};
  p->Append(e);
  *added = State::TrackRef(p->data.playlistId, e);
  s.EmitDatabaseChanged(
      {}, {{kSourceId, p->data.playlistId, e.entryId, e.databaseId}, {kSourceId, p->data.playlistId, 0, 0}});
  return S_OK;
}

HRESULT PlayerModel::CreatePlaylistInFolder(const ObjectRef& folder, const std::string& name, ObjectRef* playlist) {
  PLAYER_CALL_PROLOGUE();
  Playlist* p = s.ResolvePlaylist(folder);
  if (!p) return ITUNES_E_OBJECTDELETED;
  if (p->library || p->data.specialKind != ITUserPlaylistSpecialKindFolder) return E_FAIL;
  const long parentId = p->data.playlistId;
  *playlist = State::PlaylistRef(s.NewPlaylist(name, ITUserPlaylistSpecialKindNone, parentId).data.playlistId);
  return S_OK;
}

HRESULT PlayerModel::GetParent(const ObjectRef& playlist, std::optional<ObjectRef>* parent) {
  PLAYER_CALL_PROLOGUE();
  Playlist* p = s.ResolvePlaylist(playlist);
  if (!p) return ITUNES_E_OBJECTDELETED;
  parent->reset();
  if (p->data.parentId == 0 || !s.lib.FindPlaylist(p->data.parentId)) return S_FALSE;
  *parent = State::PlaylistRef(p->data.parentId);
  return S_OK;
}

HRESULT PlayerModel::GetTrackInfo(const ObjectRef& track, TrackInfo* info) {
  PLAYER_CALL_PROLOGUE();
  Playlist* p = nullptr;
  const Entry* e = s.ResolveTrack(track, &p);
  if (!e) return ITUNES_E_OBJECTDELETED;
  info->data = s.lib.tracks.at(e->databaseId);
  info->playlistId = p->data.playlistId;
  info->playOrderIndex = p->OrderPosition(e->entryId) + 1;
  return S_OK;
}

HRESULT PlayerModel::PlayTrack(const ObjectRef& track) {
  PLAYER_CALL_PROLOGUE();
  Playlist* p = nullptr;
  const Entry* e = s.ResolveTrack(track, &p);
  if (!e) return ITUNES_E_OBJECTDELETED;
  s.PlayEntry(now, *p, *e, false);
  return S_OK;
}

HRESULT PlayerModel::DeleteTrack(const ObjectRef& track) {
  PLAYER_CALL_PROLOGUE();
  Playlist* p = nullptr;
  const Entry* e = s.ResolveTrack(track, &p);
  if (!e) return ITUNES_E_OBJECTDELETED;
  if (p->library) {
    s.RemoveFromLibrary(e->databaseId, now);
    return S_OK;
  }
  if (!p->Editable()) return E_FAIL;
  s.RemoveEntry(*p, *e);
  return S_OK;
}

HRESULT PlayerModel::SetMiniPlayer(bool on) {
  PLAYER_CALL_PROLOGUE();
  s.miniPlayer = on;
  return S_OK;
}

HRESULT PlayerModel::SetBrowserVisible(bool on) {
  PLAYER_CALL_PROLOGUE();
  s.visible = on;
  return S_OK;
}

HRESULT PlayerModel::SetBrowserMinimized(bool on) {
  PLAYER_CALL_PROLOGUE();
  s.minimized = on;
  return S_OK;
}

HRESULT PlayerModel::SetSelectedPlaylist(const ObjectRef& playlist) {
  PLAYER_CALL_PROLOGUE();
  Playlist* p = s.ResolvePlaylist(playlist);
  if (!p) return ITUNES_E_OBJECTDELETED;
  s.selected = p->data.playlistId;
  return S_OK;
}

void PlayerModel::SetVersion(long major, long minor) {
  std::lock_guard lock(mutex_);
  state_->versionMajor = major;
  state_->versionMinor = minor;
}

PlayerStatus PlayerModel::Status() {
  std::lock_guard lock(mutex_);
  State& s = *state_;
  const Millis now = TheClock().Now();
  s.Tick(now);
  PlayerStatus st;
  st.state = s.state;
  if (const TrackData* t = s.CurrentData()) {
    st.track = *t;
    st.position = static_cast<long>(s.PositionAt(now) / 1000);
    if (auto ref = s.CurrentRef()) {
      st.playlistId = ref->playlistId;
      st.playlistName = s.lib.FindPlaylist(ref->playlistId)->data.name;
    }
  }
  st.callsDisabled = s.disabled;
  st.quit = s.quit;
  st.miniPlayer = s.miniPlayer;
  st.browserVisible = s.visible;
  st.browserMinimized = s.minimized;
  st.selectedPlaylistId = s.selected;
  st.trackCount = static_cast<long>(s.lib.tracks.size());
  st.playlistCount = static_cast<long>(s.lib.playlists.size());
  st.versionMajor = s.versionMajor;
  st.versionMinor = s.versionMinor;
  return st;
}

PlayerModel::Facets PlayerModel::FacetsOf(const ObjectRef& object) {
  std::lock_guard lock(mutex_);
  State& s = *state_;
  Facets f;
  if (Playlist* p = s.ResolvePlaylist(object)) f.userPlaylist = !p->library;
  if (const Entry* e = s.ResolveTrack(object)) {
    const long kind = s.lib.tracks.at(e->databaseId).kind;
    f.fileOrCDTrack = kind == ITTrackKindFile || kind == ITTrackKindCD;
  }
  return f;
}

bool PlayerModel::HasQuit() {
  std::lock_guard lock(mutex_);
  return state_->quit;
}

}  // namespace platform::player
// The stand-in's automation objects: thin proxies that address the player's
// objects by reference and send each call over a channel (the server's
// socket, or the in-process model of a ScopedInProcessPlayer).
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <utility>

#include "platform/kernel/Messages.h"
#include "platform/player/ITunes.h"
#include "platform/player/standin/PlayerModel.h"
#include "platform/player/standin/PlayerProtocol.h"
#include "platform/player/standin/PlayerSocket.h"
#include "platform/player/standin/StandInClient.h"
#include "platform/kernel/UniqueFd.h"

namespace platform::player {

using nlohmann::json;

namespace {

// The sinks advised through one channel, with the thread each advised from.
struct SinkTable {
  std::mutex mutex;
  struct Sink {
    IiTunesEvents* sink;
    DWORD threadId;
  };
  std::map<DWORD, Sink> sinks;
  DWORD nextCookie = 1;
};

class Channel : public std::enable_shared_from_this<Channel> {
 public:
  virtual ~Channel() = default;
  // Sends one call; `result` gets the answer's result object.
  virtual HRESULT Call(const std::string& op, const json& target, const json& args, json* result) = 0;

  HRESULT AddSink(IiTunesEvents* sink, DWORD* cookie);
  HRESULT RemoveSink(DWORD cookie);
  // Turns an event message into calls queued to each advised sink's thread.
  void DeliverEvent(const json& event);
  // The player went without announcing its quit (it died, or stopped
  // answering): the sinks hear the quit announcement, marked as a loss by
  // its argument, so their owners end or look for the player again.
  void DeliverLoss();

 protected:
  std::shared_ptr<SinkTable> sinks_ = std::make_shared<SinkTable>();
  std::atomic<bool> quitAnnounced_{false};
};

std::shared_ptr<IITObject> MakeObject(const std::shared_ptr<Channel>& channel, const json& ref);

// What every proxy has: its channel and its reference.
class Remote {
 public:
  Remote(std::shared_ptr<Channel> channel, json ref) : channel_(std::move(channel)), ref_(std::move(ref)) {}
  virtual ~Remote() = default;

  const json& Ref() const { return ref_; }
  const std::shared_ptr<Channel>& GetChannel() const { return channel_; }

 protected:
  HRESULT Invoke(const char* op, const json& args = json::object(), json* result = nullptr) const {
    json ignored;
    return channel_->Call(op, ref_, args, result ? result : &ignored);
  }

  // The answer's "value", of the kind `is` accepts.
  template <class T>
  HRESULT GetValue(const char* op, const json& args, bool (json::*is)() const noexcept, T* out) const {
    if (!out) return E_POINTER;
    json result;
    HRESULT hr = Invoke(op, args, &result);
    if (FAILED(hr)) return hr;
    auto it = result.find("value");
    if (it == result.end() || !((*it).*is)()) return E_FAIL;
    *out = it->get<T>();
    return hr;
  }
  HRESULT GetLong(const char* op, long* out, const json& args = json::object()) const {
    return GetValue(op, args, &json::is_number_integer, out);
  }
  HRESULT GetBool(const char* op, bool* out) const { return GetValue(op, json::object(), &json::is_boolean, out); }
  HRESULT GetString(const char* op, std::string* out) const {
    return GetValue(op, json::object(), &json::is_string, out);
  }
  template <class T>
  HRESULT GetObject(const char* op, std::shared_ptr<T>* out, const json& args = json::object()) const {
    if (!out) return E_POINTER;
    out->reset();
    json result;
    HRESULT hr = Invoke(op, args, &result);
    if (FAILED(hr)) return hr;
    auto it = result.find("object");
    if (it == result.end() || it->is_null()) return hr == S_OK ? S_FALSE : hr;
    *out = Make<T>(*it);
    return *out ? hr : E_FAIL;
  }

  template <class T>
  std::shared_ptr<T> Make(const json& ref) const;

 private:
  std::shared_ptr<Channel> channel_;
  json ref_;
};

// The reference of one of our own objects, for passing it as an argument.
const json* RefOf(const void* object, const Remote* remote) { return object && remote ? &remote->Ref() : nullptr; }

template <class Base>
class ObjectImpl : public Base, public Remote {
 public:
  using Remote::Remote;
  HRESULT get_Name(std::string* name) override { return GetString("get_Name", name); }
  HRESULT get_SourceID(long* id) override { return GetLong("get_SourceID", id); }
  HRESULT get_PlaylistID(long* id) override { return GetLong("get_PlaylistID", id); }
  HRESULT get_TrackDatabaseID(long* id) override { return GetLong("get_TrackDatabaseID", id); }
};

class PlaylistCollectionObject final : public IITPlaylistCollection, public Remote {
 public:
  using Remote::Remote;
  HRESULT get_Count(long* count) override { return GetLong("get_Count", count); }
  HRESULT get_Item(long index, std::shared_ptr<IITPlaylist>* playlist) override {
    return GetObject("get_Item", playlist, {{"index", index}});
  }
};

class TrackCollectionObject final : public IITTrackCollection, public Remote {
 public:
  using Remote::Remote;
  HRESULT get_Count(long* count) override { return GetLong("get_Count", count); }
  HRESULT get_Item(long index, std::shared_ptr<IITTrack>* track) override {
    return GetObject("get_Item", track, {{"index", index}});
  }
  HRESULT get_ItemByPlayOrder(long index, std::shared_ptr<IITTrack>* track) override {
    return GetObject("get_ItemByPlayOrder", track, {{"index", index}});
  }
};

class SourceObject final : public ObjectImpl<IITSource> {
 public:
  using ObjectImpl::ObjectImpl;
  HRESULT get_Playlists(std::shared_ptr<IITPlaylistCollection>* playlists) override {
    return GetObject("get_Playlists", playlists);
  }
};

template <class Base>
class PlaylistImpl : public ObjectImpl<Base> {
 public:
  using ObjectImpl<Base>::ObjectImpl;
  HRESULT PlayFirstTrack() override { return this->Invoke("PlayFirstTrack"); }
  HRESULT get_Shuffle(bool* shuffle) override { return this->GetBool("get_Shuffle", shuffle); }
  HRESULT get_Tracks(std::shared_ptr<IITTrackCollection>* tracks) override {
    return this->GetObject("get_Tracks", tracks);
  }
};

class PlaylistObject final : public PlaylistImpl<IITPlaylist> {
 public:
  using PlaylistImpl::PlaylistImpl;
};

class UserPlaylistObject final : public PlaylistImpl<IITUserPlaylist> {
 public:
  using PlaylistImpl::PlaylistImpl;
  HRESULT AddFiles(const std::vector<std::string>& filePaths) override {
    return Invoke("AddFiles", {{"paths", filePaths}});
  }
  HRESULT AddTrack(const std::shared_ptr<IITTrack>& track, std::shared_ptr<IITTrack>* added) override {
    const json* ref = RefOf(track.get(), dynamic_cast<const Remote*>(track.get()));
    if (!ref) return E_INVALIDARG;
    std::shared_ptr<IITTrack> made;
    HRESULT hr = GetObject("AddTrack", &made, {{"track", *ref}});
    if (added) *added = made;
    return hr;
  }
  HRESULT get_Smart(bool* smart) override { return GetBool("get_Smart", smart); }
  HRESULT get_SpecialKind(ITUserPlaylistSpecialKind* kind) override {
    if (!kind) return E_POINTER;
    long value = 0;
    HRESULT hr = GetLong("get_SpecialKind", &value);
    if (SUCCEEDED(hr)) *kind = static_cast<ITUserPlaylistSpecialKind>(value);
    return hr;
  }
  HRESULT get_Parent(std::shared_ptr<IITUserPlaylist>* parent) override { return GetObject("get_Parent", parent); }
  HRESULT CreatePlaylist(const std::string& name, std::shared_ptr<IITPlaylist>* playlist) override {
    return GetObject("CreatePlaylist", playlist, {{"name", name}});
  }
};

template <class Base>
class TrackImpl : public ObjectImpl<Base> {
 public:
  using ObjectImpl<Base>::ObjectImpl;
  HRESULT Delete() override { return this->Invoke("Delete"); }
  HRESULT Play() override { return this->Invoke("Play"); }
  HRESULT get_Kind(ITTrackKind* kind) override {
    if (!kind) return E_POINTER;
    long value = 0;
    HRESULT hr = this->GetLong("get_Kind", &value);
    if (SUCCEEDED(hr)) *kind = static_cast<ITTrackKind>(value);
    return hr;
  }
  HRESULT get_Playlist(std::shared_ptr<IITPlaylist>* playlist) override {
    return this->GetObject("get_Playlist", playlist);
  }
  HRESULT get_Album(std::string* album) override { return this->GetString("get_Album", album); }
  HRESULT get_Artist(std::string* artist) override { return this->GetString("get_Artist", artist); }
  HRESULT get_Genre(std::string* genre) override { return this->GetString("get_Genre", genre); }
  HRESULT get_PlayOrderIndex(long* index) override { return this->GetLong("get_PlayOrderIndex", index); }
  HRESULT get_Rating(long* rating) override { return this->GetLong("get_Rating", rating); }
  HRESULT get_Time(std::string* time) override { return this->GetString("get_Time", time); }
};

class TrackObject final : public TrackImpl<IITTrack> {
 public:
  using TrackImpl::TrackImpl;
};

class FileTrackObject final : public TrackImpl<IITFileOrCDTrack> {
 public:
  using TrackImpl::TrackImpl;
  HRESULT get_Location(std::string* location) override { return GetString("get_Location", location); }
};

class BrowserWindowObject final : public IITBrowserWindow, public Remote {
 public:
  using Remote::Remote;
  HRESULT put_Visible(bool visible) override { return Invoke("put_Visible", {{"value", visible}}); }
  HRESULT put_Minimized(bool minimized) override { return Invoke("put_Minimized", {{"value", minimized}}); }
  HRESULT put_MiniPlayer(bool miniPlayer) override { return Invoke("put_MiniPlayer", {{"value", miniPlayer}}); }
  HRESULT put_SelectedPlaylist(const std::shared_ptr<IITPlaylist>& playlist) override {
    const json* ref = RefOf(playlist.get(), dynamic_cast<const Remote*>(playlist.get()));
    if (!ref) return E_INVALIDARG;
    return Invoke("put_SelectedPlaylist", {{"playlist", *ref}});
  }
};

class ConnectionPointObject final : public IConnectionPoint {
 public:
  explicit ConnectionPointObject(std::shared_ptr<Channel> channel) : channel_(std::move(channel)) {}
  HRESULT Advise(IiTunesEvents* sink, DWORD* cookie) override {
    if (!sink || !cookie) return E_POINTER;
    return channel_->AddSink(sink, cookie);
  }
  HRESULT Unadvise(DWORD cookie) override { return channel_->RemoveSink(cookie); }

 private:
  std::shared_ptr<Channel> channel_;
};

class AppObject final : public IiTunes, public IConnectionPointContainer, public Remote {
 public:
  explicit AppObject(std::shared_ptr<Channel> channel) : Remote(std::move(channel), {{"k", "app"}}) {}

  HRESULT BackTrack() override { return Invoke("BackTrack"); }
  HRESULT NextTrack() override { return Invoke("NextTrack"); }
  HRESULT Play() override { return Invoke("Play"); }
  HRESULT PlayFile(const std::string& filePath) override { return Invoke("PlayFile", {{"path", filePath}}); }
  HRESULT Stop() override { return Invoke("Stop"); }
  HRESULT Pause() override { return Invoke("Pause"); }
  HRESULT CheckVersion(long majorVersion, long minorVersion, bool* isCompatible) override {
    if (!isCompatible) return E_POINTER;
    json result;
    HRESULT hr = Invoke("CheckVersion", {{"major", majorVersion}, {"minor", minorVersion}}, &result);
    if (FAILED(hr)) return hr;
    auto it = result.find("value");
    if (it == result.end() || !it->is_boolean()) return E_FAIL;
    *isCompatible = it->get<bool>();
    return hr;
  }
  HRESULT GetITObjectByID(long sourceID, long playlistID, long trackID, long databaseID,
                          std::shared_ptr<IITObject>* object) override {
    return GetObject("GetITObjectByID", object,
                     {{"s", sourceID}, {"p", playlistID}, {"t", trackID}, {"d", databaseID}});
  }
  HRESULT CreatePlaylist(const std::string& name, std::shared_ptr<IITPlaylist>* playlist) override {
    return GetObject("CreatePlaylist", playlist, {{"name", name}});
  }
  HRESULT get_PlayerState(ITPlayerState* state) override {
    if (!state) return E_POINTER;
    long value = 0;
    HRESULT hr = GetLong("get_PlayerState", &value);
    if (SUCCEEDED(hr)) *state = static_cast<ITPlayerState>(value);
    return hr;
  }
  HRESULT get_PlayerPosition(long* seconds) override { return GetLong("get_PlayerPosition", seconds); }
  HRESULT get_BrowserWindow(std::shared_ptr<IITBrowserWindow>* window) override {
    return GetObject("get_BrowserWindow", window);
  }
  HRESULT get_LibrarySource(std::shared_ptr<IITSource>* source) override {
    return GetObject("get_LibrarySource", source);
  }
  HRESULT get_LibraryPlaylist(std::shared_ptr<IITPlaylist>* playlist) override {
    return GetObject("get_LibraryPlaylist", playlist);
  }
  HRESULT get_CurrentTrack(std::shared_ptr<IITTrack>* track) override { return GetObject("get_CurrentTrack", track); }
  HRESULT CreateFolder(const std::string& name, std::shared_ptr<IITPlaylist>* folder) override {
    return GetObject("CreateFolder", folder, {{"name", name}});
  }

  HRESULT FindConnectionPoint(const IID& iid, std::shared_ptr<IConnectionPoint>* point) override {
    if (!point) return E_POINTER;
    point->reset();
    if (!(iid == DIID_IiTunesEvents)) return CONNECT_E_NOCONNECTION;
    *point = std::make_shared<ConnectionPointObject>(GetChannel());
    return S_OK;
  }
};

// Proxies of every kind that a reference can name; all null for a bad reference.
struct Made {
  std::shared_ptr<IITObject> object;
  std::shared_ptr<IITPlaylistCollection> playlists;
  std::shared_ptr<IITTrackCollection> tracks;
  std::shared_ptr<IITBrowserWindow> browser;
};

Made MakeAny(const std::shared_ptr<Channel>& channel, const json& ref) {
  Made made;
  if (!ref.is_object()) return made;
  auto k = ref.find("k");
  if (k == ref.end() || !k->is_string()) return made;
  const std::string kind = k->get<std::string>();
  auto flag = [&](const char* key) {
    auto it = ref.find(key);
    return it != ref.end() && it->is_boolean() && it->get<bool>();
  };
  if (kind == "source") {
    made.object = std::make_shared<SourceObject>(channel, ref);
  } else if (kind == "playlist") {
    if (flag("u"))
      made.object = std::make_shared<UserPlaylistObject>(channel, ref);
    else
      made.object = std::make_shared<PlaylistObject>(channel, ref);
  } else if (kind == "track") {
    if (flag("f"))
      made.object = std::make_shared<FileTrackObject>(channel, ref);
    else
      made.object = std::make_shared<TrackObject>(channel, ref);
  } else if (kind == "playlists") {
    made.playlists = std::make_shared<PlaylistCollectionObject>(channel, ref);
  } else if (kind == "tracks") {
    made.tracks = std::make_shared<TrackCollectionObject>(channel, ref);
  } else if (kind == "browser") {
    made.browser = std::make_shared<BrowserWindowObject>(channel, ref);
  }
  return made;
}

template <class T>
std::shared_ptr<T> Remote::Make(const json& ref) const {
  Made made = MakeAny(channel_, ref);
  if constexpr (std::is_same_v<T, IITPlaylistCollection>) {
    return made.playlists;
  } else if constexpr (std::is_same_v<T, IITTrackCollection>) {
    return made.tracks;
  } else if constexpr (std::is_same_v<T, IITBrowserWindow>) {
    return made.browser;
  } else {
    return std::dynamic_pointer_cast<T>(made.object);
  }
}

std::shared_ptr<IITObject> MakeObject(const std::shared_ptr<Channel>& channel, const json& ref) {
  return MakeAny(channel, ref).object;
}

HRESULT Channel::AddSink(IiTunesEvents* sink, DWORD* cookie) {
  json ignored;
  if (HRESULT hr = Call("Advise", {{"k", "app"}}, json::object(), &ignored); FAILED(hr)) return hr;
  platform::EnsureMessageQueue();
  std::lock_guard lock(sinks_->mutex);
  *cookie = sinks_->nextCookie++;
  sinks_->sinks[*cookie] = SinkTable::Sink{sink, GetCurrentThreadId()};
  return S_OK;
}

HRESULT Channel::RemoveSink(DWORD cookie) {
  {
    std::lock_guard lock(sinks_->mutex);
    if (!sinks_->sinks.erase(cookie)) return CONNECT_E_NOCONNECTION;
  }
  // The sink is gone here whatever the player says; telling it is a courtesy.
  json ignored;
  Call("Unadvise", {{"k", "app"}}, json::object(), &ignored);
  return S_OK;
}

void Channel::DeliverEvent(const json& event) {
  std::vector<std::pair<DWORD, DWORD>> targets;  // cookie, thread
  {
    std::lock_guard lock(sinks_->mutex);
    for (const auto& [cookie, sink] : sinks_->sinks) targets.emplace_back(cookie, sink.threadId);
  }
  if (targets.empty()) return;
  auto id = event.find("event");
  auto args = event.find("args");
  if (id == event.end() || !id->is_number_integer() || args == event.end() || !args->is_array()) return;
  auto self = shared_from_this();
  auto decoded = std::make_shared<std::vector<EventArg>>();
  for (const json& a : *args) {
    if (!a.is_object()) return;
    if (auto obj = a.find("obj"); obj != a.end()) {
      decoded->emplace_back(MakeObject(self, *obj));
    } else if (auto n = a.find("n"); n != a.end() && n->is_number_integer()) {
      decoded->emplace_back(n->get<long>());
    } else if (auto rows = a.find("rows"); rows != a.end() && rows->is_array()) {
      ObjectIDRows list;
      for (const json& r : *rows) {
        if (!r.is_array() || r.size() != 4) return;
        ObjectIDRow row{};
        for (size_t i = 0; i < 4; ++i) {
          if (!r[i].is_number_integer()) return;
          row[i] = r[i].get<long>();
        }
        list.push_back(row);
      }
      decoded->emplace_back(std::move(list));
    } else {
      decoded->emplace_back(std::monostate{});
    }
  }
  const DISPID dispId = id->get<DISPID>();
  if (dispId == ITEventAboutToPromptUserToQuit || dispId == ITEventQuitting) quitAnnounced_ = true;
  for (const auto& [cookie, thread] : targets) {
    platform::PostThreadCall(thread, [table = sinks_, cookie = cookie, dispId, decoded] {
      IiTunesEvents* sink = nullptr;
      {
        std::lock_guard lock(table->mutex);
        auto it = table->sinks.find(cookie);
        if (it != table->sinks.end()) sink = it->second.sink;
      }
      if (sink) sink->Invoke(dispId, *decoded);
    });
  }
}

void Channel::DeliverLoss() {
  if (quitAnnounced_.exchange(true)) return;
  DeliverEvent({{"event", ITEventAboutToPromptUserToQuit}, {"args", json::array({{{"n", kPlayerLost}}})}});
}

// --- the server's socket

// How often a call waiting for its answer looks at the program's clock.
constexpr auto kCallClockLook = std::chrono::milliseconds(50);

struct SocketCore {
  platform::UniqueFd fd;
  std::mutex writeMutex;
  std::mutex mutex;
  std::condition_variable answered;
  std::map<long, json> answers;
  bool closed = false;
  long nextId = 1;

  void MarkClosed() {
    std::lock_guard lock(mutex);
    closed = true;
    answered.notify_all();
  }
};

class SocketChannel final : public Channel {
 public:
  explicit SocketChannel(int fd) : core_(std::make_shared<SocketCore>()) { core_->fd.Reset(fd); }

  ~SocketChannel() override {
    ::shutdown(core_->fd.Get(), SHUT_RDWR);
    if (reader_.joinable()) {
      // The reader may hold the last reference for a moment; it then ends on its own.
      if (reader_.get_id() == std::this_thread::get_id())
        reader_.detach();
      else
        reader_.join();
    }
  }

  void Start() {
    std::weak_ptr<Channel> weak = weak_from_this();
    reader_ = std::thread([core = core_, weak] { ReadLoop(core, weak); });
  }

  HRESULT Call(const std::string& op, const json& target, const json& args, json* result) override {
    long id;
    {
      std::lock_guard lock(core_->mutex);
      if (core_->closed) return RPC_E_DISCONNECTED;
      id = core_->nextId++;
    }
    const std::string line = ToProtocolLine({{"id", id}, {"op", op}, {"target", target}, {"args", args}});
    if (line.size() > kMaxRequestLine + 1) return E_INVALIDARG;  // the player would refuse it unanswered
    {
      std::lock_guard lock(core_->writeMutex);
      if (!SendAll(core_->fd.Get(), line)) {
        core_->MarkClosed();
        return RPC_E_DISCONNECTED;
      }
    }
    json answer;
    {
      std::unique_lock lock(core_->mutex);
      const PlayerWait wait;
      while (!core_->closed && core_->answers.count(id) == 0) {
        if (wait.Over()) {
          // A player that stopped answering is one that went away: every
          // later call fails at once, and the reader ends with the connection.
          core_->closed = true;
          core_->answered.notify_all();
          ::shutdown(core_->fd.Get(), SHUT_RDWR);
          break;
        }
        core_->answered.wait_for(lock, kCallClockLook);
      }
      auto it = core_->answers.find(id);
      if (it == core_->answers.end()) return RPC_E_DISCONNECTED;
      answer = std::move(it->second);
      core_->answers.erase(it);
    }
    auto hr = answer.find("hr");
    if (hr == answer.end() || !hr->is_number_integer()) return E_FAIL;
    if (auto r = answer.find("result"); r != answer.end() && r->is_object()) *result = std::move(*r);
    return hr->get<HRESULT>();
  }

 private:
  static void ReadLoop(const std::shared_ptr<SocketCore>& core, const std::weak_ptr<Channel>& weak) {
    std::string buffer, line;
    while (ReadLine(core->fd.Get(), buffer, &line)) {
      json message = json::parse(line, nullptr, false);
      if (!message.is_object()) continue;
      if (message.contains("event")) {
        if (auto channel = weak.lock()) channel->DeliverEvent(message);
        continue;
      }
      auto id = message.find("id");
      if (id == message.end() || !id->is_number_integer()) continue;
      const long key = id->get<long>();
      std::lock_guard lock(core->mutex);
      core->answers[key] = std::move(message);
      core->answered.notify_all();
    }
    core->MarkClosed();
    // Ended by the player's side, or by a call it left unanswered; not by
    // this side letting the channel go (the channel is gone then).
    if (auto channel = weak.lock()) channel->DeliverLoss();
  }

  std::shared_ptr<SocketCore> core_;
  std::thread reader_;
};

}  // namespace

// --- the in-process model

struct InProcessBinding {
  PlayerModel* model = nullptr;
  std::shared_mutex callMutex;  // calls share it; the guard's end takes it alone
  std::mutex channelsMutex;
  std::vector<std::weak_ptr<Channel>> channels;
  int listener = 0;
};

namespace {

std::mutex theBindingMutex;
std::shared_ptr<InProcessBinding> theBinding;

std::shared_ptr<InProcessBinding> CurrentBinding() {
  std::lock_guard lock(theBindingMutex);
  return theBinding;
}

class InProcessChannel final : public Channel {
 public:
  explicit InProcessChannel(std::shared_ptr<InProcessBinding> binding) : binding_(std::move(binding)) {}

  HRESULT Call(const std::string& op, const json& target, const json& args, json* result) override {
    std::shared_lock lock(binding_->callMutex);
    if (!binding_->model) return RPC_E_DISCONNECTED;
    ProtocolHandler handler(*binding_->model);
    json answer;
    {
      std::lock_guard clientLock(clientMutex_);
      answer = handler.Handle({{"op", op}, {"target", target}, {"args", args}}, client_);
    }
    auto hr = answer.find("hr");
    if (hr == answer.end() || !hr->is_number_integer()) return E_FAIL;
    if (auto r = answer.find("result"); r != answer.end() && r->is_object()) *result = std::move(*r);
    return hr->get<HRESULT>();
  }

 private:
  std::shared_ptr<InProcessBinding> binding_;
  std::mutex clientMutex_;
  ClientState client_;
};

}  // namespace

ScopedInProcessPlayer::ScopedInProcessPlayer(PlayerModel& model) : binding_(std::make_shared<InProcessBinding>()) {
  binding_->model = &model;
  std::weak_ptr<InProcessBinding> weak = binding_;
  binding_->listener = model.AddListener([weak](const PlayerEvent& event) {
    auto binding = weak.lock();
    if (!binding) return;
    const json message = EventToJson(event);
    std::vector<std::shared_ptr<Channel>> live;
    {
      std::lock_guard lock(binding->channelsMutex);
      auto& list = binding->channels;
      list.erase(std::remove_if(list.begin(), list.end(), [](const auto& w) { return w.expired(); }), list.end());
      for (const auto& w : list)
        if (auto c = w.lock()) live.push_back(std::move(c));
    }
    for (const auto& c : live) c->DeliverEvent(message);
  });
  std::lock_guard lock(theBindingMutex);
  previous_ = theBinding;
  theBinding = binding_;
}

ScopedInProcessPlayer::~ScopedInProcessPlayer() {
  {
    std::lock_guard lock(theBindingMutex);
    theBinding = previous_;
  }
  binding_->model->RemoveListener(binding_->listener);
  std::unique_lock lock(binding_->callMutex);
  binding_->model = nullptr;
}

bool BoundApp(std::shared_ptr<IiTunes>* app) {
  auto binding = CurrentBinding();
  if (!binding) return false;
  auto channel = std::make_shared<InProcessChannel>(binding);
  {
    std::lock_guard lock(binding->channelsMutex);
    binding->channels.push_back(channel);
  }
  *app = std::make_shared<AppObject>(channel);
  return true;
}

std::optional<bool> BoundPlayerRunning() {
  auto binding = CurrentBinding();
  if (!binding) return std::nullopt;
  std::shared_lock lock(binding->callMutex);
  return binding->model && !binding->model->HasQuit();
}

HRESULT CoCreateStandInApp(std::shared_ptr<IiTunes>* app, std::mutex& activation,
                           const std::function<bool()>& activate) {
  std::string refused;
  int fd = ConnectToPlayer(PlayerSocketPath(), &refused);
  if (fd < 0 && refused.empty()) {
    // No player runs: activate the registered one, as the desktop starts a
    // local server for its first client.
    std::lock_guard lock(activation);
    fd = ConnectToPlayer(PlayerSocketPath(), &refused);
    if (fd < 0 && refused.empty() && activate()) fd = ConnectToPlayer(PlayerSocketPath(), &refused);
  }
  if (fd < 0) return refused.empty() ? CO_E_SERVER_EXEC_FAILURE : E_ACCESSDENIED;
  auto channel = std::make_shared<SocketChannel>(fd);
  channel->Start();
  json result;
  HRESULT hr = channel->Call("hello", {{"k", "app"}}, json::object(), &result);
  auto protocol = result.find("protocol");
  if (FAILED(hr) || protocol == result.end() || !protocol->is_number_integer() ||
      protocol->get<int>() != kPlayerProtocolVersion)
    return CO_E_SERVER_EXEC_FAILURE;
  *app = std::make_shared<AppObject>(channel);
  return S_OK;
}

bool IsStandInRunning() {
  std::string refused;
  return platform::UniqueFd(ConnectToPlayer(PlayerSocketPath(), &refused)).IsDefined();
}

}  // namespace platform::player

#include "platform/player/standin/PlayerProtocol.h"

#include <climits>
#include <cstdio>
#include <map>
#include <stdexcept>

namespace platform::player {
namespace {

using nlohmann::json;

class BadRequest : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

long ReadLong(const json& j, const char* what) {
  if (j.is_number_unsigned()) {
    auto v = j.get<unsigned long long>();
    if (v <= static_cast<unsigned long long>(LONG_MAX)) return static_cast<long>(v);
  } else if (j.is_number_integer()) {
    auto v = j.get<long long>();
    if (v >= LONG_MIN && v <= LONG_MAX) return static_cast<long>(v);
  }
  throw BadRequest(std::string(what) + " must be an integer");
}

const json& Arg(const json& args, const char* key) {
  auto it = args.find(key);
  if (it == args.end()) throw BadRequest(std::string("missing argument \"") + key + "\"");
  return *it;
}
long LongArg(const json& args, const char* key) { return ReadLong(Arg(args, key), key); }
std::string StringArg(const json& args, const char* key) {
  const json& v = Arg(args, key);
  if (!v.is_string()) throw BadRequest(std::string(key) + " must be a string");
  return v.get<std::string>();
}
bool BoolArg(const json& args, const char* key) {
  const json& v = Arg(args, key);
  if (!v.is_boolean()) throw BadRequest(std::string(key) + " must be true or false");
  return v.get<bool>();
}

long IdOf(const json& ref, const char* key) {
  auto it = ref.find(key);
  return it == ref.end() ? 0 : ReadLong(*it, key);
}

// The reference in `ref`, which must be of `kind`.
ObjectRef ParseRef(const json& ref, ObjectKind kind) {
  ObjectRef r;
  r.kind = kind;
  r.sourceId = IdOf(ref, "s");
  r.playlistId = IdOf(ref, "p");
  r.trackId = IdOf(ref, "t");
  r.databaseId = IdOf(ref, "d");
  return r;
}

ObjectRef ObjectArg(const json& args, const char* key, ObjectKind kind, const char* kindName) {
  const json& v = Arg(args, key);
  if (!v.is_object()) throw BadRequest(std::string(key) + " must be an object reference");
  auto k = v.find("k");
  if (k == v.end() || !k->is_string() || k->get<std::string>() != kindName)
    throw BadRequest(std::string(key) + " must be a " + kindName);
  return ParseRef(v, kind);
}

std::string TimeText(long seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", seconds / 60, seconds % 60);
  return text;
}

class Call {
 public:
  Call(PlayerModel& m, const json& t, const json& a, ClientState& s) : model(m), target(t), args(a), client(s) {}

  json RefJson(const ObjectRef& r) {
    json j;
    switch (r.kind) {
      case ObjectKind::Source:
        j = {{"k", "source"}, {"s", r.sourceId}};
        break;
      case ObjectKind::Playlist:
        j = {{"k", "playlist"}, {"s", r.sourceId}, {"p", r.playlistId}, {"u", model.FacetsOf(r).userPlaylist}};
        break;
      case ObjectKind::Track:
        j = {{"k", "track"},   {"s", r.sourceId},   {"p", r.playlistId},
             {"t", r.trackId}, {"d", r.databaseId}, {"f", model.FacetsOf(r).fileOrCDTrack}};
        break;
    }
    return j;
  }
  HRESULT Object(HRESULT hr, const std::optional<ObjectRef>& r) {
    result["object"] = SUCCEEDED(hr) && r ? RefJson(*r) : json(nullptr);
    return hr;
  }
  template <class T>
  HRESULT Value(HRESULT hr, const T& value) {
    if (SUCCEEDED(hr)) result["value"] = value;
    return hr;
  }
  ObjectRef Target(ObjectKind kind) const { return ParseRef(target, kind); }

  PlayerModel& model;
  const json& target;
  const json& args;
  ClientState& client;
  json result = json::object();
};

using Handler = std::function<HRESULT(Call&)>;

HRESULT UserPlaylistOnly(Call& c, ObjectRef* playlist) {
  *playlist = c.Target(ObjectKind::Playlist);
  if (HRESULT hr = c.model.CheckObject(*playlist); FAILED(hr)) return hr;
  return c.model.FacetsOf(*playlist).userPlaylist ? S_OK : E_NOINTERFACE;
}

HRESULT TrackField(Call& c, const std::function<json(const TrackInfo&)>& field) {
  TrackInfo info;
  HRESULT hr = c.model.GetTrackInfo(c.Target(ObjectKind::Track), &info);
  if (SUCCEEDED(hr)) c.result["value"] = field(info);
  return hr;
}

// What only a user playlist tells of itself.
template <class T>
HRESULT UserPlaylistField(Call& c, T PlaylistInfo::*field) {
  ObjectRef r;
  if (HRESULT hr = UserPlaylistOnly(c, &r); FAILED(hr)) return hr;
  PlaylistInfo info;
  HRESULT hr = c.model.GetPlaylistInfo(r, &info);
  return c.Value(hr, info.*field);
}

HRESULT ObjectIds(Call& c, ObjectKind kind, long ObjectRef::*member) {
  ObjectRef r = c.Target(kind);
  HRESULT hr = c.model.CheckObject(r);
  return c.Value(hr, r.*member);
}

const std::map<std::string, Handler>& Handlers() {
  static const std::map<std::string, Handler> handlers = [] {
    std::map<std::string, Handler> h;
    // Connection.
    h["app.hello"] = [](Call& c) {
      c.result["protocol"] = kPlayerProtocolVersion;
      c.result["server"] = "zorva-player";
      return S_OK;
    };
    h["app.Advise"] = [](Call& c) {
      ++c.client.subscriptions;
      return S_OK;
    };
    h["app.Unadvise"] = [](Call& c) {
      if (c.client.subscriptions == 0) return CONNECT_E_NOCONNECTION;
      --c.client.subscriptions;
      return S_OK;
    };
    // The application.
    h["app.BackTrack"] = [](Call& c) { return c.model.BackTrack(); };
    h["app.NextTrack"] = [](Call& c) { return c.model.NextTrack(); };
    h["app.Play"] = [](Call& c) { return c.model.Play(); };
    h["app.Stop"] = [](Call& c) { return c.model.Stop(); };
    h["app.Pause"] = [](Call& c) { return c.model.Pause(); };
    h["app.PlayFile"] = [](Call& c) { return c.model.PlayFile(StringArg(c.args, "path")); };
    h["app.CheckVersion"] = [](Call& c) {
      bool compatible = false;
      HRESULT hr = c.model.CheckVersion(LongArg(c.args, "major"), LongArg(c.args, "minor"), &compatible);
      return c.Value(hr, compatible);
    };
    h["app.GetITObjectByID"] = [](Call& c) {
      std::optional<ObjectRef> r;
      HRESULT hr = c.model.GetObjectByIds(LongArg(c.args, "s"), LongArg(c.args, "p"), LongArg(c.args, "t"),
                                          LongArg(c.args, "d"), &r);
      return c.Object(hr, r);
    };
    h["app.CreatePlaylist"] = [](Call& c) {
      ObjectRef r;
      HRESULT hr = c.model.CreatePlaylist(StringArg(c.args, "name"), &r);
      return c.Object(hr, r);
    };
    h["app.CreateFolder"] = [](Call& c) {
      ObjectRef r;
      HRESULT hr = c.model.CreateFolder(StringArg(c.args, "name"), &r);
      return c.Object(hr, r);
    };
    h["app.get_PlayerState"] = [](Call& c) {
      long state = 0;
      HRESULT hr = c.model.GetPlayerState(&state);
      return c.Value(hr, state);
    };
    h["app.get_PlayerPosition"] = [](Call& c) {
      long seconds = 0;
      HRESULT hr = c.model.GetPlayerPosition(&seconds);
      return c.Value(hr, seconds);
    };
    h["app.get_BrowserWindow"] = [](Call& c) {
      HRESULT hr = c.model.CheckCalls();
      if (SUCCEEDED(hr)) c.result["object"] = {{"k", "browser"}};
      return hr;
    };
    h["app.get_LibrarySource"] = [](Call& c) {
      ObjectRef r;
      HRESULT hr = c.model.GetLibrarySource(&r);
      return c.Object(hr, r);
    };
    h["app.get_LibraryPlaylist"] = [](Call& c) {
      ObjectRef r;
      HRESULT hr = c.model.GetLibraryPlaylist(&r);
      return c.Object(hr, r);
    };
    h["app.get_CurrentTrack"] = [](Call& c) {
      std::optional<ObjectRef> r;
      HRESULT hr = c.model.GetCurrentTrack(&r);
      return c.Object(hr, r);
    };
    // Every object.
    const std::pair<const char*, ObjectKind> kinds[] = {
        {"source", ObjectKind::Source}, {"playlist", ObjectKind::Playlist}, {"track", ObjectKind::Track}};
    for (const auto& [name, kind] : kinds) {
      const std::string prefix = std::string(name) + ".";
      const ObjectKind k = kind;
      h[prefix + "get_Name"] = [k](Call& c) {
        std::string text;
        HRESULT hr = c.model.GetName(c.Target(k), &text);
        return c.Value(hr, text);
      };
      h[prefix + "get_SourceID"] = [k](Call& c) { return ObjectIds(c, k, &ObjectRef::sourceId); };
      h[prefix + "get_PlaylistID"] = [k](Call& c) { return ObjectIds(c, k, &ObjectRef::playlistId); };
      h[prefix + "get_TrackDatabaseID"] = [k](Call& c) { return ObjectIds(c, k, &ObjectRef::databaseId); };
    }
    // The source and its playlists.
    h["source.get_Playlists"] = [](Call& c) {
      ObjectRef r = c.Target(ObjectKind::Source);
      HRESULT hr = c.model.CheckObject(r);
      if (SUCCEEDED(hr)) c.result["object"] = {{"k", "playlists"}, {"s", r.sourceId}};
      return hr;
    };
    h["playlists.get_Count"] = [](Call& c) {
      long count = 0;
      HRESULT hr = c.model.GetPlaylistCount(c.Target(ObjectKind::Source), &count);
      return c.Value(hr, count);
    };
    h["playlists.get_Item"] = [](Call& c) {
      ObjectRef r;
      HRESULT hr = c.model.GetPlaylistItem(c.Target(ObjectKind::Source), LongArg(c.args, "index"), &r);
      return c.Object(hr, r);
    };
    // Playlists.
    h["playlist.PlayFirstTrack"] = [](Call& c) { return c.model.PlayFirstTrack(c.Target(ObjectKind::Playlist)); };
    h["playlist.get_Shuffle"] = [](Call& c) {
      PlaylistInfo info;
      HRESULT hr = c.model.GetPlaylistInfo(c.Target(ObjectKind::Playlist), &info);
      return c.Value(hr, info.shuffle);
    };
    h["playlist.get_Tracks"] = [](Call& c) {
      ObjectRef r = c.Target(ObjectKind::Playlist);
      HRESULT hr = c.model.CheckObject(r);
      if (SUCCEEDED(hr)) c.result["object"] = {{"k", "tracks"}, {"s", r.sourceId}, {"p", r.playlistId}};
      return hr;
    };
    h["playlist.AddFiles"] = [](Call& c) {
      const json& paths = Arg(c.args, "paths");
      if (!paths.is_array()) throw BadRequest("paths must be an array");
      std::vector<std::string> list;
      for (const json& p : paths) {
        if (!p.is_string()) throw BadRequest("paths must hold strings");
        list.push_back(p.get<std::string>());
      }
      ObjectRef r;
      if (HRESULT hr = UserPlaylistOnly(c, &r); FAILED(hr)) return hr;
      return c.model.AddFiles(r, list);
    };
    h["playlist.AddTrack"] = [](Call& c) {
      ObjectRef track = ObjectArg(c.args, "track", ObjectKind::Track, "track");
      ObjectRef r, added;
      if (HRESULT hr = UserPlaylistOnly(c, &r); FAILED(hr)) return hr;
      HRESULT hr = c.model.AddTrack(r, track, &added);
      return c.Object(hr, added);
    };
    h["playlist.get_Smart"] = [](Call& c) { return UserPlaylistField(c, &PlaylistInfo::smart); };
    h["playlist.get_SpecialKind"] = [](Call& c) { return UserPlaylistField(c, &PlaylistInfo::specialKind); };
    h["playlist.get_Parent"] = [](Call& c) {
      ObjectRef r;
      if (HRESULT hr = UserPlaylistOnly(c, &r); FAILED(hr)) return hr;
      std::optional<ObjectRef> parent;
      HRESULT hr = c.model.GetParent(r, &parent);
      return c.Object(hr, parent);
    };
    h["playlist.CreatePlaylist"] = [](Call& c) {
      std::string name = StringArg(c.args, "name");
      ObjectRef r, created;
      if (HRESULT hr = UserPlaylistOnly(c, &r); FAILED(hr)) return hr;
      HRESULT hr = c.model.CreatePlaylistInFolder(r, name, &created);
      return c.Object(hr, created);
    };
    // A playlist's tracks.
    h["tracks.get_Count"] = [](Call& c) {
      long count = 0;
      HRESULT hr = c.model.GetTrackCount(c.Target(ObjectKind::Playlist), &count);
      return c.Value(hr, count);
    };
    h["tracks.get_Item"] = [](Call& c) {
      ObjectRef r;
      HRESULT hr = c.model.GetTrackItem(c.Target(ObjectKind::Playlist), LongArg(c.args, "index"), false, &r);
      return c.Object(hr, r);
    };
    h["tracks.get_ItemByPlayOrder"] = [](Call& c) {
      ObjectRef r;
      HRESULT hr = c.model.GetTrackItem(c.Target(ObjectKind::Playlist), LongArg(c.args, "index"), true, &r);
      return c.Object(hr, r);
    };
    // Tracks.
    h["track.Delete"] = [](Call& c) { return c.model.DeleteTrack(c.Target(ObjectKind::Track)); };
    h["track.Play"] = [](Call& c) { return c.model.PlayTrack(c.Target(ObjectKind::Track)); };
    h["track.get_Kind"] = [](Call& c) { return TrackField(c, [](const TrackInfo& i) { return json(i.data.kind); }); };
    h["track.get_Album"] = [](Call& c) { return TrackField(c, [](const TrackInfo& i) { return json(i.data.album); }); };
    h["track.get_Artist"] = [](Call& c) {
      return TrackField(c, [](const TrackInfo& i) { return json(i.data.artist); });
    };
    h["track.get_Genre"] = [](Call& c) { return TrackField(c, [](const TrackInfo& i) { return json(i.data.genre); }); };
    h["track.get_Rating"] = [](Call& c) {
      return TrackField(c, [](const TrackInfo& i) { return json(i.data.rating); });
    };
    h["track.get_Time"] = [](Call& c) {
      return TrackField(c, [](const TrackInfo& i) { return json(TimeText(i.data.seconds)); });
    };
    h["track.get_PlayOrderIndex"] = [](Call& c) {
      return TrackField(c, [](const TrackInfo& i) { return json(i.playOrderIndex); });
    };
    h["track.get_Location"] = [](Call& c) {
      ObjectRef r = c.Target(ObjectKind::Track);
      if (HRESULT hr = c.model.CheckObject(r); FAILED(hr)) return hr;
      if (!c.model.FacetsOf(r).fileOrCDTrack) return E_NOINTERFACE;
      return TrackField(c, [](const TrackInfo& i) { return json(i.data.location); });
    };
    h["track.get_Playlist"] = [](Call& c) {
      TrackInfo info;
      HRESULT hr = c.model.GetTrackInfo(c.Target(ObjectKind::Track), &info);
      return c.Object(hr, ObjectRef{ObjectKind::Playlist, c.Target(ObjectKind::Track).sourceId, info.playlistId, 0, 0});
    };
    // The browser window.
    h["browser.put_MiniPlayer"] = [](Call& c) { return c.model.SetMiniPlayer(BoolArg(c.args, "value")); };
    h["browser.put_Visible"] = [](Call& c) { return c.model.SetBrowserVisible(BoolArg(c.args, "value")); };
    h["browser.put_Minimized"] = [](Call& c) { return c.model.SetBrowserMinimized(BoolArg(c.args, "value")); };
    h["browser.put_SelectedPlaylist"] = [](Call& c) {
      return c.model.SetSelectedPlaylist(ObjectArg(c.args, "playlist", ObjectKind::Playlist, "playlist"));
    };
    return h;
  }();
  return handlers;
}

json RowsJson(const ObjectIDRows& rows) {
  json list = json::array();
  for (const ObjectIDRow& r : rows) list.push_back({r[0], r[1], r[2], r[3]});
  return list;
}

}  // namespace

json FailureAnswer(const json& id, HRESULT hr, const std::string& error) {
  return {{"id", id}, {"hr", hr}, {"error", error}};
}

json ProtocolHandler::Handle(const json& request, ClientState& client) {
  json id = nullptr;
  try {
    if (!request.is_object()) return FailureAnswer(id, E_INVALIDARG, "a request must be an object");
    if (auto it = request.find("id"); it != request.end()) {
      if (!it->is_number_integer()) return FailureAnswer(id, E_INVALIDARG, "id must be an integer");
      id = *it;
    }
    auto op = request.find("op");
    if (op == request.end() || !op->is_string()) return FailureAnswer(id, E_INVALIDARG, "op must be a string");
    static const json kEmpty = json::object();
    const json* args = &kEmpty;
    if (auto it = request.find("args"); it != request.end()) {
      if (!it->is_object()) return FailureAnswer(id, E_INVALIDARG, "args must be an object");
      args = &*it;
    }
    const std::string name = op->get<std::string>();
    if (name.rfind("ctl.", 0) == 0) {
      std::optional<json> answer = extension_ ? extension_(name, *args) : std::nullopt;
      if (!answer) return FailureAnswer(id, E_INVALIDARG, "unknown operation \"" + name + "\"");
      (*answer)["id"] = id;
      return *answer;
    }
    const json* target = &kEmpty;
    std::string kind = "app";
    if (auto it = request.find("target"); it != request.end()) {
      if (!it->is_object()) return FailureAnswer(id, E_INVALIDARG, "target must be an object");
      auto k = it->find("k");
      if (k == it->end() || !k->is_string()) return FailureAnswer(id, E_INVALIDARG, "target needs a kind");
      kind = k->get<std::string>();
      target = &*it;
    }
    const auto& handlers = Handlers();
    auto handler = handlers.find(kind + "." + name);
    if (handler == handlers.end())
      return FailureAnswer(id, E_INVALIDARG, "unknown operation \"" + name + "\" on " + kind);
    Call call(model_, *target, *args, client);
    HRESULT hr = handler->second(call);
    json answer = {{"id", id}, {"hr", hr}, {"result", std::move(call.result)}};
    return answer;
  } catch (const BadRequest& e) {
    return FailureAnswer(id, E_INVALIDARG, e.what());
  } catch (const std::exception& e) {
    return FailureAnswer(id, E_FAIL, e.what());
  }
}

namespace {

// Whether arrays and objects nest deeper than `limit` in the JSON text
// `line`; a look at each byte, before any parsing.
bool NestsDeeperThan(const std::string& line, int limit) {
  int depth = 0;
  bool inString = false, escaped = false;
  for (char c : line) {
    if (inString) {
      if (escaped)
        escaped = false;
      else if (c == '\\')
        escaped = true;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return true;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return false;
}

}  // namespace

json ProtocolHandler::HandleLine(const std::string& line, ClientState& client) {
  if (line.size() > kMaxRequestLine) return FailureAnswer(nullptr, E_INVALIDARG, "the request is too long");
  if (NestsDeeperThan(line, kMaxRequestDepth))
    return FailureAnswer(nullptr, E_INVALIDARG, "the request nests too deeply");
  json request = json::parse(line, nullptr, false);
  if (request.is_discarded()) return FailureAnswer(nullptr, E_INVALIDARG, "the request is not JSON");
  return Handle(request, client);
}

json EventToJson(const PlayerEvent& event) {
  json args = json::array();
  switch (event.id) {
    case ITEventDatabaseChanged:
      args.push_back({{"rows", RowsJson(event.deleted)}});
      args.push_back({{"rows", RowsJson(event.changed)}});
      break;
    case ITEventPlayerPlay:
    case ITEventPlayerStop:
    case ITEventPlayerPlayingTrackChanged:
      if (event.track) {
        const ObjectRef& r = *event.track;
        args.push_back({{"obj",
                         {{"k", "track"},
                          {"s", r.sourceId},
                          {"p", r.playlistId},
                          {"t", r.trackId},
                          {"d", r.databaseId},
                          {"f", event.trackKind == ITTrackKindFile || event.trackKind == ITTrackKindCD}}}});
      } else {
        args.push_back(json::object());
      }
      break;
    case ITEventCOMCallsDisabled:
    case ITEventSoundVolumeChanged:
      args.push_back({{"n", event.number}});
      break;
    default:
      break;
  }
  return {{"event", event.id}, {"args", std::move(args)}};
}

std::string ToProtocolLine(const json& message) {
  std::string line = message.dump(-1, ' ', false, json::error_handler_t::replace);
  line += '\n';
  return line;
}

}  // namespace platform::player

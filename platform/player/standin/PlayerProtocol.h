// The wire protocol between the automation objects and the player: one JSON
// object per line.
//
//   request  {"id": 7, "op": "get_Name", "target": {"k": "track", "s": 1, "p": 2, "t": 9, "d": 101}, "args": {}}
//   answer   {"id": 7, "hr": 0, "result": {"value": "Blue Hour"}}
//   failure  {"id": 7, "hr": -2147024809, "error": "bad index"}
//   event    {"event": 3, "args": [{"obj": {...}}]}
//
// Objects travel as references of a kind and ids ("app", "source",
// "playlists", "playlist", "tracks", "track", "browser"), never as pointers;
// a reference to something gone answers ITUNES_E_OBJECTDELETED. Playlist
// references carry "u" (a user playlist), track references "f" (a file or CD
// track). Every field of a request is checked; a bad one gets a failure answer.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/player/standin/PlayerModel.h"

namespace platform::player {

constexpr int kPlayerProtocolVersion = 1;
// Longest line the automation objects accept from the player (a reload's
// database-changed event names every track).
constexpr size_t kMaxProtocolLine = 16u << 20;
// Longest request the player accepts: AddFiles of a thousand paths of the
// longest length a path may have. Longer ones are refused, never sent.
constexpr size_t kMaxRequestLine = 4u << 20;
// Deepest nesting of arrays and objects in a request; the protocol needs 3
// ({"args": {"track": {...}}}).
constexpr int kMaxRequestDepth = 4;

// What one connection has asked for.
struct ClientState {
  int subscriptions = 0;  // advised sinks: events go to connections with some
};

class ProtocolHandler {
 public:
  explicit ProtocolHandler(PlayerModel& model) : model_(model) {}

  // Ops the handler does not know go here ("ctl.*" of the server); it
  // answers a whole answer object, or nothing for an unknown op.
  using Extension = std::function<std::optional<nlohmann::json>(const std::string& op, const nlohmann::json& args)>;
  void SetExtension(Extension extension) { extension_ = std::move(extension); }

  // Never throws: every failure becomes a failure answer.
  nlohmann::json Handle(const nlohmann::json& request, ClientState& client);
  // The same for a raw line (a line that is not JSON, or longer or deeper
  // than a request may be, gets a failure answer).
  nlohmann::json HandleLine(const std::string& line, ClientState& client);

  PlayerModel& Model() { return model_; }

 private:
  PlayerModel& model_;
  Extension extension_;
};

nlohmann::json EventToJson(const PlayerEvent& event);
// One line of the protocol: the object and a line feed (invalid UTF-8 replaced).
std::string ToProtocolLine(const nlohmann::json& message);
nlohmann::json FailureAnswer(const nlohmann::json& id, HRESULT hr, const std::string& error);

}  // namespace platform::player

// The exported library file: a property list of a Tracks dictionary and a
// Playlists array. Parsed with libxml2 without loading any DTD or external
// entity; a document that holds entity references is refused.
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "platform/player/ITunes.h"
#include "platform/player/Library.h"

namespace platform::player {
namespace {

constexpr int kMaxDepth = 64;

struct Value {
  enum Type { String, Integer, Real, True, False, Date, Data, Dict, Array } type = String;
  std::string text;
  long long integer = 0;
  std::vector<std::pair<std::string, Value>> dict;
  std::vector<Value> array;
  long line = 0;

  const Value* Find(const std::string& key) const {
    for (const auto& [k, v] : dict)
      if (k == key) return &v;
    return nullptr;
  }
};

const char* TypeName(Value::Type t) {
  switch (t) {
    case Value::String: return "a string";
    case Value::Integer: return "an integer";
    case Value::Real: return "a real number";
    case Value::True:
    case Value::False: return "a boolean";
    case Value::Date: return "a date";
    case Value::Data: return "data";
    case Value::Dict: return "a dictionary";
    case Value::Array: return "an array";
  }
  return "a value";
}

class Parser {
 public:
  explicit Parser(const std::string& origin) : origin_(origin) {}

  [[noreturn]] void Fail(const std::string& what, long line = 0) const {
    std::string where = line > 0 ? " (line " + std::to_string(line) + ")" : "";
    throw LibraryError(origin_ + ": " + what + where);
  }

  static bool Named(const xmlNode* n, const char* name) {
    return n->type == XML_ELEMENT_NODE && xmlStrcmp(n->name, reinterpret_cast<const xmlChar*>(name)) == 0;
  }

  std::string Text(const xmlNode* n) const {
    std::string text;
    for (const xmlNode* c = n->children; c; c = c->next) {
      if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) {
        if (c->content) text += reinterpret_cast<const char*>(c->content);
      } else if (c->type == XML_ENTITY_REF_NODE) {
        Fail("entity references are not allowed", static_cast<long>(c->line));
      } else if (c->type == XML_ELEMENT_NODE) {
        Fail(std::string("unexpected element <") + reinterpret_cast<const char*>(c->name) + ">",
             static_cast<long>(c->line));
      }
    }
    return text;
  }

  Value Convert(const xmlNode* n, int depth) const {
    const long line = static_cast<long>(n->line);
    if (depth > kMaxDepth) Fail("values nest too deeply", line);
    Value v;
    v.line = line;
    const std::string name = reinterpret_cast<const char*>(n->name);
    if (name == "string") {
      v.type = Value::String;
      v.text = Text(n);
    } else if (name == "integer") {
      v.type = Value::Integer;
      v.text = Text(n);
      errno = 0;
      char* end = nullptr;
      v.integer = std::strtoll(v.text.c_str(), &end, 10);
      if (v.text.empty() || *end != '\0' || errno == ERANGE) Fail("bad integer \"" + v.text + "\"", line);
    } else if (name == "real") {
      v.type = Value::Real;
      v.text = Text(n);
    } else if (name == "true") {
      v.type = Value::True;
    } else if (name == "false") {
      v.type = Value::False;
    } else if (name == "date") {
      v.type = Value::Date;
      v.text = Text(n);
    } else if (name == "data") {
      v.type = Value::Data;
      v.text = Text(n);
    } else if (name == "array") {
      v.type = Value::Array;
      for (const xmlNode* c = n->children; c; c = c->next) {
        if (c->type == XML_ENTITY_REF_NODE) Fail("entity references are not allowed", line);
        if (c->type == XML_ELEMENT_NODE) v.array.push_back(Convert(c, depth + 1));
      }
    } else if (name == "dict") {
      v.type = Value::Dict;
      std::string key;
      bool haveKey = false;
      for (const xmlNode* c = n->children; c; c = c->next) {
        if (c->type == XML_ENTITY_REF_NODE) Fail("entity references are not allowed", line);
        if (c->type != XML_ELEMENT_NODE) continue;
        if (Named(c, "key")) {
          if (haveKey) Fail("key \"" + key + "\" has no value", static_cast<long>(c->line));
          key = Text(c);
          haveKey = true;
          continue;
        }
        if (!haveKey) Fail("a dictionary value without a key", static_cast<long>(c->line));
        v.dict.emplace_back(key, Convert(c, depth + 1));
        haveKey = false;
      }
      if (haveKey) Fail("key \"" + key + "\" has no value", line);
    } else {
      Fail("unknown element <" + name + ">", line);
    }
    return v;
  }

  const std::string& origin_;
};

// Reads the typed fields of one dictionary, naming what it belongs to in errors.
class Fields {
 public:
  Fields(const Parser& parser, const Value& dict, std::string what)
      : parser_(parser), dict_(dict), what_(std::move(what)) {}

  const Value* Get(const char* key, Value::Type type) const {
    const Value* v = dict_.Find(key);
    if (!v) return nullptr;
    bool ok = v->type == type || (type == Value::True && v->type == Value::False);
    if (!ok) parser_.Fail(what_ + ": " + key + " is " + TypeName(v->type) + ", not " + TypeName(type), v->line);
    return v;
  }
  std::string String(const char* key) const {
    const Value* v = Get(key, Value::String);
    return v ? v->text : std::string();
  }
  long Integer(const char* key, long low, long high, long fallback) const {
    const Value* v = Get(key, Value::Integer);
    if (!v) return fallback;
    if (v->integer < low || v->integer > high)
      parser_.Fail(what_ + ": " + key + " " + std::to_string(v->integer) + " is out of range", v->line);
    return static_cast<long>(v->integer);
  }
  bool Flag(const char* key) const {
    const Value* v = Get(key, Value::True);
    return v && v->type == Value::True;
  }
  [[noreturn]] void Fail(const std::string& what) const { parser_.Fail(what_ + ": " + what, dict_.line); }

 private:
  const Parser& parser_;
  const Value& dict_;
  std::string what_;
};

long SpecialKindOf(long distinguished) {
  switch (distinguished) {
    case 0: return ITUserPlaylistSpecialKindNone;
    case 2: return ITUserPlaylistSpecialKindMovies;
    case 3: return ITUserPlaylistSpecialKindTVShows;
    case 4: return ITUserPlaylistSpecialKindMusic;
    case 5: return ITUserPlaylistSpecialKindAudiobooks;
    case 10: return ITUserPlaylistSpecialKindPodcasts;
    case 19: return ITUserPlaylistSpecialKindPurchasedMusic;
    case 20:
    case 22: return ITUserPlaylistSpecialKindPartyShuffle;
    default: return ITUserPlaylistSpecialKindOther;
  }
}

TrackData ReadTrack(const Parser& parser, const Value& dict, const std::string& key) {
  if (dict.type != Value::Dict) parser.Fail("track \"" + key + "\" is not a dictionary", dict.line);
  Fields f(parser, dict, "track \"" + key + "\"");
  TrackData t;
  t.databaseId = f.Integer("Track ID", 1, LONG_MAX, 0);
  if (t.databaseId == 0) f.Fail("no Track ID");
  t.name = f.String("Name");
  t.artist = f.String("Artist");
  t.album = f.String("Album");
  t.genre = f.String("Genre");
  f.String("Kind");
  t.seconds = f.Integer("Total Time", 0, LONG_MAX, 0) / 1000;
  t.rating = f.Integer("Rating", 0, 100, 0);
  const std::string location = f.String("Location");
  const Value* typeValue = f.Get("Track Type", Value::String);
  std::string type = typeValue ? typeValue->text : "";
  if (type.empty()) {
    if (location.rfind("file:", 0) == 0) type = "File";
    else if (!location.empty()) type = "URL";
  }
  if (type == "File") {
    t.kind = ITTrackKindFile;
    if (location.empty()) f.Fail("a file track without a Location");
    try {
      t.location = FileUrlToPath(location);
    } catch (const LibraryError& e) {
      f.Fail("bad Location \"" + location + "\": " + e.what());
    }
  } else if (type == "URL") {
    t.kind = ITTrackKindURL;
    t.location = location;
  } else if (type == "Remote") {
    t.kind = ITTrackKindSharedCloud;
    t.location = location;
  } else {
    t.kind = ITTrackKindUnknown;
    t.location = location;
  }
  return t;
}

}  // namespace

LibraryData ParseLibraryXml(const std::string& text, const std::string& origin) {
  if (text.size() > static_cast<size_t>(INT_MAX)) throw LibraryError(origin + ": the file is too large");
  xmlInitParser();
  std::unique_ptr<xmlParserCtxt, void (*)(xmlParserCtxtPtr)> ctxt(xmlNewParserCtxt(), xmlFreeParserCtxt);
  if (!ctxt) throw LibraryError(origin + ": out of memory");
  // No DTD loading, no entity substitution, no network.
  const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
  std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> doc(
      xmlCtxtReadMemory(ctxt.get(), text.data(), static_cast<int>(text.size()), nullptr, nullptr, options),
      xmlFreeDoc);
  if (!doc) {
    std::string message = "not an XML file";
    if (const xmlError* e = xmlCtxtGetLastError(ctxt.get()); e && e->message) {
      std::string detail = e->message;
      while (!detail.empty() && (detail.back() == '\n' || detail.back() == ' ')) detail.pop_back();
      message += " (line " + std::to_string(e->line) + ": " + detail + ")";
    }
    throw LibraryError(origin + ": " + message);
  }

  Parser parser(origin);
  const xmlNode* root = xmlDocGetRootElement(doc.get());
  if (!root || !Parser::Named(root, "plist")) parser.Fail("not a library property list (no <plist>)");
  const xmlNode* top = nullptr;
  for (const xmlNode* c = root->children; c; c = c->next)
    if (c->type == XML_ELEMENT_NODE) {
      top = c;
      break;
    }
  if (!top || !Parser::Named(top, "dict")) parser.Fail("the property list holds no dictionary");
  const Value library = parser.Convert(top, 0);

  const Value* tracks = library.Find("Tracks");
  if (!tracks || tracks->type != Value::Dict) parser.Fail("the library has no Tracks dictionary");

  LibraryData data;
  PlaylistData main;
  std::set<long> trackIds;
  for (const auto& [key, value] : tracks->dict) {
    TrackData t = ReadTrack(parser, value, key);
    if (!trackIds.insert(t.databaseId).second)
      parser.Fail("Track ID " + std::to_string(t.databaseId) + " is used twice", value.line);
    main.trackIds.push_back(t.databaseId);
    data.tracks.push_back(std::move(t));
  }

  const Value* playlists = library.Find("Playlists");
  if (playlists && playlists->type != Value::Array) parser.Fail("Playlists is not an array", playlists->line);

  std::vector<PlaylistData> user;
  std::vector<std::pair<size_t, std::string>> parentOf;  // index in `user`, parent persistent id
  std::map<std::string, size_t> byPersistentId;
  bool haveMaster = false;
  std::set<long> playlistIds;
  long maxPlaylistId = 0;
  if (playlists) {
    for (const Value& value : playlists->array) {
      if (value.type != Value::Dict) parser.Fail("a playlist is not a dictionary", value.line);
      Fields head(parser, value, "a playlist");
      const Value* nameValue = head.Get("Name", Value::String);
      if (!nameValue) head.Fail("no Name");
      Fields f(parser, value, "playlist \"" + nameValue->text + "\"");
      PlaylistData p;
      p.name = nameValue->text;
      p.playlistId = f.Integer("Playlist ID", 1, LONG_MAX, 0);
      if (p.playlistId == 0) f.Fail("no Playlist ID");
      if (!playlistIds.insert(p.playlistId).second)
        f.Fail("Playlist ID " + std::to_string(p.playlistId) + " is used twice");
      maxPlaylistId = std::max(maxPlaylistId, p.playlistId);
      p.persistentId = f.String("Playlist Persistent ID");
      const std::string parent = f.String("Parent Persistent ID");
      p.smart = f.Get("Smart Info", Value::Data) != nullptr;
      p.specialKind = SpecialKindOf(f.Integer("Distinguished Kind", 0, LONG_MAX, 0));
      if (f.Flag("Folder")) p.specialKind = ITUserPlaylistSpecialKindFolder;
      if (const Value* items = f.Get("Playlist Items", Value::Array)) {
        for (const Value& item : items->array) {
          if (item.type != Value::Dict) f.Fail("an item is not a dictionary");
          long id = Fields(parser, item, "an item of playlist \"" + p.name + "\"").Integer("Track ID", 1, LONG_MAX, 0);
          if (!trackIds.count(id)) f.Fail("holds unknown track " + std::to_string(id));
          p.trackIds.push_back(id);
        }
      }
      if (f.Flag("Master")) {
        if (haveMaster) f.Fail("a second Master playlist");
        if (!parent.empty()) f.Fail("the Master playlist cannot lie in a folder");
        haveMaster = true;
        main.playlistId = p.playlistId;
        main.name = p.name;
        main.persistentId = p.persistentId;
        continue;
      }
      if (!p.persistentId.empty()) {
        if (byPersistentId.count(p.persistentId))
          f.Fail("Playlist Persistent ID " + p.persistentId + " is used twice");
        byPersistentId[p.persistentId] = user.size();
      }
      if (!parent.empty()) parentOf.emplace_back(user.size(), parent);
      user.push_back(std::move(p));
    }
  }
  for (const auto& [index, parent] : parentOf) {
    PlaylistData& p = user[index];
    auto it = byPersistentId.find(parent);
    if (it == byPersistentId.end())
      parser.Fail("playlist \"" + p.name + "\" names a parent " + parent + " that the file lacks");
    if (user[it->second].specialKind != ITUserPlaylistSpecialKindFolder)
      parser.Fail("playlist \"" + p.name + "\" lies in \"" + user[it->second].name +
                  "\", which is not a folder");
    p.parentId = user[it->second].playlistId;
  }
  if (!haveMaster) {
    main.playlistId = maxPlaylistId + 1;
    main.name = "Library";
  }
  data.playlists.push_back(std::move(main));
  for (PlaylistData& p : user) data.playlists.push_back(std::move(p));
  ValidateLibrary(data, origin);
  return data;
}

LibraryData LoadLibraryXml(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) throw LibraryError(path + ": a folder, not a library file");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw LibraryError(path + ": cannot open the file");
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw LibraryError(path + ": cannot read the file");
  return ParseLibraryXml(text.str(), path);
}

}  // namespace platform::player

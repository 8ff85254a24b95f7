// The exported library file: a property list of a Tracks dictionary and a
// Playlists array. Read as a stream with libxml2's text reader (a library of
// 100,000 tracks is some 75 MB of text), without loading any DTD or external
// entity; a document that holds entity references is refused.
#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlreader.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string_view>
#include <unordered_set>

#include "platform/player/ITunes.h"
#include "platform/player/standin/Library.h"
#include "platform/kernel/UniqueFd.h"

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
    case Value::String:
      return "a string";
    case Value::Integer:
      return "an integer";
    case Value::Real:
      return "a real number";
    case Value::True:
    case Value::False:
      return "a boolean";
    case Value::Date:
      return "a date";
    case Value::Data:
      return "data";
    case Value::Dict:
      return "a dictionary";
    case Value::Array:
      return "an array";
  }
  return "a value";
}

// Reads the document as a stream: only one value of the library (a track, a
// playlist) is held at a time, never the whole document.
class Parser {
 public:
  Parser(xmlTextReaderPtr reader, const std::string& origin) : reader_(reader), origin_(origin) {
    xmlTextReaderSetStructuredErrorHandler(
        reader_,
        [](void* self, auto error) {
          if (error && error->level >= XML_ERR_ERROR) static_cast<Parser*>(self)->NoteError(*error);
        },
        this);
  }

  [[noreturn]] void Fail(const std::string& what, long line = 0) const {
    std::string where = line > 0 ? " (line " + std::to_string(line) + ")" : "";
    throw LibraryError(origin_ + ": " + what + where);
  }

  // Moves to the next node; false at the end of the document.
  bool Read() {
    const int rc = xmlTextReaderRead(reader_);
    if (rc < 0) {
      // Without a root element the reader names the wrong fault ("Document
      // is empty" for text, "Extra content" for nothing at all).
      // (Whether an element was read is kept here: asking the reader for its
      // document would leave the document to us to free.)
      if ((errorCode_ == XML_ERR_DOCUMENT_EMPTY || errorCode_ == XML_ERR_DOCUMENT_END) && !sawElement_)
        error_ = "no root element";
      std::string message = "not an XML file";
      if (!error_.empty()) message += " (line " + std::to_string(errorLine_) + ": " + error_ + ")";
      throw LibraryError(origin_ + ": " + message);
    }
    type_ = rc == 1 ? xmlTextReaderNodeType(reader_) : XML_READER_TYPE_NONE;
    if (type_ == XML_READER_TYPE_ELEMENT) sawElement_ = true;
    return rc == 1;
  }
  int Type() const { return type_; }
  int Depth() const { return xmlTextReaderDepth(reader_); }
  bool Empty() const { return xmlTextReaderIsEmptyElement(reader_) == 1; }
  // Valid until the next Read.
  std::string_view Name() const {
    const xmlChar* name = xmlTextReaderConstLocalName(reader_);
    return name ? reinterpret_cast<const char*>(name) : "";
  }
  long Line() const {
    const xmlNode* n = xmlTextReaderCurrentNode(reader_);
    return n ? static_cast<long>(n->line) : 0;
  }
  // The end of the element that started at `depth`.
  bool AtEnd(int depth) const { return Type() == XML_READER_TYPE_END_ELEMENT && Depth() == depth; }

  // Moves to the document's root element: false unless it is `root`.
  bool EnterRoot(const char* root) {
    while (Read())
      if (Type() == XML_READER_TYPE_ELEMENT) break;
    return Type() == XML_READER_TYPE_ELEMENT && Name() == root;
  }
  // Moves to the first child element of the root; false when it has none.
  bool FirstChild() {
    if (Empty()) return false;
    while (Read()) {
      if (Type() == XML_READER_TYPE_ELEMENT) return true;
      if (AtEnd(0)) return false;
    }
    return false;
  }
  // Reads the rest of the document, so that a fault further on still refuses it.
  void Finish() {
    while (Read()) {}
  }

  // The text of the element at the reader into `text`; leaves the reader at its end.
  void ReadText(std::string& text) {
    text.clear();
    if (Empty()) return;
    const int depth = Depth();
    while (Read() && !AtEnd(depth)) {
      switch (Type()) {
        case XML_READER_TYPE_TEXT:
        case XML_READER_TYPE_CDATA:
        case XML_READER_TYPE_WHITESPACE:
        case XML_READER_TYPE_SIGNIFICANT_WHITESPACE:
          if (const xmlChar* value = xmlTextReaderConstValue(reader_)) text += reinterpret_cast<const char*>(value);
          break;
        case XML_READER_TYPE_ENTITY_REFERENCE:
          Fail("entity references are not allowed", Line());
        case XML_READER_TYPE_ELEMENT:
          Fail("unexpected element <" + std::string(Name()) + ">", Line());
        default:
          break;
      }
    }
  }

  // Calls `each` at every child element of the array at the reader (`each`
  // leaves the reader at the child's end); leaves the reader at its end.
  template <class Each>
  void ForEachItem(long line, Each&& each) {
    if (Empty()) return;
    const int depth = Depth();
    while (Read() && !AtEnd(depth)) {
      if (Type() == XML_READER_TYPE_ENTITY_REFERENCE) Fail("entity references are not allowed", line);
      if (Type() == XML_READER_TYPE_ELEMENT) each();
    }
  }

  // Calls `each(key)` at every value of the dictionary at the reader.
  template <class Each>
  void ForEachEntry(long line, Each&& each) {
    std::string key;
    bool haveKey = false;
    ForEachItem(line, [&] {
      if (Name() == "key") {
        if (haveKey) Fail("key \"" + key + "\" has no value", Line());
        ReadText(key);
        haveKey = true;
        return;
      }
      if (!haveKey) Fail("a dictionary value without a key", Line());
      haveKey = false;
      each(key);
    });
    if (haveKey) Fail("key \"" + key + "\" has no value", line);
  }

  // The value of the element at the reader; leaves the reader at its end.
  Value Convert(int depth) {
    Value v;
    ConvertInto(v, depth);
    return v;
  }
  // The same into `v`, reusing the room it has from an earlier value: one
  // track after another costs no allocation but its own text.
  void ConvertInto(Value& v, int depth) {
    const long line = Line();
    if (depth > kMaxDepth) Fail("values nest too deeply", line);
    v.line = line;
    v.integer = 0;
    v.text.clear();
    size_t items = 0, entries = 0;
    const std::string_view name = Name();
    if (name == "string") {
      v.type = Value::String;
      ReadText(v.text);
    } else if (name == "integer") {
      v.type = Value::Integer;
      ReadText(v.text);
      errno = 0;
      char* end = nullptr;
      v.integer = std::strtoll(v.text.c_str(), &end, 10);
      if (v.text.empty() || *end != '\0' || errno == ERANGE) Fail("bad integer \"" + v.text + "\"", line);
    } else if (name == "real") {
      v.type = Value::Real;
      ReadText(v.text);
    } else if (name == "true" || name == "false") {
      v.type = name == "true" ? Value::True : Value::False;
      Skip();
    } else if (name == "date") {
      v.type = Value::Date;
      ReadText(v.text);
    } else if (name == "data") {
      v.type = Value::Data;
      ReadText(v.text);
    } else if (name == "array") {
      v.type = Value::Array;
      ForEachItem(line, [&] {
        if (items == v.array.size()) v.array.emplace_back();
        ConvertInto(v.array[items++], depth + 1);
      });
    } else if (name == "dict") {
      v.type = Value::Dict;
      ForEachEntry(line, [&](const std::string& key) {
        if (entries == v.dict.size()) v.dict.emplace_back();
        v.dict[entries].first = key;
        ConvertInto(v.dict[entries++].second, depth + 1);
      });
    } else {
      Fail("unknown element <" + std::string(name) + ">", line);
    }
    v.array.resize(items);
    v.dict.resize(entries);
  }

 private:
  // Passes over the element at the reader, whatever it holds.
  void Skip() {
    if (Empty()) return;
    const int depth = Depth();
    while (Read() && !AtEnd(depth)) {}
  }

  void NoteError(const xmlError& e) {
    if (!error_.empty()) return;  // the first fault explains the rest
    error_ = e.message ? e.message : "";
    while (!error_.empty() && (error_.back() == '\n' || error_.back() == ' ')) error_.pop_back();
    if (error_.empty()) error_ = "malformed";
    errorLine_ = e.line;
    errorCode_ = e.code;
  }

  xmlTextReaderPtr reader_;
  bool sawElement_ = false;
  const std::string& origin_;
  std::string error_;
  int errorLine_ = 0;
  int errorCode_ = 0;
  int type_ = XML_READER_TYPE_NONE;
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
    case 0:
      return ITUserPlaylistSpecialKindNone;
    case 2:
      return ITUserPlaylistSpecialKindMovies;
    case 3:
      return ITUserPlaylistSpecialKindTVShows;
    case 4:
      return ITUserPlaylistSpecialKindMusic;
    case 5:
      return ITUserPlaylistSpecialKindAudiobooks;
    case 10:
      return ITUserPlaylistSpecialKindPodcasts;
    case 19:
      return ITUserPlaylistSpecialKindPurchasedMusic;
    case 20:
    case 22:
      return ITUserPlaylistSpecialKindPartyShuffle;
    default:
      return ITUserPlaylistSpecialKindOther;
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
    if (location.rfind("file:", 0) == 0)
      type = "File";
    else if (!location.empty())
      type = "URL";
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

// Builds the library from the stream: tracks as they come, playlists as they
// come once the tracks are known (kept until then otherwise).
class LibraryBuilder {
 public:
  explicit LibraryBuilder(Parser& parser) : parser_(parser) {}

  LibraryData Build() {
    if (!parser_.EnterRoot("plist")) parser_.Fail("not a library property list (no <plist>)");
    if (!parser_.FirstChild() || parser_.Name() != "dict") parser_.Fail("the property list holds no dictionary");
    bool sawTracks = false, sawPlaylists = false;
    parser_.ForEachEntry(parser_.Line(), [&](const std::string& key) {
      const bool dict = parser_.Name() == "dict", array = parser_.Name() == "array";
      if (key == "Tracks" && !sawTracks) {
        sawTracks = true;
        if (dict) return ReadTracks();
      } else if (key == "Playlists" && !sawPlaylists) {
        sawPlaylists = true;
        if (array) return ReadPlaylists();
        playlistsLine_ = parser_.Line();
      }
      parser_.ConvertInto(scratch_, 1);  // checked, not kept
    });
    parser_.Finish();

    if (!haveTracks_) parser_.Fail("the library has no Tracks dictionary");
    if (playlistsLine_) parser_.Fail("Playlists is not an array", playlistsLine_);
    for (const Value& p : pending_) AddPlaylist(p);
    pending_.clear();
    for (const auto& [index, parent] : parentOf_) {
      PlaylistData& p = user_[index];
      auto it = byPersistentId_.find(parent);
      if (it == byPersistentId_.end())
        parser_.Fail("playlist \"" + p.name + "\" names a parent " + parent + " that the file lacks");
      if (user_[it->second].specialKind != ITUserPlaylistSpecialKindFolder)
        parser_.Fail("playlist \"" + p.name + "\" lies in \"" + user_[it->second].name + "\", which is not a folder");
      p.parentId = user_[it->second].playlistId;
    }
    if (!haveMaster_) {
      main_.playlistId = maxPlaylistId_ + 1;
      main_.name = "Library";
    }
    data_.playlists.reserve(1 + user_.size());
    data_.playlists.push_back(std::move(main_));
    for (PlaylistData& p : user_) data_.playlists.push_back(std::move(p));
    return std::move(data_);
  }

 private:
  void ReadTracks() {
    parser_.ForEachEntry(parser_.Line(), [&](const std::string& key) {
      const Value& value = scratch_;
      parser_.ConvertInto(scratch_, 2);
      TrackData t = ReadTrack(parser_, value, key);
      if (!trackIds_.insert(t.databaseId).second)
        parser_.Fail("Track ID " + std::to_string(t.databaseId) + " is used twice", value.line);
      main_.trackIds.push_back(t.databaseId);
      data_.tracks.push_back(std::move(t));
    });
    haveTracks_ = true;
  }

  void ReadPlaylists() {
    parser_.ForEachItem(parser_.Line(), [&] {
      if (haveTracks_) {
        parser_.ConvertInto(scratch_, 2);
        AddPlaylist(scratch_);
      } else {
        pending_.push_back(parser_.Convert(2));
      }
    });
  }

  void AddPlaylist(const Value& value) {
    if (value.type != Value::Dict) parser_.Fail("a playlist is not a dictionary", value.line);
    Fields head(parser_, value, "a playlist");
    const Value* nameValue = head.Get("Name", Value::String);
    if (!nameValue) head.Fail("no Name");
    Fields f(parser_, value, "playlist \"" + nameValue->text + "\"");
    PlaylistData p;
    p.name = nameValue->text;
    p.playlistId = f.Integer("Playlist ID", 1, LONG_MAX, 0);
    if (p.playlistId == 0) f.Fail("no Playlist ID");
    if (!playlistIds_.insert(p.playlistId).second)
      f.Fail("Playlist ID " + std::to_string(p.playlistId) + " is used twice");
    maxPlaylistId_ = std::max(maxPlaylistId_, p.playlistId);
    p.persistentId = f.String("Playlist Persistent ID");
    const std::string parent = f.String("Parent Persistent ID");
    p.smart = f.Get("Smart Info", Value::Data) != nullptr;
    p.specialKind = SpecialKindOf(f.Integer("Distinguished Kind", 0, LONG_MAX, 0));
    if (f.Flag("Folder")) p.specialKind = ITUserPlaylistSpecialKindFolder;
    const bool master = f.Flag("Master");
    if (const Value* items = f.Get("Playlist Items", Value::Array)) {
      // The master playlist's items are the library's own list: not kept twice.
      if (!master) p.trackIds.reserve(items->array.size());
      for (const Value& item : items->array) {
        if (item.type != Value::Dict) f.Fail("an item is not a dictionary");
        long id = Fields(parser_, item, "an item of playlist \"" + p.name + "\"").Integer("Track ID", 1, LONG_MAX, 0);
        if (!trackIds_.count(id)) f.Fail("holds unknown track " + std::to_string(id));
        if (!master) p.trackIds.push_back(id);
      }
    }
    if (master) {
      if (haveMaster_) f.Fail("a second Master playlist");
      if (!parent.empty()) f.Fail("the Master playlist cannot lie in a folder");
      haveMaster_ = true;
      main_.playlistId = p.playlistId;
      main_.name = p.name;
      main_.persistentId = p.persistentId;
      return;
    }
    if (!p.persistentId.empty()) {
      if (byPersistentId_.count(p.persistentId)) f.Fail("Playlist Persistent ID " + p.persistentId + " is used twice");
      byPersistentId_[p.persistentId] = user_.size();
    }
    if (!parent.empty()) parentOf_.emplace_back(user_.size(), parent);
    user_.push_back(std::move(p));
  }

  Parser& parser_;
  LibraryData data_;
  PlaylistData main_;
  bool haveTracks_ = false;
  long playlistsLine_ = 0;      // of a Playlists that is not an array
  Value scratch_;               // the track or playlist being read
  std::vector<Value> pending_;  // playlists read before the tracks
  std::unordered_set<long> trackIds_;
  std::vector<PlaylistData> user_;
  std::vector<std::pair<size_t, std::string>> parentOf_;  // index in `user_`, parent persistent id
  std::map<std::string, size_t> byPersistentId_;
  bool haveMaster_ = false;
  std::set<long> playlistIds_;
  long maxPlaylistId_ = 0;
};

using ReaderPtr = std::unique_ptr<xmlTextReader, void (*)(xmlTextReaderPtr)>;

// No DTD loading, no entity substitution, no network.
constexpr int kReaderOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

LibraryData ReadLibrary(ReaderPtr reader, const std::string& origin) {
  if (!reader) throw LibraryError(origin + ": out of memory");
  Parser parser(reader.get(), origin);
  LibraryData data = LibraryBuilder(parser).Build();
  ValidateLibrary(data, origin);
  return data;
}

}  // namespace

LibraryData ParseLibraryXml(const std::string& text, const std::string& origin) {
  if (text.size() > static_cast<size_t>(INT_MAX)) throw LibraryError(origin + ": the file is too large");
  xmlInitParser();
  return ReadLibrary(
      ReaderPtr(xmlReaderForMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr, kReaderOptions),
                xmlFreeTextReader),
      origin);
}

LibraryData LoadLibraryXml(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) throw LibraryError(path + ": a folder, not a library file");
  const platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.IsDefined()) throw LibraryError(path + ": cannot open the file");
  xmlInitParser();
  return ReadLibrary(ReaderPtr(xmlReaderForFd(fd.Get(), nullptr, nullptr, kReaderOptions), xmlFreeTextReader), path);
}

}  // namespace platform::player

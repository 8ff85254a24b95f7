// Mix record: a selection rule to play from. A tag mix plays the tracks that
// carry any of its tags, a mix without tags is a random selection over all
// enabled tracks, and a playlist mix stands for a playlist of the player.
#pragma once

#include <string>
#include <vector>

#include "core/Tag.h"

class SQLiteRow;
namespace platform {
class HtmlElement;
}  // namespace platform

class MusicDB;

class Mix {
 public:
  // A random selection, not stored.
  Mix();
  // Loads the stored mix of that id from theMusicDB.
  explicit Mix(int mixId);
  // Columns "name", "id", "playlistmix", "playlistpos", "playlistid" of
  // table "mix"; random until tags are added.
  explicit Mix(const SQLiteRow& row);
  // From a mix element id "<mix id>_:_<playlist flag>_:_...".
  explicit Mix(const platform::HtmlElement& element);
  // A mix that stands for a playlist of the player.
  Mix(int playlistId, std::string playlistName, int trackCount);

  int GetId() const { return id; }
  void SetId(int mixId) { id = mixId; }
  std::string GetName() const { return name; }
  bool IsRandom() const { return random; }
  int GetPlaylistTrackCount() const { return trackCount; }
  // The player's track count of a playlist mix (not stored).
  void SetPlaylistTrackCount(int count) { trackCount = count; }
  bool IsLibraryMix() const { return !playlistmix; }
  void SetPlaylistId(int playlistId) { playlistid = playlistId; }
  int GetPlaylistId() const { return playlistid; }
  int GetPlaylistPos() const { return playlistpos; }
  const std::vector<Tag>& GetTags() const { return tags; }

  // Makes the tag the mix's only tag, in the database too.
  void SetTag(const Tag& tag);
  // Nothing when the mix holds the tag already.
  void AddTag(const Tag& tag, bool save);
  // Finds or creates the tag, then adds it with saving.
  void AddNewTag(const std::string& tagName, int tagType);
  void RemoveTag(const Tag& tag, bool save);
  // A tag of the same type with the same id or the same name.
  bool HasTag(const Tag& tag) const;
  // Loads the stored mix again; a mix that is not stored stays as it is.
  void Reload();
  void Rename(const std::string& newName);

  std::string GetDisplayName() const;
  std::string GetDescription() const;
  // "AND (<condition> OR ...) " over the tags; empty without tags.
  std::string GetTagSqlClause() const;
  // Appends the Lab holder of every tag; returns the number of tags.
  int AppendLabTagsHtml(std::string& out) const;
  std::string GetPlayerMenuHtml() const;
  std::string GetAutomatorLinkHtml() const;
  std::string GetLabAddHolderHtml() const;
  std::string GetLabLinkHolderHtml() const;
  std::string GetLabListHolderHtml() const;

 private:
  friend class MusicDB;

  TagList tags;
  bool random = true;
  std::string name;
  int id = 0;
  int trackCount = 0;
  bool playlistmix = false;
  int playlistpos = 0;
  int playlistid = 0;
};

using MixList = std::vector<Mix>;

// A row of table "mixtag": one tag of a stored mix.
struct MixTag {
  MixTag() = default;
  // Columns "id", "mixid", "tagid".
  explicit MixTag(const SQLiteRow& row);

  int id = 0;
  int mixId = 0;
  int tagId = 0;
};

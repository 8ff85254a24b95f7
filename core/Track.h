// Track record: one library track as the music database holds it, with the
// HTML snippets of the player and Lab pages and the upload XML.
#pragma once

#include <string>
#include <vector>

class SQLiteRow;
namespace platform {
class HtmlElement;
}  // namespace platform

class Mix;
class Tag;

class Track {
 public:
  Track();
  // Columns "id", "name", "album", "artist", "location", "genre", "length",
  // "enabled" of table "track".
  explicit Track(const SQLiteRow& row);
  // From a page element whose id starts with the track id; loads it from
  // theMusicDB.
  explicit Track(const platform::HtmlElement& element);
  // Loads the track of that id from theMusicDB.
  explicit Track(int trackId);

  // Tracks are the same file: equal locations.
  bool operator==(const Track& other) const;

  void RemoveTag(const Tag& tag);
  // One more assignment of the tag of that name and type, found or created.
  void SetTag(const std::string& tagName, int tagType);
  void AddTag(const Tag& tag);
  // Sets the name and stores name, album, artist and genre.
  void SaveDetails(const std::string& newName);

  std::string GetTitleHtml() const;
  std::string GetLabListHtml() const;
  std::string GetDumpListHtml() const;
  std::string GetSearchListHtml() const;
  // Appends the Lab holder of every tag of the track.
  void GetLabTagsHtml(std::string& out) const;

  // Upload XML of the track played from the mix.
  std::string GetXml(const Mix& playing) const;
  std::string GetListeningToText() const;

  int id = 0;
  std::string name;
  std::string album;
  std::string artist;
  std::string location;
  std::string genre;
  std::string rating;
  int length = 0;
  bool enabled = true;
  bool uploaded = false;
  int playerTrackId = 0;
};

using TrackList = std::vector<Track>;

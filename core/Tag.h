// Tag record: a named label of one type that tracks carry (a "selector" on
// the pages), with the HTML, XML and SQL it renders.
#pragma once

#include <string>
#include <vector>

#include "core/TagType.h"

class SQLiteRow;
namespace platform {
class HtmlDocument;
class HtmlElement;
}  // namespace platform

class Mix;

class Tag {
 public:
  // An empty genre tag.
  Tag();
  // Loads the tag of that id from theMusicDB.
  explicit Tag(int tagId);
  // An empty tag of a type.
  explicit Tag(TagType tagType);
  Tag(std::string tagName, int tagType, int tagId);
  // Columns "name", "id", "frequency", "type".
  explicit Tag(const SQLiteRow& row);
  // From a page element whose id starts "<tag id>_:_<type word>_:_<name>".
  explicit Tag(const platform::HtmlElement& element);

  // Same type and exactly the same name.
  bool operator==(const Tag& other) const;

  std::string GetTypeName() const;
  const std::string& GetLabel() const { return label; }
  const std::string& GetLinkElementId() const { return linkElementId; }
  const std::string& GetSpanElementId() const { return spanElementId; }

  // Sets the name, stores it and recomputes the short label.
  void Rename(const std::string& newName);
  // Short label: the first 6 characters of the name without double quotes.
  void UpdateLabel();

  // Tag-cloud span; caches the link and span element ids.
  std::string GetCloudHtml(int largestFrequency, int threshold);
  std::string GetLabHolderHtml() const;
  std::string GetSearchHolderHtml() const;
  std::string GetTrackHolderHtml(int selectedTracks) const;
  std::string GetAddHolderHtml() const;
  std::string GetXml() const;
  // "(tag.name = '...' AND tag.type = '...')" for a mix's SQL clause.
  std::string TagSearchCondition() const;

  // Page updates of the cached elements; nothing happens where the element
  // is not in the page.
  void UpdateMixClass(platform::HtmlDocument& page, const Mix& mix) const;
  void SetClassRemove(platform::HtmlDocument& page) const;
  void SetClassAdd(platform::HtmlDocument& page) const;
  void ShowElement(platform::HtmlDocument& page) const;
  void HideElement(platform::HtmlDocument& page) const;
  // The same for many tags in one write to the page.
  static void ShowElements(const std::vector<Tag>& tags, platform::HtmlDocument& page);
  static void HideElements(const std::vector<Tag>& tags, platform::HtmlDocument& page);
  void SetAddLinkText(platform::HtmlDocument& page);

  void CopyAssignments(const Tag& other) const;
  void AddToTracksAs(const std::string& tagName, int tagType) const;
  void RemoveSharedAssignments(const Tag& other) const;

  std::string name;
  int id = 0;
  int frequency = 0;
  int type = TagGenre;

 private:
  std::string BaseId() const;
  std::string LabHolderHtml(const std::string& title) const;
  void SetLinkClass(platform::HtmlDocument& page, const char* className) const;

  std::string label;
  std::string linkElementId;
  std::string spanElementId;
};

using TagList = std::vector<Tag>;

#include "core/Tag.h"

#include <cstdlib>
#include <utility>

#include "core/HtmlText.h"
#include "core/Mix.h"
#include "core/MusicDB.h"
#include "core/SQLiteDB.h"
#include "core/Token.h"
#include "core/UrlString.h"
#include "platform/html/HtmlDocument.h"

namespace {

constexpr const char kCloudHtml[] =
    R"html(<span id="%s" class="tagwrap%s" frequency="%d">&nbsp;<span style="font-size:%dpx;"><a href="#" id="%s" title="%s" class="%s">%s</a></span>&nbsp;  </span> )html";
constexpr const char kLabHolderHtml[] =
    R"html(<div class='labtagholder' onmouseover='tagover(this)' onmouseout='tagout(this)'><a class='labtaggo' href='#'><img id='%s' class='labtaggoimg' alt='view this tag in the lab' src='skin/tagleft.gif'></a><span  id='%s_2' class='labtag' title='%s'><img src='skin/%s_icon.gif'>%s</span><a class='deletetag' href='#'><img  id='%s' class='deletetagimg' alt='remove this tag' src='skin/tagright.gif'></a></div>)html";
constexpr const char kSearchHolderHtml[] =
    R"html(<div class='labtagholder' onmouseover='searchtagover(this)' onmouseout='searchtagout(this)'><a class='labtaggo' href='#'><img id='%s' class='labtaggoimg' alt='view this tag in the lab' src='skin/tagleft.gif'></a><span  id='%s_2' class='labtag' title='%s'><img src='skin/%s_icon.gif'>%s</span><span class='addtagright'></span></div>)html";
constexpr const char kAddHolderHtml[] =
    R"html(<div class='addtagholder' onmouseover='addtagover(this)' onmouseout='addtagout(this)'><span class='addtagleft'></span><a href='#' class='addexistingtag' id='%s' title="Click to add %s as a selector for this track"><img src='skin/%s_icon.gif'>%s</a><span class='addtagright'></span></div>)html";
constexpr const char kTagXml[] = "<tag><tag_type>%d</tag_type><name>%s</name></tag>";

constexpr const char kClassAdd[] = "mixtagadd";
constexpr const char kClassRemove[] = "mixtagremove";

// Type named by the second field of a tag element id; -1 when none.
int TypeOfWord(const std::string& word) {
  if (word == "genre") return TagGenre;
  if (word == "album") return TagAlbum;
  if (word == "artist") return TagArtist;
  if (word == "mix") return TagMix;
  if (word == "zorva") return TagZorva;
  return -1;
}

}  // namespace

Tag::Tag() = default;

Tag::Tag(int tagId) : id(tagId) {
  theMusicDB.LoadTag(*this);
  UpdateLabel();
}

Tag::Tag(TagType tagType) : type(tagType) {}

Tag::Tag(std::string tagName, int tagType, int tagId) : name(std::move(tagName)), id(tagId), type(tagType) {
  UpdateLabel();
}

Tag::Tag(const SQLiteRow& row)
    : name(row.Get("name")), id(row.GetInt("id")), frequency(row.GetInt("frequency")), type(row.GetInt("type")) {
  UpdateLabel();
}

Tag::Tag(const platform::HtmlElement& element) {
  CToken tokens(element.GetId(), "_:_");
  id = std::atoi(tokens.GetNextToken().c_str());
  if (!theMusicDB.LoadTag(*this)) {
    int parsed = TypeOfWord(tokens.GetNextToken());
    if (parsed >= 0) type = parsed;
    name = tokens.GetNextToken();
  }
  UpdateLabel();
}

bool Tag::operator==(const Tag& other) const { return type == other.type && name == other.name; }

std::string Tag::GetTypeName() const { return TagTypeWord(type); }

void Tag::Rename(const std::string& newName) {
  name = newName;
  theMusicDB.RenameTag(*this);
  UpdateLabel();
}

void Tag::UpdateLabel() {
  label.clear();
  for (char c : Utf8Prefix(name, 6)) {
    if (c != '"') label += c;
  }
}

std::string Tag::GetCloudHtml(int largestFrequency, int threshold) {
  int percent = largestFrequency > 0 ? frequency * 100 / largestFrequency : 50;
  int fontSize = percent * 18 / 100 + 8;
  linkElementId = FormatText("%d_:_tag_:_add", id);
  spanElementId = FormatText("tagspan_:_%d", id);
  if (name.empty()) return {};
  std::string title = FormatText("contains %d tracks. click to add to the mix", frequency);
  const char* suffix = threshold >= frequency ? " invisible" : "";
  return FormatText(kCloudHtml, spanElementId.c_str(), suffix, frequency, fontSize, linkElementId.c_str(),
                    title.c_str(), kClassAdd, HtmlText(name).c_str());
}

std::string Tag::BaseId() const { return FormatText("%d_:_", id) + GetTypeName() + "_:_" + label; }

std::string Tag::LabHolderHtml(const std::string& title) const {
  if (name.empty()) return {};
  std::string base = HtmlAttribute(BaseId());
  std::string go = base + "_:_labgo";
  return FormatText(kLabHolderHtml, go.c_str(), go.c_str(), title.c_str(), GetTypeName().c_str(),
                    HtmlText(name).c_str(), base.c_str());
}

std::string Tag::GetLabHolderHtml() const {
  return LabHolderHtml(FormatText("you have %d tracks for this %s", frequency, GetTypeName().c_str()));
}

std::string Tag::GetTrackHolderHtml(int selectedTracks) const {
  std::string title = frequency == selectedTracks ? FormatText("This tag applies to all %d tracks", selectedTracks)
                                                  : FormatText("%d out of %d are also tagged with this %s", frequency,
                                                               selectedTracks, GetTypeName().c_str());
  return LabHolderHtml(title);
}

std::string Tag::GetSearchHolderHtml() const {
  if (name.empty()) return {};
  std::string go = HtmlAttribute(BaseId()) + "_:_labgo";
  std::string title = FormatText("you have %d tracks for this %s", frequency, GetTypeName().c_str());
  return FormatText(kSearchHolderHtml, go.c_str(), go.c_str(), title.c_str(), GetTypeName().c_str(),
                    HtmlText(name).c_str());
}

std::string Tag::GetAddHolderHtml() const {
  if (name.empty()) return {};
  std::string addId = HtmlAttribute(BaseId()) + "_:_add";
  std::string shown = HtmlText(name);
  return FormatText(kAddHolderHtml, addId.c_str(), shown.c_str(), GetTypeName().c_str(), shown.c_str());
}

std::string Tag::GetXml() const { return FormatText(kTagXml, type, CUrlString().Escape(name).c_str()); }

std::string Tag::TagSearchCondition() const {
  std::string quoted;
  for (char c : name) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return FormatText("(tag.name = '%s' AND tag.type = '%d')", quoted.c_str(), type);
}

void Tag::SetLinkClass(platform::HtmlDocument& page, const char* className) const {
  if (auto element = page.GetElementById(linkElementId)) element->SetClassName(className);
}

void Tag::UpdateMixClass(platform::HtmlDocument& page, const Mix& mix) const {
  SetLinkClass(page, mix.HasTag(*this) ? kClassRemove : kClassAdd);
}

void Tag::SetClassRemove(platform::HtmlDocument& page) const { SetLinkClass(page, kClassRemove); }

void Tag::SetClassAdd(platform::HtmlDocument& page) const { SetLinkClass(page, kClassAdd); }

namespace {

constexpr const char* kShownDisplay = "inline";
constexpr const char* kShownVisibility = "visible";
constexpr const char* kHiddenDisplay = "none";
constexpr const char* kHiddenVisibility = "hidden";

void SetSpansStyle(const std::vector<Tag>& tags, platform::HtmlDocument& page, const char* display,
                   const char* visibility) {
  std::vector<std::string> ids;
  ids.reserve(tags.size());
  for (const Tag& tag : tags) ids.push_back(tag.GetSpanElementId());
  page.SetElementsStyle(ids, {{"display", display}, {"visibility", visibility}});
}

}  // namespace

void Tag::ShowElement(platform::HtmlDocument& page) const {
  if (auto element = page.GetElementById(spanElementId)) {
    element->SetStyleDisplay(kShownDisplay);
    element->SetStyleVisibility(kShownVisibility);
  }
}

void Tag::HideElement(platform::HtmlDocument& page) const {
  if (auto element = page.GetElementById(spanElementId)) {
    element->SetStyleDisplay(kHiddenDisplay);
    element->SetStyleVisibility(kHiddenVisibility);
  }
}

void Tag::ShowElements(const std::vector<Tag>& tags, platform::HtmlDocument& page) {
  SetSpansStyle(tags, page, kShownDisplay, kShownVisibility);
}

void Tag::HideElements(const std::vector<Tag>& tags, platform::HtmlDocument& page) {
  SetSpansStyle(tags, page, kHiddenDisplay, kHiddenVisibility);
}

void Tag::SetAddLinkText(platform::HtmlDocument& page) {
  if (linkElementId.empty()) linkElementId = FormatText("%d_:_tag_:_add", id);
  if (auto element = page.GetElementById(linkElementId)) element->SetInnerText(name);
}

void Tag::CopyAssignments(const Tag& other) const { theMusicDB.CopyTagAssignments(*this, other); }

void Tag::AddToTracksAs(const std::string& tagName, int tagType) const {
  theMusicDB.AddTagToTracksOf(*this, tagName, tagType);
}

void Tag::RemoveSharedAssignments(const Tag& other) const { theMusicDB.RemoveSharedAssignments(*this, other); }

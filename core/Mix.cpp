#include "core/Mix.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "core/HtmlText.h"
#include "core/MusicDB.h"
#include "core/SQLiteDB.h"
#include "core/Token.h"
#include "platform/html/HtmlDocument.h"

namespace {

constexpr const char kPlayerMenuHtml[] =
    R"html(<div class="mixwrap" id="%s" title="Play from %s mix" onclick="ypSlideOutMenu.hideAll();" onMouseOver="this.style.backgroundColor='#adab22';" onMouseOut="this.style.backgroundColor='#ffffff';">&nbsp;<div class="windowcontrols"><a href="#" id="%s" title="delete this mix" class="mixdel">X</a></div> %s&nbsp; <div class="mixdesc" onclick="this.parentNode.click()">%s</div></div>)html";
constexpr const char kAutomatorLinkHtml[] =
    R"html(<a href="#" id="editormix" mixid=%d onclick="mixclick('mixchanger','newmix');"> <img id="Img1" align="bottom" border="0" src="skin/automator_mix.gif"> %s </a>)html";
constexpr const char kLabAddHolderHtml[] =
    R"html(<div class='mixholder' onmouseover='searchtrackover(this);' onmouseout='searchtrackout(this);'><a id='%d_:_mixlab' class='labmix' href='#' title='view mix in lab'></a><a href='#' id='%d_:_mixlink' class='mixlink' title='click to add tag to this mix'><span onclick='this.parentNode.click();' class='labmixname'> %s </span>&nbsp;<span onclick='this.parentNode.click();' class='mixnametext'>%s</span></a><span class='mixright'></span></div>)html";
constexpr const char kLabLinkHolderHtml[] =
    R"html(<div class='mixholder' onmouseover='searchtrackover(this);' onmouseout='searchtrackout(this);'><a id='%d_:_mixlab' class='labmix' href='#' title='view mix in lab'></a><a href='#' id='%d_:_mixlink' class='mixlink mixinlink' title='click to go to this mix in the lab'><span onclick='this.parentNode.click();' class='labmixname'> %s </span><span onclick='this.parentNode.click();' class='mixnametext'>%s</span></a><span class='mixright'></span></div>)html";
constexpr const char kLabListHolderHtml[] =
    R"html(<div class='mixholder' onmouseover='mixover(this);' onmouseout='mixout(this);'><a id='%d_:_mixlab' class='labmix' href='#' title='view mix in lab'></a><a href='#' id='%d_:_mixinlink' class='mixlink mixinlink'><span onclick='this.parentNode.click();' class='labmixname'> %s </span><span onclick='this.parentNode.click();' class='mixnametext'>%s</span></a><a href='#' id='%d_:_mixdel' class='delmix' title='remove tag from this mix'></a></div>)html";

// Of one type, the same stored tag (a rename keeps its id) or the same name.
bool SameTag(const Tag& a, const Tag& b) {
  return a.type == b.type && ((a.id > 0 && a.id == b.id) || a.name == b.name);
}

}  // namespace

Mix::Mix() = default;

Mix::Mix(int mixId) : random(false), id(mixId) { theMusicDB.LoadMix(*this); }

Mix::Mix(const SQLiteRow& row)
    : name(row.Get("name")),
      id(row.GetInt("id")),
      playlistmix(row.GetInt("playlistmix") != 0),
      playlistpos(row.GetInt("playlistpos")),
      playlistid(row.GetInt("playlistid")) {}

Mix::Mix(const platform::HtmlElement& element) {
  CToken tokens(element.GetId(), "_:_");
  id = std::atoi(tokens.GetNextToken().c_str());
  playlistmix = std::atoi(tokens.GetNextToken().c_str()) != 0;
  if (id != 0) {
    // A mix that is no longer stored stays an empty tag mix, as one loaded
    // by its id.
    random = false;
    theMusicDB.LoadMix(*this);
  }
}

Mix::Mix(int playlistId, std::string playlistName, int count)
    : random(false), name(std::move(playlistName)), trackCount(count), playlistmix(true), playlistid(playlistId) {}

void Mix::SetTag(const Tag& tag) {
  for (const Tag& old : tags) theMusicDB.RemoveMixTag(*this, old);
  tags.clear();
  random = false;
  tags.push_back(tag);
  trackCount = tag.frequency;
  theMusicDB.AddMixTag(*this, tag);
}

void Mix::AddTag(const Tag& tag, bool save) {
  // A tag the mix holds already: a second row would play its tracks twice as often.
  if (HasTag(tag)) return;
  random = false;
  tags.push_back(tag);
  trackCount += tag.frequency;
  if (save) theMusicDB.AddMixTag(*this, tag);
}

void Mix::AddNewTag(const std::string& tagName, int tagType) {
  AddTag(theMusicDB.FindOrCreateTag(tagName, tagType), true);
}

void Mix::RemoveTag(const Tag& tag, bool save) {
  auto found = std::find_if(tags.begin(), tags.end(), [&tag](const Tag& held) { return SameTag(held, tag); });
  if (found != tags.end()) {
    tags.erase(found);
    trackCount -= tag.frequency;
  }
  if (tags.empty()) random = true;
  if (save) theMusicDB.RemoveMixTag(*this, tag);
}

bool Mix::HasTag(const Tag& tag) const {
  return std::any_of(tags.begin(), tags.end(), [&tag](const Tag& held) { return SameTag(held, tag); });
}

void Mix::Reload() {
  // A mix that is not stored has nothing to load again: its tags are all there
  // is of it (a tag played from the Lab would otherwise turn into a random
  // selection whenever the mixes change).
  if (id <= 0) return;
  tags.clear();
  random = true;
  trackCount = 0;
  theMusicDB.LoadMix(*this);
}

void Mix::Rename(const std::string& newName) {
  name = newName;
  theMusicDB.UpdateMix(*this);
}

std::string Mix::GetDisplayName() const {
  if (!name.empty()) return name;
  return random ? "Random selection" : "Untitled mix";
}

std::string Mix::GetDescription() const {
  if (playlistmix) {
    if (trackCount < 1) return "iTunes Playlist";
    return FormatText("iTunes playlist with %d tracks", trackCount);
  }
  if (random) return "Use selector to fine tune";
  std::string text;
  // By position, not by the text so far: a first tag without a name still
  // gets its separator.
  for (std::size_t i = 0; i < tags.size(); ++i) {
    if (i > 0) text += ", ";
    text += tags[i].name;
  }
  return text;
}

std::string Mix::GetTagSqlClause() const {
  if (tags.empty()) return {};
  std::string clause = "AND (";
  for (std::size_t i = 0; i < tags.size(); ++i) {
    if (i > 0) clause += " OR ";
    clause += tags[i].TagSearchCondition();
  }
  clause += ") ";
  return clause;
}

int Mix::AppendLabTagsHtml(std::string& out) const {
  for (const Tag& tag : tags) out += tag.GetLabHolderHtml();
  return static_cast<int>(tags.size());
}

std::string Mix::GetPlayerMenuHtml() const {
  if (name.empty()) return {};
  int flag = playlistmix ? 1 : 0;
  std::string setId = FormatText("%d_:_%d_:_set", id, flag);
  std::string deleteId = FormatText("%d_:_%d_:_delete", id, flag);
  std::string shown = HtmlText(name);
  return FormatText(kPlayerMenuHtml, setId.c_str(), shown.c_str(), deleteId.c_str(), shown.c_str(),
                    HtmlText(GetDescription()).c_str());
}

std::string Mix::GetAutomatorLinkHtml() const {
  return FormatText(kAutomatorLinkHtml, id, HtmlText(GetDisplayName()).c_str());
}

std::string Mix::GetLabAddHolderHtml() const {
  if (name.empty()) return {};
  return FormatText(kLabAddHolderHtml, id, id, HtmlText(name).c_str(), HtmlText(GetDescription()).c_str());
}

std::string Mix::GetLabLinkHolderHtml() const {
  if (name.empty()) return {};
  return FormatText(kLabLinkHolderHtml, id, id, HtmlText(name).c_str(), HtmlText(GetDescription()).c_str());
}

std::string Mix::GetLabListHolderHtml() const {
  if (name.empty()) return {};
  return FormatText(kLabListHolderHtml, id, id, HtmlText(name).c_str(), HtmlText(GetDescription()).c_str(), id);
}

MixTag::MixTag(const SQLiteRow& row) : id(row.GetInt("id")), mixId(row.GetInt("mixid")), tagId(row.GetInt("tagid")) {}

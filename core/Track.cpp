#include "core/Track.h"

#include <cstdlib>
#include <vector>

#include "core/HtmlText.h"
#include "core/Mix.h"
#include "core/MusicDB.h"
#include "core/SQLiteDB.h"
#include "core/Tag.h"
#include "core/Token.h"
#include "core/UrlString.h"
#include "platform/html/HtmlDocument.h"

namespace {

constexpr const char kTitleHtml[] =
    R"html(<span onclick='this.parentNode.click();' class="trackname">%s</span><span onclick='this.parentNode.click();' class="artistname">%s</span>)html";
constexpr const char kLabListHtml[] =
    R"html(<div id='%d_:_list' class='labtracklist' onmouseover='trackover(this);' onmouseout='trackout(this);'><a id='%d_:_lab' class='labtrack' href='#' title='view track in lab'></a><a id='%d_:_lab2' class='lablink'><img src='skin/track_icon.gif'>%s</a><a id='%d_:_dump' class='dumptrack' href='#'  title="Dump Track -&#13;I don't want to hear this track again"></a></div>)html";
constexpr const char kDumpListHtml[] =
    R"html(<div id='%d_:_list' class='labtracklist' onmouseover='dumptrackover(this);' onmouseout='dumptrackout(this);'><a id='%d_:_lab' class='labtrack' href='#' title='view track in lab'></a><a id='%d_:_lab2' class='lablink'><img src='skin/track_icon.gif'>%s</a><a id='%d_:_dump' class='releasetrack' href='#'  title="Release Track -&#13;Bring track back into rotation"></a></div>)html";
constexpr const char kSearchListHtml[] =
    R"html(<div id='%d_:_list' class='labtracklist' onmouseover='searchtrackover(this);' onmouseout='searchtrackout(this);'><a id='%d_:_lab' class='labtrack' href='#' title='view track in lab'></a><a id='%d_:_lab2' class='lablink searchlablink'><img src='skin/track_icon.gif'>%s</a><span class='searchtagright'></span></div>)html";
constexpr const char kTrackXml[] =
    "<track><name>%s</name><artist>%s</artist><album>%s</album><genre>%s</genre><length>%d</length>";

}  // namespace

Track::Track() = default;

Track::Track(const SQLiteRow& row)
    : id(row.GetInt("id")),
      name(row.Get("name")),
      album(row.Get("album")),
      artist(row.Get("artist")),
      location(row.Get("location")),
      genre(row.Get("genre")),
      length(row.GetInt("length")),
      enabled(row.GetInt("enabled") != 0) {}

Track::Track(const platform::HtmlElement& element) {
  CToken tokens(element.GetId(), "_:_");
  id = std::atoi(tokens.GetNextToken().c_str());
  theMusicDB.LoadTrack(*this);
}

Track::Track(int trackId) : id(trackId) { theMusicDB.LoadTrack(*this); }

bool Track::operator==(const Track& other) const { return location == other.location; }

void Track::RemoveTag(const Tag& tag) { theMusicDB.RemoveTrackTag(*this, tag); }

void Track::SetTag(const std::string& tagName, int tagType) { theMusicDB.SetTrackTag(*this, tagName, tagType, false); }

void Track::AddTag(const Tag& tag) { theMusicDB.AddTrackTag(*this, tag); }

void Track::SaveDetails(const std::string& newName) {
  name = newName;
  theMusicDB.UpdateTrackDetails(*this);
}

std::string Track::GetTitleHtml() const {
  return FormatText(kTitleHtml, HtmlText(name).c_str(), HtmlText(artist).c_str());
}

std::string Track::GetLabListHtml() const { return FormatText(kLabListHtml, id, id, id, GetTitleHtml().c_str(), id); }

std::string Track::GetDumpListHtml() const { return FormatText(kDumpListHtml, id, id, id, GetTitleHtml().c_str(), id); }

std::string Track::GetSearchListHtml() const { return FormatText(kSearchListHtml, id, id, id, GetTitleHtml().c_str()); }

void Track::GetLabTagsHtml(std::string& out) const {
  TagList tags;
  Track copy(*this);
  theMusicDB.GetTrackTags(tags, copy);
  for (const Tag& tag : tags) out += tag.GetLabHolderHtml();
}

std::string Track::GetXml(const Mix& playing) const {
  std::string xml = FormatText(kTrackXml, CUrlString().Escape(name).c_str(), CUrlString().Escape(artist).c_str(),
                               CUrlString().Escape(album).c_str(), CUrlString().Escape(genre).c_str(), length);
  TagList tags;
  Track copy(*this);
  theMusicDB.GetTrackTags(tags, copy);
  std::string mixName = playing.GetName();
  if (mixName != "Music" && !mixName.empty() && mixName != artist && mixName != album)
    tags.emplace_back(mixName, TagPlaylist, 0);
  if (!rating.empty()) tags.emplace_back(rating, TagRating, 0);
  for (const Tag& tag : tags) xml += tag.GetXml();
  xml += "</track>";
  return xml;
}

std::string Track::GetListeningToText() const {
  return FormatText("Listening to %s by %s", CUrlString().Escape(name).c_str(), CUrlString().Escape(artist).c_str());
}

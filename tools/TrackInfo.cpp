#include "tools/TrackInfo.h"

#include <algorithm>
#include <cstring>

#include "core/HtmlText.h"
#include "core/MusicDB.h"
#include "platform/xmlhttp/WebHosts.h"
#include "windows/TagLinks.h"
#include "windows/WebLink.h"

namespace {

const char* const kPages[] = {"TrackInfo.htm", "SelectorInfo.htm", "MixInfo.htm", "LabHome.htm"};

std::string Breadcrumb(const std::string& iconId, const std::string& iconTitle, const char* nameId,
                       const std::string& name) {
  return FormatText(
      "<a id='labhome' class='librarylink' href='#' title='Go to Lab Home'>Home</a>"
      "<span class='tracklink'><span id='%s' class='labbigicon' title='%s'></span>"
      "<span id='%s'>%s</span></span>",
      HtmlAttribute(iconId).c_str(), HtmlAttribute(iconTitle).c_str(), nameId, HtmlText(name).c_str());
}

// "<previous> <a to b of n> <next>" under a track or tag table.
// The first number is the zero-based offset: the first page of 250 reads
// "0 to 100 of 250".
std::string PageNavigation(int offset, int count, int total, bool tags) {
  std::string html;
  const int previous = std::max(offset - count, 0);
  if (offset > 0) {
    html += tags ? FormatText("<a href=# id='%d_:_previoustag' class='pushbutton previous-tag'>Previous</a>", previous)
                 : FormatText("<a href=# id='%d_:_previous' class='pushbutton previous'>Previous</a>", previous);
  }
  html += FormatText("<span class='navstat'>%d to %d of %d</span>", offset, std::min(offset + count, total), total);
  if (offset + count < total) {
    html += tags ? FormatText("<a href=# id='%d_:_nexttag' class='pushbutton next-tag'>Next</a>", offset + count)
                 : FormatText("<a href=# id='%d_:_next' class='pushbutton next'>Next</a>", offset + count);
  }
  return html;
}

// The Lab page named in `url` after its first character; null for none.
const char* LabPageIn(const std::string& url) {
  for (const char* page : kPages) {
    if (url.find(page, 1) != std::string::npos) return page;
  }
  return nullptr;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

// 360 x 380 dialog units: 540 x 617 pixels.
const DialogTemplate TrackInfo::kDialog{103, 0, 0, 360, 380, WS_POPUP | WS_CAPTION | WS_SYSMENU, 0};

namespace {

FramelessWindowConfig LabConfig() {
  FramelessWindowConfig config;
  config.pageFile = kPages[LabViewTrack];
  config.placementValue = "Lab";
  // A stored size larger than the dialog's stays: the Lab is resizable.
  config.keepLargerStoredSize = true;
  config.resizable = true;
  // One and a half widths left of the desktop's centre, a little below its middle.
  config.defaultPosition = FramelessWindowConfig::BesideCentre(-3, -5, 50);
  return config;
}

}  // namespace

TrackInfo::TrackInfo(CWnd* parent) : CFramelessHtmlWindow(LabConfig(), kDialog, kHtmlResource, parent) {
  // A page has window.external only when it is there as the page starts, and
  // the first page starts during the set-up: it is given before.
  SetExternalDispatch(&sink_);
}

const char* TrackInfo::PageOfView(int view) {
  return view >= LabViewTrack && view <= LabViewHome ? kPages[view] : kPages[LabViewTrack];
}

const MessageMap& TrackInfo::ThisMessageMap() {
  static const MessageMap map(&CFramelessHtmlWindow::ThisMessageMap(), {
                                                                           OnWmSize(&TrackInfo::OnSize),
                                                                           OnWmShowWindow(&TrackInfo::OnShowWindow),
                                                                       });
  return map;
}

const DHtmlEventMap& TrackInfo::ThisDHtmlEventMap() {
  // "ButtonOK" and the every-tag entries come from CFramelessHtmlWindow.
  static const DHtmlEventMap map(&CFramelessHtmlWindow::ThisDHtmlEventMap(),
                                 {
                                     DHtmlEventOnClick("labhome", &TrackInfo::OnHome),
                                     DHtmlEventOnClick("logo", &TrackInfo::OnHome),
                                     DHtmlEvent("mousedown", "sizedown", &TrackInfo::OnSizeDown),
                                     DHtmlEventClass("click", "labmix", &TrackInfo::OnLabMix),
                                     DHtmlEventClass("click", "mixlink", &TrackInfo::OnMixLink),
                                     DHtmlEventClass("click", "delmix", &TrackInfo::OnDelMix),
                                     DHtmlEventClass("click", "mixlink mixinlink", &TrackInfo::OnLabMix),
                                     DHtmlEventClass("click", "labtag", &TrackInfo::OnLabTag),
                                     DHtmlEventClass("click", "labtaggoimg", &TrackInfo::OnLabTag),
                                     DHtmlEventClass("click", "labhome", &TrackInfo::OnHome),
                                     DHtmlEventClass("click", "deletetagimg", &TrackInfo::OnDeleteTag),
                                     DHtmlEventClass("click", "addtag", &TrackInfo::OnAddTag),
                                     DHtmlEventClass("click", "labtrack", &TrackInfo::OnLabTrack),
                                     DHtmlEventClass("click", "lablink", &TrackInfo::OnLabTrack),
                                     DHtmlEventClass("click", "lablink searchlablink", &TrackInfo::OnLabTrack),
                                     DHtmlEventClass("click", "pushbutton next", &TrackInfo::OnTrackPage),
                                     DHtmlEventClass("click", "pushbutton previous", &TrackInfo::OnTrackPage),
                                     DHtmlEventClass("click", "pushbutton next-tag", &TrackInfo::OnTagPage),
                                     DHtmlEventClass("click", "pushbutton previous-tag", &TrackInfo::OnTagPage),
                                     DHtmlEventClass("click", "dumptrack", &TrackInfo::OnDumpTrack),
                                     DHtmlEventClass("click", "releasetrack", &TrackInfo::OnReleaseTrack),
                                     DHtmlEventOnClick("labtitleplay", &TrackInfo::OnPlayTitle),
                                     DHtmlEventOnClick("createmix", &TrackInfo::OnCreateMix),
                                     DHtmlEventOnClick("newtagsubmit", &TrackInfo::OnNewTagSubmit),
                                     DHtmlEventClass("click", "addexistingtag", &TrackInfo::OnAddExistingTag),
                                     DHtmlEvent("keyup", "newtag", &TrackInfo::OnNewTagKeyUp),
                                     DHtmlEventClass("click", "typeoptionlink", &TrackInfo::OnTypeOption),
                                     DHtmlEvent("keyup", "searchbox", &TrackInfo::OnSearchKeyUp),
                                     DHtmlEventOnClick("back", &TrackInfo::OnBack),
                                     DHtmlEventOnClick("forward", &TrackInfo::OnForward),
                                 });
  return map;
}

// ---------------------------------------------------------------- window

BOOL TrackInfo::OnInitDialog() {
  // The four pages stay loaded once shown: a view of another kind switches
  // to its page instead of loading it again.
  std::vector<std::string> pages;
  for (LabView view : {LabViewTrack, LabViewTag, LabViewMix, LabViewHome}) pages.push_back(PageUrl(PageOfView(view)));
  KeepPagesLoaded(std::move(pages));
  // The frameless set-up loads the track page, the first view.
  CFramelessHtmlWindow::OnInitDialog();
  sink_.SetOwner(this);
  return TRUE;
}

void TrackInfo::DoDataExchange(CDataExchange* exchange) {
  DDX_DHtml_ElementInnerText(exchange, "tagtypetext", newTagType_);
  CFramelessHtmlWindow::DoDataExchange(exchange);
}

void TrackInfo::OnSize(UINT type, int cx, int cy) {
  // The page is never laid out narrower than 500 pixels.
  CDHtmlDialog::OnSize(type, std::max(cx, 500), cy);
  // The first two come while the window is made, before its region.
  if (++sizeEvents_ >= 3) CutRoundedRegion();
}

void TrackInfo::OnShowWindow(BOOL show, UINT status) {
  CFramelessHtmlWindow::OnShowWindow(show, status);
  if (show) scripter_.CallFunction("updatecurrentview");
}

void TrackInfo::NavigateToView() { Navigate(PageUrl(PageOfView(view_))); }

void TrackInfo::OnDocumentComplete(const std::string& url) {
  CFramelessHtmlWindow::OnDocumentComplete(url);
  const char* page = LabPageIn(url);
  if (!page) return;
  // A page that loaded holds none of the lists written before.
  if (!IsKeptPageShownAgain()) {
    for (int view = LabViewTrack; view <= LabViewHome; ++view) {
      if (std::strcmp(page, kPages[view]) == 0) written_[view].clear();
    }
  }
  SetWallpaper(wallpaper_);
  // The configured encyclopedia, for the page's Information tab.
  SetElementText("wikiroot", platform::xmlhttp::WebBase(platform::xmlhttp::WebService::Wiki));
  scripter_.SetDocument(GetDocument());
  // The view kind now matches the page: each draws in place.
  switch (view_) {
    case LabViewTrack:
      ShowTrack(track_, false, browsingHistory_);
      break;
    case LabViewTag:
      ShowTag(tag_, browsingHistory_);
      break;
    case LabViewMix:
      ShowMix(mix_, browsingHistory_);
      break;
    default:
      ShowHome(browsingHistory_);
      break;
  }
}

void TrackInfo::OnBeforeNavigate(const std::string& url, bool& cancel) {
  if (const char* page = LabPageIn(url)) {
    const std::size_t hash = url.find('#', 1);
    if (hash != std::string::npos) {
      cancel = true;
      const std::string anchor = url.substr(hash + 1);
      if (!anchor.empty()) SetLocation(anchor);
      return;
    }
    // Only the Lab's own page files: another one of the same name would take
    // window.external with it.
    cancel = !IsPageNavigation(url, page);
    return;
  }
  cancel = true;
  if (url.find("Zorva.exe") != std::string::npos) return;
  std::string target = url;
  if (StartsWith(target, "C:\\")) {
    // Article names of the pages' encyclopedia links.
    const std::string base = platform::xmlhttp::WebBase(platform::xmlhttp::WebService::Wiki);
    std::string replaced;
    for (std::size_t at = 0;;) {
      const std::size_t found = target.find("C:\\", at);
      replaced += target.substr(at, found == std::string::npos ? std::string::npos : found - at);
      if (found == std::string::npos) break;
      replaced += base;
      at = found + 3;
    }
    target = replaced;
  }
  if (!StartsWith(target, "javascript:")) {
    OpenOutsideLink(target);
    return;
  }
  // javascript:...('address')...: the quoted address.
  const std::size_t open = target.find('\'');
  if (open == std::string::npos) return;
  const std::size_t close = target.find('\'', open + 1);
  if (close == std::string::npos) return;
  OpenOutsideLink(target.substr(open + 1, close - open - 1));
}

void TrackInfo::OpenOutsideLink(const std::string& url) {
  // A page link must never make the desktop open a file or start a program.
  OpenWebLink(url);
}

void TrackInfo::SetWallpaper(const std::string& style) {
  wallpaper_ = style;
  // Held with the view's writes; a page without the body's id is left alone.
  if (platform::HtmlDocument* page = GetDocument())
    page->SetElementsStyle({"TrackInfo"}, {{"background-image", style}});
}

void TrackInfo::UpdateCurrentView() {
  if (IsWindowVisible()) scripter_.CallFunction("updatecurrentview");
}

void TrackInfo::SetLocation(const std::string& anchor) { scripter_.CallFunction("setlocation", anchor); }

// ---------------------------------------------------------------- views

void TrackInfo::ShowTrack(const Track& track, bool followPlaying, bool fromHistory) {
  // While the user walks the history the playing track does not take the page.
  if (followPlaying && browsingHistory_) return;
  browsingHistory_ = fromHistory;
  if (view_ != LabViewTrack) {
    if (followPlaying) return;
    track_ = track;
    view_ = LabViewTrack;
    NavigateToView();
    return;
  }
  SetWindowText("Zorva Lab > " + track.name);
  SetElementHtml("lablookup", HtmlText(track.artist));
  SetElementHtml("breadcrumbs", Breadcrumb("trackicon", "Track", "tracktitle", track.name));
  SetElementHtml("trackname", HtmlText(track.name));
  SetElementHtml("albumname", HtmlText(track.album));
  SetElementHtml("artistname", HtmlText(track.artist));
  // Seconds as they are: 185 seconds read 3:5.
  SetElementHtml("tracktime", FormatText("%d:%02d", track.length / 60, track.length % 60));
  UpdateCurrentView();
  track_ = track;
  RenderTrackTags();
  if (!fromHistory && track.id > 0) history_.Add(LabViewTrack, track.id);
  UpdateNavButtons();
}

void TrackInfo::ShowTag(const Tag& tag, bool fromHistory) {
  browsingHistory_ = fromHistory;
  if (view_ != LabViewTag) {
    tag_ = tag;
    view_ = LabViewTag;
    NavigateToView();
    return;
  }
  if (!fromHistory && tag.id > 0) history_.Add(LabViewTag, tag.id);
  UpdateNavButtons();
  SetWindowText("Zorva Lab > " + tag.name);
  SetElementHtml("lablookup", HtmlText(tag.name));
  SetElementHtml("breadcrumbs", Breadcrumb(tag.GetTypeName() + "icon", tag.GetTypeName(), "tagtitle", tag.name));
  SetElementText("trackheading", FormatText("%d tracks", tag.frequency));
  UpdateCurrentView();
  tag_ = tag;
  RenderMixLists(false);
  RenderRelatedTags();
  RenderTagTracks(0, kPageSize);
}

void TrackInfo::ShowMix(const Mix& mix, bool fromHistory) {
  browsingHistory_ = fromHistory;
  if (view_ != LabViewMix) {
    mix_ = mix;
    view_ = LabViewMix;
    NavigateToView();
    return;
  }
  if (!fromHistory && mix.GetId() > 0) history_.Add(LabViewMix, mix.GetId());
  UpdateNavButtons();
  const std::string name = mix.GetDisplayName();
  SetWindowText("Zorva Lab > " + name);
  SetElementHtml("lablookup", HtmlText(name));
  SetElementHtml("breadcrumbs", Breadcrumb("mixicon", "Mix", "mixtitle", name));
  SetElementText("trackheading", FormatText("%d tracks", mix.GetPlaylistTrackCount()));
  UpdateCurrentView();
  mix_ = mix;
  RenderMixTracks(0, kPageSize);
  RenderMixTags();
}

void TrackInfo::ShowHome(bool fromHistory) {
  browsingHistory_ = fromHistory;
  if (view_ != LabViewHome) {
    view_ = LabViewHome;
    NavigateToView();
    return;
  }
  if (!fromHistory) history_.Add(LabViewHome, 0);
  UpdateNavButtons();
  SetWindowText("Zorva Lab > Home");
  SetElementHtml("lablookup", HtmlText(theTagLinks.GetFirstArtistTag().name));
  RenderAllTags(0, kPageSize);
  RenderMixLists(true);
  RenderAllTracks(0, kPageSize);
  RenderDump();
  UpdateCurrentView();
}

bool TrackInfo::ShowFromHistory(const LabHistoryEntry& entry) {
  // The record of an entry may have gone since: a view of it would let the
  // commands write rows for an id the next new record is given.
  switch (entry.view) {
    case LabViewTrack: {
      const Track track(entry.id);
      if (track.location.empty()) return false;
      ShowTrack(track, false, true);
      return true;
    }
    case LabViewTag: {
      const Tag tag(entry.id);
      if (tag.frequency <= 0) return false;
      ShowTag(tag, true);
      return true;
    }
    case LabViewMix:
      if (theMusicDB.GetMix(entry.id).GetId() != entry.id) return false;
      ShowMix(Mix(entry.id), true);
      return true;
    case LabViewHome:
      ShowHome(true);
      return true;
    default:
      return false;
  }
}

bool TrackInfo::ShownRecordIsStored() const {
  switch (view_) {
    case LabViewTrack: {
      // Track ids are given again after a scan sweeps a track: the same file.
      Track stored;
      stored.id = track_.id;
      return track_.id > 0 && theMusicDB.LoadTrack(stored) && stored.location == track_.location;
    }
    case LabViewTag: {
      // Tag ids are given again too: the same tag (the Lab's own rename
      // renames the shown one).
      Tag stored;
      stored.id = tag_.id;
      return tag_.id > 0 && theMusicDB.LoadTag(stored) && stored == tag_;
    }
    case LabViewMix:
      return mix_.GetId() > 0 && theMusicDB.GetMix(mix_.GetId()).GetId() == mix_.GetId();
    default:
      return true;
  }
}

// ---------------------------------------------------------------- renderers

namespace {

std::string TrackRows(const TrackList& tracks) {
  std::string html;
  html.reserve(tracks.size() * 700);
  for (const Track& track : tracks) html += track.GetLabListHtml();
  return html;
}

// Fetches the page of `count` rows at `offset` into `rows` and returns the
// offset drawn. A page past the first that has no rows (its last rows were
// banned or deleted, or the link is older than the table) gives way to the
// last page that has rows: `recount` gives the total then, and when that is
// too high the pages before are tried one by one.
template <typename Rows, typename Fetch, typename Recount>
int FetchPageWithRows(Rows& rows, int offset, int count, const Fetch& fetch, const Recount& recount) {
  fetch(rows, offset);
  if (!rows.empty() || offset <= 0 || count <= 0) return offset;
  const int total = recount();
  const int lastPage = total > 0 ? (total - 1) / count * count : 0;
  for (int at = std::max(std::min(offset - count, lastPage), 0);; at = std::max(at - count, 0)) {
    rows.clear();
    fetch(rows, at);
    if (!rows.empty() || at == 0) return at;
  }
}

}  // namespace

void TrackInfo::RenderMixTracks(int offset, int count) {
  TrackList tracks;
  offset = FetchPageWithRows(
      tracks, offset, count,
      [this, count](TrackList& rows, int at) { theMusicDB.GetTracksOfMix(mix_, rows, at, count); },
      [this] {
        // The count the mix was shown with is older than the empty page.
        if (mix_.GetId() > 0) mix_.SetPlaylistTrackCount(Mix(mix_.GetId()).GetPlaylistTrackCount());
        return mix_.GetPlaylistTrackCount();
      });
  WriteList("trackttable", TrackRows(tracks));
  WriteList("tracknav", PageNavigation(offset, count, mix_.GetPlaylistTrackCount(), false));
  trackPageOffset_ = offset;
}

void TrackInfo::RenderTagTracks(int offset, int count) {
  TrackList tracks;
  offset = FetchPageWithRows(
      tracks, offset, count,
      [this, count](TrackList& rows, int at) { theMusicDB.GetTracksOfTag(tag_, rows, at, count); },
      [this] {
        // A tag no enabled track carries any more loads with no frequency.
        tag_.frequency = Tag(tag_.id).frequency;
        return tag_.frequency;
      });
  WriteList("trackttable", TrackRows(tracks));
  WriteList("tracknav", PageNavigation(offset, count, tag_.frequency, false));
  trackPageOffset_ = offset;
}

void TrackInfo::RenderAllTracks(int offset, int count) {
  TrackList tracks;
  int total = 0;
  offset = FetchPageWithRows(
      tracks, offset, count,
      [&total, count](TrackList& rows, int at) { total = theMusicDB.GetEnabledTracks(rows, at, count); },
      [&total] { return total; });
  SetElementText("trackheading", FormatText("%d tracks", total));
  WriteList("trackttable", TrackRows(tracks));
  WriteList("tracknav", PageNavigation(offset, count, total, false));
  trackPageOffset_ = offset;
}

void TrackInfo::RenderAllTags(int offset, int count) {
  TagList tags;
  int total = 0;
  offset = FetchPageWithRows(
      tags, offset, count, [&total, count](TagList& rows, int at) { total = theMusicDB.GetTagsPage(rows, at, count); },
      [&total] { return total; });
  SetElementText("tagsheading", FormatText("%d selectors", total));
  std::string html;
  html.reserve(tags.size() * 600);
  for (const Tag& tag : tags) html += tag.GetTrackHolderHtml(total);
  WriteList("alltags", html);
  WriteList("tagnav", PageNavigation(offset, count, total, true));
  tagPageOffset_ = offset;
}

void TrackInfo::RenderDump() {
  TrackList tracks;
  const int total = theMusicDB.GetDisabledTracks(tracks, 0, kPageSize);
  SetElementText("dumpheading", FormatText("You have %d tracks in the Dump", total));
  std::string html;
  for (const Track& track : tracks) html += track.GetDumpListHtml();
  WriteList("dumptable", html);
}

void TrackInfo::RenderMixLists(bool homeLinks) {
  MixList mixes;
  theMusicDB.GetMixes(mixes, false);
  std::string add;
  std::string in;
  // Stored by lower-case name descending: from the end, they read ascending.
  for (auto mix = mixes.rbegin(); mix != mixes.rend(); ++mix) {
    if (homeLinks) {
      add += mix->GetLabLinkHolderHtml();
    } else if (mix->HasTag(tag_)) {
      in += mix->GetLabListHolderHtml();
    } else {
      add += mix->GetLabAddHolderHtml();
    }
  }
  WriteList("addmixtable", add);
  if (!homeLinks) WriteList("inmixtable", in);
}

void TrackInfo::RenderTrackTags() {
  std::string html;
  track_.GetLabTagsHtml(html);
  WriteList("existingtags", html);
}

void TrackInfo::RenderMixTags() {
  std::string html;
  mix_.AppendLabTagsHtml(html);
  WriteList("existingtags", html);
}

void TrackInfo::RenderRelatedTags() {
  TagList tags;
  theMusicDB.GetRelatedTags(tags, tag_);
  std::string html;
  for (const Tag& tag : tags) html += tag.GetTrackHolderHtml(tag_.frequency);
  WriteList("relatedtags", html);
}

void TrackInfo::WriteList(const char* id, std::string html) {
  auto& written = written_[view_ >= LabViewTrack && view_ <= LabViewHome ? view_ : LabViewTrack];
  auto held = written.find(id);
  // The kept page shows it already: nothing to send, parse or lay out.
  if (held != written.end() && held->second == html) return;
  SetElementHtml(id, html);
  written[id] = std::move(html);
}

void TrackInfo::UpdateNavButtons() {
  // Written by id with the view's other writes: no round trip per button.
  platform::HtmlDocument* page = GetDocument();
  if (!page) return;
  page->SetElementClass("back", history_.CanBack() ? "back" : "back-disabled");
  if (history_.CanForward()) {
    page->SetElementClass("forward", "forward");
  } else {
    // At the newest entry the Lab follows the playing track again.
    browsingHistory_ = false;
    page->SetElementClass("forward", "forward-disabled");
  }
}

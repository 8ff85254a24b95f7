// The Lab's page commands: links, back and forward, paging, tag editing,
// mixes, the Dump, play, search, new-tag suggestions and renames.
//
// A clicked holder carries its record's id; a holder left on the page after
// its record went away (or a made-up id) finds nothing and the command does
// nothing, so no row is ever written for a record that is not there.
#include <algorithm>
#include <cstdlib>
#include <optional>

#include "core/AppMainWindow.h"
#include "core/HtmlText.h"
#include "core/MusicDB.h"
#include "core/Token.h"
#include "tools/TrackInfo.h"
#include "windows/TagLinks.h"

namespace {

// The first "_:_" field of the element's id as a number.
int FirstField(const platform::HtmlElement& element) {
  CToken tokens(element.GetId(), "_:_");
  return std::atoi(tokens.GetNextToken().c_str());
}

// The stored track the element names.
std::optional<Track> TrackOf(const platform::HtmlElement& element) {
  Track track;
  track.id = FirstField(element);
  if (track.id <= 0 || !theMusicDB.LoadTrack(track)) return std::nullopt;
  return track;
}

// The tag the element names, as enabled tracks carry it (with its frequency).
std::optional<Tag> TagOf(const platform::HtmlElement& element) {
  Tag tag(element);
  // A tag that no enabled track carries is not loaded (its frequency stays 0).
  if (tag.id <= 0 || tag.frequency <= 0) return std::nullopt;
  return tag;
}

// The stored mix the element names.
std::optional<Mix> MixOf(const platform::HtmlElement& element) {
  Mix mix(element);
  // Every stored mix the Lab lists has a name; one that is gone keeps none.
  if (mix.GetId() <= 0 || mix.GetName().empty()) return std::nullopt;
  return mix;
}

// What the pages' new-tag box shows until it is clicked; never a name.
constexpr char kNewTagPrompt[] = "type selector here";

bool IsBlank(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](unsigned char c) { return c <= ' '; });
}

// The text of a text input; nothing for any other element.
std::optional<std::string> InputText(const platform::HtmlElement* element) {
  if (!element || element->GetTagName() != "INPUT" || !element->IsTextEdit()) return std::nullopt;
  return element->GetValue();
}

}  // namespace

// ---------------------------------------------------------------- following links

HRESULT TrackInfo::OnHome(platform::HtmlElement&) {
  ShowHome(false);
  return S_OK;
}

HRESULT TrackInfo::OnSizeDown(platform::HtmlElement&) {
  // The desktop has no pointer to read: the press is on the window's bottom edge.
  RECT rect{};
  GetWindowRect(&rect);
  constexpr WPARAM kHitBottom = 15;
  SendMessage(WM_NCLBUTTONDOWN, kHitBottom, MAKELPARAM((rect.left + rect.right) / 2, rect.bottom));
  return S_FALSE;
}

HRESULT TrackInfo::OnLabMix(platform::HtmlElement& element) {
  if (auto mix = MixOf(element)) ShowMix(*mix, false);
  return S_OK;
}

HRESULT TrackInfo::OnLabTag(platform::HtmlElement& element) {
  if (auto tag = TagOf(element)) ShowTag(*tag, false);
  return S_OK;
}

HRESULT TrackInfo::OnLabTrack(platform::HtmlElement& element) {
  if (auto track = TrackOf(element)) ShowTrack(*track, false, false);
  return S_OK;
}

void TrackInfo::ShowHistoryStep(bool back) {
  for (;;) {
    auto entry = back ? history_.Back() : history_.Forward();
    if (!entry) return;
    if (ShowFromHistory(*entry)) return;
    if (!(back ? history_.CanBack() : history_.CanForward())) break;
  }
  ShowHome(true);
}

HRESULT TrackInfo::OnBack(platform::HtmlElement&) {
  ShowHistoryStep(true);
  return S_OK;
}

HRESULT TrackInfo::OnForward(platform::HtmlElement&) {
  ShowHistoryStep(false);
  return S_OK;
}

// ---------------------------------------------------------------- paging

HRESULT TrackInfo::OnTrackPage(platform::HtmlElement& element) {
  const int offset = std::max(FirstField(element), 0);
  switch (view_) {
    case LabViewTag:
      RenderTagTracks(offset, kPageSize);
      break;
    case LabViewMix:
      RenderMixTracks(offset, kPageSize);
      break;
    case LabViewHome:
      RenderAllTracks(offset, kPageSize);
      break;
    default:
      break;
  }
  SetLocation("toptracklist");
  return S_OK;
}

HRESULT TrackInfo::OnTagPage(platform::HtmlElement& element) {
  if (view_ == LabViewHome) RenderAllTags(std::max(FirstField(element), 0), kPageSize);
  SetLocation("toptaglist");
  return S_OK;
}

// ---------------------------------------------------------------- tags

void TrackInfo::RedrawViewTags() {
  switch (view_) {
    case LabViewTrack:
      RenderTrackTags();
      break;
    case LabViewTag:
      RenderRelatedTags();
      break;
    case LabViewMix:
      RenderMixTags();
      break;
    default:
      break;
  }
  // Tags made, given, taken or deleted: the other pages' tag lists and mixes.
  PostToAppMainWindow(WM_APP_MIXES_CHANGED);
}

HRESULT TrackInfo::OnDeleteTag(platform::HtmlElement& element) {
  // Nothing is written for a track, tag or mix that went away while shown.
  if (!ShownRecordIsStored()) return S_OK;
  if (view_ == LabViewMix) {
    // One of the mix's own tags, even one the library no longer carries.
    const Tag clicked(element);
    const TagList& tags = mix_.GetTags();
    auto held = std::find_if(tags.begin(), tags.end(), [&](const Tag& tag) {
      return (clicked.id > 0 && tag.id == clicked.id) || tag == clicked;
    });
    if (held == tags.end()) return S_OK;
    const Tag tag = *held;
    mix_.RemoveTag(tag, true);
    RedrawViewTags();
    return S_OK;
  }
  auto tag = TagOf(element);
  if (!tag) return S_OK;
  switch (view_) {
    case LabViewTrack:
      if (track_.id <= 0) return S_OK;
      track_.RemoveTag(*tag);
      break;
    case LabViewTag:
      if (tag_.id <= 0) return S_OK;
      tag_.RemoveSharedAssignments(*tag);
      break;
    case LabViewHome: {
      const std::string caption = "Deleting tag - " + tag->name;
      if (MessageBox(m_hWnd,
                     "Deleting this will remove the tag from all tracks and delete it completely from "
                     "Zorva.\n\nAre you sure you want to do this?",
                     caption.c_str(), MB_YESNO) != IDYES) {
        return S_OK;
      }
      theMusicDB.DeleteTag(*tag);
      RenderAllTags(tagPageOffset_, kPageSize);
      PostToAppMainWindow(WM_APP_MIXES_CHANGED);
      return S_OK;
    }
    default:
      return S_OK;
  }
  RedrawViewTags();
  return S_OK;
}

HRESULT TrackInfo::OnAddTag(platform::HtmlElement& element) {
  if (!ShownRecordIsStored()) return S_OK;
  // A suggested genre: its name is the whole id.
  const std::string name = element.GetId();
  if (IsBlank(name)) return S_OK;
  switch (view_) {
    case LabViewTrack:
      if (track_.id <= 0) return S_OK;
      track_.SetTag(name, TagGenre);
      break;
    case LabViewTag:
      if (tag_.id <= 0) return S_OK;
      tag_.AddToTracksAs(name, TagGenre);
      break;
    case LabViewMix:
      if (mix_.GetId() <= 0) return S_OK;
      // Found or created, so the mix keeps it.
      mix_.AddNewTag(name, TagGenre);
      break;
    default:
      return S_OK;
  }
  RedrawViewTags();
  return S_OK;
}

HRESULT TrackInfo::OnAddExistingTag(platform::HtmlElement& element) {
  auto tag = TagOf(element);
  if (!tag || !ShownRecordIsStored()) return S_OK;
  switch (view_) {
    case LabViewTrack:
      if (track_.id <= 0) return S_OK;
      track_.AddTag(*tag);
      break;
    case LabViewTag:
      if (tag_.id <= 0) return S_OK;
      tag_.CopyAssignments(*tag);
      break;
    case LabViewMix:
      if (mix_.GetId() <= 0) return S_OK;
      mix_.AddTag(*tag, true);
      break;
    default:
      return S_OK;
  }
  RedrawViewTags();
  return S_OK;
}

int TrackInfo::NewTagTypeCode() const {
  if (newTagType_ == "artist") return TagArtist;
  if (newTagType_ == "album") return TagAlbum;
  return TagGenre;
}

HRESULT TrackInfo::OnNewTagSubmit(platform::HtmlElement&) {
  auto box = GetElement("newtag");
  if (!box) return S_FALSE;
  auto typed = InputText(box.get());
  if (!typed || *typed == kNewTagPrompt) return S_OK;
  const std::string& name = *typed;
  // A name of nothing but blanks would be a tag nobody can see or pick.
  if (!IsBlank(name)) {
    const int type = NewTagTypeCode();
    switch (view_) {
      case LabViewTrack:
        if (ShownRecordIsStored()) {
          track_.SetTag(name, type);
          RedrawViewTags();
        }
        break;
      case LabViewTag:
        if (ShownRecordIsStored()) {
          tag_.AddToTracksAs(name, type);
          RedrawViewTags();
        }
        break;
      case LabViewMix:
        if (ShownRecordIsStored()) {
          mix_.AddNewTag(name, type);
          RedrawViewTags();
        }
        break;
      default:
        break;
    }
  }
  box->SetValue("");
  SetElementHtml("tagmatch", "");
  return S_OK;
}

void TrackInfo::SuggestTags() {
  auto text = InputText(GetElement("newtag").get());
  if (!text) return;
  std::string html;
  if (!text->empty()) {
    TagList tags;
    theMusicDB.GetTagsByType(tags, NewTagTypeCode(), *text + "%");
    for (const Tag& tag : tags) html += tag.GetAddHolderHtml();
  }
  SetElementHtml("tagmatch", html);
}

HRESULT TrackInfo::OnNewTagKeyUp(platform::HtmlElement&) {
  SuggestTags();
  return S_OK;
}

HRESULT TrackInfo::OnTypeOption(platform::HtmlElement& element) {
  newTagType_ = element.GetInnerText();
  // The page's own script shows it too; the program keeps the two in step.
  SetElementText("tagtypetext", newTagType_);
  SuggestTags();
  return S_OK;
}

// ---------------------------------------------------------------- mixes

HRESULT TrackInfo::OnMixLink(platform::HtmlElement& element) {
  if (view_ != LabViewTag || !ShownRecordIsStored()) return S_OK;
  auto mix = MixOf(element);
  if (!mix) return S_OK;
  mix->AddTag(tag_, true);
  RenderMixLists(false);
  PostToAppMainWindow(WM_APP_MIXES_CHANGED);
  return S_OK;
}

HRESULT TrackInfo::OnDelMix(platform::HtmlElement& element) {
  if (view_ != LabViewTag || !ShownRecordIsStored()) return S_OK;
  auto mix = MixOf(element);
  if (!mix) return S_OK;
  mix->RemoveTag(tag_, true);
  RenderMixLists(false);
  PostToAppMainWindow(WM_APP_MIXES_CHANGED);
  return S_OK;
}

HRESULT TrackInfo::OnCreateMix(platform::HtmlElement&) {
  if (view_ != LabViewTag || !ShownRecordIsStored()) return S_OK;
  Mix mix;
  // Nothing is stored until the name gives the mix its row.
  mix.AddTag(tag_, true);
  mix.Rename(tag_.name + " Mix");
  RenderMixLists(false);
  return S_OK;
}

// ---------------------------------------------------------------- the Dump

void TrackInfo::RedrawTrackTable() {
  switch (view_) {
    case LabViewTag:
      RenderTagTracks(trackPageOffset_, kPageSize);
      break;
    case LabViewMix:
      RenderMixTracks(trackPageOffset_, kPageSize);
      break;
    case LabViewHome:
      RenderAllTracks(trackPageOffset_, kPageSize);
      break;
    default:
      break;
  }
}

HRESULT TrackInfo::OnDumpTrack(platform::HtmlElement& element) {
  auto track = TrackOf(element);
  if (!track) return S_FALSE;
  theMusicDB.DisableTrack(*track);
  RedrawTrackTable();
  return S_FALSE;
}

HRESULT TrackInfo::OnReleaseTrack(platform::HtmlElement& element) {
  auto track = TrackOf(element);
  if (!track) return S_FALSE;
  theMusicDB.EnableTrack(*track);
  if (view_ == LabViewHome) {
    RenderDump();
    RenderAllTracks(0, kPageSize);
  }
  return S_FALSE;
}

// ---------------------------------------------------------------- play

HRESULT TrackInfo::OnPlayTitle(platform::HtmlElement&) {
  if (!ShownRecordIsStored()) return S_OK;
  switch (view_) {
    case LabViewTrack:
      if (track_.id > 0) PostToAppMainWindow(WM_APP_QUEUE_TRACK, static_cast<WPARAM>(track_.id));
      break;
    case LabViewTag:
      if (tag_.id > 0) PostToAppMainWindow(WM_APP_PLAY_TAG, static_cast<WPARAM>(tag_.id));
      break;
    case LabViewMix:
      if (mix_.GetId() > 0) PostToAppMainWindow(WM_APP_PLAY_MIX, static_cast<WPARAM>(mix_.GetId()));
      break;
    default:
      break;
  }
  return S_OK;
}

// ---------------------------------------------------------------- search

HRESULT TrackInfo::OnSearchKeyUp(platform::HtmlElement& element) {
  auto text = InputText(&element);
  if (!text) return S_OK;
  const std::string pattern = text->empty() ? std::string() : "%" + *text + "%";
  struct Block {
    int type;
    const char* title;
    const char* list;
  };
  static constexpr Block kBlocks[] = {{TagGenre, "Genre", "findgenretags"},
                                      {TagArtist, "Artist", "findartisttags"},
                                      {TagAlbum, "Album", "findalbumtags"}};
  for (const Block& block : kBlocks) {
    TagList tags;
    if (!pattern.empty()) theMusicDB.GetTagsByTypePage(tags, block.type, pattern, 0, 10);
    std::string html;
    if (!tags.empty()) html = FormatText("<div class='findtitle'>%s</div>", block.title);
    for (const Tag& tag : tags) html += tag.GetSearchHolderHtml();
    SetElementHtml(block.list, html);
  }
  TrackList tracks;
  theMusicDB.SearchTracks(tracks, pattern, 0, 10);
  std::string html;
  if (!tracks.empty()) html = "<div class='findtitle'>Track</div>";
  for (const Track& track : tracks) html += track.GetSearchListHtml();
  SetElementHtml("findtracklist", html);
  return S_OK;
}

// ---------------------------------------------------------------- renames

void TrackInfo::RenameTag(const std::string& name) {
  if (view_ != LabViewTag || !ShownRecordIsStored() || IsBlank(name)) {
    SetElementText("tagtitle", tag_.name);
    return;
  }
  tag_.Rename(name);
  theTagLinks.RenameTagInPages(tag_);
  PostToAppMainWindow(WM_APP_MIXES_CHANGED);
}

void TrackInfo::RenameTrack(const std::string& name) {
  if (view_ != LabViewTrack || !ShownRecordIsStored() || IsBlank(name)) {
    SetElementText("tracktitle", track_.name);
    return;
  }
  track_.SaveDetails(name);
}

void TrackInfo::RenameMix(const std::string& name) {
  // A mix that is not stored (any more) would be stored anew by its name.
  if (view_ != LabViewMix || !ShownRecordIsStored() || IsBlank(name)) {
    SetElementText("mixtitle", mix_.GetDisplayName());
    return;
  }
  mix_.Rename(name);
  PostToAppMainWindow(WM_APP_MIXES_CHANGED);
}

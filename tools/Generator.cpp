#include "tools/Generator.h"

#include <algorithm>
#include <cstdlib>

#include "core/AppMainWindow.h"
#include "core/HtmlText.h"
#include "core/Mix.h"
#include "core/MusicDB.h"
#include "core/Schedule.h"
#include "core/Scheduler.h"
#include "core/Tag.h"
#include "core/Token.h"
#include "tools/Automator.h"
#include "windows/TagSelector.h"

namespace {

const char kPageFile[] = "Generator.htm";

constexpr const char kNewScheduleEntry[] =
    "<div class=\"playlistwrap\" title=\"Create new schedule\" id=\"0_:_setplaylist\" "
    "onclick=\"ypSlideOutMenu.hideAll();\" onMouseOver=\"this.style.backgroundColor='#adab22';\" "
    "onMouseOut=\"this.style.backgroundColor='#ffffff';\"><a href=\"#\" onclick=\"this.parentNode.click()\" "
    "title=\"Start a new schdule\" class=\"playlistload\">New - Create a new schedule</a> <div "
    "class='playlisttime' onclick=\"this.parentNode.click()\">Create a new Generator schedule for an iTunes "
    "playlist</div></div>";

FramelessWindowConfig GeneratorConfig() {
  FramelessWindowConfig config;
  config.pageFile = kPageFile;
  config.placementValue = "Generator";
  // Right of the desktop's centre, kept on the desktop; the scheduler goes left.
  config.defaultPosition = FramelessWindowConfig::BesideCentre(1, 5, -50, true);
  return config;
}

// Slot times of a generated playlist: minutes from its start within one day.
bool IsPlaylistSlot(const ScheduleItem& item) {
  return item.GetStart() >= 0 && item.GetStart() < item.GetEnd() && item.GetEnd() <= CGenerator::kMaxDuration;
}

// True when `id` is a stored generator playlist (not a schedule of the scheduler).
bool IsStoredPlaylistSchedule(int id) {
  if (id <= 0) return false;
  ScheduleList stored;
  theMusicDB.GetSchedules(SchedulePlaylist, stored);
  return std::any_of(stored.begin(), stored.end(), [id](const Schedule& s) { return s.GetId() == id; });
}

}  // namespace

// 260 x 380 dialog units: 390 x 617 pixels.
const DialogTemplate CGenerator::kDialog{108, 0, 0, 260, 380, WS_POPUP | WS_CAPTION | WS_SYSMENU, 0};

CGenerator::CGenerator(CWnd* parent) : CFramelessHtmlWindow(GeneratorConfig(), kDialog, kHtmlResource, parent) {}

const DHtmlEventMap& CGenerator::ThisDHtmlEventMap() {
  static const DHtmlEventMap map(&CFramelessHtmlWindow::ThisDHtmlEventMap(),
                                 {
                                     DHtmlEventClass("click", "mixwrap", &CGenerator::OnMixWrap),
                                     DHtmlEventClass("click", "mixdel", &CGenerator::OnMixDel),
                                     DHtmlEventClass("click", "mixtagadd", &CGenerator::OnMixTagAdd),
                                     DHtmlEventClass("click", "mixtagremove", &CGenerator::OnMixTagRemove),
                                     DHtmlEventClass("click", "playlistwrap", &CGenerator::OnPlaylistWrap),
                                     DHtmlEventClass("click", "playlistdel", &CGenerator::OnPlaylistDel),
                                     DHtmlEvent("keyup", "tagfilter", &CGenerator::OnTagFilterKeyUp),
                                     DHtmlEventOnClick("findclear", &CGenerator::OnFindClear),
                                     DHtmlEventOnClick("newplaylist", &CGenerator::OnNewPlaylist),
                                     DHtmlEventOnClick("generate", &CGenerator::OnGenerate),
                                     DHtmlEventOnClick("view", &CGenerator::OnView),
                                     DHtmlEvent("keyup", "playlistname", &CGenerator::OnPlaylistNameKeyUp),
                                     DHtmlEventClass("click", "deleteitem", &CGenerator::OnDeleteItem),
                                 });
  return map;
}

BOOL CGenerator::OnInitDialog() {
  // The page may call the program while it loads: window.external and its
  // owner come before the page.
  CDHtmlDialog::OnInitDialog();
  SetBrowserSilent(true);
  ExposePageDispatch();
  sink_.SetOwner(this);
  NavigateToPage();
  RestorePlacement();
  RemoveFrame();
  CutRoundedRegion();
  AttachShadow();
  return TRUE;
}

void CGenerator::UpdateScheduleItem(const ScheduleItem& item) {
  if (!IsPlaylistSlot(item)) return;
  const ScheduleItemList& items = schedule_.GetItems();
  const auto listed =
      std::find_if(items.begin(), items.end(), [&item](const ScheduleItem& s) { return s.GetId() == item.GetId(); });
  if (item.GetId() <= 0 || listed == items.end()) return;
  ScheduleItem changed = item;
  // The slot stays in the open schedule, whatever schedule the page named.
  changed.SetScheduleId(listed->GetScheduleId());
  // A move or resize keeps the slot's mix as the document holds it: the page
  // names only its id, and a random slot's tags live in the document alone.
  if (changed.GetMix().GetId() == listed->GetMix().GetId()) changed.SetMix(listed->GetMix());
  schedule_.UpdateItem(changed);
  ShowScheduleItems();
}

void CGenerator::InsertScheduleItem(const ScheduleItem& item) {
  if (!IsPlaylistSlot(item)) return;
  schedule_.InsertItem(item);
  ShowScheduleItems();
}

void CGenerator::SetDuration(int minutes) { schedule_.SetDuration(std::clamp(minutes, kMinDuration, kMaxDuration)); }

void CGenerator::ShowMixLinks(const std::string& html) { SetElementHtml("mixlinks", html); }

void CGenerator::SetWallpaper(const std::string& style) {
  wallpaper_ = style;
  // The page's body is "generator"; ids are found ignoring letter case.
  if (auto body = GetElement("Generator")) body->SetStyleBackgroundImage(wallpaper_);
  scripter_.CallFunction("enablewindow");
}

void CGenerator::ShowScheduleItems() {
  std::string html;
  schedule_.AppendItemsHtml(html);
  SetElementHtml("mixdata", html);
  scripter_.CallFunction("positionScheduleItems");
}

void CGenerator::ShowPlaylistSchedules() {
  ScheduleList stored;
  theMusicDB.GetSchedules(SchedulePlaylist, stored);
  std::string html = kNewScheduleEntry;
  for (const Schedule& schedule : stored) html += schedule.GetGeneratorListHtml();
  SetElementHtml("previousmixlinks", html);
}

void CGenerator::ShowGenerated(bool generated) {
  SetElementText("generate", generated ? "Re-Generate!" : "Generate!");
  if (auto view = GetElement("view")) view->SetClassName(generated ? "zorvabutton" : "hidden");
}

void CGenerator::OpenSchedule(const PlaylistSchedule& schedule) {
  if (schedule_.GetId() > 0) schedule_.Save();
  schedule_ = schedule;
  // The input shows its value, not its content.
  if (auto name = GetElement("playlistname")) name->SetValue(schedule_.GetName());
  ShowGenerated(schedule_.GetId() > 0);
  scripter_.CallFunction("setplaylistlength", FormatText("%d", schedule_.GetDuration()));
  ShowScheduleItems();
}

void CGenerator::DetachFromDeletedSchedule() {
  PlaylistSchedule unsaved;
  unsaved.SetName(schedule_.GetName());
  unsaved.SetDuration(schedule_.GetDuration());
  // The slots get in-memory ids, as on a schedule never stored.
  for (const ScheduleItem& item : schedule_.GetItems()) unsaved.InsertItem(item);
  schedule_ = unsaved;
  ShowGenerated(false);
  ShowScheduleItems();
}

void CGenerator::OnDocumentComplete(const std::string& url) {
  CFramelessHtmlWindow::OnDocumentComplete(url);
  const std::size_t at = url.find(kPageFile);
  if (at == std::string::npos || at == 0) return;
  scripter_.SetDocument(GetDocument());
  ShowPlaylistSchedules();
}

HRESULT CGenerator::OnHtmlDragStart(platform::HtmlElement& element) {
  ReleaseCapture();
  return CFramelessHtmlWindow::OnHtmlDragStart(element);
}

int CGenerator::CurrentItemId() const { return ScheduleItemIdOfChooser(GetElementText("currentitem")); }

HRESULT CGenerator::OnMixWrap(platform::HtmlElement& element) {
  Mix mix(element);
  if (!IsChoosableMix(mix)) return S_OK;
  if (const int itemId = CurrentItemId()) schedule_.SetItemMix(itemId, mix);
  ShowScheduleItems();
  return S_OK;
}

HRESULT CGenerator::OnMixDel(platform::HtmlElement& element) {
  DeleteMenuMix(element);
  return S_OK;
}

void CGenerator::ChangeCurrentItemMixTag(const Tag& tag, bool add) {
  const int itemId = CurrentItemId();
  if (itemId == 0) return;
  if (add) {
    schedule_.AddItemMixTag(itemId, tag);
  } else {
    schedule_.RemoveItemMixTag(itemId, tag);
  }
  tagSelector_.SetSelector(schedule_.GetItemMix(itemId));
  ShowScheduleItems();
  PostToAppMainWindow(WM_APP_MIXES_CHANGED);
}

HRESULT CGenerator::OnMixTagAdd(platform::HtmlElement& element) {
  Tag tag(element);
  if (IsLiveTag(tag)) ChangeCurrentItemMixTag(tag, true);
  return S_OK;
}

HRESULT CGenerator::OnMixTagRemove(platform::HtmlElement& element) {
  ChangeCurrentItemMixTag(Tag(element), false);
  return S_OK;
}

HRESULT CGenerator::OnPlaylistWrap(platform::HtmlElement& element) {
  CToken tokens(element.GetId(), "_:_");
  const int id = std::atoi(tokens.GetNextToken().c_str());
  // An entry for a schedule that is not a stored playlist (any more) opens nothing.
  if (id != 0 && !IsStoredPlaylistSchedule(id)) {
    ShowPlaylistSchedules();
    return S_OK;
  }
  OpenSchedule(PlaylistSchedule(element));
  return S_OK;
}

HRESULT CGenerator::OnPlaylistDel(platform::HtmlElement& element) {
  CToken tokens(element.GetId(), "_:_");
  const int id = std::atoi(tokens.GetNextToken().c_str());
  if (IsStoredPlaylistSchedule(id)) {
    PlaylistSchedule(element).Delete();
    // The open document no longer has a row: it becomes a new one again.
    if (id == schedule_.GetId()) DetachFromDeletedSchedule();
  }
  ShowPlaylistSchedules();
  return S_OK;
}

HRESULT CGenerator::OnTagFilterKeyUp(platform::HtmlElement& element) {
  tagSelector_.OnFilterKeyUp(element);
  return S_OK;
}

HRESULT CGenerator::OnFindClear(platform::HtmlElement&) {
  tagSelector_.OnFindClear(*this);
  return S_OK;
}

HRESULT CGenerator::OnNewPlaylist(platform::HtmlElement&) {
  OpenSchedule(PlaylistSchedule());
  return S_FALSE;
}

HRESULT CGenerator::OnGenerate(platform::HtmlElement&) {
  if (!schedule_.Generate()) {
    MessageBox(m_hWnd,
               "Your playlist could not be Generated: iTunes could not be reached.\n\n"
               "Your schedule is kept as it is; start iTunes and try again.",
               "Playlist not generated", MB_OK | MB_ICONEXCLAMATION);
    return S_OK;
  }
  // The name it was stored under, should the field have been left empty.
  if (auto name = GetElement("playlistname")) name->SetValue(schedule_.GetName());
  // The first generation stores the slots under new ids.
  ShowScheduleItems();
  ShowPlaylistSchedules();
  ShowGenerated(true);
  PostToAppMainWindow(WM_APP_MIXES_CHANGED);
  const int answer = MessageBox(m_hWnd, "Your playlist has been Generated.\n\nWould you like to view it in iTunes now?",
                                "Playlist generated", MB_YESNO);
  if (answer == IDYES) schedule_.ShowInITunes();
  return S_OK;
}

HRESULT CGenerator::OnView(platform::HtmlElement&) {
  const int before = schedule_.GetId();
  schedule_.ShowInITunes();
  if (schedule_.GetId() != before) ShowScheduleItems();
  ShowPlaylistSchedules();
  if (schedule_.GetId() > 0) ShowGenerated(true);
  if (HWND player = FindWindow("iTunes", nullptr)) ::SetForegroundWindow(player);
  return S_FALSE;
}

HRESULT CGenerator::OnPlaylistNameKeyUp(platform::HtmlElement& element) {
  const std::string name = element.GetValue();
  // A schedule without a name is never listed, so could never be opened again.
  const bool blank = name.find_first_not_of(" \t\r\n") == std::string::npos;
  schedule_.SetName(blank ? PlaylistSchedule::kDefaultName : name);
  return S_OK;
}

HRESULT CGenerator::OnDeleteItem(platform::HtmlElement& element) {
  const ScheduleItem named(element);
  // Only a slot of the open schedule: the link's schedule id could name another's.
  const ScheduleItemList& items = schedule_.GetItems();
  const auto listed =
      std::find_if(items.begin(), items.end(), [&named](const ScheduleItem& s) { return s.GetId() == named.GetId(); });
  if (named.GetId() <= 0 || listed == items.end()) return S_OK;
  schedule_.DeleteItem(ScheduleItem(*listed));
  ShowScheduleItems();
  PostToAppMainWindow(WM_APP_MIXES_CHANGED);
  return S_OK;
}

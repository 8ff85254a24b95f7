#include "tools/Automator.h"

#include <cstdlib>

#include "core/AppMainWindow.h"
#include "core/HtmlText.h"
#include "core/Mix.h"
#include "core/MusicDB.h"
#include "core/Schedule.h"
#include "core/Scheduler.h"
#include "core/Tag.h"
#include "core/Token.h"
#include "windows/TagSelector.h"

namespace {

const char kPageFile[] = "Automator.htm";
const char kEditorChooser[] = "newmix";

FramelessWindowConfig AutomatorConfig() {
  FramelessWindowConfig config;
  config.pageFile = kPageFile;
  config.placementValue = "Automator";
  // Left of the desktop's centre, where the generator goes to the right.
  config.defaultPosition = FramelessWindowConfig::BesideCentre(-3, -5, -50);
  return config;
}

}  // namespace

int ScheduleItemIdOfChooser(const std::string& chooserId) {
  CToken tokens(chooserId, "_");
  if (tokens.GetNextToken() != "itemmix") return 0;
  // Items the page made itself ("newsitem_<n>") carry a number of the page's
  // own until the program draws them again; it names no stored item.
  if (tokens.GetNextToken() != "sitemid") return 0;
  const int id = std::atoi(tokens.GetNextToken().c_str());
  return id > 0 ? id : 0;
}

// 260 x 380 dialog units: 390 x 617 pixels.
const DialogTemplate Automator::kDialog{106, 0, 0, 260, 380, WS_POPUP | WS_CAPTION | WS_SYSMENU, 0};

Automator::Automator(CWnd* parent) : CFramelessHtmlWindow(AutomatorConfig(), kDialog, kHtmlResource, parent) {}

const MessageMap& Automator::ThisMessageMap() {
  static const MessageMap map(&CFramelessHtmlWindow::ThisMessageMap(), {
                                                                           OnWmShowWindow(&Automator::OnShowWindow),
                                                                       });
  return map;
}

const DHtmlEventMap& Automator::ThisDHtmlEventMap() {
  static const DHtmlEventMap map(&CFramelessHtmlWindow::ThisDHtmlEventMap(),
                                 {
                                     DHtmlEventClass("click", "mixwrap", &Automator::OnMixWrap),
                                     DHtmlEventClass("click", "mixdel", &Automator::OnMixDel),
                                     DHtmlEventClass("click", "mixtagadd", &Automator::OnMixTagAdd),
                                     DHtmlEventClass("click", "mixtagremove", &Automator::OnMixTagRemove),
                                     DHtmlEvent("keyup", "tagfilter", &Automator::OnTagFilterKeyUp),
                                     DHtmlEventOnClick("findclear", &Automator::OnFindClear),
                                     DHtmlEventClass("click", "deleteitem", &Automator::OnDeleteItem),
                                     DHtmlEventOnClick("enable", &Automator::OnEnable),
                                 });
  return map;
}

BOOL Automator::OnInitDialog() {
  // The page answers the program's first call through window.external while
  // it loads, so that comes before the page.
  CDHtmlDialog::OnInitDialog();
  SetBrowserSilent(true);
  ExposePageDispatch();
  NavigateToPage();
  RestorePlacement();
  RemoveFrame();
  CutRoundedRegion();
  AttachShadow();
  return TRUE;
}

void Automator::ShowScheduleItems() {
  ScheduleItemList items;
  theScheduler.GetTypeItems(items);
  std::string html;
  for (const ScheduleItem& item : items) html += item.GetHtml();
  SetElementHtml("mixdata", html);
  scripter_.CallFunction("positionScheduleItems");
}

void Automator::UpdateEnableButton() {
  auto button = GetElement("enable");
  if (!button) return;
  const char* className = "enableclass";
  const char* text = "Stopped";
  if (theScheduler.IsRunning()) {
    className = "disableclass";
    text = "Running";
  }
  if (theScheduler.IsOverridden()) {
    className = "overrideclass";
    text = "Override";
  }
  button->SetClassName(className);
  button->SetInnerText(text);
}

void Automator::ShowMixLinks(const std::string& html) { SetElementHtml("zorvamixlinks", html); }

void Automator::ShowPlaylistLinks(const std::string& html) { SetElementHtml("iplaylistlinks", html); }

void Automator::SetWallpaper(const std::string& style) {
  wallpaper_ = style;
  if (auto body = GetElement("Automator")) body->SetStyleBackgroundImage(wallpaper_);
  scripter_.CallFunction("enablewindow");
}

void Automator::OnNavigateComplete(const std::string& url) {
  CFramelessHtmlWindow::OnNavigateComplete(url);
  SetWallpaper(wallpaper_);
}

void Automator::OnDocumentComplete(const std::string& url) {
  CFramelessHtmlWindow::OnDocumentComplete(url);
  const std::size_t at = url.find(kPageFile);
  if (at == std::string::npos || at == 0) return;
  scripter_.SetDocument(GetDocument());
  // The page's own markup says "Running" whatever the state is.
  UpdateEnableButton();
  scripter_.CallFunction("setscheduletype", FormatText("%d", theScheduler.GetType()));
}

void Automator::OnShowWindow(BOOL show, UINT status) {
  CFramelessHtmlWindow::OnShowWindow(show, status);
  if (show) scripter_.CallFunction("scrolltocurrenttime");
}

HRESULT Automator::OnHtmlSelectStart(platform::HtmlElement& element) {
  if (element.GetClassName().rfind("halfhourgrid", 0) == 0) return S_OK;
  return CFramelessHtmlWindow::OnHtmlSelectStart(element);
}

HRESULT Automator::OnHtmlDragStart(platform::HtmlElement& element) {
  // A drag the page had begun holds the mouse; the window move needs it.
  ReleaseCapture();
  return CFramelessHtmlWindow::OnHtmlDragStart(element);
}

int Automator::CurrentItemId() const {
  const int itemId = ScheduleItemIdOfChooser(GetElementText("currentitem"));
  if (itemId == 0) return 0;
  // A chooser left over from an item deleted since names nothing.
  return theMusicDB.GetScheduleItem(itemId).GetId() == itemId ? itemId : 0;
}

HRESULT Automator::OnMixWrap(platform::HtmlElement& element) {
  Mix mix(element);
  if (!IsChoosableMix(mix)) return S_OK;
  if (GetElementText("currentitem") == kEditorChooser) SetElementHtml(kEditorChooser, mix.GetAutomatorLinkHtml());
  if (const int itemId = CurrentItemId()) theMusicDB.SetScheduleItemMix(itemId, mix.GetId());
  PostToAppMainWindow(WM_APP_SCHEDULE_CHANGED);
  return S_OK;
}

HRESULT Automator::OnMixDel(platform::HtmlElement& element) {
  DeleteMenuMix(element);
  return S_OK;
}

HRESULT Automator::OnMixTagAdd(platform::HtmlElement& element) {
  Tag tag(element);
  const int itemId = CurrentItemId();
  // Without an item to add it to, a new untitled mix would belong to nothing.
  if (itemId == 0 || !IsLiveTag(tag)) return S_OK;
  Mix mix = theMusicDB.GetMixOfScheduleItem(itemId);
  if (mix.GetId() == 0) {
    // A random selection gets a stored mix of its own, named after its slot.
    const ScheduleItem item = theMusicDB.GetScheduleItem(itemId);
    mix.Rename(FormatText("Untitled %s mix", item.FormatTime(item.GetStart()).c_str()));
    if (mix.GetId() == 0) return S_OK;  // not stored: nothing to attach it to
    theMusicDB.SetScheduleItemMix(itemId, mix.GetId());
  }
  mix.AddTag(tag, true);
  tagSelector_.SetSelector(mix);
  PostToAppMainWindow(WM_APP_SCHEDULE_CHANGED);
  PostToAppMainWindow(WM_APP_MIXES_CHANGED);
  return S_OK;
}

HRESULT Automator::OnMixTagRemove(platform::HtmlElement& element) {
  Tag tag(element);
  const int itemId = CurrentItemId();
  if (itemId == 0) return S_OK;
  Mix mix = theMusicDB.GetMixOfScheduleItem(itemId);
  mix.RemoveTag(tag, true);
  tagSelector_.SetSelector(mix);
  PostToAppMainWindow(WM_APP_SCHEDULE_CHANGED);
  PostToAppMainWindow(WM_APP_MIXES_CHANGED);
  return S_OK;
}

HRESULT Automator::OnTagFilterKeyUp(platform::HtmlElement& element) {
  tagSelector_.OnFilterKeyUp(element);
  return S_OK;
}

HRESULT Automator::OnFindClear(platform::HtmlElement&) {
  tagSelector_.OnFindClear(*this);
  return S_OK;
}

HRESULT Automator::OnDeleteItem(platform::HtmlElement& element) {
  ScheduleItem item(element);
  theMusicDB.DeleteScheduleItem(item);
  PostToAppMainWindow(WM_APP_SCHEDULE_CHANGED);
  return S_OK;
}

HRESULT Automator::OnEnable(platform::HtmlElement&) {
  if (theScheduler.IsRunning()) {
    theScheduler.Stop();
  } else {
    theScheduler.Start();
  }
  return S_OK;
}

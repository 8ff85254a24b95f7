// The scheduler window: the page "Automator.htm" shows a day timeline per
// fixed schedule with its items, a menu of the three schedule layouts, a mix
// chooser and a tag selector per item, the item editor and the button that
// switches the scheduler on and off. The window keeps no schedule data: each
// edit goes to theMusicDB or the mix records at once and the main window is
// told (WM_APP_SCHEDULE_CHANGED, WM_APP_MIXES_CHANGED), which reloads
// theScheduler and has this window redraw. Closing it only hides it.
#pragma once

#include <string>

#include "windows/FramelessHtmlWindow.h"
#include "windows/JavaScriptEventSink.h"
#include "windows/JavaScripter.h"
#include "windows/TagSelector.h"

class Automator : public CFramelessHtmlWindow {
 public:
  static const DialogTemplate kDialog;  // dialog 106
  static constexpr UINT kHtmlResource = 107;

  explicit Automator(CWnd* parent = nullptr);

  // The items of theScheduler's current type into "mixdata", then placed by the page.
  void ShowScheduleItems();
  // "enable" shows the scheduler's state.
  void UpdateEnableButton();
  // The stored mixes and the player's playlist mixes of the mix menu.
  void ShowMixLinks(const std::string& html);
  void ShowPlaylistLinks(const std::string& html);
  // A CSS background-image value for the page body "Automator".
  void SetWallpaper(const std::string& style);

  const std::string& GetWallpaper() const { return wallpaper_; }
  const std::string& GetTagFilter() const { return tagSelector_.GetFilter(); }
  JavaScriptEventSink& GetSink() { return sink_; }
  CJavaScripter& GetScripter() { return scripter_; }

  BOOL OnInitDialog() override;
  void OnNavigateComplete(const std::string& url) override;
  void OnDocumentComplete(const std::string& url) override;

  // Dragging across the timeline's half-hour cells marks out a new item
  // there; it must not move the window.
  HRESULT OnHtmlSelectStart(platform::HtmlElement& element) override;
  HRESULT OnHtmlDragStart(platform::HtmlElement& element) override;

  const MessageMap& GetMessageMap() const override { return ThisMessageMap(); }
  static const MessageMap& ThisMessageMap();
  const DHtmlEventMap& GetDHtmlEventMap() const override { return ThisDHtmlEventMap(); }
  static const DHtmlEventMap& ThisDHtmlEventMap();

 protected:
  platform::ScriptDispatch* GetPageDispatch() override { return &sink_; }

  void OnShowWindow(BOOL show, UINT status);

  HRESULT OnMixWrap(platform::HtmlElement& element);
  HRESULT OnMixDel(platform::HtmlElement& element);
  HRESULT OnMixTagAdd(platform::HtmlElement& element);
  HRESULT OnMixTagRemove(platform::HtmlElement& element);
  HRESULT OnTagFilterKeyUp(platform::HtmlElement& element);
  HRESULT OnFindClear(platform::HtmlElement& element);
  HRESULT OnDeleteItem(platform::HtmlElement& element);
  HRESULT OnEnable(platform::HtmlElement& element);

 private:
  // The stored item whose chooser the page left in "currentitem"; 0 for the
  // item editor's "newmix", an item the page made but the program has not
  // drawn yet, or an item that is no longer stored.
  int CurrentItemId() const;

  std::string wallpaper_ = "skin1";
  TagSelector tagSelector_{TagLinks::SchedulerPage};
  CJavaScripter scripter_;
  JavaScriptEventSink sink_{JavaScriptEventSink::SchedulerPage};
};

// The item id of a chooser id "itemmix_sitemid_<id>"; 0 for any other text.
int ScheduleItemIdOfChooser(const std::string& chooserId);

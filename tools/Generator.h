// The playlist generator window: the page "Generator.htm" lays out a timed
// sequence of mixes (the open playlist schedule) on a timeline of the
// playlist's length; "Generate!" fills each slot with tracks of its mix and
// writes them into the player as one playlist, "View in iTunes" shows it
// there. Stored schedules are listed for opening and deleting. A new
// schedule lives in memory until its first generation stores it.
#pragma once

#include <string>

#include "core/PlaylistSchedule.h"
#include "windows/FramelessHtmlWindow.h"
#include "tools/GeneratorJavaScriptEventSink.h"
#include "windows/JavaScripter.h"
#include "windows/TagSelector.h"

class CGenerator : public CFramelessHtmlWindow {
 public:
  static const DialogTemplate kDialog;  // dialog 108
  static constexpr UINT kHtmlResource = 109;
  // The playlist length the page offers, in minutes.
  static constexpr int kMinDuration = 15;
  static constexpr int kMaxDuration = 1440;

  explicit CGenerator(CWnd* parent = nullptr);

  // The page moved, resized or made a slot. Times are minutes from the
  // playlist's start, 0 <= start < end <= 1440; other slots are refused, as
  // is a change of a slot the open schedule does not hold.
  void UpdateScheduleItem(const ScheduleItem& item);
  void InsertScheduleItem(const ScheduleItem& item);
  // The open schedule's length, kept within 15 to 1440 minutes; not redrawn.
  void SetDuration(int minutes);
  void ShowMixLinks(const std::string& html);
  // A CSS background-image value for the page body.
  void SetWallpaper(const std::string& style);
  void ShowScheduleItems();
  void ShowPlaylistSchedules();
  // Stores the open schedule when it is stored already, then opens `schedule`.
  void OpenSchedule(const PlaylistSchedule& schedule);

  const PlaylistSchedule& GetSchedule() const { return schedule_; }
  const std::string& GetWallpaper() const { return wallpaper_; }
  const std::string& GetTagFilter() const { return tagSelector_.GetFilter(); }
  GeneratorJavaScriptEventSink& GetSink() { return sink_; }
  CJavaScripter& GetScripter() { return scripter_; }

  BOOL OnInitDialog() override;
  void OnDocumentComplete(const std::string& url) override;
  HRESULT OnHtmlDragStart(platform::HtmlElement& element) override;

  const DHtmlEventMap& GetDHtmlEventMap() const override { return ThisDHtmlEventMap(); }
  static const DHtmlEventMap& ThisDHtmlEventMap();

 protected:
  platform::ScriptDispatch* GetPageDispatch() override { return &sink_; }

  HRESULT OnMixWrap(platform::HtmlElement& element);
  HRESULT OnMixDel(platform::HtmlElement& element);
  HRESULT OnMixTagAdd(platform::HtmlElement& element);
  HRESULT OnMixTagRemove(platform::HtmlElement& element);
  HRESULT OnPlaylistWrap(platform::HtmlElement& element);
  HRESULT OnPlaylistDel(platform::HtmlElement& element);
  HRESULT OnTagFilterKeyUp(platform::HtmlElement& element);
  HRESULT OnFindClear(platform::HtmlElement& element);
  HRESULT OnNewPlaylist(platform::HtmlElement& element);
  HRESULT OnGenerate(platform::HtmlElement& element);
  HRESULT OnView(platform::HtmlElement& element);
  HRESULT OnPlaylistNameKeyUp(platform::HtmlElement& element);
  HRESULT OnDeleteItem(platform::HtmlElement& element);

 private:
  // The item id of the chooser the page left in "currentitem"; 0 for none.
  int CurrentItemId() const;
  // The tag joins (`add`) or leaves the current item's mix.
  void ChangeCurrentItemMixTag(const Tag& tag, bool add);
  void ShowGenerated(bool generated);
  // After the open schedule's row was deleted: the same slots, not stored.
  void DetachFromDeletedSchedule();

  std::string wallpaper_ = "skin1";
  TagSelector tagSelector_{TagLinks::GeneratorPage};
  PlaylistSchedule schedule_;
  CJavaScripter scripter_;
  GeneratorJavaScriptEventSink sink_;
};

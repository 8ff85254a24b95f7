// The Lab: the library browser of the main program. One object is shown at a
// time (a track, a tag, a mix or the library home), each on its own page;
// the user follows links between them, goes back and forward, pages through
// long track and tag tables, searches, tags, dumps and releases tracks and
// sends what is shown to the player. Everything shown comes from theMusicDB
// and the records' own HTML; the pages' window.external renames the shown
// object after an edit in place.
#pragma once

#include <map>
#include <string>

#include "core/Mix.h"
#include "core/Tag.h"
#include "core/Track.h"
#include "tools/LabHistory.h"
#include "windows/FramelessHtmlWindow.h"
#include "windows/JavaScripter.h"
#include "tools/LabJavaScriptEventSink.h"

enum LabView : int {
  LabViewTrack = 0,  // "TrackInfo.htm"
  LabViewTag = 1,    // "SelectorInfo.htm"
  LabViewMix = 2,    // "MixInfo.htm"
  LabViewHome = 3,   // "LabHome.htm"
};

class TrackInfo : public CFramelessHtmlWindow {
 public:
  static const DialogTemplate kDialog;  // dialog 103
  static constexpr UINT kHtmlResource = 105;
  // Rows of one page of a track or tag table.
  static constexpr int kPageSize = 100;

  explicit TrackInfo(CWnd* parent = nullptr);

  // The page file of a view.
  static const char* PageOfView(int view);

  // followPlaying: the player's call for each new playing track; it only
  // redraws a track page already shown, and not while the user browses the
  // history. fromHistory: the view comes from back or forward (no entry).
  void ShowTrack(const Track& track, bool followPlaying, bool fromHistory);
  void ShowTag(const Tag& tag, bool fromHistory);
  void ShowMix(const Mix& mix, bool fromHistory);
  void ShowHome(bool fromHistory);
  // A CSS background-image value for the page's body "TrackInfo".
  void SetWallpaper(const std::string& style);

  // Renderers of the loaded page; elements the page lacks are skipped.
  void RenderMixTracks(int offset, int count);
  void RenderTagTracks(int offset, int count);
  void RenderAllTracks(int offset, int count);
  void RenderAllTags(int offset, int count);
  void RenderDump();
  void RenderMixLists(bool homeLinks);
  void RenderTrackTags();
  void RenderMixTags();
  void RenderRelatedTags();
  void UpdateNavButtons();
  void NavigateToView();

  // An edit in place of the shown title (LabJavaScriptEventSink). A name
  // without anything but blanks is refused and the title shows the old one.
  void RenameTag(const std::string& name);
  void RenameTrack(const std::string& name);
  void RenameMix(const std::string& name);

  int GetView() const { return view_; }
  const Track& GetCurrentTrack() const { return track_; }
  const Tag& GetCurrentTag() const { return tag_; }
  const Mix& GetCurrentMix() const { return mix_; }
  const LabHistory& GetHistory() const { return history_; }
  bool IsBrowsingHistory() const { return browsingHistory_; }
  const std::string& GetNewTagType() const { return newTagType_; }
  int GetTrackPageOffset() const { return trackPageOffset_; }
  int GetTagPageOffset() const { return tagPageOffset_; }
  const std::string& GetWallpaper() const { return wallpaper_; }
  LabJavaScriptEventSink& GetSink() { return sink_; }

  BOOL OnInitDialog() override;
  // The four pages pass; "#" links on them scroll the page to their anchor;
  // web links go to the user's browser; everything else stays.
  void OnBeforeNavigate(const std::string& url, bool& cancel) override;
  // A Lab page has loaded: the view waiting for it is drawn.
  void OnDocumentComplete(const std::string& url) override;

  const MessageMap& GetMessageMap() const override { return ThisMessageMap(); }
  static const MessageMap& ThisMessageMap();
  const DHtmlEventMap& GetDHtmlEventMap() const override { return ThisDHtmlEventMap(); }
  static const DHtmlEventMap& ThisDHtmlEventMap();

  // The page commands (LabCommands.cpp).
  HRESULT OnHome(platform::HtmlElement& element);
  HRESULT OnSizeDown(platform::HtmlElement& element);
  HRESULT OnLabMix(platform::HtmlElement& element);
  HRESULT OnMixLink(platform::HtmlElement& element);
  HRESULT OnDelMix(platform::HtmlElement& element);
  HRESULT OnLabTag(platform::HtmlElement& element);
  HRESULT OnDeleteTag(platform::HtmlElement& element);
  HRESULT OnAddTag(platform::HtmlElement& element);
  HRESULT OnLabTrack(platform::HtmlElement& element);
  HRESULT OnTrackPage(platform::HtmlElement& element);
  HRESULT OnTagPage(platform::HtmlElement& element);
  HRESULT OnDumpTrack(platform::HtmlElement& element);
  HRESULT OnReleaseTrack(platform::HtmlElement& element);
  HRESULT OnPlayTitle(platform::HtmlElement& element);
  HRESULT OnCreateMix(platform::HtmlElement& element);
  HRESULT OnNewTagSubmit(platform::HtmlElement& element);
  HRESULT OnAddExistingTag(platform::HtmlElement& element);
  HRESULT OnNewTagKeyUp(platform::HtmlElement& element);
  HRESULT OnTypeOption(platform::HtmlElement& element);
  HRESULT OnSearchKeyUp(platform::HtmlElement& element);
  HRESULT OnBack(platform::HtmlElement& element);
  HRESULT OnForward(platform::HtmlElement& element);

 protected:
  platform::ScriptDispatch* GetPageDispatch() override { return &sink_; }
  void DoDataExchange(CDataExchange* exchange) override;
  void OnSize(UINT type, int cx, int cy);
  void OnShowWindow(BOOL show, UINT status);

 private:
  // Calls the page's updatecurrentview while the window is shown.
  void UpdateCurrentView();
  void SetLocation(const std::string& anchor);
  // False, showing nothing, when the entry's record is gone.
  bool ShowFromHistory(const LabHistoryEntry& entry);
  // Walks the history one way past entries whose records are gone; the home
  // view when no entry that way is left.
  void ShowHistoryStep(bool back);
  // The shown track, tag or mix is still the stored one (always true at home).
  bool ShownRecordIsStored() const;
  // The track table of the view at the remembered offset (nothing on the
  // track view).
  void RedrawTrackTable();
  // Suggestions of existing tags of the new-tag type for the text in "newtag".
  void SuggestTags();
  // The tag type of the new-tag type word.
  int NewTagTypeCode() const;
  // Writes a list's HTML into the page of the current view, unless that page
  // holds it already as the Lab last wrote it there.
  void WriteList(const char* id, std::string html);
  // Writes the tag list of the current view after a tag command.
  void RedrawViewTags();
  // Opens a link that leaves the Lab in the user's browser (web addresses only).
  static void OpenOutsideLink(const std::string& url);

  int view_ = LabViewTrack;
  Track track_;
  Tag tag_;
  Mix mix_;
  std::string wallpaper_ = "skin1";
  CJavaScripter scripter_;
  LabJavaScriptEventSink sink_;
  std::string newTagType_ = "genre";
  LabHistory history_;
  bool browsingHistory_ = false;
  int trackPageOffset_ = 0;
  int tagPageOffset_ = 0;
  // Per view, the lists last written into its page (by id) since it loaded:
  // a kept page shown again still holds them.
  std::map<std::string, std::string> written_[4];
  // Size events seen: the first two come while the window is made.
  int sizeEvents_ = 0;
};

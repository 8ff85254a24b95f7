// The class library's HTML dialog (CDHtmlDialog): a dialog whose whole client
// area is a browser showing one page (platform/html/HtmlDocument.h). Page
// events reach the dialog through its DHTML event map, a table of (event,
// element id / exact class name / tag name / every tag, member handler);
// navigations through OnBeforeNavigate, OnNavigateComplete and
// OnDocumentComplete. Page script reaches the program through the dispatch
// object given with SetExternalDispatch (window.external).
//
// Event maps are declared like message maps (Wnd.h):
//
//   const DHtmlEventMap& CSettingsWindow::ThisDHtmlEventMap() {
//     static const DHtmlEventMap map(&CFramelessHtmlWindow::ThisDHtmlEventMap(), {
//         DHtmlEventOnClick("usetattoo", &CSettingsWindow::OnUseTattoo),
//         DHtmlEventClass("click", "mixwrap", &CSettingsWindow::OnMixWrap),
//         DHtmlEvent("keyup", "tagfilter", &CSettingsWindow::OnTagFilterKeyUp),
//     });
//     return map;
//   }
//   HRESULT CSettingsWindow::OnUseTattoo(platform::HtmlElement& element);
//
// with GetDHtmlEventMap() overridden to return ThisDHtmlEventMap(). An event
// runs every entry that matches it, this class's entries first and then the
// base classes', in table order. An entry matches by the element the event
// happened on only, never by an element around it, and as the element was
// when the event came (what a handler changes does not add entries). A handler answers S_OK to
// let the browser's own action go ahead and S_FALSE to cancel it; one S_FALSE
// cancels it.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/html/HtmlDocument.h"
#include "platform/window/Dialog.h"

class CDHtmlDialog;

class DHtmlEventMap {
 public:
  using Handler = std::function<HRESULT(CDHtmlDialog&, platform::HtmlElement&)>;
  enum class Match { Id, ClassName, Tag, EveryTag };
  struct Entry {
    std::string event;  // the DOM event type: "click", "keyup", "selectstart"...
    Match match;
    std::string name;  // id, class name (the whole class attribute) or tag name
    Handler handler;
  };

  DHtmlEventMap(const DHtmlEventMap* base, std::vector<Entry> entries) : base_(base), entries_(std::move(entries)) {}

  // The element of one event as the entries see it: each name is read from
  // the page once, when an entry first asks (a read may be a round trip).
  class Subject {
   public:
    explicit Subject(const platform::HtmlEvent& event) : event_(event) {}
    const platform::HtmlEvent& Event() const { return event_; }
    const std::string& Id();
    const std::string& ClassName();
    const std::string& TagName();

   private:
    const platform::HtmlEvent& event_;
    std::optional<std::string> id_, className_, tagName_;
  };
  static bool Matches(const Entry& entry, Subject& subject);
  // Every entry of this table, then of the base classes' tables.
  void ForEach(const std::function<void(const Entry&)>& visit) const;

 private:
  const DHtmlEventMap* base_;
  std::vector<Entry> entries_;
};

template <class T>
DHtmlEventMap::Entry DHtmlEvent(std::string event, std::string id, HRESULT (T::*handler)(platform::HtmlElement&)) {
  return {std::move(event), DHtmlEventMap::Match::Id, std::move(id),
          [handler](CDHtmlDialog& d, platform::HtmlElement& e) { return (static_cast<T&>(d).*handler)(e); }};
}
template <class T>
DHtmlEventMap::Entry DHtmlEventOnClick(std::string id, HRESULT (T::*handler)(platform::HtmlElement&)) {
  return DHtmlEvent("click", std::move(id), handler);
}
template <class T>
DHtmlEventMap::Entry DHtmlEventClass(std::string event, std::string className,
                                     HRESULT (T::*handler)(platform::HtmlElement&)) {
  return {std::move(event), DHtmlEventMap::Match::ClassName, std::move(className),
          [handler](CDHtmlDialog& d, platform::HtmlElement& e) { return (static_cast<T&>(d).*handler)(e); }};
}
// Tag names are matched ignoring case.
template <class T>
DHtmlEventMap::Entry DHtmlEventTag(std::string event, std::string tagName,
                                   HRESULT (T::*handler)(platform::HtmlElement&)) {
  return {std::move(event), DHtmlEventMap::Match::Tag, std::move(tagName),
          [handler](CDHtmlDialog& d, platform::HtmlElement& e) { return (static_cast<T&>(d).*handler)(e); }};
}
// The event on an element of any tag.
template <class T>
DHtmlEventMap::Entry DHtmlEventTagAll(std::string event, HRESULT (T::*handler)(platform::HtmlElement&)) {
  return {std::move(event), DHtmlEventMap::Match::EveryTag, std::string(),
          [handler](CDHtmlDialog& d, platform::HtmlElement& e) { return (static_cast<T&>(d).*handler)(e); }};
}

// The element names of HTML, upper case: every tag a page can hold (what an
// every-tag entry covers, for browsers that bind events tag by tag).
const std::vector<std::string>& HtmlElementTagNames();

class CDHtmlDialog : public CDialog {
 public:
  CDHtmlDialog(const DialogTemplate& dialog, UINT htmlResource, CWnd* parent = nullptr);
  ~CDHtmlDialog() override;

  // CDialog's, then the browser: a child window over the whole client area
  // showing an empty page (the dialog's HTML resource has nothing to show here).
  BOOL OnInitDialog() override;
  // Keys as a dialog with a browser takes them: Enter is the OK button (OnOK),
  // Escape the Cancel button (OnCancel), F5 reloads the page; each is then
  // handled (TRUE). Everything else is not.
  BOOL PreTranslateMessage(MSG* msg) override;

  // Null before OnInitDialog.
  platform::HtmlDocument* GetDocument() const { return document_.get(); }
  HWND GetBrowserWindow() const { return browser_; }
  UINT GetHtmlResource() const { return htmlResource_; }
  void Navigate(const std::string& url);
  // Page files kept loaded (their file URLs): once one has loaded, going to
  // another of them keeps it aside, hidden, and going back to it shows it
  // again as it was left, without a load. OnBeforeNavigate, then
  // OnNavigateComplete and OnDocumentComplete come as for a load (inside
  // Navigate); the page's own load-time scripts do not run again.
  void KeepPagesLoaded(std::vector<std::string> urls);
  // True inside the completion calls of a kept page shown again (its
  // content as it was left), false for those of a load.
  bool IsKeptPageShownAgain() const { return keptShownAgain_; }
  std::string GetCurrentUrl() const;
  void SetBrowserSilent(bool silent);

  platform::HtmlElementPtr GetElement(const std::string& id) const;
  // Each does nothing (or gives "") when the page has no such element.
  std::string GetElementHtml(const std::string& id) const;
  void SetElementHtml(const std::string& id, const std::string& html);
  std::string GetElementText(const std::string& id) const;
  void SetElementText(const std::string& id, const std::string& text);

  // Page script's window.external, given only while IsExternalDispatchSafe()
  // says TRUE. The dialog does not own it; it must outlive the dialog's window.
  // Page script reaches `dispatch` as window.external from now on, also on
  // a page already loading or shown.
  void SetExternalDispatch(platform::ScriptDispatch* dispatch);
  virtual BOOL IsExternalDispatchSafe() { return FALSE; }

  // The event whose handlers run now; null outside them.
  const platform::HtmlEvent* GetEvent() const { return events_.empty() ? nullptr : events_.back(); }

  virtual void OnBeforeNavigate(const std::string& url, bool& cancel);
  virtual void OnNavigateComplete(const std::string& url);
  virtual void OnDocumentComplete(const std::string& url);

  const MessageMap& GetMessageMap() const override { return ThisMessageMap(); }
  static const MessageMap& ThisMessageMap();
  virtual const DHtmlEventMap& GetDHtmlEventMap() const { return ThisDHtmlEventMap(); }
  static const DHtmlEventMap& ThisDHtmlEventMap();

 protected:
  // The page leaves the dialog: events and window.external end.
  void OnDestroy();
  // The browser keeps the client area.
  void OnSize(UINT type, int cx, int cy);

 private:
  class PageHost;
  void RunEventMap(platform::HtmlEvent& event);
  LRESULT BrowserProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  UINT htmlResource_;
  std::unique_ptr<PageHost> host_;
  std::unique_ptr<platform::HtmlDocument> document_;
  // Kept pages not shown, and the kept page document_ was sent to.
  std::vector<std::string> keptPages_;
  std::vector<std::pair<std::string, std::unique_ptr<platform::HtmlDocument>>> keptAside_;
  std::string shownKept_;
  bool keptShownAgain_ = false;
  bool SwitchToKept(const std::string& url);
  void ForEachDocument(const std::function<void(platform::HtmlDocument&)>& visit) const;
  HWND browser_ = nullptr;
  platform::ScriptDispatch* external_ = nullptr;
  std::vector<const platform::HtmlEvent*> events_;
};

// Data exchange with page elements (UpdateData): towards the page when
// loading, from it when saving. Elements the page lacks are left alone.
void DDX_DHtml_CheckBox(CDataExchange* exchange, const std::string& id, int& value);
void DDX_DHtml_ElementInnerText(CDataExchange* exchange, const std::string& id, std::string& value);
void DDX_DHtml_ElementInnerHtml(CDataExchange* exchange, const std::string& id, std::string& value);
void DDX_DHtml_ElementValue(CDataExchange* exchange, const std::string& id, std::string& value);

namespace platform {

// Makes the document of each HTML dialog's browser window. Unless one is
// installed, dialogs get an in-memory document (MemoryHtmlDocument).
using BrowserFactory = std::function<std::unique_ptr<HtmlDocument>(HWND browserWindow)>;
void SetBrowserFactory(BrowserFactory factory);

// Waits until the pages of this thread's dialogs have loaded what they were
// sent to and each dialog has heard so (OnDocumentComplete): pages load side
// by side while the program goes on, and a program's set-up waits here for
// all of them at once. Nothing to wait for with the in-memory document.
// Pages deferred and not yet started are not waited for.
void FinishPageLoads();

// While deferred, the pages of dialogs made on this thread start only when
// StartDeferredPages is called or one is first needed (read, written, its
// window shown): a program's first page gets the machine to itself, and
// hidden windows' pages follow. Nothing changes for the in-memory document.
void DeferNewPages(bool defer);
void StartDeferredPages();

}  // namespace platform

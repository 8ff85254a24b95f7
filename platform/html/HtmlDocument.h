// The page document of an HTML window: it stands for the browser control's
// document and its elements, through which the program reads and changes the
// page it shows (element by id, inner HTML and text, class, style, form
// values, attributes). Two kinds implement it: the in-memory document
// (MemoryHtmlDocument) and a browser that runs the real pages. Strings in and
// out are UTF-8; no type of either implementation shows here.
//
// The document also reports to the window that shows it (its host): the
// events of its elements, with the element they happened on and the
// window's answer whether the browser's own action for them goes ahead, and
// its navigations (before each, so the window can cancel it, and when it is
// done). The window calls the page's script functions through it and gives
// page script its window.external object.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/html/ScriptDispatch.h"
#include "platform/kernel/WinTypes.h"

namespace platform {

class HtmlElement;
using HtmlElementPtr = std::shared_ptr<HtmlElement>;

// One element of a page. A handle is safe for as long as it is held. When the
// element leaves its page (an ancestor's content was replaced, another page
// was loaded, the document was destroyed) IsInDocument() turns false for
// good; the calls still answer from the detached element, and what they
// change reaches no page. While an element is in its page, the document hands
// it out as the same object each time, so two handles of one element compare
// equal as pointers.
//
// A call that cannot reach the page answers as for an absent element or
// attribute (empty text, false, null) and changes nothing.
class HtmlElement {
 public:
  virtual ~HtmlElement() = default;
  HtmlElement(const HtmlElement&) = delete;
  HtmlElement& operator=(const HtmlElement&) = delete;

  virtual bool IsInDocument() const = 0;

  // The tag name in upper case ("DIV", "INPUT"), as the browser control gave it.
  virtual std::string GetTagName() const = 0;
  // The parent element; null for the page's root element and for the top of
  // a detached part.
  virtual HtmlElementPtr GetParent() const = 0;
  // The child elements in document order (text and comments are not elements).
  virtual std::vector<HtmlElementPtr> GetChildren() const = 0;

  // The element's content serialised as HTML (empty for a void element such
  // as IMG or INPUT).
  virtual std::string GetInnerHtml() const = 0;
  // Replaces the content with `html` parsed as a fragment (malformed markup is
  // repaired). Elements it makes can be found by id at once; the old content
  // leaves the page.
  virtual void SetInnerHtml(const std::string& html) = 0;
  // The text of every text descendant in document order, markup dropped and
  // character references decoded.
  virtual std::string GetInnerText() const = 0;
  // Replaces the content with one text node holding `text` as it is: markup
  // in it stays text (and is escaped in GetInnerHtml).
  virtual void SetInnerText(const std::string& text) = 0;

  // Attribute names are ASCII case-insensitive ("listID" is "listid").
  virtual bool HasAttribute(const std::string& name) const = 0;
  // The attribute's value; empty when the element has none.
  virtual std::string GetAttribute(const std::string& name) const = 0;
  // Sets (or adds) the attribute. False, with nothing changed, for a name no
  // attribute can have (empty, or holding space, quotes, '/', '=' or '>').
  virtual bool SetAttribute(const std::string& name, const std::string& value) = 0;
  virtual void RemoveAttribute(const std::string& name) = 0;

  // One property of the inline style, by its CSS name ("display",
  // "visibility", "background-image"); empty when the style does not set it.
  virtual std::string GetStyle(const std::string& property) const = 0;
  // Sets the property in the inline style; an empty value removes it. A value
  // that would end the declaration (a ';' outside quotes and brackets) or a
  // name that is not a CSS property name changes nothing.
  virtual void SetStyle(const std::string& property, const std::string& value) = 0;

  // The current value of a form control. INPUT: the "value" attribute until
  // SetValue (a checkbox or radio without one gives "on"); TEXTAREA: its text
  // until SetValue; other elements: the "value" attribute, which SetValue sets.
  // Setting the value of a control leaves its markup as it was.
  virtual std::string GetValue() const = 0;
  virtual void SetValue(const std::string& value) = 0;
  // The checked state of a checkbox or radio INPUT: the "checked" attribute
  // until SetChecked. Other elements are never checked and ignore SetChecked.
  virtual bool GetChecked() const = 0;
  virtual void SetChecked(bool checked) = 0;
  // True for the elements the user types text into: INPUT of a text kind
  // (text, password, search, email, url, tel, number, or no type), TEXTAREA,
  // and elements whose contenteditable is "true" or "".
  virtual bool IsTextEdit() const = 0;

  std::string GetId() const { return GetAttribute("id"); }
  std::string GetClassName() const { return GetAttribute("class"); }
  void SetClassName(const std::string& className) { SetAttribute("class", className); }
  std::string GetStyleDisplay() const { return GetStyle("display"); }
  void SetStyleDisplay(const std::string& value) { SetStyle("display", value); }
  std::string GetStyleVisibility() const { return GetStyle("visibility"); }
  void SetStyleVisibility(const std::string& value) { SetStyle("visibility", value); }
  std::string GetStyleBackgroundImage() const { return GetStyle("background-image"); }
  void SetStyleBackgroundImage(const std::string& value) { SetStyle("background-image", value); }

 protected:
  HtmlElement() = default;
};

// One event of an element, as the window's handlers see it.
struct HtmlEvent {
  std::string type;           // the DOM event type: "click", "keydown", "selectstart"...
  HtmlElementPtr srcElement;  // the element it happened on (never an ancestor)
  int keyCode = 0;            // key events: the virtual key
  bool ctrlKey = false;
  bool shiftKey = false;
  bool altKey = false;
  bool returnValue = true;  // false: the browser's own action for it is cancelled
};

// The window that shows a document. A browser that runs real pages may call
// the host back inside any blocking call of the document (an element read,
// CallScript, LoadFile, Navigate...): the page waits for the answer of an
// event, a navigation or a window.external call while the program waits for
// the page (ChromiumHtmlDocument.h). Hosts must allow for that re-entry. Such
// a browser may also finish a navigation after Navigate has returned: the
// completion calls then come through the message loop, or inside the next
// call that needs the page, which waits for it.
class HtmlDocumentHost {
 public:
  virtual ~HtmlDocumentHost() = default;
  // An event happened on an element; set returnValue to false to cancel
  // the default action.
  virtual void HandleEvent(HtmlEvent& event) = 0;
  // The page is about to go to `url` (resolved); set *cancel to stop it.
  virtual void BeforeNavigate(const std::string& url, bool* cancel) = 0;
  virtual void NavigateComplete(const std::string& url) = 0;
  virtual void DocumentComplete(const std::string& url) = 0;
  // Page script's window.external; null when the page may not have one.
  virtual ScriptDispatch* External() = 0;
  // The event types the window handles. A browser that must stop its page to
  // hear an event's answer (ChromiumHtmlDocument) stops it only for these;
  // the in-memory document reports every event it is given.
  virtual std::vector<std::string> EventTypes() const {
    return {"click", "dblclick", "mousedown",   "mouseup",   "keydown",    "keypress",
            "keyup", "change",   "selectstart", "dragstart", "contextmenu"};
  }
};

// The page a window shows. Used on the user-interface thread only.
class HtmlDocument {
 public:
  virtual ~HtmlDocument() = default;
  HtmlDocument(const HtmlDocument&) = delete;
  HtmlDocument& operator=(const HtmlDocument&) = delete;

  // Shows the page file at `path`, its bytes read in the charset the page
  // declares, as a browser reads them (text out is UTF-8 all the same). False
  // when the file cannot be read; the page shown stays as it was. Elements
  // of the page replaced leave it.
  virtual bool LoadFile(const std::string& path) = 0;
  // Shows `html` (UTF-8, whatever charset its markup declares) as the page.
  virtual void LoadHtml(const std::string& html) = 0;

  // The first element in document order whose id is `id`. When no element has
  // exactly that id, the first whose id differs from it only in ASCII letter
  // case (the browser control found ids that way, and pages rely on it).
  // Null when there is none, and for an empty id.
  virtual HtmlElementPtr GetElementById(const std::string& id) const = 0;
  // SetInnerHtml / SetInnerText of the element GetElementById(id) finds;
  // nothing when there is none. A browser may send them with its next call
  // instead of asking for the element first (they answer nothing).
  virtual void SetElementHtml(const std::string& id, const std::string& html) {
    if (auto element = GetElementById(id)) element->SetInnerHtml(html);
  }
  virtual void SetElementText(const std::string& id, const std::string& text) {
    if (auto element = GetElementById(id)) element->SetInnerText(text);
  }
  // SetClassName of the element GetElementById(id) finds, held the same way.
  virtual void SetElementClass(const std::string& id, const std::string& className) {
    if (auto element = GetElementById(id)) element->SetClassName(className);
  }
  // SetStyle(property, value) of each (property, value) of `styles`, in
  // order, on the element GetElementById finds for each id (ids hold no
  // white space); ids of no element are skipped. A browser may send them all
  // as one write with its next call.
  using StyleList = std::vector<std::pair<std::string, std::string>>;
  virtual void SetElementsStyle(const std::vector<std::string>& ids, const StyleList& styles) {
    for (const std::string& id : ids) {
      if (auto element = GetElementById(id)) {
        for (const auto& [property, value] : styles) element->SetStyle(property, value);
      }
    }
  }
  // The BODY element and the root (HTML) element of the page.
  virtual HtmlElementPtr GetBody() const = 0;
  virtual HtmlElementPtr GetDocumentElement() const = 0;

  // Null for none. The host must outlive the document or be taken away first.
  virtual void SetHost(HtmlDocumentHost* host) = 0;
  // The address of the page shown ("about:blank" for a page that was never
  // navigated to; LoadFile gives the file's URL, LoadHtml keeps the address).
  virtual std::string GetUrl() const = 0;
  // Goes to `url` resolved against the page's address. The host may cancel it
  // in BeforeNavigate (false, nothing changes). A change of the "#" part only
  // stays on the page (NavigateComplete only); any other address loads a page
  // (a file URL its file; what cannot be shown gives an empty page), then
  // NavigateComplete and DocumentComplete follow (a browser may return
  // first, see HtmlDocumentHost). True when it went ahead.
  virtual bool Navigate(const std::string& url) = 0;
  // Loads the page's address again (NavigateComplete and DocumentComplete).
  virtual void Reload() = 0;
  // A page kept aside (its window shows another): never shown while so,
  // whatever its window does. The in-memory document has nothing to show.
  virtual void SetStandby(bool) {}
  // A silent browser shows no dialogs for script errors.
  virtual void SetSilent(bool silent) = 0;
  virtual bool IsSilent() const = 0;

  // The user did something to event.srcElement (an element of this page): the
  // host is told, then the browser's own action follows unless the host
  // cancelled it. A click on a checkbox or radio has changed its checked state
  // before the host hears of it, and a cancelled click changes it back; a
  // click that goes ahead on a link (or inside one) navigates to the link's
  // resolved address. True when the default action went ahead.
  virtual bool FireEvent(HtmlEvent event) = 0;
  // A key event ("keydown", "keypress", "keyup") of the keyboard, on the
  // element that has the focus (the body when none has).
  virtual bool DispatchKey(const std::string& type, int keyCode) = 0;
  // Calls the page's script function `name` with `args`; S_OK, or
  // DISP_E_UNKNOWNNAME when the page has no such function, or
  // DISP_E_EXCEPTION when it failed. `result` may be null.
  virtual HRESULT CallScript(const std::string& name, const ScriptArgs& args, ScriptValue* result) = 0;

 protected:
  HtmlDocument() = default;
};

}  // namespace platform

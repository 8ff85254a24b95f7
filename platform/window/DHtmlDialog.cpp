#include "platform/window/DHtmlDialog.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <utility>

#include "platform/html/ChromiumHtmlDocument.h"
#include "platform/html/MemoryHtmlDocument.h"
#include "platform/html/Url.h"
#include "platform/kernel/Messages.h"

namespace {

bool SameTag(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// Two addresses of one page file (file URLs compared by their paths).
bool SamePage(const std::string& a, const std::string& b) {
  std::string pathA, pathB;
  if (platform::FileUrlToPath(a, &pathA) && platform::FileUrlToPath(b, &pathB)) return pathA == pathB;
  return platform::StripFragment(a) == platform::StripFragment(b);
}

struct Factory {
  std::mutex mutex;
  platform::BrowserFactory make;
};

Factory& TheFactory() {
  static Factory* const factory = new Factory;
  return *factory;
}

std::unique_ptr<platform::HtmlDocument> MakeDocument(HWND browser) {
  platform::BrowserFactory make;
  {
    Factory& f = TheFactory();
    std::lock_guard<std::mutex> lock(f.mutex);
    make = f.make;
  }
  if (make) {
    if (auto document = make(browser)) return document;
  }
  return std::make_unique<platform::MemoryHtmlDocument>();
}

}  // namespace

const std::string& DHtmlEventMap::Subject::Id() {
  if (!id_) id_ = event_.srcElement->GetId();
  return *id_;
}

const std::string& DHtmlEventMap::Subject::ClassName() {
  if (!className_) className_ = event_.srcElement->GetClassName();
  return *className_;
}

const std::string& DHtmlEventMap::Subject::TagName() {
  if (!tagName_) tagName_ = event_.srcElement->GetTagName();
  return *tagName_;
}

bool DHtmlEventMap::Matches(const Entry& entry, Subject& subject) {
  const platform::HtmlEvent& event = subject.Event();
  if (!event.srcElement || entry.event != event.type) return false;
  switch (entry.match) {
    case Match::Id:
      return subject.Id() == entry.name;
    case Match::ClassName:
      return subject.ClassName() == entry.name;
    case Match::Tag:
      return SameTag(subject.TagName(), entry.name);
    case Match::EveryTag:
      return true;
  }
  return false;
}

void DHtmlEventMap::ForEach(const std::function<void(const Entry&)>& visit) const {
  for (const DHtmlEventMap* map = this; map; map = map->base_) {
    for (const Entry& entry : map->entries_) visit(entry);
  }
}

const std::vector<std::string>& HtmlElementTagNames() {
  static const std::vector<std::string> names = {
      "A",        "ABBR",     "ACRONYM",   "ADDRESS",  "APPLET",   "AREA",     "ARTICLE",    "ASIDE",  "AUDIO",
      "B",        "BASE",     "BASEFONT",  "BDI",      "BDO",      "BGSOUND",  "BIG",        "BLINK",  "BLOCKQUOTE",
      "BODY",     "BR",       "BUTTON",    "CANVAS",   "CAPTION",  "CENTER",   "CITE",       "CODE",   "COL",
      "COLGROUP", "DATA",     "DATALIST",  "DD",       "DEL",      "DETAILS",  "DFN",        "DIALOG", "DIR",
      "DIV",      "DL",       "DT",        "EM",       "EMBED",    "FIELDSET", "FIGCAPTION", "FIGURE", "FONT",
      "FOOTER",   "FORM",     "FRAME",     "FRAMESET", "H1",       "H2",       "H3",         "H4",     "H5",
      "H6",       "HEAD",     "HEADER",    "HGROUP",   "HR",       "HTML",     "I",          "IFRAME", "IMG",
      "INPUT",    "INS",      "ISINDEX",   "KBD",      "LABEL",    "LEGEND",   "LI",         "LINK",   "LISTING",
      "MAIN",     "MAP",      "MARK",      "MARQUEE",  "MENU",     "META",     "METER",      "NAV",    "NOBR",
      "NOEMBED",  "NOFRAMES", "NOSCRIPT",  "OBJECT",   "OL",       "OPTGROUP", "OPTION",     "OUTPUT", "P",
      "PARAM",    "PICTURE",  "PLAINTEXT", "PRE",      "PROGRESS", "Q",        "RP",         "RT",     "RUBY",
      "S",        "SAMP",     "SCRIPT",    "SEARCH",   "SECTION",  "SELECT",   "SLOT",       "SMALL",  "SOURCE",
      "SPAN",     "STRIKE",   "STRONG",    "STYLE",    "SUB",      "SUMMARY",  "SUP",        "TABLE",  "TBODY",
      "TD",       "TEMPLATE", "TEXTAREA",  "TFOOT",    "TH",       "THEAD",    "TIME",       "TITLE",  "TR",
      "TRACK",    "TT",       "U",         "UL",       "VAR",      "VIDEO",    "WBR",        "XMP",
  };
  return names;
}

// Tells the dialog what its page does.
class CDHtmlDialog::PageHost final : public platform::HtmlDocumentHost {
 public:
  explicit PageHost(CDHtmlDialog& dialog) : dialog_(dialog) {}

  void HandleEvent(platform::HtmlEvent& event) override { dialog_.RunEventMap(event); }
  void BeforeNavigate(const std::string& url, bool* cancel) override {
    bool stop = false;
    dialog_.OnBeforeNavigate(url, stop);
    if (cancel) *cancel = stop;
  }
  void NavigateComplete(const std::string& url) override { dialog_.OnNavigateComplete(url); }
  void DocumentComplete(const std::string& url) override { dialog_.OnDocumentComplete(url); }
  platform::ScriptDispatch* External() override {
    return dialog_.IsExternalDispatchSafe() ? dialog_.external_ : nullptr;
  }
  // The events the dialog's event map names (a browser stops its page only
  // for those).
  std::vector<std::string> EventTypes() const override {
    std::vector<std::string> types;
    dialog_.GetDHtmlEventMap().ForEach([&types](const DHtmlEventMap::Entry& entry) {
      if (std::find(types.begin(), types.end(), entry.event) == types.end()) types.push_back(entry.event);
    });
    return types;
  }

 private:
  CDHtmlDialog& dialog_;
};

CDHtmlDialog::CDHtmlDialog(const DialogTemplate& dialog, UINT htmlResource, CWnd* parent)
    : CDialog(dialog, parent), htmlResource_(htmlResource), host_(std::make_unique<PageHost>(*this)) {}

CDHtmlDialog::~CDHtmlDialog() {
  if (m_hWnd && ::IsWindow(m_hWnd) && GetWindowThreadId(m_hWnd) == GetCurrentThreadId()) DestroyWindow();
  ForEachDocument([](platform::HtmlDocument& document) { document.SetHost(nullptr); });
}

void CDHtmlDialog::ForEachDocument(const std::function<void(platform::HtmlDocument&)>& visit) const {
  if (document_) visit(*document_);
  for (const auto& [url, document] : keptAside_) visit(*document);
}

const MessageMap& CDHtmlDialog::ThisMessageMap() {
  static const MessageMap map(&CDialog::ThisMessageMap(), {
                                                              OnWmDestroy(&CDHtmlDialog::OnDestroy),
                                                              OnWmSize(&CDHtmlDialog::OnSize),
                                                          });
  return map;
}

const DHtmlEventMap& CDHtmlDialog::ThisDHtmlEventMap() {
  static const DHtmlEventMap map(nullptr, {});
  return map;
}

BOOL CDHtmlDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  RECT client{};
  GetClientRect(&client);
  browser_ = platform::CreateWindowWithProc(
      0, "Browser", "", WS_CHILD | WS_VISIBLE, 0, 0, client.right, client.bottom, m_hWnd,
      [this](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        return BrowserProc(hwnd, message, wParam, lParam);
      },
      nullptr);
  ForEachDocument([](platform::HtmlDocument& document) { document.SetHost(nullptr); });
  keptAside_.clear();
  shownKept_.clear();
  document_ = MakeDocument(browser_);
  document_->SetHost(host_.get());
  return TRUE;
}

LRESULT CDHtmlDialog::BrowserProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (document_ && hwnd == browser_) {
    switch (message) {
      case WM_KEYDOWN:
        document_->DispatchKey("keydown", static_cast<int>(wParam));
        return 0;
      case WM_CHAR:
        document_->DispatchKey("keypress", static_cast<int>(wParam));
        return 0;
      case WM_KEYUP:
        document_->DispatchKey("keyup", static_cast<int>(wParam));
        return 0;
      default:
        break;
    }
  }
  if (message == WM_NCDESTROY && hwnd == browser_) browser_ = nullptr;
  return ::DefWindowProc(hwnd, message, wParam, lParam);
}

BOOL CDHtmlDialog::PreTranslateMessage(MSG* msg) {
  if (msg && msg->message == WM_KEYDOWN) {
    switch (msg->wParam) {
      case VK_RETURN:
        OnOK();
        return TRUE;
      case VK_ESCAPE:
        OnCancel();
        return TRUE;
      case VK_F5:
        if (document_) document_->Reload();
        return TRUE;
      default:
        break;
    }
  }
  return CDialog::PreTranslateMessage(msg);
}

void CDHtmlDialog::SetExternalDispatch(platform::ScriptDispatch* dispatch) {
  external_ = dispatch;
  ForEachDocument([this](platform::HtmlDocument& document) { document.SetHost(host_.get()); });
}

void CDHtmlDialog::KeepPagesLoaded(std::vector<std::string> urls) { keptPages_ = std::move(urls); }

void CDHtmlDialog::Navigate(const std::string& url) {
  if (!document_) return;
  if (!SwitchToKept(url)) document_->Navigate(url);
}

bool CDHtmlDialog::SwitchToKept(const std::string& url) {
  if (std::find(keptPages_.begin(), keptPages_.end(), url) == keptPages_.end()) return false;
  const std::string shown = document_->GetUrl();
  const bool shownIsKept = !shownKept_.empty() && SamePage(shown, shownKept_);
  // The page shown again, or a kept page after another one: a load as ever.
  if (shownIsKept && SamePage(shown, url)) return false;
  const auto aside =
      std::find_if(keptAside_.begin(), keptAside_.end(), [&url](const auto& entry) { return entry.first == url; });
  if (aside == keptAside_.end() && !shownIsKept) {
    shownKept_ = url;
    return false;
  }
  const bool loaded = aside != keptAside_.end();
  if (loaded) {
    bool cancel = false;
    OnBeforeNavigate(url, cancel);
    if (cancel) return true;
  }
  // The page shown goes aside (or away, not being a kept one) before the
  // next one is told anything: the dialog may navigate again meanwhile.
  std::unique_ptr<platform::HtmlDocument> next;
  if (loaded) {
    next = std::move(aside->second);
    keptAside_.erase(aside);
  } else {
    // A kept page not loaded yet loads in a document of its own.
    next = MakeDocument(browser_);
    next->SetSilent(document_->IsSilent());
    next->SetHost(host_.get());
  }
  std::unique_ptr<platform::HtmlDocument> leaving = std::exchange(document_, std::move(next));
  const std::string leavingKept = shownIsKept ? shownKept_ : std::string();
  leaving->SetStandby(true);
  if (shownIsKept) {
    keptAside_.emplace_back(leavingKept, std::move(leaving));
  } else {
    // Not kept: it goes once the event or call that got here has returned
    // (it may be the page that asked).
    leaving->SetHost(nullptr);
    std::shared_ptr<platform::HtmlDocument> gone(std::move(leaving));
    platform::PostThreadCall(GetCurrentThreadId(), [gone] {});
  }
  shownKept_ = url;
  document_->SetStandby(false);
  if (loaded) {
    // As a load tells it; the page's elements are there already.
    const std::string address = document_->GetUrl();
    const bool outer = std::exchange(keptShownAgain_, true);
    OnNavigateComplete(address);
    OnDocumentComplete(address);
    keptShownAgain_ = outer;
  } else if (!document_->Navigate(url)) {
    // Refused: the page that was shown (a kept one) comes back.
    const auto back = std::find_if(keptAside_.begin(), keptAside_.end(),
                                   [&leavingKept](const auto& entry) { return entry.first == leavingKept; });
    if (back != keptAside_.end()) {
      document_->SetHost(nullptr);
      document_ = std::move(back->second);
      keptAside_.erase(back);
      shownKept_ = leavingKept;
      document_->SetStandby(false);
    }
  }
  return true;
}

std::string CDHtmlDialog::GetCurrentUrl() const { return document_ ? document_->GetUrl() : std::string(); }

void CDHtmlDialog::SetBrowserSilent(bool silent) {
  ForEachDocument([silent](platform::HtmlDocument& document) { document.SetSilent(silent); });
}

platform::HtmlElementPtr CDHtmlDialog::GetElement(const std::string& id) const {
  return document_ ? document_->GetElementById(id) : nullptr;
}

std::string CDHtmlDialog::GetElementHtml(const std::string& id) const {
  auto element = GetElement(id);
  return element ? element->GetInnerHtml() : std::string();
}

void CDHtmlDialog::SetElementHtml(const std::string& id, const std::string& html) {
  if (document_) document_->SetElementHtml(id, html);
}

std::string CDHtmlDialog::GetElementText(const std::string& id) const {
  auto element = GetElement(id);
  return element ? element->GetInnerText() : std::string();
}

void CDHtmlDialog::SetElementText(const std::string& id, const std::string& text) {
  if (document_) document_->SetElementText(id, text);
}

void CDHtmlDialog::OnBeforeNavigate(const std::string&, bool&) {}
void CDHtmlDialog::OnNavigateComplete(const std::string&) {}
void CDHtmlDialog::OnDocumentComplete(const std::string&) {}

void CDHtmlDialog::RunEventMap(platform::HtmlEvent& event) {
  if (!event.srcElement) return;
  // A disabled dialog (a modal window of its own stands over it) takes no input.
  if (m_hWnd && ::IsWindow(m_hWnd) && !::IsWindowEnabled(m_hWnd)) {
    event.returnValue = false;
    return;
  }
  events_.push_back(&event);
  struct Pop {
    std::vector<const platform::HtmlEvent*>& events;
    ~Pop() { events.pop_back(); }
  } pop{events_};
  // Held so a handler that rewrites the page cannot take the element away.
  const platform::HtmlElementPtr source = event.srcElement;
  // The entries are those the element matched when the event came: a handler
  // that changes its class (add turning into remove) must not run another's.
  std::vector<const DHtmlEventMap::Entry*> matched;
  DHtmlEventMap::Subject subject(event);
  GetDHtmlEventMap().ForEach([&](const DHtmlEventMap::Entry& entry) {
    if (DHtmlEventMap::Matches(entry, subject)) matched.push_back(&entry);
  });
  bool cancel = false;
  for (const DHtmlEventMap::Entry* entry : matched) {
    if (entry->handler(*this, *source) == S_FALSE) cancel = true;
  }
  if (cancel) event.returnValue = false;
}

void CDHtmlDialog::OnDestroy() {
  ForEachDocument([](platform::HtmlDocument& document) { document.SetHost(nullptr); });
  external_ = nullptr;
  Default();
}

void CDHtmlDialog::OnSize(UINT, int cx, int cy) {
  Default();
  if (browser_) ::MoveWindow(browser_, 0, 0, cx, cy, TRUE);
}

namespace {

platform::HtmlElementPtr ExchangeElement(CDataExchange* exchange, const std::string& id) {
  auto* dialog = exchange ? dynamic_cast<CDHtmlDialog*>(exchange->m_pDlgWnd) : nullptr;
  return dialog ? dialog->GetElement(id) : nullptr;
}

// Moves a text between `value` and the element, in the exchange's direction.
void ExchangeText(CDataExchange* exchange, const std::string& id, std::string& value,
                  std::string (platform::HtmlElement::*get)() const,
                  void (platform::HtmlElement::*set)(const std::string&)) {
  auto element = ExchangeElement(exchange, id);
  if (!element) return;
  if (exchange->m_bSaveAndValidate) {
    value = ((*element).*get)();
  } else {
    ((*element).*set)(value);
  }
}

}  // namespace

void DDX_DHtml_CheckBox(CDataExchange* exchange, const std::string& id, int& value) {
  auto element = ExchangeElement(exchange, id);
  if (!element) return;
  if (exchange->m_bSaveAndValidate) {
    value = element->GetChecked() ? 1 : 0;
  } else {
    element->SetChecked(value != 0);
  }
}

void DDX_DHtml_ElementInnerText(CDataExchange* exchange, const std::string& id, std::string& value) {
  ExchangeText(exchange, id, value, &platform::HtmlElement::GetInnerText, &platform::HtmlElement::SetInnerText);
}

void DDX_DHtml_ElementInnerHtml(CDataExchange* exchange, const std::string& id, std::string& value) {
  ExchangeText(exchange, id, value, &platform::HtmlElement::GetInnerHtml, &platform::HtmlElement::SetInnerHtml);
}

void DDX_DHtml_ElementValue(CDataExchange* exchange, const std::string& id, std::string& value) {
  ExchangeText(exchange, id, value, &platform::HtmlElement::GetValue, &platform::HtmlElement::SetValue);
}

namespace platform {

void SetBrowserFactory(BrowserFactory factory) {
  Factory& f = TheFactory();
  std::lock_guard<std::mutex> lock(f.mutex);
  f.make = std::move(factory);
}

void FinishPageLoads() { ChromiumHtmlDocument::FinishLoads(); }
void DeferNewPages(bool defer) { ChromiumHtmlDocument::DeferNew(defer); }
void StartDeferredPages() { ChromiumHtmlDocument::StartDeferred(); }

}  // namespace platform

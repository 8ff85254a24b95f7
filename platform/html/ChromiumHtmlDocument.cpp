#include "platform/html/ChromiumHtmlDocument.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <filesystem>
#include <set>
#include <fstream>

#include "platform/html/ChromiumPageScript.h"
#include "platform/html/Url.h"
#include "platform/html/X11WindowManager.h"
#include "platform/html/X11Windows.h"
#include "platform/kernel/Base64.h"
#include "platform/kernel/Messages.h"

namespace platform {

using chromium::Json;
using chromium::Reply;

namespace {

Json ToJson(const ScriptValue& value) {
  if (value.IsInt()) return value.AsInt();
  if (value.IsText()) return value.ToText();
  return nullptr;
}

ScriptValue FromJson(const Json& value) {
  if (value.is_number_integer()) {
    const auto n = value.get<std::int64_t>();
    if (n >= INT32_MIN && n <= INT32_MAX) return ScriptValue(static_cast<int>(n));
    return ScriptValue(std::to_string(n));
  }
  if (value.is_string()) return ScriptValue(value.get<std::string>());
  if (value.is_null()) return ScriptValue();
  return ScriptValue(value.dump());
}

std::string ExceptionText(const Json& details) {
  if (details.contains("exception") && details["exception"].contains("description")) {
    return details["exception"]["description"].get<std::string>();
  }
  return details.value("text", std::string("script error"));
}

bool IsFileUrl(const std::string& url) { return url.rfind("file:", 0) == 0; }

// An attribute name every browser takes (setAttribute cannot fail on it).
bool IsPlainAttributeName(const std::string& name) {
  if (name.empty()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    const bool other = (c >= '0' && c <= '9') || c == '-' || c == '.' || c == ':';
    if (!letter && (i == 0 || !other)) return false;
  }
  return true;
}

// The page script as the start of each new document runs it, with the host's
// settings.
std::string PageScriptWith(const Json& settings) {
  return std::string(chromium::kPageScript) + "(" + settings.dump(-1, ' ', true, Json::error_handler_t::replace) +
         ");";
}

const std::string& PageScriptAsking() {
  static const std::string script = std::string(chromium::kPageScript) + "();";
  return script;
}

constexpr Millis kSetUpTimeout = 45000;
// Pages made again in a row, none of them loaded, before one is left closed.
constexpr int kMostReopens = 5;

// The documents of this thread, for FinishLoads. The pointer is the set's
// owner: it is made with the first document and goes with the last. A
// thread_local set would be destroyed when the thread ends, and at the
// program's exit that comes before static objects are: a document held by
// one then erased itself from a set already freed.
thread_local std::set<ChromiumHtmlDocument*>* threadDocuments = nullptr;

thread_local bool deferNewDocuments = false;

std::set<ChromiumHtmlDocument*>& ThreadDocuments() {
  if (!threadDocuments) threadDocuments = new std::set<ChromiumHtmlDocument*>;
  return *threadDocuments;
}

void ForgetThreadDocument(ChromiumHtmlDocument* document) {
  if (!threadDocuments) return;
  threadDocuments->erase(document);
  if (threadDocuments->empty()) {
    delete threadDocuments;
    threadDocuments = nullptr;
  }
}

}  // namespace

// An element of a Chromium page: a handle that the page script keeps for it.
class ChromiumElement final : public HtmlElement {
 public:
  ChromiumElement(const ChromiumHtmlDocument* document, std::weak_ptr<bool> alive, int handle)
      : document_(document), alive_(std::move(alive)), handle_(handle) {}

  bool IsInDocument() const override { return Ask("inDoc").value_or(false); }
  std::string GetTagName() const override { return Text("tag"); }
  HtmlElementPtr GetParent() const override {
    const Json h = Call("parent");
    return h.is_number_integer() ? Element(h.get<int>()) : nullptr;
  }
  std::vector<HtmlElementPtr> GetChildren() const override {
    std::vector<HtmlElementPtr> children;
    const Json list = Call("children");
    if (list.is_array()) {
      for (const Json& h : list) {
        if (auto child = h.is_number_integer() ? Element(h.get<int>()) : nullptr) children.push_back(child);
      }
    }
    return children;
  }
  std::string GetInnerHtml() const override { return Text("getHtml"); }
  void SetInnerHtml(const std::string& html) override { Put("setHtml", html); }
  std::string GetInnerText() const override { return Text("getText"); }
  void SetInnerText(const std::string& text) override { Put("setText", text); }
  bool HasAttribute(const std::string& name) const override { return Ask("hasAttr", name).value_or(false); }
  std::string GetAttribute(const std::string& name) const override { return Text("getAttr", name); }
  bool SetAttribute(const std::string& name, const std::string& value) override {
    if (IsPlainAttributeName(name)) return Put("setAttr", name, value);
    return Ask("setAttr", name, value).value_or(false);
  }
  void RemoveAttribute(const std::string& name) override { Put("removeAttr", name); }
  std::string GetStyle(const std::string& property) const override { return Text("getStyle", property); }
  void SetStyle(const std::string& property, const std::string& value) override {
    Put("setStyle", property, value);
  }
  std::string GetValue() const override { return Text("getValue"); }
  void SetValue(const std::string& value) override { Put("setValue", value); }
  bool GetChecked() const override { return Ask("getChecked").value_or(false); }
  void SetChecked(bool checked) override { Put("setChecked", checked); }
  bool IsTextEdit() const override { return Ask("isTextEdit").value_or(false); }

  int Handle() const { return handle_; }
  const ChromiumHtmlDocument* Document() const { return alive_.lock() ? document_ : nullptr; }

  template <class... Args>
  Json Call(const std::string& op, const Args&... args) const {
    if (!alive_.lock()) return nullptr;
    return document_->Run(op, Json::array({handle_, args...}));
  }
  // A write: held back and sent with the document's next call to the page.
  template <class... Args>
  bool Put(const std::string& op, const Args&... args) {
    if (!alive_.lock()) return false;
    return document_->Hold(op, Json::array({handle_, args...}));
  }

 private:
  template <class... Args>
  std::optional<bool> Ask(const std::string& op, const Args&... args) const {
    const Json v = Call(op, args...);
    if (v.is_boolean()) return v.get<bool>();
    return std::nullopt;
  }
  template <class... Args>
  std::string Text(const std::string& op, const Args&... args) const {
    const Json v = Call(op, args...);
    return v.is_string() ? v.get<std::string>() : std::string();
  }
  HtmlElementPtr Element(int handle) const { return alive_.lock() ? document_->ElementOf(handle) : nullptr; }

  const ChromiumHtmlDocument* document_;
  std::weak_ptr<bool> alive_;
  int handle_;
};

std::unique_ptr<ChromiumHtmlDocument> ChromiumHtmlDocument::Create(std::string* error) {
  std::string why;
  auto browser = chromium::Browser::Shared(&why);
  if (!browser) {
    if (error) *error = why;
    return nullptr;
  }
  return Create(std::move(browser), error);
}

std::unique_ptr<ChromiumHtmlDocument> ChromiumHtmlDocument::Create(std::shared_ptr<chromium::Browser> browser,
                                                                   std::string* error) {
  if (!browser || !browser->Alive()) {
    if (error) *error = "the page browser is not running";
    return nullptr;
  }
  std::unique_ptr<ChromiumHtmlDocument> document(new ChromiumHtmlDocument(std::move(browser)));
  if (deferNewDocuments) {
    document->deferred_ = true;
    return document;
  }
  document->Open();
  if (document->setUp_ == SetUpState::Failed) {
    if (error) *error = document->lastError_;
    return nullptr;
  }
  return document;
}

ChromiumHtmlDocument::ChromiumHtmlDocument(std::shared_ptr<chromium::Browser> browser)
    : browser_(std::move(browser)) {
  ThreadDocuments().insert(this);
}

void ChromiumHtmlDocument::FinishLoads() {
  // A completion call may make or destroy documents.
  std::set<ChromiumHtmlDocument*> done;
  for (;;) {
    if (!threadDocuments) return;
    ChromiumHtmlDocument* next = nullptr;
    for (ChromiumHtmlDocument* document : *threadDocuments) {
      if (!done.count(document)) next = document;
    }
    if (!next) return;
    done.insert(next);
    if (next->loading_ && !next->deferred_) next->FinishLoad();
  }
}

void ChromiumHtmlDocument::DeferNew(bool defer) { deferNewDocuments = defer; }

void ChromiumHtmlDocument::StartDeferred() {
  // Opening one may make or destroy documents (a shown page waits for its
  // window).
  std::set<ChromiumHtmlDocument*> done;
  for (;;) {
    if (!threadDocuments) return;
    ChromiumHtmlDocument* next = nullptr;
    for (ChromiumHtmlDocument* document : *threadDocuments) {
      if (document->deferred_ && !done.count(document)) next = document;
    }
    if (!next) return;
    done.insert(next);
    next->OpenDeferred();
  }
}

void ChromiumHtmlDocument::OpenDeferred() {
  if (!deferred_) return;
  deferred_ = false;
  if (!deferredPlace_) {
    Open();
    return;
  }
  // A hidden window is hidden before its page loads: the window is found by
  // a title the blank page shows.
  std::optional<Load> pending = std::move(loading_);
  loading_.reset();
  Open();
  if (setUp_ != SetUpState::Failed) {
    const Placed place = *deferredPlace_;
    deferredPlace_.reset();
    Place(place);
  }
  if (pending && !closed_ && setUp_ != SetUpState::Failed) {
    pending->deadline = TheClock().Now() + loadTimeout_;
    loading_ = std::move(pending);
    // Before the page target exists its set-up starts the navigation.
    if (setUp_ == SetUpState::Running || setUp_ == SetUpState::Ready) StartNavigation();
  }
}

void ChromiumHtmlDocument::Open() {
  // A new page starts a renderer, which takes long on a busy machine; the
  // pages of several windows start theirs side by side.
  setUpDeadline_ = TheClock().Now() + kSetUpTimeout;
  if (!browser_->Headless()) {
    std::string why;
    targetId_ = browser_->OpenPage(kSetUpTimeout, &why);
    if (targetId_.empty()) {
      SetUpFailed("cannot open a page in the browser: " + why);
      return;
    }
    Attach();
    return;
  }
  targetId_ = browser_->TakeStartPage();
  if (!targetId_.empty()) {
    Attach();
    return;
  }
  std::weak_ptr<bool> alive = alive_;
  std::weak_ptr<chromium::Browser> weakBrowser = browser_;
  browser_->Post("Target.createTarget", {{"url", "about:blank"}}, {},
                 [this, alive, weakBrowser](const Reply& reply) {
                   const std::string id = reply.ok ? reply.result.value("targetId", "") : std::string();
                   if (!alive.lock()) {
                     // The document went first: so does its page.
                     if (auto browser = weakBrowser.lock(); browser && !id.empty()) {
                       browser->Send("Target.closeTarget", {{"targetId", id}});
                     }
                     return;
                   }
                   if (id.empty()) {
                     SetUpFailed("cannot open a page in the browser: " + (reply.ok ? "no target" : reply.error));
                     return;
                   }
                   targetId_ = id;
                   Attach();
                 });
}

void ChromiumHtmlDocument::Attach() {
  std::weak_ptr<bool> alive = alive_;
  std::weak_ptr<chromium::Browser> weakBrowser = browser_;
  const std::string targetId = targetId_;
  browser_->Post("Target.attachToTarget", {{"targetId", targetId}, {"flatten", true}}, {},
                 [this, alive, weakBrowser, targetId](const Reply& reply) {
                   if (!alive.lock()) {
                     if (auto browser = weakBrowser.lock()) browser->Send("Target.closeTarget", {{"targetId", targetId}});
                     return;
                   }
                   const std::string session = reply.ok ? reply.result.value("sessionId", "") : std::string();
                   if (session.empty()) {
                     browser_->Send("Target.closeTarget", {{"targetId", targetId}});
                     SetUpFailed("cannot reach a page of the browser: " + (reply.ok ? "no session" : reply.error));
                     return;
                   }
                   sessionId_ = session;
                   SetUp();
                 });
}

namespace {

// The browser shows the address of the link under the pointer in a bubble
// over the window's corner. The windows' links are the program's own: a link
// keeps its address aside while the pointer rests on it, and has it back
// before it is pressed, typed on or left.
constexpr const char* kLinkAddressAside = R"((() => {
  const aside = 'data-zorva-href';
  let held = null;
  const giveBack = () => {
    const a = held;
    held = null;
    if (a && a.hasAttribute(aside)) {
      a.setAttribute('href', a.getAttribute(aside));
      a.removeAttribute(aside);
    }
  };
  const take = (e) => {
    const a = e.target instanceof Element ? e.target.closest('a[href]') : null;
    if (!a || a === held || e.buttons) return;
    giveBack();
    a.setAttribute(aside, a.getAttribute('href'));
    a.removeAttribute('href');
    held = a;
  };
  addEventListener('mouseover', take, true);
  addEventListener('mousemove', take, true);
  for (const t of ['mousedown', 'mouseout', 'keydown', 'blur']) addEventListener(t, giveBack, true);
  addEventListener('click', (e) => {
    setTimeout(() => { if (e.target instanceof Element && e.target.matches(':hover')) take({ target: e.target, buttons: 0 }); }, 0);
  }, false);
})();)";

}  // namespace

void ChromiumHtmlDocument::SetUp() {
  std::weak_ptr<bool> alive = alive_;
  browser_->AddSession(sessionId_, targetId_, [this, alive](const std::string& method, const Json& params) {
    if (alive.lock()) OnEvent(method, params);
  });
  setUp_ = SetUpState::Running;
  std::vector<std::pair<const char*, Json>> setup = {
      {"Page.enable", Json::object()},
      {"Runtime.enable", Json::object()},
      // Each page call is a script of its own; the debugger keeps the source
      // of every one it saw after it is gone unless told otherwise, and a
      // long play grows the page's renderer with them.
      {"Debugger.enable", {{"maxScriptsCacheSize", 0}}},
      {"Runtime.addBinding", {{"name", chromium::kTellBinding}}},
      {"Fetch.enable", {{"patterns", Json::array({{{"resourceType", "Document"}, {"requestStage", "Request"}}})}}},
  };
  if (browser_->Headless()) {
    setup.push_back({"Emulation.setDeviceMetricsOverride",
                     {{"width", viewportWidth_}, {"height", viewportHeight_}, {"deviceScaleFactor", 1}, {"mobile", false}}});
    // Headless pages are never the focused window; script's focus() and
    // the keys typed into a focused field must work as in a shown window.
    setup.push_back({"Emulation.setFocusEmulationEnabled", {{"enabled", true}}});
  } else {
    // The desktop's close button on a shown page's window asks the page
    // first; the window stays, and closing it is the program's to decide.
    setup.push_back({"Page.addScriptToEvaluateOnNewDocument",
                     {{"source", "addEventListener('beforeunload', (e) => { e.preventDefault(); e.returnValue = ''; });"}}});
    setup.push_back({"Page.addScriptToEvaluateOnNewDocument", {{"source", kLinkAddressAside}}});
  }
  for (auto& [method, params] : setup) {
    ++setUpLeft_;
    const std::string name = method;
    browser_->Post(name, params, sessionId_, [this, alive, name](const Reply& reply) {
      if (alive.lock()) SetUpAnswered(name, reply, true);
    });
  }
  if (loading_) {
    // The page goes elsewhere at once; its start script serves that page.
    StartNavigation();
    return;
  }
  // The blank page answers element calls too.
  ++setUpLeft_;
  pageSettings_ = HostSettings();
  browser_->Post("Runtime.evaluate", {{"expression", PageScriptWith(pageSettings_)}}, sessionId_,
                 [this, alive](const Reply& reply) {
                   if (alive.lock()) SetUpAnswered("Runtime.evaluate", reply, false);
                 });
}

void ChromiumHtmlDocument::SetUpAnswered(const std::string& method, const Reply& reply, bool needed) {
  if (setUp_ != SetUpState::Running) return;
  if (needed && !reply.ok) {
    SetUpFailed("cannot set up a page of the browser (" + method + "): " + reply.error);
    return;
  }
  if (--setUpLeft_ > 0) return;
  setUp_ = SetUpState::Ready;
  // A host set meanwhile: the blank page takes its settings now.
  ConfigureIfChanged();
  SendDeferredWrites();
}

void ChromiumHtmlDocument::SetUpFailed(const std::string& why) {
  // A page made again after a loss may land in a renderer that is dying too
  // (all of them killed at once): it is lost again, not failed.
  if (reopens_ > 0 && reopens_ < kMostReopens && browser_->Alive()) {
    setUp_ = SetUpState::Failed;  // no one waits on for it
    PageLost(false);
    return;
  }
  Fail(why);
}

void ChromiumHtmlDocument::Fail(const std::string& why) {
  const bool settingUp = setUp_ != SetUpState::Ready && setUp_ != SetUpState::Failed;
  setUp_ = SetUpState::Failed;
  closed_ = true;
  contextId_ = 0;
  elements_.clear();
  held_.clear();
  lastError_ = why;
  if (loading_) EndLoad(false);
  if (settingUp) std::fprintf(stderr, "zorva: %s\n", why.c_str());
}

bool ChromiumHtmlDocument::EnsureReady(bool whole) {
  // One deferred page needed: the program has gone on, and the others start
  // beside it.
  if (deferred_) StartDeferred();
  while (setUp_ == SetUpState::Opening || (whole && setUp_ == SetUpState::Running)) {
    if (!browser_->Alive()) {
      Fail("the page browser has ended");
      break;
    }
    const Millis now = TheClock().Now();
    if (now >= setUpDeadline_) {
      Fail("the page of the browser was not set up in time");
      break;
    }
    browser_->ProcessEvents(setUpDeadline_ - now);
  }
  return (setUp_ == SetUpState::Ready || (!whole && setUp_ == SetUpState::Running)) && !closed_;
}

const std::string& ChromiumHtmlDocument::TargetId() const {
  const_cast<ChromiumHtmlDocument*>(this)->EnsureReady();
  return targetId_;
}

const std::string& ChromiumHtmlDocument::SessionId() const {
  const_cast<ChromiumHtmlDocument*>(this)->EnsureReady();
  return sessionId_;
}

Json ChromiumHtmlDocument::HostSettings() const {
  return Json{{"types", host_ ? host_->EventTypes() : std::vector<std::string>()},
              {"external", host_ && host_->External()}};
}

bool ChromiumHtmlDocument::UpdateStartScript(const Json& settings) {
  // The first script may still be on its way: its identifier is needed.
  const Millis deadline = TheClock().Now() + kSetUpTimeout;
  while (startScriptPending_ && !closed_ && browser_->Alive() && TheClock().Now() < deadline) {
    browser_->ProcessEvents(deadline - TheClock().Now());
  }
  if (!startScriptId_.empty() && settings == startSettings_) return true;
  if (!startScriptId_.empty()) {
    Page("Page.removeScriptToEvaluateOnNewDocument", {{"identifier", startScriptId_}});
    startScriptId_.clear();
  }
  Reply added = Page("Page.addScriptToEvaluateOnNewDocument", {{"source", PageScriptWith(settings)}}, kSetUpTimeout);
  if (!added.ok) return false;
  startScriptId_ = added.result.value("identifier", "");
  startSettings_ = settings;
  return !startScriptId_.empty();
}

bool ChromiumHtmlDocument::Hold(const std::string& op, Json args) const {
  if (deferred_) {
    // Nothing waits for a page not yet started.
    deferredWrites_.push_back(Json::array({op, std::move(args)}));
    return true;
  }
  // A write meant for the page being loaded waits for it.
  const_cast<ChromiumHtmlDocument*>(this)->FinishLoad();
  if (contextId_ == 0 || closed_) return false;
  if (held_.empty()) {
    // Written by the time the thread is idle again, whoever asks first.
    std::weak_ptr<bool> alive = alive_;
    PostThreadCall(GetCurrentThreadId(), [this, alive] {
      if (alive.lock()) SendHeld();
    });
  }
  held_.push_back(Json::array({op, std::move(args)}));
  return true;
}

void ChromiumHtmlDocument::SendDeferredWrites() {
  if (deferredWrites_.empty() || contextId_ == 0 || closed_ || loading_) return;
  Json writes = Json::array();
  writes.swap(deferredWrites_);
  for (Json& write : writes) Hold(write[0].get<std::string>(), std::move(write[1]));
}

void ChromiumHtmlDocument::SendHeld() const {
  if (held_.empty()) return;
  Json writes = Json::array();
  writes.swap(held_);
  if (contextId_ == 0 || closed_) return;
  browser_->Call("Runtime.callFunctionOn",
                 {{"functionDeclaration", chromium::kBatchFunction},
                  {"executionContextId", contextId_},
                  {"arguments", Json::array({{{"value", std::move(writes)}}, {{"value", nullptr}}, {{"value", nullptr}}})},
                  {"returnByValue", true}},
                 sessionId_);
}

Reply ChromiumHtmlDocument::CallPage(const std::string& op, const Json& args) const {
  if (held_.empty()) {
    return Page("Runtime.callFunctionOn", {{"functionDeclaration", chromium::kRunFunction},
                                           {"executionContextId", contextId_},
                                           {"arguments", Json::array({{{"value", op}}, {{"value", args}}})},
                                           {"returnByValue", true}});
  }
  Json writes = Json::array();
  writes.swap(held_);
  return Page("Runtime.callFunctionOn",
              {{"functionDeclaration", chromium::kBatchFunction},
               {"executionContextId", contextId_},
               {"arguments", Json::array({{{"value", std::move(writes)}}, {{"value", op}}, {{"value", args}}})},
               {"returnByValue", true}});
}

ChromiumHtmlDocument::~ChromiumHtmlDocument() {
  // Set-up answers still on their way find the document gone (and close a
  // page made for it).
  *alive_ = false;
  ForgetThreadDocument(this);
  if (!sessionId_.empty()) browser_->RemoveSession(sessionId_);
  if (!targetId_.empty()) browser_->Send("Target.closeTarget", {{"targetId", targetId_}});
}

Reply ChromiumHtmlDocument::Page(const std::string& method, const Json& params, Millis timeout) const {
  // Commands need the session only: they queue behind the set-up's.
  if (setUp_ == SetUpState::Opening) const_cast<ChromiumHtmlDocument*>(this)->EnsureReady(false);
  if (closed_) {
    Reply reply;
    reply.error = "the page has closed";
    return reply;
  }
  SendHeld();
  return browser_->Call(method, params, sessionId_, timeout);
}

Json ChromiumHtmlDocument::Run(const std::string& op, const Json& args) const {
  const_cast<ChromiumHtmlDocument*>(this)->FinishLoad();
  if (contextId_ == 0) return nullptr;
  Reply reply = CallPage(op, args);
  if (!reply.ok) {
    lastError_ = reply.error;
    return nullptr;
  }
  if (reply.result.contains("exceptionDetails")) {
    lastError_ = ExceptionText(reply.result["exceptionDetails"]);
    return nullptr;
  }
  const Json& result = reply.result["result"];
  return result.contains("value") ? result["value"] : Json();
}

HtmlElementPtr ChromiumHtmlDocument::ElementOf(int handle) const {
  if (handle <= 0) return nullptr;
  if (auto known = elements_[handle].lock()) return known;
  auto element = std::make_shared<ChromiumElement>(this, alive_, handle);
  elements_[handle] = element;
  return element;
}

HtmlElementPtr ChromiumHtmlDocument::GetElementById(const std::string& id) const {
  if (id.empty()) return nullptr;
  const Json h = Run("find", Json::array({id}));
  return h.is_number_integer() ? ElementOf(h.get<int>()) : nullptr;
}

void ChromiumHtmlDocument::SetElementHtml(const std::string& id, const std::string& html) {
  if (!id.empty()) Hold("setHtmlById", Json::array({id, html}));
}

void ChromiumHtmlDocument::SetElementText(const std::string& id, const std::string& text) {
  if (!id.empty()) Hold("setTextById", Json::array({id, text}));
}

void ChromiumHtmlDocument::SetElementClass(const std::string& id, const std::string& className) {
  if (!id.empty()) Hold("setClassById", Json::array({id, className}));
}

void ChromiumHtmlDocument::SetElementsStyle(const std::vector<std::string>& ids, const StyleList& styles) {
  // One text, which crosses packed however many ids it holds.
  std::string joined;
  for (const std::string& id : ids) {
    if (id.empty()) continue;
    if (!joined.empty()) joined += '\n';
    joined += id;
  }
  Json pairs = Json::array();
  for (const auto& [property, value] : styles) pairs.push_back(Json::array({property, value}));
  if (!joined.empty() && !pairs.empty()) Hold("setStyleByIds", Json::array({joined, std::move(pairs)}));
}

HtmlElementPtr ChromiumHtmlDocument::GetBody() const {
  const Json h = Run("body", Json::array());
  return h.is_number_integer() ? ElementOf(h.get<int>()) : nullptr;
}

HtmlElementPtr ChromiumHtmlDocument::GetDocumentElement() const {
  const Json h = Run("root", Json::array());
  return h.is_number_integer() ? ElementOf(h.get<int>()) : nullptr;
}

void ChromiumHtmlDocument::SetHost(HtmlDocumentHost* host) {
  host_ = host;
  // A page being set up or loading takes them once ready (ConfigureIfChanged),
  // and going away waits for nothing: the page stops asking.
  if (!host || setUp_ != SetUpState::Ready || loading_) {
    ConfigureIfChanged();
    return;
  }
  pageSettings_ = HostSettings();
  Run("configure", Json::array({PageSettings()}));
}

Json ChromiumHtmlDocument::PageSettings() const {
  Json settings = HostSettings();
  // window.external only ever on file: pages.
  settings["external"] = settings.value("external", false) && IsFileUrl(url_);
  return settings;
}

void ChromiumHtmlDocument::ConfigureIfChanged() {
  if (setUp_ != SetUpState::Ready || loading_ || contextId_ == 0 || closed_) return;
  if (HostSettings() == pageSettings_) return;
  pageSettings_ = HostSettings();
  browser_->Send("Runtime.callFunctionOn",
                 {{"functionDeclaration", chromium::kRunFunction},
                  {"executionContextId", contextId_},
                  {"arguments", Json::array({{{"value", "configure"}}, {{"value", Json::array({PageSettings()})}}})}},
                 sessionId_);
}

std::string ChromiumHtmlDocument::GetUrl() const {
  const_cast<ChromiumHtmlDocument*>(this)->FinishLoad();
  return url_;
}

void ChromiumHtmlDocument::SetSilent(bool silent) { silent_ = silent; }
bool ChromiumHtmlDocument::IsSilent() const { return silent_; }

bool ChromiumHtmlDocument::LoadFile(const std::string& path) {
  std::error_code error;
  std::ifstream in(path, std::ios::binary);
  if (!std::filesystem::is_regular_file(path, error) || !in) {
    lastError_ = "cannot read the page file " + path;
    return false;
  }
  return LoadUrl(FileUrl(std::filesystem::absolute(path, error).string()), false, true);
}

void ChromiumHtmlDocument::LoadHtml(const std::string& html) {
  if (!FinishLoad() && closed_) return;
  if (url_ == "about:blank" || url_.empty()) {
    Reply frame = Page("Page.setDocumentContent", {{"frameId", targetId_}, {"html", html}});
    if (frame.ok) Page("Runtime.evaluate", {{"expression", PageScriptAsking()}});
    return;
  }
  fulfil_ = html;
  fulfilPending_ = true;
  LoadUrl(url_, false, true);
  fulfilPending_ = false;
}

bool ChromiumHtmlDocument::LoadUrl(const std::string& url, bool notify, bool wait, bool reload) {
  // One navigation of the program's at a time.
  if (loading_) FinishLoad();
  if (closed_) return false;
  // Writes go to the page they were made for, now: once the navigation has
  // started, the browser answers no call into the page until its request
  // is let through.
  SendHeld();
  Load load;
  load.serial = ++loadSerial_;
  load.deadline = TheClock().Now() + loadTimeout_;
  load.url = url;
  load.notify = notify;
  load.reload = reload;
  load.settings = HostSettings();
  loading_ = std::move(load);
  // Before the page target exists its set-up starts the navigation.
  if (setUp_ == SetUpState::Running || setUp_ == SetUpState::Ready) StartNavigation();
  return wait ? FinishLoad() : true;
}

void ChromiumHtmlDocument::StartNavigation() {
  Load& load = *loading_;
  if (startScriptId_.empty() && !startScriptPending_) {
    // The first page's start script goes with the set-up, unanswered yet.
    startScriptPending_ = true;
    startSettings_ = load.settings;
    std::weak_ptr<bool> alive = alive_;
    browser_->Post("Page.addScriptToEvaluateOnNewDocument", {{"source", PageScriptWith(load.settings)}}, sessionId_,
                   [this, alive](const Reply& reply) {
                     if (!alive.lock()) return;
                     startScriptPending_ = false;
                     if (reply.ok) startScriptId_ = reply.result.value("identifier", "");
                   });
  } else {
    UpdateStartScript(load.settings);
  }
  quiet_ = !load.notify;
  ownLoad_ = true;
  pageSettings_ = load.settings;
  std::weak_ptr<bool> alive = alive_;
  const std::uint64_t serial = load.serial;
  browser_->Post(load.reload ? "Page.reload" : "Page.navigate",
                 load.reload ? Json::object() : Json{{"url", load.url}}, sessionId_,
                 [this, alive, serial](const Reply& reply) {
                   if (alive.lock()) Navigated(serial, reply);
                 });
}

void ChromiumHtmlDocument::Navigated(std::uint64_t serial, const Reply& reply) {
  if (!loading_ || loading_->serial != serial) return;
  if (!reply.ok || reply.result.contains("errorText")) {
    lastError_ = reply.ok ? reply.result.value("errorText", "") : reply.error;
    ownLoad_ = false;
    // An error page still loads; a navigation given up does not.
    if (!reply.ok || lastError_ == "net::ERR_ABORTED") EndLoad(false);
    return;
  }
  if (!loading_->reload && !reply.result.contains("loaderId")) EndLoad(true);  // the same document, another "#"
}

void ChromiumHtmlDocument::EndLoad(bool loaded) {
  loading_.reset();
  loadOk_ = loaded;
  quiet_ = false;
}

bool ChromiumHtmlDocument::FinishLoad() {
  if (setUp_ != SetUpState::Ready && !EnsureReady()) return false;
  if (!loading_) return loadOk_;
  const std::uint64_t serial = loading_->serial;
  while (loading_ && loading_->serial == serial) {
    if (closed_ || !browser_->Alive()) {
      lastError_ = "the page has closed";
      EndLoad(false);
      break;
    }
    const Millis now = TheClock().Now();
    if (now >= loading_->deadline) {
      browser_->Send("Page.stopLoading", Json::object(), sessionId_);
      lastError_ = "the page did not finish loading: " + loading_->url;
      ownLoad_ = false;
      EndLoad(false);
      break;
    }
    browser_->ProcessEvents(loading_->deadline - now);
  }
  return loadOk_;
}

bool ChromiumHtmlDocument::Navigate(const std::string& url) {
  // Resolved against the page the last one went to.
  if (loading_) FinishLoad();
  const std::string resolved = ResolveUrl(url_, url);
  if (host_) {
    bool cancel = false;
    host_->BeforeNavigate(resolved, &cancel);
    if (cancel) return false;
  }
  LoadUrl(resolved, true, false);
  return true;
}

void ChromiumHtmlDocument::Reload() {
  FinishLoad();
  LoadUrl(url_, true, true, true);
}

bool ChromiumHtmlDocument::ProcessEvents(Millis timeout) {
  SendHeld();
  return browser_->ProcessEvents(timeout);
}

void ChromiumHtmlDocument::OnEvent(const std::string& method, const Json& params) {
  if (method == "Debugger.paused") {
    OnPaused(params);
  } else if (method == "Runtime.bindingCalled") {
    OnTold(params);
  } else if (method == "Fetch.requestPaused") {
    OnRequestPaused(params);
  } else if (method == "Runtime.executionContextCreated") {
    const Json& context = params["context"];
    const Json aux = context.value("auxData", Json::object());
    if (aux.value("isDefault", false) && aux.value("frameId", "") == targetId_) {
      contextId_ = context.value("id", 0);
    }
  } else if (method == "Runtime.executionContextDestroyed") {
    if (params.value("executionContextId", -1) == contextId_) {
      contextId_ = 0;
      elements_.clear();
      held_.clear();
    }
  } else if (method == "Runtime.executionContextsCleared") {
    contextId_ = 0;
    elements_.clear();
    held_.clear();
  } else if (method == "Page.frameNavigated") {
    const Json& frame = params["frame"];
    if (frame.value("id", "") != targetId_) return;
    url_ = frame.value("url", "") + frame.value("urlFragment", "");
    reopenUrl_.clear();
    if (!quiet_ && host_) host_->NavigateComplete(url_);
  } else if (method == "Page.navigatedWithinDocument") {
    if (params.value("frameId", "") != targetId_) return;
    url_ = params.value("url", url_);
    if (host_) host_->NavigateComplete(url_);
  } else if (method == "Page.frameStoppedLoading") {
    if (params.value("frameId", "") == targetId_) {
      ++stops_;
      navigationRequested_ = false;  // gone, refused or within the page: the page is not being left
    }
  } else if (method == "Page.frameRequestedNavigation") {
    if (params.value("frameId", "") == targetId_) navigationRequested_ = true;
  } else if (method == "Page.loadEventFired") {
    ++loads_;
    navigationRequested_ = false;
    // A page the user has not touched yet is closed without asking it: it
    // counts as touched from the start.
    if (!browser_->Headless()) browser_->Send("Runtime.evaluate", {{"expression", "0"}, {"userGesture", true}}, sessionId_);
    reopens_ = 0;
    const bool notify = !quiet_;
    // The program's navigation has loaded before its window hears so.
    if (loading_) EndLoad(true);
    ConfigureIfChanged();
    std::weak_ptr<bool> alive = alive_;
    if (notify && host_) host_->DocumentComplete(url_);
    if (alive.lock()) SendDeferredWrites();
  } else if (method == "Page.javascriptDialogOpening" && params.value("type", "") == "beforeunload") {
    // The page is left for a navigation (the program's own or one the page
    // asked for, announced before), or its window is being closed by the
    // desktop: then it stays, and its window hears of the close.
    const bool leaving = loading_.has_value() || navigationRequested_;
    navigationRequested_ = false;
    browser_->Send("Page.handleJavaScriptDialog", {{"accept", leaving}}, sessionId_);
    if (!leaving && windowClosed_) {
      std::weak_ptr<bool> alive = alive_;
      PostThreadCall(GetCurrentThreadId(), [this, alive] {
        if (alive.lock() && windowClosed_) {
          const auto closed = windowClosed_;
          closed();
        }
      });
    }
  } else if (method == "Page.javascriptDialogOpening") {
    if (!silent_) std::fprintf(stderr, "zorva: page dialog: %s\n", params.value("message", "").c_str());
    browser_->Send("Page.handleJavaScriptDialog", {{"accept", true}}, sessionId_);
  } else if (method == "Runtime.exceptionThrown") {
    if (!silent_) {
      std::fprintf(stderr, "zorva: script error in %s: %s\n", url_.c_str(),
                   ExceptionText(params.value("exceptionDetails", Json::object())).c_str());
    }
  } else if (method == "Inspector.targetCrashed" || method == "Target.targetCrashed") {
    PageLost(false);
  } else if (method == "Inspector.detached" || method == "Target.detachedFromTarget" ||
             method == "Target.targetDestroyed") {
    PageLost(true);
  }
}

void ChromiumHtmlDocument::PageLost(bool windowClosed) {
  closed_ = true;
  contextId_ = 0;
  elements_.clear();
  held_.clear();
  if (loading_) EndLoad(false);
  // A new page may land in a renderer that is dying too: it is made again,
  // but a page that dies each time it is made is left closed.
  if (lost_ || reopens_ >= kMostReopens) return;
  lost_ = true;
  ++reopens_;
  // Not inside the event: the window may close, and a new page is waited for.
  std::weak_ptr<bool> alive = alive_;
  PostThreadCall(GetCurrentThreadId(), [this, alive, windowClosed] {
    if (!alive.lock() || !browser_->Alive()) return;
    if (windowClosed && windowClosed_) {
      const auto closed = windowClosed_;
      closed();
      if (!alive.lock()) return;
    }
    Reopen();
  });
}

void ChromiumHtmlDocument::Reopen() {
  if (!sessionId_.empty()) browser_->RemoveSession(sessionId_);
  if (!targetId_.empty()) browser_->Send("Target.closeTarget", {{"targetId", targetId_}});
  if (reopenUrl_.empty()) reopenUrl_ = url_;
  const std::string url = reopenUrl_;
  const std::optional<Placed> placed = placed_;
  targetId_.clear();
  sessionId_.clear();
  setUp_ = SetUpState::Opening;
  setUpLeft_ = 0;
  contextId_ = 0;
  closed_ = false;
  lost_ = false;
  startScriptId_.clear();
  startScriptPending_ = false;
  startSettings_ = Json();
  pageSettings_ = Json();
  loading_.reset();
  ownLoad_ = false;
  quiet_ = false;
  fulfilPending_ = false;
  placed_.reset();
  xWindow_ = 0;
  xWindowSought_ = false;
  url_ = "about:blank";
  Open();
  if (setUp_ == SetUpState::Failed) return;
  if (!url.empty() && url != "about:blank") LoadUrl(url, true, false);
  if (placed) Place(*placed);
}

void ChromiumHtmlDocument::OnPaused(const Json& params) {
  const Json& frames = params["callFrames"];
  if (!frames.is_array() || frames.empty() || frames[0].value("functionName", "") != chromium::kPauseFunction) {
    browser_->Send("Debugger.resume", Json::object(), sessionId_);
    return;
  }
  const std::string frame = frames[0].value("callFrameId", "");
  Reply request = Page("Debugger.evaluateOnCallFrame",
                       {{"callFrameId", frame}, {"expression", "pendingSlot.request"}, {"returnByValue", true}});
  const Json asked = request.ok && request.result.contains("result")
                         ? request.result["result"].value("value", Json::object())
                         : Json::object();
  const Json pressed = asked.is_object() ? asked.value("press", Json()) : Json();
  if (request.ok && request.result.contains("result")) {
    // Answers may be asked again, for another press or none.
    const std::optional<std::pair<int, int>> outer = heldPress_;
    heldPress_.reset();
    if (pressed.is_object() && pressed.value("x", Json()).is_number() && pressed.value("y", Json()).is_number()) {
      heldPress_ = std::make_pair(pressed["x"].get<int>(), pressed["y"].get<int>());
    }
    ++answering_;
    const Json answer = Answer(asked);
    --answering_;
    heldPress_ = outer;
    if (answer.is_boolean() && !answer.get<bool>()) {
      Page("Debugger.evaluateOnCallFrame", {{"callFrameId", frame}, {"expression", "pendingSlot.answer = false"}});
    } else if (!answer.is_null()) {
      // Values cross as a JSON argument, never as script.
      Reply slot = Page("Debugger.evaluateOnCallFrame", {{"callFrameId", frame}, {"expression", "pendingSlot"}});
      const std::string slotId = slot.ok ? slot.result["result"].value("objectId", "") : std::string();
      if (!slotId.empty()) {
        Page("Runtime.callFunctionOn", {{"objectId", slotId},
                                        {"functionDeclaration", "function (answer) { this.answer = answer; }"},
                                        {"arguments", Json::array({{{"value", answer}}})}});
        browser_->Send("Runtime.releaseObject", {{"objectId", slotId}}, sessionId_);
      }
    }
  }
  // What the host wrote is in the page before the page goes on.
  SendHeld();
  // A shown page asked while a mouse button was down: the page cannot hear
  // the button let go while it stood here, so it is told.
  const bool press = !pressed.is_null();
  bool down = true;
  if (press && !browser_->Headless() && x11::MouseButtonDown(&down) && !down) {
    Page("Debugger.evaluateOnCallFrame", {{"callFrameId", frame}, {"expression", "pendingSlot.released = true"}});
  }
  browser_->Send("Debugger.resume", Json::object(), sessionId_);
  AnswerTold();
}

void ChromiumHtmlDocument::OnTold(const Json& params) {
  if (params.value("name", "") != chromium::kTellBinding) return;
  const int context = params.value("executionContextId", 0);
  if (context == 0 || context != contextId_) return;
  Json request = Json::parse(params.value("payload", ""), nullptr, false);
  if (!request.is_object()) return;
  told_.emplace_back(context, std::move(request));
  AnswerTold();
}

void ChromiumHtmlDocument::AnswerTold() {
  if (answering_ > 0) return;
  std::weak_ptr<bool> alive = alive_;
  while (!told_.empty() && alive.lock()) {
    auto [context, request] = std::move(told_.front());
    told_.pop_front();
    // A page gone meanwhile: its handles name nothing here.
    if (context != contextId_ || closed_) continue;
    ++answering_;
    Answer(request);
    if (!alive.lock()) return;
    --answering_;
  }
  SendHeld();
}

Json ChromiumHtmlDocument::Answer(const Json& request) {
  if (!request.is_object()) return nullptr;
  const std::string kind = request.value("kind", "");
  if (kind == "hello") {
    const std::string url = request.value("url", "");
    return Json{{"types", host_ ? host_->EventTypes() : std::vector<std::string>()},
                {"external", host_ && host_->External() && IsFileUrl(url)}};
  }
  if (kind == "event") {
    if (!host_) return nullptr;
    HtmlEvent event;
    event.type = request.value("type", "");
    event.srcElement = ElementOf(request.value("element", 0));
    if (!event.srcElement) return nullptr;
    event.keyCode = request.value("keyCode", 0);
    event.ctrlKey = request.value("ctrlKey", false);
    event.shiftKey = request.value("shiftKey", false);
    event.altKey = request.value("altKey", false);
    host_->HandleEvent(event);
    if (event.returnValue) return nullptr;
    ++cancelled_;
    return false;
  }
  if (kind == "key") {
    const bool taken = keyHandler_ && keyHandler_(request.value("keyCode", 0), request.value("ctrlKey", false),
                                                  request.value("shiftKey", false), request.value("altKey", false));
    return Json(taken);
  }
  if (kind == "navigate") {
    if (!host_) return nullptr;
    bool cancel = false;
    host_->BeforeNavigate(request.value("url", ""), &cancel);
    return cancel ? Json(false) : Json();
  }
  if (kind == "external") {
    ScriptDispatch* external = host_ && IsFileUrl(url_) ? host_->External() : nullptr;
    const std::string name = request.value("name", "");
    if (!external) return Json{{"error", "window.external is not available on this page"}};
    ScriptArgs args;
    if (request.contains("args") && request["args"].is_array()) {
      for (const Json& arg : request["args"]) args.push_back(FromJson(arg));
    }
    ScriptValue result;
    const HRESULT hr = external->Invoke(name, args, &result);
    if (hr == S_OK) return Json{{"value", ToJson(result)}};
    if (hr == DISP_E_UNKNOWNNAME) return Json{{"error", "window.external has no method " + name}};
    if (hr == DISP_E_BADPARAMCOUNT) return Json{{"error", "window.external." + name + ": wrong number of arguments"}};
    if (hr == DISP_E_TYPEMISMATCH) return Json{{"error", "window.external." + name + ": an argument of the wrong type"}};
    return Json{{"error", "window.external." + name + " failed"}};
  }
  return nullptr;
}

void ChromiumHtmlDocument::OnRequestPaused(const Json& params) {
  const std::string requestId = params.value("requestId", "");
  const std::string url = params.contains("request") ? params["request"].value("url", "") : std::string();
  const bool mainFrame = params.value("frameId", "") == targetId_;
  if (mainFrame && fulfilPending_) {
    fulfilPending_ = false;
    ownLoad_ = false;
    Page("Fetch.fulfillRequest",
         {{"requestId", requestId},
          {"responseCode", 200},
          {"responseHeaders", Json::array({{{"name", "Content-Type"}, {"value", "text/html; charset=utf-8"}}})},
          {"body", Base64Encode(fulfil_)}});
    return;
  }
  bool cancel = false;
  bool own = false;
  if (mainFrame && ownLoad_) {
    ownLoad_ = false;
    own = true;  // its start script took the host's settings as it was asked for
  } else if (host_) {
    host_->BeforeNavigate(url, &cancel);
  }
  if (mainFrame && !cancel && !own) UpdateStartScript(HostSettings());
  if (cancel) {
    const std::uint64_t stops = stops_;
    Page("Fetch.failRequest", {{"requestId", requestId}, {"errorReason", "Aborted"}});
    // Until the page has dropped the navigation it does not stop for the
    // host (its events would pass unasked): wait for that, briefly.
    const Millis deadline = TheClock().Now() + 2000;
    while (mainFrame && stops_ == stops && !closed_ && browser_->Alive() && TheClock().Now() < deadline) {
      browser_->ProcessEvents(deadline - TheClock().Now());
    }
  } else {
    Page("Fetch.continueRequest", {{"requestId", requestId}});
  }
}

bool ChromiumHtmlDocument::FireEvent(HtmlEvent event) {
  auto* element = dynamic_cast<ChromiumElement*>(event.srcElement.get());
  if (!element || element->Document() != this) return false;
  const Json done = element->Call("fire", event.type);
  return done.is_boolean() && done.get<bool>();
}

bool ChromiumHtmlDocument::DispatchKey(const std::string& type, int keyCode) {
  Json params{{"windowsVirtualKeyCode", keyCode}, {"nativeVirtualKeyCode", keyCode}};
  if (type == "keydown") {
    params["type"] = "rawKeyDown";
  } else if (type == "keyup") {
    params["type"] = "keyUp";
  } else if (type == "keypress") {
    params["type"] = "char";
    params["text"] = std::string(1, static_cast<char>(keyCode));
  } else {
    return false;
  }
  FinishLoad();
  const int before = cancelled_;
  const Reply reply = Page("Input.dispatchKeyEvent", params);
  // A key let go is told without the page stopping: the host has heard it
  // once a round trip behind it has come back.
  if (reply.ok && type == "keyup") Page("Runtime.evaluate", {{"expression", "0"}});
  return reply.ok && cancelled_ == before;
}

void ChromiumHtmlDocument::MouseEvent(const std::string& type, double x, double y, int clickCount) {
  Json params{{"x", x}, {"y", y}, {"button", "left"}, {"clickCount", clickCount}};
  if (type == "down") {
    params["type"] = "mousePressed";
    params["buttons"] = 1;
  } else if (type == "up") {
    params["type"] = "mouseReleased";
    params["buttons"] = 0;
  } else {
    params["type"] = "mouseMoved";
    params["button"] = "none";
  }
  FinishLoad();
  Page("Input.dispatchMouseEvent", params);
}

bool ChromiumHtmlDocument::ElementCentre(const HtmlElementPtr& element, double* x, double* y) const {
  auto* own = dynamic_cast<ChromiumElement*>(element.get());
  if (!own || own->Document() != this) return false;
  const Json at = own->Call("centre");
  if (!at.is_array() || at.size() != 2) return false;
  *x = at[0].get<double>();
  *y = at[1].get<double>();
  return true;
}

HRESULT ChromiumHtmlDocument::CallScript(const std::string& name, const ScriptArgs& args, ScriptValue* result) {
  FinishLoad();
  if (contextId_ == 0) {
    lastError_ = "the page is not ready";
    return E_FAIL;
  }
  Json list = Json::array();
  for (const ScriptValue& arg : args) list.push_back(ToJson(arg));
  Reply reply = CallPage("callScript", Json::array({name, list}));
  if (!reply.ok) {
    lastError_ = reply.error;
    return E_FAIL;
  }
  if (reply.result.contains("exceptionDetails")) {
    lastError_ = ExceptionText(reply.result["exceptionDetails"]);
    return DISP_E_EXCEPTION;
  }
  const Json value = reply.result["result"].value("value", Json());
  if (!value.is_object() || value.value("unknown", false)) {
    lastError_ = "the page has no function " + name;
    return DISP_E_UNKNOWNNAME;
  }
  if (result) *result = FromJson(value.value("value", Json()));
  return S_OK;
}

bool ChromiumHtmlDocument::WaitUntilStill(const HtmlElementPtr& element, Millis timeout) const {
  auto* own = dynamic_cast<ChromiumElement*>(element.get());
  if (!own || own->Document() != this) return false;
  const_cast<ChromiumHtmlDocument*>(this)->FinishLoad();
  if (contextId_ == 0) return false;
  const Reply reply = Page("Runtime.callFunctionOn",
                           {{"functionDeclaration", chromium::kRunFunction},
                            {"executionContextId", contextId_},
                            {"arguments", Json::array({{{"value", "still"}}, {{"value", Json::array({own->Handle()})}}})},
                            {"awaitPromise", true},
                            {"returnByValue", true}},
                           timeout);
  return reply.ok && !reply.result.contains("exceptionDetails") && reply.result["result"].value("value", false);
}

std::string ChromiumHtmlDocument::CaptureScreenshot() const {
  const_cast<ChromiumHtmlDocument*>(this)->FinishLoad();
  Reply shot = Page("Page.captureScreenshot", {{"format", "png"}});
  if (!shot.ok) return {};
  return Base64Decode(shot.result.value("data", ""));
}

void ChromiumHtmlDocument::SetBounds(int x, int y, int width, int height) {
  if (width <= 0 || height <= 0) return;
  viewportWidth_ = width;
  viewportHeight_ = height;
  shownLeft_ = x;
  shownTop_ = y;
  if (browser_->Headless()) {
    Page("Emulation.setDeviceMetricsOverride",
         {{"width", width}, {"height", height}, {"deviceScaleFactor", 1}, {"mobile", false}});
    return;
  }
  if (!EnsureReady()) return;
  Reply window = browser_->Call("Browser.getWindowForTarget", {{"targetId", targetId_}});
  if (!window.ok) return;
  browser_->Call("Browser.setWindowBounds",
                 {{"windowId", window.result.value("windowId", 0)},
                  {"bounds", {{"left", x}, {"top", y}, {"width", width}, {"height", height}}}});
}

void ChromiumHtmlDocument::SetVisible(bool visible) {
  if (browser_->Headless() || !EnsureReady()) return;
  FoundXWindow();
  if (xWindow_ != 0 && (visible ? x11::Map(xWindow_) : x11::Withdraw(xWindow_))) return;
  // Without a window manager minimising is ignored; a window far off the
  // screen is hidden (the page reads visibilityState "hidden").
  Reply window = browser_->Call("Browser.getWindowForTarget", {{"targetId", targetId_}});
  if (!window.ok) return;
  Json bounds = window.result.value("bounds", Json::object());
  if (visible) {
    bounds = {{"left", shownLeft_}, {"top", shownTop_}};
  } else {
    if (bounds.value("left", 0) > -4000) {
      shownLeft_ = bounds.value("left", 0);
      shownTop_ = bounds.value("top", 0);
    }
    bounds = {{"left", -5000}, {"top", -5000}};
  }
  browser_->Call("Browser.setWindowBounds", {{"windowId", window.result.value("windowId", 0)}, {"bounds", bounds}});
}

ChromiumHtmlDocument::Follower ChromiumHtmlDocument::MakeFollower() {
  std::weak_ptr<bool> alive = alive_;
  return [this, alive](int x, int y, int width, int height, bool visible, bool minimized) {
    if (alive.lock()) Follow(Placed{x, y, width, height, visible, minimized});
  };
}

ChromiumHtmlDocument::XWindowGetter ChromiumHtmlDocument::MakeXWindowGetter() {
  std::weak_ptr<bool> alive = alive_;
  return [this, alive]() -> unsigned long {
    if (!alive.lock() || browser_->Headless() || closed_ || !EnsureReady()) return 0;
    return FoundXWindow();
  };
}

ChromiumHtmlDocument::PressReader ChromiumHtmlDocument::MakePressReader() {
  std::weak_ptr<bool> alive = alive_;
  return [this, alive](int* x, int* y) {
    if (!alive.lock() || !heldPress_) return false;
    *x = heldPress_->first;
    *y = heldPress_->second;
    return true;
  };
}

unsigned long ChromiumHtmlDocument::FoundXWindow() {
  if (!xWindowSought_) {
    xWindowSought_ = true;
    xWindow_ = browser_->FindXWindow(sessionId_);
  }
  return xWindow_;
}

ChromiumHtmlDocument::PlaceReader ChromiumHtmlDocument::MakePlaceReader() {
  std::weak_ptr<bool> alive = alive_;
  return [this, alive](int* x, int* y) {
    if (!alive.lock() || browser_->Headless()) return false;
    if (closed_ || setUp_ != SetUpState::Ready) {
      // Its window closed by the desktop: where it was last seen.
      if (!lastSeen_) return false;
      *x = lastSeen_->first;
      *y = lastSeen_->second;
      return true;
    }
    if (placed_ && !placed_->visible) return false;
    Reply window = browser_->Call("Browser.getWindowForTarget", {{"targetId", targetId_}});
    if (!window.ok) return false;
    const Json bounds = window.result.value("bounds", Json::object());
    if (bounds.value("windowState", std::string("normal")) != "normal") return false;
    *x = bounds.value("left", 0);
    *y = bounds.value("top", 0);
    lastSeen_ = std::make_pair(*x, *y);
    return true;
  };
}

ChromiumHtmlDocument::TitleSetter ChromiumHtmlDocument::MakeTitleSetter() {
  std::weak_ptr<bool> alive = alive_;
  return [this, alive](const std::string& title) {
    if (alive.lock()) Hold("setTitle", Json::array({title}));
  };
}

void ChromiumHtmlDocument::Follow(const Placed& asked) {
  asked_ = asked;
  Placed now = asked;
  now.visible = asked.visible && !standby_;
  Place(now);
}

void ChromiumHtmlDocument::SetStandby(bool standby) {
  if (standby_ == standby) return;
  standby_ = standby;
  if (asked_) Follow(*asked_);
}

void ChromiumHtmlDocument::Place(const Placed& now) {
  if (deferred_) {
    // A hidden window's page waits; one shown needs its page now.
    if (!now.visible) {
      deferredPlace_ = now;
      return;
    }
    deferredPlace_.reset();
    OpenDeferred();
  }
  if (placed_ && *placed_ == now) return;
  const bool wasHidden = placed_ && !placed_->visible;
  const bool wasMinimized = placed_ && placed_->visible && placed_->minimized;
  const bool moved = !placed_ || placed_->x != now.x || placed_->y != now.y || placed_->width != now.width ||
                     placed_->height != now.height;
  const bool shown = !placed_ || placed_->visible != now.visible;
  placed_ = now;
  if (now.visible && now.minimized) {
    // The window manager keeps its size and place for when it comes back.
    if (wasHidden) SetVisible(true);
    if (!browser_->Headless() && EnsureReady() && FoundXWindow() != 0) x11::Iconify(xWindow_);
    return;
  }
  if (now.visible) lastSeen_ = std::make_pair(now.x, now.y);
  if (now.visible) {
    if (wasHidden) SetVisible(true);
    if (wasMinimized && !browser_->Headless() && xWindow_ != 0) x11::Activate(xWindow_);
    if (moved || shown) SetBounds(now.x, now.y, now.width, now.height);
  } else if (shown) {
    SetVisible(false);
  }
}

}  // namespace platform

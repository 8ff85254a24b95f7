// The page document's life: the documents of each thread, a page target
// made, attached to and set up (at once or deferred), failure, and the page
// made again when its window or renderer is lost.
#include "platform/html/ChromiumHtmlDocument.h"

#include <cstdio>
#include <optional>
#include <set>

#include "platform/html/ChromiumDocumentInternal.h"
#include "platform/html/ChromiumPageScript.h"
#include "platform/kernel/Messages.h"

namespace platform {

using chromium::Json;
using chromium::kMostReopens;
using chromium::kSetUpTimeout;
using chromium::PageScriptWith;
using chromium::Reply;

namespace {

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

ChromiumHtmlDocument::ChromiumHtmlDocument(std::shared_ptr<chromium::Browser> browser) : browser_(std::move(browser)) {
  ThreadDocuments().insert(this);
}

ChromiumHtmlDocument::~ChromiumHtmlDocument() {
  // Set-up answers still on their way find the document gone (and close a
  // page made for it).
  *alive_ = false;
  ForgetThreadDocument(this);
  if (!sessionId_.empty()) browser_->RemoveSession(sessionId_);
  if (!targetId_.empty()) browser_->Send("Target.closeTarget", {{"targetId", targetId_}});
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
  browser_->Post("Target.createTarget", {{"url", "about:blank"}}, {}, [this, alive, weakBrowser](const Reply& reply) {
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
                     if (auto browser = weakBrowser.lock())
                       browser->Send("Target.closeTarget", {{"targetId", targetId}});
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
// when it is clicked, typed on or left.
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
  for (const t of ['mouseout', 'keydown', 'blur']) addEventListener(t, giveBack, true);
  // A press keeps it aside too (the hover a press makes would show it); the
  // click has it back for its own moment only.
  addEventListener('click', (e) => {
    const a = held;
    if (!a || !(e.target instanceof Node) || !a.contains(e.target)) return;
    giveBack();
    setTimeout(() => { if (a.matches(':hover')) take({ target: a, buttons: 0 }); }, 0);
  }, true);
  // A click the page answered itself needs no address afterwards: aside at
  // once, before the hover the page's change brings can show it.
  addEventListener('click', (e) => {
    const a = e.target instanceof Element ? e.target.closest('a[href]') : null;
    if (a && e.defaultPrevented && a.matches(':hover')) take({ target: a, buttons: 0 });
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
    setup.push_back(
        {"Emulation.setDeviceMetricsOverride",
         {{"width", viewportWidth_}, {"height", viewportHeight_}, {"deviceScaleFactor", 1}, {"mobile", false}}});
    // Headless pages are never the focused window; script's focus() and
    // the keys typed into a focused field must work as in a shown window.
    setup.push_back({"Emulation.setFocusEmulationEnabled", {{"enabled", true}}});
  } else {
    // The desktop's close button on a shown page's window asks the page
    // first; the window stays, and closing it is the program's to decide.
    setup.push_back(
        {"Page.addScriptToEvaluateOnNewDocument",
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

}  // namespace platform

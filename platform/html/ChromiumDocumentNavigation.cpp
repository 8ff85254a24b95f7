// Navigation of the page document: loads of the program's own and the
// page's, the document requests held until the host has answered, the wait
// for a load, and the page's events as they arrive.
#include "platform/html/ChromiumHtmlDocument.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/html/ChromiumDocumentInternal.h"
#include "platform/html/ChromiumPageScript.h"
#include "platform/html/Url.h"
#include "platform/kernel/Base64.h"
#include "platform/kernel/Messages.h"

namespace platform {

using chromium::ExceptionText;
using chromium::Json;
using chromium::kSetUpTimeout;
using chromium::PageScriptWith;
using chromium::Reply;

namespace {

const std::string& PageScriptAsking() {
  static const std::string script = std::string(chromium::kPageScript) + "();";
  return script;
}

}  // namespace

std::string ChromiumHtmlDocument::GetUrl() const {
  const_cast<ChromiumHtmlDocument*>(this)->FinishLoad();
  return url_;
}

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
  browser_->Post(load.reload ? "Page.reload" : "Page.navigate", load.reload ? Json::object() : Json{{"url", load.url}},
                 sessionId_, [this, alive, serial](const Reply& reply) {
                   if (alive.lock()) Navigated(serial, reply);
                 });
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
    if (!browser_->Headless())
      browser_->Send("Runtime.evaluate", {{"expression", "0"}, {"userGesture", true}}, sessionId_);
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

}  // namespace platform

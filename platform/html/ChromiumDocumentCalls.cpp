// Calls into the page: element writes held and sent in one batch, reads and
// script calls that take the held writes with them, values crossing as JSON,
// and the host's settings the page takes.
#include "platform/html/ChromiumHtmlDocument.h"

#include <cstdint>
#include <utility>

#include "platform/html/ChromiumDocumentInternal.h"
#include "platform/html/ChromiumPageScript.h"
#include "platform/kernel/Messages.h"

namespace platform {

using chromium::ExceptionText;
using chromium::FromJson;
using chromium::IsFileUrl;
using chromium::Json;
using chromium::Reply;
using chromium::ToJson;

namespace chromium {

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

// The page script as the start of each new document runs it, with the host's
// settings.
std::string PageScriptWith(const Json& settings) {
  return std::string(chromium::kPageScript) + "(" + settings.dump(-1, ' ', true, Json::error_handler_t::replace) + ");";
}

}  // namespace chromium

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

namespace {

// Written text after which the page's garbage is collected. Each call counts
// for more than its text: the elements it replaced and the page's answer
// (a track's few small writes to the player page left about 30 KB behind).
constexpr std::size_t kCollectAfterWritten = 4 << 20;
constexpr std::size_t kCallCost = 16 << 10;

std::size_t TextSize(const Json& value) {
  if (value.is_string()) return value.get_ref<const std::string&>().size();
  std::size_t size = 0;
  if (value.is_array())
    for (const Json& item : value) size += TextSize(item);
  return size;
}

}  // namespace

void ChromiumHtmlDocument::NoteWritten(const Json& writes) const {
  writtenSinceCollect_ += kCallCost + TextSize(writes);
  // Not while the page waits for an answer: the next write asks again.
  if (writtenSinceCollect_ < kCollectAfterWritten || answering_ > 0 || closed_ || sessionId_.empty()) return;
  writtenSinceCollect_ = 0;
  browser_->Send("HeapProfiler.collectGarbage", Json::object(), sessionId_);
}

void ChromiumHtmlDocument::SendHeld() const {
  if (held_.empty()) return;
  Json writes = Json::array();
  writes.swap(held_);
  if (contextId_ == 0 || closed_) return;
  NoteWritten(writes);
  browser_->Call(
      "Runtime.callFunctionOn",
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
  NoteWritten(writes);
  return Page("Runtime.callFunctionOn",
              {{"functionDeclaration", chromium::kBatchFunction},
               {"executionContextId", contextId_},
               {"arguments", Json::array({{{"value", std::move(writes)}}, {{"value", op}}, {{"value", args}}})},
               {"returnByValue", true}});
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

HRESULT ChromiumHtmlDocument::CallScript(const std::string& name, const ScriptArgs& args, ScriptValue* result) {
  FinishLoad();
  if (contextId_ == 0) {
    lastError_ = "the page is not ready";
    return E_FAIL;
  }
  Json list = Json::array();
  for (const ScriptValue& arg : args) list.push_back(ToJson(arg));
  NoteWritten(list);
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

Json ChromiumHtmlDocument::HostSettings() const {
  return Json{{"types", host_ ? host_->EventTypes() : std::vector<std::string>()},
              {"external", host_ && host_->External()}};
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

void ChromiumHtmlDocument::SetSilent(bool silent) { silent_ = silent; }

bool ChromiumHtmlDocument::IsSilent() const { return silent_; }

}  // namespace platform

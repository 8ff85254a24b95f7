// The page's questions to the host: the page stopped in the debugger for an
// event, a navigation, a key or window.external, answered while it waits;
// and what it told without stopping, answered in order.
#include "platform/html/ChromiumHtmlDocument.h"

#include <optional>
#include <utility>

#include "platform/html/ChromiumDocumentInternal.h"
#include "platform/html/ChromiumPageScript.h"
#include "platform/html/X11Windows.h"

namespace platform {

using chromium::FromJson;
using chromium::IsFileUrl;
using chromium::Json;
using chromium::Reply;
using chromium::ToJson;

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
    if (hr == DISP_E_TYPEMISMATCH)
      return Json{{"error", "window.external." + name + ": an argument of the wrong type"}};
    return Json{{"error", "window.external." + name + " failed"}};
  }
  return nullptr;
}

}  // namespace platform

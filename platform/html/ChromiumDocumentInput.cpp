// Input given to the page as a user gives it (keys, the mouse, synthetic
// events), and what input needs of it: where an element is, when it stands
// still, the page as an image.
#include "platform/html/ChromiumElement.h"

#include "platform/html/ChromiumPageScript.h"
#include "platform/kernel/Base64.h"

namespace platform {

using chromium::Json;
using chromium::Reply;

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

bool ChromiumHtmlDocument::WaitUntilStill(const HtmlElementPtr& element, Millis timeout) const {
  auto* own = dynamic_cast<ChromiumElement*>(element.get());
  if (!own || own->Document() != this) return false;
  const_cast<ChromiumHtmlDocument*>(this)->FinishLoad();
  if (contextId_ == 0) return false;
  const Reply reply =
      Page("Runtime.callFunctionOn",
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

}  // namespace platform

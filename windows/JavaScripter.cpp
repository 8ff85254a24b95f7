#include "windows/JavaScripter.h"

#include "platform/kernel/SystemMessage.h"

bool CJavaScripter::SetDocument(platform::HtmlDocument* document) {
  if (!document) {
    SetError("NULL pointer");
    return false;
  }
  document_ = document;
  return true;
}

bool CJavaScripter::GetScript(platform::HtmlDocument** script) {
  if (!document_) {
    SetError("NULL pointer");
    return false;
  }
  if (script) *script = document_;
  return true;
}

bool CJavaScripter::CallFunction(const std::string& name, platform::ScriptValue* result) {
  if (!document_) return false;
  return CallScript(name, {}, result);
}

bool CJavaScripter::CallFunction(const std::string& name, const std::string& argument, platform::ScriptValue* result) {
  if (!document_) return false;
  return CallScript(name, {argument}, result);
}

bool CJavaScripter::CallScript(const std::string& name, const std::vector<std::string>& arguments,
                               platform::ScriptValue* result) {
  platform::HtmlDocument* script = nullptr;
  if (!GetScript(&script)) {
    SetError("Cannot GetScript");
    return false;
  }
  platform::ScriptArgs args(arguments.begin(), arguments.end());
  platform::ScriptValue value;
  const HRESULT hr = script->CallScript(name, args, &value);
  if (FAILED(hr)) {
    SetSystemError(hr);
    return false;
  }
  if (result) *result = std::move(value);
  return true;
}

void CJavaScripter::SetError(const std::string& reason) { lastError_ = "JSCall Error:\n" + reason; }

void CJavaScripter::SetSystemError(HRESULT code) {
  std::string message;
  SetError(FormatSystemMessage(code, &message) ? message : std::string("FormatMessage Netive Error"));
}

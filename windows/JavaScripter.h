// Calls the named script functions of a window's page with text arguments.
// Each window owns one and hands it the page's document once the page has
// loaded; callers ignore the result, and the reason of the last failure is
// kept for inspection.
#pragma once

#include <string>
#include <vector>

#include "platform/html/HtmlDocument.h"
#include "platform/html/ScriptDispatch.h"

class CJavaScripter {
 public:
  CJavaScripter() = default;
  virtual ~CJavaScripter() = default;
  CJavaScripter(const CJavaScripter&) = delete;
  CJavaScripter& operator=(const CJavaScripter&) = delete;

  // The document of the loaded page; it must outlive this object's calls (the
  // window owns both). Null sets "NULL pointer" and returns false.
  bool SetDocument(platform::HtmlDocument* document);
  // The page's script (its document); without one "NULL pointer" and false.
  bool GetScript(platform::HtmlDocument** script);

  // False at once, with no error text, while no document is held.
  bool CallFunction(const std::string& name, platform::ScriptValue* result = nullptr);
  bool CallFunction(const std::string& name, const std::string& argument, platform::ScriptValue* result = nullptr);
  // Calls `name` with the texts in the order given. An unknown name or a
  // script error returns false with the system's text for it.
  bool CallScript(const std::string& name, const std::vector<std::string>& arguments,
                  platform::ScriptValue* result = nullptr);

  // "JSCall Error:\n" followed by the reason of the last failure.
  const std::string& GetLastError() const { return lastError_; }

 private:
  void SetError(const std::string& reason);
  void SetSystemError(HRESULT code);

  platform::HtmlDocument* document_ = nullptr;
  std::string lastError_;
};

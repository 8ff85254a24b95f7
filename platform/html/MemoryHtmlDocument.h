// The page document held in memory: a page file or HTML text parsed into a
// tree of elements that the program reads and changes by id. Page scripts do
// not run in it: calls of script functions are recorded, and what the user and
// page script would do is done by the calls at the end (tests use them).
//
// Markup is read as a browser reads it on these points: elements nest at
// most 512 levels deep (the root's included), a deeper one becoming a sibling
// of the element at that depth, so a page nested deeper loses nothing and
// takes time in proportion to its length. Character references give what
// they give in a browser: every named reference of HTML, the legacy ones
// without ';' too ("&copy 2009"; in an attribute value not before '=', a
// letter or a digit), and numeric ones in 0x80-0x9F as windows-1252 maps
// them ("&#146;" is U+2019); text in SCRIPT and STYLE stays as written. A
// page file's charset is a byte order mark's (UTF-8, UTF-16), else that of a
// META charset or content-type in its first 1024 bytes (Latin-1 and ASCII
// labels meaning windows-1252, a UTF-16 label UTF-8); undeclared, UTF-8 when
// the bytes are valid UTF-8, else windows-1252. Bytes that are no character
// in the charset, in a file or in UTF-8 text given, read as U+FFFD.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/html/HtmlDocument.h"

namespace platform {

namespace html {
struct DocumentCore;
}

class MemoryHtmlDocument final : public HtmlDocument {
 public:
  // An empty page (HTML, HEAD and BODY only).
  MemoryHtmlDocument();
  ~MemoryHtmlDocument() override;

  bool LoadFile(const std::string& path) override;
  void LoadHtml(const std::string& html) override;

  HtmlElementPtr GetElementById(const std::string& id) const override;
  HtmlElementPtr GetBody() const override;
  HtmlElementPtr GetDocumentElement() const override;

  void SetHost(HtmlDocumentHost* host) override;
  std::string GetUrl() const override;
  bool Navigate(const std::string& url) override;
  void Reload() override;
  void SetSilent(bool silent) override;
  bool IsSilent() const override;
  bool FireEvent(HtmlEvent event) override;
  bool DispatchKey(const std::string& type, int keyCode) override;
  // Recorded. A function defined with DefineScriptFunction runs (one that
  // throws answers DISP_E_EXCEPTION, as a script error); one marked missing
  // answers DISP_E_UNKNOWNNAME; any other answers S_OK and nothing (the page's
  // script files are not loaded here).
  HRESULT CallScript(const std::string& name, const ScriptArgs& args, ScriptValue* result) override;

  // Gives an element of this page the keyboard focus (no events).
  void Focus(const HtmlElementPtr& element);
  // The focused element while it is in the page, else the body.
  HtmlElementPtr GetActiveElement() const;
  // What page script's call window.external.name(args) gets: the host's
  // answer, or E_NOINTERFACE when the page has no window.external.
  HRESULT CallExternal(const std::string& name, const ScriptArgs& args, ScriptValue* result);

  struct ScriptCall {
    std::string name;
    ScriptArgs args;
  };
  const std::vector<ScriptCall>& ScriptCalls() const;
  void ClearScriptCalls();
  void DefineScriptFunction(const std::string& name, std::function<ScriptValue(const ScriptArgs&)> body);
  void MarkScriptFunctionMissing(const std::string& name);
  // Context menus the browser showed (contextmenu events that went ahead).
  int ContextMenusShown() const;

 private:
  struct PageState;
  bool Owns(const HtmlElementPtr& element) const;

  std::unique_ptr<html::DocumentCore> core_;
  std::unique_ptr<PageState> page_;
};

}  // namespace platform

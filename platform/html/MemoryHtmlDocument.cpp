#include "platform/html/MemoryHtmlDocument.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/html/HtmlParser.h"
#include "platform/html/HtmlText.h"
#include "platform/html/HtmlTree.h"
#include "platform/html/Url.h"
#include "platform/kernel/Log.h"

namespace platform {

namespace html {

struct DocumentCore {
  DocumentCore() : root(std::make_shared<Node>(NodeKind::Document)) { root->core = this; }
  ~DocumentCore() {
    root->core = nullptr;
    DetachChildren(*root);
  }
  DocumentCore(const DocumentCore&) = delete;
  DocumentCore& operator=(const DocumentCore&) = delete;

  // Drops the id index; the next lookup walks the page again.
  void Invalidate() {
    if (!indexed) return;
    indexed = false;
    byId.clear();
    byFoldedId.clear();
  }

  void BuildIndex() {
    std::vector<const NodePtr*> pending;
    for (auto it = root->children.rbegin(); it != root->children.rend(); ++it) pending.push_back(&*it);
    while (!pending.empty()) {
      const NodePtr& node = *pending.back();
      pending.pop_back();
      if (node->kind != NodeKind::Element) continue;
      if (const std::string* id = FindAttribute(*node, "id"); id != nullptr && !id->empty()) {
        byId.emplace(*id, node);  // the first in document order stays
        byFoldedId.emplace(AsciiLower(*id), node);
      }
      for (auto it = node->children.rbegin(); it != node->children.rend(); ++it) {
        pending.push_back(&*it);
      }
    }
    indexed = true;
  }

  NodePtr root;
  bool indexed = false;
  std::unordered_map<std::string, NodePtr> byId;
  std::unordered_map<std::string, NodePtr> byFoldedId;
};

namespace {

DocumentCore* CoreOf(const NodePtr& node) {
  const NodePtr top = TopOf(node);
  return top->kind == NodeKind::Document ? top->core : nullptr;
}

// Called after a change of the tree or of an id: lookups must see it.
void Touch(const NodePtr& node) {
  if (DocumentCore* core = CoreOf(node)) core->Invalidate();
}

std::string StripImportant(std::string value) {
  const std::size_t bang = value.rfind('!');
  if (bang == std::string::npos) return value;
  std::string rest = AsciiLower(value.substr(bang + 1));
  rest.erase(0, rest.find_first_not_of(" \t\n\r\f"));
  if (rest.rfind("important", 0) != 0 || rest.find_first_not_of(" \t\n\r\f", 9) != std::string::npos) {
    return value;
  }
  value.erase(bang);
  value.erase(value.find_last_not_of(" \t\n\r\f") + 1);
  return value;
}

class MemoryElement;

HtmlElementPtr HandleOf(const NodePtr& node);

class MemoryElement final : public HtmlElement {
 public:
  explicit MemoryElement(NodePtr node) : node_(std::move(node)) {}

  bool IsInDocument() const override { return CoreOf(node_) != nullptr; }

  std::string GetTagName() const override { return AsciiUpper(node_->name); }

  HtmlElementPtr GetParent() const override { return HandleOf(node_->parent.lock()); }

  std::vector<HtmlElementPtr> GetChildren() const override {
    std::vector<HtmlElementPtr> children;
    for (const NodePtr& child : node_->children) {
      if (child->kind == NodeKind::Element) children.push_back(HandleOf(child));
    }
    return children;
  }

  std::string GetInnerHtml() const override {
    return IsVoidElement(node_->name) ? std::string() : SerializeChildren(*node_);
  }

  void SetInnerHtml(const std::string& html) override {
    ReplaceChildren(node_, ParseFragment(html, node_->name));
    Touch(node_);
  }

  std::string GetInnerText() const override { return TextContent(*node_); }

  void SetInnerText(const std::string& text) override {
    std::vector<NodePtr> children;
    if (!text.empty()) children.push_back(MakeText(text));
    ReplaceChildren(node_, std::move(children));
    Touch(node_);
  }

  bool HasAttribute(const std::string& name) const override {
    return FindAttribute(*node_, AsciiLower(name)) != nullptr;
  }

  std::string GetAttribute(const std::string& name) const override {
    const std::string* value = FindAttribute(*node_, AsciiLower(name));
    return value != nullptr ? *value : std::string();
  }

  bool SetAttribute(const std::string& name, const std::string& value) override {
    if (!IsValidAttributeName(name)) return false;
    const std::string lower = AsciiLower(name);
    SetAttributeValue(*node_, lower, value);
    if (lower == "id") Touch(node_);
    return true;
  }

  void RemoveAttribute(const std::string& name) override {
    const std::string lower = AsciiLower(name);
    if (RemoveAttributeValue(*node_, lower) && lower == "id") Touch(node_);
  }

  std::string GetStyle(const std::string& property) const override {
    const std::string name = AsciiLower(property);
    std::string found;
    for (auto& [declared, value] : ParseStyle(GetAttribute("style"))) {
      if (declared == name) found = value;  // a later declaration wins
    }
    return StripImportant(std::move(found));
  }

  void SetStyle(const std::string& property, const std::string& value) override {
    if (!IsValidPropertyName(property) || BreaksDeclaration(value)) return;
    const std::string name = AsciiLower(property);
    const bool hadStyle = HasAttribute("style");
    StyleDeclarations declarations = ParseStyle(GetAttribute("style"));
    bool placed = false;
    bool changed = false;
    StyleDeclarations result;
    for (auto& declaration : declarations) {
      if (declaration.first != name) {
        result.push_back(std::move(declaration));
        continue;
      }
      changed = true;
      if (!placed && !value.empty()) result.emplace_back(name, value);  // in place
      placed = true;
    }
    if (!placed && !value.empty()) {
      result.emplace_back(name, value);
      changed = true;
    }
    if (!changed && !hadStyle) return;
    SetAttributeValue(*node_, "style", SerializeStyle(result));
  }

  std::string GetValue() const override {
    if (node_->name == "input") {
      if (node_->value) return *node_->value;
      if (const std::string* value = FindAttribute(*node_, "value")) return *value;
      return IsCheckable() ? "on" : "";
    }
    if (node_->name == "textarea") return node_->value ? *node_->value : TextContent(*node_);
    return GetAttribute("value");
  }

  void SetValue(const std::string& value) override {
    if (node_->name == "input" || node_->name == "textarea") {
      node_->value = value;
    } else {
      SetAttributeValue(*node_, "value", value);
    }
  }

  bool GetChecked() const override {
    if (!IsCheckable()) return false;
    return node_->checked ? *node_->checked : HasAttribute("checked");
  }

  void SetChecked(bool checked) override {
    if (IsCheckable()) node_->checked = checked;
  }

  bool IsTextEdit() const override {
    if (const std::string* editable = FindAttribute(*node_, "contenteditable")) {
      const std::string value = AsciiLower(*editable);
      if (value.empty() || value == "true") return true;
    }
    if (node_->name == "textarea") return true;
    if (node_->name != "input") return false;
    static const std::set<std::string> kTextKinds = {"", "text", "password", "search", "email", "url", "tel", "number"};
    return kTextKinds.count(AsciiLower(GetAttribute("type"))) != 0;
  }

 private:
  bool IsCheckable() const {
    if (node_->name != "input") return false;
    const std::string type = AsciiLower(GetAttribute("type"));
    return type == "checkbox" || type == "radio";
  }

  NodePtr node_;
};

HtmlElementPtr HandleOf(const NodePtr& node) {
  if (node == nullptr || node->kind != NodeKind::Element) return nullptr;
  if (HtmlElementPtr existing = node->handle.lock()) return existing;
  auto handle = std::make_shared<MemoryElement>(node);
  node->handle = handle;
  return handle;
}

NodePtr ChildElement(const NodePtr& node, const char* name) {
  for (const NodePtr& child : node->children) {
    if (child->kind == NodeKind::Element && child->name == name) return child;
  }
  return nullptr;
}

}  // namespace

}  // namespace html

struct MemoryHtmlDocument::PageState {
  HtmlDocumentHost* host = nullptr;
  std::string url = "about:blank";
  std::string source;  // the markup last shown, for a reload of what no file holds
  bool silent = false;
  HtmlElementPtr focus;
  std::vector<ScriptCall> calls;
  std::map<std::string, std::function<ScriptValue(const ScriptArgs&)>> functions;
  std::set<std::string> missing;
  int contextMenus = 0;
};

MemoryHtmlDocument::MemoryHtmlDocument()
    : core_(std::make_unique<html::DocumentCore>()), page_(std::make_unique<PageState>()) {
  LoadHtml(std::string());
}

MemoryHtmlDocument::~MemoryHtmlDocument() = default;

bool MemoryHtmlDocument::LoadFile(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) return false;
  LoadHtml(html::DecodePage(content));
  page_->url = FileUrl(std::filesystem::absolute(path, error).string());
  return true;
}

void MemoryHtmlDocument::LoadHtml(const std::string& html) {
  html::ReplaceChildren(core_->root, html::ParseDocument(html));
  core_->Invalidate();
  page_->source = html;
}

HtmlElementPtr MemoryHtmlDocument::GetElementById(const std::string& id) const {
  if (id.empty()) return nullptr;
  if (!core_->indexed) core_->BuildIndex();
  if (auto it = core_->byId.find(id); it != core_->byId.end()) return html::HandleOf(it->second);
  if (auto it = core_->byFoldedId.find(html::AsciiLower(id)); it != core_->byFoldedId.end()) {
    return html::HandleOf(it->second);
  }
  return nullptr;
}

HtmlElementPtr MemoryHtmlDocument::GetDocumentElement() const {
  return html::HandleOf(html::ChildElement(core_->root, "html"));
}

HtmlElementPtr MemoryHtmlDocument::GetBody() const {
  const html::NodePtr root = html::ChildElement(core_->root, "html");
  if (root == nullptr) return nullptr;
  html::NodePtr body = html::ChildElement(root, "body");
  if (body == nullptr) body = html::ChildElement(root, "frameset");
  return html::HandleOf(body);
}

void MemoryHtmlDocument::SetHost(HtmlDocumentHost* host) { page_->host = host; }

std::string MemoryHtmlDocument::GetUrl() const { return page_->url; }

bool MemoryHtmlDocument::Navigate(const std::string& url) {
  const std::string resolved = ResolveUrl(page_->url, url);
  if (page_->host) {
    bool cancel = false;
    page_->host->BeforeNavigate(resolved, &cancel);
    if (cancel) return false;
  }
  if (resolved.find('#') != std::string::npos && StripFragment(resolved) == StripFragment(page_->url)) {
    page_->url = resolved;
    if (page_->host) page_->host->NavigateComplete(resolved);
    return true;
  }
  std::string path;
  if (!FileUrlToPath(resolved, &path) || !LoadFile(path)) LoadHtml(std::string());
  page_->url = resolved;
  if (page_->host) page_->host->NavigateComplete(resolved);
  if (page_->host) page_->host->DocumentComplete(resolved);
  return true;
}

void MemoryHtmlDocument::Reload() {
  const std::string url = page_->url;
  std::string path;
  if (!FileUrlToPath(url, &path) || !LoadFile(path)) LoadHtml(std::string(page_->source));
  page_->url = url;
  if (page_->host) page_->host->NavigateComplete(url);
  if (page_->host) page_->host->DocumentComplete(url);
}

void MemoryHtmlDocument::SetSilent(bool silent) { page_->silent = silent; }

bool MemoryHtmlDocument::IsSilent() const { return page_->silent; }

bool MemoryHtmlDocument::Owns(const HtmlElementPtr& element) const {
  if (!element || !element->IsInDocument()) return false;
  HtmlElementPtr top = element;
  while (HtmlElementPtr parent = top->GetParent()) top = parent;
  return top == GetDocumentElement();
}

bool MemoryHtmlDocument::FireEvent(HtmlEvent event) {
  const HtmlElementPtr source = event.srcElement;
  if (!Owns(source)) return false;

  // A checkbox or radio changes before its handlers run.
  bool toggled = false;
  bool wasChecked = false;
  if (event.type == "click" && source->GetTagName() == "INPUT") {
    const std::string kind = html::AsciiLower(source->GetAttribute("type"));
    if (kind == "checkbox" || kind == "radio") {
      wasChecked = source->GetChecked();
      const bool now = kind == "checkbox" ? !wasChecked : true;
      toggled = now != wasChecked;
      source->SetChecked(now);
    }
  }

  if (page_->host) page_->host->HandleEvent(event);
  if (!event.returnValue) {
    if (toggled) source->SetChecked(wasChecked);
    return false;
  }

  if (event.type == "contextmenu") ++page_->contextMenus;
  if (event.type == "click") {
    for (HtmlElementPtr element = source; element; element = element->GetParent()) {
      if (element->GetTagName() == "A" && element->HasAttribute("href")) {
        if (element->IsInDocument()) Navigate(element->GetAttribute("href"));
        break;
      }
    }
  }
  return true;
}

bool MemoryHtmlDocument::DispatchKey(const std::string& type, int keyCode) {
  HtmlEvent event;
  event.type = type;
  event.srcElement = GetActiveElement();
  event.keyCode = keyCode;
  return FireEvent(std::move(event));
}

HRESULT MemoryHtmlDocument::CallScript(const std::string& name, const ScriptArgs& args, ScriptValue* result) {
  page_->calls.push_back(ScriptCall{name, args});
  if (page_->missing.count(name)) return DISP_E_UNKNOWNNAME;
  ScriptValue value;
  if (auto it = page_->functions.find(name); it != page_->functions.end() && it->second) {
    // A function that throws stands for a page function with a script error.
    try {
      value = it->second(args);
    } catch (...) {
      platform::LogFailure("MemoryHtmlDocument::CallScript");
      return DISP_E_EXCEPTION;
    }
  }
  if (result) *result = std::move(value);
  return S_OK;
}

void MemoryHtmlDocument::Focus(const HtmlElementPtr& element) { page_->focus = element; }

HtmlElementPtr MemoryHtmlDocument::GetActiveElement() const {
  if (Owns(page_->focus)) return page_->focus;
  return GetBody();
}

HRESULT MemoryHtmlDocument::CallExternal(const std::string& name, const ScriptArgs& args, ScriptValue* result) {
  ScriptDispatch* external = page_->host ? page_->host->External() : nullptr;
  if (!external) return E_NOINTERFACE;
  return external->Invoke(name, args, result);
}

const std::vector<MemoryHtmlDocument::ScriptCall>& MemoryHtmlDocument::ScriptCalls() const { return page_->calls; }

void MemoryHtmlDocument::ClearScriptCalls() { page_->calls.clear(); }

void MemoryHtmlDocument::DefineScriptFunction(const std::string& name,
                                              std::function<ScriptValue(const ScriptArgs&)> body) {
  page_->missing.erase(name);
  page_->functions[name] = std::move(body);
}

void MemoryHtmlDocument::MarkScriptFunctionMissing(const std::string& name) {
  page_->functions.erase(name);
  page_->missing.insert(name);
}

int MemoryHtmlDocument::ContextMenusShown() const { return page_->contextMenus; }

}  // namespace platform

// The elements of a Chromium page, and the document's calls that find or
// write them by id.
#include "platform/html/ChromiumElement.h"

#include <memory>

namespace platform {

using chromium::Json;
using chromium::Reply;

namespace {

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

}  // namespace

bool ChromiumElement::SetAttribute(const std::string& name, const std::string& value) {
  if (IsPlainAttributeName(name)) return Put("setAttr", name, value);
  return Ask("setAttr", name, value).value_or(false);
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

}  // namespace platform

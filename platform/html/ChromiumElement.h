// An element of a Chromium page (platform/html/ChromiumHtmlDocument.h): a
// handle that the page script keeps for it. Reads are round trips to the
// page; writes are held by the document. A handle whose document has gone
// answers as an absent element. Internal to the page document.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/html/ChromiumHtmlDocument.h"

namespace platform {

class ChromiumElement final : public HtmlElement {
 public:
  ChromiumElement(const ChromiumHtmlDocument* document, std::weak_ptr<bool> alive, int handle)
      : document_(document), alive_(std::move(alive)), handle_(handle) {}

  bool IsInDocument() const override { return Ask("inDoc").value_or(false); }
  std::string GetTagName() const override { return Text("tag"); }
  HtmlElementPtr GetParent() const override {
    const chromium::Json h = Call("parent");
    return h.is_number_integer() ? Element(h.get<int>()) : nullptr;
  }
  std::vector<HtmlElementPtr> GetChildren() const override {
    std::vector<HtmlElementPtr> children;
    const chromium::Json list = Call("children");
    if (list.is_array()) {
      for (const chromium::Json& h : list) {
        if (auto child = h.is_number_integer() ? Element(h.get<int>()) : nullptr) children.push_back(child);
      }
    }
    return children;
  }
  std::string GetInnerHtml() const override { return Text("getHtml"); }
  void SetInnerHtml(const std::string& html) override { Put("setHtml", html); }
  std::string GetInnerText() const override { return Text("getText"); }
  void SetInnerText(const std::string& text) override { Put("setText", text); }
  bool HasAttribute(const std::string& name) const override { return Ask("hasAttr", name).value_or(false); }
  std::string GetAttribute(const std::string& name) const override { return Text("getAttr", name); }
  bool SetAttribute(const std::string& name, const std::string& value) override;
  void RemoveAttribute(const std::string& name) override { Put("removeAttr", name); }
  std::string GetStyle(const std::string& property) const override { return Text("getStyle", property); }
  void SetStyle(const std::string& property, const std::string& value) override { Put("setStyle", property, value); }
  std::string GetValue() const override { return Text("getValue"); }
  void SetValue(const std::string& value) override { Put("setValue", value); }
  bool GetChecked() const override { return Ask("getChecked").value_or(false); }
  void SetChecked(bool checked) override { Put("setChecked", checked); }
  bool IsTextEdit() const override { return Ask("isTextEdit").value_or(false); }

  int Handle() const { return handle_; }
  const ChromiumHtmlDocument* Document() const { return alive_.lock() ? document_ : nullptr; }

  template <class... Args>
  chromium::Json Call(const std::string& op, const Args&... args) const {
    if (!alive_.lock()) return nullptr;
    return document_->Run(op, chromium::Json::array({handle_, args...}));
  }
  // A write: held back and sent with the document's next call to the page.
  template <class... Args>
  bool Put(const std::string& op, const Args&... args) {
    if (!alive_.lock()) return false;
    return document_->Hold(op, chromium::Json::array({handle_, args...}));
  }

 private:
  template <class... Args>
  std::optional<bool> Ask(const std::string& op, const Args&... args) const {
    const chromium::Json v = Call(op, args...);
    if (v.is_boolean()) return v.get<bool>();
    return std::nullopt;
  }
  template <class... Args>
  std::string Text(const std::string& op, const Args&... args) const {
    const chromium::Json v = Call(op, args...);
    return v.is_string() ? v.get<std::string>() : std::string();
  }
  HtmlElementPtr Element(int handle) const { return alive_.lock() ? document_->ElementOf(handle) : nullptr; }

  const ChromiumHtmlDocument* document_;
  std::weak_ptr<bool> alive_;
  int handle_;
};

}  // namespace platform

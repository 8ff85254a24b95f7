// The page document held in memory: a page file or HTML text parsed into a
// tree of elements that the program reads and changes by id. Page scripts do
// not run in it.
#pragma once

#include <memory>
#include <string>

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

 private:
  std::unique_ptr<html::DocumentCore> core_;
};

}  // namespace platform

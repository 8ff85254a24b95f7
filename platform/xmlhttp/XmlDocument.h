// The XML DOM document of the desktop's XML component, as the system uses it:
// parse a text or load a file or web address, find nodes by XPath 1.0, read
// and set their text, and serialise. It always behaves as a synchronous
// document that neither resolves externals nor validates: no DTD, external
// entity or network resource is ever read while parsing.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/xmlhttp/XmlHttpError.h"

namespace platform::xmlhttp {

class XmlDocument;
class XmlHttpRequest;

// A node of a document; it keeps its document alive. A default or not-found
// node is null (tests false); reading or changing a null node throws
// XmlHttpError(kXmlNullNode).
class XmlNode {
 public:
  XmlNode() = default;

  explicit operator bool() const { return node_ != nullptr; }

  // The node's text: for an element every text below it, for an attribute
  // its value. Exactly as stored; entities are resolved.
  std::string Text() const;
  // Replaces the node's content by one text node holding `text` as it is
  // ("&" and "<" included). Nodes selected from the old content stay usable.
  void SetText(std::string_view text);
  // The node serialised as XML (UTF-8).
  std::string Xml() const;
  std::string Name() const;
  // The first node in document order that `xpath` selects from this node;
  // null when none. Throws XmlHttpError(kXmlBadQuery) for an expression that
  // is not XPath or does not yield nodes.
  XmlNode SelectSingleNode(std::string_view xpath) const;

  struct Tree;

 private:
  friend class XmlDocument;
  XmlNode(std::shared_ptr<Tree> tree, void* node) : tree_(std::move(tree)), node_(node) {}
  void* Checked() const;

  std::shared_ptr<Tree> tree_;
  void* node_ = nullptr;
};

class XmlDocument {
 public:
  XmlDocument();
  ~XmlDocument();
  XmlDocument(XmlDocument&&) noexcept;
  XmlDocument& operator=(XmlDocument&&) noexcept;
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  // Parses `text` (UTF-8; an encoding named in its declaration is ignored,
  // as the text is already decoded). False when it is not well-formed; the
  // document is then empty and ParseError says why.
  bool LoadXml(std::string_view text);
  // Loads from an http or https address (a GET through XmlHttpRequest that
  // must answer 200), a file URL ("file:///path") or a local file path.
  // Bytes are decoded by the document's own declaration. Never throws:
  // failures of any kind answer false with ParseError set.
  bool Load(std::string_view urlOrPath);

  // True after a successful load.
  bool IsLoaded() const;
  // Why the last load failed; empty after a successful one.
  const std::string& ParseError() const { return parseError_; }

  // The whole document serialised as UTF-8 with its XML declaration; empty
  // when nothing is loaded.
  std::string Xml() const;
  // As XmlNode::SelectSingleNode from the document node; null when nothing
  // is loaded.
  XmlNode SelectSingleNode(std::string_view xpath) const;

 private:
  friend class XmlHttpRequest;
  // Parses raw bytes; `forceUtf8` overrides the declared encoding.
  bool Parse(std::string_view bytes, bool forceUtf8);
  bool Fail(std::string why);

  std::shared_ptr<XmlNode::Tree> tree_;
  std::string parseError_;
};

}  // namespace platform::xmlhttp

// The node tree behind the in-memory page document: elements, text and
// comments, serialised the way a browser serialises inner HTML. Internal to
// the html layer.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {
class HtmlElement;
}

namespace platform::html {

struct DocumentCore;

enum class NodeKind { Document, Element, Text, Comment };

struct Node;
using NodePtr = std::shared_ptr<Node>;
using Attribute = std::pair<std::string, std::string>;

struct Node {
  explicit Node(NodeKind k) : kind(k) {}

  NodeKind kind;
  std::string name;                   // Element: tag name, lower case.
  std::string data;                   // Text and Comment: their text.
  std::vector<Attribute> attributes;  // Element: names lower case, in source order.
  std::vector<NodePtr> children;
  std::weak_ptr<Node> parent;
  // Form state once the program set it; until then the markup decides.
  std::optional<std::string> value;
  std::optional<bool> checked;
  // The element's handle while someone holds it (same object for each lookup).
  std::weak_ptr<HtmlElement> handle;
  // Document node only: the document it belongs to.
  DocumentCore* core = nullptr;
};

NodePtr MakeElement(std::string name);
NodePtr MakeText(std::string text);

// The topmost node above `node` (itself when it has no parent).
NodePtr TopOf(const NodePtr& node);

// Takes every child out of `node`; the children keep their own content.
void DetachChildren(Node& node);
// Appends `child` (which has no parent) to `parent`.
void AppendChild(const NodePtr& parent, NodePtr child);
void ReplaceChildren(const NodePtr& parent, std::vector<NodePtr> children);

const std::string* FindAttribute(const Node& node, const std::string& lowerName);
void SetAttributeValue(Node& node, const std::string& lowerName, const std::string& value);
bool RemoveAttributeValue(Node& node, const std::string& lowerName);
bool IsValidAttributeName(const std::string& name);

// Elements that never have content in markup (IMG, INPUT, BR...).
bool IsVoidElement(const std::string& name);
// Elements whose text is written unescaped (SCRIPT, STYLE...).
bool IsRawTextElement(const std::string& name);

std::string SerializeChildren(const Node& node);
std::string TextContent(const Node& node);

std::string AsciiLower(std::string text);
std::string AsciiUpper(std::string text);

// Inline style declarations ("a: b; c: d") in order, names lower case.
using StyleDeclarations = std::vector<std::pair<std::string, std::string>>;
StyleDeclarations ParseStyle(const std::string& style);
std::string SerializeStyle(const StyleDeclarations& declarations);
// True when `value` holds a ';', '{' or '}' outside quotes and brackets, or
// unbalanced quotes or brackets, so it would not stay one declaration value.
bool BreaksDeclaration(const std::string& value);
bool IsValidPropertyName(const std::string& name);

}  // namespace platform::html

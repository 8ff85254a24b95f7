#include "platform/html/HtmlTree.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace platform::html {

namespace {

bool IsAsciiSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

std::string Trim(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsAsciiSpace(text[begin])) ++begin;
  while (end > begin && IsAsciiSpace(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

constexpr std::string_view kNbsp = "\xC2\xA0";

// Escapes as browsers do when they serialise markup: text escapes &, <, >;
// attribute values escape & and "; both write U+00A0 as &nbsp;.
void AppendEscaped(std::string& out, std::string_view text, bool attribute) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '&') {
      out += "&amp;";
    } else if (text.substr(i, kNbsp.size()) == kNbsp) {
      out += "&nbsp;";
      i += kNbsp.size() - 1;
    } else if (attribute && c == '"') {
      out += "&quot;";
    } else if (!attribute && c == '<') {
      out += "&lt;";
    } else if (!attribute && c == '>') {
      out += "&gt;";
    } else {
      out += c;
    }
  }
}

void AppendChildrenMarkup(std::string& out, const Node& node) {
  const bool rawText = node.kind == NodeKind::Element && IsRawTextElement(node.name);
  for (const NodePtr& child : node.children) {
    switch (child->kind) {
      case NodeKind::Element:
        out += '<';
        out += child->name;
        for (const Attribute& attribute : child->attributes) {
          out += ' ';
          out += attribute.first;
          out += "=\"";
          AppendEscaped(out, attribute.second, true);
          out += '"';
        }
        out += '>';
        if (IsVoidElement(child->name)) break;
        AppendChildrenMarkup(out, *child);
        out += "</";
        out += child->name;
        out += '>';
        break;
      case NodeKind::Text:
        if (rawText) {
          out += child->data;
        } else {
          AppendEscaped(out, child->data, false);
        }
        break;
      case NodeKind::Comment:
        out += "<!--";
        out += child->data;
        out += "-->";
        break;
      case NodeKind::Document:
        break;
    }
  }
}

void AppendText(std::string& out, const Node& node) {
  for (const NodePtr& child : node.children) {
    if (child->kind == NodeKind::Text) {
      out += child->data;
    } else if (child->kind == NodeKind::Element) {
      AppendText(out, *child);
    }
  }
}

// Walks `text` as CSS does for declarations: calls `onTopLevel(i)` for each
// character outside quotes and brackets. Returns false when a quote or a
// bracket is left open.
template <typename F>
bool WalkTopLevel(const std::string& text, F onTopLevel) {
  char quote = 0;
  int depth = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quote != 0) {
      if (c == '\\') {
        ++i;
      } else if (c == quote) {
        quote = 0;
      }
      continue;
    }
    if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '(' || c == '[') {
      ++depth;
    } else if ((c == ')' || c == ']') && depth > 0) {
      --depth;
    } else if (depth == 0) {
      onTopLevel(i);
    }
  }
  return quote == 0 && depth == 0;
}

}  // namespace

NodePtr MakeElement(std::string name) {
  auto node = std::make_shared<Node>(NodeKind::Element);
  node->name = std::move(name);
  return node;
}

NodePtr MakeText(std::string text) {
  auto node = std::make_shared<Node>(NodeKind::Text);
  node->data = std::move(text);
  return node;
}

NodePtr TopOf(const NodePtr& node) {
  NodePtr top = node;
  while (NodePtr up = top->parent.lock()) top = std::move(up);
  return top;
}

void DetachChildren(Node& node) {
  for (const NodePtr& child : node.children) child->parent.reset();
  node.children.clear();
}

void AppendChild(const NodePtr& parent, NodePtr child) {
  child->parent = parent;
  parent->children.push_back(std::move(child));
}

void ReplaceChildren(const NodePtr& parent, std::vector<NodePtr> children) {
  DetachChildren(*parent);
  for (NodePtr& child : children) {
    // A node taken from elsewhere leaves its old parent first.
    if (NodePtr old = child->parent.lock()) {
      auto& siblings = old->children;
      siblings.erase(std::remove(siblings.begin(), siblings.end(), child), siblings.end());
    }
    AppendChild(parent, std::move(child));
  }
}

const std::string* FindAttribute(const Node& node, const std::string& lowerName) {
  for (const Attribute& attribute : node.attributes) {
    if (attribute.first == lowerName) return &attribute.second;
  }
  return nullptr;
}

void SetAttributeValue(Node& node, const std::string& lowerName, const std::string& value) {
  for (Attribute& attribute : node.attributes) {
    if (attribute.first == lowerName) {
      attribute.second = value;
      return;
    }
  }
  node.attributes.emplace_back(lowerName, value);
}

bool RemoveAttributeValue(Node& node, const std::string& lowerName) {
  auto& attributes = node.attributes;
  const auto it =
      std::find_if(attributes.begin(), attributes.end(), [&](const Attribute& a) { return a.first == lowerName; });
  if (it == attributes.end()) return false;
  attributes.erase(it);
  return true;
}

bool IsValidAttributeName(const std::string& name) {
  if (name.empty()) return false;
  return std::none_of(name.begin(), name.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F || IsAsciiSpace(c) || c == '"' || c == '\'' || c == '>' || c == '/' || c == '=' ||
           c == '<';
  });
}

bool IsVoidElement(const std::string& name) {
  static constexpr std::array<std::string_view, 18> kVoid = {"area",  "base",  "basefont", "bgsound", "br",    "col",
                                                             "embed", "frame", "hr",       "img",     "input", "keygen",
                                                             "link",  "meta",  "param",    "source",  "track", "wbr"};
  return std::find(kVoid.begin(), kVoid.end(), name) != kVoid.end();
}

bool IsRawTextElement(const std::string& name) {
  static constexpr std::array<std::string_view, 7> kRaw = {"script",  "style",    "xmp",      "iframe",
                                                           "noembed", "noframes", "plaintext"};
  return std::find(kRaw.begin(), kRaw.end(), name) != kRaw.end();
}

std::string SerializeChildren(const Node& node) {
  std::string out;
  AppendChildrenMarkup(out, node);
  return out;
}

std::string TextContent(const Node& node) {
  std::string out;
  AppendText(out, node);
  return out;
}

std::string AsciiLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string AsciiUpper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

StyleDeclarations ParseStyle(const std::string& style) {
  StyleDeclarations declarations;
  std::vector<std::size_t> ends;
  WalkTopLevel(style, [&](std::size_t i) {
    if (style[i] == ';') ends.push_back(i);
  });
  ends.push_back(style.size());
  std::size_t begin = 0;
  for (const std::size_t end : ends) {
    const std::string declaration = style.substr(begin, end - begin);
    begin = end + 1;
    std::size_t colon = std::string::npos;
    WalkTopLevel(declaration, [&](std::size_t i) {
      if (declaration[i] == ':' && colon == std::string::npos) colon = i;
    });
    if (colon == std::string::npos) continue;
    std::string name = AsciiLower(Trim(std::string_view(declaration).substr(0, colon)));
    if (name.empty()) continue;
    declarations.emplace_back(std::move(name), Trim(std::string_view(declaration).substr(colon + 1)));
  }
  return declarations;
}

std::string SerializeStyle(const StyleDeclarations& declarations) {
  std::string out;
  for (const auto& [name, value] : declarations) {
    if (!out.empty()) out += ' ';
    out += name;
    out += ": ";
    out += value;
    out += ';';
  }
  return out;
}

bool BreaksDeclaration(const std::string& value) {
  bool breaks = false;
  const bool closed = WalkTopLevel(value, [&](std::size_t i) {
    const char c = value[i];
    if (c == ';' || c == '{' || c == '}') breaks = true;
  });
  return breaks || !closed;
}

bool IsValidPropertyName(const std::string& name) {
  if (name.empty()) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
  });
}

}  // namespace platform::html

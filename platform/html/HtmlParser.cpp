#include "platform/html/HtmlParser.h"

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>

#include <climits>
#include <memory>

namespace platform::html {

namespace {

constexpr int kParseOptions =
    HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET | HTML_PARSE_RECOVER;

struct DocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using DocHolder = std::unique_ptr<xmlDoc, DocFree>;

DocHolder ReadHtml(const std::string& html) {
  static const bool initialised = [] {
    xmlInitParser();
    return true;
  }();
  (void)initialised;
  if (html.empty() || html.size() > static_cast<std::size_t>(INT_MAX)) return nullptr;
  // Pages and the program's texts are UTF-8, whatever a page may declare.
  return DocHolder(htmlReadMemory(html.data(), static_cast<int>(html.size()), nullptr, "UTF-8",
                                  kParseOptions));
}

std::string Chars(const xmlChar* text) {
  return text != nullptr ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

std::string QualifiedName(const xmlChar* name, const xmlNs* ns) {
  std::string result;
  if (ns != nullptr && ns->prefix != nullptr) {
    result = Chars(ns->prefix);
    result += ':';
  }
  result += Chars(name);
  return AsciiLower(std::move(result));
}

void ConvertChildren(const xmlNode* first, const NodePtr& parent);

NodePtr Convert(const xmlNode* node) {
  switch (node->type) {
    case XML_ELEMENT_NODE: {
      NodePtr element = MakeElement(QualifiedName(node->name, node->ns));
      for (const xmlAttr* attr = node->properties; attr != nullptr; attr = attr->next) {
        std::string name = QualifiedName(attr->name, attr->ns);
        if (FindAttribute(*element, name) != nullptr) continue;  // the first one counts
        std::string value;
        for (const xmlNode* part = attr->children; part != nullptr; part = part->next) {
          value += Chars(part->content);
        }
        element->attributes.emplace_back(std::move(name), std::move(value));
      }
      ConvertChildren(node->children, element);
      return element;
    }
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
      return MakeText(Chars(node->content));
    case XML_COMMENT_NODE: {
      auto comment = std::make_shared<Node>(NodeKind::Comment);
      comment->data = Chars(node->content);
      return comment;
    }
    default:
      return nullptr;
  }
}

void ConvertChildren(const xmlNode* first, const NodePtr& parent) {
  for (const xmlNode* node = first; node != nullptr; node = node->next) {
    if (NodePtr converted = Convert(node)) AppendChild(parent, std::move(converted));
  }
}

// TEXTAREA and TITLE hold text only: what the parser read as markup inside
// them is kept as its text.
void FlattenTextOnly(const NodePtr& node) {
  if (node->kind != NodeKind::Element) return;
  if (node->name == "textarea" || node->name == "title") {
    std::string text;
    for (const NodePtr& child : node->children) {
      if (child->kind == NodeKind::Text) {
        text += child->data;
      } else {
        Node holder(NodeKind::Element);
        holder.children.push_back(child);
        text += SerializeChildren(holder);
      }
    }
    DetachChildren(*node);
    if (!text.empty()) AppendChild(node, MakeText(std::move(text)));
    return;
  }
  for (const NodePtr& child : node->children) FlattenTextOnly(child);
}

NodePtr FindChild(const Node& node, const char* name) {
  for (const NodePtr& child : node.children) {
    if (child->kind == NodeKind::Element && child->name == name) return child;
  }
  return nullptr;
}

std::vector<NodePtr> TakeChildren(Node& node) {
  std::vector<NodePtr> children = std::move(node.children);
  node.children.clear();
  for (const NodePtr& child : children) child->parent.reset();
  return children;
}

// Collects the fragment from the page the parser made of it. Markup after an
// early "</body>" or "</html>" lands beside the body or in another HTML
// element: it belongs to the fragment all the same.
void UnwrapFragment(Node& node, std::vector<NodePtr>& result) {
  for (NodePtr& part : TakeChildren(node)) {
    const bool element = part->kind == NodeKind::Element;
    if (element && (part->name == "html" || part->name == "body")) {
      UnwrapFragment(*part, result);
    } else if (!(element && part->name == "head")) {
      result.push_back(std::move(part));
    }
  }
}

}  // namespace

std::vector<NodePtr> ParseDocument(const std::string& html) {
  auto holder = std::make_shared<Node>(NodeKind::Document);
  if (DocHolder doc = ReadHtml(html)) ConvertChildren(doc->children, holder);

  NodePtr root = FindChild(*holder, "html");
  if (root == nullptr) {
    // No root element came out of the markup (empty, or comments only).
    root = MakeElement("html");
    std::vector<NodePtr> kept;
    std::vector<NodePtr> content;
    for (NodePtr& child : TakeChildren(*holder)) {
      (child->kind == NodeKind::Comment ? kept : content).push_back(std::move(child));
    }
    ReplaceChildren(holder, std::move(kept));
    AppendChild(holder, root);
    NodePtr body = MakeElement("body");
    ReplaceChildren(body, std::move(content));
    AppendChild(root, body);
  }
  if (FindChild(*root, "head") == nullptr) {
    NodePtr head = MakeElement("head");
    head->parent = root;
    root->children.insert(root->children.begin(), std::move(head));
  }
  if (FindChild(*root, "body") == nullptr && FindChild(*root, "frameset") == nullptr) {
    AppendChild(root, MakeElement("body"));
  }
  FlattenTextOnly(root);
  return TakeChildren(*holder);
}

std::vector<NodePtr> ParseFragment(const std::string& html, const std::string& contextName) {
  std::vector<NodePtr> result;
  if (html.empty()) return result;
  if (IsRawTextElement(contextName)) {
    result.push_back(MakeText(html));
    return result;
  }
  if (contextName == "textarea" || contextName == "title") {
    // Character references are read, markup stays text.
    std::vector<NodePtr> parsed = ParseFragment(html, "div");
    auto holder = MakeElement(contextName);
    ReplaceChildren(holder, std::move(parsed));
    FlattenTextOnly(holder);
    return TakeChildren(*holder);
  }

  const DocHolder doc = ReadHtml("<html><body>" + html + "</body></html>");
  if (doc == nullptr) return result;
  auto holder = std::make_shared<Node>(NodeKind::Document);
  ConvertChildren(doc->children, holder);
  UnwrapFragment(*holder, result);
  for (const NodePtr& node : result) FlattenTextOnly(node);
  return result;
}

}  // namespace platform::html

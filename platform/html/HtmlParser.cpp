#include "platform/html/HtmlParser.h"

#include <libxml/HTMLparser.h>
#include <libxml/HTMLtree.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "platform/html/HtmlText.h"

namespace platform::html {

namespace {

// XML_PARSE_HUGE lifts libxml2's limits on the size of texts and names, which
// would otherwise cut a page short.
constexpr int kParseOptions = HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET | HTML_PARSE_RECOVER |
                              HTML_PARSE_IGNORE_ENC | XML_PARSE_HUGE;

// Elements nest no deeper than this, as in a browser: a deeper one becomes a
// sibling of the element at this depth. It bounds the recursion of the
// tree's walks and the parser's search of its open elements for an end tag.
constexpr int kMaxDepth = 512;

struct ContextFree {
  void operator()(htmlParserCtxt* context) const { htmlFreeParserCtxt(context); }
};

std::string Chars(const xmlChar* text) {
  return text != nullptr ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

// Builds the tree from libxml2's parse events (its own tree would stop at 256
// levels). `open` follows the parser's stack of open elements.
struct TreeBuilder {
  htmlParserCtxt* context = nullptr;
  NodePtr holder = std::make_shared<Node>(NodeKind::Document);
  std::vector<NodePtr> open;

  const NodePtr& Current() const { return open.empty() ? holder : open.back(); }

  static TreeBuilder& Of(void* user) { return *static_cast<TreeBuilder*>(user); }

  static void OnStart(void* user, const xmlChar* name, const xmlChar** attributes) {
    TreeBuilder& self = Of(user);
    NodePtr element = MakeElement(AsciiLower(Chars(name)));
    for (const xmlChar** at = attributes; at != nullptr && at[0] != nullptr; at += 2) {
      std::string attributeName = AsciiLower(Chars(at[0]));
      if (FindAttribute(*element, attributeName) != nullptr) continue;  // the first one counts
      // A bare boolean attribute ("checked") holds its own name.
      std::string value = at[1] != nullptr ? Chars(at[1]) : htmlIsBooleanAttr(at[0]) ? attributeName : std::string();
      element->attributes.emplace_back(std::move(attributeName), std::move(value));
    }
    if (self.open.size() >= static_cast<std::size_t>(kMaxDepth)) {
      // The innermost open element closes; the parser forgets it too, so
      // its stack stays as short as the tree is deep.
      self.open.pop_back();
      htmlParserCtxt* context = self.context;
      if (context->nameNr >= 2 && context->nameTab[context->nameNr - 1] == name) {
        context->nameTab[context->nameNr - 2] = name;
        context->nameTab[context->nameNr - 1] = nullptr;
        --context->nameNr;
      }
    }
    AppendChild(self.Current(), element);
    self.open.push_back(std::move(element));
  }

  static void OnEnd(void* user, const xmlChar* name) {
    TreeBuilder& self = Of(user);
    const std::string lower = AsciiLower(Chars(name));
    for (std::size_t i = self.open.size(); i > 0; --i) {
      if (self.open[i - 1]->name == lower) {
        self.open.resize(i - 1);
        return;
      }
    }
  }

  static void OnText(void* user, const xmlChar* text, int length) {
    const NodePtr& parent = Of(user).Current();
    const char* chars = reinterpret_cast<const char*>(text);
    if (!parent->children.empty() && parent->children.back()->kind == NodeKind::Text) {
      parent->children.back()->data.append(chars, static_cast<std::size_t>(length));
    } else {
      AppendChild(parent, MakeText(std::string(chars, static_cast<std::size_t>(length))));
    }
  }

  static void OnComment(void* user, const xmlChar* text) {
    auto comment = std::make_shared<Node>(NodeKind::Comment);
    comment->data = Chars(text);
    AppendChild(Of(user).Current(), std::move(comment));
  }
};

// The nodes of `markup` read as a page, below a Document node.
NodePtr ReadHtml(const std::string& markup) {
  static const bool initialised = [] {
    xmlInitParser();
    return true;
  }();
  (void)initialised;
  TreeBuilder builder;
  const std::string html = ResolveReferences(ValidUtf8(markup));
  if (html.empty() || html.size() > static_cast<std::size_t>(INT_MAX)) return builder.holder;
  const std::unique_ptr<htmlParserCtxt, ContextFree> context(
      htmlCreateMemoryParserCtxt(html.data(), static_cast<int>(html.size())));
  if (context == nullptr) return builder.holder;
  // Page files were decoded to UTF-8 before; what the markup declares is past.
  xmlSwitchEncoding(context.get(), XML_CHAR_ENCODING_UTF8);

  xmlSAXHandler events{};
  events.startElement = &TreeBuilder::OnStart;
  events.endElement = &TreeBuilder::OnEnd;
  events.characters = &TreeBuilder::OnText;
  events.cdataBlock = &TreeBuilder::OnText;  // SCRIPT and STYLE content
  events.comment = &TreeBuilder::OnComment;
  xmlSAXHandler* const own = context->sax;
  context->sax = &events;
  context->userData = &builder;
  builder.context = context.get();
  htmlCtxtUseOptions(context.get(), kParseOptions);
  htmlParseDocument(context.get());
  context->sax = own;
  if (context->myDoc != nullptr) {
    xmlFreeDoc(context->myDoc);
    context->myDoc = nullptr;
  }
  return builder.holder;
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
  const NodePtr holder = ReadHtml(html);

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

  UnwrapFragment(*ReadHtml("<html><body>" + html + "</body></html>"), result);
  for (const NodePtr& node : result) FlattenTextOnly(node);
  return result;
}

}  // namespace platform::html

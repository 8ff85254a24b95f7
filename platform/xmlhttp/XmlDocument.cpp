#include "platform/xmlhttp/XmlDocument.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlsave.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <cctype>
#include <climits>
#include <fstream>
#include <iterator>
#include <mutex>
#include <vector>

#include "platform/xmlhttp/XmlHttpRequest.h"

namespace platform::xmlhttp {

// A parsed document, shared by the document object and every node taken from
// it. Nodes cut out of the tree by SetText are kept until the tree goes, so a
// node handle never points at freed memory.
struct XmlNode::Tree {
  explicit Tree(xmlDocPtr d) : doc(d) {}
  ~Tree() {
    for (xmlNodePtr node : detached) xmlFreeNode(node);
    xmlFreeDoc(doc);
  }
  Tree(const Tree&) = delete;
  Tree& operator=(const Tree&) = delete;

  xmlDocPtr doc;
  std::vector<xmlNodePtr> detached;
};

namespace {

// Nothing outside the text being parsed is ever fetched: no DTD, no external
// entity, no XInclude, whatever the document asks for.
xmlParserInputPtr RefuseExternal(const char*, const char*, xmlParserCtxtPtr) { return nullptr; }

void InitOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    xmlInitParser();
    xmlSetExternalEntityLoader(RefuseExternal);
  });
}

const xmlChar* Chars(const std::string& text) { return reinterpret_cast<const xmlChar*>(text.c_str()); }

std::string Owned(xmlChar* text) {
  if (text == nullptr) return {};
  std::string out(reinterpret_cast<const char*>(text));
  xmlFree(text);
  return out;
}

std::string Trimmed(const char* message) {
  std::string out = message != nullptr ? message : "";
  while (!out.empty() && std::isspace(static_cast<unsigned char>(out.back()))) out.pop_back();
  return out;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string Serialise(xmlNodePtr node) {
  xmlBufferPtr buffer = xmlBufferCreate();
  if (buffer == nullptr) throw XmlHttpError(kXmlBadQuery, "out of memory");
  std::unique_ptr<xmlBuffer, decltype(&xmlBufferFree)> owner(buffer, xmlBufferFree);
  xmlSaveCtxtPtr save = xmlSaveToBuffer(buffer, "UTF-8", 0);
  if (save == nullptr) throw XmlHttpError(kXmlBadQuery, "cannot serialise the document");
  long written =
      node->type == XML_DOCUMENT_NODE ? xmlSaveDoc(save, reinterpret_cast<xmlDocPtr>(node)) : xmlSaveTree(save, node);
  if (xmlSaveClose(save) < 0 || written < 0) throw XmlHttpError(kXmlBadQuery, "cannot serialise the document");
  return {reinterpret_cast<const char*>(xmlBufferContent(buffer)), static_cast<std::size_t>(xmlBufferLength(buffer))};
}

struct QueryContext {
  explicit QueryContext(xmlDocPtr doc) : context(xmlXPathNewContext(doc)) {
    if (context == nullptr) throw XmlHttpError(kXmlBadQuery, "out of memory");
    context->userData = &error;
    context->error = [](void* data, xmlErrorPtr e) {
      auto* first = static_cast<std::string*>(data);
      if (first->empty() && e != nullptr) *first = Trimmed(e->message);
    };
  }
  ~QueryContext() { xmlXPathFreeContext(context); }
  QueryContext(const QueryContext&) = delete;
  QueryContext& operator=(const QueryContext&) = delete;

  [[noreturn]] void Throw(std::string_view xpath) const {
    throw XmlHttpError(kXmlBadQuery,
                       "invalid XPath expression \"" + std::string(xpath) + "\"" + (error.empty() ? "" : ": " + error));
  }

  xmlXPathContextPtr context;
  std::string error;
};

// The first node in document order that `xpath` selects from `from`.
xmlNodePtr SelectFirst(xmlDocPtr doc, xmlNodePtr from, std::string_view xpath) {
  QueryContext query(doc);
  query.context->node = from;
  std::string expression(xpath);
  xmlXPathObjectPtr result = xmlXPathEvalExpression(Chars(expression), query.context);
  if (result == nullptr) query.Throw(xpath);
  std::unique_ptr<xmlXPathObject, decltype(&xmlXPathFreeObject)> owner(result, xmlXPathFreeObject);
  if (result->type != XPATH_NODESET)
    throw XmlHttpError(kXmlBadQuery, "XPath expression \"" + expression + "\" does not select nodes");
  xmlNodeSetPtr nodes = result->nodesetval;
  if (nodes == nullptr || nodes->nodeNr == 0) return nullptr;
  xmlXPathNodeSetSort(nodes);
  xmlNodePtr node = nodes->nodeTab[0];
  if (node->type == XML_NAMESPACE_DECL)
    throw XmlHttpError(kXmlBadQuery, "XPath expression \"" + expression + "\" selects a namespace");
  return node;
}

// "file:///a/b" or "file://localhost/a/b" to "/a/b"; empty for other hosts.
std::string PathOfFileUrl(std::string_view url) {
  std::string_view rest = url.substr(5);  // after "file:"
  if (rest.starts_with("//")) {
    rest.remove_prefix(2);
    if (Lower(rest.substr(0, 10)) == "localhost/") rest.remove_prefix(9);
    if (!rest.starts_with("/")) return {};
  }
  std::string path;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '%' && i + 2 < rest.size() && std::isxdigit(static_cast<unsigned char>(rest[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(rest[i + 2]))) {
      int byte = std::stoi(std::string(rest.substr(i + 1, 2)), nullptr, 16);
      if (byte == 0) return {};
      path += static_cast<char>(byte);
      i += 2;
    } else {
      path += rest[i];
    }
  }
  return path;
}

// "scheme:" in front of a text of two or more letters (one letter would be a
// drive of the desktop's paths, and none is used here either).
std::string SchemeOf(std::string_view target) {
  std::size_t colon = target.find(':');
  if (colon == std::string_view::npos || colon < 2) return {};
  for (std::size_t i = 0; i < colon; ++i) {
    auto c = static_cast<unsigned char>(target[i]);
    bool ok = std::isalpha(c) || (i > 0 && (std::isdigit(c) || c == '+' || c == '-' || c == '.'));
    if (!ok) return {};
  }
  return Lower(target.substr(0, colon));
}

}  // namespace

void* XmlNode::Checked() const {
  if (node_ == nullptr) throw XmlHttpError(kXmlNullNode, "the node does not exist");
  return node_;
}

std::string XmlNode::Text() const { return Owned(xmlNodeGetContent(static_cast<xmlNodePtr>(Checked()))); }

void XmlNode::SetText(std::string_view text) {
  auto* node = static_cast<xmlNodePtr>(Checked());
  std::string value(text);
  if (xmlCheckUTF8(Chars(value)) == 0 || value.size() != std::char_traits<char>::length(value.c_str()))
    throw XmlHttpError(kXmlBadText, "the text is not UTF-8 without zero bytes");
  switch (node->type) {
    case XML_ELEMENT_NODE:
    case XML_DOCUMENT_FRAG_NODE: {
      while (xmlNodePtr child = node->children) {
        xmlUnlinkNode(child);
        tree_->detached.push_back(child);
      }
      if (!value.empty()) {
        xmlNodePtr textNode = xmlNewDocText(node->doc, Chars(value));
        if (textNode == nullptr || xmlAddChild(node, textNode) == nullptr) {
          xmlFreeNode(textNode);
          throw XmlHttpError(kXmlBadQuery, "out of memory");
        }
      }
      break;
    }
    case XML_ATTRIBUTE_NODE: {
      // An attribute's content is parsed for references, so it gets the text
      // escaped and so stores it unchanged.
      std::string escaped = Owned(xmlEncodeSpecialChars(node->doc, Chars(value)));
      xmlNodeSetContent(node, Chars(escaped));
      break;
    }
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
      xmlNodeSetContent(node, Chars(value));
      break;
    default:
      throw XmlHttpError(kXmlReadOnly, "this node has no text to set");
  }
}

std::string XmlNode::Xml() const { return Serialise(static_cast<xmlNodePtr>(Checked())); }

std::string XmlNode::Name() const {
  auto* node = static_cast<xmlNodePtr>(Checked());
  switch (node->type) {
    case XML_TEXT_NODE:
      return "#text";
    case XML_CDATA_SECTION_NODE:
      return "#cdata-section";
    case XML_COMMENT_NODE:
      return "#comment";
    case XML_DOCUMENT_NODE:
      return "#document";
    default:
      break;
  }
  std::string name = node->name != nullptr ? reinterpret_cast<const char*>(node->name) : "";
  if (node->ns != nullptr && node->ns->prefix != nullptr &&
      (node->type == XML_ELEMENT_NODE || node->type == XML_ATTRIBUTE_NODE))
    name = reinterpret_cast<const char*>(node->ns->prefix) + (":" + name);
  return name;
}

XmlNode XmlNode::SelectSingleNode(std::string_view xpath) const {
  auto* node = static_cast<xmlNodePtr>(Checked());
  xmlNodePtr found = SelectFirst(tree_->doc, node, xpath);
  return found != nullptr ? XmlNode(tree_, found) : XmlNode();
}

XmlDocument::XmlDocument() { InitOnce(); }
XmlDocument::~XmlDocument() = default;
XmlDocument::XmlDocument(XmlDocument&&) noexcept = default;
XmlDocument& XmlDocument::operator=(XmlDocument&&) noexcept = default;

bool XmlDocument::Fail(std::string why) {
  tree_.reset();
  parseError_ = std::move(why);
  return false;
}

bool XmlDocument::Parse(std::string_view bytes, bool forceUtf8) {
  tree_.reset();
  parseError_.clear();
  if (bytes.empty()) return Fail("the document is empty");
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return Fail("the document is too large");

  std::unique_ptr<xmlParserCtxt, decltype(&xmlFreeParserCtxt)> context(xmlNewParserCtxt(), xmlFreeParserCtxt);
  if (!context) return Fail("out of memory");
  // No network, no DTD loading, no entity substitution: references to
  // external entities stay references and are never read.
  int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
  if (forceUtf8) options |= XML_PARSE_IGNORE_ENC;
  xmlDocPtr doc = xmlCtxtReadMemory(context.get(), bytes.data(), static_cast<int>(bytes.size()), nullptr,
                                    forceUtf8 ? "UTF-8" : nullptr, options);
  if (doc == nullptr || context->wellFormed == 0 || context->nsWellFormed == 0 ||
      xmlDocGetRootElement(doc) == nullptr) {
    if (doc != nullptr) xmlFreeDoc(doc);
    xmlErrorPtr error = xmlCtxtGetLastError(context.get());
    if (error != nullptr && error->message != nullptr)
      return Fail("line " + std::to_string(error->line) + ": " + Trimmed(error->message));
    return Fail("the document is not well-formed");
  }
  tree_ = std::make_shared<XmlNode::Tree>(doc);
  return true;
}

bool XmlDocument::LoadXml(std::string_view text) { return Parse(text, true); }

bool XmlDocument::Load(std::string_view urlOrPath) {
  tree_.reset();
  parseError_.clear();
  try {
    std::string scheme = SchemeOf(urlOrPath);
    std::string path;
    if (scheme == "http" || scheme == "https") {
      XmlHttpRequest request;
      request.Open("GET", urlOrPath);
      request.Send();
      if (request.Status() != 200)
        return Fail("the server answered " + std::to_string(request.Status()) + " " + request.StatusText());
      return Parse(request.ResponseBody(), false);
    }
    if (scheme == "file") {
      path = PathOfFileUrl(urlOrPath);
      if (path.empty()) return Fail("unsupported file address: " + std::string(urlOrPath));
    } else if (!scheme.empty()) {
      return Fail("unsupported address: " + std::string(urlOrPath));
    } else {
      path = urlOrPath;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) return Fail("cannot open " + path);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) return Fail("cannot read " + path);
    return Parse(bytes, false);
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}

bool XmlDocument::IsLoaded() const { return tree_ != nullptr; }

std::string XmlDocument::Xml() const {
  if (!tree_) return {};
  return Serialise(reinterpret_cast<xmlNodePtr>(tree_->doc));
}

XmlNode XmlDocument::SelectSingleNode(std::string_view xpath) const {
  if (!tree_) {
    // Nothing to search, but a malformed expression is still an error.
    QueryContext query(nullptr);
    std::string expression(xpath);
    xmlXPathCompExprPtr compiled = xmlXPathCtxtCompile(query.context, Chars(expression));
    if (compiled == nullptr) query.Throw(xpath);
    xmlXPathFreeCompExpr(compiled);
    return {};
  }
  xmlNodePtr found = SelectFirst(tree_->doc, reinterpret_cast<xmlNodePtr>(tree_->doc), xpath);
  return found != nullptr ? XmlNode(tree_, found) : XmlNode();
}

}  // namespace platform::xmlhttp

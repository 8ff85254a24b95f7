// Reads markup into the in-memory page tree with libxml2's HTML parser,
// repairing malformed markup and never loading anything from the network.
// Internal to the html layer.
#pragma once

#include <string>
#include <vector>

#include "platform/html/HtmlTree.h"

namespace platform::html {

// A whole page: the nodes of the document, whose root HTML element always
// holds a HEAD and a BODY.
std::vector<NodePtr> ParseDocument(const std::string& html);

// Markup written into an element whose tag name (lower case) is `contextName`.
std::vector<NodePtr> ParseFragment(const std::string& html, const std::string& contextName);

}  // namespace platform::html

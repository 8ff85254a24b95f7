// Text written into a page's markup by the program: the records' pages and
// the message boxes shown as pages.
#pragma once

#include <string>
#include <string_view>

namespace platform::html {

// `text` with &, <, >, " and ' as references. With `keepReferences`, an
// "&" that already starts a well-formed character or entity reference
// ("&amp;", "&#39;", "&#x1F;") is kept as it is.
std::string EscapeHtml(std::string_view text, bool keepReferences = false);

}  // namespace platform::html

// Turns page bytes and markup into what libxml2's HTML parser reads as a
// browser would: the page's charset decoded to UTF-8, and character
// references spelt so that the parser gives the characters a browser gives.
// Internal to the html layer.
#pragma once

#include <string>
#include <string_view>

namespace platform::html {

// The character windows-1252 gives byte `byte`.
char32_t Windows1252(unsigned char byte);

// `markup` with every character reference in text and attribute values
// written as a numeric one ("&copy 2009" -> "&#xA9; 2009", "&#146;" ->
// "&#x2019;") and every other '&' as "&amp;". Script, style, comments and
// the rest of the markup stay as written.
std::string ResolveReferences(std::string_view markup);

}  // namespace platform::html

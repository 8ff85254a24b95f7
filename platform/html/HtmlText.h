// Turns page bytes and markup into what libxml2's HTML parser reads as a
// browser would: the page's charset decoded to UTF-8, and character
// references spelt so that the parser gives the characters a browser gives.
// Internal to the html layer.
#pragma once

#include <string>
#include <string_view>

namespace platform::html {

// The bytes of a page file as UTF-8 text, read in the charset the page
// declares as a browser finds it: a byte order mark (UTF-8, UTF-16), else a
// META charset or content-type in the first 1024 bytes; undeclared, UTF-8
// when the bytes are valid UTF-8, else windows-1252. What is no character in
// the charset reads as U+FFFD.
std::string DecodePage(std::string_view bytes);

// `text` with each invalid UTF-8 sequence read as U+FFFD.
std::string ValidUtf8(std::string_view text);

// The character windows-1252 gives byte `byte`.
char32_t Windows1252(unsigned char byte);

// `markup` with every character reference in text and attribute values
// written as a numeric one ("&copy 2009" -> "&#xA9; 2009", "&#146;" ->
// "&#x2019;") and every other '&' as "&amp;". Script, style, comments and
// the rest of the markup stay as written.
std::string ResolveReferences(std::string_view markup);

}  // namespace platform::html

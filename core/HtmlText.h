// Text helpers of the records' page renderings: escaping for a page, printf
// into a std::string, and a UTF-8 prefix that cuts no character.
//
// Record texts come from the user's library files, so they are escaped when
// they go into a page: HtmlText for what the page shows, HtmlAttribute for
// element ids (read back by the click handlers and so kept exact).
#pragma once

#include <string>

// Text for element content and shown attributes (titles): &, <, >, " and '
// become references. An "&" that already starts a well-formed character or
// entity reference (names stored from edited page HTML) is kept, so such a
// name shows as it did.
std::string HtmlText(const std::string& text);

// Text for an attribute value that must read back exactly (element ids):
// every &, <, >, " and ' becomes a reference.
std::string HtmlAttribute(const std::string& text);

// printf-style formatting into a new string.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The first `count` characters of UTF-8 text, never cutting inside a
// character (a byte that does not start a valid sequence counts as one).
std::string Utf8Prefix(const std::string& text, std::size_t count);

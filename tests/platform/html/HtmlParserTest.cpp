#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/html/MemoryHtmlDocument.h"
#include "tests/support/TempFolder.h"

namespace {

using platform::HtmlElementPtr;
using platform::MemoryHtmlDocument;

std::string Repeat(const std::string& text, int count) {
  std::string result;
  for (int i = 0; i < count; ++i) result += text;
  return result;
}

int Depth(HtmlElementPtr element) {
  int depth = 0;
  while ((element = element->GetParent())) ++depth;
  return depth;
}

// Unclosed elements nest as deep as a browser nests them (512 levels, the
// root's included); deeper ones become siblings, and nothing after is lost.
TEST(HtmlParserTest, DeepNestingKeepsAllContent) {
  constexpr int kDeepest = 511;
  struct Case {
    std::string markup;
    int depth;  // ancestors of the last element
  };
  const Case cases[] = {
      {Repeat("<div>", 300) + "<b id=\"last\">end</b>", 302},
      {Repeat("<div>", 1000) + Repeat("</div>", 1000) + "<b id=\"last\">end</b>", 2},
      {Repeat("<span>", 2000) + "<b id=\"last\">end</b>", kDeepest},
      // A stray end tag looks through the open elements: this stays quick.
      {Repeat("<span>", 50000) + Repeat("</i>", 50000) + "<b id=\"last\">end</b>", kDeepest},
  };
  for (const Case& c : cases) {
    MemoryHtmlDocument document;
    document.LoadHtml(c.markup);
    const HtmlElementPtr last = document.GetElementById("last");
    ASSERT_NE(last, nullptr) << c.markup.substr(0, 40);
    EXPECT_EQ(last->GetInnerText(), "end");
    EXPECT_EQ(Depth(last), c.depth) << c.markup.substr(0, 40);
    EXPECT_EQ(document.GetBody()->GetInnerText(), "end");
  }
}

// Character references read as a browser reads them. In an attribute, a
// legacy name without ';' before '=' or a letter or digit stays as written.
TEST(HtmlParserTest, CharacterReferencesAsABrowserReadsThem) {
  struct Case {
    const char* markup;
    const char* text;
    const char* attribute;
  };
  const Case cases[] = {
      {"&copy 2009", "\xC2\xA9 2009", "\xC2\xA9 2009"},
      {"a&nbspb&nbsp",
       "a\xC2\xA0"
       "b\xC2\xA0",
       "a&nbspb\xC2\xA0"},
      {"?a=1&copy=2&AMP", "?a=1\xC2\xA9=2&", "?a=1&copy=2&"},
      {"&copy;x &notit; &notin;", "\xC2\xA9x \xC2\xACit; \xE2\x88\x89", "\xC2\xA9x &notit; \xE2\x88\x89"},
      {"&centerdot; &nosuch; & &#; &#x;", "\xC2\xB7 &nosuch; & &#; &#x;", "\xC2\xB7 &nosuch; & &#; &#x;"},
      // 0x80-0x9F as windows-1252 gives them; what no character is gives U+FFFD.
      {"&#146;s &#x80 &#X9f;", "\xE2\x80\x99s \xE2\x82\xAC \xC5\xB8", "\xE2\x80\x99s \xE2\x82\xAC \xC5\xB8"},
      {"&#129;&#0;&#xD800;&#1114112;", "\xC2\x81\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD",
       "\xC2\x81\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"&lt;b&gt; &#60;i&#62; &quot;", "<b> <i> \"", "<b> <i> \""},
  };
  for (const Case& c : cases) {
    const std::string markup = c.markup;
    MemoryHtmlDocument document;
    document.LoadHtml("<p id=\"p\" title=\"" + markup + "\">" + markup + "</p>");
    const HtmlElementPtr p = document.GetElementById("p");
    ASSERT_NE(p, nullptr) << markup;
    EXPECT_EQ(p->GetInnerText(), c.text) << markup;
    EXPECT_EQ(p->GetAttribute("title"), c.attribute) << markup;
    // Markup the program writes is read the same way.
    p->SetInnerHtml("<b id=\"b\" title='" + markup + "'>" + markup + "</b>");
    EXPECT_EQ(document.GetElementById("b")->GetInnerText(), c.text) << markup;
    EXPECT_EQ(document.GetElementById("b")->GetAttribute("title"), c.attribute) << markup;
  }

  // Script, style and comments keep their text as written.
  MemoryHtmlDocument document;
  document.LoadHtml(
      "<script id=\"s\">a&copy &amp;</script><style id=\"y\">&copy</style>"
      "<p id=\"p\"><!--&copy-->&copy</p>");
  EXPECT_EQ(document.GetElementById("s")->GetInnerText(), "a&copy &amp;");
  EXPECT_EQ(document.GetElementById("y")->GetInnerText(), "&copy");
  EXPECT_EQ(document.GetElementById("p")->GetInnerHtml(), "<!--&copy-->\xC2\xA9");
}

// A page file is read in the charset it declares, as a browser reads it.
TEST(HtmlParserTest, PageFileCharsetIsDecodedToUtf8) {
  const std::string utf16 = std::string("\xFF\xFE<\0p\0 \0i\0d\0=\0t\0>\0\xE9\0", 20);
  struct Case {
    std::string bytes;
    const char* text;
  };
  const Case cases[] = {
      // Latin-1 labels mean windows-1252, as in a browser.
      {"<meta charset=\"ISO-8859-1\"><p id=t>caf\xE9 \x92", "caf\xC3\xA9 \xE2\x80\x99"},
      {"<meta http-equiv=Content-Type content=\"text/html; charset=windows-1251\"><p id=t>\xCF\xF0\xE8",
       "\xD0\x9F\xD1\x80\xD0\xB8"},
      // Not in a comment, nor a content-type without http-equiv.
      {"<!-- <meta charset=koi8-r> --><meta content='text/html;charset=koi8-r'>"
       "<meta content='text/html;charset=shift_jis' http-equiv=content-type><p id=t>\x93\xFA\x96\x7B",
       "\xE6\x97\xA5\xE6\x9C\xAC"},
      // Undeclared: UTF-8 when the bytes are UTF-8, else windows-1252.
      {"<p id=t>caf\xC3\xA9", "caf\xC3\xA9"},
      {"<p id=t>caf\xE9", "caf\xC3\xA9"},
      {"<meta charset=no-such-charset><p id=t>caf\xE9", "caf\xC3\xA9"},
      // A byte order mark wins over the markup; a page cannot claim UTF-16 in ASCII.
      {"\xEF\xBB\xBF<meta charset=iso-8859-1><p id=t>caf\xC3\xA9", "caf\xC3\xA9"},
      {utf16, "\xC3\xA9"},
      {"<meta charset=utf-16><p id=t>caf\xC3\xA9", "caf\xC3\xA9"},
      // What is no character in the charset reads as U+FFFD.
      {"<meta charset=utf-8><p id=t>a\xFF\xE2\x82z", "a\xEF\xBF\xBD\xEF\xBF\xBDz"},
  };
  const zorva_test::TempFolder folder;
  for (const Case& c : cases) {
    const std::string path = folder.File("page.htm");
    std::ofstream(path, std::ios::binary | std::ios::trunc) << c.bytes;
    MemoryHtmlDocument document;
    ASSERT_TRUE(document.LoadFile(path));
    const HtmlElementPtr p = document.GetElementById("t");
    ASSERT_NE(p, nullptr) << c.bytes;
    EXPECT_EQ(p->GetInnerText(), c.text) << c.bytes;
  }

  // HTML text given by the program is UTF-8 whatever it declares.
  MemoryHtmlDocument document;
  document.LoadHtml("<meta charset=iso-8859-1><p id=t title=\"\xC3\xA9\xE9\">caf\xC3\xA9\xFF</p>");
  EXPECT_EQ(document.GetElementById("t")->GetInnerText(), "caf\xC3\xA9\xEF\xBF\xBD");
  EXPECT_EQ(document.GetElementById("t")->GetAttribute("title"), "\xC3\xA9\xEF\xBF\xBD");
}

}  // namespace

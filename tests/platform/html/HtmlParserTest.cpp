#include <gtest/gtest.h>

#include <string>

#include "platform/html/MemoryHtmlDocument.h"

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
      {"a&nbspb&nbsp", "a\xC2\xA0" "b\xC2\xA0", "a&nbspb\xC2\xA0"},
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
  document.LoadHtml("<script id=\"s\">a&copy &amp;</script><style id=\"y\">&copy</style>"
                    "<p id=\"p\"><!--&copy-->&copy</p>");
  EXPECT_EQ(document.GetElementById("s")->GetInnerText(), "a&copy &amp;");
  EXPECT_EQ(document.GetElementById("y")->GetInnerText(), "&copy");
  EXPECT_EQ(document.GetElementById("p")->GetInnerHtml(), "<!--&copy-->\xC2\xA9");
}

}  // namespace

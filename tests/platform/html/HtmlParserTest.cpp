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

}  // namespace

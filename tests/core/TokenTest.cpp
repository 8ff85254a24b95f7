#include "core/Token.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/UrlString.h"

namespace {

std::vector<std::string> Split(const std::string& text, const std::string& delimiter) {
  CToken token(text, delimiter);
  std::vector<std::string> parts;
  while (token.HasMoreTokens()) parts.push_back(token.GetNextToken());
  EXPECT_EQ(token.GetNextToken(), "");
  EXPECT_FALSE(token.HasMoreTokens());
  return parts;
}

using Parts = std::vector<std::string>;

TEST(CTokenTest, SplitsElementIds) {
  EXPECT_EQ(Split("12_:_tag_:_add", "_:_"), (Parts{"12", "tag", "add"}));
  EXPECT_EQ(Split("delsitemid_5_3", "_"), (Parts{"delsitemid", "5", "3"}));
}

TEST(CTokenTest, TrimsTheTextAndWhiteSpaceAfterADelimiter) {
  EXPECT_EQ(Split("  7_:_ 1_:_set  ", "_:_"), (Parts{"7", "1", "set"}));
  EXPECT_EQ(Split("7 _:_1", "_:_"), (Parts{"7 ", "1"}));
}

TEST(CTokenTest, EmptyTokensAndEnds) {
  EXPECT_EQ(Split("4_:__:_x", "_:_"), (Parts{"4", "", "x"}));
  EXPECT_EQ(Split("4_:_x_:_", "_:_"), (Parts{"4", "x"}));
  EXPECT_EQ(Split("_:_x", "_:_"), (Parts{"", "x"}));
  EXPECT_EQ(Split("plain", "_:_"), (Parts{"plain"}));
  EXPECT_EQ(Split("", "_:_"), Parts{});
  EXPECT_EQ(Split("   ", "_:_"), Parts{});
}

TEST(CTokenTest, EmptyDelimiterGivesTheWholeTextOnce) {
  EXPECT_EQ(Split("  a_:_b ", ""), (Parts{"a_:_b"}));
  EXPECT_EQ(Split("", ""), Parts{});
}

TEST(CTokenTest, CountTokensUsesTheSameCut) {
  CToken token("x", "_");
  EXPECT_EQ(token.CountTokens("a_b_c"), 3);
  EXPECT_EQ(token.CountTokens("a_b_"), 2);
  EXPECT_EQ(token.CountTokens("a__b"), 3);
  EXPECT_EQ(token.CountTokens(""), 0);
}

TEST(CUrlStringTest, EscapesEachSpecialCharacterOnce) {
  CUrlString url;
  EXPECT_EQ(url.Escape("\""), "&quot;");
  EXPECT_EQ(url.Escape("&lt;"), "&amp;lt;");
  EXPECT_EQ(url.Escape("<a href='x'>R&B</a>"), "&lt;a href=&apos;x&apos;&gt;R&amp;B&lt;/a&gt;");
}

TEST(CUrlStringTest, OtherBytesPassUnchanged) {
  CUrlString url;
  const std::string text = "Caf\xc3\xa9 del Mar \xe9 100%";
  EXPECT_EQ(url.Escape(text), text);
  EXPECT_EQ(url.Escape(""), "");
}

}  // namespace

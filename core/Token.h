// Splits a text at a delimiter text, as the element ids of the pages are
// built ("12_:_tag_:_add").
#pragma once

#include <string>

class CToken {
 public:
  // Trims white space at both ends of `text`. An empty delimiter makes the
  // whole trimmed text one token.
  CToken(const std::string& text, const std::string& delimiter);
  virtual ~CToken() = default;

  // The next token; the empty text once HasMoreTokens is false. White space
  // after a delimiter is dropped, white space before one is kept.
  virtual std::string GetNextToken();
  virtual bool HasMoreTokens() const;

  // The number of tokens that `text` splits into at this delimiter.
  int CountTokens(const std::string& text) const;

 private:
  int tokenCount_ = 0;
  int tokensTaken_ = 0;
  std::string text_;
  std::string rest_;
  std::string delimiter_;
};

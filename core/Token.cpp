#include "core/Token.h"

namespace {

constexpr const char* kWhiteSpace = " \t\r\n\v\f";

std::string TrimLeft(const std::string& text) {
  std::size_t first = text.find_first_not_of(kWhiteSpace);
  return first == std::string::npos ? std::string() : text.substr(first);
}

std::string Trim(const std::string& text) {
  std::string left = TrimLeft(text);
  std::size_t last = left.find_last_not_of(kWhiteSpace);
  return last == std::string::npos ? std::string() : left.substr(0, last + 1);
}

}  // namespace

CToken::CToken(const std::string& text, const std::string& delimiter)
    : text_(Trim(text)), rest_(text_), delimiter_(delimiter) {
  tokenCount_ = CountTokens(text_);
}

bool CToken::HasMoreTokens() const { return tokensTaken_ < tokenCount_; }

std::string CToken::GetNextToken() {
  if (!HasMoreTokens()) return std::string();
  ++tokensTaken_;
  std::size_t p = delimiter_.empty() ? std::string::npos : rest_.find(delimiter_);
  if (p == std::string::npos) return rest_;
  std::string token = rest_.substr(0, p);
  rest_ = TrimLeft(rest_.substr(p + delimiter_.size()));
  return token;
}

int CToken::CountTokens(const std::string& text) const {
  if (delimiter_.empty()) return text.empty() ? 0 : 1;
  int count = 0;
  std::string work = text;
  for (std::size_t p = work.find(delimiter_); p != std::string::npos; p = work.find(delimiter_)) {
    ++count;
    work = TrimLeft(work.substr(p + delimiter_.size()));
  }
  if (!work.empty()) ++count;
  return count;
}

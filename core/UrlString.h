// Replaces the XML special characters of a text by their entities.
#pragma once

#include <array>
#include <string>

class CUrlString {
 public:
  CUrlString();
  virtual ~CUrlString() = default;

  // Each special character of `text` becomes its entity, exactly once; every
  // other byte passes unchanged.
  std::string Escape(const std::string& text) const;

 private:
  std::string specialCharacters_;
  std::array<std::string, 5> entities_;
};

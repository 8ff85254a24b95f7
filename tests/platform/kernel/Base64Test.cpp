#include "platform/kernel/Base64.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Pair {
  std::string bytes;
  std::string text;
};

// RFC 4648's vectors, and bytes that are not ASCII.
const Pair kPairs[] = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
    {std::string("\0\0\0", 3), "AAAA"},
    {"\xFF\xFE\xFD", "//79"},
    {"\xFB\xEF", "++8="},
    {"\x89PNG\r\n\x1A\n", "iVBORw0KGgo="},
};

TEST(Base64Test, EncodesAndDecodesTheKnownPairs) {
  for (const Pair& pair : kPairs) {
    SCOPED_TRACE(pair.text);
    EXPECT_EQ(platform::Base64Encode(pair.bytes), pair.text);
    EXPECT_EQ(platform::Base64Decode(pair.text), pair.bytes);
  }
}

TEST(Base64Test, DecodingPassesOverWhatIsNotOfTheAlphabet) {
  const struct {
    std::string text;
    std::string bytes;
  } cases[] = {
      {"Zm9v\nYmFy\n", "foobar"},
      {"Zm9vYg", "foob"},      // padding left off
      {"Zm 9v*Yg==", "foob"},  // stray characters
      {"Z", ""},               // too few bits for a byte
      {"====", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(platform::Base64Decode(c.text), c.bytes);
  }
}

}  // namespace

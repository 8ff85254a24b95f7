#include "platform/xmlhttp/UrlEncode.h"

#include <gtest/gtest.h>

#include "platform/xmlhttp/XmlHttpRequest.h"
#include "tests/support/WebServer.h"

namespace platform::xmlhttp {
namespace {

TEST(UrlEncodeTest, KeepsUnreservedAndEncodesEverythingElse) {
  EXPECT_EQ(UrlEncode("AZaz09-._~"), "AZaz09-._~");
  EXPECT_EQ(UrlEncode(""), "");
  EXPECT_EQ(UrlEncode("a b&c=d+e/f?g%h#i"), "a%20b%26c%3Dd%2Be%2Ff%3Fg%25h%23i");
  EXPECT_EQ(UrlEncode("caf\xC3\xA9"), "caf%C3%A9");
  EXPECT_EQ(UrlEncode(std::string("\0\n\xff", 3)), "%00%0A%FF");
}

TEST(UrlEncodeTest, EncodedValuesTravelWhole) {
  zorva_test::WebServer server;
  server.SetDefaultAnswer({200, "", {}, ""});
  const std::string user = "zorva fan";
  const std::string password = "a&b=c d";
  XmlHttpRequest request;
  request.Open("GET", server.Url("/user/hs?u=" + UrlEncode(user) + "&pw=" + UrlEncode(password)));
  request.Send();
  request.Open("POST", server.Url("/user/authenticate"));
  request.SetRequestHeader("Content-Type", "application/x-www-form-urlencoded");
  request.Send("username=" + UrlEncode(user) + "&password=" + UrlEncode(password));

  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].target, "/user/hs?u=zorva%20fan&pw=a%26b%3Dc%20d");
  EXPECT_EQ(requests[1].body, "username=zorva%20fan&password=a%26b%3Dc%20d");
}

}  // namespace
}  // namespace platform::xmlhttp

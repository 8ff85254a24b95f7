#include "platform/xmlhttp/WebHosts.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/ScopedEnv.h"

namespace platform::xmlhttp {
namespace {

using zorva_test::ScopedEnv;

TEST(WebHostsTest, DefaultsArePlaceholderHosts) {
  ScopedEnv live("ZORVA_LIVE_URL", nullptr);
  ScopedEnv web("ZORVA_WEB_URL", nullptr);
  ScopedEnv twitter("ZORVA_TWITTER_URL", nullptr);
  ScopedEnv wiki("ZORVA_WIKI_URL", nullptr);
  EXPECT_EQ(WebUrl(WebService::Live, "/user/authenticate"), "https://live.zorva.example/user/authenticate");
  EXPECT_EQ(LiveLinkUrl("/user/bob"), "http://live.zorva.example/user/bob");
  EXPECT_EQ(WebUrl(WebService::Maker, "/downloads/version.xml"), "http://www.zorva.example/downloads/version.xml");
  EXPECT_EQ(WebUrl(WebService::Twitter, "statuses/update.xml"), "http://twitter.example/statuses/update.xml");
  EXPECT_EQ(WebBase(WebService::Wiki), "https://encyclopedia.example/wiki/");
}

TEST(WebHostsTest, EnvironmentReplacesTheWholeBase) {
  ScopedEnv live("ZORVA_LIVE_URL", "http://127.0.0.1:8080/");
  ScopedEnv wiki("ZORVA_WIKI_URL", "http://127.0.0.1:9/articles");
  ScopedEnv web("ZORVA_WEB_URL", "");
  EXPECT_EQ(WebBase(WebService::Live), "http://127.0.0.1:8080");
  EXPECT_EQ(WebUrl(WebService::Live, "/user/hs"), "http://127.0.0.1:8080/user/hs");
  EXPECT_EQ(LiveLinkUrl("/user/bob"), "http://127.0.0.1:8080/user/bob");
  EXPECT_EQ(WebBase(WebService::Wiki), "http://127.0.0.1:9/articles/");
  EXPECT_EQ(WebUrl(WebService::Maker, "/player.htm"), "http://www.zorva.example/player.htm");
}

}  // namespace
}  // namespace platform::xmlhttp

#include <gtest/gtest.h>

#include "orvex/core/orvex.h"
#include "tests/support/test_sdk.h"

namespace orvex {
namespace {

using testing_support::TempDir;
using testing_support::TestSdk;

// Until the quest screen is linked in, presenting a page leaves this line.
std::string presented(const std::string& url) {
  return "Orvex::Orvex quest page not available in this build: " + url;
}

TEST(QuestLinksTest, OpenQuestJoinsChannelAndPath) {
  TempDir dir;
  TestSdk sdk(dir.path());
  const std::string base = "https://" + Orvex::shared().platform().deployment.questHost;
  EXPECT_TRUE(Orvex::openQuest("c1", std::string("/p/2")));
  EXPECT_TRUE(sdk.logged(presented(base + "/c1/p/2")));
  EXPECT_TRUE(Orvex::openQuest("c1", std::string("")));
  EXPECT_TRUE(Orvex::openQuest("c2", std::nullopt));
  EXPECT_TRUE(sdk.logged(presented(base + "/c1")));
  EXPECT_TRUE(sdk.logged(presented(base + "/c2")));
  EXPECT_FALSE(Orvex::openQuest("bad channel", std::nullopt));
}

TEST(QuestLinksTest, DeepLinkOpensTheFirstValidLandingUrlLater) {
  TempDir dir;
  TestSdk sdk(dir.path());
  EXPECT_TRUE(
      Orvex::handleDeepLink("demo://open?x=1&orvex_landing_url=not%20a%20url&orvex_landing_url&"
                            "orvex_landing_url=https%3A%2F%2Fquest.example%2Fe%3Fa%3D1"));
  EXPECT_FALSE(sdk.logged(presented("https://quest.example/e?a=1")));  // deferred
  sdk.advance(0.01);
  EXPECT_TRUE(sdk.logged(presented("https://quest.example/e?a=1")));
}

TEST(QuestLinksTest, DeepLinksWithoutALandingUrl) {
  TempDir dir;
  TestSdk sdk(dir.path());
  EXPECT_FALSE(Orvex::handleDeepLink("demo://open"));
  EXPECT_FALSE(Orvex::handleDeepLink("demo://open?"));
  EXPECT_FALSE(Orvex::handleDeepLink("demo://open?orvex_landing_url=%E0%A4%A"));
  EXPECT_FALSE(Orvex::handleDeepLink("demo://open?other=https%3A%2F%2Fa.example"));
  EXPECT_FALSE(Orvex::handleDeepLink(""));
}

}  // namespace
}  // namespace orvex

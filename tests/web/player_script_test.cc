#include "orvex/web/ad_player_script_manager.h"

#include <gtest/gtest.h>

#include "orvex/core/orvex.h"
#include "orvex/core/orvex_config.h"
#include "orvex/web/html_content.h"
#include "ports/linux/local_file_system.h"
#include "tests/support/scripted_http.h"
#include "tests/support/test_sdk.h"

namespace orvex {
namespace {

using testing_support::ScriptedHttpClient;
using testing_support::TempDir;
using testing_support::TestSdk;
using testing_support::TestSdkOptions;

const std::string kTag = "<script>play()</script>";

std::string inlined(const std::string& html) {
  return AdPlayerScriptManager::inlineScript(html, "play()");
}

TEST(PlayerScriptRewrite, InsertsTheScriptByTheFourRules) {
  const std::string external = "<script src=\"https://cdn.x/player@v1/ad-player.bundled.min.js\">";
  EXPECT_EQ(inlined("<div>" + external + "</script></div>"),
            "<div>" + external + "</script></div>");  // no video: unchanged
  EXPECT_EQ(inlined("<div><video></video></div>"),
            "<html><head>" + kTag + "</head><body><div><video></video></div></body></html>");
  EXPECT_EQ(inlined("<html><head></head><body><VIDEO></body></html>"),
            "<html><head>" + kTag + "</head><body><VIDEO></body></html>");
  // Once, at the first match: a copy per "</head>" multiplied the document.
  EXPECT_EQ(inlined("<a></head><b></head><video>"), "<a>" + kTag + "</head><b></head><video>");
  EXPECT_EQ(inlined("<html><body><video></body></html><html>"),
            "<html><head>" + kTag + "</head><body><video></body></html><html>");
  // Capital <HTML> does not count: the third rule wraps the whole text.
  EXPECT_EQ(inlined("<HTML><body><video></body></HTML>"),
            "<html><head>" + kTag + "</head><HTML><body><video></body></HTML></html>");
  // The external player element goes, with the blank lines after it.
  EXPECT_EQ(inlined("<head>" + external + "</script>\n\n  \n</head><video>"),
            "<head>" + kTag + "</head><video>");
}

TEST(PlayerScriptRewrite, CompositionIsLiteralAndNotRescanned) {
  EXPECT_EQ(composeDocument("<a>M</a><b>M</b>", "M", "x"), "<a>x</a><b>x</b>");
  EXPECT_EQ(composeDocument("<p>{{m}}</p>", "{{m}}", "{{m}}!"), "<p>{{m}}!</p>");
  EXPECT_EQ(composeDocument("<p>no macro</p>", "{{m}}", "x"), "<p>no macro</p>");
  EXPECT_EQ(composeDocument("<p></p>", "", "x"), "<p></p>");
  EXPECT_EQ(composeDocument("", "M", "x"), "");
  // A template repeating its macro cannot multiply a creative past the document limit.
  const std::string half(kMaxDocumentBytes / 2, 'x');
  EXPECT_EQ(composeDocument("MM", "M", half).size(), kMaxDocumentBytes);
  EXPECT_EQ(composeDocument("MMM", "M", half), "");
  EXPECT_TRUE(HTMLContentHelper::containsVideoTag("<div><Video src=x>"));
  EXPECT_TRUE(HTMLContentHelper::containsEmblaCarousel("class='EMBLA__VIEWPORT'"));
  EXPECT_FALSE(HTMLContentHelper::containsEmblaCarousel("class='embla_viewport'"));
}

TEST(PlayerScriptFile, DownloadedOnceAndDeletedWhenTheVersionChanges) {
  TempDir dir;
  auto http = std::make_shared<ScriptedHttpClient>();
  http->respondToDownloads(
      [](const HttpRequest&) { return ScriptedHttpClient::answer(200, "play()"); });
  TestSdkOptions options;
  options.http = http;
  TestSdk sdk(dir.path(), options);
  EXPECT_EQ(AdPlayerScriptManager::process("<video>"), "<video>");  // no script yet
  AdPlayerScriptManager::downloadScript("v0.0.13");
  sdk.advance(0.1);
  ASSERT_EQ(http->downloads().size(), 1u);
  EXPECT_EQ(http->downloads()[0], sdk.port().platform.deployment.playerScriptCdnBase +
                                      "v0.0.13/ad-player.bundled.min.js");
  EXPECT_EQ(AdPlayerScriptManager::process("<video>"),
            "<html><head>" + kTag + "</head><body><video></body></html>");
  auto js = sdk.port().files->listDirectory(AdPlayerScriptManager::scriptFileURL().parent_path(),
                                            nullptr);
  ASSERT_TRUE(js && js->size() == 1u);               // one file, under the script's own name
  AdPlayerScriptManager::downloadScript("v0.0.14");  // a file exists: no new request
  EXPECT_EQ(http->downloads().size(), 1u);

  Orvex::shared().config().setPlayerVersion(Orvex::shared().config().playerVersion());
  EXPECT_TRUE(sdk.port().files->exists(AdPlayerScriptManager::scriptFileURL()));
  Orvex::shared().config().setPlayerVersion("v0.0.14");
  EXPECT_FALSE(sdk.port().files->exists(AdPlayerScriptManager::scriptFileURL()));
  AdPlayerScriptManager::deleteScript();  // missing: only a log line
  EXPECT_TRUE(sdk.loggedStartingWith("Orvex::AdPlayerScriptManager Error deleting script file: "));
}

}  // namespace
}  // namespace orvex

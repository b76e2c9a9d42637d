// The local ad service through its HTTP surface, as the demo and other tools see it.
#if defined(ORVEX_ADSERVER_FIXTURES) && defined(ORVEX_HAVE_HTTPLIB)

#include "tools/adserver/ad_server.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <string>

#include "tests/support/test_sdk.h"

namespace adserver {
namespace {

using Json = nlohmann::json;

const char* kKey = "local-test-key";

std::string query(const std::string& document) {
  return Json{{"query", document}}.dump();
}

httplib::Headers auth() {
  return {{"Authorization", kKey}};
}

TEST(AdServerTest, AnswersByUnitChecksKeysAndRecords) {
  orvex::testing_support::TempDir dir;
  Options options;
  options.fixtures = ORVEX_ADSERVER_FIXTURES;
  options.logFile = (dir.path() / "requests.log").string();
  AdServer server(options);
  ASSERT_TRUE(server.start());
  httplib::Client client("127.0.0.1", server.port());

  const std::string ads =
      R"(query MyQuery { requestAds(input: {uid: "u", unit: "demo-splash", lcl: "en_US", )"
      R"(tz: "UTC", pf: "ios", osv: "17.0", model: "x", size: {h: 844.0, w: 390.0}, )"
      R"(appv: "1", sdkv: "1.7.0", adId: "", portrait: true, reqAt: 1, theme: "light"}) )"
      R"({ id asset campaignStartTime campaignEndTime } })";
  auto refused = client.Post("/request-ads", query(ads), "application/json");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 401);

  auto served = client.Post("/request-ads", auth(), query(ads), "application/json");
  ASSERT_TRUE(served);
  ASSERT_EQ(served->status, 200) << served->body;
  Json list = Json::parse(served->body)["data"]["requestAds"];
  ASSERT_TRUE(list.is_array());
  ASSERT_FALSE(list.empty());
  // Only what was selected comes back, with the service's own address filled in.
  EXPECT_FALSE(list[0].contains("creative"));
  EXPECT_EQ(list[0]["asset"].get<std::string>().rfind(server.baseUrl() + "/static/", 0), 0u);
  auto image = client.Get(list[0]["asset"].get<std::string>().substr(server.baseUrl().size()));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->status, 200);
  EXPECT_EQ(image->get_header_value("Content-Type"), "image/jpeg");  // the expired campaign's
  EXPECT_EQ(image->body.substr(0, 3), "\xFF\xD8\xFF");

  // A field the endpoint does not serve, and a document that does not parse.
  auto wrongHome = client.Post("/events", auth(), query(ads), "application/json");
  EXPECT_EQ(wrongHome->status, 400);
  auto broken = client.Post("/graphql", auth(), query("query { requestAd(input: {"), "text/plain");
  EXPECT_EQ(broken->status, 400);

  // A body over the limit is refused without being kept; the service goes on serving.
  auto big = client.Post("/graphql", auth(), std::string(kMaxRequestBodyBytes + 1, ' '),
                         "application/json");
  ASSERT_TRUE(big);
  EXPECT_EQ(big->status, 413);

  auto control = client.Post("/__control", R"({"path": "/graphql", "status": 503, "times": 1})",
                             "application/json");
  EXPECT_EQ(control->status, 200);
  EXPECT_EQ(client.Post("/graphql", auth(), query(ads), "application/json")->status, 503);
  EXPECT_EQ(client.Post("/graphql", auth(), query(ads), "application/json")->status, 200);

  auto recorded = server.requests();
  ASSERT_GE(recorded.size(), 6u);
  EXPECT_EQ(recorded[1].operation, "requestAds");
  EXPECT_EQ(recorded[1].body, query(ads));
  server.stop();

  std::ifstream log(options.logFile);
  std::string line;
  int lines = 0;
  while (std::getline(log, line)) {
    Json entry = Json::parse(line, nullptr, false);
    ASSERT_TRUE(entry.is_object()) << line;
    EXPECT_TRUE(entry.contains("path") && entry.contains("headers") && entry.contains("body"));
    ++lines;
  }
  EXPECT_EQ(lines, static_cast<int>(recorded.size()));
}

TEST(AdServerTest, ServesTheQuestSiteAndTheVideo) {
  Options options;
  options.fixtures = ORVEX_ADSERVER_FIXTURES;
  AdServer server(options);
  ASSERT_TRUE(server.start());
  httplib::Client client("127.0.0.1", server.port());
  auto page = client.Get("/quest/demo");  // a directory answers with its index.html
  ASSERT_TRUE(page);
  ASSERT_EQ(page->status, 200);
  EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
  // The page plays its part by itself in an engine: it asks, buzzes and closes.
  for (const char* call : {"handlers.bridge.postMessage({sig: 'getAppVersion'})",
                           "{sig: 'haptic', payload: {type: type}}",
                           "handlers.orvex.postMessage({action: 'close'})"}) {
    EXPECT_NE(page->body.find(call), std::string::npos) << call;
  }
  EXPECT_EQ(client.Get("/quest/demo/next.html")->status, 200);
  EXPECT_EQ(client.Get("/quest/nothing-here")->status, 404);
  EXPECT_EQ(client.Get("/quest/../units/demo-native.json")->status, 400);
  // The rewarded fixture's video as a media player asks for it: by ranges, with its type.
  auto video = client.Get("/static/video.webm", {{"Range", "bytes=0-99"}});
  ASSERT_TRUE(video);
  EXPECT_EQ(video->status, 206);
  EXPECT_EQ(video->get_header_value("Content-Type"), "video/webm");
  EXPECT_EQ(video->body.size(), 100u);
  server.stop();
}

#ifdef ORVEX_ADSERVER_BIN
TEST(AdServerTest, BinaryPrintsItsAddressAndStopsOnSignal) {
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    execl(ORVEX_ADSERVER_BIN, ORVEX_ADSERVER_BIN, "--port", "0", "--fixtures",
          ORVEX_ADSERVER_FIXTURES, static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  FILE* stream = fdopen(out[0], "r");
  char buffer[256] = {};
  ASSERT_NE(fgets(buffer, sizeof buffer, stream), nullptr);
  std::string first = buffer;
  const std::string prefix = "listening on http://127.0.0.1:";
  ASSERT_EQ(first.rfind(prefix, 0), 0u) << first;
  int port = std::stoi(first.substr(prefix.size()));
  httplib::Client client("127.0.0.1", port);
  auto script = client.Get("/cdn/player@v0.0.13/ad-player.bundled.min.js");
  ASSERT_TRUE(script);
  EXPECT_EQ(script->status, 200);
  kill(child, SIGTERM);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  fclose(stream);
}
#endif

}  // namespace
}  // namespace adserver

#endif

#include "orvex/server/orvex_connector.h"

#include <gtest/gtest.h>

#include "orvex/core/orvex_config.h"
#include "tests/support/scripted_http.h"
#include "tests/support/test_sdk.h"

namespace orvex {
namespace {

using testing_support::headerOf;
using testing_support::makeJwt;
using testing_support::queryOf;
using testing_support::ScriptedHttpClient;
using testing_support::TempDir;
using testing_support::TestSdk;
using testing_support::TestSdkOptions;

// A connector over a scripted transport; each test scripts the answers.
struct ConnectorFixture {
  explicit ConnectorFixture(std::optional<std::string> serviceFile = std::nullopt) {
    TestSdkOptions options;
    options.http = http;
    if (serviceFile) options.serviceFile = *serviceFile;
    sdk.emplace(dir.path(), options);
    connector =
        std::make_shared<OrvexConnector>(Orvex::shared().platform(), Orvex::shared().config());
  }

  // Posts to the primary endpoint and records the outcome.
  void post(std::string query = "query { x }") {
    connector->postWithFallback(
        std::move(query), Orvex::shared().config().requestAdsURL(),
        [this](const Value& data) -> std::optional<std::string> {
          if (!data.find("x")) return "no x";
          decoded = true;
          return std::nullopt;
        },
        [this](std::optional<ServerError> e) {
          finished = true;
          error = e;
        });
  }

  void answerAll(int status, std::string body) {
    http->respond([=](const HttpRequest&) { return ScriptedHttpClient::answer(status, body); });
  }
  std::vector<std::string> urls() const {
    std::vector<std::string> out;
    for (const auto& r : http->requests()) out.push_back(r.url);
    return out;
  }

  TempDir dir;
  std::shared_ptr<ScriptedHttpClient> http = std::make_shared<ScriptedHttpClient>();
  std::optional<TestSdk> sdk;
  std::shared_ptr<OrvexConnector> connector;
  bool finished = false;
  bool decoded = false;
  std::optional<ServerError> error;
};

TEST(ConnectorTest, SendsHeadersInOrderAndTheQueryBody) {
  const std::string key = makeJwt(R"({"platform":"ios"})");
  ConnectorFixture f(R"({"app_key":")" + key + "\"}");
  f.answerAll(200, R"({"data":{"x":1}})");
  f.post("query \"q\" {\n x }");
  f.sdk->advance(0);
  ASSERT_TRUE(f.finished);
  EXPECT_FALSE(f.error);
  EXPECT_TRUE(f.decoded);
  const auto requests = f.http->requests();
  ASSERT_EQ(requests.size(), 1u);
  const HttpRequest& r = requests[0];
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.timeout, std::chrono::seconds(10));
  ASSERT_GE(r.headers.size(), 2u);
  EXPECT_EQ(r.headers[0],
            (std::pair<std::string, std::string>{"X-Ios-Bundle-Identifier", "com.example.host"}));
  EXPECT_EQ(r.headers[1], (std::pair<std::string, std::string>{"Authorization", key}));
  EXPECT_EQ(queryOf(r), "query \"q\" {\n x }");

  // A key that is no JWT is sent as no key at all.
  ConnectorFixture plain(R"({"app_key":"not-a-jwt"})");
  plain.answerAll(200, R"({"data":{"x":1}})");
  plain.post();
  plain.sdk->advance(0);
  EXPECT_EQ(headerOf(plain.http->requests().at(0), "Authorization"), "");
  EXPECT_EQ(plain.http->requests().at(0).headers.at(0).first, "X-Ios-Bundle-Identifier");
}

TEST(ConnectorTest, ServerErrorsRetryThenFallBack) {
  ConnectorFixture f;
  f.answerAll(500, "{}");
  f.post();
  f.sdk->advance(0);
  EXPECT_EQ(f.http->requests().size(), 1u);
  f.sdk->advance(0.999);
  EXPECT_EQ(f.http->requests().size(), 1u);  // the first retry waits a full second
  f.sdk->advance(0.001);
  EXPECT_EQ(f.http->requests().size(), 2u);
  f.sdk->advance(2);
  EXPECT_EQ(f.http->requests().size(), 4u);  // third primary attempt, then the fallback at once
  EXPECT_FALSE(f.finished);
  f.sdk->advance(3);
  ASSERT_TRUE(f.finished);
  const std::string primary = Orvex::shared().config().requestAdsURL();
  const std::string fallback = Orvex::shared().config().graphQLURL();
  EXPECT_EQ(f.urls(),
            (std::vector<std::string>{primary, primary, primary, fallback, fallback, fallback}));
  EXPECT_EQ(errorCode(*f.error), OrvexErrorCode::network);
  EXPECT_TRUE(f.sdk->logged("Orvex::RetryPolicy retrying request in 1000.0ms."));
  EXPECT_TRUE(f.sdk->logged("Orvex::RetryPolicy retrying request in 2000.0ms."));
  EXPECT_TRUE(Orvex::shared().config().active());
}

TEST(ConnectorTest, UnauthorizedSwitchesOffWithoutRetryOrFallback) {
  ConnectorFixture f;
  f.answerAll(401, "{}");
  f.post();
  f.sdk->advance(10);
  ASSERT_TRUE(f.finished);
  EXPECT_EQ(f.http->requests().size(), 1u);
  EXPECT_EQ(errorCode(*f.error), OrvexErrorCode::accountUsageLimitExceeded);
  EXPECT_FALSE(Orvex::shared().config().active());
  EXPECT_EQ(Orvex::shared().platform().store->standard()->boolean("orvex_active"), false);
}

// Only a device without any network skips the retries; a refused connection or a name that did
// not resolve may well work a second later.
TEST(ConnectorTest, OnlyNoNetworkAtAllSkipsRetries) {
  for (auto [kind, attempts] :
       {std::pair{HttpError::Kind::noConnection, 2u}, std::pair{HttpError::Kind::cannotConnect, 6u},
        std::pair{HttpError::Kind::cannotFindHost, 6u},
        std::pair{HttpError::Kind::secureConnectionFailed, 6u}}) {
    ConnectorFixture f;
    f.http->respond([kind](const HttpRequest&) { return ScriptedHttpClient::failure(kind); });
    f.post();
    f.sdk->advance(10);
    ASSERT_TRUE(f.finished);
    EXPECT_EQ(f.http->requests().size(), attempts) << static_cast<int>(kind);
    EXPECT_EQ(errorCode(*f.error), OrvexErrorCode::network);
  }
}

TEST(ConnectorTest, UndecodableAnswersAreFailures) {
  for (std::string body : {R"({"data":null})", R"({"data":{}})", "[1]", "<html>", ""}) {
    ConnectorFixture f;
    f.http->respond([body](const HttpRequest& r) {
      // The fallback answers properly, so only the primary's answers are at fault.
      if (r.url == Orvex::shared().config().graphQLURL())
        return ScriptedHttpClient::answer(200, R"({"data":{"x":true}})");
      return ScriptedHttpClient::answer(200, body);
    });
    f.post();
    f.sdk->advance(10);
    ASSERT_TRUE(f.finished) << body;
    EXPECT_FALSE(f.error) << body;
    EXPECT_EQ(f.http->requests().size(), 4u) << body;
  }
}

TEST(ConnectorTest, ErrorCodesOfRefusals) {
  for (auto [refusal, code] :
       {std::pair{NotActivated::notInitialized, OrvexErrorCode::initialize},
        std::pair{NotActivated::notTargetCountry, OrvexErrorCode::notTargetCountry},
        std::pair{NotActivated::notActive, OrvexErrorCode::adInactive}})
    EXPECT_EQ(errorCode(ServerError::refused(refusal)), code);
  ServerError timeout;
  timeout.transport = HttpError::Kind::timedOut;
  EXPECT_EQ(errorCode(timeout), OrvexErrorCode::network);
}

}  // namespace
}  // namespace orvex

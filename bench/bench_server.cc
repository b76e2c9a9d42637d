// The server layer's own costs: building a request document, decoding a typical answer, and a
// whole requestAd over loopback against the local ad service next to a bare libcurl POST of the
// same body to the same server.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "orvex/core/orvex.h"
#include "orvex/core/orvex_config.h"
#include "orvex/server/ad_response.h"
#include "orvex/server/documents.h"
#include "orvex/server/orvex_api.h"

#ifdef ORVEX_ADSERVER_FIXTURES
#include "ports/headless/curl_http_client.h"
#include "ports/headless/headless_port.h"
#include "ports/headless/memory_log.h"
#include "tests/support/test_sdk.h"
#include "tools/adserver/ad_server.h"
#endif

namespace {

using namespace orvex;

AdRequestFacts typicalFacts() {
  AdRequestFacts f;
  f.uid = "01HZX3V9Q8M2K7T4N6P5R1S0AB";
  f.unitId = "demo-banner";
  f.contextId = "home-feed";
  f.locale = "en_US";
  f.timeZone = "America/New_York";
  f.osVersion = "17.4";
  f.deviceModel = "iPhone15,2";
  f.deviceHeight = 844;
  f.deviceWidth = 390;
  f.appVersion = "3.2.1";
  f.reqAt = 1760000000123;
  return f;
}

void BM_BuildRequestAdDocument(benchmark::State& state) {
  AdRequestFacts facts = typicalFacts();
  for (auto _ : state) benchmark::DoNotOptimize(requestBody(requestAdDocument(facts)));
}
BENCHMARK(BM_BuildRequestAdDocument)->Unit(benchmark::kMicrosecond);

void BM_DecodeTypicalAdRes(benchmark::State& state) {
  const std::string answer = R"({"data":{"requestAd":{
    "id":"local:1760000000123:42_demo-banner-0","format":1,
    "creative":"<a href=\"https://advertiser.example/landing\"><img src=\"https://cdn.example/b.png\" width=\"320\" height=\"50\"></a>",
    "portrait":true,"asset":"https://cdn.example/b.png","icon":null,"advertiser":"Example",
    "advertiserURL":"https://advertiser.example","body":"Body text","headline":"Headline",
    "callToAction":"Install","destinationURL":"https://advertiser.example/landing",
    "accountTag":"acct","creativeTag":"banner-html",
    "profile":{"displayLogo":"https://cdn.example/logo.png","displayName":"Example","link":"https://example.com"},
    "extra":[{"id":"x1","text":"extra"}],"creativeSize":{"w":320.0,"h":50.0},
    "splashCloseTime":null,"campaignStartTime":null,"campaignEndTime":null,"popupOptions":null,
    "cpId":"cp:demo:banner-1","browserTarget":0,"limit":null}}})";
  for (auto _ : state) {
    std::string why;
    auto decoded = decodeAdReq(answer, &why);
    if (!decoded) state.SkipWithError(("the typical answer did not decode: " + why).c_str());
    benchmark::DoNotOptimize(decoded);
  }
}
BENCHMARK(BM_DecodeTypicalAdRes)->Unit(benchmark::kMicrosecond);

#ifdef ORVEX_ADSERVER_FIXTURES

// One SDK for the process, on a real-time port aimed at an in-process local ad service.
struct Loopback {
  Loopback() {
    adserver::Options options;
    options.fixtures = ORVEX_ADSERVER_FIXTURES;
    options.appKeys = {key};
    server = std::make_unique<adserver::AdServer>(options);
    if (!server->start()) return;
    std::filesystem::create_directories(dir.path() / "bundle");
    std::ofstream(dir.path() / "bundle" / "orvex_service.json")
        << "{\"app_key\": \"" << key << "\"}";
    headless::HeadlessOptions o;
    o.time = headless::TimeMode::real;
    o.loopOnOwnThread = true;
    o.dataDirectory = dir.path();
    o.bundle.resourceDirectory = dir.path() / "bundle";
    o.deployment.adServerBase = server->baseUrl();
    o.deployment.apiServerBase = server->baseUrl();
    port = std::make_unique<headless::HeadlessPort>(headless::makeHeadlessPort(o));
    if (!Orvex::installPlatform(port->platform)) return;
    Orvex::initialize(false, false);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Orvex::shared().config().lastConfigAt() == 0 &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ready = Orvex::shared().config().lastConfigAt() != 0;
    if (!ready)
      for (const auto& line : port->log->lines()) std::fprintf(stderr, "%s\n", line.c_str());
  }

  // One requestAd, waited for; true when an ad came back.
  static bool requestAd() {
    std::promise<bool> done;
    Orvex::shared().api().requestAd("demo-banner", "ctx", [&done](auto ad, auto error) {
      done.set_value(ad.has_value() && !error);
    });
    return done.get_future().get();
  }

  std::size_t connections() const {
    auto curl = std::dynamic_pointer_cast<headless::CurlHttpClient>(port->platform.http);
    return curl ? curl->connectionsOpened() : 0;
  }

  const std::string key = testing_support::makeJwt(R"({"platform":"ios"})");
  testing_support::TempDir dir;
  std::unique_ptr<adserver::AdServer> server;
  std::unique_ptr<headless::HeadlessPort> port;
  bool ready = false;
};

Loopback& loopback() {
  static Loopback* instance = new Loopback();  // the SDK it set up lives as long as the process
  return *instance;
}

size_t discard(char*, size_t size, size_t count, void* sink) {
  static_cast<std::string*>(sink)->append(static_cast<std::size_t>(size * count), '\0');
  return size * count;
}

// Reports the SDK's time per request; the bare libcurl time and the ratio as counters.
void BM_RequestAdVersusRawCurl(benchmark::State& state) {
  Loopback& lb = loopback();
  if (!lb.ready) {
    state.SkipWithError("the local ad service or the SDK did not start");
    return;
  }
  AdRequestFacts facts = typicalFacts();
  facts.uid = Orvex::shared().config().uid();
  const std::string body = requestBody(requestAdDocument(facts));
  const std::string url = lb.server->baseUrl() + "/request-ads";
  CURL* easy = curl_easy_init();
  std::string sink;
  curl_slist* headers = nullptr;
  headers = curl_slist_append(headers, "X-Ios-Bundle-Identifier: ");
  headers = curl_slist_append(headers, ("Authorization: " + lb.key).c_str());
  headers = curl_slist_append(headers, "Content-Type: application/json");
  headers = curl_slist_append(headers, "Expect:");
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.c_str());
  curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &discard);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(easy, CURLOPT_TCP_NODELAY, 1L);

  using Clock = std::chrono::steady_clock;
  double sdkSeconds = 0, rawSeconds = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    if (!Loopback::requestAd()) state.SkipWithError("requestAd failed");
    auto t1 = Clock::now();
    sink.clear();
    if (curl_easy_perform(easy) != CURLE_OK) state.SkipWithError("raw POST failed");
    auto t2 = Clock::now();
    double sdk = std::chrono::duration<double>(t1 - t0).count();
    sdkSeconds += sdk;
    rawSeconds += std::chrono::duration<double>(t2 - t1).count();
    state.SetIterationTime(sdk);
  }
  double n = static_cast<double>(state.iterations());
  state.counters["raw_us"] = rawSeconds / n * 1e6;
  state.counters["sdk_us"] = sdkSeconds / n * 1e6;
  state.counters["sdk_over_raw"] = rawSeconds > 0 ? sdkSeconds / rawSeconds : 0;
  curl_slist_free_all(headers);
  curl_easy_cleanup(easy);
}
BENCHMARK(BM_RequestAdVersusRawCurl)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_ConnectionsFor100Requests(benchmark::State& state) {
  Loopback& lb = loopback();
  if (!lb.ready) {
    state.SkipWithError("the local ad service or the SDK did not start");
    return;
  }
  std::size_t opened = 0;
  for (auto _ : state) {
    std::size_t before = lb.connections();
    for (int i = 0; i < 100; ++i)
      if (!Loopback::requestAd()) state.SkipWithError("requestAd failed");
    opened = lb.connections() - before;
  }
  // The connection remote configuration opened is reused, so this is normally 0; a fresh
  // client would show 1.
  state.counters["connections_opened"] = static_cast<double>(opened);
  state.counters["connections_total"] = static_cast<double>(lb.connections());
}
BENCHMARK(BM_ConnectionsFor100Requests)->Iterations(1)->Unit(benchmark::kMillisecond);

#endif  // ORVEX_ADSERVER_FIXTURES

}  // namespace

// The server layer's own costs: building a request document, decoding a typical answer, and a
// whole requestAd over loopback against the local ad service next to a bare libcurl POST of the
// same body to the same server.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/loopback_service.h"
#include "orvex/core/orvex.h"
#include "orvex/core/orvex_config.h"
#include "orvex/server/ad_response.h"
#include "orvex/server/documents.h"
#include "orvex/server/orvex_api.h"

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

using bench_support::Loopback;
using bench_support::loopback;

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
  bench_support::RawPost raw(lb, body);
  using Clock = std::chrono::steady_clock;
  double sdkSeconds = 0, rawSeconds = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    if (!Loopback::requestAd()) state.SkipWithError("requestAd failed");
    auto t1 = Clock::now();
    if (!raw.perform()) state.SkipWithError("raw POST failed");
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

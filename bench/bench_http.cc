// Round trips through CurlHttpClient on a kept-alive loopback connection, and URL parsing.

#include <benchmark/benchmark.h>

#include <future>
#include <string>
#include <thread>

#include "orvex/core/url.h"
#include "ports/linux/curl_http_client.h"

namespace {

void BM_UrlParse(benchmark::State& state) {
  const std::string text =
      "https://ads.orvex.example/request-ads?unit=banner_1&ctx=home%20screen#top";
  for (auto _ : state) benchmark::DoNotOptimize(orvex::Url::parse(text));
}
BENCHMARK(BM_UrlParse);

void BM_QueryItemsAndDecode(benchmark::State& state) {
  const std::string link =
      "orvexdemo://open?orvex_landing_url=https%3A%2F%2Fquest.orvex.example%2Fp%3Fx%3D1&a=b";
  for (auto _ : state) {
    auto items = orvex::Url::queryItemsOf(link);
    benchmark::DoNotOptimize(orvex::percentDecode(*items->front().value));
  }
}
BENCHMARK(BM_QueryItemsAndDecode);

}  // namespace

// The packaged httplib is a compiled library; the round-trip benchmark needs it linked.
#ifdef ORVEX_HAVE_HTTPLIB
#include <httplib.h>

namespace {

void BM_KeepAlivePost(benchmark::State& state) {
  httplib::Server server;
  server.set_tcp_nodelay(true);
  server.set_keep_alive_max_count(1000000);
  server.Post("/q", [](const httplib::Request& req, httplib::Response& res) {
    // Binary, so the server spends no time compressing the echo.
    res.set_content(req.body, "application/octet-stream");
  });
  int port = server.bind_to_any_port("127.0.0.1");
  std::thread thread([&] { server.listen_after_bind(); });
  while (!server.is_running()) std::this_thread::yield();

  orvex::linux_port::CurlHttpClient client;
  orvex::HttpRequest request;
  request.method = "POST";
  request.url = "http://127.0.0.1:" + std::to_string(port) + "/q";
  request.headers = {{"Content-Type", "application/json"}};
  request.body = std::string(static_cast<std::size_t>(state.range(0)), 'x');
  for (auto _ : state) {
    std::promise<orvex::HttpResult> done;
    client.send(request, [&](orvex::HttpResult r) { done.set_value(std::move(r)); });
    auto result = done.get_future().get();
    if (!result.response) state.SkipWithError("request failed");
  }
  state.counters["connections"] = static_cast<double>(client.connectionsOpened());
  server.stop();
  thread.join();
}
BENCHMARK(BM_KeepAlivePost)->Arg(64)->Arg(16 * 1024)->Arg(64 * 1024)->UseRealTime();

}  // namespace
#endif  // ORVEX_HAVE_HTTPLIB

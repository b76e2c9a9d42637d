#pragma once
// For benchmarks that need the network: one SDK per process on a real-time port (its main loop
// on a thread of its own) aimed at an in-process local ad service, and a bare libcurl POST of
// the same request to compare against.
#ifdef ORVEX_ADSERVER_FIXTURES

#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "orvex/core/orvex.h"
#include "orvex/core/orvex_config.h"
#include "orvex/server/documents.h"
#include "orvex/server/orvex_api.h"
#include "ports/headless/headless_port.h"
#include "ports/linux/curl_http_client.h"
#include "ports/linux/memory_log.h"
#include "tests/support/test_sdk.h"
#include "tools/adserver/ad_server.h"

namespace bench_support {

using namespace orvex;

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
    o.deployment.playerScriptCdnBase = server->baseUrl() + "/cdn/player@";
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
    auto curl = std::dynamic_pointer_cast<linux_port::CurlHttpClient>(port->platform.http);
    return curl ? curl->connectionsOpened() : 0;
  }

  const std::string key = testing_support::makeJwt(R"({"platform":"ios"})");
  testing_support::TempDir dir;
  std::unique_ptr<adserver::AdServer> server;
  std::unique_ptr<headless::HeadlessPort> port;
  bool ready = false;
};

inline Loopback& loopback() {
  static Loopback* instance = new Loopback();  // the SDK it set up lives as long as the process
  return *instance;
}

// Runs `work` on the SDK's main thread (the port's loop thread) and waits for it.
inline void onMain(const std::function<void()>& work) {
  std::promise<void> done;
  Orvex::shared().platform().dispatcher->mainQueue()->post([&] {
    work();
    done.set_value();
  });
  done.get_future().get();
}

// The request the SDK makes for `unitId` on a 390 x 844 phone in en_US.
inline AdRequestFacts requestFacts(const std::string& unitId) {
  AdRequestFacts facts;
  facts.uid = Orvex::shared().config().uid();
  facts.unitId = unitId;
  facts.contextId = "ctx";
  facts.locale = "en_US";
  facts.deviceHeight = 844;
  facts.deviceWidth = 390;
  return facts;
}

// `body` POSTed to the service's /request-ads on a kept-alive libcurl handle, with the SDK's
// headers.
class RawPost {
 public:
  RawPost(const Loopback& lb, std::string body) : body_(std::move(body)) {
    url_ = lb.server->baseUrl() + "/request-ads";
    easy_ = curl_easy_init();
    headers_ = curl_slist_append(headers_, "X-Ios-Bundle-Identifier: ");
    headers_ = curl_slist_append(headers_, ("Authorization: " + lb.key).c_str());
    headers_ = curl_slist_append(headers_, "Content-Type: application/json");
    headers_ = curl_slist_append(headers_, "Expect:");
    curl_easy_setopt(easy_, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_);
    curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, body_.c_str());
    curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE, static_cast<long>(body_.size()));
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &discard);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, &sink_);
    curl_easy_setopt(easy_, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(easy_, CURLOPT_TCP_NODELAY, 1L);
  }
  ~RawPost() {
    curl_slist_free_all(headers_);
    curl_easy_cleanup(easy_);
  }
  RawPost(const RawPost&) = delete;
  RawPost& operator=(const RawPost&) = delete;

  bool perform() {
    sink_.clear();
    return curl_easy_perform(easy_) == CURLE_OK;
  }

 private:
  static size_t discard(char*, size_t size, size_t count, void* sink) {
    static_cast<std::string*>(sink)->append(static_cast<std::size_t>(size * count), '\0');
    return size * count;
  }

  std::string body_, url_, sink_;
  CURL* easy_ = nullptr;
  curl_slist* headers_ = nullptr;
};

}  // namespace bench_support

#endif  // ORVEX_ADSERVER_FIXTURES

#pragma once
// The SDK on the headless port over real libcurl against the local ad service on loopback,
// initialized and holding its configuration: what a host meets, end to end.
#ifdef ORVEX_ADSERVER_FIXTURES

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "orvex/core/orvex_config.h"
#include "ports/headless/headless_user_interface.h"
#include "ports/linux/curl_http_client.h"
#include "tests/support/test_sdk.h"
#include "tools/adserver/ad_server.h"

namespace orvex::testing_support {

class LocalServiceFlow : public ::testing::Test {
 protected:
  // Starts the service and the SDK in `time`, over `http` (libcurl when null).
  void startService(headless::TimeMode time = headless::TimeMode::virtualTime,
                    std::shared_ptr<HttpClient> http = nullptr) {
    adserver::Options serverOptions;
    serverOptions.fixtures = ORVEX_ADSERVER_FIXTURES;
    serverOptions.appKeys = {kTestAppKey};
    server_ = std::make_unique<adserver::AdServer>(serverOptions);
    std::string error;
    ASSERT_TRUE(server_->start(&error)) << error;
    std::filesystem::create_directories(dir_.path() / "downloads");
    TestSdkOptions options;
    options.time = time;
    options.http = http ? std::move(http) : curl();
    options.deployment.adServerBase = options.deployment.apiServerBase = server_->baseUrl();
    options.deployment.playerScriptCdnBase = server_->baseUrl() + "/cdn/player@";
    sdk_ = std::make_unique<TestSdk>(dir_.path(), options);
    Orvex::initialize(false, false);
    ASSERT_TRUE(port().runUntil([] { return Orvex::shared().config().lastConfigAt() > 0; }, 10));
    window_ = port().ui->makeKeyWindowWithRootController();
    root_ = window_->rootViewController();
  }
  void TearDown() override {
    sdk_.reset();
    if (server_) server_->stop();
  }
  headless::HeadlessPort& port() { return sdk_->port(); }
  std::shared_ptr<HttpClient> curl() {
    return std::make_shared<linux_port::CurlHttpClient>(dir_.path() / "downloads");
  }

  // "KEY value" of each metric the service recorded, in arrival order.
  std::vector<std::string> recordedMetrics() const {
    std::vector<std::string> out;
    for (const auto& r : server_->requests()) {
      if (r.operation != "invoke") continue;
      const std::string q = nlohmann::json::parse(r.body).at("query").get<std::string>();
      auto field = [&](const std::string& name) {
        const auto at = q.find(name + ": \"") + name.size() + 3;
        return q.substr(at, q.find('"', at) - at);
      };
      out.push_back(field("key") + " " + field("value"));
    }
    return out;
  }
  // Waits until the service has recorded a request mentioning `metric`.
  bool recorded(const std::string& metric) {
    return port().runUntil(
        [&] {
          for (const auto& r : server_->requests())
            if (r.body.find(metric) != std::string::npos) return true;
          return false;
        },
        10);
  }

  TempDir dir_;
  std::unique_ptr<adserver::AdServer> server_;
  std::unique_ptr<TestSdk> sdk_;
  std::shared_ptr<Window> window_;
  std::shared_ptr<ViewController> root_;
};

}  // namespace orvex::testing_support

#endif  // ORVEX_ADSERVER_FIXTURES

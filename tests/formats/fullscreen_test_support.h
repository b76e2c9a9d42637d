#pragma once
// A host of full-screen ads on the headless port in virtual time: a key window with its root
// controller, a scripted service answering each request with `answer_`, and every callback the
// host hears, in order.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "orvex/formats/fullscreen/fullscreen_ad.h"
#include "ports/headless/headless_user_interface.h"
#include "tests/support/scripted_http.h"
#include "tests/support/test_sdk.h"

namespace orvex::testing_support {

inline std::string adAnswer(const std::string& fields) {
  return R"({"data":{"requestAd":{)" + fields + "}}}";
}

template <typename Ad>
struct FullScreenHost : FullScreenAdDelegate<Ad> {
  std::vector<std::string> events;
  void onAdReceived(Ad&) override { events.push_back("received"); }
  void onAdFailedToReceive(Ad&, OrvexErrorCode code) override {
    events.push_back("failed " + OrvexErrorCodeToString(code));
  }
  void onAdFailedToShowFullScreen(Ad&, OrvexErrorCode code) override {
    events.push_back("showFailed " + OrvexErrorCodeToString(code));
  }
  void onAdWillPresentFullScreen(Ad&) override { events.push_back("willPresent"); }
  void onAdDidPresentFullScreen(Ad&) override { events.push_back("didPresent"); }
  void onAdWillDismissFullScreen(Ad&) override { events.push_back("willDismiss"); }
  void onAdDidDismissFullScreen(Ad&) override { events.push_back("didDismiss"); }
  std::vector<std::string> lastTwo() const {
    return events.size() < 2 ? events : std::vector<std::string>(events.end() - 2, events.end());
  }
};

class FullScreenFlow : public ::testing::Test {
 protected:
  FullScreenFlow() : sdk_(dir_.path(), options()) {
    http_->respond([this](const HttpRequest& r) {
      const std::string q = queryOf(r);
      if (q.find("getRemoteConfig") != std::string::npos)
        return ScriptedHttpClient::answer(200, R"({"data":{"getRemoteConfig":{"active":true}}})");
      if (q.find("invoke(") != std::string::npos)
        return ScriptedHttpClient::answer(200, R"({"data":{"invoke":{"message":"ok"}}})");
      return ScriptedHttpClient::answer(status_, answer_);
    });
    window_ = sdk_.port().ui->makeKeyWindowWithRootController();
  }
  TestSdkOptions options() {
    TestSdkOptions o;
    o.http = http_;
    return o;
  }
  void start(bool production = false) {
    Orvex::initialize(production, false);
    sdk_.advance(0);
  }
  // Impressions and clicks come from the delegate's optional operations' closure twins, so both
  // paths are seen.
  template <typename Ad>
  void hookCallbacks(Ad& ad) {
    ad.onAdImpression = [this](Ad&) { events().push_back("impression"); };
    ad.onAdClicked = [this](Ad&) { events().push_back("clicked"); };
  }
  virtual std::vector<std::string>& events() = 0;
  std::shared_ptr<ViewController> root() { return window_->rootViewController(); }
  std::vector<std::string> metrics() const { return metricsOf(http_->requests()); }
  std::vector<std::string> opened() {
    std::vector<std::string> out;
    for (const auto& l : sdk_.port().ui->openedLinks()) out.push_back(l.target);
    return out;
  }

  TempDir dir_;
  std::shared_ptr<ScriptedHttpClient> http_ = std::make_shared<ScriptedHttpClient>();
  TestSdk sdk_;
  std::shared_ptr<Window> window_;
  int status_ = 200;
  std::string answer_;
};

}  // namespace orvex::testing_support

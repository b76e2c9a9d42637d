#pragma once
// A host of ads on the headless port in virtual time: a key window with its root controller and
// a scripted service that answers the remote configuration with `remoteConfig_`, metrics with
// "ok" and every other request with `status_` and `answer_`.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "orvex/core/orvex.h"
#include "ports/headless/headless_user_interface.h"
#include "tests/support/scripted_http.h"
#include "tests/support/test_sdk.h"

namespace orvex::testing_support {

inline std::string adAnswer(const std::string& fields) {
  return R"({"data":{"requestAd":{)" + fields + "}}}";
}
// A requestAds answer listing `ads` (each a JSON object).
inline std::string adsAnswer(const std::vector<std::string>& ads) {
  std::string list;
  for (const auto& a : ads) list += (list.empty() ? "" : ",") + a;
  return R"({"data":{"requestAds":[)" + list + "]}}";
}

class AdFlow : public ::testing::Test {
 protected:
  explicit AdFlow(std::string remoteConfig = R"({"data":{"getRemoteConfig":{"active":true}}})",
                  std::shared_ptr<ScriptedHttpClient> http = std::make_shared<ScriptedHttpClient>())
      : remoteConfig_(std::move(remoteConfig)),
        http_(std::move(http)),
        sdk_(dir_.path(), options()) {
    http_->respond([this](const HttpRequest& r) {
      const std::string q = queryOf(r);
      if (q.find("getRemoteConfig") != std::string::npos)
        return ScriptedHttpClient::answer(200, remoteConfig_);
      if (q.find("invoke(") != std::string::npos)
        return ScriptedHttpClient::answer(200, R"({"data":{"invoke":{"message":"ok"}}})");
      return ScriptedHttpClient::answer(status_, answer_);
    });
    window_ = sdk_.port().ui->makeKeyWindowWithRootController();
  }
  void start(bool production = false) {
    Orvex::initialize(production, false);
    sdk_.advance(0);
  }
  std::shared_ptr<ViewController> root() { return window_->rootViewController(); }
  std::vector<std::string> metrics() const { return metricsOf(http_->requests()); }
  // The targets of the links handed to the system or a browser, in order.
  std::vector<std::string> opened() {
    std::vector<std::string> out;
    for (const auto& l : sdk_.port().ui->openedLinks()) out.push_back(l.target);
    return out;
  }

  std::string remoteConfig_;
  TempDir dir_;
  std::shared_ptr<ScriptedHttpClient> http_;
  TestSdk sdk_;
  std::shared_ptr<Window> window_;
  int status_ = 200;
  std::string answer_;

 private:
  TestSdkOptions options() {
    TestSdkOptions o;
    o.http = http_;
    return o;
  }
};

}  // namespace orvex::testing_support

#include "tests/gtk/gtk_test_support.h"

#include <cstdlib>
#include <fstream>
#include <string_view>

#include "orvex/core/json.h"

namespace orvex::gtk_testing {

bool haveDisplay() {
  static const bool ok = gtk_init_check();
  return ok;
}

bool displayRequired() {
  const char* required = std::getenv("ORVEX_REQUIRE_DISPLAY");
  return required && std::string_view(required) == "1";
}

namespace {

gtk::GtkOptions optionsFor(const std::filesystem::path& dataDir, OrvexDeployment deployment) {
  const auto bundle = dataDir / "bundle";
  std::filesystem::create_directories(bundle);
  std::ofstream(bundle / "orvex_service.json")
      << "{\"app_key\": \"" << testing_support::kTestAppKey << "\"}";
  gtk::GtkOptions o;
  o.dataDirectory = dataDir;
  o.bundle.resourceDirectory = bundle;
  o.deployment = std::move(deployment);
  o.openExternalLinks = false;
  return o;
}

std::string typeName(NavigationType type) {
  switch (type) {
    case NavigationType::linkActivated:
      return "link";
    case NavigationType::formSubmitted:
      return "form";
    case NavigationType::backForward:
      return "backForward";
    case NavigationType::reload:
      return "reload";
    case NavigationType::formResubmitted:
      return "formResubmitted";
    case NavigationType::other:
      return "other";
  }
  return "?";
}

}  // namespace

GtkTestSdk::GtkTestSdk(const std::filesystem::path& dataDir, OrvexDeployment deployment)
    : port_(gtk::makeGtkPort(optionsFor(dataDir, std::move(deployment)))) {
  OrvexTestAccess::reset(port_.platform);
}

ScriptAnswer evaluate(GtkTestSdk& sdk, WebView& page, const std::string& script) {
  auto answer = std::make_shared<std::optional<ScriptAnswer>>();
  page.evaluateJavaScript(script, [answer](std::optional<Value> r, std::optional<WebError> e) {
    *answer = ScriptAnswer{std::move(r), std::move(e)};
  });
  sdk.runUntil([&] { return answer->has_value(); });
  return answer->value_or(ScriptAnswer{std::nullopt, WebError{"test", -1, "no answer"}});
}

void PageRecorder::decidePolicy(WebView&, const NavigationAction& action,
                                std::function<void(NavigationPolicy)> decide) {
  const std::string url = action.url.value_or("-");
  events.push_back("decide " + typeName(action.type) + " " + url);
  bool cancel = false;
  for (const auto& p : cancelPrefixes) cancel = cancel || url.starts_with(p);
  decide(cancel ? NavigationPolicy::cancel : NavigationPolicy::allow);
}

void PageRecorder::didFail(WebView&, const WebError& e) {
  events.push_back("fail " + e.domain + " " + std::to_string(e.code));
}

void PageRecorder::requestsNewWindow(WebView&, const NavigationAction& action) {
  events.push_back("window " + typeName(action.type) + " " + action.url.value_or("-"));
}

std::size_t PageRecorder::count(const std::string& prefix) const {
  std::size_t n = 0;
  for (const auto& e : events) n += e.starts_with(prefix) ? 1 : 0;
  return n;
}

}  // namespace orvex::gtk_testing

namespace orvex {
void PrintTo(const Value& value, std::ostream* out) {
  *out << json::write(value);
}
}  // namespace orvex

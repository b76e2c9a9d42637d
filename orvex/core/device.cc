#include "orvex/core/device.h"

#include "orvex/core/json.h"
#include "orvex/core/text.h"

namespace orvex {
namespace {

int majorVersion(const std::string& version) {
  int major = 0;
  for (char c : version) {
    if (c < '0' || c > '9') break;
    major = major * 10 + (c - '0');
    if (major > 10000) break;
  }
  return major;
}

std::string infoText(const AppBundle& bundle, std::string_view key) {
  auto v = bundle.infoValue(key);
  auto* s = v ? v->asString() : nullptr;
  return s ? *s : std::string();
}

}  // namespace

std::string Device::localeFrom(const std::vector<std::string>& preferredLanguages) {
  if (preferredLanguages.empty() || !isValidUtf8(preferredLanguages.front())) return {};
  std::string out = preferredLanguages.front();
  for (char& c : out)
    if (c == '-') c = '_';
  return out;
}

Device::Device(const OrvexPlatform& p) {
  const DeviceFacts& facts = *p.device;
  platform = "ios";
  appName = p.bundle->bundleIdentifier().value_or("");
  appVersion = infoText(*p.bundle, "CFBundleShortVersionString");
  appBundleVersion = infoText(*p.bundle, "CFBundleVersion");
  osVersion = facts.systemVersion();
  deviceModel = facts.model();
  ScreenSize screen = facts.screenSize();
  deviceWidth = screen.width;
  deviceHeight = screen.height;
  webViewUserAgent = facts.webViewUserAgent().value_or("");
  locale = localeFrom(facts.preferredLanguages());
  timeZone = facts.timeZoneIdentifier();
  timeZoneOffset = facts.timeZoneOffsetSeconds();
  bool mayReadAdId = majorVersion(osVersion) >= 14
                         ? facts.trackingAuthorization() == TrackingAuthorization::authorized
                         : facts.isAdvertisingTrackingEnabled();
  if (mayReadAdId) adId = facts.advertisingIdentifier().value_or("");

  ValueDict info{
      {"platform", platform},
      {"appName", appName},
      {"appVersion", appVersion},
      {"appDebuggable", appDebuggable},
      {"appBundleVersion", appBundleVersion},
      {"osVersion", osVersion},
      {"deviceModel", deviceModel},
      {"deviceWidth", deviceWidth},
      {"deviceHeight", deviceHeight},
      {"webViewUserAgent", webViewUserAgent},
      {"locale", locale},
      {"timeZone", timeZone},
      {"timeZoneOffset", timeZoneOffset},
      {"isSimulator", isSimulator},
      {"adId", adId},
  };
  infoJson_ = json::write(Value(std::move(info)));
}

std::string Device::info() const {
  std::string out;
  out.reserve(infoJson_.size() + 32);
  for (char c : infoJson_) {
    if (c == '"') out += '\\';
    out += c;
  }
  return out;
}

}  // namespace orvex

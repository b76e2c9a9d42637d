#pragma once
// The GraphQL documents sent to the ad service, built byte for byte from plain facts.

#include <cstdint>
#include <string>
#include <string_view>

namespace orvex {

struct AdRequestFacts {
  std::string uid;
  std::string unitId;
  std::string contextId;  // requestAd only
  std::string locale;     // lcl
  std::string timeZone;   // tz
  std::string platform = "ios";
  std::string osVersion;
  std::string deviceModel;
  double deviceHeight = 0;
  double deviceWidth = 0;
  std::string appVersion;
  std::string adId;
  bool portrait = true;
  std::int64_t reqAt = 0;       // epoch milliseconds
  std::string theme = "light";  // "light" or "dark", already resolved
};

struct RemoteConfigFacts {
  std::string uid;
  std::string tagHash;
  std::string deviceInfo;  // compact JSON, not escaped
  bool production = false;
};

struct MetricFacts {
  std::string uid;
  std::string key;
  std::string value;  // absent is the empty text
  std::int64_t time = 0;
};

inline constexpr std::string_view kSdkVersion = "1.7.0";

// The selection shared by requestAd and requestAds, from the quote closing the theme value.
std::string_view adSelectionSet();

std::string requestAdDocument(const AdRequestFacts& facts);
std::string requestAdsDocument(const AdRequestFacts& facts);
std::string remoteConfigDocument(const RemoteConfigFacts& facts);
std::string invokeDocument(const MetricFacts& facts);

// {"query": document} as JSON text.
std::string requestBody(std::string_view document);

}  // namespace orvex

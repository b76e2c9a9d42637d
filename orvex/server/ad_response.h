#pragma once
// Records the ad service answers with, decoded strictly from JSON: a member of the wrong type or
// an unknown enumeration value rejects the whole answer, so formats never see half an ad.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orvex/platform/value.h"

namespace orvex {

enum class BrowserTarget { EXTERNAL = 0, INTERNAL = 1 };
enum class AdUnitPopupFormat { BOTTOM = 0, CENTER = 1 };
enum class AdUnitPopupTemplate { PERFORMANCE, HIDE_FOR_TODAY };  // "performance", "hideForToday"
enum class PopupCloseButtonPosition {
  DEFAULT = 0,
  INSIDE_TOP_RIGHT = 1,
  OUTSIDE_TOP_RIGHT = 2,
  OUTSIDE_BOTTOM_RIGHT = 3
};
enum class AdUnitFormat {
  null = 0,
  banner = 1,
  interstitial = 2,
  rewarded = 3,
  native = 4,
  popupBottom = 5,
  popupDialog = 6,
  splash = 7,
  vesk = 100
};

std::optional<AdUnitFormat> adUnitFormatFromRaw(long long raw);
std::string_view rawValue(AdUnitPopupTemplate t);

struct PopupOptions {
  AdUnitPopupFormat type = AdUnitPopupFormat::BOTTOM;
  AdUnitPopupTemplate templateKind = AdUnitPopupTemplate::PERFORMANCE;  // JSON key "template"
  PopupCloseButtonPosition closeButtonPosition = PopupCloseButtonPosition::DEFAULT;
  bool useHideForToday = true;
  bool useHideThisAdForToday = false;
  bool useDimTapToClose = true;
  int backgroundDimOpacity = 80;
  friend bool operator==(const PopupOptions&, const PopupOptions&) = default;
};

struct CreativeSize {
  double w = 0;
  double h = 0;
  friend bool operator==(const CreativeSize&, const CreativeSize&) = default;
};

struct AdProfile {
  std::optional<std::string> displayLogo, displayName, link;
  friend bool operator==(const AdProfile&, const AdProfile&) = default;
};

struct AdExtra {
  std::optional<std::string> id, text;
  friend bool operator==(const AdExtra&, const AdExtra&) = default;
};

struct AdRes {
  std::string id;
  std::optional<long long> format;
  std::optional<std::string> creative;
  std::optional<std::string> asset;
  std::optional<double> splashCloseTime;
  std::optional<std::string> cpId;
  std::optional<double> campaignStartTime;
  std::optional<double> campaignEndTime;
  std::optional<std::string> advertiser;
  std::optional<std::string> icon;
  std::optional<std::string> cover;
  std::optional<std::string> advertiserURL;
  std::optional<std::string> headline;
  std::optional<std::string> body;
  std::optional<std::string> callToAction;
  std::optional<std::string> destinationURL;
  std::optional<std::string> accountTag;
  std::optional<std::string> creativeTag;
  std::optional<AdProfile> profile;
  std::optional<std::vector<AdExtra>> extra;
  std::optional<bool> portrait;
  std::optional<double> resAt;
  std::optional<CreativeSize> creativeSize;
  std::optional<PopupOptions> popupOptions;
  std::optional<BrowserTarget> browserTarget;
  std::optional<long long> limit;
  friend bool operator==(const AdRes&, const AdRes&) = default;
};

struct AdUnit {
  std::string id;
  AdUnitFormat format = AdUnitFormat::null;
};

struct RemoteConfigRes {
  std::optional<std::string> displayTag;
  std::optional<std::string> displayTagMacro;
  std::optional<bool> active;
  std::optional<double> resAt;
  std::optional<std::string> playerVersion;
  // network name -> (unit id -> the other network's unit id)
  std::optional<std::map<std::string, std::map<std::string, std::string>>> backfills;
};

struct ReportMetricRes {
  std::optional<std::string> message;
};

struct AdReq {
  AdRes requestAd;
};
struct AdReqs {
  std::vector<AdRes> requestAds;
};
struct RemoteConfigReq {
  std::optional<RemoteConfigRes> getRemoteConfig;  // null is "no configuration", not a failure
};
struct ReportMetricReq {
  ReportMetricRes invoke;
};

template <class T>
struct Resp {
  T data;
};

// Decoders: absent on failure, with the reason in `error` when given.
std::optional<AdRes> decodeAdRes(const Value& value, std::string* error = nullptr);
Value encodeAdRes(const AdRes& ad);

std::optional<Resp<AdReq>> decodeAdReq(std::string_view text, std::string* error = nullptr);
std::optional<Resp<AdReqs>> decodeAdReqs(std::string_view text, std::string* error = nullptr);
std::optional<Resp<RemoteConfigReq>> decodeRemoteConfigReq(std::string_view text,
                                                           std::string* error = nullptr);
std::optional<Resp<ReportMetricReq>> decodeReportMetricReq(std::string_view text,
                                                           std::string* error = nullptr);

// The same, from the `data` member of an answer already parsed.
std::optional<Resp<AdReq>> decodeAdReqData(const Value& data, std::string* error = nullptr);
std::optional<Resp<AdReqs>> decodeAdReqsData(const Value& data, std::string* error = nullptr);
std::optional<Resp<RemoteConfigReq>> decodeRemoteConfigReqData(const Value& data,
                                                               std::string* error = nullptr);
std::optional<Resp<ReportMetricReq>> decodeReportMetricReqData(const Value& data,
                                                               std::string* error = nullptr);

}  // namespace orvex

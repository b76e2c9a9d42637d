#pragma once
// The SDK's shared vocabulary: public error codes, metric (event) codes, themes, the activation
// gate's error and constants.

#include <optional>
#include <string>

#include "orvex/platform/export.h"

namespace orvex {

enum class OrvexErrorCode : int {
  network = 0,
  internal = 1,
  initialize = 2,
  invalidUnit = 3,
  notTargetCountry = 4,
  adInactive = 5,
  adNoFill = 6,
  adLoadDuplicated = 7,
  adLoading = 8,
  adEmpty = 9,
  adShown = 10,
  adHideForToday = 11,
  accountUsageLimitExceeded = 12,
  landscapeUnsupported = 13,
  adBackfillNoFill = 14,
};

// "ERROR_CODE_NETWORK", ...
ORVEX_API std::string OrvexErrorCodeToString(OrvexErrorCode code);
ORVEX_API std::string keyString(OrvexErrorCode code);
ORVEX_API std::optional<OrvexErrorCode> errorCodeFromRaw(int raw);

enum class OrvexMetricCode : int {
  valid = 0,
  invalid = 1,
  invalidShow = 2,
  adImpr = 3,
  adClick = 4,
  adTodayOff = 5,
  close = 6,
  open = 7,
  willClose = 8,
  willOpen = 9,
  openInvalid = 10,
  pageAts = 11,
  pageAttach = 12,
  setProperty = 13,
};

// The event key sent to the service: "VALID", "AD_IMPR", ...
ORVEX_API std::string keyString(OrvexMetricCode code);
ORVEX_API std::optional<OrvexMetricCode> metricCodeFromRaw(int raw);

enum class OrvexTheme : int { light = 0, dark = 1, automatic = 2 };

// "light", "dark", "auto".
ORVEX_API std::string themeText(OrvexTheme theme);
// Lower-cases, then "light"/"dark"/"auto"; any other text reads as light.
ORVEX_API OrvexTheme themeFromText(const std::string& text);

// Why a request was refused before anything was sent.
enum class NotActivated { notTargetCountry, notInitialized, notActive };

namespace OrvexConstants {
inline constexpr const char* backfillTxIdPrefix = "backfill_";
// Unit ids containing this serve test creatives even while the service is switched off.
inline constexpr const char* testUnitMarker = "PUBLIC_TEST_UNIT_ID";
}  // namespace OrvexConstants

}  // namespace orvex

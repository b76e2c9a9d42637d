#include "orvex/core/codes.h"

#include <array>

#include "orvex/core/text.h"

namespace orvex {
namespace {

constexpr std::array<const char*, 15> kErrorKeys = {
    "ERROR_CODE_NETWORK",
    "ERROR_CODE_INTERNAL",
    "ERROR_CODE_INITIALIZE",
    "ERROR_CODE_INVALID_UNIT",
    "ERROR_CODE_NOT_TARGET_COUNTRY",
    "ERROR_CODE_AD_INACTIVE",
    "ERROR_CODE_AD_NO_FILL",
    "ERROR_CODE_AD_LOAD_DUPLICATED",
    "ERROR_CODE_AD_LOADING",
    "ERROR_CODE_AD_EMPTY",
    "ERROR_CODE_AD_SHOWN",
    "ERROR_CODE_AD_HIDE_FOR_TODAY",
    "ERROR_CODE_ACCOUNT_USAGE_LIMIT_EXCEEDED",
    "ERROR_CODE_LANDSCAPE_UNSUPPORTED",
    "ERROR_CODE_AD_BACKFILL_NO_FILL",
};

constexpr std::array<const char*, 14> kMetricKeys = {
    "VALID",        "INVALID",  "INVALID_SHOW", "AD_IMPR",      "AD_CLICK",
    "AD_TODAY_OFF", "CLOSE",    "OPEN",         "WILL_CLOSE",   "WILL_OPEN",
    "OPEN_INVALID", "PAGE_ATS", "PAGE_ATTACH",  "SET_PROPERTY",
};

}  // namespace

std::string OrvexErrorCodeToString(OrvexErrorCode code) {
  return keyString(code);
}

std::string keyString(OrvexErrorCode code) {
  auto i = static_cast<std::size_t>(code);
  return i < kErrorKeys.size() ? kErrorKeys[i] : "";
}

std::optional<OrvexErrorCode> errorCodeFromRaw(int raw) {
  if (raw < 0 || raw >= static_cast<int>(kErrorKeys.size())) return std::nullopt;
  return static_cast<OrvexErrorCode>(raw);
}

std::string keyString(OrvexMetricCode code) {
  auto i = static_cast<std::size_t>(code);
  return i < kMetricKeys.size() ? kMetricKeys[i] : "";
}

std::optional<OrvexMetricCode> metricCodeFromRaw(int raw) {
  if (raw < 0 || raw >= static_cast<int>(kMetricKeys.size())) return std::nullopt;
  return static_cast<OrvexMetricCode>(raw);
}

std::string themeText(OrvexTheme theme) {
  switch (theme) {
    case OrvexTheme::light:
      return "light";
    case OrvexTheme::dark:
      return "dark";
    case OrvexTheme::automatic:
      return "auto";
  }
  return "light";
}

OrvexTheme themeFromText(const std::string& text) {
  std::string lower = asciiLower(text);
  if (lower == "dark") return OrvexTheme::dark;
  if (lower == "auto") return OrvexTheme::automatic;
  return OrvexTheme::light;
}

}  // namespace orvex

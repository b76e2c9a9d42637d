#pragma once
// Facts about the device: system, model, screen, languages, time zone, advertising identifier.

#include <optional>
#include <string>
#include <vector>

#include "orvex/platform/export.h"

namespace orvex {

enum class InterfaceStyle { unspecified = 0, light = 1, dark = 2 };
// App-tracking authorization, with the platform's raw values.
enum class TrackingAuthorization { notDetermined = 0, restricted = 1, denied = 2, authorized = 3 };

struct ScreenSize {
  double width = 0;
  double height = 0;
};

class ORVEX_API DeviceFacts {
 public:
  virtual ~DeviceFacts() = default;
  virtual std::string systemVersion() const = 0;
  virtual std::string model() const = 0;
  // The main screen's bounds, in points.
  virtual ScreenSize screenSize() const = 0;
  virtual InterfaceStyle interfaceStyle() const = 0;
  // BCP 47 tags in order of preference ("ko-KR", "en").
  virtual std::vector<std::string> preferredLanguages() const = 0;
  virtual std::string timeZoneIdentifier() const = 0;
  virtual int timeZoneOffsetSeconds() const = 0;
  virtual TrackingAuthorization trackingAuthorization() const = 0;
  // Advertising tracking enabled (systems before per-app authorization).
  virtual bool isAdvertisingTrackingEnabled() const = 0;
  // The advertising identifier in UUID text form, absent when the platform has none.
  virtual std::optional<std::string> advertisingIdentifier() const = 0;
  // The user-agent text of a newly created web view.
  virtual std::optional<std::string> webViewUserAgent() const = 0;
};

}  // namespace orvex

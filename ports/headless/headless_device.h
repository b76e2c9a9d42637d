#pragma once
// Device facts and the application bundle of the headless port, from their option records.

#include <mutex>

#include "ports/headless/headless_port.h"

namespace orvex::headless {

class HeadlessDevice : public DeviceFacts {
 public:
  explicit HeadlessDevice(DeviceOptions options) : options_(std::move(options)) {}

  std::string systemVersion() const override;
  std::string model() const override;
  ScreenSize screenSize() const override;
  InterfaceStyle interfaceStyle() const override;
  std::vector<std::string> preferredLanguages() const override;
  std::string timeZoneIdentifier() const override;
  int timeZoneOffsetSeconds() const override;
  TrackingAuthorization trackingAuthorization() const override;
  bool isAdvertisingTrackingEnabled() const override;
  std::optional<std::string> advertisingIdentifier() const override;
  std::optional<std::string> webViewUserAgent() const override;

  // Changes facts while running (the user switching to dark mode, granting tracking).
  void update(const std::function<void(DeviceOptions&)>& change);
  DeviceOptions options() const;

 private:
  mutable std::mutex mutex_;
  DeviceOptions options_;
};

// "ko_KR.UTF-8" -> "ko-KR", "C"/"POSIX" -> "en-US"; empty when the text names no language.
std::string languageTagFromLocale(std::string_view locale);

class HeadlessBundle : public AppBundle {
 public:
  explicit HeadlessBundle(BundleOptions options);

  std::optional<std::string> bundleIdentifier() const override;
  std::optional<Value> infoValue(std::string_view key) const override;
  std::optional<std::filesystem::path> resourceDirectory() const override;
  std::optional<std::filesystem::path> sdkResourceDirectory() const override;

 private:
  BundleOptions options_;
};

}  // namespace orvex::headless

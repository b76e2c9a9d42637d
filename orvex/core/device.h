#pragma once
// The device and host-app facts sent with requests. Read once, at construction, and kept for the
// life of the process: later changes of language, time zone or permission are not seen.

#include <string>

#include "orvex/platform/platform.h"

namespace orvex {

class Device {
 public:
  explicit Device(const OrvexPlatform& platform);

  // The facts as one compact JSON object (member order not significant).
  const std::string& infoJson() const { return infoJson_; }
  // infoJson with every '"' written as '\"', for embedding in a quoted text. Request documents
  // escape infoJson themselves, completely, instead of using this.
  std::string info() const;

  std::string platform;
  std::string appName;
  std::string appVersion;
  bool appDebuggable = false;
  std::string appBundleVersion;
  std::string osVersion;
  std::string deviceModel;
  double deviceWidth = 0;
  double deviceHeight = 0;
  std::string webViewUserAgent;
  std::string locale;
  std::string timeZone;
  int timeZoneOffset = 0;
  bool isSimulator = false;
  std::string adId;

  // "ko-KR" -> "ko_KR"; empty when the device names no language. Text that is not valid UTF-8
  // is treated as no language.
  static std::string localeFrom(const std::vector<std::string>& preferredLanguages);

 private:
  std::string infoJson_;
};

}  // namespace orvex

#pragma once
// The SDK's own user-facing texts (alert messages, button titles) in the device's language. They
// are resources, one flat JSON object of key -> text per language:
// <SDK resources>/strings/<language>.json ("en.json", "ko.json", "zh-Hant.json").
//
// The first of the device's preferred languages with a file wins (the full tag first, then its
// language alone: "ko-KR" finds "ko-KR.json", else "ko.json"); English fills in the keys that file
// lacks; a key found nowhere reads as itself. Missing, oversized or malformed files and members
// that are not text are skipped, never an error.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orvex/platform/platform.h"

namespace orvex {

class LocalizedStrings {
 public:
  static constexpr const char* kFallbackLanguage = "en";

  // Read now from the SDK platform's resources for its device's languages.
  static LocalizedStrings forDevice();
  static LocalizedStrings load(const OrvexPlatform& platform);
  static LocalizedStrings load(const OrvexPlatform& platform,
                               const std::vector<std::string>& preferredLanguages);

  std::string text(std::string_view key) const;
  // The text for `key`, none when no file has it (screens that show something else then).
  std::optional<std::string> find(std::string_view key) const;
  // The file that won ("ko", "en"), or "" when none was read.
  const std::string& language() const { return language_; }

 private:
  std::map<std::string, std::string, std::less<>> texts_;
  std::string language_;
};

}  // namespace orvex

#pragma once
// The application bundle: identifier, info values and the resource directory that holds the
// service file; plus the directory of the SDK's own resources.

#include <filesystem>
#include <optional>
#include <string>

#include "orvex/platform/export.h"
#include "orvex/platform/value.h"

namespace orvex {

class ORVEX_API AppBundle {
 public:
  virtual ~AppBundle() = default;
  virtual std::optional<std::string> bundleIdentifier() const = 0;
  // Info-dictionary values ("CFBundleShortVersionString", "CFBundleVersion", ...).
  virtual std::optional<Value> infoValue(std::string_view key) const = 0;
  // Where the host's resources (orvex_service.json) live; absent when the host has none.
  virtual std::optional<std::filesystem::path> resourceDirectory() const = 0;
  // The SDK's own resources (scripts, layouts, localized texts); absent when not found.
  virtual std::optional<std::filesystem::path> sdkResourceDirectory() const = 0;
};

}  // namespace orvex

#include "orvex/core/service_file.h"

#include "orvex/core/crypto.h"
#include "orvex/core/json.h"
#include "orvex/core/simple_logger.h"
#include "orvex/core/text.h"

namespace orvex {
namespace {

constexpr const char* kServiceFileName = "orvex_service.json";
// The service file is a few hundred bytes; anything far larger (or a device in its place) is
// not one and is not read.
constexpr std::size_t kMaxServiceFileBytes = 64 << 10;

std::optional<std::string> readKey(const FileSystem& files, const std::filesystem::path& path,
                                   std::string_view bundleId) {
  auto text = files.readFile(path, kMaxServiceFileBytes);
  if (!text) return std::nullopt;
  return appKeyFromServiceText(*text, bundleId);
}

std::string validated(const std::optional<std::string>& key) {
  if (!key) return {};
  auto payload = JWT::decodePayload(*key);
  std::optional<std::string> platform;
  if (payload) {
    auto it = payload->find("platform");
    if (it != payload->end())
      if (auto* s = it->second.asString()) platform = *s;
  }
  if (payload && (!platform || *platform == "ios")) return *key;
  if (platform) {
    SimpleLogger::logAlways(
        "OrvexConfig",
        "⛔️ Invalid Orvex App Key Detected!\n- Reason: Expected platform 'ios', but got '" +
            *platform +
            "'\n- The 'orvex_service.json' file may be for a different platform (e.g., "
            "Android).\n- Please make sure you are using the correct file for this app.");
  } else {
    SimpleLogger::logAlways(
        "OrvexConfig",
        "⛔️ Invalid Orvex App Key Detected!\n- Reason: App key validation failed (no platform "
        "found).\n- Please ensure that the correct 'orvex_service.json' file is being used.");
  }
  return {};
}

}  // namespace

std::optional<ValueDict> JWT::decodePayload(std::string_view token) {
  auto parts = std::string(token);
  std::size_t first = parts.find('.');
  if (first == std::string::npos) return std::nullopt;
  std::size_t second = parts.find('.', first + 1);
  std::string payload =
      parts.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
  for (char& c : payload) {
    if (c == '-')
      c = '+';
    else if (c == '_')
      c = '/';
  }
  if (payload.size() % 4) payload.append(4 - payload.size() % 4, '=');
  auto bytes = base64Decode(payload);
  if (!bytes) return std::nullopt;
  auto value =
      json::parse(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
  if (!value || !value->asDict()) return std::nullopt;
  return *value->asDict();
}

std::optional<std::string> appKeyFromServiceText(std::string_view text, std::string_view bundleId) {
  auto value = json::parse(text);
  if (!value || !value->asDict()) return std::nullopt;
  if (!bundleId.empty())
    if (auto* v = value->find(bundleId); v && v->asString()) return *v->asString();
  if (auto* v = value->find("app_key"); v && v->asString()) return *v->asString();
  return std::nullopt;
}

std::string loadAppKey(const OrvexPlatform& platform, SimpleLogger& logger) {
  auto dir = platform.bundle->resourceDirectory();
  if (!dir) {
    logger.log("NOT FOUND Bundle.main.resourcePath");
    return {};
  }
  const FileSystem& files = *platform.files;
  std::string bundleId = platform.bundle->bundleIdentifier().value_or("");
  if (auto key = readKey(files, *dir / kServiceFileName, bundleId)) return validated(key);

  auto entries = files.listDirectory(*dir);
  if (entries) {
    for (const auto& entry : *entries) {
      const std::string& name = entry.name;
      if (name.starts_with("orvex_service") && name.ends_with(".json")) {
        auto path = *dir / name;
        auto key = readKey(files, path, bundleId);
        if (!key) {
          logger.log("NOT FOUND: file://" + path.string());
          logger.log("NOT FOUND orvex_service.json");
          return {};
        }
        return validated(key);
      }
    }
  }
  logger.log("NOT FOUND orvex_service.json");
  return {};
}

}  // namespace orvex

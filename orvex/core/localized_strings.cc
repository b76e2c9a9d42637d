#include "orvex/core/localized_strings.h"

#include <optional>

#include "orvex/core/json.h"
#include "orvex/core/orvex.h"

namespace orvex {
namespace {

using Table = std::map<std::string, std::string, std::less<>>;

// A language file is a few dozen short texts; anything this large is not one.
constexpr std::size_t kMaxFileBytes = 256 * 1024;

// "ko_KR" and "ko-KR" alike; only letters, digits and hyphens may name a file.
std::optional<std::string> fileTag(std::string_view tag) {
  if (tag.empty() || tag.size() > 35) return std::nullopt;
  std::string out(tag);
  for (char& c : out) {
    if (c == '_') c = '-';
    const bool ok =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
    if (!ok) return std::nullopt;
  }
  if (out.front() == '-') return std::nullopt;
  return out;
}

std::optional<Table> readTable(const OrvexPlatform& platform, const std::filesystem::path& dir,
                               const std::string& language) {
  auto text = platform.files->readFile(dir / (language + ".json"));
  if (!text || text->size() > kMaxFileBytes) return std::nullopt;
  auto value = json::parse(*text, nullptr, 4);
  const ValueDict* members = value ? value->asDict() : nullptr;
  if (!members) return std::nullopt;
  Table table;
  for (const auto& [key, v] : *members) {
    if (const std::string* s = v.asString()) table.emplace(key, *s);
  }
  return table;
}

}  // namespace

LocalizedStrings LocalizedStrings::forDevice() {
  return load(Orvex::shared().platform());
}

LocalizedStrings LocalizedStrings::load(const OrvexPlatform& platform) {
  return load(platform,
              platform.device ? platform.device->preferredLanguages() : std::vector<std::string>{});
}

LocalizedStrings LocalizedStrings::load(const OrvexPlatform& platform,
                                        const std::vector<std::string>& preferredLanguages) {
  LocalizedStrings strings;
  if (!platform.bundle || !platform.files) return strings;
  const auto dir = platform.bundle->sdkResourceDirectory();
  if (!dir) return strings;
  const auto stringsDir = *dir / "strings";

  std::optional<Table> chosen;
  for (const auto& preferred : preferredLanguages) {
    const auto tag = fileTag(preferred);
    if (!tag) continue;
    std::vector<std::string> candidates{*tag};
    if (const auto dash = tag->find('-'); dash != std::string::npos)
      candidates.push_back(tag->substr(0, dash));
    for (const auto& candidate : candidates) {
      if ((chosen = readTable(platform, stringsDir, candidate))) {
        strings.language_ = candidate;
        break;
      }
    }
    if (chosen) break;
  }
  if (strings.language_ != kFallbackLanguage) {
    if (auto fallback = readTable(platform, stringsDir, kFallbackLanguage)) {
      if (chosen) {
        chosen->merge(*fallback);  // only keys the chosen language lacks
      } else {
        strings.language_ = kFallbackLanguage;
        chosen = std::move(fallback);
      }
    }
  }
  if (chosen) strings.texts_ = std::move(*chosen);
  return strings;
}

std::string LocalizedStrings::text(std::string_view key) const {
  auto it = texts_.find(key);
  return it == texts_.end() ? std::string(key) : it->second;
}

std::optional<std::string> LocalizedStrings::find(std::string_view key) const {
  auto it = texts_.find(key);
  if (it == texts_.end()) return std::nullopt;
  return it->second;
}

}  // namespace orvex

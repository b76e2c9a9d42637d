#pragma once
// The ad player script that video creatives rely on: one cached file
// (<caches>/orvex/js/ad-player.bundled.min.js, whatever its version), fetched from the CDN for
// the configured player version and written inline into every document holding a video.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace orvex {

class AdPlayerScriptManager {
 public:
  AdPlayerScriptManager() = delete;
  static constexpr const char* kFileName = "ad-player.bundled.min.js";

  static std::filesystem::path scriptFileURL();
  static void deleteScript();
  // Makes sure the file exists; an existing file is used whatever its version.
  static void downloadScript(const std::string& version, std::function<void()> completion = {});
  // The file's text, if present and readable.
  static std::optional<std::string> scriptContent(const std::string& version);
  // Inlines the script into a document that holds a video, replacing external references to it.
  static std::string process(const std::string& html);
  // The same with an explicit script text (benchmarks and tests).
  static std::string inlineScript(const std::string& html, std::string_view script);
  // Tells the page's player that it can (or can no longer) be seen, when the page has one.
  static std::string visibilityCallbackScript(bool visible);
};

}  // namespace orvex

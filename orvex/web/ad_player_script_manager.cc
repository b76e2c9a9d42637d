#include "orvex/web/ad_player_script_manager.h"

#include <re2/re2.h>

#include "orvex/core/file_downloader.h"
#include "orvex/core/orvex.h"
#include "orvex/core/orvex_config.h"
#include "orvex/core/seams.h"
#include "orvex/core/simple_logger.h"
#include "orvex/core/url.h"
#include "orvex/web/html_content.h"

namespace orvex {
namespace {

namespace fs = std::filesystem;

SimpleLogger& logger() {
  static SimpleLogger instance("AdPlayerScriptManager");
  return instance;
}

const RE2& externalPlayerScript() {
  static const RE2 pattern(R"(<script\s+[^>]*ad-player\.bundled\.min\.js[^>]*>\s*</script>\s*)");
  return pattern;
}

}  // namespace

fs::path AdPlayerScriptManager::scriptFileURL() {
  return Orvex::shared().platform().files->cachesDirectory() / "orvex" / "js" / kFileName;
}

void AdPlayerScriptManager::deleteScript() {
  if (auto error = Orvex::shared().platform().files->remove(scriptFileURL())) {
    logger().log("Error deleting script file: " + error->message);
  }
}

void AdPlayerScriptManager::downloadScript(const std::string& version,
                                           std::function<void()> completion) {
  auto& platform = Orvex::shared().platform();
  if (platform.files->exists(scriptFileURL())) {
    if (completion) completion();
    return;
  }
  const std::string text =
      platform.deployment.playerScriptCdnBase + version + "/" + std::string(kFileName);
  if (!Url::parse(text)) {
    logger().log("Invalid script URL: " + text);
    if (completion) completion();
    return;
  }
  // Under its own name, not the cache's digest of the URL: one file whatever the version.
  FileDownloader::shared()->downloadAs(text, "js", kFileName,
                                       [completion = std::move(completion)](auto) {
                                         if (completion) completion();
                                       });
}

std::optional<std::string> AdPlayerScriptManager::scriptContent(const std::string&) {
  auto& files = *Orvex::shared().platform().files;
  const fs::path path = scriptFileURL();
  if (!files.exists(path)) return std::nullopt;
  auto text = files.readFile(path);
  if (!text) logger().log("Error reading script content: could not read " + path.string());
  return text;
}

std::string AdPlayerScriptManager::process(const std::string& html) {
  if (!HTMLContentHelper::containsVideoTag(html)) return html;
  auto script = scriptContent(Orvex::shared().config().playerVersion());
  if (!script || script->empty()) return html;
  return inlineScript(html, *script);
}

std::string AdPlayerScriptManager::inlineScript(const std::string& html, std::string_view script) {
  if (!HTMLContentHelper::containsVideoTag(html)) return html;
  std::string tag;
  tag.reserve(script.size() + 17);
  tag.append("<script>").append(script).append("</script>");
  std::string h = html;
  RE2::GlobalReplace(&h, externalPlayerScript(), "");
  // Once, at the first match: a copy per "</head>" let a small creative that repeats it grow
  // into a document hundreds of megabytes long.
  if (auto head = h.find("</head>"); head != std::string::npos) return h.insert(head, tag);
  if (auto open = h.find("<html>");
      open != std::string::npos && h.find("</body>") != std::string::npos) {
    return h.insert(open + 6, "<head>" + tag + "</head>");
  }
  if (h.find("</body>") != std::string::npos)
    return "<html><head>" + tag + "</head>" + h + "</html>";
  return "<html><head>" + tag + "</head><body>" + h + "</body></html>";
}

std::string AdPlayerScriptManager::visibilityCallbackScript(bool visible) {
  const std::string outer(24, ' ');
  const std::string inner(28, ' ');
  return outer + "if (typeof window.adPlayerVisibilityCallback === 'function') {\n" + inner +
         "window.adPlayerVisibilityCallback(" + (visible ? "true" : "false") + ")\n" + outer + "}";
}

namespace seams {
void preparePlayerScript(const std::string& version) {
  AdPlayerScriptManager::downloadScript(version);
}
void deletePlayerScript() {
  AdPlayerScriptManager::deleteScript();
}
}  // namespace seams

}  // namespace orvex

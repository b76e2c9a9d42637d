// The creative document as the banner builds it: a template and macro (remote configuration)
// with a creative fragment (an ad answer), then the player script written in. The script goes
// in once, the external player reference goes, and nothing outgrows its bounds.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_sdk.h"
#include "orvex/web/ad_player_script_manager.h"
#include "orvex/web/html_content.h"

using orvex::fuzzing::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string macro = input.ConsumeRandomLengthString(32);
  const std::string fragment = input.ConsumeRandomLengthString(4096);
  const std::string documentTemplate = input.ConsumeRemainingBytesAsString();
  const std::string document = orvex::composeDocument(documentTemplate, macro, fragment);
  require(document.size() <= std::max(documentTemplate.size(), orvex::kMaxDocumentBytes),
          "documents stay within their bound");
  // A script text that cannot occur in the input, so its copies can be counted.
  const std::string script = "\x01player\x02";
  const std::string page = orvex::AdPlayerScriptManager::inlineScript(document, script);
  if (!orvex::HTMLContentHelper::containsVideoTag(document)) {
    require(page == document, "pages without video are left alone");
  } else {
    std::size_t copies = 0;
    for (auto at = page.find(script); at != std::string::npos; at = page.find(script, at + 1))
      ++copies;
    if (document.find(script) == std::string::npos)
      require(copies == 1, "the player script goes in exactly once");
    require(page.size() <= document.size() + script.size() + 64, "the page grows by the script");
  }
  return 0;
}

// URL texts as links, deep links and creatives carry them: parsing, query items and percent
// decoding of the whole text and of views into it (which are not NUL-terminated).
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_sdk.h"
#include "orvex/core/text.h"
#include "orvex/core/url.h"

using orvex::fuzzing::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (auto url = orvex::Url::parse(text)) {
    require(url->text() == text, "a URL keeps its text");
    url->queryItems();
  }
  orvex::Url::queryItemsOf(text);
  const std::size_t split = data[0] % (text.size() + 1);
  for (std::string_view part : {text, text.substr(0, split), text.substr(split)}) {
    if (auto decoded = orvex::percentDecode(part)) {
      require(orvex::isValidUtf8(*decoded), "decoded text is UTF-8");
    }
  }
  if (orvex::isValidUtf8(text)) {
    require(orvex::percentDecode(orvex::percentEncodeQueryValue(text)) == text,
            "encoding then decoding gives the text back");
  }
  return 0;
}

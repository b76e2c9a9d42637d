#include "orvex/web/html_content.h"

#include <algorithm>

#include "orvex/core/orvex.h"
#include "orvex/core/orvex_config.h"

namespace orvex {
namespace {

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool containsIgnoringCase(std::string_view text, std::string_view needle) {
  auto it = std::search(text.begin(), text.end(), needle.begin(), needle.end(),
                        [](char a, char b) { return lower(a) == lower(b); });
  return it != text.end() || needle.empty();
}

std::string replaceAll(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  for (;;) {
    std::size_t hit = text.find(from, pos);
    if (hit == std::string_view::npos) break;
    out.append(text, pos, hit - pos);
    out.append(to);
    pos = hit + from.size();
  }
  out.append(text, pos);
  return out;
}

bool HTMLContentHelper::containsVideoTag(std::string_view html) {
  return containsIgnoringCase(html, "<video");
}

bool HTMLContentHelper::containsEmblaCarousel(std::string_view html) {
  return containsIgnoringCase(html, "embla__viewport");
}

std::string composeDocument(std::string_view documentTemplate, std::string_view macro,
                            std::string_view fragment) {
  if (!macro.empty() && fragment.size() > macro.size()) {
    // Measured before anything is built: the counts come from the server.
    const std::size_t growth = fragment.size() - macro.size();
    std::size_t size = documentTemplate.size();
    for (std::size_t at = documentTemplate.find(macro); at != std::string_view::npos;
         at = documentTemplate.find(macro, at + macro.size())) {
      if (growth > kMaxDocumentBytes - std::min(size, kMaxDocumentBytes)) return std::string();
      size += growth;
    }
  }
  return replaceAll(documentTemplate, macro, fragment);
}

std::string composeCreativeDocument(std::string_view fragment) {
  auto& config = Orvex::shared().config();
  return composeDocument(config.displayTag(), config.displayTagMacro(), fragment);
}

}  // namespace orvex

#pragma once
// Creative markup into a page: the configuration's document template with its macro replaced by
// the fragment, and the content tests that tell video and carousel pages apart.

#include <cstddef>
#include <string>
#include <string_view>

namespace orvex {

struct HTMLContentHelper {
  // "<video" anywhere, in any letter case.
  static bool containsVideoTag(std::string_view html);
  // "embla__viewport" anywhere, in any letter case.
  static bool containsEmblaCarousel(std::string_view html);
};

// Documents are never composed larger than this: a template that repeats its macro would
// otherwise multiply a large creative into gigabytes.
inline constexpr std::size_t kMaxDocumentBytes = 16 << 20;

// Every occurrence of `macro` in `documentTemplate`, left to right and literally, replaced by
// `fragment`; inserted text is not rescanned. An empty macro leaves the template as it is. The
// empty document when the result would exceed kMaxDocumentBytes.
std::string composeDocument(std::string_view documentTemplate, std::string_view macro,
                            std::string_view fragment);
// The same with the configuration's display tag and macro.
std::string composeCreativeDocument(std::string_view fragment);

// Replaces every occurrence of `from` by `to` (exact case); nothing when `from` is empty.
std::string replaceAll(std::string_view text, std::string_view from, std::string_view to);
// Case-insensitive (ASCII) search.
bool containsIgnoringCase(std::string_view text, std::string_view needle);

}  // namespace orvex

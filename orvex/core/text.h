#pragma once
// Small text helpers shared across the SDK. Case folding is ASCII-only by design: country codes,
// keys and scheme names are ASCII, and locale-dependent folding would differ between machines.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "orvex/platform/export.h"

namespace orvex {

std::string asciiLower(std::string_view text);
std::string asciiUpper(std::string_view text);
bool asciiContainsIgnoringCase(std::string_view haystack, std::string_view needle);
// Splits on `separator`, dropping empty pieces.
ORVEX_INTERNAL_API std::vector<std::string> splitNonEmpty(std::string_view text, char separator);
// Optional "+" or "-", then digits only; anything else, or overflow, gives 0.
std::int64_t parseInt64OrZero(std::string_view text);
// Shortest round-trip form, with ".0" added to whole numbers: 844.0 -> "844.0", 0.25 -> "0.25".
std::string formatDouble(double value);
// ["a", "b"] as an array literal with each element in double quotes.
std::string describeList(const std::vector<std::string>& items);
// The number of Unicode scalar values; invalid bytes count one each.
std::size_t utf8Length(std::string_view text);
ORVEX_INTERNAL_API bool isValidUtf8(std::string_view text);

}  // namespace orvex

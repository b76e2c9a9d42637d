#include "orvex/core/text.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace orvex {

std::string asciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string asciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool asciiContainsIgnoringCase(std::string_view haystack, std::string_view needle) {
  return asciiLower(haystack).find(asciiLower(needle)) != std::string::npos;
}

std::vector<std::string> splitNonEmpty(std::string_view text, char separator) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(separator, start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) out.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

std::int64_t parseInt64OrZero(std::string_view text) {
  if (text.empty()) return 0;
  bool negative = false;
  if (text.front() == '+' || text.front() == '-') {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return 0;
  // Accumulate as negative so that INT64_MIN parses without overflow.
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    int digit = c - '0';
    if (value < (std::numeric_limits<std::int64_t>::min() + digit) / 10) return 0;
    value = value * 10 - digit;
  }
  if (negative) return value;
  if (value == std::numeric_limits<std::int64_t>::min()) return 0;
  return -value;
}

std::string formatDouble(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  std::string out(buf, ec == std::errc() ? end : buf);
  if (out.find_first_of(".e") == std::string::npos) out += ".0";
  return out;
}

std::string describeList(const std::vector<std::string>& items) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += ", ";
    out += '"';
    out += items[i];
    out += '"';
  }
  out += ']';
  return out;
}

namespace {
// Length of the valid UTF-8 sequence starting at s[i], or 0.
std::size_t sequenceLength(std::string_view s, std::size_t i) {
  auto b = static_cast<unsigned char>(s[i]);
  std::size_t n;
  std::uint32_t cp;
  if (b < 0x80) return 1;
  if ((b & 0xE0) == 0xC0)
    n = 2, cp = b & 0x1F;
  else if ((b & 0xF0) == 0xE0)
    n = 3, cp = b & 0x0F;
  else if ((b & 0xF8) == 0xF0)
    n = 4, cp = b & 0x07;
  else
    return 0;
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    auto c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  static constexpr std::uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}
}  // namespace

std::size_t utf8Length(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++count) {
    std::size_t n = sequenceLength(text, i);
    i += n ? n : 1;
  }
  return count;
}

bool isValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    std::size_t n = sequenceLength(text, i);
    if (!n) return false;
    i += n;
  }
  return true;
}

}  // namespace orvex

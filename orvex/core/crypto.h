#pragma once
// Digests, encodings and secure random bytes (OpenSSL and zlib stay in crypto.cc).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orvex/platform/export.h"

namespace orvex {

// SHA-256 of the bytes, as 64 lowercase hexadecimal digits.
std::string sha256Hex(std::string_view bytes);
ORVEX_INTERNAL_API std::string base64Encode(const std::vector<std::uint8_t>& bytes);
ORVEX_INTERNAL_API std::string base64Encode(std::string_view bytes);
// Standard alphabet with "=" padding; absent on any malformed input.
ORVEX_INTERNAL_API std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text);
// Fills `out` from the system's secure generator; false when it cannot.
bool secureRandomBytes(std::uint8_t* out, std::size_t count);
ORVEX_INTERNAL_API std::uint32_t crc32(std::string_view bytes);

}  // namespace orvex

#pragma once
// ULID: 48-bit millisecond timestamp and 80 random bits, written in Crockford's base 32. Times
// outside 1970 to 10889 are clamped into the 48 bits.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orvex/platform/dispatch.h"

namespace orvex {

class ULID {
 public:
  using Data = std::array<std::uint8_t, 16>;
  // Supplies random bits; drawn as one 16-bit and one 64-bit value.
  using Generator = std::function<std::uint64_t()>;

  // Fresh randomness from the system's secure generator; absent when it cannot supply any (an
  // identifier with predictable bits would collide across devices, so none is made).
  static std::optional<ULID> generate(WallTime timestamp);
  ULID(WallTime timestamp, const Generator& generator);
  static std::optional<ULID> fromRandomPart(WallTime timestamp,
                                            const std::vector<std::uint8_t>& random);
  static std::optional<ULID> fromData(const std::vector<std::uint8_t>& data);
  // Accepts upper and lower case; rejects other lengths, letters outside the alphabet and
  // values above 2^128 - 1 (a first digit above 7).
  static std::optional<ULID> fromString(std::string_view text);

  std::string ulidString() const;
  std::string description() const { return ulidString(); }
  const Data& ulidData() const { return data_; }
  // Times past the clock's range (the year 2262) give its latest time.
  WallTime timestamp() const;

  friend bool operator==(const ULID&, const ULID&) = default;
  friend auto operator<=>(const ULID&, const ULID&) = default;

  // The message of a failed decode from text.
  static constexpr const char* kDecodeError = "Attempted to decode ULID from invalid ULID string.";

 private:
  explicit ULID(const Data& data) : data_(data) {}
  void setTimestamp(WallTime timestamp);
  Data data_{};
};

}  // namespace orvex

template <>
struct std::hash<orvex::ULID> {
  std::size_t operator()(const orvex::ULID& u) const noexcept {
    std::size_t h = 0;
    for (auto b : u.ulidData()) h = h * 131 + b;
    return h;
  }
};

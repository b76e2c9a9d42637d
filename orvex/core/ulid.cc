#include "orvex/core/ulid.h"

#include <algorithm>

#include "orvex/core/crypto.h"

namespace orvex {
namespace {

constexpr char kAlphabet[] = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";

int decodeChar(char c) {
  if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  for (int i = 0; i < 32; ++i)
    if (kAlphabet[i] == c) return i;
  return -1;
}

constexpr std::uint64_t kMaxTimestamp = 0xFFFFFFFFFFFFull;

}  // namespace

std::optional<ULID> ULID::generate(WallTime timestamp) {
  std::uint8_t random[10];
  if (!secureRandomBytes(random, sizeof random)) return std::nullopt;
  ULID u{Data{}};
  u.setTimestamp(timestamp);
  for (int i = 0; i < 10; ++i) u.data_[6 + i] = random[i];
  return u;
}

ULID::ULID(WallTime timestamp, const Generator& generator) {
  setTimestamp(timestamp);
  auto high = static_cast<std::uint16_t>(generator());
  std::uint64_t low = generator();
  data_[6] = static_cast<std::uint8_t>(high >> 8);
  data_[7] = static_cast<std::uint8_t>(high);
  for (int i = 0; i < 8; ++i) data_[8 + i] = static_cast<std::uint8_t>(low >> (56 - 8 * i));
}

void ULID::setTimestamp(WallTime timestamp) {
  const std::int64_t millis = unixMillis(timestamp);
  const std::uint64_t ms =
      millis < 0 ? 0 : std::min(static_cast<std::uint64_t>(millis), kMaxTimestamp);
  for (int i = 0; i < 6; ++i) data_[i] = static_cast<std::uint8_t>(ms >> (40 - 8 * i));
}

std::optional<ULID> ULID::fromRandomPart(WallTime timestamp,
                                         const std::vector<std::uint8_t>& random) {
  if (random.size() != 10) return std::nullopt;
  ULID u{Data{}};
  u.setTimestamp(timestamp);
  for (int i = 0; i < 10; ++i) u.data_[6 + i] = random[i];
  return u;
}

std::optional<ULID> ULID::fromData(const std::vector<std::uint8_t>& data) {
  if (data.size() != 16) return std::nullopt;
  Data d;
  for (int i = 0; i < 16; ++i) d[i] = data[i];
  return ULID(d);
}

std::optional<ULID> ULID::fromString(std::string_view text) {
  if (text.size() != 26) return std::nullopt;
  // 26 digits of 5 bits carry 130 bits; the top two must be zero.
  Data d{};
  int first = decodeChar(text[0]);
  if (first < 0 || first > 7) return std::nullopt;
  unsigned bitPos = 0;  // bits written into d, from the most significant end
  auto put = [&](int value, int bits) {
    for (int b = bits - 1; b >= 0; --b, ++bitPos)
      if ((value >> b) & 1) d[bitPos / 8] |= static_cast<std::uint8_t>(0x80 >> (bitPos % 8));
  };
  put(first, 3);
  for (std::size_t i = 1; i < 26; ++i) {
    int v = decodeChar(text[i]);
    if (v < 0) return std::nullopt;
    put(v, 5);
  }
  return ULID(d);
}

std::string ULID::ulidString() const {
  std::string out(26, '0');
  auto bit = [&](unsigned pos) { return (data_[pos / 8] >> (7 - pos % 8)) & 1; };
  int first = (bit(0) << 2) | (bit(1) << 1) | bit(2);
  out[0] = kAlphabet[first];
  unsigned pos = 3;
  for (std::size_t i = 1; i < 26; ++i) {
    int v = 0;
    for (int b = 0; b < 5; ++b) v = (v << 1) | bit(pos++);
    out[i] = kAlphabet[v];
  }
  return out;
}

WallTime ULID::timestamp() const {
  std::uint64_t ms = 0;
  for (int i = 0; i < 6; ++i) ms = (ms << 8) | data_[i];
  constexpr auto kLatest =
      std::chrono::duration_cast<std::chrono::milliseconds>(WallTime::duration::max()).count();
  if (ms > static_cast<std::uint64_t>(kLatest)) return WallTime::max();
  return WallTime(std::chrono::duration_cast<WallTime::duration>(
      std::chrono::milliseconds(static_cast<std::int64_t>(ms))));
}

}  // namespace orvex

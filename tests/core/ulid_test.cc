#include "orvex/core/ulid.h"

#include <gtest/gtest.h>

namespace orvex {
namespace {

WallTime atMillis(std::int64_t ms) {
  return WallTime(std::chrono::milliseconds(ms));
}

TEST(ULIDTest, KnownTexts) {
  auto zero = ULID::fromRandomPart(atMillis(0), std::vector<std::uint8_t>(10, 0));
  ASSERT_TRUE(zero);
  EXPECT_EQ(zero->ulidString(), std::string(26, '0'));

  // The example of the published format: timestamp 1469918176385 ms.
  const std::string example = "01ARYZ6S41TSV4RRFFQ69G5FAV";
  auto parsed = ULID::fromString(example);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->ulidString(), example);
  EXPECT_EQ(unixMillis(parsed->timestamp()), 1469918176385);
  EXPECT_EQ(ULID::fromString("01aryz6s41tsv4rrffq69g5fav")->ulidString(), example);

  auto max = ULID::fromData(std::vector<std::uint8_t>(16, 0xFF));
  EXPECT_EQ(max->ulidString(), "7ZZZZZZZZZZZZZZZZZZZZZZZZZ");
  // Past the clock's range (the year 2262): its latest time, not an overflow.
  EXPECT_EQ(max->timestamp(), WallTime::max());
  EXPECT_EQ(ULID::fromString("08CDXX0PQQ0000000000000000")->timestamp(), WallTime::max());
  EXPECT_EQ(ULID::fromRandomPart(atMillis(-1), std::vector<std::uint8_t>(10, 0))->ulidString(),
            std::string(26, '0'));
  EXPECT_EQ(unixMillis(ULID::fromString("08CDXX0PQP0000000000000000")->timestamp()), 9223372036854);
}

TEST(ULIDTest, GeneratorFillsRandomPartAndTimeOrders) {
  std::uint64_t draws[] = {0xABCD, 0x0102030405060708};
  int next = 0;
  ULID u(atMillis(1000), [&] { return draws[next++]; });
  const auto& d = u.ulidData();
  EXPECT_EQ(d[6], 0xAB);
  EXPECT_EQ(d[7], 0xCD);
  EXPECT_EQ(d[8], 0x01);
  EXPECT_EQ(d[15], 0x08);
  EXPECT_EQ(unixMillis(u.timestamp()), 1000);

  auto a = *ULID::generate(atMillis(5000)), b = *ULID::generate(atMillis(5000));
  auto later = *ULID::generate(atMillis(5001));
  EXPECT_EQ(a.ulidString().substr(0, 10), b.ulidString().substr(0, 10));
  EXPECT_NE(a, b);
  EXPECT_LT(a.ulidString().substr(0, 10), later.ulidString().substr(0, 10));
  EXPECT_EQ(ULID::fromData(std::vector<std::uint8_t>(a.ulidData().begin(), a.ulidData().end())), a);
}

TEST(ULIDTest, RejectsMalformedInput) {
  EXPECT_FALSE(ULID::fromString(""));
  EXPECT_FALSE(ULID::fromString(std::string(25, '0')));
  EXPECT_FALSE(ULID::fromString(std::string(27, '0')));
  EXPECT_FALSE(ULID::fromString("01ARYZ6S41TSV4RRFFQ69G5FAU"));  // U is not in the alphabet
  EXPECT_FALSE(ULID::fromString("8ZZZZZZZZZZZZZZZZZZZZZZZZZ"));  // above 128 bits
  EXPECT_FALSE(ULID::fromString("01ARYZ6S41TSV4RRFFQ69G5FA\xC3"));
  EXPECT_FALSE(ULID::fromRandomPart(atMillis(0), std::vector<std::uint8_t>(9, 0)));
  EXPECT_FALSE(ULID::fromData(std::vector<std::uint8_t>(15, 0)));
  EXPECT_STREQ(ULID::kDecodeError, "Attempted to decode ULID from invalid ULID string.");
}

}  // namespace
}  // namespace orvex

#include "core/carddata_format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/errors.h"

namespace fw {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(CardFormatRoutines, Rotations) {
  EXPECT_EQ(RotateLeft8(0x80), 0x01);
  EXPECT_EQ(RotateLeft8(0x41), 0x82);
  EXPECT_EQ(RotateLeft32(0x80000001u), 3u);
  EXPECT_EQ(RotateLeft32(0x80000000u), 1u);
}

Bytes TopBitRun() {
  Bytes data(26, 0x00);
  data[0] = 0x3F;
  return data;
}

TEST(CardFormatRoutines, Checksum) {
  const struct {
    Bytes data;
    std::uint32_t expected;
  } cases[] = {
      {{}, 1},
      {{0xFF}, 0x200},
      {{'a', 'b', 'c'}, 0x55E},
      // 1 + 0x3F rotates to 0x80 and every zero byte doubles it: after 24 zeros s is 2^31,
      // and the 25th zero carries that top bit round to bit 0.
      {TopBitRun(), 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CalcChecksum(c.data), c.expected) << c.data.size() << " bytes";
  }
}

TEST(CardFormatRoutines, ScrambleGoldenBytes) {
  const struct {
    Bytes plain;
    std::uint8_t xorKey, rotKey;
    Bytes stored;
  } cases[] = {
      {{1, 2, 3}, 0, 0, {1, 2, 3}},
      // Key bytes 02 04 08 10 20 40 80 01, then 02 again for the ninth byte.
      {Bytes(9, 0x00), 0x01, 0x01, {0x03, 0x05, 0x09, 0x11, 0x21, 0x41, 0x81, 0x02, 0x03}},
      {{0xFF, 0x10}, 0xF0, 0x81, {0x12, 0xE6}},
      {{0x80}, 0x7F, 0x80, {0x00}},  // 0xFF + 1 wraps
  };
  for (const auto& c : cases) {
    Bytes out(c.plain.size());
    ScrambleBuffer(c.plain, out, c.xorKey, c.rotKey);
    EXPECT_EQ(out, c.stored) << int(c.xorKey) << "/" << int(c.rotKey);
    Bytes back(out.size());
    UnscrambleBuffer(out, back, c.xorKey, c.rotKey);
    EXPECT_EQ(back, c.plain);
  }
}

TEST(CardFormatRoutines, UnscrambleInvertsEveryKeyPair) {
  Bytes plain(300);
  for (std::size_t i = 0; i < plain.size(); ++i) {
    plain[i] = static_cast<std::uint8_t>(i * 7 + 3);
  }
  for (int xorKey = 0; xorKey < 256; xorKey += 17) {
    for (int rotKey = 0; rotKey < 256; rotKey += 13) {
      Bytes stored(plain.size()), back(plain.size());
      ScrambleBuffer(plain, stored, static_cast<std::uint8_t>(xorKey),
                     static_cast<std::uint8_t>(rotKey));
      UnscrambleBuffer(stored, back, static_cast<std::uint8_t>(xorKey),
                       static_cast<std::uint8_t>(rotKey));
      ASSERT_EQ(back, plain) << xorKey << "/" << rotKey;
    }
  }
}

TEST(CardFormatRoutines, PackAndUnpackDates) {
  const struct {
    DateTime value;
    TPackedDateTime packed;
  } cases[] = {
      {{2024, 3, 5, 14, 7, 9, 800}, {0x09, 0x07, 0x0E, 0x03, 0x05, 0x03, 0x18}},  // a Tuesday
      {{2000, 1, 1, 0, 0, 0, 0}, {0x00, 0x00, 0x00, 0x07, 0x01, 0x01, 0x00}},     // a Saturday
      {{2024, 2, 29, 23, 59, 59, 0}, {59, 59, 23, 0x05, 29, 2, 24}},              // a Thursday
      {{2255, 12, 31, 12, 0, 0, 0}, {0, 0, 12, 0x02, 31, 12, 255}},               // a Monday
      {{2026, 12, 6, 1, 2, 3, 0}, {3, 2, 1, 0x01, 6, 12, 26}},                    // a Sunday
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PackDateTime(c.value), c.packed) << c.value.year << "-" << c.value.month;
    DateTime whole = c.value;
    whole.millisecond = 0;
    EXPECT_EQ(UnpackDateTime(c.packed), whole);
  }
}

TEST(CardFormatRoutines, DatesAndTimesThatDoNotExistAreRefused) {
  const struct {
    TPackedDateTime packed;
    std::string message;
  } cases[] = {
      {{0, 0, 0, 0, 0, 0, 0}, "Invalid argument to date encode"},     // month 0
      {{0, 0, 0, 0, 31, 4, 24}, "Invalid argument to date encode"},   // 31 April
      {{0, 0, 0, 0, 29, 2, 23}, "Invalid argument to date encode"},   // 29 February 2023
      {{0, 0, 99, 0, 1, 13, 24}, "Invalid argument to date encode"},  // the date is told first
      {{0, 0, 24, 0, 1, 1, 24}, "Invalid argument to time encode"},   // hour 24
      {{60, 0, 0, 0, 1, 1, 24}, "Invalid argument to time encode"},   // second 60
  };
  for (const auto& c : cases) {
    try {
      UnpackDateTime(c.packed);
      ADD_FAILURE() << "accepted " << int(c.packed[4]) << "." << int(c.packed[5]);
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.what(), c.message);
    }
  }
  // Packing refuses them too: such an entry would make every later opening of the card fail.
  const struct {
    DateTime value;
    std::string message;
  } unpackable[] = {
      {{2024, 13, 1, 0, 0, 0, 0}, "Invalid argument to date encode"},
      {{2023, 2, 29, 0, 0, 0, 0}, "Invalid argument to date encode"},
      {{2024, 1, 1, 24, 0, 0, 0}, "Invalid argument to time encode"},
  };
  for (const auto& c : unpackable) {
    try {
      PackDateTime(c.value);
      ADD_FAILURE() << "packed month " << c.value.month << " day " << c.value.day;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.what(), c.message);
    }
  }
}

}  // namespace
}  // namespace fw

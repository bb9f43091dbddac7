// The small routines the card data file format rests on: bit rotations, the
// 32-bit checksum, the payload scrambler and the 7-byte packed date-time of entry headers.
// The recorder applies the same definitions, so every constant and order here is the format.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace fw {

std::uint32_t RotateLeft32(std::uint32_t x);
std::uint8_t RotateLeft8(std::uint8_t x);

// s = 1; for every byte b: s = RotateLeft32(s + b). No bytes give 1.
std::uint32_t CalcChecksum(std::span<const std::uint8_t> data);

// dst[i] = (src[i] XOR xorKey) + k, k being rotKey rotated left once more before every byte.
// dst must hold at least src.size() bytes and must not overlap src.
void ScrambleBuffer(std::span<const std::uint8_t> src, std::span<std::uint8_t> dst,
                    std::uint8_t xorKey, std::uint8_t rotKey);

// The two key bytes of a scrambled entry.
struct TScrambleKeys {
  std::uint8_t xorKey = 0;
  std::uint8_t rotKey = 0;
};

// Two key bytes, each 1..253, drawn at random (a generator seeded from the clock).
TScrambleKeys DrawScrambleKeys();

// The reader's inverse of ScrambleBuffer: dst[i] = (src[i] - k) XOR xorKey.
void UnscrambleBuffer(std::span<const std::uint8_t> src, std::span<std::uint8_t> dst,
                      std::uint8_t xorKey, std::uint8_t rotKey);

// A local calendar date and time of day.
struct DateTime {
  int year = 2000;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;

  friend bool operator==(const DateTime&, const DateTime&) = default;
};

// Seconds, minutes, hours, day of week (1 = Sunday), day, month, year - 2000 (modulo 256).
using TPackedDateTime = std::array<std::uint8_t, 7>;

// 1 = Sunday ... 7 = Saturday, for a date of the proleptic Gregorian calendar.
int DayOfWeek(int year, int month, int day);

bool IsValidDate(int year, int month, int day);
bool IsValidTime(int hour, int minute, int second);

// Whole seconds only; the milliseconds are dropped. A date or time that does not exist is
// refused with the conversion errors of UnpackDateTime, so that no entry can be stored that
// would make the card unreadable.
TPackedDateTime PackDateTime(const DateTime& value);

// The day of week byte is ignored. Throws EConvertError "Invalid argument to date encode" for a
// date that does not exist, else "Invalid argument to time encode" for a time that does not.
DateTime UnpackDateTime(const TPackedDateTime& packed);

DateTime CurrentLocalDateTime();

}  // namespace fw

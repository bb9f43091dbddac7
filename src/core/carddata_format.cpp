#include "core/carddata_format.h"

#include <chrono>
#include <ctime>
#include <random>
#include <stdexcept>
#include <string>

#include "core/errors.h"
#include "core/texts.h"

namespace fw {

std::uint32_t RotateLeft32(std::uint32_t x) {
  return (x << 1) | (x >> 31);
}

std::uint8_t RotateLeft8(std::uint8_t x) {
  return static_cast<std::uint8_t>((x << 1) | (x >> 7));
}

std::uint32_t CalcChecksum(std::span<const std::uint8_t> data) {
  std::uint32_t s = 1;
  for (const std::uint8_t b : data) {
    s = RotateLeft32(s + b);
  }
  return s;
}

namespace {

void RequireRoom(std::span<const std::uint8_t> src, std::span<std::uint8_t> dst) {
  if (dst.size() < src.size()) {
    throw std::logic_error("scramble destination is shorter than its source");
  }
}

}  // namespace

void ScrambleBuffer(std::span<const std::uint8_t> src, std::span<std::uint8_t> dst,
                    std::uint8_t xorKey, std::uint8_t rotKey) {
  RequireRoom(src, dst);
  std::uint8_t k = rotKey;
  for (std::size_t i = 0; i < src.size(); ++i) {
    k = RotateLeft8(k);
    dst[i] = static_cast<std::uint8_t>((src[i] ^ xorKey) + k);
  }
}

TScrambleKeys DrawScrambleKeys() {
  const auto ticks = std::chrono::high_resolution_clock::now().time_since_epoch().count();
  std::mt19937 generator(static_cast<std::uint32_t>(ticks ^ (ticks >> 32)));
  std::uniform_int_distribution<int> below253(0, 252);
  TScrambleKeys keys;
  keys.xorKey = static_cast<std::uint8_t>(below253(generator) + 1);  // drawn first
  keys.rotKey = static_cast<std::uint8_t>(below253(generator) + 1);
  return keys;
}

void UnscrambleBuffer(std::span<const std::uint8_t> src, std::span<std::uint8_t> dst,
                      std::uint8_t xorKey, std::uint8_t rotKey) {
  RequireRoom(src, dst);
  std::uint8_t k = rotKey;
  for (std::size_t i = 0; i < src.size(); ++i) {
    k = RotateLeft8(k);
    dst[i] = static_cast<std::uint8_t>(static_cast<std::uint8_t>(src[i] - k) ^ xorKey);
  }
}

int DayOfWeek(int year, int month, int day) {
  // Sakamoto's method: 0 = Sunday.
  static constexpr int kMonthOffset[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  const int y = month < 3 ? year - 1 : year;
  const int weekday = (y + y / 4 - y / 100 + y / 400 + kMonthOffset[month - 1] + day) % 7;
  return weekday + 1;
}

namespace {

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

}  // namespace

bool IsValidDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) {
    return false;
  }
  return day <= DaysInMonth(year, month);
}

bool IsValidTime(int hour, int minute, int second) {
  return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
}

namespace {

// The date is tested before the time, with the platform's conversion texts.
void RequireExisting(const DateTime& value) {
  if (!IsValidDate(value.year, value.month, value.day)) {
    throw EConvertError(std::string(texts::kInvalidDateEncode));
  }
  if (!IsValidTime(value.hour, value.minute, value.second)) {
    throw EConvertError(std::string(texts::kInvalidTimeEncode));
  }
}

}  // namespace

TPackedDateTime PackDateTime(const DateTime& value) {
  // An impossible date would make every later opening of the card fail on this entry.
  RequireExisting(value);
  return {static_cast<std::uint8_t>(value.second),
          static_cast<std::uint8_t>(value.minute),
          static_cast<std::uint8_t>(value.hour),
          static_cast<std::uint8_t>(DayOfWeek(value.year, value.month, value.day)),
          static_cast<std::uint8_t>(value.day),
          static_cast<std::uint8_t>(value.month),
          static_cast<std::uint8_t>((value.year - 2000) & 0xFF)};
}

DateTime UnpackDateTime(const TPackedDateTime& packed) {
  DateTime value;
  value.year = 2000 + packed[6];
  value.month = packed[5];
  value.day = packed[4];
  value.hour = packed[2];
  value.minute = packed[1];
  value.second = packed[0];
  RequireExisting(value);
  return value;
}

DateTime CurrentLocalDateTime() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto sinceEpoch = now.time_since_epoch();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count() % 1000;
  const std::tm* const calendar = std::localtime(&seconds);
  if (calendar == nullptr) {
    throw EConvertError(std::string(texts::kInvalidDateEncode));
  }
  const std::tm local = *calendar;
  DateTime value;
  value.year = local.tm_year + 1900;
  value.month = local.tm_mon + 1;
  value.day = local.tm_mday;
  value.hour = local.tm_hour;
  value.minute = local.tm_min;
  value.second = local.tm_sec > 59 ? 59 : local.tm_sec;  // a leap second packs as :59
  value.millisecond = static_cast<int>(ms < 0 ? ms + 1000 : ms);
  return value;
}

}  // namespace fw

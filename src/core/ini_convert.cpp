#include "core/ini_convert.h"

#include <optional>
#include <string>

#include "core/control_chars.h"
#include "core/errors.h"
#include "core/message_format.h"
#include "core/texts.h"

namespace fw {
namespace {

std::optional<unsigned> HexDigit(char c) {
  if (c >= '0' && c <= '9')
    return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f')
    return static_cast<unsigned>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F')
    return static_cast<unsigned>(c - 'A' + 10);
  return std::nullopt;
}

// Hex digits up to 32 bits; leading zeros do not count against the limit.
std::optional<std::uint32_t> ParseHex(std::string_view digits) {
  if (digits.empty())
    return std::nullopt;
  std::uint64_t value = 0;
  for (char c : digits) {
    auto d = HexDigit(c);
    if (!d)
      return std::nullopt;
    value = value * 16 + *d;
    if (value > 0xFFFFFFFFu)
      return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

std::optional<std::int32_t> ParseDecimal(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty())
    return std::nullopt;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9')
      return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > 2147483648LL)
      return std::nullopt;
  }
  if (negative)
    value = -value;
  if (value > 2147483647LL)
    return std::nullopt;
  return static_cast<std::int32_t>(value);
}

std::optional<std::int32_t> Parse(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  std::string_view digits;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    digits = text.substr(2);
  } else if (text.starts_with('$') || text.starts_with('x') || text.starts_with('X')) {
    digits = text.substr(1);
  } else {
    return ParseDecimal(text);
  }
  auto value = ParseHex(digits);
  if (!value)
    return std::nullopt;
  return static_cast<std::int32_t>(*value);
}

}  // namespace

std::int32_t StrToInt(std::string_view text) {
  if (auto value = Parse(text))
    return *value;
  throw NotValidInteger(text);
}

EConvertError NotValidInteger(std::string_view text) {
  return EConvertError(FormatMessage(texts::kNotValidInteger, {EscapeControlChars(text)}));
}

}  // namespace fw

// The general integer conversion of the system's texts (catalogue values, HEX fields).
#pragma once

#include <cstdint>
#include <string_view>

namespace fw {

// Decimal with an optional sign, or hexadecimal after "0x", "0X", "$", "x" or "X" (digits in
// either case, up to 32 bits; values above 0x7FFFFFFF keep their bit pattern), leading blanks
// allowed. Anything else, an empty text included, raises EConvertError
// "'%s' is not a valid integer value" with the text as given.
std::int32_t StrToInt(std::string_view text);

}  // namespace fw

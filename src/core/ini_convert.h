// The general integer conversion of the system's texts (catalogue values, HEX fields).
#pragma once

#include <cstdint>
#include <string_view>

#include "core/errors.h"

namespace fw {

// Decimal with an optional sign, or hexadecimal after "0x", "0X", "$", "x" or "X" (digits in
// either case, up to 32 bits; values above 0x7FFFFFFF keep their bit pattern), leading blanks
// allowed. Anything else, an empty text included, raises NotValidInteger(text).
std::int32_t StrToInt(std::string_view text);

// "'%s' is not a valid integer value" with the text as given, its control characters escaped:
// the text comes from a file (a catalogue, a HEX file) and the message goes to a terminal.
EConvertError NotValidInteger(std::string_view text);

}  // namespace fw

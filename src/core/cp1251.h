// Windows-1251, the single-byte code page of the card's texts and of catalogues from the field.
// Texts inside the program are UTF-8; conversion happens only at those boundaries.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace fw {

// The Windows-1251 bytes of a UTF-8 text. When a character has no Windows-1251 byte (or the text
// is not valid UTF-8), returns nothing and, when given, stores that character in *offending.
std::optional<std::string> Utf8ToCp1251(std::string_view utf8, std::string* offending = nullptr);

// The UTF-8 text of Windows-1251 bytes; every byte has a character (0x98 maps to U+FFFD).
std::string Cp1251ToUtf8(std::string_view bytes);

bool IsValidUtf8(std::string_view bytes);

// Characters (code points) in a valid UTF-8 text.
std::size_t Utf8Length(std::string_view utf8);

// The first `maxChars` characters (code points) of a UTF-8 text.
std::string_view Utf8Prefix(std::string_view utf8, std::size_t maxChars);

}  // namespace fw

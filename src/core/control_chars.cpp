#include "core/control_chars.h"

#include <cstdio>

namespace fw {

std::string EscapeControlChars(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const auto byte = static_cast<unsigned char>(c);
    char escaped[8];
    if (c == '\t') {
      out += "\\t";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (IsControlChar(c)) {
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      out += escaped;
    } else if (byte == 0xC2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      std::snprintf(escaped, sizeof escaped, "\\u%04x",
                    static_cast<unsigned>(static_cast<unsigned char>(text[i + 1])));
      out += escaped;
      ++i;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace fw

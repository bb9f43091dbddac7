// Control characters in texts that come from a card or a catalogue: a terminal acts on them
// (ESC starts a sequence that can clear or rewrite the screen, CR returns to the line's start)
// instead of showing them.
#pragma once

#include <string>
#include <string_view>

namespace fw {

// The C0 controls 0x00..0x1F and DEL 0x7F.
constexpr bool IsControlChar(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

// The UTF-8 text with each control character written visibly: TAB, LF and CR as \t, \n and \r,
// every other C0 control and DEL as \x followed by two lower-case hex digits (ESC is \x1b), and
// the C1 controls U+0080..U+009F as \u0080..\u009f. Everything else, a backslash included, stays
// as it is.
std::string EscapeControlChars(std::string_view text);

}  // namespace fw

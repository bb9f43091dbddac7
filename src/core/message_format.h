// Formatting of the system's message templates: %s (text or one character), %d (signed),
// %u (unsigned), %x / %.Nx (upper-case hexadecimal, at least N digits) and %%.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace fw {

using MessageArg = std::variant<std::string, char, std::int64_t, std::uint64_t>;

// Throws std::logic_error when the template and the arguments do not match:
// every template of the system matches its callers, so a mismatch is a programming error.
std::string FormatMessage(std::string_view format, std::span<const MessageArg> args);

inline std::string FormatMessage(std::string_view format, std::initializer_list<MessageArg> args) {
  return FormatMessage(format, std::span<const MessageArg>(args.begin(), args.size()));
}

}  // namespace fw

#include "core/message_format.h"

#include <cstdio>
#include <stdexcept>

namespace fw {
namespace {

[[noreturn]] void Mismatch(std::string_view format) {
  throw std::logic_error("message template does not match its arguments: " + std::string(format));
}

std::string AsText(const MessageArg& arg, std::string_view format) {
  if (const auto* s = std::get_if<std::string>(&arg))
    return *s;
  if (const auto* c = std::get_if<char>(&arg))
    return std::string(1, *c);
  Mismatch(format);
}

std::int64_t AsSigned(const MessageArg& arg, std::string_view format) {
  if (const auto* i = std::get_if<std::int64_t>(&arg))
    return *i;
  if (const auto* u = std::get_if<std::uint64_t>(&arg))
    return static_cast<std::int64_t>(*u);
  Mismatch(format);
}

std::uint64_t AsUnsigned(const MessageArg& arg, std::string_view format) {
  if (const auto* u = std::get_if<std::uint64_t>(&arg))
    return *u;
  // A signed value shown as unsigned keeps its 32-bit pattern, as the system's %u and %x do.
  if (const auto* i = std::get_if<std::int64_t>(&arg)) {
    return *i < 0 ? static_cast<std::uint32_t>(*i) : static_cast<std::uint64_t>(*i);
  }
  Mismatch(format);
}

}  // namespace

std::string FormatMessage(std::string_view format, std::span<const MessageArg> args) {
  std::string out;
  out.reserve(format.size() + 16);
  std::size_t next = 0;
  auto take = [&]() -> const MessageArg& {
    if (next >= args.size())
      Mismatch(format);
    return args[next++];
  };
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      out += format[i];
      continue;
    }
    if (++i >= format.size())
      Mismatch(format);
    if (format[i] == '%') {
      out += '%';
      continue;
    }
    int precision = 0;
    if (format[i] == '.') {
      while (++i < format.size() && format[i] >= '0' && format[i] <= '9') {
        precision = precision * 10 + (format[i] - '0');
      }
      if (i >= format.size())
        Mismatch(format);
    }
    char buffer[32];
    switch (format[i]) {
      case 's':
        out += AsText(take(), format);
        break;
      case 'd':
        std::snprintf(buffer, sizeof buffer, "%lld",
                      static_cast<long long>(AsSigned(take(), format)));
        out += buffer;
        break;
      case 'u':
        std::snprintf(buffer, sizeof buffer, "%llu",
                      static_cast<unsigned long long>(AsUnsigned(take(), format)));
        out += buffer;
        break;
      case 'x':
      case 'X':
        std::snprintf(buffer, sizeof buffer, "%.*llX", precision,
                      static_cast<unsigned long long>(AsUnsigned(take(), format)));
        out += buffer;
        break;
      default:
        Mismatch(format);
    }
  }
  if (next != args.size())
    Mismatch(format);
  return out;
}

}  // namespace fw

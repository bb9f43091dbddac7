#include <unistd.h>

#include <iostream>

#include "platform/console.h"

namespace fw::platform {

bool IsTerminal(std::FILE* stream) {
  return stream != nullptr && ::isatty(::fileno(stream)) == 1;
}

std::vector<std::string> CommandLineUtf8(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

std::ostream& Utf8Out() {
  return std::cout;
}

std::ostream& Utf8Err() {
  return std::cerr;
}

}  // namespace fw::platform

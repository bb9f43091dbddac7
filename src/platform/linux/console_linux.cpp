#include <unistd.h>

#include "platform/console.h"

namespace fw::platform {

bool IsTerminal(std::FILE* stream) {
  return stream != nullptr && ::isatty(::fileno(stream)) == 1;
}

std::vector<std::string> CommandLineUtf8(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

void UseUtf8Console() {}

}  // namespace fw::platform

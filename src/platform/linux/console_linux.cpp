#include <unistd.h>

#include "platform/console.h"

namespace fw::platform {

bool IsTerminal(std::FILE* stream) {
  return stream != nullptr && ::isatty(::fileno(stream)) == 1;
}

void UseUtf8Console() {}

}  // namespace fw::platform

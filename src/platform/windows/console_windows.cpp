#include <io.h>
#include <windows.h>

#include "platform/console.h"

namespace fw::platform {

bool IsTerminal(std::FILE* stream) {
  return stream != nullptr && ::_isatty(::_fileno(stream)) != 0;
}

void UseUtf8Console() {
  ::SetConsoleOutputCP(CP_UTF8);
}

}  // namespace fw::platform

#include <io.h>
#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include <memory>

#include "platform/console.h"

namespace fw::platform {

bool IsTerminal(std::FILE* stream) {
  return stream != nullptr && ::_isatty(::_fileno(stream)) != 0;
}

namespace {

std::string Utf8OfWide(const wchar_t* text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1)
    return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  out.pop_back();  // the terminating zero
  return out;
}

struct LocalFreeDeleter {
  void operator()(wchar_t** p) const { ::LocalFree(p); }
};

}  // namespace

std::vector<std::string> CommandLineUtf8(int argc, char** argv) {
  int count = 0;
  const std::unique_ptr<wchar_t*, LocalFreeDeleter> wide(
      ::CommandLineToArgvW(::GetCommandLineW(), &count));
  if (!wide)
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i)
    args.push_back(Utf8OfWide(wide.get()[i]));
  return args;
}

void UseUtf8Console() {
  ::SetConsoleOutputCP(CP_UTF8);
}

}  // namespace fw::platform

#include <windows.h>

#include <cstdlib>
#include <string>

#include "platform/process.h"

namespace fw::platform {

std::filesystem::path ExecutableDir() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0)
      return std::filesystem::current_path();
    if (length < buffer.size()) {
      buffer.resize(length);
      return std::filesystem::path(buffer).parent_path();
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::filesystem::path UserConfigDir() {
  const wchar_t* appData = _wgetenv(L"APPDATA");
  if (appData == nullptr || *appData == L'\0')
    return {};
  return std::filesystem::path(appData);
}

bool SetCurrentDir(const std::filesystem::path& dir) {
  return SetCurrentDirectoryW(dir.c_str()) != 0;
}

}  // namespace fw::platform

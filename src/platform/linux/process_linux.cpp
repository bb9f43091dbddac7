#include <unistd.h>

#include <cstdlib>
#include <system_error>

#include "platform/process.h"

namespace fw::platform {

std::filesystem::path ExecutableDir() {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error)
    return std::filesystem::current_path();
  return self.parent_path();
}

std::filesystem::path UserConfigDir() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && std::filesystem::path(xdg).is_absolute())
    return xdg;
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0')
    return {};
  return std::filesystem::path(home) / ".config";
}

bool SetCurrentDir(const std::filesystem::path& dir) {
  return ::chdir(dir.c_str()) == 0;
}

}  // namespace fw::platform

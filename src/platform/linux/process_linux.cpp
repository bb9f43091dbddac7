#include <unistd.h>

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

bool SetCurrentDir(const std::filesystem::path& dir) {
  return ::chdir(dir.c_str()) == 0;
}

}  // namespace fw::platform

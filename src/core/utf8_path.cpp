#include "core/utf8_path.h"

#include <string>
#include <system_error>

namespace fw {

std::filesystem::path PathOfUtf8(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8OfPath(const std::filesystem::path& path) {
  const std::u8string utf8 = path.u8string();
  return std::string(utf8.begin(), utf8.end());
}

bool IsExistingFile(std::string_view utf8) {
  if (utf8.empty())
    return false;
  std::error_code error;
  const auto status = std::filesystem::status(PathOfUtf8(utf8), error);
  return !error && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

}  // namespace fw

#include "platform/file_device.h"

#include <string>

namespace fw::platform {
namespace {

class FileKindCategory final : public std::error_category {
 public:
  const char* name() const noexcept override { return "file kind"; }
  std::string message(int) const override { return "not a regular file"; }
};

}  // namespace

std::error_code NotRegularFileError() {
  static const FileKindCategory category;
  return {1, category};
}

}  // namespace fw::platform

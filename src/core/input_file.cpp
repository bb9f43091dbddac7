#include "core/input_file.h"

#include <memory>
#include <span>
#include <system_error>

#include "core/errors.h"
#include "platform/file_device.h"

namespace fw {

std::string ReadInputFile(const std::string& path) {
  std::unique_ptr<platform::FileDevice> file;
  try {
    file = platform::OpenForRead(path);
  } catch (const std::system_error& e) {
    throw EFOpenError(path, e.code());
  }
  try {
    const std::uint64_t size = file->Size();
    if (size > kMaxInputFileBytes)
      throw EFileTooLarge(path, size);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    const std::size_t got =
        file->ReadAt(0, std::span(reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()));
    bytes.resize(got);  // a file that shrank meanwhile is read as it is now
    return bytes;
  } catch (const std::system_error& e) {
    throw EInOutError(path, e.code().message());
  }
}

}  // namespace fw

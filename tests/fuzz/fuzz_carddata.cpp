// Any bytes as a card data file: opening it read-only, reading its directory and its free space
// never read outside the file and fail only with the system's errors.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "core/carddata_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = (std::filesystem::temp_directory_path() /
                                   ("fuzz_carddata_" + std::to_string(getpid()) + ".rgd"))
                                      .string();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  try {
    fw::TRgdFile file(path, fw::TRgdFile::Mode::ReadOnly);
    for (int i = 0; i < file.EntryCount(); ++i)
      (void)file.GetEntry(i);
    (void)file.FreeSpace();
  } catch (const std::runtime_error&) {
  }
  return 0;
}

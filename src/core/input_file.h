// Input files read whole into memory: the HEX file and the device catalogue.
#pragma once

#include <cstdint>
#include <string>

namespace fw {

// No real HEX file or catalogue comes near this (a full dsPIC30F image is under 2 MiB); a larger
// one is refused before a byte of it is read.
inline constexpr std::uint64_t kMaxInputFileBytes = std::uint64_t{64} * 1024 * 1024;

// The whole content of the regular file at the UTF-8 path. EFOpenError with the reason when it
// cannot be opened or is no regular file (a folder, a FIFO, a device), EFileTooLarge above
// kMaxInputFileBytes, EInOutError when reading fails.
std::string ReadInputFile(const std::string& path);

}  // namespace fw

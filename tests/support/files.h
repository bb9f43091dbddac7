// Whole-file reads and writes for tests. A file that cannot be read reads as empty.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fw::test {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);
std::string ReadText(const std::filesystem::path& path);
// Makes the file's folder first where it is missing.
void WriteText(const std::filesystem::path& path, std::string_view text);

}  // namespace fw::test

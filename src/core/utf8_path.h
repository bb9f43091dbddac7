// File system paths from the UTF-8 texts the program keeps its paths in.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace fw {

// The path that the UTF-8 text names, on every system (a plain char path would be read in the
// system's narrow code page on Windows).
std::filesystem::path PathOfUtf8(std::string_view utf8);

// The UTF-8 text of a path, the inverse of PathOfUtf8 (path::string() would give the system's
// narrow code page on Windows, and fail for characters it lacks).
std::string Utf8OfPath(const std::filesystem::path& path);

// The UTF-8 path names something that exists and is not a folder; false for an empty path and
// when the file system cannot tell.
bool IsExistingFile(std::string_view utf8);

}  // namespace fw

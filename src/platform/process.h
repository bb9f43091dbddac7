// Process-wide helpers: the folder of the running executable and the current directory.
#pragma once

#include <filesystem>

namespace fw::platform {

// The folder that holds the running executable.
std::filesystem::path ExecutableDir();

// Moves the process's current directory; returns whether it succeeded.
bool SetCurrentDir(const std::filesystem::path& dir);

}  // namespace fw::platform

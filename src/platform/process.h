// Process-wide helpers: the folder of the running executable, the user's configuration folder
// and the current directory.
#pragma once

#include <filesystem>

namespace fw::platform {

// The folder that holds the running executable.
std::filesystem::path ExecutableDir();

// The user's configuration folder: $XDG_CONFIG_HOME (an absolute path) or ~/.config on Linux,
// %APPDATA% on Windows; empty when the environment names none.
std::filesystem::path UserConfigDir();

// Moves the process's current directory; returns whether it succeeded.
bool SetCurrentDir(const std::filesystem::path& dir);

// Moves the current directory to the program's folder, so that it keeps no card busy: a volume
// that is the current directory of a process cannot be formatted or ejected. The front ends call
// it before they list the cards and before they eject one. Where the system refuses, the
// directory stays where it was and the format or eject that follows tells what went wrong.
inline bool LeaveForExecutableDir() {
  return SetCurrentDir(ExecutableDir());
}

}  // namespace fw::platform

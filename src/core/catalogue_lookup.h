// Where the device catalogue (DEV_LIST.dat) is found. The command line and the window look in
// the same places, in this order: the file the user names (--catalogue); beside the executable
// (portable copies and Windows); the user's own copy in the user's configuration folder; the
// installed layout, ../share/fwupdater beside the executable's folder.
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/catalogue.h"

namespace fw {

// The folders the platform offers for the catalogue.
struct CatalogueFolders {
  std::filesystem::path executableDir;
  std::filesystem::path userConfigDir;  // empty: the platform has none
};

// The folders of the running program: its executable's folder and
// $XDG_CONFIG_HOME/fwupdater (~/.config/fwupdater) or %APPDATA%\fwupdater.
CatalogueFolders SystemCatalogueFolders();

// The paths to try in order: only `named` when it is given, otherwise the catalogue beside the
// executable, in the user's folder and in the installed layout.
std::vector<std::filesystem::path> CatalogueCandidates(const std::filesystem::path& named,
                                                       const CatalogueFolders& folders);

struct CatalogueLookup {
  std::vector<std::filesystem::path> tried;    // every candidate, in order
  std::optional<std::filesystem::path> found;  // the first candidate that exists
};

CatalogueLookup FindCatalogue(const std::filesystem::path& named, const CatalogueFolders& folders);

// A catalogue that cannot be used: none found, unreadable or without a device. The message names
// the reason and every path tried.
class ECatalogueUnusable : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The devices of the catalogue found; ECatalogueUnusable when there is none, it cannot be read
// (a value that is not an integer, a file that is no regular file, ...) or it holds no device.
std::vector<DeviceEntry> LoadFoundCatalogue(const CatalogueLookup& lookup);

}  // namespace fw

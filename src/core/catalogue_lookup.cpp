#include "core/catalogue_lookup.h"

#include <system_error>
#include <utility>

#include "core/message_format.h"
#include "core/texts.h"
#include "core/utf8_path.h"
#include "platform/process.h"

namespace fw {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kCatalogueFileName = "DEV_LIST.dat";
constexpr std::string_view kProgramFolder = "fwupdater";

// The reason followed by the paths tried, one a line.
ECatalogueUnusable Unusable(std::string_view reason, const std::vector<fs::path>& tried) {
  std::string paths;
  for (const fs::path& path : tried)
    paths += "\n\r  " + Utf8OfPath(path);
  return ECatalogueUnusable(
      FormatMessage(texts::kCataloguePathsTried, {std::string(reason), paths}));
}

}  // namespace

CatalogueFolders SystemCatalogueFolders() {
  const fs::path config = platform::UserConfigDir();
  return {.executableDir = platform::ExecutableDir(),
          .userConfigDir = config.empty() ? fs::path() : config / kProgramFolder};
}

std::vector<fs::path> CatalogueCandidates(const fs::path& named, const CatalogueFolders& folders) {
  if (!named.empty())
    return {named};
  std::vector<fs::path> candidates = {folders.executableDir / kCatalogueFileName};
  if (!folders.userConfigDir.empty())
    candidates.push_back(folders.userConfigDir / kCatalogueFileName);
  // <prefix>/bin/fwupdater finds <prefix>/share/fwupdater/DEV_LIST.dat.
  candidates.push_back(folders.executableDir.parent_path() / "share" / kProgramFolder /
                       kCatalogueFileName);
  return candidates;
}

CatalogueLookup FindCatalogue(const fs::path& named, const CatalogueFolders& folders) {
  CatalogueLookup lookup{.tried = CatalogueCandidates(named, folders), .found = {}};
  for (const fs::path& candidate : lookup.tried) {
    std::error_code ec;
    // Anything there counts, so that an unreadable copy is reported rather than passed over.
    if (fs::exists(candidate, ec)) {
      lookup.found = candidate;
      break;
    }
  }
  return lookup;
}

std::vector<DeviceEntry> LoadFoundCatalogue(const CatalogueLookup& lookup) {
  if (!lookup.found)
    throw Unusable(texts::kCatalogueNotFound, lookup.tried);
  const std::string path = Utf8OfPath(*lookup.found);
  std::vector<DeviceEntry> devices;
  try {
    LoadDeviceList(path, devices);
  } catch (const std::runtime_error& error) {
    throw Unusable(error.what(), lookup.tried);
  }
  if (devices.empty())
    throw Unusable(FormatMessage(texts::kCatalogueEmpty, {path}), lookup.tried);
  return devices;
}

}  // namespace fw

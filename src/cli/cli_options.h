// The option groups that several commands share: the device catalogue (--catalogue, --device),
// the card's sections (--sessions, --extended-mb) and --json.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/catalogue.h"
#include "core/preparation.h"

namespace CLI {
class App;
}

namespace fw::cli {

// --catalogue PATH and --device N|NAME of a command.
struct DeviceOptions {
  std::string catalogue;  // empty: the catalogue lookup order (core/catalogue_lookup.h)
  std::string device;     // empty: the first device
};

void AddCatalogueOption(CLI::App& command, DeviceOptions& options);
// --catalogue and --device.
void AddDeviceOptions(CLI::App& command, DeviceOptions& options);

// The devices of the catalogue that --catalogue names or the lookup order finds. None found, an
// unreadable one or one without a device fails with a message naming the paths tried.
std::vector<DeviceEntry> LoadCatalogue(const DeviceOptions& options);
// The catalogue's path as the lookup finds it (the first path tried when none is found).
std::string CataloguePath(const DeviceOptions& options);

// The lookup order in words, for --help.
extern const std::string_view kCatalogueLookupHelp;

// The 0-based index of the device the options name; the first device by default, -1 when the
// catalogue is empty. A --device that names no device of the catalogue fails with a message
// naming it and the catalogue.
int SelectDevice(const std::vector<DeviceEntry>& devices, const DeviceOptions& options);

// --sessions S and --extended-mb X of a command that makes a card data file.
struct SectionOptions {
  std::uint32_t sessions = kDefaultSessions;
  std::optional<std::uint32_t> extendedMb;  // nothing: the default for the file's size
};

// The two options; extendedDescription says how the command defaults and limits the section.
void AddSectionOptions(CLI::App& command, SectionOptions& options,
                       std::string_view extendedDescription);

// --json, described as the command prints it.
void AddJsonFlag(CLI::App& command, bool& json, std::string_view description);

}  // namespace fw::cli

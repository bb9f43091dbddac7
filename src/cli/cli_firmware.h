// Commands about firmware files and the device catalogue: `devices` and `hexinfo`, and the
// catalogue options that `write` and `extract` share with them.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "core/catalogue.h"

namespace fw::cli {

void AddFirmwareCommands(CLI::App& app);

// --catalogue PATH and --device N|NAME of a command.
struct DeviceOptions {
  std::string catalogue;  // empty: DEV_LIST.dat beside the executable
  std::string device;     // empty: the first device
};

void AddCatalogueOption(CLI::App& command, DeviceOptions& options);
void AddDeviceOptions(CLI::App& command, DeviceOptions& options);

// The catalogue the options name (a missing file gives an empty list, as in the window).
std::vector<DeviceEntry> LoadCatalogue(const DeviceOptions& options);
std::string CataloguePath(const DeviceOptions& options);

// The 0-based index of the device the options name; the first device by default, -1 when the
// catalogue is empty. A --device that names no device of the catalogue fails with a message
// naming it and the catalogue.
int SelectDevice(const std::vector<DeviceEntry>& devices, const DeviceOptions& options);

}  // namespace fw::cli

// Commands about firmware files and the device catalogue: `devices` and `hexinfo`.
#pragma once

#include <string>

#include "cli/cli_options.h"

namespace CLI {
class App;
}

namespace fw::cli {

struct CliServices;

struct DevicesOptions {
  DeviceOptions catalogue;  // only its --catalogue
  bool json = false;
};

void AddDevicesOptions(CLI::App& command, DevicesOptions& options);
int RunDevices(const DevicesOptions& options, const CliServices& services);

struct HexInfoOptions {
  std::string hex;
  DeviceOptions device;
  bool json = false;
};

void AddHexInfoOptions(CLI::App& command, HexInfoOptions& options);
int RunHexInfo(const HexInfoOptions& options, const CliServices& services);

}  // namespace fw::cli

// The card commands of the command line: `drives`, `prepare` and `eject`. They work on the
// volumes that the services make.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli/cli_options.h"

namespace CLI {
class App;
}

namespace fw::cli {

struct CliServices;

struct DrivesOptions {
  bool json = false;
};

void AddDrivesOptions(CLI::App& command, DrivesOptions& options);
int RunDrives(const DrivesOptions& options, const CliServices& services);

struct PrepareOptions {
  std::string drive;
  std::optional<std::uint32_t> sizeMb;  // nothing: the whole drive
  SectionOptions sections;
  bool noFormat = false;
  bool force = false;
  bool yes = false;
};

void AddPrepareOptions(CLI::App& command, PrepareOptions& options);
int RunPrepare(const PrepareOptions& options, const CliServices& services);

struct EjectOptions {
  std::string path;
};

void AddEjectOptions(CLI::App& command, EjectOptions& options);
int RunEject(const EjectOptions& options, const CliServices& services);

}  // namespace fw::cli

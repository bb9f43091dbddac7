// The card commands of the command line: `drives`, `prepare` and `eject`.
#pragma once

#include <CLI/CLI.hpp>

namespace fw::cli {

// Adds `drives [--json]`, `prepare DRIVE [--size-mb N] [--sessions S] [--extended-mb X]
// [--no-format [--force]] [--yes]` and `eject PATH`. The volumes are the system's, or the fake
// cards of the folder named by FWUPDATER_FAKE_VOLUMES (a testing hook).
void AddVolumeCommands(CLI::App& app);

}  // namespace fw::cli

// fwupdater: the command-line front end. Every command runs to completion and ends with an exit
// code: 0 success, 1 the command failed (the system's message on stderr), 2 a usage error,
// 3 a write whose entry is on the card but could not be read back.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli_card.h"
#include "cli/cli_common.h"
#include "cli/cli_firmware.h"
#include "cli/cli_volumes.h"
#include "cli/cli_write.h"
#include "core/errors.h"
#include "platform/console.h"

namespace {

int Run(int argc, char** argv) {
  CLI::App app{
      "Firmware Updater: packs firmware updates for the НУБРА-7 recorders into the card data "
      "file of their MMC card; lists, verifies and extracts them; prepares and ejects the card.",
      "fwupdater"};
  app.require_subcommand(1, 1);
  app.footer(
      "Every command has --help. Messages are the system's Russian texts, UTF-8.\n"
      "Exit codes: 0 success; 1 the command failed or was refused (the message on stderr, the "
      "card data file unchanged); 2 the command line was wrong; 3 (write) the entry was written "
      "(its ID on stdout) but reading the card back afterwards failed (on stderr): do not "
      "repeat the write.\n"
      "Environment: FWUPDATER_FAKE_VOLUMES=DIR makes drives, prepare and eject work on fake "
      "cards, one for each sub-folder of DIR (for tests).");
  fw::cli::AddCardCommands(app);
  fw::cli::AddFirmwareCommands(app);
  fw::cli::AddWriteCommands(app);
  fw::cli::AddVolumeCommands(app);

  try {
    // CLI11 takes the arguments last first.
    std::vector<std::string> args = fw::platform::CommandLineUtf8(argc, argv);
    std::reverse(args.begin(), args.end());
    app.parse(args);
  } catch (const CLI::ParseError& error) {
    // --help and --version end here too, with code 0.
    return app.exit(error) == 0 ? fw::cli::kExitOk : fw::cli::kExitUsage;
  }
  return fw::cli::kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  fw::platform::UseUtf8Console();
  try {
    return Run(argc, argv);
  } catch (const fw::cli::CommandExit& exit) {
    return exit.code;
  } catch (const std::exception& error) {
    std::cerr << fw::cli::TerminalText(error.what()) << '\n';
    return fw::cli::kExitFailed;
  }
}

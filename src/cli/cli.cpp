// The commands of fwupdater in one table: each has its options, a function that adds them to
// its subcommand and a function that runs it with them once the command line is parsed.
#include "cli/cli.h"

#include <CLI/CLI.hpp>

#include <exception>
#include <string_view>
#include <vector>

#include "cli/cli_card.h"
#include "cli/cli_common.h"
#include "cli/cli_firmware.h"
#include "cli/cli_options.h"
#include "cli/cli_volumes.h"
#include "cli/cli_write.h"
#include "core/version.h"

namespace fw::cli {

namespace {

// The options of every command; the parse fills those of the command given.
struct CommandLineOptions {
  CreateOptions create;
  CardFileOptions list;
  CardFileOptions verify;
  DevicesOptions devices;
  HexInfoOptions hexinfo;
  WriteOptions write;
  ExtractOptions extract;
  DrivesOptions drives;
  PrepareOptions prepare;
  EjectOptions eject;
};

struct Command {
  std::string_view name;
  std::string_view description;
  void (*add)(CLI::App& command, CommandLineOptions& options);
  int (*run)(const CommandLineOptions& options, const CliServices& services);
};

// A command whose options are `member` of CommandLineOptions.
template <auto member, auto add, auto run>
constexpr Command MakeCommand(std::string_view name, std::string_view description) {
  return {name, description,
          [](CLI::App& command, CommandLineOptions& options) { add(command, options.*member); },
          [](const CommandLineOptions& options, const CliServices& services) {
            return run(options.*member, services);
          }};
}

using O = CommandLineOptions;

// In the order `--help` lists them.
constexpr Command kCommands[] = {
    MakeCommand<&O::create, AddCreateOptions, RunCreate>(
        "create",
        "Create a new card data file: the header page followed by zero-filled pages (a progress "
        "bar on a terminal; Ctrl+C, SIGTERM or SIGHUP stops and deletes the partial file)."),
    MakeCommand<&O::list, AddListOptions, RunList>("list", "List the entries of a card data file."),
    MakeCommand<&O::verify, AddVerifyOptions, RunVerify>(
        "verify",
        "Read every entry from the card itself (past the system's cache) as the recorder does: "
        "unscramble the payloads and check the three payload checksums and the header checksum; "
        "check the file's size against its header (\"size\") and look for entries hidden after "
        "the end of the chain (\"orphaned entries\"). Exit code 0 when all hold, 1 otherwise."),
    MakeCommand<&O::devices, AddDevicesOptions, RunDevices>(
        "devices", "List the devices of the catalogue with their numbers and memory maps."),
    MakeCommand<&O::hexinfo, AddHexInfoOptions, RunHexInfo>(
        "hexinfo", "Show which addresses a HEX file fills in each memory of a device."),
    MakeCommand<&O::write, AddWriteOptions, RunWrite>(
        "write",
        "Append a firmware update to a card data file: the device's FLASH, EEPROM and CONFIG "
        "images of a HEX file, checked against its application ranges."),
    MakeCommand<&O::extract, AddExtractOptions, RunExtract>(
        "extract",
        "Write an entry's plain payloads (flash.bin, eeprom.bin, config.bin) and the entry as an "
        "Intel HEX file (firmware.hex) into a folder."),
    MakeCommand<&O::drives, AddDrivesOptions, RunDrives>(
        "drives",
        "List the removable drives that hold a card, as the preparation dialog does (none: a "
        "message on stderr, exit code 0)."),
    MakeCommand<&O::prepare, AddPrepareOptions, RunPrepare>(
        "prepare",
        "Prepare a card: unless it is empty, format it to FAT after confirmation, then create "
        "data.rgd in its root (Ctrl+C, SIGTERM or SIGHUP stops and deletes the partial file)."),
    MakeCommand<&O::eject, AddEjectOptions, RunEject>(
        "eject",
        "Release and eject the card that holds PATH, so that it can be pulled out safely. A path "
        "on no removable card: nothing is done, a message says so (exit code 1)."),
};

int ParseAndRun(std::span<const std::string> args, const CliServices& services) {
  CLI::App app{
      "Firmware Updater: packs firmware updates for the НУБРА-7 recorders into the card data "
      "file of their MMC card; lists, verifies and extracts them; prepares and ejects the card.",
      "fwupdater"};
  app.require_subcommand(1, 1);
  app.set_version_flag("--version", std::string(kProgramName) + " " + std::string(kVersion),
                       "Print the program's name and version and exit");
  app.footer(
      "Every command has --help. Messages are the system's Russian texts, UTF-8.\n" +
      std::string(kCatalogueLookupHelp) +
      "\n"
      "Exit codes: 0 success; 1 the command failed or was refused (the message on stderr, the "
      "card data file unchanged); 2 the command line was wrong; 3 (write) the entry was written "
      "(its ID on stdout) but reading the card back afterwards failed (on stderr): do not "
      "repeat the write.");
  CommandLineOptions options;
  for (const Command& command : kCommands)
    command.add(*app.add_subcommand(std::string(command.name), std::string(command.description)),
                options);

  try {
    // CLI11 takes the arguments last first.
    app.parse(std::vector<std::string>(args.rbegin(), args.rend()));
  } catch (const CLI::ParseError& error) {
    // --help and --version end here too, with code 0.
    return app.exit(error, services.out, services.err) == 0 ? kExitOk : kExitUsage;
  }
  for (const Command& command : kCommands) {
    if (app.got_subcommand(std::string(command.name)))
      return command.run(options, services);
  }
  return kExitUsage;  // not reached: the parse requires one command
}

}  // namespace

int RunCli(std::span<const std::string> args, const CliServices& services) {
  try {
    return ParseAndRun(args, services);
  } catch (const std::exception& error) {
    services.err << TerminalText(error.what()) << '\n';
    return kExitFailed;
  }
}

}  // namespace fw::cli

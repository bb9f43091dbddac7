#include "cli/cli_options.h"

#include <CLI/CLI.hpp>

#include <stdexcept>

#include "core/catalogue_lookup.h"
#include "core/message_format.h"
#include "core/preparation.h"
#include "core/texts.h"
#include "core/utf8_path.h"

namespace fw::cli {

void AddCatalogueOption(CLI::App& command, DeviceOptions& options) {
  command
      .add_option("--catalogue", options.catalogue,
                  "Device catalogue (default: the first DEV_LIST.dat of the lookup order, see "
                  "fwupdater --help)")
      ->type_name("FILE");
}

void AddDeviceOptions(CLI::App& command, DeviceOptions& options) {
  AddCatalogueOption(command, options);
  command
      .add_option("--device", options.device,
                  "Device: its number as `devices` prints it, or its exact name "
                  "(default: the first device)")
      ->type_name("N|NAME");
}

const std::string_view kCatalogueLookupHelp =
    "The device catalogue is the first of: the file --catalogue names; DEV_LIST.dat beside the "
    "program; the user's copy, $XDG_CONFIG_HOME/fwupdater/DEV_LIST.dat "
    "(~/.config/fwupdater/DEV_LIST.dat; %APPDATA%\\fwupdater\\DEV_LIST.dat on Windows); "
    "../share/fwupdater/DEV_LIST.dat beside the program's folder (the installed layout). A "
    "command that needs it and finds none, an unreadable one or one without a device names the "
    "paths tried and exits with 1.";

namespace {

CatalogueLookup Lookup(const DeviceOptions& options) {
  return FindCatalogue(PathOfUtf8(options.catalogue), SystemCatalogueFolders());
}

}  // namespace

std::string CataloguePath(const DeviceOptions& options) {
  const CatalogueLookup lookup = Lookup(options);
  return Utf8OfPath(lookup.found ? *lookup.found : lookup.tried.front());
}

std::vector<DeviceEntry> LoadCatalogue(const DeviceOptions& options) {
  return LoadFoundCatalogue(Lookup(options));
}

int SelectDevice(const std::vector<DeviceEntry>& devices, const DeviceOptions& options) {
  if (options.device.empty())
    return devices.empty() ? -1 : 0;
  const auto index = FindDevice(devices, options.device);
  if (!index)
    throw std::runtime_error(
        FormatMessage(texts::kUnknownDevice, {options.device, CataloguePath(options)}));
  return static_cast<int>(*index);
}

void AddSectionOptions(CLI::App& command, SectionOptions& options,
                       std::string_view extendedDescription) {
  // Any positive whole number, as in the preparation dialog; the help names the usual choices.
  std::string usual;
  for (const std::uint32_t choice : kSessionChoices)
    usual += (usual.empty() ? "" : ", ") + std::to_string(choice);
  const CLI::Validator positive(
      [](std::string& text) -> std::string {
        return ParseSessions(text) ? std::string() : FormatMessage(texts::kSessionsInvalid, {text});
      },
      "POSITIVE");
  command
      .add_option("--sessions", options.sessions,
                  "Maximum number of recording sessions: a positive whole number, usually " + usual)
      ->check(positive)
      ->capture_default_str();
  command.add_option("--extended-mb", options.extendedMb, std::string(extendedDescription));
}

void AddJsonFlag(CLI::App& command, bool& json, std::string_view description) {
  command.add_flag("--json", json, std::string(description));
}

}  // namespace fw::cli

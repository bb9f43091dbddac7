#include "cli/cli_firmware.h"

#include <iostream>
#include <memory>
#include <stdexcept>

#include "cli/cli_common.h"
#include "cli/cli_output.h"
#include "core/control_chars.h"
#include "core/hexinfo.h"
#include "core/message_format.h"
#include "core/texts.h"
#include "core/utf8_path.h"

namespace fw::cli {

namespace {

void WriteRangeJson(JsonWriter& json, std::string_view key, const TMemRange& range) {
  json.Key(key)
      .BeginObject()
      .Field("base", range.BaseAddr)
      .Field("end", range.EndAddr)
      .Field("size", range.Size)
      .EndObject();
}

// Each line of the text behind two blanks, as the device's memory map stands.
std::string Indented(const std::string& text) {
  std::string out = "  ";
  for (const char c : text) {
    out += c;
    if (c == '\n')
      out += "  ";
  }
  return out;
}

void RunDevices(const DeviceOptions& options, bool asJson) {
  const std::vector<DeviceEntry> devices = LoadCatalogue(options);
  if (asJson) {
    JsonWriter json;
    json.BeginObject().Field("catalogue", CataloguePath(options)).Key("devices").BeginArray();
    for (std::size_t i = 0; i < devices.size(); ++i) {
      const TDeviceInfo& d = devices[i].info;
      json.BeginObject()
          .Field("n", i + 1)
          .Field("name", d.Name)
          .Field("text", devices[i].text)
          .Field("hclass", d.HClass)
          .Field("hrel", d.HRel)
          .Field("sver", d.SVer);
      if (devices[i].refusal.empty())
        json.Key("refusal").Null();
      else
        json.Field("refusal", devices[i].refusal);
      WriteRangeJson(json, "flash", d.Flash);
      WriteRangeJson(json, "flash_app", d.FlashApp);
      WriteRangeJson(json, "eeprom", d.Eeprom);
      WriteRangeJson(json, "eeprom_app", d.EepromApp);
      WriteRangeJson(json, "config", d.Config);
      json.EndObject();
    }
    json.EndArray().EndObject();
    std::cout << json.Text();
    return;
  }
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (i > 0)
      std::cout << '\n';
    std::cout << i + 1 << "  " << EscapeControlChars(devices[i].text) << '\n';
    if (!devices[i].refusal.empty())
      std::cout << Indented(TerminalText(devices[i].refusal)) << '\n';
    TextTable map = MemoryMapTable(devices[i].info);
    for (auto& row : map.rows)
      row.insert(row.begin(), "  ");
    PrintTable(std::cout, map);
  }
}

void AddDevicesCommand(CLI::App& app) {
  auto options = std::make_shared<DeviceOptions>();
  auto asJson = std::make_shared<bool>(false);
  CLI::App* cmd = app.add_subcommand(
      "devices", "List the devices of the catalogue with their numbers and memory maps.");
  AddCatalogueOption(*cmd, *options);
  cmd->add_flag("--json", *asJson, "Print JSON instead of the table");
  cmd->callback([options, asJson] { RunDevices(*options, *asJson); });
}

// ---- hexinfo ------------------------------------------------------------------------------

struct HexInfoOptions {
  std::string hex;
  DeviceOptions device;
  bool json = false;
};

void WriteImageJson(JsonWriter& json, std::string_view key, const HexImageInfo& image) {
  json.Key(key)
      .BeginObject()
      .Field("first", image.first)
      .Field("last", image.last)
      .Field("size", image.size)
      .EndObject();
}

void RunHexInfo(const HexInfoOptions& o) {
  const std::vector<DeviceEntry> devices = LoadCatalogue(o.device);
  const std::optional<HexInfo> info = ShowHexInfo(o.hex, devices, SelectDevice(devices, o.device));
  if (!info)
    throw std::runtime_error(std::string(texts::kNoHexFile));
  if (!o.json) {
    PrintTable(std::cout, info->table);
    return;
  }
  JsonWriter json;
  json.BeginObject().Field("device", info->device);
  WriteImageJson(json, "flash", info->flash);
  WriteImageJson(json, "eeprom", info->eeprom);
  WriteImageJson(json, "config", info->config);
  json.Field("entry", info->entry).EndObject();
  std::cout << json.Text();
}

void AddHexInfoCommand(CLI::App& app) {
  auto o = std::make_shared<HexInfoOptions>();
  CLI::App* cmd = app.add_subcommand(
      "hexinfo", "Show which addresses a HEX file fills in each memory of a device.");
  cmd->add_option("HEX", o->hex, "Intel HEX32 firmware file")->required();
  AddDeviceOptions(*cmd, o->device);
  cmd->add_flag("--json", o->json, "Print JSON instead of the table");
  cmd->callback([o] { RunHexInfo(*o); });
}

}  // namespace

void AddCatalogueOption(CLI::App& command, DeviceOptions& options) {
  command
      .add_option("--catalogue", options.catalogue,
                  "Device catalogue (default: DEV_LIST.dat beside the program)")
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

std::string CataloguePath(const DeviceOptions& options) {
  return options.catalogue.empty() ? Utf8OfPath(DefaultCatalogPath()) : options.catalogue;
}

std::vector<DeviceEntry> LoadCatalogue(const DeviceOptions& options) {
  std::vector<DeviceEntry> devices;
  LoadDeviceList(CataloguePath(options), devices);
  return devices;
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

void AddFirmwareCommands(CLI::App& app) {
  AddDevicesCommand(app);
  AddHexInfoCommand(app);
}

}  // namespace fw::cli

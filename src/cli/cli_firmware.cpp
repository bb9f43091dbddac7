#include "cli/cli_firmware.h"

#include <CLI/CLI.hpp>

#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/cli_common.h"
#include "cli/cli_output.h"
#include "core/control_chars.h"
#include "core/hexinfo.h"
#include "core/texts.h"

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

}  // namespace

int RunDevices(const DevicesOptions& o, const CliServices& services) {
  const std::vector<DeviceEntry> devices = LoadCatalogue(o.catalogue);
  if (o.json) {
    JsonWriter json;
    json.BeginObject().Field("catalogue", CataloguePath(o.catalogue)).Key("devices").BeginArray();
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
    services.out << json.Text();
    return kExitOk;
  }
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (i > 0)
      services.out << '\n';
    services.out << i + 1 << "  " << EscapeControlChars(devices[i].text) << '\n';
    if (!devices[i].refusal.empty())
      services.out << Indented(TerminalText(devices[i].refusal)) << '\n';
    TextTable map = MemoryMapTable(devices[i].info);
    for (auto& row : map.rows)
      row.insert(row.begin(), "  ");
    PrintTable(services.out, map);
  }
  return kExitOk;
}

void AddDevicesOptions(CLI::App& cmd, DevicesOptions& o) {
  AddCatalogueOption(cmd, o.catalogue);
  AddJsonFlag(cmd, o.json, "Print JSON instead of the table");
}

// ---- hexinfo ------------------------------------------------------------------------------

namespace {

void WriteImageJson(JsonWriter& json, std::string_view key, const HexImageInfo& image) {
  json.Key(key)
      .BeginObject()
      .Field("first", image.first)
      .Field("last", image.last)
      .Field("size", image.size)
      .EndObject();
}

}  // namespace

int RunHexInfo(const HexInfoOptions& o, const CliServices& services) {
  const std::vector<DeviceEntry> devices = LoadCatalogue(o.device);
  const std::optional<HexInfo> info = ReadHexInfo(o.hex, devices, SelectDevice(devices, o.device));
  if (!info)
    throw std::runtime_error(std::string(texts::kNoHexFile));
  if (!o.json) {
    PrintTable(services.out, info->table);
    return kExitOk;
  }
  JsonWriter json;
  json.BeginObject().Field("device", info->device);
  WriteImageJson(json, "flash", info->flash);
  WriteImageJson(json, "eeprom", info->eeprom);
  WriteImageJson(json, "config", info->config);
  json.Field("entry", info->entry).EndObject();
  services.out << json.Text();
  return kExitOk;
}

void AddHexInfoOptions(CLI::App& cmd, HexInfoOptions& o) {
  cmd.add_option("HEX", o.hex, "Intel HEX32 firmware file")->required();
  AddDeviceOptions(cmd, o.device);
  AddJsonFlag(cmd, o.json, "Print JSON instead of the table");
}

}  // namespace fw::cli

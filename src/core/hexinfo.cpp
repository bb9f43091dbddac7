#include "core/hexinfo.h"

#include "core/errors.h"
#include "core/ihex.h"
#include "core/texts.h"
#include "core/utf8_path.h"

namespace fw {
namespace {

HexImageInfo ImageOf(const TdsPicMemRegion& region) {
  return {static_cast<std::uint32_t>(region.ImageFirst()),
          static_cast<std::uint32_t>(region.ImageLast()), region.ImageSize()};
}

std::vector<std::string> ImageRow(std::string_view caption, const HexImageInfo& image) {
  return {std::string(caption), FormatAddress(image.first, false), FormatAddress(image.last, false),
          FormatAddress(image.size, true)};
}

TextTable HexInfoTable(const HexInfo& info) {
  TextTable table;
  table.fixedRows = 1;
  table.fixedCols = 1;
  table.rows.emplace_back(texts::kHexInfoCaptions.begin(), texts::kHexInfoCaptions.end());
  table.rows.push_back(ImageRow(texts::kHexInfoRows[0], info.flash));
  table.rows.push_back(
      {std::string(texts::kHexInfoRows[1]), FormatAddress(info.entry, false), "", ""});
  table.rows.push_back(ImageRow(texts::kHexInfoRows[2], info.eeprom));
  table.rows.push_back(ImageRow(texts::kHexInfoRows[3], info.config));
  return table;
}

}  // namespace

std::optional<HexInfo> ReadHexInfo(const std::string& hexPath,
                                   const std::vector<DeviceEntry>& devices, int selected) {
  // A folder is no file: the command then shows nothing, as for a missing file.
  if (!IsExistingFile(hexPath))
    return std::nullopt;
  if (selected < 0 || static_cast<std::size_t>(selected) >= devices.size())
    throw EListError(selected);
  const TDeviceInfo device = UsableDevice(devices[static_cast<std::size_t>(selected)]);
  TdsPicMemRegion flash(device.Flash, true);
  TdsPicMemRegion eeprom(device.Eeprom, false);
  TdsPicMemRegion config(device.Config, false);
  TdsPicMemRegion* const regions[] = {&flash, &eeprom, &config};
  LoadRegionsFromHexFile(ReadHexFile(hexPath), regions);

  HexInfo info;
  info.device = device.Name;
  info.flash = ImageOf(flash);
  info.eeprom = ImageOf(eeprom);
  info.config = ImageOf(config);
  info.entry = flash.EntryPoint();
  info.table = HexInfoTable(info);
  return info;
}

}  // namespace fw

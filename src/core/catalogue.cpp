#include "catalogue.h"

#include <algorithm>
#include <cstdio>

#include "cp1251.h"
#include "ini.h"
#include "ini_convert.h"
#include "message_format.h"
#include "platform/process.h"
#include "texts.h"

namespace fw {
namespace {

constexpr std::string_view kCatalogFileName = "DEV_LIST.dat";

std::int32_t ReadInt(const IniFile& ini, const std::string& section, std::string_view key,
                     std::string_view defaultValue) {
  return StrToInt(ini.ReadString(section, key, defaultValue));
}

TMemRange ReadRange(const IniFile& ini, const std::string& section, std::string_view baseKey,
                    std::string_view baseDefault, std::string_view endKey,
                    std::string_view endDefault) {
  TMemRange range;
  range.BaseAddr = ReadInt(ini, section, baseKey, baseDefault);
  range.EndAddr = ReadInt(ini, section, endKey, endDefault);
  range.Size = static_cast<std::int32_t>(std::int64_t{range.EndAddr} - range.BaseAddr + 1);
  return range;
}

std::string EntrySuffix(const TDeviceInfo& info) {
  return FormatMessage(texts::kDeviceEntryText, {std::int64_t{info.HClass}, std::int64_t{info.HRel},
                                                 std::int64_t{info.SVer}});
}

std::uint8_t Low8(std::int32_t value) {
  return static_cast<std::uint8_t>(value & 0xFF);
}

}  // namespace

void LoadDeviceList(const std::string& path, std::vector<DeviceEntry>& out) {
  LoadDeviceList(IniFile::Load(path), out);
}

void LoadDeviceList(const IniFile& ini, std::vector<DeviceEntry>& out) {
  out.clear();
  for (int number = kFirstDeviceNumber; number <= kLastDeviceNumber; ++number) {
    const std::string section = "DEVICE_" + std::to_string(number);
    const std::string name = ini.ReadString(section, "NAME", "");
    if (name.empty())
      continue;
    DeviceEntry entry;
    TDeviceInfo& info = entry.info;
    info.HClass = Low8(ReadInt(ini, section, "HCLASS", "0"));
    info.HRel = Low8(ReadInt(ini, section, "HREL", "1"));
    info.SVer = Low8(ReadInt(ini, section, "SVER", "1"));
    info.Name = Utf8Prefix(name, kDeviceNameMaxChars);
    entry.text = name + EntrySuffix(info);
    info.Flash = ReadRange(ini, section, "FLASH_BASE", "0", "FLASH_END", "0x17FFE");
    info.FlashApp = ReadRange(ini, section, "FLASH_APP_BASE", "0", "FLASH_APP_END", "0x17FFE");
    info.Eeprom = ReadRange(ini, section, "EEPROM_BASE", "0x7FF000", "EEPROM_END", "0x7FFFFE");
    info.EepromApp =
        ReadRange(ini, section, "EEPROM_APP_BASE", "0x7FF000", "EEPROM_APP_END", "0x7FFFFE");
    info.Config = ReadRange(ini, section, "CONFIG_BASE", "0xF80000", "CONFIG_END", "0xF8000E");
    out.push_back(std::move(entry));
  }
}

std::filesystem::path DefaultCatalogPath() {
  return platform::ExecutableDir() / kCatalogFileName;
}

std::string FormatAddress(std::uint32_t value, bool withDecimal) {
  char buffer[40];
  if (withDecimal) {
    std::snprintf(buffer, sizeof buffer, "0x%06X (%u)", static_cast<unsigned>(value),
                  static_cast<unsigned>(value));
  } else {
    std::snprintf(buffer, sizeof buffer, "0x%06X", static_cast<unsigned>(value));
  }
  return buffer;
}

TextTable MemoryMapTable(const TDeviceInfo& device) {
  TextTable table;
  table.fixedRows = 1;
  table.fixedCols = 0;
  table.rows.emplace_back(texts::kMemMapCaptions.begin(), texts::kMemMapCaptions.end());
  const TMemRange* ranges[] = {&device.Flash, &device.FlashApp, &device.Eeprom, &device.EepromApp,
                               &device.Config};
  for (std::size_t i = 0; i < texts::kMemMapRegions.size(); ++i) {
    const TMemRange& r = *ranges[i];
    table.rows.push_back({std::string(texts::kMemMapRegions[i]),
                          FormatAddress(static_cast<std::uint32_t>(r.BaseAddr), false),
                          FormatAddress(static_cast<std::uint32_t>(r.EndAddr), false),
                          FormatAddress(static_cast<std::uint32_t>(r.Size), true)});
  }
  return table;
}

std::optional<std::size_t> FindDevice(const std::vector<DeviceEntry>& devices,
                                      std::string_view which) {
  const bool isNumber =
      !which.empty() && which.size() <= 9 &&
      std::all_of(which.begin(), which.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (isNumber) {
    const std::size_t position = std::stoul(std::string(which));
    if (position >= 1 && position <= devices.size())
      return position - 1;
  }
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const DeviceEntry& entry = devices[i];
    if (entry.info.Name == which || entry.text == which ||
        entry.text == std::string(which) + EntrySuffix(entry.info)) {
      return i;
    }
  }
  return std::nullopt;
}

}  // namespace fw

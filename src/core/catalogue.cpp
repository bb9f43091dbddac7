#include "core/catalogue.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

#include "core/cp1251.h"
#include "core/ini.h"
#include "core/ini_convert.h"
#include "core/message_format.h"
#include "core/texts.h"

namespace fw {
namespace {

std::int32_t ReadInt(const IniFile& ini, const std::string& section, std::string_view key,
                     std::string_view defaultValue) {
  return StrToInt(ini.ReadString(section, key, defaultValue));
}

// The processor addresses 24 bits.
constexpr std::int32_t kLastAddress = 0xFFFFFF;

// One key of an address: its name, its default, and its value as the catalogue gives it (for
// messages) and as read.
struct AddressKey {
  std::string_view key;
  std::string_view defaultValue;
  std::string text = {};
  std::int32_t value = 0;
};

struct RangeKeys {
  AddressKey base;
  AddressKey end;
};

// The five ranges in the order the keys are read: program memory, its application part, EEPROM,
// its application part, configuration memory.
constexpr std::size_t kRangeCount = 5;
using DeviceRanges = std::array<RangeKeys, kRangeCount>;

DeviceRanges ReadRanges(const IniFile& ini, const std::string& section) {
  DeviceRanges ranges = {{
      {{"FLASH_BASE", "0"}, {"FLASH_END", "0x17FFE"}},
      {{"FLASH_APP_BASE", "0"}, {"FLASH_APP_END", "0x17FFE"}},
      {{"EEPROM_BASE", "0x7FF000"}, {"EEPROM_END", "0x7FFFFE"}},
      {{"EEPROM_APP_BASE", "0x7FF000"}, {"EEPROM_APP_END", "0x7FFFFE"}},
      {{"CONFIG_BASE", "0xF80000"}, {"CONFIG_END", "0xF8000E"}},
  }};
  for (RangeKeys& range : ranges) {
    for (AddressKey* key : {&range.base, &range.end}) {
      key->text = ini.ReadString(section, key->key, key->defaultValue);
      key->value = StrToInt(key->text);
    }
  }
  return ranges;
}

TMemRange RangeOf(const RangeKeys& keys) {
  TMemRange range;
  range.BaseAddr = keys.base.value;
  range.EndAddr = keys.end.value;
  range.Size = static_cast<std::int32_t>(std::int64_t{range.EndAddr} - range.BaseAddr + 1);
  return range;
}

// Why the addresses cannot be used, or nothing when they can: every address inside the
// processor's address space, every base at or below its end, and each application window inside
// its memory (FLASH_APP in FLASH, EEPROM_APP in EEPROM). An address of -1 or 0xFFFFFFFF would
// otherwise become a range of no words and an image written without its data.
std::string RangeProblem(const DeviceRanges& ranges, const std::string& name,
                         const std::string& section) {
  const auto key = [](const AddressKey& k) { return std::string(k.key); };
  for (const RangeKeys& range : ranges) {
    for (const AddressKey* k : {&range.base, &range.end}) {
      if (k->value < 0 || k->value > kLastAddress)
        return FormatMessage(texts::kDeviceAddressOutside, {name, section, key(*k), k->text});
    }
  }
  for (const RangeKeys& r : ranges) {
    if (r.base.value > r.end.value) {
      return FormatMessage(texts::kDeviceRangeReversed,
                           {name, section, key(r.base), r.base.text, key(r.end), r.end.text});
    }
  }
  // Application windows: FLASH_APP (1) inside FLASH (0), EEPROM_APP (3) inside EEPROM (2).
  for (const auto& [window, memory] : {std::pair{1u, 0u}, std::pair{3u, 2u}}) {
    const RangeKeys& w = ranges[window];
    const RangeKeys& m = ranges[memory];
    const AddressKey* outside = w.base.value < m.base.value ? &w.base
                                : w.end.value > m.end.value ? &w.end
                                                            : nullptr;
    if (outside != nullptr) {
      return FormatMessage(texts::kDeviceWindowOutside,
                           {name, section, key(*outside), outside->text, key(m.base), m.base.text,
                            key(m.end), m.end.text});
    }
  }
  return {};
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
    const DeviceRanges ranges = ReadRanges(ini, section);
    info.Flash = RangeOf(ranges[0]);
    info.FlashApp = RangeOf(ranges[1]);
    info.Eeprom = RangeOf(ranges[2]);
    info.EepromApp = RangeOf(ranges[3]);
    info.Config = RangeOf(ranges[4]);
    entry.refusal = RangeProblem(ranges, info.Name, section);
    out.push_back(std::move(entry));
  }
}

const TDeviceInfo& UsableDevice(const DeviceEntry& entry) {
  if (!entry.refusal.empty())
    throw EDeviceRefused(entry.refusal);
  return entry.info;
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

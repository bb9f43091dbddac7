// The device catalogue (DEV_LIST.dat): the devices that can be updated, with their hardware class,
// hardware release, software version and the address ranges of their memories.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/ihex_region.h"
#include "core/ini.h"
#include "core/text_table.h"

namespace fw {

inline constexpr std::size_t kDeviceNameMaxChars = 200;
inline constexpr int kFirstDeviceNumber = 1;
inline constexpr int kLastDeviceNumber = 100;

// One catalogue device; a plain value that callers copy whole.
struct TDeviceInfo {
  std::string Name;  // UTF-8, the first 200 characters of NAME
  std::uint8_t HClass = 0;
  std::uint8_t HRel = 0;
  std::uint8_t SVer = 0;
  TMemRange Flash;
  TMemRange FlashApp;
  TMemRange Eeprom;
  TMemRange EepromApp;
  TMemRange Config;
};

// One entry of the device list: the text the list shows (the whole NAME followed by
// " HClass=%d HRel=%d Sver=%d") and the device.
struct DeviceEntry {
  std::string text;
  TDeviceInfo info;
  // Why the device's addresses cannot be used (the device, its section, the key and its value);
  // empty for a usable device. A refused device stays listed, but UsableDevice refuses it.
  std::string refusal = {};
};

// A catalogue device whose addresses do not fit the processor: an address outside 0..0xFFFFFF,
// a base above its end, or an application window reaching outside its memory.
class EDeviceRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The device of the entry; EDeviceRefused with the entry's refusal when it has one. Every command
// that works with a device's addresses takes it through here.
const TDeviceInfo& UsableDevice(const DeviceEntry& entry);

// Replaces `out` with the devices of sections DEVICE_1 .. DEVICE_100 in number order, skipping
// sections without a NAME. A missing file gives an empty list. A value that is not an integer
// raises EConvertError; the devices read before the failing section stay in `out`. A device
// whose addresses cannot be used is listed with its refusal (DeviceEntry::refusal).
void LoadDeviceList(const std::string& path, std::vector<DeviceEntry>& out);
// The same over a catalogue already parsed.
void LoadDeviceList(const IniFile& catalogue, std::vector<DeviceEntry>& out);

// "0x" and at least six upper-case hexadecimal digits; WithDecimal appends " (decimal)".
std::string FormatAddress(std::uint32_t value, bool withDecimal);

// The memory map of a device: a caption row and five rows (program memory, its application part,
// EEPROM, its application part, configuration memory) of begin, end and size.
TextTable MemoryMapTable(const TDeviceInfo& device);

// The 0-based index of the device that `which` names: its 1-based position in the list (a text
// of decimal digits) or its exact name (the whole NAME or the entry text). Nothing when no device
// matches.
std::optional<std::size_t> FindDevice(const std::vector<DeviceEntry>& devices,
                                      std::string_view which);

}  // namespace fw

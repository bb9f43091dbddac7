// Firmware file information: which addresses a HEX file fills in each memory of a device, and
// where its program starts. It only reports; no application window is checked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/catalogue.h"
#include "core/text_table.h"

namespace fw {

// One memory's image: lowest address unit filled, the odd address of the highest filled word, and
// the address units between them inclusive (all three the memory's base / base / 0 when empty).
struct HexImageInfo {
  std::uint32_t first = 0;
  std::uint32_t last = 0;
  std::uint32_t size = 0;
};

struct HexInfo {
  std::string device;  // the device's Name
  HexImageInfo flash;
  HexImageInfo eeprom;
  HexImageInfo config;
  std::uint32_t entry = 0;  // target of the reset vector's GOTO
  // Caption row and the rows Flash, Entry, EEPROM, Config; column 0 is the caption column.
  TextTable table;
};

// Reads the HEX file once and loads it into the FLASH, EEPROM and CONFIG memories of the selected
// device (`selected` indexes `devices`). Nothing when the path is empty or names no file;
// EListError "List index out of bounds (%d)" when `selected` is not an entry of the list,
// EDeviceRefused for a device whose addresses cannot be used; the reader's errors otherwise.
std::optional<HexInfo> ReadHexInfo(const std::string& hexPath,
                                   const std::vector<DeviceEntry>& devices, int selected);

}  // namespace fw

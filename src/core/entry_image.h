// The firmware image one update entry carries: the FLASH, EEPROM and CONFIG payloads with the
// processor addresses they start at, and the FLASH entry point. The write command builds it from
// a HEX file, the card data file stores it, and the HEX writer turns it back into a HEX file.
#pragma once

#include <cstdint>
#include <span>

namespace fw {

// A view: the payload bytes belong to whoever made the image.
//   Flash:  4 bytes per instruction word (low, middle, upper, phantom);
//   Eeprom, Config: 2 bytes per word (low, high).
// An entry keeps no start address for CONFIG: on the card it always begins at the device's
// configuration memory, so ConfigStart matters only to the HEX writer.
struct TRgdEntryImage {
  std::span<const std::uint8_t> Flash{};
  std::uint32_t FlashStart = 0;
  std::uint32_t FlashEntryPoint = 0;
  std::span<const std::uint8_t> Eeprom{};
  std::uint32_t EepromStart = 0;
  std::span<const std::uint8_t> Config{};
  std::uint32_t ConfigStart = 0;
};

}  // namespace fw

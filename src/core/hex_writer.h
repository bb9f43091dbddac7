// Turns the payloads of an update entry back into an Intel HEX32 file for a dsPIC30F, so that an
// entry taken off a card can be inspected or written again with the usual tools.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace fw {

// The three payloads of an entry with the processor addresses they start at.
//   flash:  4 bytes per instruction word (low, middle, upper, phantom), as the entry holds them;
//   eeprom, config: 2 bytes per word (low, high); each word becomes a 4-byte group of the HEX
//   file with two zero padding bytes.
// A data payload of odd length (never written by this tool) gets an unprogrammed 0xFF high byte
// in its last word.
struct DsPicHexImage {
  std::span<const std::uint8_t> flash;
  std::uint32_t flashStart = 0;
  std::span<const std::uint8_t> eeprom;
  std::uint32_t eepromStart = 0;
  std::span<const std::uint8_t> config;
  std::uint32_t configStart = 0;
};

// The Intel HEX text: HEX byte addresses are twice the processor addresses; an extended linear
// address record (type 04) opens every 64 KiB block used; data records carry at most 16 bytes and
// never cross a 16-byte boundary; the end-of-file record closes the file. Lines end with LF.
// Empty payloads produce no records.
std::string WriteDsPicHex(const DsPicHexImage& image);

}  // namespace fw

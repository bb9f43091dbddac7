// Turns the payloads of an update entry back into an Intel HEX32 file for a dsPIC30F, so that an
// entry taken off a card can be inspected or written again with the usual tools.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/carddata_file.h"
#include "core/catalogue.h"
#include "core/entry_image.h"
#include "core/errors.h"

namespace fw {

// A payload whose HEX byte addresses would run past the 32 bits of an Intel HEX32 file (an entry
// with a start no device has): names the payload, its processor start address and its size.
class EHexAddressRange : public ERangeError {
 public:
  EHexAddressRange(std::string_view payload, std::uint32_t start, std::uint64_t bytes);
};

// How an entry read back from a card goes into a HEX file for `device`: its payloads at the
// starts its header gives, CONFIG (whose start the entry does not keep) at the device's
// configuration memory. A view of `entry`.
TRgdEntryImage HexImageOfEntry(const TRgdEntryPayloads& entry, const TDeviceInfo& device);

// The Intel HEX text of an image for a dsPIC30F: HEX byte addresses are twice the processor
// addresses; each EEPROM and CONFIG word becomes a 4-byte group with two zero padding bytes (a
// data payload of odd length, never written by this tool, gets an unprogrammed 0xFF high byte in
// its last word); an extended linear address record (type 04) opens every 64 KiB block used; data
// records carry at most 16 bytes and never cross a 16-byte boundary; the end-of-file record
// closes the file. Lines end with LF. Empty payloads produce no records. Throws
// EHexAddressRange for a payload that does not fit below HEX address 0x100000000.
std::string WriteDsPicHex(const TRgdEntryImage& image);

}  // namespace fw

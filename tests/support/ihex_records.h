// Intel HEX text for tests and benchmarks, written from the format's rules: records with their
// checksums (upper-case digits, LF line ends), runs of data records with the extended linear
// address records they need, and a full-size firmware image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fw::test {

// One record of the given type at the 16-bit offset, with its checksum.
std::string HexRecord(std::uint8_t type, std::uint16_t offset,
                      const std::vector<std::uint8_t>& data);

// The bytes as data records of `perRecord` bytes from the HEX byte address, each preceded by an
// extended linear address record where the upper 16 bits of the address change.
std::string HexDataRecords(std::uint32_t address, const std::vector<std::uint8_t>& bytes,
                           std::size_t perRecord = 16);

inline constexpr const char* kHexEndOfFile = ":00000001FF\n";

// A full-size dsPIC30F6014A image: 48K program words (3 bytes and the phantom byte each, the
// reset vector's GOTO 0x000100 at address 0), the 2K EEPROM words and the seven configuration
// words, in 16-byte records, ending with the end-of-file record. The same text every call.
std::string FullImageHex();

}  // namespace fw::test

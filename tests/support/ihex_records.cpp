#include "support/ihex_records.h"

#include <algorithm>
#include <cstdio>

namespace fw::test {

std::string HexRecord(std::uint8_t type, std::uint16_t offset,
                      const std::vector<std::uint8_t>& data) {
  unsigned sum = static_cast<unsigned>(data.size()) + (offset >> 8) + (offset & 0xFFu) + type;
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, ":%02X%04X%02X", static_cast<unsigned>(data.size()),
                static_cast<unsigned>(offset), static_cast<unsigned>(type));
  std::string line = buffer;
  for (const std::uint8_t b : data) {
    std::snprintf(buffer, sizeof buffer, "%02X", static_cast<unsigned>(b));
    line += buffer;
    sum += b;
  }
  std::snprintf(buffer, sizeof buffer, "%02X\n", (0x100u - (sum & 0xFFu)) & 0xFFu);
  return line + buffer;
}

std::string HexDataRecords(std::uint32_t address, const std::vector<std::uint8_t>& bytes,
                           std::size_t perRecord) {
  std::string text;
  long upper = -1;
  for (std::size_t i = 0; i < bytes.size(); i += perRecord) {
    const std::uint32_t at = address + static_cast<std::uint32_t>(i);
    if (static_cast<long>(at >> 16) != upper) {
      upper = at >> 16;
      text += HexRecord(0x04, 0,
                        {static_cast<std::uint8_t>(upper >> 8), static_cast<std::uint8_t>(upper)});
    }
    const auto first = bytes.begin() + static_cast<long>(i);
    const auto end = bytes.begin() + static_cast<long>(std::min(i + perRecord, bytes.size()));
    text += HexRecord(0x00, static_cast<std::uint16_t>(at & 0xFFFFu), {first, end});
  }
  return text;
}

namespace {

// `words` memory words from the processor address `first`, each `width` meaningful bytes drawn
// from the generator and padded to 4; the first words may be given.
std::vector<std::uint8_t> MemoryWords(std::uint32_t words, int width, std::uint32_t& seed,
                                      const std::vector<std::vector<std::uint8_t>>& given = {}) {
  std::vector<std::uint8_t> bytes;
  for (std::uint32_t w = 0; w < words; ++w) {
    for (int b = 0; b < 4; ++b) {
      seed = seed * 1103515245u + 12345u;
      std::uint8_t value = b < width ? static_cast<std::uint8_t>(seed >> 16) : 0;
      if (w < given.size())
        value = b < width ? given[w][static_cast<std::size_t>(b)] : 0;
      bytes.push_back(value);
    }
  }
  return bytes;
}

}  // namespace

std::string FullImageHex() {
  std::uint32_t seed = 6014;
  const std::vector<std::vector<std::uint8_t>> gotoReset = {{0x00, 0x01, 0x04}, {0x00, 0x00, 0x00}};
  // A processor address takes two HEX bytes; each word stands as 4 bytes in the file.
  return HexDataRecords(0, MemoryWords(0xC000, 3, seed, gotoReset)) +
         HexDataRecords(0x7FF000 * 2, MemoryWords(0x800, 2, seed)) +
         HexDataRecords(0xF80000 * 2, MemoryWords(7, 2, seed)) + kHexEndOfFile;
}

}  // namespace fw::test

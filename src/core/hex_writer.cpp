#include "core/hex_writer.h"

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "core/message_format.h"
#include "core/texts.h"

namespace fw {

namespace {

constexpr std::uint64_t kRecordBytes = 16;
constexpr std::uint64_t kHexAddressLimit = 0x1'0000'0000ULL;

class HexText {
 public:
  void Record(std::uint8_t type, std::uint16_t offset, std::span<const std::uint8_t> data) {
    unsigned sum = static_cast<unsigned>(data.size()) + (offset >> 8) + (offset & 0xFFu) + type;
    Line(':');
    Byte(static_cast<std::uint8_t>(data.size()));
    Byte(static_cast<std::uint8_t>(offset >> 8));
    Byte(static_cast<std::uint8_t>(offset & 0xFFu));
    Byte(type);
    for (const std::uint8_t b : data) {
      Byte(b);
      sum += b;
    }
    Byte(static_cast<std::uint8_t>((0x100u - (sum & 0xFFu)) & 0xFFu));
    text_ += '\n';
  }

  // Data at a HEX byte address, split into records and preceded by type 04 records as needed;
  // the caller has checked that it ends inside the 32-bit HEX addresses.
  void Data(std::uint64_t address, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
      const auto upper = static_cast<std::uint16_t>(address >> 16);
      if (upper_ != upper) {
        const std::array<std::uint8_t, 2> value = {static_cast<std::uint8_t>(upper >> 8),
                                                   static_cast<std::uint8_t>(upper & 0xFFu)};
        Record(0x04, 0, value);
        upper_ = upper;
      }
      const std::size_t count = static_cast<std::size_t>(
          std::min<std::uint64_t>(kRecordBytes - address % kRecordBytes, bytes.size()));
      Record(0x00, static_cast<std::uint16_t>(address & 0xFFFFu), bytes.first(count));
      bytes = bytes.subspan(count);
      address += count;
    }
  }

  std::string Finish() {
    Record(0x01, 0, {});
    return std::move(text_);
  }

 private:
  void Line(char c) { text_ += c; }
  void Byte(std::uint8_t b) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    text_ += kDigits[b >> 4];
    text_ += kDigits[b & 0x0F];
  }

  std::string text_;
  std::optional<std::uint16_t> upper_;
};

// 2 payload bytes per word become the 4 bytes of the word's group: low, high, 0, 0.
std::vector<std::uint8_t> DataMemoryGroups(std::span<const std::uint8_t> payload) {
  std::vector<std::uint8_t> groups;
  groups.reserve((payload.size() + 1) / 2 * 4);
  for (std::size_t i = 0; i < payload.size(); i += 2) {
    groups.push_back(payload[i]);
    groups.push_back(i + 1 < payload.size() ? payload[i + 1] : 0xFF);
    groups.push_back(0);
    groups.push_back(0);
  }
  return groups;
}

std::uint64_t HexAddress(std::uint32_t processorAddress) {
  return std::uint64_t{processorAddress} * 2;
}

// The HEX bytes of a payload starting at a processor address, refused when they would not fit.
void CheckHexRange(std::string_view payload, std::uint32_t start, std::size_t hexBytes,
                   std::size_t payloadBytes) {
  if (hexBytes != 0 && HexAddress(start) + hexBytes > kHexAddressLimit)
    throw EHexAddressRange(payload, start, payloadBytes);
}

}  // namespace

EHexAddressRange::EHexAddressRange(std::string_view payload, std::uint32_t start,
                                   std::uint64_t bytes)
    : ERangeError(FormatMessage(texts::kHexBeyondAddressSpace,
                                {std::string(payload), std::uint64_t{start}, bytes})) {}

TRgdEntryImage HexImageOfEntry(const TRgdEntryPayloads& entry, const TDeviceInfo& device) {
  TRgdEntryImage image = entry.Image();
  image.ConfigStart = static_cast<std::uint32_t>(device.Config.BaseAddr);
  return image;
}

std::string WriteDsPicHex(const TRgdEntryImage& image) {
  const std::vector<std::uint8_t> eeprom = DataMemoryGroups(image.Eeprom);
  const std::vector<std::uint8_t> config = DataMemoryGroups(image.Config);
  // Checked before any text is made: a refused image gives no partial file.
  CheckHexRange("FLASH", image.FlashStart, image.Flash.size(), image.Flash.size());
  CheckHexRange("EEPROM", image.EepromStart, eeprom.size(), image.Eeprom.size());
  CheckHexRange("CONFIG", image.ConfigStart, config.size(), image.Config.size());
  HexText hex;
  hex.Data(HexAddress(image.FlashStart), image.Flash);
  hex.Data(HexAddress(image.EepromStart), eeprom);
  hex.Data(HexAddress(image.ConfigStart), config);
  return hex.Finish();
}

}  // namespace fw

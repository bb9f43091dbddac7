#include "core/hex_writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/ihex_record.h"
#include "core/ihex_region.h"

namespace fw {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Records written by hand from the Intel HEX rules: byte count, offset, type, data, and the
// two's complement of their sum.
TEST(HexWriter, SmallImageGivesHandCheckedRecords) {
  const Bytes flash = {0x00, 0x01, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00};  // GOTO 0x000100
  const Bytes eeprom = {0xAA, 0xBB};
  const Bytes config = {0x01, 0x02, 0x03, 0x04};
  const std::string hex = WriteDsPicHex({.Flash = flash,
                                         .FlashStart = 0,
                                         .Eeprom = eeprom,
                                         .EepromStart = 0x7FF000,
                                         .Config = config,
                                         .ConfigStart = 0xF80000});
  EXPECT_EQ(hex,
            ":020000040000FA\n"
            ":080000000001040000000000F3\n"
            ":0200000400FFFB\n"
            ":04E00000AABB0000B7\n"
            ":0200000401F009\n"
            ":080000000102000003040000EE\n"
            ":00000001FF\n");
}

TEST(HexWriter, RecordsStayInsideSixteenByteBlocksAndSwitchUpperAddress) {
  // 6 program words starting at processor address 0x7FFC (HEX 0xFFF8): 8 bytes up to the 64 KiB
  // boundary, then 16 bytes in the next block.
  Bytes flash(24);
  for (std::size_t i = 0; i < flash.size(); ++i)
    flash[i] = static_cast<std::uint8_t>(i);
  const std::string hex = WriteDsPicHex({.Flash = flash, .FlashStart = 0x7FFC});
  EXPECT_EQ(hex,
            ":020000040000FA\n"
            ":08FFF8000001020304050607E5\n"
            ":020000040001F9\n"
            ":1000000008090A0B0C0D0E0F1011121314151617F8\n"
            ":00000001FF\n");
}

TEST(HexWriter, EmptyImageIsOnlyTheEndRecord) {
  EXPECT_EQ(WriteDsPicHex({}), ":00000001FF\n");
}

// A start no device has (read from a damaged or foreign card) must not put HEX addresses past 32
// bits: the writer refuses with the system's error naming the payload, its start and its size,
// and a payload that ends exactly at the last HEX address, or an empty one anywhere, is written.
TEST(HexWriter, PayloadsPastTheHexAddressSpaceAreRefusedByName) {
  const Bytes four(4, 0x11);
  const Bytes two = {0x22, 0x33};
  struct Case {
    TRgdEntryImage image;
    const char* error;  // nullptr: written
  };
  const Case cases[] = {
      {{.Flash = four, .FlashStart = 0x80000000u},
       "Секция FLASH с адреса 0x80000000 (4 байт) выходит за 32-разрядные адреса файла HEX"},
      {{.Flash = four, .FlashStart = 0x7FFFFFFEu}, nullptr},
      {{.Flash = four, .FlashStart = 0x7FFFFFFFu},
       "Секция FLASH с адреса 0x7FFFFFFF (4 байт) выходит за 32-разрядные адреса файла HEX"},
      {{.Eeprom = two, .EepromStart = 0xFFFFFFF0u},
       "Секция EEPROM с адреса 0xFFFFFFF0 (2 байт) выходит за 32-разрядные адреса файла HEX"},
      {{.Config = two, .ConfigStart = 0x90000000u},
       "Секция CONFIG с адреса 0x90000000 (2 байт) выходит за 32-разрядные адреса файла HEX"},
      {{.FlashStart = 0xFFFFFFFFu, .EepromStart = 0xFFFFFFFFu, .ConfigStart = 0xFFFFFFFFu},
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error != nullptr ? c.error : "written");
    if (c.error == nullptr) {
      EXPECT_NO_THROW(WriteDsPicHex(c.image));
      continue;
    }
    try {
      WriteDsPicHex(c.image);
      ADD_FAILURE() << "no error";
    } catch (const EHexAddressRange& e) {
      EXPECT_STREQ(e.what(), c.error);
    }
  }
  // The last word below the limit: FLASH at processor 0x7FFFFFFE is HEX 0xFFFFFFFC..0xFFFFFFFF.
  EXPECT_EQ(WriteDsPicHex({.Flash = four, .FlashStart = 0x7FFFFFFEu}),
            ":02000004FFFFFC\n"
            ":04FFFC0011111111BD\n"
            ":00000001FF\n");
}

// An entry keeps the starts of FLASH and EEPROM; CONFIG goes to the device's configuration memory.
TEST(HexWriter, AnEntryGoesWhereItsHeaderAndItsDeviceSay) {
  TRgdEntryPayloads entry;
  entry.Header.FlashStart = 0x100;
  entry.Header.FlashEntryPoint = 0x200;
  entry.Header.EepromStart = 0x7FF010;
  entry.Flash = {1, 2, 3, 0};
  entry.Eeprom = {4, 5};
  entry.Config = {6, 7};
  TDeviceInfo device;
  device.Config = {0xF80000, 0xF8000E, 0xF};
  const TRgdEntryImage image = HexImageOfEntry(entry, device);
  EXPECT_EQ(image.FlashStart, 0x100u);
  EXPECT_EQ(image.FlashEntryPoint, 0x200u);
  EXPECT_EQ(image.EepromStart, 0x7FF010u);
  EXPECT_EQ(image.ConfigStart, 0xF80000u);
  EXPECT_EQ(Bytes(image.Flash.begin(), image.Flash.end()), entry.Flash);
  EXPECT_EQ(Bytes(image.Eeprom.begin(), image.Eeprom.end()), entry.Eeprom);
  EXPECT_EQ(Bytes(image.Config.begin(), image.Config.end()), entry.Config);
}

Bytes Payload(const TdsPicMemRegion& region, std::uint32_t size) {
  Bytes out(size);
  if (size != 0)
    region.CopyImage(out, static_cast<std::uint32_t>(region.ImageFirst()),
                     static_cast<std::uint32_t>(region.ImageLast()));
  return out;
}

// What the write command takes from a HEX file must come back unchanged from the HEX file made
// of it: same payloads, same start addresses, gaps included.
TEST(HexWriter, LoadingTheTextGivesBackTheSamePayloads) {
  Bytes flash;
  for (int word = 0; word < 300; ++word) {
    const bool gap = word >= 100 && word < 110;
    const auto b = static_cast<std::uint8_t>(word);
    const Bytes group = gap ? Bytes{0xFF, 0xFF, 0xFF, 0x00} : Bytes{b, 0x12, 0x34, 0x00};
    flash.insert(flash.end(), group.begin(), group.end());
  }
  const Bytes eeprom = {1, 2, 0xFF, 0xFF, 5, 6};
  const Bytes config = {0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8};
  const HexFileText file{"round-trip.hex", WriteDsPicHex({.Flash = flash,
                                                          .FlashStart = 0x100,
                                                          .Eeprom = eeprom,
                                                          .EepromStart = 0x7FF010,
                                                          .Config = config,
                                                          .ConfigStart = 0xF80000})};

  TdsPicMemRegion flashRegion({0, 0x17FFE, 0x17FFF}, true);
  TdsPicMemRegion eepromRegion({0x7FF000, 0x7FFFFE, 0xFFF}, false);
  TdsPicMemRegion configRegion({0xF80000, 0xF8000E, 0xF}, false);
  flashRegion.LoadFromHexFile(file);
  eepromRegion.LoadFromHexFile(file);
  configRegion.LoadFromHexFile(file);

  EXPECT_EQ(flashRegion.ImageFirst(), 0x100);
  EXPECT_EQ(eepromRegion.ImageFirst(), 0x7FF010);
  EXPECT_EQ(configRegion.ImageFirst(), 0xF80000);
  EXPECT_EQ(Payload(flashRegion, flashRegion.ImageSize() * 2), flash);
  EXPECT_EQ(Payload(eepromRegion, eepromRegion.ImageByteSize()), eeprom);
  EXPECT_EQ(Payload(configRegion, configRegion.ImageByteSize()), config);
}

}  // namespace
}  // namespace fw

// Firmware file information: the grid of what a HEX file fills in each memory of a device.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/hexinfo.h"
#include "support/files.h"
#include "support/temp_dir.h"

namespace fw {
namespace {

using Rows = std::vector<std::vector<std::string>>;

class HexInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The catalogue's defaults: FLASH 0..0x17FFE, EEPROM 0x7FF000..0x7FFFFE, CONFIG 0xF80000..
    defaults_.push_back(DeviceEntry{"default", TDeviceInfo{}});
    TDeviceInfo& d = defaults_.back().info;
    d.Name = "default";
    d.Flash = {0, 0x17FFE, 0x17FFF};
    d.Eeprom = {0x7FF000, 0x7FFFFE, 0xFFF};
    d.Config = {0xF80000, 0xF8000E, 0xF};
  }

  std::string Write(const std::string& text) {
    const auto path = dir_ / "fw.hex";
    test::WriteText(path, text);
    return path.string();
  }

  test::TempDir temp_{"hexinfo"};
  const std::filesystem::path dir_ = temp_.path();
  std::vector<DeviceEntry> defaults_;
};

TEST_F(HexInfoTest, EndOfFileOnly) {
  const auto info = ReadHexInfo(Write(":00000001FF\n"), defaults_, 0);
  ASSERT_TRUE(info);
  const Rows expected = {
      {"", "Begin", "End", "Size hex(dec) in units"},
      {"Flash", "0x000000", "0x000000", "0x000000 (0)"},
      {"Entry", "0xFFFFFF", "", ""},
      {"EEPROM", "0x7FF000", "0x7FF000", "0x000000 (0)"},
      {"Config", "0xF80000", "0xF80000", "0x000000 (0)"},
  };
  EXPECT_EQ(info->table.rows, expected);
  EXPECT_EQ(info->table.fixedRows, 1);
  EXPECT_EQ(info->table.fixedCols, 1);
  EXPECT_EQ(info->eeprom.first, 0x7FF000u);
  EXPECT_EQ(info->eeprom.size, 0u);
  EXPECT_EQ(info->entry, 0xFFFFFFu);
}

TEST_F(HexInfoTest, GotoAtTheResetVectorAndAnEepromWordAtTheTop) {
  // Program words 0 and 2: GOTO 0x000100; EEPROM word 0x7FFFFE (HEX byte address 0xFFFFFC).
  const std::string path = Write(
      ":080000000001040000000000F3\n"
      ":0200000400FFFB\n"
      ":04FFFC0034120000BB\n"
      ":00000001FF\n");
  const auto first = ReadHexInfo(path, defaults_, 0);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->table.rows[1],
            (std::vector<std::string>{"Flash", "0x000000", "0x000003", "0x000004 (4)"}));
  EXPECT_EQ(first->table.rows[2], (std::vector<std::string>{"Entry", "0x000100", "", ""}));
  EXPECT_EQ(first->table.rows[3],
            (std::vector<std::string>{"EEPROM", "0x7FFFFE", "0x7FFFFF", "0x000002 (2)"}));
  EXPECT_EQ(first->flash.last, 3u);
  EXPECT_EQ(first->flash.size, 4u);
  EXPECT_EQ(first->entry, 0x100u);
  EXPECT_EQ(ReadHexInfo(path, defaults_, 0)->table.rows, first->table.rows);

  // The same file through a device whose program memory does not start at 0: no entry point,
  // and the words at 0 and 2 lie outside it.
  defaults_.push_back(defaults_.front());
  defaults_.back().info.Flash = {0x100, 0x17FFE, 0x17EFF};
  const auto other = ReadHexInfo(path, defaults_, 1);
  EXPECT_EQ(other->table.rows[1],
            (std::vector<std::string>{"Flash", "0x000100", "0x000100", "0x000000 (0)"}));
  EXPECT_EQ(other->entry, 0u);
}

TEST_F(HexInfoTest, NothingToShowOrNoDevice) {
  EXPECT_FALSE(ReadHexInfo("", defaults_, 0));
  EXPECT_FALSE(ReadHexInfo((dir_ / "absent.hex").string(), defaults_, 0));
  EXPECT_FALSE(ReadHexInfo(dir_.string(), defaults_, 0)) << "a folder is no file";
  const std::string path = Write(":00000001FF\n");
  for (int selected : {-1, 1}) {
    try {
      ReadHexInfo(path, defaults_, selected);
      ADD_FAILURE() << "no error for " << selected;
    } catch (const EListError& e) {
      EXPECT_EQ(std::string(e.what()),
                "List index out of bounds (" + std::to_string(selected) + ")");
    }
  }
  EXPECT_THROW(ReadHexInfo(path, {}, -1), EListError);
  EXPECT_THROW(ReadHexInfo(Write(":0400000012341G0060\n"), defaults_, 0), EConvertError);
}

// A device the catalogue refuses shows no information: its refusal instead.
TEST_F(HexInfoTest, ARefusedDeviceIsNamedInsteadOfShown) {
  defaults_.front().refusal = "refused: FLASH_END=0xFFFFFFFF";
  const std::string path = Write(":00000001FF\n");
  try {
    ReadHexInfo(path, defaults_, 0);
    ADD_FAILURE() << "no error";
  } catch (const EDeviceRefused& e) {
    EXPECT_STREQ(e.what(), "refused: FLASH_END=0xFFFFFFFF");
  }
}

}  // namespace
}  // namespace fw

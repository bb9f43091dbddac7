// The device catalogue: integer conversion, the INI rules, the device list and its memory map.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/catalogue.h"
#include "core/errors.h"
#include "core/ihex.h"
#include "core/ini.h"
#include "core/ini_convert.h"
#include "support/files.h"
#include "support/temp_dir.h"

namespace fw {
namespace {

class CatalogueTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& bytes) {
    const auto path = dir_ / "DEV_LIST.dat";
    test::WriteText(path, bytes);
    return path.string();
  }
  std::vector<DeviceEntry> Load(const std::string& bytes) {
    std::vector<DeviceEntry> list{DeviceEntry{"stale", {}}};
    LoadDeviceList(Write(bytes), list);
    return list;
  }

  test::TempDir temp_{"catalogue"};
  const std::filesystem::path dir_ = temp_.path();
};

TEST(StrToInt, AcceptsDecimalAndPrefixedHex) {
  const struct {
    const char* text;
    std::int32_t value;
  } good[] = {
      {"98302", 98302},
      {"0x17ffe", 98302},
      {"0X17FFE", 98302},
      {"$17FFE", 98302},
      {"x17FFE", 98302},
      {"X17ffe", 98302},
      {"  42", 42},
      {"\t7", 7},
      {"-5", -5},
      {"+7", 7},
      {"0xFFFFFFFF", -1},
      {"0x000000000010", 16},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
  };
  for (const auto& c : good)
    EXPECT_EQ(StrToInt(c.text), c.value) << c.text;

  for (const char* text : {"", " ", "12a", "0x", "$", "-0x10", "0x1G", "1 2", "42 ", "2147483648",
                           "0x100000000", "--1", "1.5"}) {
    try {
      StrToInt(text);
      ADD_FAILURE() << "accepted '" << text << "'";
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), "'" + std::string(text) + "' is not a valid integer value");
    }
  }
}

TEST(IniFile, ProfileReaderRules) {
  const IniFile ini = IniFile::Parse(
      "; comment\r\n"
      "top=ignored outside a section\r\n"
      "[Device_1]\r\n"
      "  Name  =   padded value  \r\n"
      "EMPTY=\r\n"
      "quoted=\"  kept blanks  \"\r\n"
      "single='x'\r\n"
      "half=\"open\r\n"
      "name=second occurrence loses\r\n"
      "noequals\r\n"
      "[ other ]\n"
      "k=v\n"
      "[DEVICE_1]\n"
      "late=a repeated section is not read\n");
  EXPECT_EQ(ini.ReadString("DEVICE_1", "NAME", "d"), "padded value");
  EXPECT_EQ(ini.ReadString("device_1", "empty", "d"), "");
  EXPECT_EQ(ini.ReadString("DEVICE_1", "missing", "d"), "d");
  EXPECT_EQ(ini.ReadString("DEVICE_2", "NAME", "d"), "d");
  EXPECT_EQ(ini.ReadString("DEVICE_1", "quoted", "d"), "  kept blanks  ");
  EXPECT_EQ(ini.ReadString("DEVICE_1", "single", "d"), "x");
  EXPECT_EQ(ini.ReadString("DEVICE_1", "half", "d"), "\"open");
  EXPECT_EQ(ini.ReadString("OTHER", "K", "d"), "v");
  EXPECT_EQ(ini.ReadString("DEVICE_1", "late", "d"), "d");
  EXPECT_EQ(ini.ReadString("", "top", "d"), "d");

  const std::string longValue(3000, 'a');
  EXPECT_EQ(IniFile::Parse("[s]\nk=" + longValue).ReadString("s", "k", "").size(), 2047u);
}

TEST(IniFile, Utf8WhenValidElseWindows1251) {
  // "НУБРА" in Windows-1251 and in UTF-8 (with a byte order mark).
  const std::string cp1251 = "[s]\nk=\xCD\xD3\xC1\xD0\xC0-7\n";
  const std::string utf8 = "\xEF\xBB\xBF[s]\nk=НУБРА-7\n";
  EXPECT_EQ(IniFile::Parse(cp1251).ReadString("s", "k", ""), "НУБРА-7");
  EXPECT_EQ(IniFile::Parse(utf8).ReadString("s", "k", ""), "НУБРА-7");
  EXPECT_EQ(IniFile::Parse(utf8).ReadString("S", "K", ""), "НУБРА-7");
}

TEST_F(CatalogueTest, SectionsInNumberOrderWithGaps) {
  const auto list = Load(
      "[DEVICE_5]\nNAME=five\nHCLASS=3\n"
      "[device_1]\nname=one\n"
      "[DEVICE_0]\nNAME=zero\n"
      "[DEVICE_101]\nNAME=too far\n"
      "[DEVICE_2]\nHCLASS=7\n"
      "[DEVICE_3]\nNAME=\nHCLASS=7\n"
      "[DEVICE_100]\nNAME=last\n");
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].text, "one HClass=0 HRel=1 Sver=1");
  EXPECT_EQ(list[1].text, "five HClass=3 HRel=1 Sver=1");
  EXPECT_EQ(list[2].info.Name, "last");
}

TEST_F(CatalogueTest, DefaultsAndTheirMemoryMap) {
  const auto list = Load("[DEVICE_1]\nNAME=Bare\n");
  ASSERT_EQ(list.size(), 1u);
  const TDeviceInfo& d = list[0].info;
  EXPECT_EQ(list[0].text, "Bare HClass=0 HRel=1 Sver=1");
  EXPECT_EQ(d.HClass, 0);
  EXPECT_EQ(d.HRel, 1);
  EXPECT_EQ(d.SVer, 1);
  const std::vector<std::vector<std::string>> expected = {
      {"Регион", "Begin", "End", "Size hex(dec) in addr units"},
      {"Всего программной памяти", "0x000000", "0x017FFE", "0x017FFF (98303)"},
      {"Программной памяти приложения", "0x000000", "0x017FFE", "0x017FFF (98303)"},
      {"Всего памяти EEPROM", "0x7FF000", "0x7FFFFE", "0x000FFF (4095)"},
      {"Памяти EEPROM для приложения", "0x7FF000", "0x7FFFFE", "0x000FFF (4095)"},
      {"Конфигурационная память", "0xF80000", "0xF8000E", "0x00000F (15)"},
  };
  const TextTable map = MemoryMapTable(d);
  EXPECT_EQ(map.rows, expected);
  EXPECT_EQ(map.fixedRows, 1);
  EXPECT_EQ(map.fixedCols, 0);
}

TEST_F(CatalogueTest, ValuesAsStored) {
  std::string longName;  // 250 characters, 500 bytes
  for (int i = 0; i < 250; ++i)
    longName += "Ж";
  const auto list =
      Load("[DEVICE_1]\nNAME=" + longName +
           "\nHCLASS=300\nHREL=0x1FF\nSVER=-1\n"
           "FLASH_BASE=0x100\nFLASH_END=98302\nFLASH_APP_BASE=$200\nFLASH_APP_END=x17ffe\n"
           "EEPROM_BASE=0x7FFC00\nEEPROM_END=0X7FFFFE\nEEPROM_APP_BASE=0x7FFE00\n"
           "EEPROM_APP_END= 0x7FFFFE \nCONFIG_BASE=0xF80000\nCONFIG_END=0xF8000E\n");
  ASSERT_EQ(list.size(), 1u);
  const TDeviceInfo& d = list[0].info;
  EXPECT_EQ(d.Name, longName.substr(0, 400));
  EXPECT_EQ(list[0].text, longName + " HClass=44 HRel=255 Sver=255");
  EXPECT_EQ(d.Flash.BaseAddr, 0x100);
  EXPECT_EQ(d.Flash.EndAddr, 0x17FFE);
  EXPECT_EQ(d.Flash.Size, 0x17EFF);
  EXPECT_EQ(d.FlashApp.BaseAddr, 0x200);
  EXPECT_EQ(d.FlashApp.EndAddr, 0x17FFE);
  EXPECT_EQ(d.Eeprom.Size, 0x3FF);
  EXPECT_EQ(d.EepromApp.BaseAddr, 0x7FFE00);
  EXPECT_EQ(d.EepromApp.EndAddr, 0x7FFFFE);
  EXPECT_EQ(d.Config.Size, 15);
}

TEST_F(CatalogueTest, BadIntegerKeepsTheDevicesReadBefore) {
  const struct {
    const char* failing;
    const char* message;
  } cases[] = {
      {"HREL=abc", "'abc' is not a valid integer value"},
      {"FLASH_END=", "'' is not a valid integer value"},
      {"CONFIG_END=0xF8000E;", "'0xF8000E;' is not a valid integer value"},
      {"HCLASS=7\x1b[2J\x07", "'7\\x1b[2J\\x07' is not a valid integer value"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.failing);
    std::vector<DeviceEntry> list;
    const std::string path = Write("[DEVICE_1]\nNAME=good\n[DEVICE_2]\nNAME=bad\n" +
                                   std::string(c.failing) + "\n[DEVICE_3]\nNAME=later\n");
    try {
      LoadDeviceList(path, list);
      ADD_FAILURE() << "no error";
    } catch (const EConvertError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].info.Name, "good");
  }
}

// Addresses the processor cannot have: such a device stays listed but is refused wherever it is
// used, with the key and its value as the catalogue gives them; the devices around it stay usable.
// (0xFFFFFFFF used to be read as -1, a memory of no words, and the image written without it.)
TEST_F(CatalogueTest, DeviceWithAddressesOutsideTheProcessorIsRefused) {
  const std::string head = "Устройство \"bad\" (DEVICE_2) каталога использовать нельзя:\n\r";
  const struct {
    const char* keys;
    std::string refusal;
  } cases[] = {
      {"FLASH_END=0xFFFFFFFF",
       "FLASH_END=0xFFFFFFFF лежит вне адресного пространства процессора 0x000000..0xFFFFFF"},
      {"FLASH_BASE=-5",
       "FLASH_BASE=-5 лежит вне адресного пространства процессора 0x000000..0xFFFFFF"},
      {"EEPROM_END=0x1000000",
       "EEPROM_END=0x1000000 лежит вне адресного пространства процессора 0x000000..0xFFFFFF"},
      {"CONFIG_BASE=0xF80010", "CONFIG_BASE=0xF80010 больше, чем CONFIG_END=0xF8000E"},
      {"FLASH_BASE=0x200\nFLASH_END=0x100\nFLASH_APP_END=0x100",
       "FLASH_BASE=0x200 больше, чем FLASH_END=0x100"},
      {"FLASH_APP_END=0x18000",
       "FLASH_APP_END=0x18000 лежит вне памяти FLASH_BASE=0..FLASH_END=0x17FFE"},
      {"EEPROM_BASE=0x7FF800\nEEPROM_APP_END=0x7FFFFE",
       "EEPROM_APP_BASE=0x7FF000 лежит вне памяти EEPROM_BASE=0x7FF800..EEPROM_END=0x7FFFFE"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keys);
    const auto list = Load("[DEVICE_1]\nNAME=good\n[DEVICE_2]\nNAME=bad\n" + std::string(c.keys) +
                           "\n[DEVICE_3]\nNAME=later\n");
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[1].refusal, head + c.refusal);
    try {
      UsableDevice(list[1]);
      ADD_FAILURE() << "no error";
    } catch (const EDeviceRefused& e) {
      EXPECT_EQ(std::string(e.what()), head + c.refusal);
    }
    EXPECT_EQ(&UsableDevice(list[0]), &list[0].info);
    EXPECT_EQ(&UsableDevice(list[2]), &list[2].info);
  }
  // The edges of the address space and a window equal to its memory are fine.
  const auto edges = Load(
      "[DEVICE_1]\nNAME=edges\nFLASH_BASE=0\nFLASH_END=0xFFFFFE\nFLASH_APP_BASE=0\n"
      "FLASH_APP_END=0xFFFFFE\nCONFIG_BASE=0xFFFFFF\nCONFIG_END=0xFFFFFF\n");
  EXPECT_EQ(edges.at(0).refusal, "");
}

TEST_F(CatalogueTest, Windows1251CatalogueAndMissingFile) {
  const auto list = Load("[DEVICE_1]\r\nNAME=\xCD\xD3\xC1\xD0\xC0-7 \xCC\xCA dsPIC30F6014A\r\n");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].info.Name, "НУБРА-7 МК dsPIC30F6014A");

  std::vector<DeviceEntry> none{DeviceEntry{"stale", {}}};
  LoadDeviceList((dir_ / "absent.dat").string(), none);
  EXPECT_TRUE(none.empty());
}

TEST_F(CatalogueTest, FindDeviceByPositionOrName) {
  const auto list = Load("[DEVICE_2]\nNAME=Alpha\n[DEVICE_7]\nNAME=Beta board\nHCLASS=2\n");
  EXPECT_EQ(FindDevice(list, "1"), 0u);
  EXPECT_EQ(FindDevice(list, "2"), 1u);
  EXPECT_EQ(FindDevice(list, "Beta board"), 1u);
  EXPECT_EQ(FindDevice(list, "Beta board HClass=2 HRel=1 Sver=1"), 1u);
  for (const char* missing : {"0", "3", "beta board", "Beta", ""})
    EXPECT_EQ(FindDevice(list, missing), std::nullopt) << missing;
}

TEST(FormatAddress, PaddedUpperCaseHex) {
  const struct {
    std::uint32_t value;
    bool withDecimal;
    const char* text;
  } cases[] = {
      {0x17FFE, false, "0x017FFE"},    {98303, true, "0x017FFF (98303)"},
      {15, true, "0x00000F (15)"},     {0xFFFFFFFF, true, "0xFFFFFFFF (4294967295)"},
      {0x1F00000, false, "0x1F00000"}, {0, false, "0x000000"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatAddress(c.value, c.withDecimal), c.text);
}

// The catalogue and firmware shipped beside the executables belong together: the example
// firmware passes every window of the default (first) device, as the write command checks them.
TEST(ExampleCatalogue, DefaultDeviceTakesTheExampleFirmware) {
  std::vector<DeviceEntry> list;
  LoadDeviceList(FW_SOURCE_DIR "/examples/DEV_LIST.dat", list);
  ASSERT_EQ(list.size(), 5u);
  const TDeviceInfo& d = list[0].info;
  EXPECT_NE(d.Name.find("dsPIC30F6014A"), std::string::npos);
  EXPECT_EQ(d.Flash.EndAddr, 0x17FFE);
  EXPECT_EQ(d.Eeprom.BaseAddr, 0x7FF000);
  EXPECT_EQ(d.Config.EndAddr, 0xF8000E);

  const HexFileText file = ReadHexFile(FW_SOURCE_DIR "/examples/firmware-dspic30f6014a.hex");
  const struct {
    const char* name;
    TMemRange range, window;
    bool program;
  } regions[] = {{"FLASH", d.Flash, d.FlashApp, true},
                 {"EEPROM", d.Eeprom, d.EepromApp, false},
                 {"CONFIG", d.Config, d.Config, false}};
  for (const auto& r : regions) {
    SCOPED_TRACE(r.name);
    TdsPicMemRegion region(r.range, r.program);
    region.LoadFromHexFile(file);
    region.SetAppBase(static_cast<std::uint32_t>(r.window.BaseAddr));
    region.SetAppEnd(static_cast<std::uint32_t>(r.window.EndAddr));
    EXPECT_NO_THROW(region.CheckAppRange(r.name));
    EXPECT_GT(region.ImageSize(), 0u);
  }
  TdsPicMemRegion flash(d.Flash, true);
  flash.LoadFromHexFile(file);
  EXPECT_EQ(flash.EntryPoint(), 0x100u);
}

}  // namespace
}  // namespace fw

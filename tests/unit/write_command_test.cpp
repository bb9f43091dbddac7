#include "core/write_command.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "core/carddata_create.h"
#include "core/carddata_errors.h"
#include "core/carddata_file.h"
#include "core/ihex.h"
#include "core/ini.h"
#include "core/message_format.h"
#include "core/texts.h"
#include "support/fault_devices.h"
#include "support/files.h"
#include "support/ihex_records.h"
#include "support/temp_dir.h"

namespace fw {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

using test::HexRecord;
using test::ReadText;
using test::WriteText;

// The reset vector's GOTO 0x000100 at processor addresses 0 and 2, and one config word.
std::string SmallFirmware() {
  return HexRecord(0x04, 0, {0x00, 0x00}) +
         HexRecord(0x00, 0, {0x00, 0x01, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00}) +
         HexRecord(0x04, 0, {0x01, 0xF0}) + HexRecord(0x00, 0, {0x3F, 0xC7, 0x00, 0x00}) +
         HexRecord(0x01, 0, {});
}

DeviceEntry Device(std::int32_t flashAppBase) {
  DeviceEntry d;
  d.text = "test device";
  d.info.Name = "test device";
  d.info.HClass = 3;
  d.info.Flash = {0, 0x17FFE, 0x17FFF};
  d.info.FlashApp = {flashAppBase, 0x17FFE, 0x17FFF - flashAppBase};
  d.info.Eeprom = {0x7FF000, 0x7FFFFE, 0xFFF};
  d.info.EepromApp = d.info.Eeprom;
  d.info.Config = {0xF80000, 0xF8000E, 0xF};
  return d;
}

class WriteCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    card_ = (dir_ / "data.rgd").string();
    hex_ = (dir_ / "fw.hex").string();
    ASSERT_EQ(CreateCardDataFile(card_, MakeCardLayout(4096, 50, ExtendedPagesFromMegabytes(1))),
              TCreateResult::Completed);
    WriteText(hex_, SmallFirmware());
  }
  WriteInputs Inputs() const {
    WriteInputs in;
    in.hexPath = hex_;
    in.deviceIndex = 0;
    in.cardPath = card_;
    in.name = "Update";
    return in;
  }
  // A write refused with this report (what the window asks about) leaves the card as it was;
  // forced, it writes.
  void ExpectRefusedUnlessForced(const std::string& report) {
    const std::string before = ReadText(card_);
    try {
      WriteUpdate(Inputs(), devices_);
      ADD_FAILURE() << "written without being forced";
    } catch (const EOrphanedEntries& refusal) {
      EXPECT_EQ(refusal.Report(), report);
      EXPECT_EQ(refusal.what(), report + "\n\r" + std::string(texts::kOrphansRefused));
      EXPECT_EQ(refusal.Kind(), mkInformation);
    }
    EXPECT_EQ(ReadText(card_), before);
    WriteInputs in = Inputs();
    in.force = true;
    ASSERT_NO_THROW(WriteUpdate(in, devices_));
  }

  test::TempDir temp_{"write-command"};
  const fs::path dir_ = temp_.path();
  std::string card_;
  std::string hex_;
  std::vector<DeviceEntry> devices_ = {Device(0)};
};

// The text of the refusal the write gives (which must be of kind information); empty when it
// writes.
std::string RefusalOf(const WriteInputs& in, std::span<const DeviceEntry> devices) {
  try {
    WriteUpdate(in, devices);
    return "";
  } catch (const ERefusal& refusal) {
    EXPECT_EQ(refusal.Kind(), mkInformation) << refusal.what();
    return refusal.what();
  }
}

TEST_F(WriteCommandTest, RefusesMissingInputsAndUnstorableNamesBeforeTouchingTheCard) {
  const std::string folder = dir_.string();
  const std::string missing = (dir_ / "missing").string();
  struct Case {
    std::string hex;
    int device;
    std::string card;
    std::string name;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"", -1, "", "Update", std::string(texts::kNoHexFile)},  // only the first refusal
      {folder, 0, card_, "Update", std::string(texts::kNoHexFile)},
      {missing, 0, card_, "Update", std::string(texts::kNoHexFile)},
      {hex_, -1, "", "Update", std::string(texts::kNoDevice)},
      {hex_, 1, card_, "Update", std::string(texts::kNoDevice)},
      {hex_, 0, folder, "Update", std::string(texts::kNoCardFile)},
      {hex_, 0, missing, "Update", std::string(texts::kNoCardFile)},
      {hex_, 0, card_, "Обновление-17симв",
       FormatMessage(texts::kNameTooLong, {std::string("Обновление-17симв")})},
      {hex_, 0, card_, "Update 日本",
       FormatMessage(texts::kNameNotRepresentable,
                     {std::string("Update 日本"), std::string("日")})},
  };
  const std::string before = ReadText(card_);
  for (const auto& c : cases) {
    WriteInputs in = Inputs();
    in.hexPath = c.hex;
    in.deviceIndex = c.device;
    in.cardPath = c.card;
    in.name = c.name;
    EXPECT_EQ(RefusalOf(in, devices_), c.expected);
  }
  EXPECT_EQ(ReadText(card_), before);
}

TEST_F(WriteCommandTest, AppendsTheImagesWithVersionsBroughtIntoRange) {
  WriteInputs in = Inputs();
  in.name = "Прошивка МК 16ch";  // 16 characters, all in Windows-1251
  devices_[0].info.HClass = 0;   // class and release are the device's, brought into range
  devices_[0].info.HRel = 255;
  in.sver = -1;
  in.srel = 70000;
  const WriteResult result = WriteUpdate(in, devices_);
  EXPECT_EQ(result.newEntry.Name, "Прошивка МК 16ch");
  EXPECT_EQ(result.newEntry.Id, 1);
  EXPECT_EQ(result.newEntry.Version, (TRgdVersionInfo{1, 255, 0, 65535}));
  EXPECT_EQ(result.entries.RowCount(), 3);  // captions, the entry, the empty last row

  TRgdFile card(card_, TRgdFile::Mode::ReadOnly);
  const TRgdEntryPayloads entry = card.ReadEntryPayloads(0);
  EXPECT_EQ(entry.Flash, (Bytes{0x00, 0x01, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(entry.Header.FlashStart, 0u);
  EXPECT_EQ(entry.Header.FlashEntryPoint, 0x100u);
  EXPECT_TRUE(entry.Eeprom.empty());
  EXPECT_EQ(entry.Header.EepromStart, 0x7FF000u);  // an empty image starts at the base
  EXPECT_EQ(entry.Config, (Bytes{0x3F, 0xC7}));
  EXPECT_EQ(entry.Header.XorKey, 0);
  EXPECT_EQ(entry.Header.RotKey, 0);
}

TEST_F(WriteCommandTest, ScrambledSecondWriteGetsTheNextIdAndReadsBackWhole) {
  ASSERT_NO_THROW(WriteUpdate(Inputs(), devices_));
  WriteInputs in = Inputs();
  in.scrambleKeys = DrawScrambleKeys();
  const WriteResult second = WriteUpdate(in, devices_);
  EXPECT_EQ(second.newEntryIndex, 1);
  EXPECT_EQ(second.newEntry.Id, 2);

  TRgdFile card(card_, TRgdFile::Mode::ReadOnly);
  const TRgdEntryPayloads plain = card.ReadEntryPayloads(0);
  const TRgdEntryPayloads scrambled = card.ReadEntryPayloads(1);
  EXPECT_NE(scrambled.Header.XorKey, 0);
  EXPECT_NE(scrambled.Header.RotKey, 0);
  EXPECT_EQ(scrambled.Flash, plain.Flash);
  EXPECT_EQ(scrambled.Config, plain.Config);
  EXPECT_TRUE(card.CheckEntry(1).Ok());
}

TEST_F(WriteCommandTest, WrongCardFailsBeforeTheFirmwareIsLookedAt) {
  // Firmware below the application window of a device with a boot area: it would not fit.
  const std::vector<DeviceEntry> bootloaded = {Device(0x100)};
  WriteText(card_, std::string(512, 'x'));
  EXPECT_THROW(WriteUpdate(Inputs(), bootloaded), EInvalidFormat);
}

TEST_F(WriteCommandTest, ImageOutsideItsWindowLeavesTheCardAsItWas) {
  const std::vector<DeviceEntry> bootloaded = {Device(0x100)};
  const std::string before = ReadText(card_);
  try {
    WriteUpdate(Inputs(), bootloaded);
    FAIL() << "no ENotInWindow";
  } catch (const ENotInWindow& error) {
    EXPECT_NE(std::string(error.what()).find("FLASH"), std::string::npos);
  }
  EXPECT_EQ(ReadText(card_), before);
}

// ---- Refused devices and names with control characters ---------------------------------------

// A device whose catalogue addresses the processor cannot have is refused before the card is
// opened, in the window as on the command line; the card keeps every byte, and the next device
// of the same catalogue still writes.
TEST_F(WriteCommandTest, ADeviceTheCatalogueRefusesWritesNothing) {
  std::vector<DeviceEntry> devices;
  LoadDeviceList(IniFile::Parse("[DEVICE_1]\nNAME=wrapped\nFLASH_END=0xFFFFFFFF\n"
                                "[DEVICE_2]\nNAME=fine\n"),
                 devices);
  ASSERT_EQ(devices.size(), 2u);
  const std::string before = ReadText(card_);
  try {
    WriteUpdate(Inputs(), devices);
    FAIL() << "no error";
  } catch (const EDeviceRefused& e) {
    EXPECT_EQ(std::string(e.what()),
              "Устройство \"wrapped\" (DEVICE_1) каталога использовать нельзя:\n\r"
              "FLASH_END=0xFFFFFFFF лежит вне адресного пространства процессора "
              "0x000000..0xFFFFFF");
  }
  EXPECT_EQ(ReadText(card_), before);
  WriteInputs in = Inputs();
  in.deviceIndex = 1;
  EXPECT_NO_THROW(WriteUpdate(in, devices));
}

// ESC, BEL, CR, LF, TAB and the other controls would be printed by every listing of the card and
// act on the user's terminal: such a name is refused, shown escaped, and the card is untouched.
TEST_F(WriteCommandTest, ANameWithAControlCharacterIsRefused) {
  const struct {
    std::string name;
    std::string shown;  // the name and the character as the message shows them
    std::string character;
  } cases[] = {
      {"Up\x1b[2J", "Up\\x1b[2J", "\\x1b"},
      {"bell\x07", "bell\\x07", "\\x07"},
      {"a\rb", "a\\rb", "\\r"},
      {"line\nnext", "line\\nnext", "\\n"},
      {"tab\tbed", "tab\\tbed", "\\t"},
      {"del\x7f", "del\\x7f", "\\x7f"},
      {"\x01\x1b", "\\x01\\x1b", "\\x01"},
  };
  const std::string before = ReadText(card_);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shown);
    WriteInputs in = Inputs();
    in.name = c.name;
    EXPECT_EQ(RefusalOf(in, devices_), "Наименование обновления \"" + c.shown +
                                           "\" содержит управляющий символ " + c.character +
                                           ",\n\rкоторый нельзя записать на карту ММС");
  }
  EXPECT_EQ(ReadText(card_), before);
}

// SmallFirmware on a new card: the entry header at absolute page 201, one FLASH page, one CONFIG
// page; the next entry goes to page 205.
constexpr std::uint64_t kFirstEntryOffset = 201 * 512;

TEST_F(WriteCommandTest, AReadBackFailureAfterTheCommitIsAnEntryWrittenNotAFailedWrite) {
  ASSERT_NO_THROW(WriteUpdate(Inputs(), devices_));
  const CardDeviceOpener readsFailAfterTheHeaderPage = [](const std::string& path) {
    return std::make_unique<test::ReadsFailAfterSyncs>(platform::OpenForUpdate(path), 2);
  };
  try {
    WriteUpdate(Inputs(), devices_, readsFailAfterTheHeaderPage);
    FAIL() << "no error";
  } catch (const EEntryCommitted& e) {
    EXPECT_EQ(e.Id(), 2);
    EXPECT_EQ(e.Page(), 205u);
    EXPECT_EQ(e.WrittenText(),
              "Обновление записано в файл ММС " + card_ + ": запись ID 2 (страница 205)");
  }
  TRgdFile card(card_, TRgdFile::Mode::ReadOnly);
  ASSERT_EQ(card.EntryCount(), 2);
  EXPECT_TRUE(card.CheckEntry(1).Ok());
}

TEST_F(WriteCommandTest, EntriesHiddenPastTheChainAreOverwrittenOnlyWhenForced) {
  ASSERT_NO_THROW(WriteUpdate(Inputs(), devices_));
  ASSERT_NO_THROW(WriteUpdate(Inputs(), devices_));
  std::string bytes = ReadText(card_);
  bytes[kFirstEntryOffset] = 0x5B;  // a flipped marker hides both entries; both are found
  WriteText(card_, bytes);
  const std::string report =
      "В секции EXTENDED файла ММС " + card_ +
      " за концом цепочки найдены записи,\n\rкоторых нет в списке (2):\n\rстраница 201, ID 1, "
      "имя \"Update          \"\n\rстраница 205, ID 2, имя \"Update          \"";
  ExpectRefusedUnlessForced(report);
  TRgdFile card(card_, TRgdFile::Mode::ReadOnly);
  EXPECT_EQ(card.EntryCount(), 1);
  EXPECT_TRUE(card.FindOrphanedEntries().empty()) << "the hidden entries were written over";
}

// The first entry takes pages 201..203 (header, FLASH, CONFIG); with a PageCount of 1 the chain
// goes on at 203, its CONFIG page, which a new entry would overwrite. The write refuses as it
// does over hidden entries, and the window asks the same way.
TEST_F(WriteCommandTest, AnEntryWhosePageCountIsTooSmallIsNotWrittenIntoUnlessForced) {
  ASSERT_NO_THROW(WriteUpdate(Inputs(), devices_));
  std::string bytes = ReadText(card_);
  ASSERT_EQ(bytes[kFirstEntryOffset + 2], 3);
  bytes[kFirstEntryOffset + 2] = 1;
  WriteText(card_, bytes);
  const std::string report = "В цепочке записей файла ММС " + card_ +
                             " найдены записи, число страниц которых\n\rне сходится с их "
                             "размерами (1):\n\rзапись 1, страница 201, ID 1, имя \"Update    "
                             "      \": PageCount 1, по размерам 3";
  ExpectRefusedUnlessForced(report);
  EXPECT_EQ(TRgdFile(card_).GetEntry(1).Page, 203u);
}

// A HEX file with nothing for the device's processor (only the end record, or data outside each
// of its memories) would be written as an entry of no payload: refused, naming the file and the
// device, and the card keeps every byte.
TEST_F(WriteCommandTest, AHexFileWithNoDataForTheDeviceIsRefused) {
  const struct {
    const char* what;
    std::string hex;
  } cases[] = {
      {"only the end record", HexRecord(0x01, 0, {})},
      {"data at 0x900000 only", HexRecord(0x04, 0, {0x01, 0x20}) +
                                    HexRecord(0x00, 0, {1, 2, 3, 4}) + HexRecord(0x01, 0, {})},
  };
  const std::string before = ReadText(card_);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteText(hex_, c.hex);
    try {
      WriteUpdate(Inputs(), devices_);
      ADD_FAILURE() << "written";
    } catch (const ERefusal& refusal) {
      EXPECT_EQ(refusal.what(), "Файл " + hex_ +
                                    " не содержит данных для устройства \"test device\":\n\rв нём "
                                    "нет ни одного слова памяти FLASH, EEPROM или CONFIG его "
                                    "процессора");
      EXPECT_EQ(refusal.Kind(), mkError);
    }
    EXPECT_EQ(ReadText(card_), before);
  }
}

TEST_F(WriteCommandTest, VerifyReadsTheNewEntryFromTheCardAndNamesTheCheckThatFails) {
  WriteInputs in = Inputs();
  in.verify = true;
  ASSERT_NO_THROW(WriteUpdate(in, devices_));  // a card that holds what was written
  const struct {
    std::uint64_t offset;  // of the byte the card does not hold, in the second entry
    const char* failures;
  } cases[] = {
      {(205 + 1) * 512 + 3, "FLASH"},
      {205 * 512 + 76, "header"},
  };
  for (const auto& c : cases) {
    const std::string before = ReadText(card_);
    const CardDeviceOpener mediumDiffers = [&c](const std::string& path) {
      return std::make_unique<test::MediumDiffers>(platform::OpenForUpdate(path), c.offset);
    };
    try {
      WriteUpdate(in, devices_, mediumDiffers);
      ADD_FAILURE() << "no error for " << c.failures;
    } catch (const EWrittenEntryDamaged& e) {
      EXPECT_EQ(e.what(), "Запись ID 2 (страница 205) файла ММС " + card_ +
                              ", прочитанная с карты после записи, повреждена (не сходится: " +
                              c.failures + ")");
    }
    WriteText(card_, before);
  }
}

}  // namespace
}  // namespace fw

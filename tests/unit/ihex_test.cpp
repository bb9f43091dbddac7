// The HEX reader and the dsPIC30F memory regions it fills.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "core/errors.h"
#include "core/ihex.h"
#include "support/files.h"
#include "support/ihex_records.h"
#include "support/temp_dir.h"

namespace fw {
namespace {

using test::HexRecord;

std::string Linear(std::uint16_t upper) {
  return HexRecord(0x04, 0,
                   {static_cast<std::uint8_t>(upper >> 8), static_cast<std::uint8_t>(upper)});
}
std::string Segment(std::uint16_t seg) {
  return HexRecord(0x02, 0, {static_cast<std::uint8_t>(seg >> 8), static_cast<std::uint8_t>(seg)});
}
const std::string kEof = ":00000001FF\n";

const TMemRange kFlash{0, 0x17FFE, 0x17FFF};
const TMemRange kEeprom{0x7FF000, 0x7FFFFE, 0xFFF};
const TMemRange kConfig{0xF80000, 0xF8000E, 0xF};

TdsPicMemRegion Loaded(const TMemRange& range, bool program, const std::string& text) {
  TdsPicMemRegion region(range, program);
  region.LoadFromHexFile(HexFileText{"fw.hex", text});
  return region;
}

std::string ErrorOf(const TMemRange& range, const std::string& text) {
  try {
    Loaded(range, true, text);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "(no error)";
}

// ---- Records into regions ------------------------------------------------------------------

struct LoadCase {
  const char* name;
  std::string text;
  TMemRange range;
  std::int32_t first, last;
  std::vector<std::pair<std::uint32_t, std::uint16_t>> lowWords;  // address, expected low word
};

TEST(IhexLoad, RecordsLandAtTheirProcessorAddresses) {
  const std::vector<LoadCase> cases = {
      {"part example", ":040000001234560060\n" + kEof, kFlash, 0, 1, {{0, 0x3412}, {2, 0xFFFF}}},
      {"lower-case digits", ":04000000abcdef0095\n:00000001ff\n", kFlash, 0, 1, {{0, 0xCDAB}}},
      {"last program word",
       Linear(2) + HexRecord(0, 0xFFFC, {1, 2, 3, 0}) + kEof,
       kFlash,
       0x17FFE,
       0x17FFF,
       {{0x17FFE, 0x0201}}},
      {"first EEPROM word",
       Linear(0xFF) + HexRecord(0, 0xE000, {0x34, 0x12, 0, 0}) + kEof,
       kEeprom,
       0x7FF000,
       0x7FF001,
       {{0x7FF000, 0x1234}}},
      {"first config word",
       Linear(0x1F0) + HexRecord(0, 0, {0x06, 0xC7, 0, 0}) + kEof,
       kConfig,
       0xF80000,
       0xF80001,
       {{0xF80000, 0xC706}}},
      {"3 bytes store nothing", HexRecord(0, 0, {1, 2, 3}) + kEof, kFlash, 0, 0, {{0, 0xFFFF}}},
      {"6 bytes store one word",
       HexRecord(0, 0, {1, 2, 3, 0, 5, 6}) + kEof,
       kFlash,
       0,
       1,
       {{0, 0x0201}, {2, 0xFFFF}}},
      {"offset 2 rounds down",
       HexRecord(0, 0x0002, {1, 2, 3, 0}) + kEof,
       kFlash,
       0,
       1,
       {{0, 0x0201}}},
      {"offset 6 rounds down",
       HexRecord(0, 0x0006, {1, 2, 3, 0}) + kEof,
       kFlash,
       2,
       3,
       {{2, 0x0201}}},
      {"after EOF ignored", kEof + HexRecord(0, 0, {1, 2, 3, 0}), kFlash, 0, 0, {{0, 0xFFFF}}},
      {"text between records",
       "junk" + HexRecord(0, 0, {1, 2, 3, 0}) + "  ; note\r\n" + kEof,
       kFlash,
       0,
       1,
       {{0, 0x0201}}},
      {"first word below region",
       Linear(0xFF) + HexRecord(0, 0xDFFC, {1, 2, 3, 0, 4, 5, 6, 0}) + kEof,
       kEeprom,
       0x7FF000,
       0x7FF000,
       {{0x7FF000, 0xFFFF}}},
      {"first word above region",
       Linear(0x1F0) + HexRecord(0, 0x20, {1, 2, 3, 0}) + kEof,
       kConfig,
       0xF80000,
       0xF80000,
       {}},
      {"last word runs past the end",
       Linear(0x1F0) + HexRecord(0, 0x1C, {1, 2, 0, 0, 3, 4, 0, 0}) + kEof,
       kConfig,
       0xF8000E,
       0xF80011,
       {{0xF8000E, 0x0201}, {0xF80010, 0x0403}}},
      {"linear address stays in force",
       Linear(0xFF) + HexRecord(0, 0xE000, {1, 0, 0, 0}) + HexRecord(0, 0xE004, {2, 0, 0, 0}) +
           kEof,
       kEeprom,
       0x7FF000,
       0x7FF003,
       {{0x7FF000, 1}, {0x7FF002, 2}}},
      // A segment record sets the base to segment * 16, and the later of the two kinds counts.
      {"segment address",
       Segment(0x1000) + HexRecord(0, 0x0010, {1, 2, 3, 0}) + kEof,
       kFlash,
       0x8008,
       0x8009,
       {{0x8008, 0x0201}}},
      {"segment replaces linear",
       Linear(0xFF) + Segment(0x0001) + HexRecord(0, 0, {1, 2, 3, 0}) + kEof,
       kFlash,
       8,
       9,
       {{8, 0x0201}}},
      {"linear replaces segment",
       Segment(0xF000) + Linear(0xFF) + HexRecord(0, 0xE000, {1, 0, 0, 0}) + kEof,
       kEeprom,
       0x7FF000,
       0x7FF001,
       {{0x7FF000, 1}}},
      {"other types ignored",
       HexRecord(0x05, 0, {0, 0, 1, 0}) + HexRecord(0x03, 0, {0, 0, 1, 0}) + kEof,
       kFlash,
       0,
       0,
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const bool program = c.range.BaseAddr == 0;
    const auto region = Loaded(c.range, program, c.text);
    EXPECT_EQ(region.ImageFirst(), c.first);
    EXPECT_EQ(region.ImageLast(), c.last);
    for (const auto& [address, word] : c.lowWords)
      EXPECT_EQ(region.GetLowWord(address), word) << std::hex << address;
  }
}

TEST(IhexLoad, DamagedFilesNameTheFaultAndTheLine) {
  const std::string good = HexRecord(0, 0, {1, 2, 3, 0});
  const struct {
    const char* name;
    std::string text;
    std::string message;
  } cases[] = {
      {"non-hex data byte", ":0400000012341G0060\n", "'$1G' is not a valid integer value"},
      {"non-hex byte count", ":G400000012345600\n", "'$G4' is not a valid integer value"},
      {"line shorter than its byte count", ":0800000012345600\n:00000001FF\n",
       "'$\\n:' is not a valid integer value"},
      {"checksum digits not hex", ":0400000012345600ZZ\n", "'$ZZ' is not a valid integer value"},
      {"terminal escape as byte count", ":\x1b[2J\n", "'$\\x1b[' is not a valid integer value"},
      {"wrong checksum", good + good + ":040000001234560061\n" + kEof,
       "Ошибка контрольной суммы в строке 3 файла fw.hex"},
      {"wrong checksum, CR LF lines", ":020000040000FA\r\n\r\n:0400000012345600FF\r\n",
       "Ошибка контрольной суммы в строке 3 файла fw.hex"},
      {"wrong checksum, one line", good.substr(0, good.size() - 1) + ":00000001FE",
       "Ошибка контрольной суммы в строке 1 файла fw.hex"},
      {"wrong checksum on EOF record", good + ":00000001FE\n",
       "Ошибка контрольной суммы в строке 2 файла fw.hex"},
      {"cut in the data", good + ":04000000123456", "Неполная запись в строке 2 файла fw.hex"},
      {"cut before the checksum", good + "\n:0400000012345600",
       "Неполная запись в строке 3 файла fw.hex"},
      {"cut in the checksum", ":040000001234560060\n:00000001F",
       "Неполная запись в строке 2 файла fw.hex"},
      {"colon only", good + ":", "Неполная запись в строке 2 файла fw.hex"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ErrorOf(kFlash, c.text), c.message);
  }
}

// A download or copy cut short loses its end-of-file record; a file of another kind has no record
// at all. Neither is an image to write: both are refused, naming the file. What stands after the
// end-of-file record is still ignored (the "after EOF ignored" load case).
TEST(IhexLoad, AFileWithoutEndOfFileRecordOrWithoutRecordsIsRefused) {
  const std::string cut =
      "Файл fw.hex оборван: в нём нет записи конца файла (:00000001FF).\n\rВероятно, он "
      "скопирован или загружен не полностью";
  const std::string noHex = "Файл fw.hex не является файлом Intel HEX: в нём нет ни одной записи";
  const struct {
    const char* name;
    std::string text;
    std::string message;
  } cases[] = {
      {"data records, no end", Linear(0) + HexRecord(0, 8, {1, 2, 3, 0}), cut},
      {"cut after a whole line", HexRecord(0, 0, {1, 2, 3, 0}) + HexRecord(0, 4, {1, 2, 3, 0}),
       cut},
      {"only an address record", Linear(0xFF), cut},
      {"no colon", "not a hex file\n", noHex},
      {"empty file", "", noHex},
      {"binary bytes",
       std::string("\x7f"
                   "ELF\x02\x01\x00",
                   7),
       noHex},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TdsPicMemRegion region(kEeprom, false);
    try {
      region.LoadFromHexFile(HexFileText{"fw.hex", c.text});
      ADD_FAILURE() << "no error";
    } catch (const EHexFormatError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
}

TEST(IhexLoad, AFailedLoadKeepsWhatWasReadBefore) {
  TdsPicMemRegion region(kFlash, true);
  const std::string text = HexRecord(0, 4, {1, 2, 3, 0}) + ":04000000XX";
  EXPECT_THROW(region.LoadFromHexFile(HexFileText{"fw.hex", text}), EConvertError);
  EXPECT_EQ(region.ImageFirst(), 2);
  EXPECT_EQ(region.ImageLast(), 3);
  EXPECT_EQ(region.GetLowWord(2), 0x0201);

  TdsPicMemRegion untouched(kFlash, true);
  EXPECT_THROW(untouched.LoadFromHexFile(HexFileText{"fw.hex", ":zz"}), EConvertError);
  EXPECT_EQ(untouched.ImageFirst(), 2147483647);
  EXPECT_EQ(untouched.ImageLast(), -1);
}

TEST(IhexLoad, ReloadStartsOver) {
  TdsPicMemRegion region(kFlash, true);
  region.LoadFromHexFile(HexFileText{"a.hex", HexRecord(0, 0x10, {1, 2, 3, 0}) + kEof});
  region.LoadFromHexFile(HexFileText{"b.hex", HexRecord(0, 0x20, {4, 5, 6, 0}) + kEof});
  EXPECT_EQ(region.ImageFirst(), 0x10);
  EXPECT_EQ(region.ImageLast(), 0x11);
  EXPECT_EQ(region.GetLowWord(0x08), 0xFFFF);
}

TEST(IhexFile, ReadOnceGivesWhatEachRegionWouldReadItself) {
  const test::TempDir temp("ihex-file");
  const std::filesystem::path& dir = temp.path();
  const std::string path = (dir / "fw.hex").string();
  test::WriteText(path, HexRecord(0, 0, {0, 1, 4, 0, 0, 0, 0, 0}) + Linear(0xFF) +
                            HexRecord(0, 0xE000, {7, 8, 0, 0}) + kEof);
  const HexFileText file = ReadHexFile(path);
  for (const auto& [range, program] : {std::pair{kFlash, true}, std::pair{kEeprom, false}}) {
    TdsPicMemRegion once(range, program), own(range, program);
    once.LoadFromHexFile(file);
    own.LoadFromHexFile(ReadHexFile(path));
    EXPECT_EQ(once.ImageFirst(), own.ImageFirst());
    EXPECT_EQ(once.ImageLast(), own.ImageLast());
    EXPECT_EQ(once.GetLowWord(once.BaseAddress()), own.GetLowWord(own.BaseAddress()));
  }

  // A file that cannot be opened leaves the region as it was.
  TdsPicMemRegion region(kFlash, true);
  region.LoadFromHexFile(file);
  const std::string missing = (dir / "missing.hex").string();
  try {
    region.LoadFromHexFile(ReadHexFile(missing));
    FAIL() << "no error";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file " + missing + ": файл не найден");
  }
  EXPECT_THROW(ReadHexFile(dir.string()), EFOpenError);
  EXPECT_EQ(region.ImageLast(), 3);
  EXPECT_EQ(region.EntryPoint(), 0x100u);
}

// One pass over the text fills several regions exactly as a load of each region on its own does:
// slots, bounds and errors alike, overlapping regions and a region without slots included.
TEST(IhexFile, OnePassIntoSeveralRegionsGivesWhatEachOwnLoadGives) {
  // Program-memory regions all, so that a copy shows every byte of every slot.
  const std::vector<TMemRange> ranges = {
      kFlash, kEeprom, kConfig, {0x7FF008, 0x7FF016, 0xF}, {0x20, 0x1F, 0}};
  std::string image = HexRecord(0, 0, {0, 1, 4, 0, 0, 0, 0, 0}) + Linear(2) +
                      HexRecord(0, 0xFFF8, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}) + Linear(0xFF) +
                      HexRecord(0, 0xDFFC, {1, 2, 3, 0, 4, 5, 6, 0});
  for (unsigned offset = 0xE000; offset < 0xE040; offset += 16)
    image += HexRecord(0, static_cast<std::uint16_t>(offset),
                       std::vector<std::uint8_t>(16, static_cast<std::uint8_t>(offset >> 4)));
  image += Segment(0x1000) + HexRecord(0, 0x40, {0xAB, 0xCD, 0, 0}) + Linear(0x1F0) +
           HexRecord(0, 0x1C, {1, 2, 0, 0, 3, 4, 0, 0}) + HexRecord(0, 0x40, {9, 9, 0, 0});
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"whole image", image + kEof + HexRecord(0, 0, {7, 7, 7, 0})},
      {"empty image", kEof},
      {"damaged after some words", image + ":0400000012341G0060\n"},
      {"no end-of-file record", image},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const HexFileText file{"fw.hex", c.text};
    std::vector<TdsPicMemRegion> together, alone;
    std::vector<TdsPicMemRegion*> pointers;
    for (const TMemRange& range : ranges) {
      together.emplace_back(range, true);
      alone.emplace_back(range, true);
    }
    for (auto& region : together)
      pointers.push_back(&region);
    std::string errorTogether = "(no error)";
    try {
      LoadRegionsFromHexFile(file, pointers);
    } catch (const std::runtime_error& e) {
      errorTogether = e.what();
    }
    for (std::size_t i = 0; i < ranges.size(); ++i) {
      SCOPED_TRACE(i);
      std::string errorAlone = "(no error)";
      try {
        alone[i].LoadFromHexFile(file);
      } catch (const std::runtime_error& e) {
        errorAlone = e.what();
      }
      EXPECT_EQ(errorTogether, errorAlone);
      EXPECT_EQ(together[i].ImageFirst(), alone[i].ImageFirst());
      EXPECT_EQ(together[i].ImageLast(), alone[i].ImageLast());
      const auto units = static_cast<std::uint32_t>(together[i].SlotCount()) * 2;
      const std::uint32_t base = together[i].BaseAddress();
      std::vector<std::uint8_t> slotsTogether(units * 2), slotsAlone(units * 2);
      together[i].CopyImage(slotsTogether, base, base + units - 1);
      alone[i].CopyImage(slotsAlone, base, base + units - 1);
      EXPECT_EQ(slotsTogether, slotsAlone);
    }
  }
  // The case table reaches every region: words in each of the first four.
  std::vector<TdsPicMemRegion> regions;
  for (const TMemRange& range : ranges)
    regions.emplace_back(range, true);
  std::vector<TdsPicMemRegion*> pointers;
  for (auto& region : regions)
    pointers.push_back(&region);
  LoadRegionsFromHexFile(HexFileText{"fw.hex", image + kEof}, pointers);
  EXPECT_EQ(regions[0].ImageLast(), 0x18001);  // the record at the last words runs past the end
  EXPECT_EQ(regions[0].EntryPoint(), 0x100u);
  EXPECT_EQ(regions[0].GetLowWord(0x8020), 0xCDAB);  // placed by the segment address
  EXPECT_EQ(regions[1].ImageFirst(), 0x7FF000);
  EXPECT_EQ(regions[1].ImageLast(), 0x7FF01F);
  EXPECT_EQ(regions[1].GetLowWord(0x7FF008), 0x0101);
  EXPECT_EQ(regions[3].ImageFirst(), 0x7FF008);  // overlapping the EEPROM: the same records
  EXPECT_EQ(regions[3].GetLowWord(0x7FF010), 0x0202);
  EXPECT_EQ(regions[3].ImageLast(), 0x7FF017);
  EXPECT_EQ(regions[2].ImageFirst(), 0xF8000E);
  EXPECT_EQ(regions[2].ImageLast(), 0xF80011);
  EXPECT_EQ(regions[4].ImageFirst(), 0x20);  // no slots: an empty image at its base
}

// ---- Region operations ---------------------------------------------------------------------

TEST(IhexRegion, SlotsAndTheirBounds) {
  TdsPicMemRegion flash(kFlash, true);
  EXPECT_EQ(flash.SlotCount(), 98303);
  EXPECT_EQ(flash.ImageFirst(), -1);
  EXPECT_EQ(flash.ImageLast(), -1);
  EXPECT_EQ(flash.GetLowWord(0x100), 0u);  // zero until cleared
  flash.Clear();
  EXPECT_EQ(flash.GetByte(0x100), 0xFF);
  EXPECT_EQ(flash.GetByte(0x101), 0xFF);
  EXPECT_EQ(flash.GetLowWord(0x100), 0xFFFF);

  TdsPicMemRegion eeprom(kEeprom, false);
  eeprom.Clear();
  eeprom.SetLowWord(0x7FF002, 0xBEEF);
  eeprom.SetHighWord(0x7FF002, 0x1234);
  EXPECT_EQ(eeprom.GetByte(0x7FF002), 0xEF);
  EXPECT_EQ(eeprom.GetByte(0x7FF003), 0xBE);
  // Below the base the unsigned offset runs past the slots: reads 0, writes are dropped.
  eeprom.SetLowWord(0x7FEFFE, 0x1111);
  EXPECT_EQ(eeprom.GetLowWord(0x7FEFFE), 0u);
  EXPECT_EQ(eeprom.GetByte(0x7FF000 + 2 * 0xFFF), 0u);  // first address past the slot array
  EXPECT_EQ(eeprom.GetByte(0x7FF000 + 2 * 0xFFE), 0xFF);

  TdsPicMemRegion none({0x100, 0xFF, 0}, true);  // End = Base - 1: no slots at all
  EXPECT_EQ(none.SlotCount(), 0);
  none.SetLowWord(0x100, 1);
  EXPECT_EQ(none.GetLowWord(0x100), 0u);
  // An end below the base, and a range wider than the 24-bit address space (a catalogue typo
  // that would otherwise ask for gigabytes of slots), are both range errors.
  for (const TMemRange range :
       {TMemRange{0x100, 0xFE, 0}, TMemRange{0, 0x7FFFFFFE, 0}, TMemRange{0, 0x1000000, 0}}) {
    try {
      TdsPicMemRegion bad(range, true);
      ADD_FAILURE() << "no error for " << range.BaseAddr << ".." << range.EndAddr;
    } catch (const ERangeError& e) {
      EXPECT_STREQ(e.what(), "Range check error");
    }
  }
}

std::vector<std::uint8_t> Payload(const TdsPicMemRegion& region, std::uint32_t size) {
  std::vector<std::uint8_t> buffer(size, 0xAA);
  region.CopyImage(buffer, static_cast<std::uint32_t>(region.ImageFirst()),
                   static_cast<std::uint32_t>(region.ImageLast()));
  return buffer;
}

TEST(IhexRegion, SizesAndPayloads) {
  // GOTO 0x000100 at the reset vector: 00 01 04 00, 00 00 00 00.
  const auto flash = Loaded(kFlash, true, HexRecord(0, 0, {0, 1, 4, 0, 0, 0, 0, 0}) + kEof);
  EXPECT_EQ(flash.ImageSize(), 4u);
  EXPECT_EQ(flash.ImageByteSize(), 6u);
  EXPECT_EQ(Payload(flash, flash.ImageSize() * 2),
            (std::vector<std::uint8_t>{0, 1, 4, 0, 0, 0, 0, 0}));
  EXPECT_EQ(flash.EntryPoint(), 0x100u);

  // Program words with a gap: the gap reads FF FF FF 00; phantom bytes are copied as loaded.
  const auto gappy = Loaded(
      kFlash, true, HexRecord(0, 0x10, {1, 2, 3, 9}) + HexRecord(0, 0x18, {4, 5, 6, 0}) + kEof);
  EXPECT_EQ(gappy.ImageSize(), 6u);
  EXPECT_EQ(Payload(gappy, 12),
            (std::vector<std::uint8_t>{1, 2, 3, 9, 0xFF, 0xFF, 0xFF, 0, 4, 5, 6, 0}));
  EXPECT_EQ(Payload(gappy, 5), (std::vector<std::uint8_t>{1, 2, 3, 9, 0xFF}));  // buffer bounds

  // EEPROM words at 0x7FF000 and 0x7FF004: low and high bytes only, the gap FF FF.
  const auto eeprom = Loaded(kEeprom, false,
                             Linear(0xFF) + HexRecord(0, 0xE000, {0x11, 0x22, 0xAB, 0xCD}) +
                                 HexRecord(0, 0xE008, {0x33, 0x44, 0, 0}) + kEof);
  EXPECT_EQ(eeprom.ImageSize(), 6u);
  EXPECT_EQ(eeprom.ImageByteSize(), 6u);
  EXPECT_EQ(Payload(eeprom, 6), (std::vector<std::uint8_t>{0x11, 0x22, 0xFF, 0xFF, 0x33, 0x44}));
  EXPECT_EQ(eeprom.EntryPoint(), 0u);

  // Configuration words 0xF80000..0xF8000C.
  std::string config = Linear(0x1F0);
  for (std::uint16_t k = 0; k < 7; ++k)
    config +=
        HexRecord(0, static_cast<std::uint16_t>(4 * k), {static_cast<std::uint8_t>(k), 0x80, 0, 0});
  const auto cfg = Loaded(kConfig, false, config + kEof);
  EXPECT_EQ(cfg.ImageLast(), 0xF8000D);
  EXPECT_EQ(cfg.ImageSize(), 14u);
  EXPECT_EQ(Payload(cfg, 14)[12], 6);

  const auto empty = Loaded(kFlash, true, kEof);
  EXPECT_EQ(empty.ImageSize(), 0u);
  EXPECT_EQ(empty.ImageByteSize(), 0u);
  EXPECT_EQ(empty.EntryPoint(), 0xFFFFFFu);  // unprogrammed reset vector
}

TEST(IhexRegion, EntryPointOnlyForProgramMemoryBasedAtZero) {
  const std::string text = HexRecord(0, 0x200, {0, 1, 4, 0, 0, 0, 0, 0}) + kEof;
  EXPECT_EQ(Loaded({0x100, 0x17FFE, 0}, true, text).EntryPoint(), 0u);
  EXPECT_EQ(Loaded({0, 0x17FFE, 0}, false, HexRecord(0, 0, {0, 1, 4, 0}) + kEof).EntryPoint(), 0u);
}

TEST(IhexRegion, ProgramCopyPastTheSlotsReadsUnprogrammedWords) {
  // A window reaching past the memory: bytes beyond the slot array read FF FF FF 00.
  TdsPicMemRegion small({0, 2, 3}, true);  // slots for words 0 and 2 (and one spare)
  small.LoadFromHexFile(HexFileText{"fw.hex", HexRecord(0, 0, {1, 2, 3, 0}) + kEof});
  std::vector<std::uint8_t> buffer(20, 0xAA);
  small.CopyImage(buffer, 0, 4);
  EXPECT_EQ(buffer,
            (std::vector<std::uint8_t>{1,    2, 3,    0,    0xFF, 0xFF, 0xFF, 0,    0xFF, 0xFF,
                                       0xFF, 0, 0xFF, 0xFF, 0xFF, 0,    0xFF, 0xFF, 0xFF, 0}));
}

// ---- Application windows -------------------------------------------------------------------

TEST(IhexWindow, ImagesAgainstTheirWindows) {
  std::string fullEeprom = Linear(0xFF);
  for (unsigned offset = 0xE000; offset < 0x10000; offset += 16)
    fullEeprom +=
        HexRecord(0, static_cast<std::uint16_t>(offset), std::vector<std::uint8_t>(16, 0x5A));
  fullEeprom += kEof;
  const std::string atTop = Linear(2) + HexRecord(0, 0xFFFC, {1, 2, 3, 0}) + kEof;
  const std::string lowWords =
      HexRecord(0, 0, {1, 2, 3, 0}) + HexRecord(0, 0x400, {1, 2, 3, 0}) + kEof;
  const struct {
    const char* name;
    TMemRange range;
    bool program;
    std::string text;
    std::uint32_t appBase, appEnd;
    std::string error;  // empty: fits
  } cases[] = {
      {"full EEPROM in the default window", kEeprom, false, fullEeprom, 0x7FF000, 0x7FFFFE, ""},
      {"last word at AppEnd", kFlash, true, atTop, 0x100, 0x17FFE, ""},
      {"last word past an even AppEnd", kFlash, true, atTop, 0, 0x17FFC,
       "Секция FLASH образа загрузки не совпадает с заданной областью памяти процессора\n\r"
       "Область памяти: 0x000000-0x017FFC   Секция образа: 0x017FFE-0x017FFF"},
      {"words below AppBase", kFlash, true, lowWords, 0x100, 0x17FFE,
       "Секция FLASH образа загрузки не совпадает с заданной областью памяти процессора\n\r"
       "Область памяти: 0x000100-0x017FFE   Секция образа: 0x000000-0x000201"},
      {"empty image, window away from the base", kEeprom, false, kEof, 0x7FF800, 0x7FFFFE, ""},
      {"words outside a narrow window", kEeprom, false, fullEeprom, 0x7FF800, 0x7FFFFE,
       "Секция EEPROM образа загрузки не совпадает с заданной областью памяти процессора\n\r"
       "Область памяти: 0x7FF800-0x7FFFFE   Секция образа: 0x7FF000-0x7FFFFF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto region = Loaded(c.range, c.program, c.text);
    region.SetAppEnd(c.appEnd);
    region.SetAppBase(c.appBase);
    const char* section = c.program ? "FLASH" : "EEPROM";
    if (c.error.empty()) {
      EXPECT_NO_THROW(region.CheckAppRange(section));
      continue;
    }
    try {
      region.CheckAppRange(section);
      ADD_FAILURE() << "no error";
    } catch (const ENotInWindow& e) {
      EXPECT_EQ(std::string(e.what()), c.error);
    }
  }
  TdsPicMemRegion neverLoaded(kFlash, true);
  neverLoaded.SetAppBase(0x100);
  EXPECT_NO_THROW(neverLoaded.CheckAppRange("FLASH"));
}

}  // namespace
}  // namespace fw

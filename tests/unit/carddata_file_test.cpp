#include "core/carddata_file.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#undef FormatMessage  // windows.h names its own; the core's is meant here
#else
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <tuple>
#include <vector>

#include "core/carddata_create.h"
#include "core/entry_table.h"
#include "core/errors.h"
#include "core/message_format.h"
#include "core/texts.h"
#include "support/fault_devices.h"
#include "support/files.h"
#include "support/temp_dir.h"

namespace fw {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

// ---- The test's own view of the format, written independently of the code under test ----

std::uint32_t RefChecksum(const std::uint8_t* data, std::size_t n) {
  std::uint32_t s = 1;
  for (std::size_t i = 0; i < n; ++i) {
    s += data[i];
    s = (s << 1) | (s >> 31);
  }
  return s;
}

Bytes RefScramble(const Bytes& plain, std::uint8_t xorKey, std::uint8_t rotKey) {
  Bytes out;
  std::uint8_t k = rotKey;
  for (const std::uint8_t b : plain) {
    k = static_cast<std::uint8_t>((k << 1) | (k >> 7));
    out.push_back(static_cast<std::uint8_t>((b ^ xorKey) + k));
  }
  return out;
}

void PutU16(Bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void PutU32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) {
    b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
}

// A card of `dataPages` zero pages behind a header page with the given EXTENDED section after
// `extStart` pages of sessions, the main section behind it. When the sections need more data
// pages than the file has, the header says so: the file is cut short.
Bytes MakeCard(std::uint32_t dataPages, std::uint32_t extStart, std::uint32_t extPages) {
  Bytes card((dataPages + 1) * 512, 0x00);
  const char magic[] = "NUBRA-7Q";
  std::copy(magic, magic + 8, card.begin());
  card[10] = 1;
  card[11] = 4;
  const std::uint32_t mainStart = extStart + extPages;
  const std::uint32_t headerDataPages = std::max(dataPages, mainStart);
  PutU32(card, 12, headerDataPages);
  PutU32(card, 28, extStart);  // SessionsPages, after SessionsStart 0
  PutU32(card, 32, extStart);
  PutU32(card, 36, extPages);
  PutU32(card, 40, mainStart);
  PutU32(card, 44, headerDataPages - mainStart);
  return card;
}

// A minimal entry header (name "x", 1 January 2024) at absolute page `page`.
void PutEntry(Bytes& card, std::uint32_t page, std::uint32_t pageCount, std::uint16_t type,
              std::uint16_t id) {
  const std::size_t at = std::size_t{page} * 512;
  PutU16(card, at, 0x5A5A);
  PutU32(card, at + 2, pageCount);
  PutU16(card, at + 6, type);
  PutU16(card, at + 8, id);
  card[at + 10] = 'x';
  const std::uint8_t date[7] = {0, 0, 0, 2, 1, 1, 24};
  std::copy(date, date + 7, card.begin() + static_cast<std::ptrdiff_t>(at + 27));
}

// An entry header whose header checksum holds (all sizes 0), named `name`.
void PutCheckedEntry(Bytes& card, std::uint32_t page, std::uint32_t pageCount, std::uint16_t id,
                     std::string_view name) {
  PutEntry(card, page, pageCount, 1, id);
  const std::size_t at = std::size_t{page} * 512;
  std::copy(name.begin(), name.end(), card.begin() + static_cast<std::ptrdiff_t>(at + 10));
  PutU32(card, at + 76, RefChecksum(card.data() + at + 40, 36));
}

// The same with the signature "ZIP-SE 2.1" that every entry header this system writes holds.
void PutSignedEntry(Bytes& card, std::uint32_t page, std::uint32_t pageCount, std::uint16_t id,
                    std::string_view name) {
  PutCheckedEntry(card, page, pageCount, id, name);
  const std::string_view signature = "ZIP-SE 2.1";
  std::copy(signature.begin(), signature.end(),
            card.begin() + static_cast<std::ptrdiff_t>(std::size_t{page} * 512 + 84));
}

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

Bytes PageOf(const Bytes& file, std::uint32_t page) {
  return Bytes(file.begin() + page * 512, file.begin() + (page + 1) * 512);
}

const DateTime kWhen{2024, 3, 5, 14, 7, 9, 800};
const TRgdVersionInfo kVersion{7, 2, 3, 258};

void AddPlain(TRgdFile& file, std::string_view name, const Bytes& flash, const Bytes& eeprom = {},
              const Bytes& config = {}, bool scramble = false) {
  const TRgdEntryImage image{.Flash = flash,
                             .FlashStart = 0x100,
                             .FlashEntryPoint = 0x200,
                             .Eeprom = eeprom,
                             .EepromStart = 0x7FF000,
                             .Config = config};
  file.AddEntry(name, kVersion, kWhen, image,
                scramble ? std::optional(DrawScrambleKeys()) : std::nullopt);
}

class CardFile : public ::testing::Test {
 protected:
  TempDir dir{"carddata-file"};
  std::string path = dir.File("data.rgd");
};

// ---- Appending ----

TEST_F(CardFile, EntryHeaderPageGoldenBytes) {
  WriteBytes(path, MakeCard(20, 2, 10));
  TRgdFile card(path, TRgdFile::Mode::ReadWrite);
  AddPlain(card, "abc", {0x01, 0x02, 0x03}, {}, {0xAA, 0xBB});

  Bytes golden = {
      0x5A, 0x5A,              // marker
      0x03, 0x00, 0x00, 0x00,  // PageCount: header, one FLASH page, one CONFIG page
      0x01, 0x00,              // EntryType 1
      0x01, 0x00,              // Id 1
      'a',  'b',  'c',  ' ',  ' ',  ' ',  ' ',  ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
      0x00,                                      // name and its terminator at 26
      0x09, 0x07, 0x0E, 0x03, 0x05, 0x03, 0x18,  // Tuesday 5 March 2024 14:07:09
      0x07, 0x02, 0x03,                          // HClass, HRel, SVer
      0x02, 0x01,                                // SRel 258 at the odd offset 37
      0x00,                                      //
      0x03, 0x00, 0x00, 0x00,                    // FlashSize
      0x1E, 0x00, 0x00, 0x00,                    // FlashChecksum: 1 -> 4 -> 12 -> 30
      0x00, 0x01, 0x00, 0x00,                    // FlashStart
      0x00, 0x02, 0x00, 0x00,                    // FlashEntryPoint
      0x00, 0x00, 0x00, 0x00,                    // EepromSize
      0x01, 0x00, 0x00, 0x00,                    // EepromChecksum of nothing
      0x00, 0xF0, 0x7F, 0x00,                    // EepromStart
      0x02, 0x00, 0x00, 0x00,                    // ConfigSize
      0x22, 0x04, 0x00, 0x00,                    // ConfigChecksum: 1 -> 0x156 -> 0x422
      0x00, 0x00, 0x00, 0x00,                    // HeaderChecksum, filled in below
      0x00, 0x00, 0x00, 0x00,                    // keys and two zero bytes
      'Z',  'I',  'P',  '-',  'S',  'E',  ' ',  '2', '.', '1',
  };
  golden.resize(512, 0x00);
  PutU32(golden, 76, RefChecksum(golden.data() + 40, 36));

  const Bytes file = ReadBytes(path);
  ASSERT_EQ(file.size(), 21u * 512u);
  EXPECT_EQ(PageOf(file, 3), golden);
  Bytes flashPage(512, 0x00), configPage(512, 0x00);
  flashPage[0] = 0x01, flashPage[1] = 0x02, flashPage[2] = 0x03;
  configPage[0] = 0xAA, configPage[1] = 0xBB;
  EXPECT_EQ(PageOf(file, 4), flashPage);
  EXPECT_EQ(PageOf(file, 5), configPage);
  EXPECT_EQ(Bytes(file.begin() + 6 * 512, file.end()), Bytes(15 * 512, 0x00));

  ASSERT_EQ(card.EntryCount(), 1);
  const TRgdEntryInfo& e = card.GetEntry(0);
  EXPECT_EQ(e.Page, 3u);
  EXPECT_EQ(e.Name, "abc             ");
  EXPECT_EQ(e.TypeName, "Firmware dsPIC30Fxxxx");
  EXPECT_EQ(e.Version, kVersion);
  EXPECT_EQ(e.Created, (DateTime{2024, 3, 5, 14, 7, 9, 0}));
  // The next entry goes one page past the entry's last page.
  EXPECT_EQ(card.FindFreePage(), std::optional<std::uint32_t>(4));
  EXPECT_EQ(card.FreeSpace(), 6u * 512u);
  EXPECT_TRUE(card.CheckEntry(0).Ok());
}

TEST_F(CardFile, ScrambledPayloadsRestartTheKeyAndLeaveTheFillPlain) {
  WriteBytes(path, MakeCard(20, 0, 12));
  TRgdFile card(path, TRgdFile::Mode::ReadWrite);
  Bytes flash(600), eeprom = {0x10, 0x20, 0x30}, config = {0x77};
  for (std::size_t i = 0; i < flash.size(); ++i) {
    flash[i] = static_cast<std::uint8_t>(i);
  }
  AddPlain(card, "s", flash, eeprom, config, true);

  const Bytes file = ReadBytes(path);
  const Bytes header = PageOf(file, 1);
  const std::uint8_t xorKey = header[80], rotKey = header[81];
  EXPECT_GE(xorKey, 1);
  EXPECT_LE(xorKey, 253);
  EXPECT_GE(rotKey, 1);
  EXPECT_LE(rotKey, 253);
  EXPECT_EQ(header[2], 5);  // 1 + 2 + 1 + 1 pages

  Bytes expected = RefScramble(flash, xorKey, rotKey);
  expected.resize(1024, 0x00);
  const Bytes e = RefScramble(eeprom, xorKey, rotKey);
  expected.insert(expected.end(), e.begin(), e.end());
  expected.resize(1536, 0x00);
  const Bytes c = RefScramble(config, xorKey, rotKey);
  expected.insert(expected.end(), c.begin(), c.end());
  expected.resize(2048, 0x00);
  EXPECT_EQ(Bytes(file.begin() + 2 * 512, file.begin() + 6 * 512), expected);

  const TRgdEntryPayloads back = card.ReadEntryPayloads(0);
  EXPECT_EQ(back.Flash, flash);
  EXPECT_EQ(back.Eeprom, eeprom);
  EXPECT_EQ(back.Config, config);
  EXPECT_TRUE(card.CheckEntry(0).Ok());
}

// Keys given by the caller fix the stored bytes: those of the scrambler's golden case (keys
// 01/01, key bytes 02 04 08 .. 80 01 02), each payload starting the key sequence afresh.
TEST_F(CardFile, GivenScrambleKeysPinTheStoredBytes) {
  WriteBytes(path, MakeCard(20, 0, 12));
  TRgdFile card(path, TRgdFile::Mode::ReadWrite);
  const Bytes flash(9, 0x00), eeprom(2, 0x00);
  card.AddEntry("pinned", kVersion, kWhen, TRgdEntryImage{.Flash = flash, .Eeprom = eeprom},
                TScrambleKeys{.xorKey = 0x01, .rotKey = 0x01});

  const Bytes file = ReadBytes(path);
  EXPECT_EQ(PageOf(file, 1)[80], 0x01);
  EXPECT_EQ(PageOf(file, 1)[81], 0x01);
  const Bytes storedFlash(file.begin() + 2 * 512, file.begin() + 2 * 512 + 9);
  EXPECT_EQ(storedFlash, (Bytes{0x03, 0x05, 0x09, 0x11, 0x21, 0x41, 0x81, 0x02, 0x03}));
  const Bytes storedEeprom(file.begin() + 3 * 512, file.begin() + 3 * 512 + 2);
  EXPECT_EQ(storedEeprom, (Bytes{0x03, 0x05}));
  EXPECT_EQ(card.ReadEntryPayloads(0).Flash, flash);
}

TEST_F(CardFile, EntryWithoutPayloadIsOnePageAndTheNextGoesTwoFurther) {
  WriteBytes(path, MakeCard(10, 0, 8));
  TRgdFile card(path, TRgdFile::Mode::ReadWrite);
  AddPlain(card, "", {});
  AddPlain(card, "", {});
  ASSERT_EQ(card.EntryCount(), 2);
  EXPECT_EQ(card.GetEntry(0).Page, 1u);
  EXPECT_EQ(card.GetEntry(1).Page, 3u);
  EXPECT_EQ(card.GetEntry(1).Id, 2);
  EXPECT_EQ(card.GetEntry(0).Name, std::string(16, ' '));
}

TEST_F(CardFile, NextIdFollowsTheHighestOfTypeOne) {
  Bytes bytes = MakeCard(30, 4, 20);
  PutEntry(bytes, 5, 1, 1, 1);
  PutEntry(bytes, 7, 1, 1, 2);
  PutEntry(bytes, 9, 1, 2, 9);
  PutEntry(bytes, 11, 1, 1, 5);
  WriteBytes(path, bytes);
  TRgdFile card(path, TRgdFile::Mode::ReadWrite);
  EXPECT_EQ(card.MaxEntryId(1), 5);
  EXPECT_EQ(card.MaxEntryId(2), 9);
  EXPECT_EQ(card.MaxEntryId(3), 0);
  AddPlain(card, "n", {1});
  ASSERT_EQ(card.EntryCount(), 5);
  EXPECT_EQ(card.GetEntry(4).Page, 13u);
  EXPECT_EQ(card.GetEntry(4).Id, 6);
  EXPECT_THROW(card.GetEntry(5), EListError);
}

TEST_F(CardFile, IdsDoNotWrapPast65535) {
  Bytes b = MakeCard(30, 4, 20);
  PutEntry(b, 5, 1, 2, 65535);  // another type's Ids do not count
  PutEntry(b, 7, 1, 1, 65534);
  WriteBytes(path, b);
  TRgdFile card(path, TRgdFile::Mode::ReadWrite);
  AddPlain(card, "last", {1});
  EXPECT_EQ(card.GetEntry(2).Id, 65535);
  const Bytes before = ReadBytes(path);
  try {
    AddPlain(card, "wraps", {1});
    FAIL() << "an entry got Id 0";
  } catch (const EEntryIdsExhausted& e) {
    EXPECT_EQ(e.what(), "В файле ММС " + path +
                            " уже есть запись с ID 65535:\n\rномера записей исчерпаны, новую "
                            "запись добавить нельзя");
  }
  EXPECT_EQ(ReadBytes(path), before);
}

TEST_F(CardFile, OutOfSpaceAndExactFit) {
  ASSERT_EQ(CreateCardDataFile(path, MakeCardLayout(100, 1, 0)), TCreateResult::Completed);
  {
    const Bytes before = ReadBytes(path);
    TRgdFile card(path, TRgdFile::Mode::ReadWrite);
    EXPECT_EQ(card.FreeSpace(), 0u);
    try {
      AddPlain(card, "big", {1});
      FAIL() << "an entry fitted into an empty section";
    } catch (const EOutOfSpace& e) {
      EXPECT_STREQ(e.what(), "Недостаточно места для записи\r\nТребуется 1024. Свободно 0");
    }
    EXPECT_EQ(ReadBytes(path), before);
  }

  WriteBytes(path, MakeCard(20, 3, 4));
  TRgdFile card(path, TRgdFile::Mode::ReadWrite);
  AddPlain(card, "fit", Bytes(1025, 0x55));  // 3 payload pages + header = the whole section
  ASSERT_EQ(card.EntryCount(), 1);
  const Bytes file = ReadBytes(path);
  EXPECT_EQ(file[(3 + 4) * 512], 0x55) << "last payload page is the last page of the section";
  EXPECT_EQ(file[(3 + 4) * 512 + 1], 0x00);
  EXPECT_EQ(card.FreeSpace(), 0u);
  EXPECT_THROW(AddPlain(card, "more", {}), EOutOfSpace);
  EXPECT_EQ(ReadBytes(path), file);
}

TEST_F(CardFile, HugePayloadCannotWrapTheRequiredSpace) {
  // 2^32 - 511 bytes would round up to 2^32 and wrap to 0 in 32 bits.
  const std::size_t size = (std::size_t{1} << 32) - 511;
#ifdef _WIN32
  // Reserved, committed on first touch: the check must refuse before reading any of it.
  void* memory = ::VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READONLY);
  if (memory == nullptr) {
#else
  void* memory =
      ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (memory == MAP_FAILED) {
#endif
    GTEST_SKIP() << "cannot reserve 4 GiB of address space";
  }
  WriteBytes(path, MakeCard(20, 0, 20));
  TRgdFile card(path, TRgdFile::Mode::ReadWrite);
  const std::span<const std::uint8_t> huge(static_cast<const std::uint8_t*>(memory), size);
  try {
    card.AddEntry("huge", kVersion, kWhen, TRgdEntryImage{.Flash = huge});
    ADD_FAILURE() << "a 4 GiB payload fitted";
  } catch (const EOutOfSpace& e) {
    EXPECT_STREQ(e.what(), "Недостаточно места для записи\r\nТребуется 4294967808. Свободно 10240");
  }
#ifdef _WIN32
  ::VirtualFree(memory, 0, MEM_RELEASE);
#else
  ::munmap(memory, size);
#endif
}

TEST_F(CardFile, NamesAreWindows1251PaddedAndNeverCut) {
  const struct {
    std::string name;
    Bytes card;
  } cases[] = {
      {"abc", {'a', 'b', 'c', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '}},
      {"ABCDEFGHIJKLMNOP",
       {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P'}},
      {"Тест №1",
       {0xD2, 0xE5, 0xF1, 0xF2, ' ', 0xB9, '1', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '}},
  };
  for (const auto& c : cases) {
    const auto bytes = EncodeEntryName(c.name);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), c.card) << c.name;
  }
  // A name the card cannot hold whole is refused, never stored altered.
  try {
    EncodeEntryName("ABCDEFGHIJKLMNOPQ");
    ADD_FAILURE() << "a 17-character name was cut";
  } catch (const ERefusal& e) {
    EXPECT_STREQ(e.what(),
                 FormatMessage(texts::kNameTooLong, {std::string("ABCDEFGHIJKLMNOPQ")}).c_str());
  }
  WriteBytes(path, MakeCard(10, 0, 8));
  const Bytes before = ReadBytes(path);
  TRgdFile card(path, TRgdFile::Mode::ReadWrite);
  try {
    AddPlain(card, "fw 名", {1});
    FAIL() << "a name Windows-1251 cannot hold was written";
  } catch (const ERefusal& e) {
    EXPECT_STREQ(e.what(),
                 "Наименование обновления \"fw 名\" содержит символ \"名\",\n\rкоторый нельзя "
                 "записать на карту ММС (кодировка Windows-1251)");
  }
  EXPECT_EQ(ReadBytes(path), before);
  AddPlain(card, "Тест", {1});
  EXPECT_EQ(card.GetEntry(0).Name, "Тест            ");
}

// ---- Walking damaged chains ----

TEST_F(CardFile, DamagedChainsEndWithoutRunningAway) {
  struct Case {
    const char* what;
    Bytes card;
    std::vector<std::uint32_t> entryPages;
    std::optional<std::uint32_t> freePage;  // relative
    std::uint64_t freeSpace;
  };
  std::vector<Case> cases;
  {
    Bytes b = MakeCard(20, 2, 10);
    PutEntry(b, 3, 0xFFFFFFFF, 1, 1);  // the next page number would not fit 32 bits
    cases.push_back({"overflowing PageCount", b, {3}, std::nullopt, 0});
  }
  {
    Bytes b = MakeCard(20, 2, 0xFFFFFFF0);
    PutEntry(b, 3, 0xFFFFFFF0, 1, 1);  // 3 + 0xFFFFFFF1 wraps to 4 in 32 bits
    cases.push_back({"PageCount that wraps backwards", b, {3}, std::nullopt, 0});
  }
  {
    Bytes b = MakeCard(20, 2, 1000);
    PutEntry(b, 3, 30, 1, 1);  // next entry would lie at page 34, beyond the file
    cases.push_back({"chain beyond the end of the file", b, {3}, std::nullopt, 0});
  }
  {
    Bytes b = MakeCard(6, 2, 10);
    PutEntry(b, 3, 1, 1, 1);
    PutEntry(b, 5, 1, 1, 2);
    b.resize(b.size() + 100, 0x00);  // page 7 is cut short
    cases.push_back({"truncated file", b, {3, 5}, std::nullopt, 0});
  }
  {
    Bytes b = MakeCard(10, 2, 100);
    PutEntry(b, 3, 1, 1, 1);  // free page 5; the section runs on past the file's 11 pages
    cases.push_back({"section longer than the file", b, {3}, 2, 6 * 512});
  }
  {
    Bytes b = MakeCard(8, 0, 8);
    for (std::uint32_t p = 1; p <= 8; ++p) {
      PutEntry(b, p, 0, 1, static_cast<std::uint16_t>(p));  // every page an entry, stride 1
    }
    cases.push_back({"PageCount 0 everywhere", b, {1, 2, 3, 4, 5, 6, 7, 8}, std::nullopt, 0});
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteBytes(path, c.card);
    TRgdFile card(path, TRgdFile::Mode::ReadWrite);
    std::vector<std::uint32_t> pages;
    for (int i = 0; i < card.EntryCount(); ++i) {
      pages.push_back(card.GetEntry(i).Page);
    }
    EXPECT_EQ(pages, c.entryPages);
    EXPECT_EQ(card.FindFreePage(), c.freePage);
    EXPECT_EQ(card.FreeSpace(), c.freeSpace);
  }
}

// A file shorter than its header says is a damaged card (an interrupted create, a bad copy): every
// append is refused with the reason, also one that would fit before the file's real end, and the
// file keeps every byte and its length.
TEST_F(CardFile, AFileCutShortRefusesEveryAppendAndSaysWhy) {
  Bytes b = MakeCard(40, 2, 30);  // the header says 41 pages
  PutEntry(b, 3, 1, 1, 1);
  b.resize(11 * 512);  // the free part ends with the file, after page 10: 3072 bytes
  WriteBytes(path, b);
  const struct {
    const char* what;
    std::size_t flashBytes;
    const char* required;
  } cases[] = {
      {"7 pages, 6 left before the end of the file", 6 * 512, "3584"},
      {"6 pages, which would fit", 5 * 512, "3072"},
      {"the header page only", 0, "512"},
  };
  TRgdFile card(path, TRgdFile::Mode::ReadWrite);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      AddPlain(card, "cut", Bytes(c.flashBytes, 1));
      ADD_FAILURE() << "written to a card cut short";
    } catch (const ECardFileTooShort& e) {
      EXPECT_EQ(e.what(), "Файл ММС " + path +
                              " короче, чем указано в его заголовке: не хватает 15360 байт\n\r(по "
                              "заголовку 20992 байт, в файле 5632). Запись за конец файла "
                              "невозможна\n\rТребуется " +
                              c.required + ". Свободно 3072");
    }
    EXPECT_EQ(ReadBytes(path), b);
  }
}

// ---- Entries hidden beyond the chain ----

TEST_F(CardFile, FindsEntriesHiddenBeyondTheEndOfTheChain) {
  // 3000 pages of EXTENDED section (absolute 3..3002): the scan crosses a 1 MiB block.
  Bytes b = MakeCard(3010, 2, 3000);
  PutCheckedEntry(b, 3, 1, 1, "first");
  PutSignedEntry(b, 5, 1, 2, "hidden");
  b[5 * 512] = 0x5B;                             // a flipped marker ends the chain at page 5
  PutCheckedEntry(b, 7, 1, 3, "orphan");         // the entry after it
  PutCheckedEntry(b, 2100, 2, 4, "far\x1b[2J");  // in the second block; a name with ESC
  PutCheckedEntry(b, 3001, 2, 5, "tail");        // its last page is the section's last
  PutCheckedEntry(b, 3002, 2, 6, "over");        // would run past the section
  PutCheckedEntry(b, 11, 0, 8, "zero");          // PageCount 0
  PutEntry(b, 9, 1, 1, 7);                       // marker, but the header checksum does not hold
  PutSignedEntry(b, 13, 1, 9, "nomark");         // signature, checksum, no marker
  b[13 * 512] = 0x00, b[13 * 512 + 1] = 0x00;
  PutSignedEntry(b, 15, 1, 10, "broken");  // signature, no marker, a checksum that does not hold
  b[15 * 512] = 0x00, b[15 * 512 + 76] ^= 0x01;
  PutCheckedEntry(b, 17, 1, 11, "plain");  // checksum, but neither marker nor signature
  b[17 * 512] = 0x00;
  WriteBytes(path, b);
  TRgdFile card(path, TRgdFile::Mode::ReadOnly);
  ASSERT_EQ(card.EntryCount(), 1);
  std::vector<std::tuple<std::uint32_t, std::uint16_t, std::string>> found;
  for (const TRgdOrphanedEntry& o : card.FindOrphanedEntries()) {
    found.emplace_back(o.Page, o.Id, o.Name);
  }
  using Found = std::tuple<std::uint32_t, std::uint16_t, std::string>;
  EXPECT_EQ(found, (std::vector<Found>{{5, 2, "hidden"},
                                       {7, 3, "orphan"},
                                       {13, 9, "nomark"},
                                       {2100, 4, "far\x1b[2J"},
                                       {3001, 5, "tail"}}));
  EXPECT_EQ(OrphanedEntriesReport("c.rgd", card.FindOrphanedEntries()),
            "В секции EXTENDED файла ММС c.rgd за концом цепочки найдены записи,\n\rкоторых нет "
            "в списке (5):\n\rстраница 5, ID 2, имя \"hidden\"\n\rстраница 7, ID 3, имя "
            "\"orphan\"\n\rстраница 13, ID 9, имя \"nomark\"\n\rстраница 2100, ID 4, имя "
            "\"far\\x1b[2J\"\n\rстраница 3001, ID 5, имя \"tail\"");
}

// An entry whose PageCount does not match its sizes puts the chain's next page (and the free
// page) where its payload may be. Each is found with its place in the chain; the others are not.
TEST_F(CardFile, FindsTheEntriesOfTheChainWhosePageCountDoesNotMatchTheirSizes) {
  // Page count by the sizes: 1 + ceil(FLASH / 512) + ceil(EEPROM / 512) + ceil(CONFIG / 512).
  const auto putSized = [](Bytes& card, std::uint32_t page, std::uint32_t pageCount,
                           std::uint16_t id, std::uint32_t flash, std::uint32_t eeprom) {
    PutEntry(card, page, pageCount, 1, id);
    PutU32(card, std::size_t{page} * 512 + 40, flash);
    PutU32(card, std::size_t{page} * 512 + 56, eeprom);
  };
  Bytes b = MakeCard(40, 2, 30);
  putSized(b, 3, 3, 1, 600, 0);   // pages 3..5, the chain goes on at 7
  putSized(b, 7, 4, 2, 700, 10);  // pages 7..10, then the free page 12
  WriteBytes(path, b);
  EXPECT_TRUE(TRgdFile(path).FindEntriesWithWrongPages().empty());

  b = MakeCard(40, 2, 30);
  putSized(b, 3, 1, 1, 600, 0);   // too small: the chain goes on at 5, in its own payload,
  putSized(b, 5, 0, 3, 0, 0);     // where a header of no payload would stand (1 page, not 0);
  putSized(b, 6, 5, 2, 700, 10);  // one too many: then the free page 12
  b[6 * 512 + 10] = '\x07';
  WriteBytes(path, b);
  TRgdFile card(path);
  using Found = std::tuple<int, std::uint32_t, std::uint16_t, std::uint32_t, std::uint64_t>;
  std::vector<Found> found;
  for (const TRgdWrongPagesEntry& e : card.FindEntriesWithWrongPages())
    found.emplace_back(e.Number, e.Page, e.Id, e.PageCount, e.PageCountBySizes);
  EXPECT_EQ(found, (std::vector<Found>{{1, 3, 1, 1, 3}, {2, 5, 3, 0, 1}, {3, 6, 2, 5, 4}}));
  EXPECT_EQ(WrongPagesReport("c.rgd", card.FindEntriesWithWrongPages()),
            "В цепочке записей файла ММС c.rgd найдены записи, число страниц которых\n\rне "
            "сходится с их размерами (3):\n\rзапись 1, страница 3, ID 1, имя \"x\": PageCount 1, "
            "по размерам 3\n\rзапись 2, страница 5, ID 3, имя \"x\": PageCount 0, по размерам "
            "1\n\rзапись 3, страница 6, ID 2, имя \"\\x07\": PageCount 5, по размерам 4");
}

// ---- Opening ----

TEST_F(CardFile, RefusesFilesThatAreNoCardDataFile) {
  const Bytes good = MakeCard(4, 0, 2);
  const struct {
    const char* what;
    std::size_t at;
    std::uint8_t value;
    std::size_t length;
  } cases[] = {
      {"Format2 5", 11, 5, good.size()}, {"Format1 0", 10, 0, good.size()},
      {"Format0 1", 9, 1, good.size()},  {"magic", 7, 'R', good.size()},
      {"11 bytes", 0, 'N', 11},          {"empty", 0, 'N', 0},
  };
  for (const auto& c : cases) {
    Bytes b = good;
    b[c.at] = c.value;
    b.resize(c.length);
    WriteBytes(path, b);
    try {
      TRgdFile card(path, TRgdFile::Mode::ReadWrite);
      ADD_FAILURE() << "opened with " << c.what;
    } catch (const EInvalidFormat& e) {
      EXPECT_EQ(e.what(), "Указанный файл ММС (" + path +
                              ")\n\rимеет неверный формат. Необходимо отформатировать ММС")
          << c.what;
    }
  }
  try {
    TRgdFile card(dir.File("missing.rgd"), TRgdFile::Mode::ReadWrite);
    FAIL() << "opened a missing file";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.what(), "Cannot open file " + dir.File("missing.rgd") + ": файл не найден");
  }
}

// One damaged byte of a section field would move the chain: its entries vanish and the next
// append overwrites them. Sections that do not follow each other inside the data pages, as every
// card is made, are refused; a field nothing relies on (MainPages) or a card without EXTENDED
// pages still opens.
TEST_F(CardFile, RefusesAHeaderWhoseSectionFieldsDisagree) {
  Bytes good = MakeCard(40, 4, 20);  // sessions 0..3, EXTENDED 4..23, main from 24
  PutEntry(good, 5, 1, 1, 1);
  const std::string wrongFormat =
      "Указанный файл ММС (" + path + ")\n\rимеет неверный формат. Необходимо отформатировать ММС";
  const struct {
    const char* what;
    std::size_t at;
    std::uint32_t value;
    std::string detail;  // empty: the file opens
  } cases[] = {
      {"ExtendedStart one more", 32, 5,
       "Поле заголовка ExtendedStart = 5, а должно быть SessionsStart + SessionsPages = 4"},
      {"ExtendedStart past the file", 32, 0x104,
       "Поле заголовка ExtendedStart = 260, а должно быть SessionsStart + SessionsPages = 4"},
      {"SessionsStart", 24, 1,
       "Поле заголовка ExtendedStart = 4, а должно быть SessionsStart + SessionsPages = 5"},
      {"SessionsPages", 28, 3,
       "Поле заголовка ExtendedStart = 4, а должно быть SessionsStart + SessionsPages = 3"},
      {"SessionsPages all ones", 28, 0xFFFFFFFF,
       "Поле заголовка ExtendedStart = 4, а должно быть SessionsStart + SessionsPages = "
       "4294967295"},
      {"ExtendedPages past the data pages", 36, 37,
       "Секция EXTENDED (ExtendedStart + ExtendedPages = 41) выходит за страницы данных "
       "(DataPages = 40)"},
      {"ExtendedPages whose sum wraps 32 bits to 0", 36, 0xFFFFFFFC,
       "Секция EXTENDED (ExtendedStart + ExtendedPages = 4294967296) выходит за страницы данных "
       "(DataPages = 40)"},
      {"ExtendedPages one more", 36, 21,
       "Поле заголовка MainStart = 24, а должно быть ExtendedStart + ExtendedPages = 25"},
      {"MainStart", 40, 23,
       "Поле заголовка MainStart = 23, а должно быть ExtendedStart + ExtendedPages = 24"},
      {"DataPages below the sections", 12, 22,
       "Секция EXTENDED (ExtendedStart + ExtendedPages = 24) выходит за страницы данных "
       "(DataPages = 22)"},
      {"MainPages", 44, 7, ""},
      {"DataPages exactly the sections", 12, 24, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes b = good;
    PutU32(b, c.at, c.value);
    WriteBytes(path, b);
    try {
      TRgdFile card(path);
      EXPECT_EQ(c.detail, "") << "opened";
      EXPECT_EQ(card.EntryCount(), 1);
    } catch (const EInvalidFormat& e) {
      EXPECT_EQ(e.what(), wrongFormat + "\n\r" + c.detail);
    }
    EXPECT_EQ(ReadBytes(path), b);
  }
  WriteBytes(path, MakeCard(40, 4, 0));
  EXPECT_EQ(TRgdFile(path).FreeSpace(), 0u);
}

TEST_F(CardFile, AnEntryDateThatDoesNotExistFailsTheOpening) {
  Bytes b = MakeCard(10, 0, 8);
  PutEntry(b, 1, 1, 1, 1);
  b[512 + 32] = 0;  // month 0
  WriteBytes(path, b);
  try {
    TRgdFile card(path, TRgdFile::Mode::ReadWrite);
    FAIL() << "opened";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Invalid argument to date encode");
  }
}

TEST_F(CardFile, OneWriterAtATimeFromAnyProcess) {
  WriteBytes(path, MakeCard(10, 0, 8));
  {
    TRgdFile writer(path, TRgdFile::Mode::ReadWrite);
    try {
      TRgdFile second(path, TRgdFile::Mode::ReadWrite);
      FAIL() << "a second writer opened the file";
    } catch (const EFOpenError& e) {
      EXPECT_EQ(e.what(), "Cannot open file " + path +
                              ": файл занят: его уже открыла для записи другая программа или "
                              "другая копия этой программы");
    }
    TRgdFile reader(path, TRgdFile::Mode::ReadOnly);  // readers still read
    EXPECT_EQ(reader.EntryCount(), 0);
    EXPECT_THROW(CreateCardDataFile(path, MakeCardLayout(10, 1, 0)), EFCreateError);

#ifndef _WIN32  // on Windows the command line's end-to-end tests hold the card from two processes
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      int code = 0;
      try {
        TRgdFile other(path, TRgdFile::Mode::ReadWrite);
      } catch (const EFOpenError&) {
        code = 7;
      }
      ::_exit(code);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7) << "another process opened the file for writing";
#endif
  }
  TRgdFile again(path, TRgdFile::Mode::ReadWrite);  // the lock goes with the object
  EXPECT_EQ(ReadBytes(path).size(), 11u * 512u);
}

// ---- Failed appends ----

// Passes writes through until `budget` bytes were written, then writes the part that fits and
// fails; with `once` the later writes succeed again (a passing fault), else they all fail.
class FailingDevice : public platform::FileDevice {
 public:
  FailingDevice(std::unique_ptr<platform::FileDevice> inner, std::uint64_t budget, bool once,
                int failSync = -1)
      : inner_(std::move(inner)), budget_(budget), once_(once), failSync_(failSync) {}
  std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
    return inner_->ReadAt(offset, buffer);
  }
  void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    if (failed_ && !once_) {
      throw std::system_error(EIO, std::generic_category(), "write");
    }
    if (!failed_ && data.size() > budget_) {
      inner_->WriteAt(offset, data.first(budget_));
      failed_ = true;
      throw std::system_error(ENOSPC, std::generic_category(), "write");
    }
    budget_ -= std::min<std::uint64_t>(budget_, data.size());
    inner_->WriteAt(offset, data);
  }
  std::uint64_t Size() override { return inner_->Size(); }
  void Sync() override {
    if (failSync_-- == 0) {
      throw std::system_error(EIO, std::generic_category(), "fsync");
    }
    inner_->Sync();
  }

 private:
  std::unique_ptr<platform::FileDevice> inner_;
  std::uint64_t budget_;
  bool once_;
  int failSync_;
  bool failed_ = false;
};

TEST_F(CardFile, FailedAppendLeavesTheCardAsItWas) {
  const std::uint64_t payloadBytes = 3 * 512;  // FLASH 700 bytes, EEPROM 10, CONFIG 0
  const struct {
    const char* what;
    std::uint64_t budget;
    int failSync;
    int reason;
  } cases[] = {
      {"payload torn", 100, -1, ENOSPC},
      {"clearing the stale page torn", payloadBytes + 10, -1, ENOSPC},
      {"entry header page torn", payloadBytes + 512 + 10, -1, ENOSPC},
      {"flush after the payload", 1u << 30, 0, EIO},
      {"flush after the header page", 1u << 30, 1, EIO},
  };
  Bytes b = MakeCard(40, 2, 30);
  PutEntry(b, 3, 1, 1, 1);
  for (std::size_t i = 5 * 512; i < 30 * 512; ++i) {
    b[i] = static_cast<std::uint8_t>(0xC3 ^ i);  // stale bytes in the free part
  }
  // Where the chain goes on after the entry (5 + 4 + 1): a stale marker the append clears.
  b[10 * 512] = 0x5A, b[10 * 512 + 1] = 0x5A;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteBytes(path, b);
    {
      TRgdFile card(path, std::make_unique<FailingDevice>(platform::OpenForUpdate(path), c.budget,
                                                          true, c.failSync));
      try {
        AddPlain(card, "fail", Bytes(700, 0x5A), Bytes(10, 0x5A));
        ADD_FAILURE() << "no error";
      } catch (const EInOutError& e) {
        EXPECT_EQ(e.what(), "Ошибка записи или чтения файла " + path + ": " +
                                std::generic_category().message(c.reason));
      }
    }
    EXPECT_EQ(ReadBytes(path), b) << "bytes changed";
  }
}

TEST_F(CardFile, StaleEntryHeaderWhereTheChainGoesOnIsClearedBeforeTheHeaderPage) {
  // An entry header left in the free area (by an append that never got its own header page)
  // lies where the chain continues after a new entry of 3 pages at page 5: 5 + 3 + 1 = 9.
  const struct {
    const char* what;
    std::uint32_t extendedPages;
    bool cleared;
  } cases[] = {
      {"inside the section", 30, true},
      {"first page of the main section, which is the recorder's", 6, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes b = MakeCard(40, 2, c.extendedPages);
    PutEntry(b, 3, 1, 1, 1);
    PutCheckedEntry(b, 9, 1, 9, "stale");
    for (std::size_t i = 12 * 512; i < 13 * 512; ++i) {
      b[i] = 0xEE;  // other stale bytes stay as they are
    }
    WriteBytes(path, b);
    {
      TRgdFile card(path, TRgdFile::Mode::ReadWrite);
      AddPlain(card, "new", Bytes(600, 0x11));
      ASSERT_EQ(card.EntryCount(), 2);
      EXPECT_EQ(card.GetEntry(1).Page, 5u);
    }
    Bytes expected = b;
    const Bytes after = ReadBytes(path);
    std::copy(after.begin() + 5 * 512, after.begin() + 8 * 512, expected.begin() + 5 * 512);
    if (c.cleared) {
      std::fill(expected.begin() + 9 * 512, expected.begin() + 10 * 512, 0x00);
    }
    EXPECT_EQ(after, expected);
    TRgdFile card(path, TRgdFile::Mode::ReadOnly);
    std::vector<std::uint32_t> pages;
    for (int i = 0; i < card.EntryCount(); ++i) {
      pages.push_back(card.GetEntry(i).Page);
    }
    EXPECT_EQ(pages, (std::vector<std::uint32_t>{3, 5}));
  }
}

TEST_F(CardFile, AReadBackThatFailsAfterTheHeaderPageIsFlushedReportsTheEntryAsWritten) {
  Bytes b = MakeCard(40, 2, 30);
  PutEntry(b, 3, 1, 1, 1);
  WriteBytes(path, b);
  {
    // The second flush is the header page's: from then on every read fails.
    TRgdFile card(path,
                  std::make_unique<test::ReadsFailAfterSyncs>(platform::OpenForUpdate(path), 2));
    try {
      AddPlain(card, "kept", Bytes(10, 1));
      FAIL() << "no error";
    } catch (const EEntryCommitted& e) {
      EXPECT_EQ(e.Id(), 2);
      EXPECT_EQ(e.Page(), 5u);
      const std::string io =
          "Ошибка записи или чтения файла " + path + ": " + std::generic_category().message(EIO);
      EXPECT_EQ(e.WrittenText(),
                "Обновление записано в файл ММС " + path + ": запись ID 2 (страница 5)");
      EXPECT_EQ(e.ReadBackText(), "Файл ММС " + path + " после записи перечитать не удалось: " +
                                      io + "\n\rЗапись уже сделана, повторять её не нужно");
      EXPECT_EQ(e.what(), e.WrittenText() + "\n\r" + e.ReadBackText());
    }
  }
  TRgdFile card(path, TRgdFile::Mode::ReadOnly);
  ASSERT_EQ(card.EntryCount(), 2);
  EXPECT_EQ(card.GetEntry(1).Id, 2);
  EXPECT_TRUE(card.CheckEntry(1).Ok());
}

TEST_F(CardFile, CardPulledDuringThePayloadLeavesNoEntry) {
  Bytes b = MakeCard(40, 2, 30);
  PutEntry(b, 3, 1, 1, 1);
  WriteBytes(path, b);
  {
    TRgdFile card(path, std::make_unique<FailingDevice>(platform::OpenForUpdate(path), 700,
                                                        /*once=*/false));
    EXPECT_THROW(AddPlain(card, "fail", Bytes(2000, 0x5A)), EInOutError);
  }
  const Bytes after = ReadBytes(path);
  EXPECT_EQ(PageOf(after, 5), PageOf(b, 5)) << "the free page is untouched";
  TRgdFile card(path, TRgdFile::Mode::ReadWrite);
  EXPECT_EQ(card.EntryCount(), 1);
  EXPECT_EQ(card.FindFreePage(), std::optional<std::uint32_t>(2));
}

// ---- Reading back ----

TEST_F(CardFile, CheckEntryNamesWhatIsDamaged) {
  WriteBytes(path, MakeCard(30, 0, 28));
  {
    TRgdFile card(path, TRgdFile::Mode::ReadWrite);
    AddPlain(card, "ok", Bytes(600, 0x11), Bytes(4, 0x22), Bytes(2, 0x33), true);
  }
  const Bytes good = ReadBytes(path);
  const struct {
    std::size_t at;
    std::vector<std::string_view> failures;
  } cases[] = {
      {512 + 76, {"header"}},           // HeaderChecksum
      {512 + 42, {"header", "pages"}},  // FlashSize 600 + 65536 breaks PageCount
      {2 * 512 + 599, {"FLASH"}},       // last FLASH byte
      {4 * 512 + 3, {"EEPROM"}},        //
      {5 * 512 + 0, {"CONFIG"}},        //
      {2 * 512 + 600, {}},              // the fill after FLASH is not checked
  };
  for (const auto& c : cases) {
    Bytes b = good;
    b[c.at] ^= 0x01;
    WriteBytes(path, b);
    TRgdFile card(path, TRgdFile::Mode::ReadOnly);
    EXPECT_EQ(card.CheckEntry(0).Failures(), c.failures) << "byte " << c.at;
  }
}

TEST_F(CardFile, EntryTableOfTheDirectory) {
  ASSERT_EQ(CreateCardDataFile(path, MakeCardLayout(200, 2, 100)), TCreateResult::Completed);
  {
    TRgdFile fresh(path, TRgdFile::Mode::ReadWrite);
    const TextTable empty = EntryTable(fresh.Entries());
    EXPECT_EQ(empty.RowCount(), 2);
    EXPECT_EQ(empty.ColCount(), 9);
    EXPECT_EQ(empty.rows[1], std::vector<std::string>(9));
  }
  Bytes b = ReadBytes(path);
  PutEntry(b, 9, 1, 1, 1);  // the EXTENDED section starts at relative 8
  PutEntry(b, 11, 1, 7, 4);
  PutEntry(b, 13, 1, 21, 300);
  b[13 * 512 + 34] = 255, b[13 * 512 + 37] = 0xFF, b[13 * 512 + 38] = 0xFF;
  WriteBytes(path, b);
  TRgdFile card(path, TRgdFile::Mode::ReadWrite);
  AddPlain(card, "abc", {1});
  const TextTable t = EntryTable(card.Entries());
  EXPECT_EQ(t.fixedRows, 1);
  EXPECT_EQ(t.fixedCols, 1);
  using Row = std::vector<std::string>;
  const std::vector<Row> expected = {
      {"N", "Тип", "Имя", "ID", "Дата", "HCLASS", "HREL", "SVER", "SREL"},
      {"1", "1 - Firmware dsPIC30Fxxxx", "x", "1", "01/01/24 00:00:00", "0", "0", "0", "0"},
      {"2", "7 - NA", "x", "4", "01/01/24 00:00:00", "0", "0", "0", "0"},
      {"3", "21 - ", "x", "300", "01/01/24 00:00:00", "255", "0", "0", "65535"},
      {"4", "1 - Firmware dsPIC30Fxxxx", "abc             ", "2", "05/03/24 14:07:09", "7", "2",
       "3", "258"},
      Row(9),
  };
  EXPECT_EQ(t.rows, expected);
}

}  // namespace
}  // namespace fw

// The command line end to end: every test runs the real fwupdater binary in its own temp folder
// and looks at its exit code, its output and the bytes of the files it leaves (only `prepare`
// stopped by a signal runs the same command line on a fake card, in a test build of it).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "cli/cli_run.h"
#include "core/carddata_file.h"
#include "core/message_format.h"
#include "core/texts.h"
#include "core/version.h"
#include "support/ihex_records.h"

namespace fw {
namespace {

using namespace clitest;
using test::Bytes;

constexpr std::size_t kPage = 512;

// A firmware as a compiler gives it: program words from address 0 with the reset vector's
// GOTO 0x000100, some EEPROM words and the configuration words. The payloads the write command
// must take from it are kept beside the text.
struct Firmware {
  std::string hex;
  Bytes flash;   // 4 bytes per instruction word
  Bytes eeprom;  // 2 bytes per word
  Bytes config;
};

Firmware MakeFirmware(std::size_t programWords, std::size_t eepromWords = 8,
                      std::size_t configWords = 7) {
  Firmware fw;
  fw.flash = {0x00, 0x01, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00};
  for (std::size_t k = 2; k < programWords; ++k)
    fw.flash.insert(fw.flash.end(),
                    {static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(k >> 8), 0x12, 0x00});
  Bytes eepromGroups, configGroups;
  for (std::size_t k = 0; k < eepromWords; ++k) {
    const auto lo = static_cast<std::uint8_t>(0xE0 + k), hi = static_cast<std::uint8_t>(k);
    fw.eeprom.insert(fw.eeprom.end(), {lo, hi});
    eepromGroups.insert(eepromGroups.end(), {lo, hi, 0, 0});
  }
  for (std::size_t k = 0; k < configWords; ++k) {
    const auto lo = static_cast<std::uint8_t>(0xC0 + k), hi = static_cast<std::uint8_t>(0x80 + k);
    fw.config.insert(fw.config.end(), {lo, hi});
    configGroups.insert(configGroups.end(), {lo, hi, 0, 0});
  }
  fw.hex = test::HexDataRecords(0, fw.flash) + test::HexDataRecords(0x7FF000 * 2, eepromGroups) +
           test::HexDataRecords(0xF80000 * 2, configGroups) + test::kHexEndOfFile;
  return fw;
}

// Device 1: the default memory map. Device 2: the first 0x200 units of program memory belong to
// a boot loader, so a firmware with a reset vector does not fit.
constexpr const char* kCatalogue =
    "[DEVICE_1]\nNAME=Test board\nHCLASS=7\nHREL=2\nSVER=3\n"
    "[DEVICE_2]\nNAME=Boot board\nHCLASS=9\nFLASH_APP_BASE=0x200\n";

// The message of a catalogue that cannot be used: the reason and the paths tried.
std::string CatalogueRefused(const std::string& reason, const std::string& paths) {
  return FormatMessage(texts::kCataloguePathsTried, {reason, "\n\r  " + paths});
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteText(dir_ / "cat.dat", kCatalogue);
    firmware_ = MakeFirmware(300);
    WriteText(dir_ / "fw.hex", firmware_.hex);
  }
  void TearDown() override {
    if (HasFailure())
      temp_.Keep();  // left to look into
  }

  // Runs fwupdater with the arguments in the test's folder.
  Result Fw(const std::vector<std::string>& args) { return RunFwupdater(dir_, args); }

  // A new card data file of 4096 pages (2 MiB) with an EXTENDED section of `extendedMb` MB.
  void CreateCard(const std::string& name = "c.rgd", int extendedMb = 1) {
    const Result r =
        Fw({"create", name, "--pages", "4096", "--extended-mb", std::to_string(extendedMb)});
    ASSERT_EQ(r.code, 0) << r.err;
  }

  Result Write(const std::vector<std::string>& extra = {}, const std::string& hex = "fw.hex") {
    std::vector<std::string> args = {"write", "c.rgd", "--hex", hex, "--catalogue", "cat.dat"};
    args.insert(args.end(), extra.begin(), extra.end());
    return Fw(args);
  }

  std::string Card() const { return ReadText(dir_ / "c.rgd"); }

  test::TempDir temp_ = TestFolder("fwupdater cli карта_");  // a space and Cyrillic in every path
  const fs::path dir_ = temp_.path();
  Firmware firmware_;
};

// With 50 sessions the EXTENDED section starts at relative page 200: the first entry header is
// absolute page 201.
constexpr std::size_t kFirstEntryPage = 201;

TEST_F(CliTest, CreateWritesTheHeaderOfANewCard) {
  const Result r =
      Fw({"create", "c.rgd", "--pages", "131072", "--sessions", "50", "--extended-mb", "6"});
  ASSERT_EQ(r.code, 0) << r.err;
  const std::string card = Card();
  ASSERT_EQ(card.size(), 67108864u);
  // DataPages 131071, Reserved 0 0, SessionsStart 0, SessionsPages 200, ExtendedStart 200,
  // ExtendedPages 12288, MainStart 12488, MainPages 118583, all little-endian.
  const Bytes expected = {0xFF, 0xFF, 0x01, 0x00, 0,    0,    0, 0, 0,    0,    0,    0,
                          0,    0,    0,    0,    0xC8, 0,    0, 0, 0xC8, 0,    0,    0,
                          0x00, 0x30, 0,    0,    0xC8, 0x30, 0, 0, 0x37, 0xCF, 0x01, 0};
  EXPECT_EQ(Bytes(card.begin() + 12, card.begin() + 48), expected);
  EXPECT_EQ(card.substr(0, 12), std::string("NUBRA-7Q\0\0\x01\x04", 12));

  const Result list = Fw({"list", "c.rgd"});
  EXPECT_EQ(list.code, 0);
  EXPECT_EQ(list.out, "N  Тип  Имя  ID  Дата  HCLASS  HREL  SVER  SREL\n");
  const Result json = Fw({"list", "c.rgd", "--json"});
  EXPECT_NE(json.out.find("\"extended_pages\": 12288"), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"free_bytes\": 6291456"), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"entries\": []"), std::string::npos) << json.out;
}

TEST_F(CliTest, CreateDefaultsTheExtendedSectionToATenthRoundedHalfToEven) {
  struct Case {
    const char* sizeMb;
    const char* extendedPages;
  };
  for (const Case c : {Case{"15", "4096"}, Case{"25", "4096"}, Case{"36", "8192"}}) {
    fs::remove(dir_ / "c.rgd");
    ASSERT_EQ(Fw({"create", "c.rgd", "--size-mb", c.sizeMb}).code, 0);
    const Result json = Fw({"list", "c.rgd", "--json"});
    EXPECT_NE(json.out.find(std::string("\"extended_pages\": ") + c.extendedPages),
              std::string::npos)
        << c.sizeMb << " MB: " << json.out;
  }
}

// As in the preparation dialog: the usual choices, or any other positive whole number.
TEST_F(CliTest, SessionsAreAnyPositiveWholeNumberAndTheHelpNamesTheUsualOnes) {
  ASSERT_EQ(Fw({"create", "c.rgd", "--pages", "4096", "--sessions", "77"}).code, 0);
  const std::string card = Card();
  EXPECT_EQ(Bytes(card.begin() + 28, card.begin() + 32), (Bytes{0x34, 0x01, 0, 0}));  // 308
  const Result zero = Fw({"create", "d.rgd", "--pages", "4096", "--sessions", "0"});
  EXPECT_EQ(zero.code, 2);
  EXPECT_NE(zero.err.find("Максимальное число сессий \"0\" должно быть целым числом больше 0"),
            std::string::npos)
      << zero.err;
  for (const char* command : {"create", "prepare"}) {
    const std::string help = Fw({command, "--help"}).out;
    EXPECT_NE(help.find("usually 50, 100, 500, 1000"), std::string::npos) << help;
  }
}

TEST_F(CliTest, CreateRefusesToReplaceAFileOrToBuildAnUnsoundOne) {
  CreateCard();
  const std::string before = Card();
  const Result again = Fw({"create", "c.rgd", "--pages", "4096"});
  EXPECT_EQ(again.code, 1);
  EXPECT_EQ(again.err, Printed(FormatMessage(texts::kCardFileExists, {std::string("c.rgd")})));
  EXPECT_EQ(Card(), before);

  const Result tooSmall = Fw({"create", "small.rgd", "--pages", "100", "--extended-mb", "1"});
  EXPECT_EQ(tooSmall.code, 1);
  EXPECT_EQ(tooSmall.err, Printed(FormatMessage(texts::kSectionsDoNotFit,
                                                {std::uint64_t{2248}, std::uint64_t{99}})));
  EXPECT_FALSE(fs::exists(dir_ / "small.rgd"));
}

// ---- create and prepare stopped by a signal ------------------------------------------------

// Starts the program (fwupdater or its test twin on fake cards) in dir without waiting for it,
// with stdout and stderr in out.txt and err.txt there and the stop signals at their defaults
// (whatever the test runner ignores).
pid_t StartProgram(const std::string& program, const fs::path& dir,
                   const std::vector<std::string>& args) {
  std::vector<std::string> words = {program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  const std::string out = (dir / "out.txt").string(), err = (dir / "err.txt").string();
  const pid_t pid = ::fork();
  if (pid != 0)
    return pid;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP})
    std::signal(signal, SIG_DFL);
  if (::chdir(dir.c_str()) != 0 ||
      ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1) < 0 ||
      ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2) < 0)
    ::_exit(126);
  ::execv(program.c_str(), argv.data());
  ::_exit(127);
}

// SIGTERM (a service manager, `kill`) and SIGHUP (a closed terminal) stop the page writing as
// Ctrl+C does: the partial file is deleted, the command says so and fails. `prepare` runs on a
// fake card, in a process of its own: the command line built for the tests with fake volumes.
TEST_F(CliTest, CreateAndPrepareStoppedBySignalDeleteThePartialFile) {
  if (RunsOtherFwupdater())
    GTEST_SKIP() << "the signals go to the Linux test build on fake cards";
  fs::create_directories(dir_ / "cards" / "sdb1");
  struct Case {
    const char* command;
    std::string program;
    std::vector<std::string> args;
    fs::path file;
  };
  const Case cases[] = {
      {"create",
       std::string(FW_BIN_DIR) + "/fwupdater",
       {"create", "big.rgd", "--size-mb", "512"},
       dir_ / "big.rgd"},
      {"prepare",
       FW_FAKE_CARDS_FWUPDATER,
       {(dir_ / "cards").string(), "prepare", "sdb1", "--no-format", "--size-mb", "512"},
       dir_ / "cards" / "sdb1" / "data.rgd"},
  };
  for (const Case& c : cases) {
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
      SCOPED_TRACE(std::string(c.command) + " stopped by signal " + std::to_string(signal));
      const pid_t pid = StartProgram(c.program, dir_, c.args);
      ASSERT_GT(pid, 0);
      // Once the first block is in the file, the writing has started.
      const auto started = [&c] {
        std::error_code error;
        const std::uintmax_t size = fs::file_size(c.file, error);
        return !error && size >= 512 + 512000;
      };
      int status = 0;
      while (::waitpid(pid, &status, WNOHANG) == 0 && !started())
        ::usleep(1000);
      ASSERT_EQ(::kill(pid, signal), 0) << "fwupdater ended before the signal";
      ASSERT_EQ(::waitpid(pid, &status, 0), pid);
      ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
      EXPECT_EQ(WEXITSTATUS(status), 1);
      EXPECT_FALSE(fs::exists(c.file));
      const std::string err = ReadText(dir_ / "err.txt");
      const std::string aborted = Printed(std::string(texts::kFormatAborted));
      ASSERT_GE(err.size(), aborted.size()) << err;
      EXPECT_EQ(err.substr(err.size() - aborted.size()), aborted) << err;
    }
  }
}

// While another process holds the card for writing, a write is refused with the reason and the
// card keeps every byte; reading commands still read, and the card is free once let go.
TEST_F(CliTest, ASecondWriterIsRefusedWhileAnotherProcessHoldsTheCard) {
  CreateCard();
  ASSERT_EQ(Write().code, 0);
  const std::string before = Card();
  {
    const CardHolder holder(dir_, "c.rgd");
    ASSERT_TRUE(holder.Holds());
    const Result second = Write();
    EXPECT_EQ(second.code, 1);
    EXPECT_EQ(second.err, Printed("Cannot open file c.rgd: файл занят: его уже открыла для записи "
                                  "другая программа или другая копия этой программы"));
    EXPECT_EQ(Fw({"list", "c.rgd"}).code, 0);
    EXPECT_EQ(Card(), before);
  }
  EXPECT_EQ(Write().code, 0);
}

// A removable card under Wine: $FW_E2E_FLOPPY is "LETTER:FOLDER", a Wine drive of type floppy
// mapped to a folder (scripts/build-mingw sets one up). Wine reports it removable, so `drives`
// lists it and `prepare --no-format` makes the card on it; Wine cannot lock and eject the
// volume, so `eject` ends with the system's failure message. Run last: after the failed eject
// Wine shows the drive as gone for a moment.
TEST_F(CliTest, RemovableCardOnAWineFloppyDrive) {
  const char* floppy = std::getenv("FW_E2E_FLOPPY");
  if (floppy == nullptr || std::string(floppy).size() < 3)
    GTEST_SKIP() << "FW_E2E_FLOPPY names no Wine floppy drive";
  const std::string letter(1, floppy[0]);
  const fs::path folder = std::string(floppy + 2);
  fs::remove(folder / "data.rgd");

  const Result drives = Fw({"drives"});
  EXPECT_EQ(drives.code, 0) << drives.err;
  EXPECT_EQ(drives.out.rfind(letter + ":  Метка:", 0), 0u) << drives.out;

  const Result prepared =
      Fw({"prepare", letter, "--no-format", "--size-mb", "2", "--extended-mb", "1"});
  ASSERT_EQ(prepared.code, 0) << prepared.err;
  EXPECT_NE((prepared.out + prepared.err).find("Создан файл " + letter + ":\\data.rgd"),
            std::string::npos)
      << prepared.out << prepared.err;
  const std::string card = ReadText(folder / "data.rgd");
  EXPECT_EQ(card.size(), 2097152u);

  const Result again = Fw({"prepare", letter, "--no-format", "--size-mb", "1"});
  EXPECT_EQ(again.code, 1);
  EXPECT_EQ(ReadText(folder / "data.rgd"), card);

  const Result eject = Fw({"eject", letter + ":\\data.rgd"});
  EXPECT_EQ(eject.code, 1);
  EXPECT_EQ(eject.err.rfind("Ошибка при попытке извлечения диска " + letter + ":", 0), 0u)
      << eject.err;
  EXPECT_EQ(ReadText(folder / "data.rgd"), card);
}

TEST_F(CliTest, PlainAndScrambledWritesVerifyAndGetIdsOneAndTwo) {
  CreateCard();
  const Result first = Write();
  ASSERT_EQ(first.code, 0) << first.err;
  const Result second = Write({"--scramble", "--name", "Прошивка 2", "--sver", "4", "--json"});
  ASSERT_EQ(second.code, 0) << second.err;
  EXPECT_NE(second.out.find("\"id\": 2"), std::string::npos) << second.out;
  EXPECT_NE(second.out.find("\"name\": \"Прошивка 2      \""), std::string::npos);
  EXPECT_NE(second.out.find("\"hclass\": 7"), std::string::npos);
  EXPECT_NE(second.out.find("\"sver\": 4"), std::string::npos);

  const Result list = Fw({"list", "c.rgd"});
  ASSERT_EQ(list.code, 0);
  EXPECT_NE(list.out.find("\n1  1 - Firmware dsPIC30Fxxxx  Update            1   "),
            std::string::npos)
      << list.out;
  EXPECT_NE(list.out.find("\n2  1 - Firmware dsPIC30Fxxxx  Прошивка 2        2   "),
            std::string::npos)
      << list.out;

  // Keys: none on the first entry, both set on the second; its stored FLASH bytes differ from
  // the plain image while verify still finds every checksum.
  const std::string card = Card();
  const std::size_t firstHeader = kFirstEntryPage * kPage;
  const std::size_t secondPage = kFirstEntryPage + 1 + 3 + 1 + 1 + 1;  // 1 + 3 + 1 + 1 pages, +1
  const std::size_t secondHeader = secondPage * kPage;
  EXPECT_EQ(card[firstHeader + 80], 0);
  EXPECT_EQ(card[firstHeader + 81], 0);
  EXPECT_EQ(card.substr(firstHeader + kPage, firmware_.flash.size()),
            std::string(firmware_.flash.begin(), firmware_.flash.end()));
  EXPECT_EQ(card.substr(secondHeader, 2), "\x5A\x5A");
  EXPECT_NE(card[secondHeader + 80], 0);
  EXPECT_NE(card[secondHeader + 81], 0);
  EXPECT_NE(card.substr(secondHeader + kPage, firmware_.flash.size()),
            std::string(firmware_.flash.begin(), firmware_.flash.end()));

  const Result verify = Fw({"verify", "c.rgd"});
  EXPECT_EQ(verify.code, 0) << verify.out << verify.err;
  EXPECT_EQ(verify.out,
            FormatMessage(texts::kVerifyEntryOk,
                          {std::int64_t{1}, std::uint64_t{kFirstEntryPage}, std::uint64_t{1}}) +
                "\n" +
                FormatMessage(texts::kVerifyEntryOk,
                              {std::int64_t{2}, std::uint64_t{secondPage}, std::uint64_t{2}}) +
                "\n" + FormatMessage(texts::kVerifySummary, {std::int64_t{2}, std::int64_t{0}}) +
                "\n");
}

TEST_F(CliTest, JsonEscapesWhatANameMayHold) {
  CreateCard();
  const Result r = Write({"--name", "a\"b\\c", "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("\"name\": \"a\\\"b\\\\c           \""), std::string::npos) << r.out;
}

TEST_F(CliTest, MissingInputsAreRefusedFirstOneOnlyAndTheCardStaysAsItWas) {
  CreateCard();
  fs::create_directories(dir_ / "folder");
  WriteText(dir_ / "empty.dat", "");
  const std::string before = Card();
  struct Case {
    std::vector<std::string> args;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{"write", "missing.rgd", "--hex", "missing.hex", "--catalogue", "cat.dat"},
       std::string(texts::kNoHexFile)},
      {{"write", "c.rgd", "--hex", "folder", "--catalogue", "cat.dat"},
       std::string(texts::kNoHexFile)},
      {{"write", "missing.rgd", "--hex", "missing.hex", "--catalogue", "empty.dat"},
       CatalogueRefused(FormatMessage(texts::kCatalogueEmpty, {std::string("empty.dat")}),
                        "empty.dat")},
      {{"write", "missing.rgd", "--hex", "fw.hex", "--catalogue", "cat.dat"},
       std::string(texts::kNoCardFile)},
      {{"write", "folder", "--hex", "fw.hex", "--catalogue", "cat.dat"},
       std::string(texts::kNoCardFile)},
      {{"write", "c.rgd", "--hex", "fw.hex", "--catalogue", "cat.dat", "--name",
        "Семнадцать знаков"},
       FormatMessage(texts::kNameTooLong, {std::string("Семнадцать знаков")})},
      {{"write", "c.rgd", "--hex", "fw.hex", "--catalogue", "cat.dat", "--name", "Версия №2 ✓"},
       FormatMessage(texts::kNameNotRepresentable, {std::string("Версия №2 ✓"), std::string("✓")})},
      {{"write", "c.rgd", "--hex", "fw.hex", "--catalogue", "cat.dat", "--device", "Nope"},
       FormatMessage(texts::kUnknownDevice, {std::string("Nope"), std::string("cat.dat")})},
  };
  for (const auto& c : cases) {
    const Result r = Fw(c.args);
    EXPECT_EQ(r.code, 1) << c.expected;
    EXPECT_EQ(r.err, Printed(c.expected));
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(Card(), before);
}

TEST_F(CliTest, WrongCardIsReportedBeforeTheFirmwareIsRead) {
  CreateCard();
  std::string card = Card();
  card[11] = 5;  // Format2
  WriteText(dir_ / "c.rgd", card);
  // Device 2 would refuse this firmware with ENotInWindow: the card's format comes first.
  const Result r = Write({"--device", "2"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, Printed(FormatMessage(texts::kInvalidFormat, {std::string("c.rgd")})));
  EXPECT_EQ(Card(), card);
}

TEST_F(CliTest, ImageOutsideItsWindowOrNoRoomLeavesTheCardByteForByte) {
  CreateCard();
  ASSERT_EQ(Write().code, 0);
  const std::string before = Card();
  const Result notInWindow = Write({"--device", "Boot board"});
  EXPECT_EQ(notInWindow.code, 1);
  EXPECT_EQ(notInWindow.err,
            Printed(FormatMessage(texts::kNotInWindow,
                                  {std::string("FLASH"), std::uint64_t{0x200},
                                   std::uint64_t{0x17FFE}, std::uint64_t{0}, std::uint64_t{599}})));
  EXPECT_EQ(Card(), before);

  CreateCard("none.rgd", 0);  // no EXTENDED section at all
  const std::string empty = ReadText(dir_ / "none.rgd");
  const Result noRoom = Fw({"write", "none.rgd", "--hex", "fw.hex", "--catalogue", "cat.dat"});
  EXPECT_EQ(noRoom.code, 1);
  // Header page, 3 FLASH pages (1200 bytes), 1 EEPROM page, 1 CONFIG page.
  EXPECT_EQ(noRoom.err, Printed(FormatMessage(texts::kOutOfSpace,
                                              {std::uint64_t{6 * kPage}, std::uint64_t{0}})));
  EXPECT_EQ(ReadText(dir_ / "none.rgd"), empty);
}

TEST_F(CliTest, AnEntryThatFitsExactlyEndsOnTheLastPageOfTheSection) {
  // EXTENDED: 2048 pages. Five entries of 385 pages (header + 384 FLASH pages, the whole program
  // memory) take 5 x 386 pages with the skipped page after each; 118 pages remain, exactly an
  // entry of 117 FLASH pages (14976 words).
  CreateCard();
  WriteText(dir_ / "full.hex", MakeFirmware(49152, 0, 0).hex);
  WriteText(dir_ / "rest.hex", MakeFirmware(14976, 0, 0).hex);
  for (int i = 0; i < 5; ++i)
    ASSERT_EQ(Write({}, "full.hex").code, 0);
  const std::string before = Card();
  WriteText(dir_ / "over.hex", MakeFirmware(14977, 0, 0).hex);  // one FLASH page more
  const Result over = Write({}, "over.hex");
  EXPECT_EQ(over.code, 1);
  EXPECT_EQ(over.err, Printed(FormatMessage(texts::kOutOfSpace, {std::uint64_t{119 * kPage},
                                                                 std::uint64_t{118 * kPage}})));
  EXPECT_EQ(Card(), before);

  const Result exact = Write({"--json"}, "rest.hex");
  ASSERT_EQ(exact.code, 0) << exact.err;
  const std::size_t lastHeader = kFirstEntryPage + 5 * 386;
  EXPECT_NE(exact.out.find("\"page\": " + std::to_string(lastHeader)), std::string::npos);
  // Its last FLASH page is the last page of the section (absolute 200 + 2048).
  const std::string card = Card();
  const std::size_t lastPage = 200 + 2048;
  EXPECT_EQ(lastHeader + 117, lastPage);
  const std::size_t lastWord = (14976 - 1) * 4;
  EXPECT_EQ(card.substr((lastHeader + 1) * kPage + lastWord, 4),
            std::string("\x7F\x3A\x12\x00", 4));
  EXPECT_EQ(Fw({"verify", "c.rgd"}).code, 0);
  EXPECT_EQ(Write({}, "fw.hex").code, 1);
}

TEST_F(CliTest, ExtractedFilesWriteBackToTheSamePayloads) {
  CreateCard();
  ASSERT_EQ(Write({"--scramble"}).code, 0);
  const Result extract =
      Fw({"extract", "c.rgd", "--entry", "1", "--out", "one", "--catalogue", "cat.dat"});
  ASSERT_EQ(extract.code, 0) << extract.err;
  EXPECT_EQ(ReadText(dir_ / "one/flash.bin"),
            std::string(firmware_.flash.begin(), firmware_.flash.end()));
  EXPECT_EQ(ReadText(dir_ / "one/eeprom.bin"),
            std::string(firmware_.eeprom.begin(), firmware_.eeprom.end()));
  EXPECT_EQ(ReadText(dir_ / "one/config.bin"),
            std::string(firmware_.config.begin(), firmware_.config.end()));

  ASSERT_EQ(Write({}, "one/firmware.hex").code, 0);
  ASSERT_EQ(Fw({"extract", "c.rgd", "--entry", "2", "--out", "two", "--catalogue", "cat.dat"}).code,
            0);
  for (const char* file : {"flash.bin", "eeprom.bin", "config.bin", "firmware.hex"})
    EXPECT_EQ(ReadText(dir_ / "two" / file), ReadText(dir_ / "one" / file)) << file;

  const Result none =
      Fw({"extract", "c.rgd", "--entry", "3", "--out", "three", "--catalogue", "cat.dat"});
  EXPECT_EQ(none.code, 1);
  EXPECT_EQ(none.err,
            Printed(FormatMessage(texts::kEntryNotFound,
                                  {std::string("c.rgd"), std::int64_t{3}, std::int64_t{2}})));
}

// An output folder that is a file, or lies under one, is named with that reason; the file keeps
// its bytes.
TEST_F(CliTest, ExtractIntoAFileSaysItIsNoFolder) {
  CreateCard();
  ASSERT_EQ(Write().code, 0);
  WriteText(dir_ / "afile", "notes");
  for (const std::string out : {"afile", "afile/sub"}) {
    SCOPED_TRACE(out);
    const Result r =
        Fw({"extract", "c.rgd", "--entry", "1", "--out", out, "--catalogue", "cat.dat"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err,
              Printed("Cannot create file " + out + ": " + std::string(texts::kReasonNotAFolder)));
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(ReadText(dir_ / "afile"), "notes");
}

TEST_F(CliTest, VerifyNamesTheEntryAndTheChecksumThatFail) {
  CreateCard();
  ASSERT_EQ(Write().code, 0);
  ASSERT_EQ(Write({"--scramble"}).code, 0);
  const std::string good = Card();
  const std::size_t second = kFirstEntryPage + 7;  // the first entry is 6 pages, then one skipped
  struct Case {
    std::size_t offset;  // byte of the card to change
    const char* failure;
  };
  const std::vector<Case> cases = {
      {(second + 1) * kPage + 10, "FLASH"},    // a byte of the scrambled FLASH payload
      {(second + 4) * kPage + 3, "EEPROM"},    // the EEPROM payload page
      {(second + 5) * kPage + 0, "CONFIG"},    // the CONFIG payload page
      {second * kPage + 44, "header, FLASH"},  // low byte of the stored FLASH checksum
      {second * kPage + 76, "header"},         // low byte of the header checksum
  };
  for (const auto& c : cases) {
    std::string card = good;
    card[c.offset] = static_cast<char>(card[c.offset] ^ 0x01);
    WriteText(dir_ / "c.rgd", card);
    const Result r = Fw({"verify", "c.rgd"});
    EXPECT_EQ(r.code, 1) << c.failure;
    EXPECT_NE(r.out.find(FormatMessage(texts::kVerifyEntryFailed,
                                       {std::int64_t{2}, std::uint64_t{second}, std::uint64_t{2},
                                        std::string(c.failure)})),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(FormatMessage(
                  texts::kVerifyEntryOk,
                  {std::int64_t{1}, std::uint64_t{kFirstEntryPage}, std::uint64_t{1}})),
              std::string::npos);
  }
  // The card now holds the last case: a damaged entry is not handed out as firmware.
  const Result extract =
      Fw({"extract", "c.rgd", "--entry", "2", "--out", "x", "--catalogue", "cat.dat"});
  EXPECT_EQ(extract.code, 1);
  EXPECT_EQ(extract.err,
            Printed(FormatMessage(texts::kEntryDamaged,
                                  {std::int64_t{2}, std::string("c.rgd"), std::string("header")})));
  EXPECT_FALSE(fs::exists(dir_ / "x"));
}

// The first entry of MakeFirmware(300) takes pages 201..206; the chain goes on at 208.
constexpr std::size_t kSecondEntryPage = kFirstEntryPage + 7;

TEST_F(CliTest, ACardCutShortFailsVerifyAndRefusesEveryWriteSayingWhy) {
  CreateCard();
  ASSERT_EQ(Write().code, 0);
  fs::resize_file(dir_ / "c.rgd", 210 * kPage);  // two pages left after the chain's end
  const std::string before = Card();

  const Result verify = Fw({"verify", "c.rgd"});
  EXPECT_EQ(verify.code, 1);
  EXPECT_NE(verify.out.find(FormatMessage(texts::kVerifySizeFailed,
                                          {std::string("c.rgd"), std::uint64_t{210 * kPage},
                                           std::uint64_t{4096 * kPage}, std::string("size")})),
            std::string::npos)
      << verify.out;
  const Result json = Fw({"verify", "c.rgd", "--json"});
  EXPECT_EQ(json.code, 1);
  EXPECT_NE(json.out.find("\"file_bytes\": 107520,\n  \"header_bytes\": 2097152"),
            std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("\"failures\": [\n    \"size\"\n  ],\n  \"ok\": false"),
            std::string::npos)
      << json.out;

  const Result write = Write();
  EXPECT_EQ(write.code, 1);
  EXPECT_EQ(write.err,
            Printed(FormatMessage(texts::kCardFileTooShort,
                                  {std::string("c.rgd"), std::uint64_t{(4096 - 210) * kPage},
                                   std::uint64_t{4096 * kPage}, std::uint64_t{210 * kPage},
                                   std::uint64_t{6 * kPage}, std::uint64_t{2 * kPage}})));
  EXPECT_EQ(Card(), before);

  // Room enough before the file's real end changes nothing: the card is damaged all the same.
  fs::resize_file(dir_ / "c.rgd", 400 * kPage);
  const std::string longer = Card();
  const Result fits = Write();
  EXPECT_EQ(fits.code, 1);
  EXPECT_EQ(fits.err,
            Printed(FormatMessage(texts::kCardFileTooShort,
                                  {std::string("c.rgd"), std::uint64_t{(4096 - 400) * kPage},
                                   std::uint64_t{4096 * kPage}, std::uint64_t{400 * kPage},
                                   std::uint64_t{6 * kPage}, std::uint64_t{192 * kPage}})));
  EXPECT_EQ(Card(), longer);
}

// A damaged section field of the header would move the chain off its entries: verify would pass
// with none and a write would overwrite them. Every command refuses the card instead, naming the
// field, and the card keeps every byte.
TEST_F(CliTest, ADamagedSectionFieldIsRefusedByEveryCommandAndTheCardKeepsItsBytes) {
  CreateCard();
  ASSERT_EQ(Write().code, 0);
  const std::string good = Card();
  const struct {
    const char* what;
    std::size_t at;
    char value;
    std::string detail;
  } cases[] = {
      {"ExtendedStart 200 -> 201", 32, '\xC9',
       "Поле заголовка ExtendedStart = 201, а должно быть SessionsStart + SessionsPages = 200"},
      {"ExtendedStart 200 -> 456, past the file's end", 33, '\x01',
       "Поле заголовка ExtendedStart = 456, а должно быть SessionsStart + SessionsPages = 200"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string card = good;
    card[c.at] = c.value;
    WriteText(dir_ / "c.rgd", card);
    const std::string message =
        Printed(FormatMessage(texts::kInvalidFormat, {std::string("c.rgd")}) + "\n\r" + c.detail);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"verify", "c.rgd"},
          {"list", "c.rgd"},
          {"write", "c.rgd", "--hex", "fw.hex", "--catalogue", "cat.dat", "--force"}}) {
      const Result r = Fw(args);
      EXPECT_EQ(r.code, 1) << args[0];
      EXPECT_EQ(r.err, message) << args[0];
    }
    EXPECT_EQ(Card(), card);
  }
}

TEST_F(CliTest, EntriesHiddenByAFlippedMarkerFailVerifyAndStopAWriteWithoutForce) {
  CreateCard();
  ASSERT_EQ(Write().code, 0);
  ASSERT_EQ(Write({"--name", "Second"}).code, 0);
  std::string card = Card();
  card[kFirstEntryPage * kPage] ^= 0x01;  // the chain now ends at once
  WriteText(dir_ / "c.rgd", card);
  const std::string report =
      FormatMessage(texts::kOrphanedEntries, {std::string("c.rgd"), std::int64_t{2}}) + "\n\r" +
      FormatMessage(texts::kOrphanedEntry, {std::uint64_t{kFirstEntryPage}, std::uint64_t{1},
                                            std::string("Update          ")}) +
      "\n\r" +
      FormatMessage(texts::kOrphanedEntry, {std::uint64_t{kSecondEntryPage}, std::uint64_t{2},
                                            std::string("Second          ")});

  const Result verify = Fw({"verify", "c.rgd"});
  EXPECT_EQ(verify.code, 1);
  EXPECT_EQ(verify.out,
            Printed(report) +
                FormatMessage(texts::kVerifyOrphansFailed,
                              {std::string("c.rgd"), std::string("orphaned entries")}) +
                "\n" + FormatMessage(texts::kVerifySummary, {std::int64_t{0}, std::int64_t{0}}) +
                "\n");
  const Result json = Fw({"verify", "c.rgd", "--json"});
  EXPECT_EQ(json.code, 1);
  EXPECT_NE(json.out.find("{\n      \"page\": 208,\n      \"id\": 2,\n      "
                          "\"name\": \"Second          \"\n    }\n  ],\n  \"failures\": [\n    "
                          "\"orphaned entries\"\n  ]"),
            std::string::npos)
      << json.out;

  const Result refused = Write();
  EXPECT_EQ(refused.code, 1);
  EXPECT_EQ(refused.err, Printed(report + "\n\r" + std::string(texts::kOrphansRefused)));
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(Card(), card);

  const Result forced = Write({"--force"});
  EXPECT_EQ(forced.code, 0) << forced.err;
  EXPECT_EQ(Fw({"verify", "c.rgd"}).code, 0) << "the hidden entry was written over";
}

// The last entry's marker damaged: the chain ends at its header page, which keeps the rest of an
// entry header (signature, checksum). verify and write find it there like any hidden entry, and
// a name with control characters is shown escaped, never raw.
TEST_F(CliTest, TheLastEntryWithADamagedMarkerIsFoundAndItsNameShownEscaped) {
  CreateCard();
  ASSERT_EQ(Write().code, 0);
  ASSERT_EQ(Write({"--name", "Second"}).code, 0);
  std::string card = Card();
  card.replace(kSecondEntryPage * kPage + 10, 4, "\x1b[7m");  // the name is not checksummed
  card[kSecondEntryPage * kPage] = '\0';
  WriteText(dir_ / "c.rgd", card);
  const std::string report = Printed(
      FormatMessage(texts::kOrphanedEntries, {std::string("c.rgd"), std::int64_t{1}}) + "\n\r" +
      FormatMessage(texts::kOrphanedEntry, {std::uint64_t{kSecondEntryPage}, std::uint64_t{2},
                                            std::string("\\x1b[7mnd          ")}));

  const Result verify = Fw({"verify", "c.rgd"});
  EXPECT_EQ(verify.code, 1);
  EXPECT_NE(verify.out.find(report), std::string::npos) << verify.out;
  const Result write = Write();
  EXPECT_EQ(write.code, 1);
  EXPECT_EQ(write.err.rfind(report, 0), 0u) << write.err;
  for (const std::string& text : {verify.out, write.err})
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
  EXPECT_EQ(Card(), card);
}

// The last entry's PageCount too small (verify says "pages"): the chain's free page lies in its
// payload. write refuses as over hidden entries, the card keeps every byte; --force writes.
TEST_F(CliTest, AnEntryWithTooFewPagesIsNotWrittenIntoWithoutForce) {
  CreateCard();
  ASSERT_EQ(Write().code, 0);
  std::string card = Card();
  ASSERT_EQ(card[kFirstEntryPage * kPage + 2], 6);
  card[kFirstEntryPage * kPage + 2] = 2;  // the chain goes on at 204, in the FLASH payload
  WriteText(dir_ / "c.rgd", card);

  const Result refused = Write();
  EXPECT_EQ(refused.code, 1);
  EXPECT_EQ(
      refused.err,
      Printed(FormatMessage(texts::kWrongPagesEntries, {std::string("c.rgd"), std::int64_t{1}}) +
              "\n\r" +
              FormatMessage(texts::kWrongPagesEntry,
                            {std::int64_t{1}, std::uint64_t{kFirstEntryPage}, std::uint64_t{1},
                             std::string("Update          "), std::uint64_t{2}, std::uint64_t{6}}) +
              "\n\r" + std::string(texts::kOrphansRefused)));
  EXPECT_EQ(Card(), card);
  EXPECT_EQ(Write({"--force"}).code, 0);
}

TEST_F(CliTest, AnEntryWrittenButNotReadBackIsReportedAsWrittenWithExitCodeThree) {
  if (RunsOtherFwupdater())
    GTEST_SKIP() << "the failing reads are a Linux preload";
  CreateCard();
  ASSERT_EQ(Write().code, 0);
  // The append flushes twice, the second time for its header page; then every read fails.
  const Environment readsFailAfterTheHeaderPage = {
      {"LD_PRELOAD", FW_FAIL_READS_PRELOAD},
      {"FW_FAIL_READS_AFTER_FSYNCS", "2"},
      {"ASAN_OPTIONS", "verify_asan_link_order=0"},
  };
  const Result r =
      RunFwupdater(dir_, {"write", "c.rgd", "--hex", "fw.hex", "--catalogue", "cat.dat"},
                   readsFailAfterTheHeaderPage);
  EXPECT_EQ(r.code, 3);
  EXPECT_EQ(r.out,
            Printed(FormatMessage(texts::kEntryWritten, {std::string("c.rgd"), std::uint64_t{2},
                                                         std::uint64_t{kSecondEntryPage}})));
  const std::string io = FormatMessage(
      texts::kFileIoError, {std::string("c.rgd"), std::generic_category().message(EIO)});
  EXPECT_EQ(r.err, Printed(FormatMessage(texts::kReadBackFailed, {std::string("c.rgd"), io})));

  const Result list = Fw({"list", "c.rgd", "--json"});
  EXPECT_NE(list.out.find("\"id\": 2"), std::string::npos) << list.out;
  EXPECT_EQ(Fw({"verify", "c.rgd"}).code, 0);
}

TEST_F(CliTest, AWriteAfterId65535IsRefusedAndVerifyReadsTheNewEntryBack) {
  CreateCard();
  ASSERT_EQ(Write({"--verify"}).code, 0);
  std::string card = Card();
  card[kFirstEntryPage * kPage + 8] = '\xFF';  // Id 65535; not covered by the header checksum
  card[kFirstEntryPage * kPage + 9] = '\xFF';
  WriteText(dir_ / "c.rgd", card);
  ASSERT_EQ(Fw({"verify", "c.rgd"}).code, 0);
  const Result r = Write({"--verify"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, Printed(FormatMessage(texts::kEntryIdsExhausted, {std::string("c.rgd")})));
  EXPECT_EQ(Card(), card);
}

TEST_F(CliTest, DevicesAndHexInfoShowTheCatalogueAndTheFile) {
  const Result devices = Fw({"devices", "--catalogue", "cat.dat", "--json"});
  ASSERT_EQ(devices.code, 0) << devices.err;
  EXPECT_NE(devices.out.find("\"name\": \"Boot board\""), std::string::npos) << devices.out;
  EXPECT_NE(devices.out.find("\"flash_app\": {\n        \"base\": 512,"), std::string::npos);

  const Result info =
      Fw({"hexinfo", "fw.hex", "--catalogue", "cat.dat", "--device", "2", "--json"});
  ASSERT_EQ(info.code, 0) << info.err;
  EXPECT_NE(info.out.find("\"device\": \"Boot board\""), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("\"flash\": {\n    \"first\": 0,\n    \"last\": 599,\n    \"size\": 600"),
            std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("\"entry\": 256"), std::string::npos);
  const Result table = Fw({"hexinfo", "fw.hex", "--catalogue", "cat.dat"});
  EXPECT_NE(table.out.find("Entry   0x000100\n"), std::string::npos) << table.out;
}

// A copy of the program in <prefix>/bin looks beside itself, then in the user's folder, then in
// <prefix>/share/fwupdater; with none there it names the three paths and exits with 1.
TEST_F(CliTest, TheCatalogueIsLookedUpBesideTheProgramThenTheUsersCopyThenTheInstalledOne) {
  const fs::path bin = dir_ / "prefix" / "bin";
  const fs::path config = dir_ / "config";
  fs::create_directories(bin);
  fs::copy_file(fs::path(FW_BIN_DIR) / "fwupdater", bin / "fwupdater");
  const Environment environment = {{"XDG_CONFIG_HOME", config.string()}};
  const auto devices = [&] {
    return RunFwupdater(dir_, {"devices"}, environment, bin / "fwupdater");
  };
  const fs::path beside = bin / "DEV_LIST.dat";
  const fs::path users = config / "fwupdater" / "DEV_LIST.dat";
  const fs::path installed = dir_ / "prefix" / "share" / "fwupdater" / "DEV_LIST.dat";
  const std::string tried =
      beside.string() + "\n\r  " + users.string() + "\n\r  " + installed.string();

  const Result none = devices();
  EXPECT_EQ(none.code, 1);
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(none.err, Printed(CatalogueRefused(std::string(texts::kCatalogueNotFound), tried)));

  // Each place found in turn, the later ones holding other devices than the one that must win.
  const struct {
    fs::path path;
    const char* device;
  } places[] = {{installed, "Installed board"}, {users, "Users board"}, {beside, "Beside board"}};
  for (const auto& place : places) {
    fs::create_directories(place.path.parent_path());
    WriteText(place.path, std::string("[DEVICE_1]\nNAME=") + place.device + "\n");
    const Result found = devices();
    EXPECT_EQ(found.code, 0) << found.err;
    EXPECT_NE(found.out.find(place.device), std::string::npos) << found.out;
  }

  WriteText(beside, "; no device here\n");
  const Result empty = devices();
  EXPECT_EQ(empty.code, 1);
  EXPECT_EQ(empty.err, Printed(CatalogueRefused(
                           FormatMessage(texts::kCatalogueEmpty, {beside.string()}), tried)));
}

TEST_F(CliTest, UsageErrorsExitWithTwoAndHelpWithZero) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {},
           {"bogus"},
           {"write", "c.rgd"},
           {"write", "c.rgd", "--hex", "fw.hex", "--srel", "65536"},
           {"create", "c.rgd"},
           {"create", "c.rgd", "--pages", "4096", "--sessions", "0"},
           {"list"},
           {"prepare"},
           {"prepare", "sdb1", "--sessions", "5x"},
           {"eject"},
       }) {
    const Result r = Fw(args);
    EXPECT_EQ(r.code, 2) << (args.empty() ? "" : args[0]) << ": " << r.err;
    EXPECT_FALSE(r.err.empty());
  }
  for (const char* command : {"", "create", "list", "verify", "devices", "hexinfo", "write",
                              "extract", "drives", "prepare", "eject"}) {
    std::vector<std::string> args;
    if (*command != '\0')
      args.emplace_back(command);
    args.emplace_back("--help");
    const Result r = Fw(args);
    EXPECT_EQ(r.code, 0) << command;
    EXPECT_NE(r.out.find("Usage:"), std::string::npos) << command;
  }
  const std::string help = Fw({"--help"}).out;
  EXPECT_NE(help.find("Exit codes: 0 success; 1 the command failed"), std::string::npos);
  EXPECT_NE(help.find("3 (write) the entry was written"), std::string::npos) << help;
  EXPECT_NE(help.find("--version"), std::string::npos) << help;
  const Result version = Fw({"--version"});
  EXPECT_EQ(version.code, 0);
  EXPECT_EQ(version.out, std::string(kProgramName) + " " + std::string(kVersion) + "\n");
}

// ---- Refused devices, cut and odd files, hostile names, extract on a full disk -------------

// DEVICE_2's program memory ends at 0xFFFFFFFF, which used to be read as -1: a memory of no words,
// and `write` wrote the image without its program with exit 0.
constexpr const char* kCatalogueWithRefusedDevice =
    "[DEVICE_1]\nNAME=Test board\n"
    "[DEVICE_2]\nNAME=Wrapped\nFLASH_END=0xFFFFFFFF\n";
const std::string kWrappedRefusal =
    "Устройство \"Wrapped\" (DEVICE_2) каталога использовать нельзя:\n\r"
    "FLASH_END=0xFFFFFFFF лежит вне адресного пространства процессора 0x000000..0xFFFFFF";

TEST_F(CliTest, ARefusedDeviceIsNamedByEveryCommandAndTheOthersStayUsable) {
  WriteText(dir_ / "bad.dat", kCatalogueWithRefusedDevice);
  CreateCard();
  const Result listing = Fw({"devices", "--catalogue", "bad.dat"});
  EXPECT_EQ(listing.code, 0) << listing.err;
  EXPECT_NE(listing.out.find("2  Wrapped HClass=0 HRel=1 Sver=1\n"
                             "  Устройство \"Wrapped\" (DEVICE_2) каталога использовать нельзя:\n"
                             "  FLASH_END=0xFFFFFFFF лежит вне"),
            std::string::npos)
      << listing.out;
  const Result json = Fw({"devices", "--catalogue", "bad.dat", "--json"});
  EXPECT_NE(json.out.find("\"refusal\": null"), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"refusal\": \"Устройство \\\"Wrapped\\\" (DEVICE_2)"),
            std::string::npos)
      << json.out;

  const std::string before = Card();
  const std::vector<std::vector<std::string>> uses = {
      {"write", "c.rgd", "--hex", "fw.hex"},
      {"hexinfo", "fw.hex"},
  };
  for (auto args : uses) {
    SCOPED_TRACE(args[0]);
    args.insert(args.end(), {"--catalogue", "bad.dat", "--device", "2"});
    const Result r = Fw(args);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, Printed(kWrappedRefusal));
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(Card(), before);

  ASSERT_EQ(
      Fw({"write", "c.rgd", "--hex", "fw.hex", "--catalogue", "bad.dat", "--device", "1"}).code, 0);
  const Result extract = Fw({"extract", "c.rgd", "--entry", "1", "--out", "out", "--catalogue",
                             "bad.dat", "--device", "Wrapped"});
  EXPECT_EQ(extract.code, 1);
  EXPECT_EQ(extract.err, Printed(kWrappedRefusal));
  EXPECT_FALSE(fs::exists(dir_ / "out"));
}

// A HEX file cut short or of another kind, and files that are no regular files, are refused by
// `write` and `hexinfo` alike, at once, and the card keeps every byte.
TEST_F(CliTest, CutForeignAndOddFilesAreRefusedAndTheCardStaysAsItWas) {
  CreateCard();
  const std::string hex = firmware_.hex;
  WriteText(dir_ / "cut.hex", hex.substr(0, hex.rfind(':')));  // the end-of-file record lost
  WriteText(dir_ / "notes.hex", "firmware 1.2, see the release notes\n");
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  const std::string notRegular = ": это не обычный файл (папка, канал FIFO или устройство)";
  const struct {
    const char* name;
    std::string hex;
    std::string catalogue;
    std::string message;
  } cases[] = {
      {"cut", "cut.hex", "cat.dat",
       "Файл cut.hex оборван: в нём нет записи конца файла (:00000001FF).\n\rВероятно, он "
       "скопирован или загружен не полностью"},
      {"not HEX", "notes.hex", "cat.dat",
       "Файл notes.hex не является файлом Intel HEX: в нём нет ни одной записи"},
      {"FIFO as HEX", "fifo", "cat.dat", "Cannot open file fifo" + notRegular},
      {"/dev/zero as HEX", "/dev/zero", "cat.dat", "Cannot open file /dev/zero" + notRegular},
      {"FIFO as catalogue", "fw.hex", "fifo",
       CatalogueRefused("Cannot open file fifo" + notRegular, "fifo")},
  };
  const std::string before = Card();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // A Windows program sees no FIFO in a Linux one, nor the Linux devices.
    const bool linuxObject = c.hex == "fifo" || c.catalogue == "fifo" || c.hex == "/dev/zero";
    if (linuxObject && RunsOtherFwupdater())
      continue;
    const Result write = Fw({"write", "c.rgd", "--hex", c.hex, "--catalogue", c.catalogue});
    EXPECT_EQ(write.code, 1);
    EXPECT_EQ(write.err, Printed(c.message));
    const Result info = Fw({"hexinfo", c.hex, "--catalogue", c.catalogue});
    EXPECT_EQ(info.code, 1);
    EXPECT_EQ(info.err, Printed(c.message));
  }
  EXPECT_EQ(Card(), before);
  const std::string odd = RunsOtherFwupdater() ? "NUL" : "fifo";  // Windows: the null device
  const Result card = Fw({"list", odd});
  EXPECT_EQ(card.code, 1);
  EXPECT_EQ(card.err, Printed("Cannot open file " + odd + notRegular));
}

// A card written by another tool may hold any bytes in a name: `list` shows the controls escaped
// (\x1b, \x07, \t, ...), so that it cannot clear or rewrite the terminal; JSON escapes them its
// own way. Such a name is refused when it is given to `write`.
TEST_F(CliTest, ControlCharactersInNamesAreShownEscapedAndRefusedForWrite) {
  CreateCard();
  std::uint32_t page = 0;
  {
    TRgdFile card((dir_ / "c.rgd").string(), TRgdFile::Mode::ReadWrite);
    card.AddEntry("0123456789", TRgdVersionInfo{1, 0, 0, 0}, DateTime{},
                  TRgdEntryImage{.EepromStart = 0x7FF000});
    page = card.GetEntry(0).Page;
  }
  // The other tool's name in place of this one's (the header checksum does not cover it).
  std::string bytes = Card();
  bytes.replace(std::size_t{page} * 512 + 10, 10, "\x1b[2J\x07Up\tX\r");
  WriteText(dir_ / "c.rgd", bytes);
  const Result list = Fw({"list", "c.rgd"});
  ASSERT_EQ(list.code, 0) << list.err;
  EXPECT_NE(list.out.find("\\x1b[2J\\x07Up\\tX\\r"), std::string::npos) << list.out;
  for (const char control : {'\x1b', '\x07', '\t', '\r'})
    EXPECT_EQ(list.out.find(control), std::string::npos) << int{control};
  const Result json = Fw({"list", "c.rgd", "--json"});
  EXPECT_NE(json.out.find("\"name\": \"\\u001b[2J\\u0007Up\\tX\\r      \""), std::string::npos)
      << json.out;

  const std::string before = Card();
  const Result write = Write({"--name", "Up\x1b]0;owned\x07"});
  EXPECT_EQ(write.code, 1);
  EXPECT_EQ(write.err,
            Printed("Наименование обновления \"Up\\x1b]0;owned\\x07\" содержит "
                    "управляющий символ \\x1b,\n\rкоторый нельзя записать на карту ММС"));
  EXPECT_EQ(Card(), before);
}

// `extract` on a full disk: each file is written under a temporary name and renamed when
// complete, so no partial flash.bin is left (an older one stays as it was) and the reason is the
// system's "No space left on device". The output folder is a 16 KiB tmpfs in a private mount
// namespace; the test is skipped where the system refuses one.
TEST_F(CliTest, ExtractOnAFullDiskLeavesNoPartialFileAndSaysWhy) {
  if (RunsOtherFwupdater())
    GTEST_SKIP() << "Wine opens files in its server, outside the test's private mounts";
  firmware_ = MakeFirmware(8000);  // flash.bin of 32000 bytes
  WriteText(dir_ / "big.hex", firmware_.hex);
  CreateCard();
  ASSERT_EQ(Write({}, "big.hex").code, 0);
  const fs::path out = dir_ / "out";
  fs::create_directories(out);
  const bool mounted = ::unshare(CLONE_NEWNS) == 0 &&
                       ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                       ::mount("tmpfs", out.c_str(), "tmpfs", 0, "size=16k") == 0;
  if (!mounted)
    GTEST_SKIP() << "cannot mount a tmpfs here";
  WriteText(out / "flash.bin", "old");
  const Result r =
      Fw({"extract", "c.rgd", "--entry", "1", "--out", "out", "--catalogue", "cat.dat"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            Printed("Ошибка записи или чтения файла out/flash.bin: No space left on device"));
  EXPECT_EQ(ReadText(out / "flash.bin"), "old");
  EXPECT_FALSE(fs::exists(out / "flash.bin.part"));
  ::umount2(out.c_str(), MNT_DETACH);

  // With room, every file is complete under its own name and nothing else is left.
  const Result done =
      Fw({"extract", "c.rgd", "--entry", "1", "--out", "out", "--catalogue", "cat.dat"});
  ASSERT_EQ(done.code, 0) << done.err;
  EXPECT_EQ(ReadText(out / "flash.bin"),
            std::string(firmware_.flash.begin(), firmware_.flash.end()));
  std::vector<std::string> names;
  for (const auto& file : fs::directory_iterator(out))
    names.push_back(file.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names,
            (std::vector<std::string>{"config.bin", "eeprom.bin", "firmware.hex", "flash.bin"}));
}

}  // namespace
}  // namespace fw

#include "core/carddata_create.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/mount.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "core/carddata_errors.h"
#include "core/carddata_layout.h"
#include "core/errors.h"
#include "support/files.h"
#include "support/temp_dir.h"

namespace fw {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

using test::ReadBytes;
using test::TempDir;

// The header page of a new 64 MB card with 50 sessions and 6 MB of EXTENDED, byte by byte.
Bytes GoldenHeader64Mb() {
  const Bytes fields = {
      'N',  'U',  'B',  'R',  'A',  '-',  '7',  'Q',   // magic
      0x00, 0x00, 0x01, 0x04,                          // format 0, 1, 4
      0xFF, 0xFF, 0x01, 0x00,                          // DataPages 131071
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // reserved
      0x00, 0x00, 0x00, 0x00,                          // SessionsStart 0
      0xC8, 0x00, 0x00, 0x00,                          // SessionsPages 200
      0xC8, 0x00, 0x00, 0x00,                          // ExtendedStart 200
      0x00, 0x30, 0x00, 0x00,                          // ExtendedPages 12288
      0xC8, 0x30, 0x00, 0x00,                          // MainStart 12488
      0x37, 0xCF, 0x01, 0x00,                          // MainPages 118583
  };
  Bytes page(512, 0xFF);                // fill
  std::fill_n(page.begin(), 80, 0x00);  // Reserved3
  std::copy(fields.begin(), fields.end(), page.begin());
  return page;
}

TEST(CardFileCreation, NewCardIsHeaderThenZeroPages) {
  TempDir dir{"carddata-create"};
  const std::string path = dir.File("data.rgd");
  ASSERT_EQ(CreateCardDataFile(path, MakeCardLayout(131072, 50, ExtendedPagesFromMegabytes(6))),
            TCreateResult::Completed);

  const Bytes file = ReadBytes(path);
  ASSERT_EQ(file.size(), 131072u * 512u);
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 512), GoldenHeader64Mb());
  EXPECT_TRUE(std::all_of(file.begin() + 512, file.end(), [](std::uint8_t b) { return b == 0; }));

  Page header{};
  std::copy_n(GoldenHeader64Mb().begin(), 512, header.begin());
  Page again{};
  TRgdHeader::Parse(header).Serialize(again);
  EXPECT_EQ(again, header) << "parse and serialize keep every byte";
}

TEST(CardFileCreation, ExistingFileIsReplacedAndHeaderAlonePossible) {
  TempDir dir{"carddata-create"};
  const std::string path = dir.File("data.rgd");
  std::ofstream(path, std::ios::binary) << std::string(5000, 'x');
  ASSERT_EQ(CreateCardDataFile(path, MakeCardLayout(1, 0, 0)), TCreateResult::Completed);
  const Bytes file = ReadBytes(path);
  ASSERT_EQ(file.size(), 512u);
  const TRgdHeader h = TRgdHeader::Parse(PageView(file.data(), 512));
  EXPECT_TRUE(h.IsValid());
  EXPECT_EQ(h.DataPages, 0u);
  EXPECT_EQ(h.MainPages, 0u);
}

TEST(CardFileCreation, RefusesUnsoundSizesBeforeWritingAnything) {
  const struct {
    std::uint32_t pages;
    std::uint64_t sessions, extendedPages;
    std::string message;
  } cases[] = {
      {0, 50, 0,
       "Недопустимый размер файла ММС: 0 страниц.\n\rДопустимо от 1 до 4194304 страниц (2 ГБ)"},
      {4194305, 50, 0,
       "Недопустимый размер файла ММС: 4194305 страниц.\n\rДопустимо от 1 до 4194304 страниц (2 "
       "ГБ)"},
      // 1 MB card, 1000 sessions.
      {2048, 1000, 0,
       "Секции сессий и EXTENDED не помещаются в файл ММС:\n\rтребуется 4000 страниц, в файле 2047 "
       "страниц данных"},
      // 2 MB card, 1000 sessions and 1 MB of EXTENDED.
      {4096, 1000, 2048,
       "Секции сессий и EXTENDED не помещаются в файл ММС:\n\rтребуется 6048 страниц, в файле 4095 "
       "страниц данных"},
      {4096, 0, 4096,
       "Секции сессий и EXTENDED не помещаются в файл ММС:\n\rтребуется 4096 страниц, в файле 4095 "
       "страниц данных"},
  };
  TempDir dir{"carddata-create"};
  const std::string path = dir.File("data.rgd");
  std::ofstream(path, std::ios::binary) << "keep me";
  for (const auto& c : cases) {
    try {
      CreateCardDataFile(path, MakeCardLayout(c.pages, c.sessions, c.extendedPages));
      ADD_FAILURE() << "accepted " << c.pages << " pages";
    } catch (const ECardParameters& e) {
      EXPECT_EQ(e.what(), c.message);
    }
    const Bytes file = ReadBytes(path);
    EXPECT_EQ(std::string(file.begin(), file.end()), "keep me");
  }
  // The sections filling the data pages exactly is sound.
  EXPECT_EQ(CreateCardDataFile(path, MakeCardLayout(4097, 1000, 96)), TCreateResult::Completed);
}

TEST(CardFileCreation, ProgressPerThousandPagesAndCancelDeletesTheFile) {
  TempDir dir{"carddata-create"};
  const std::string path = dir.File("data.rgd");
  std::vector<std::pair<std::uint32_t, std::uint32_t>> seen;
  const auto record = [&](std::uint32_t done, std::uint32_t all) { seen.push_back({done, all}); };
  ASSERT_EQ(CreateCardDataFile(path, MakeCardLayout(2501, 50, 0), record),
            TCreateResult::Completed);
  EXPECT_EQ(seen, (decltype(seen){{1000, 2500}, {2000, 2500}, {2500, 2500}}));

  seen.clear();
  const auto cancelAtThree = [&] { return !seen.empty() && seen.back().first >= 3000; };
  EXPECT_EQ(CreateCardDataFile(path, MakeCardLayout(10001, 50, 0), record, cancelAtThree),
            TCreateResult::Cancelled);
  EXPECT_EQ(seen, (decltype(seen){{1000, 10000}, {2000, 10000}, {3000, 10000}}));
  EXPECT_FALSE(fs::exists(path));
}

TEST(CardFileCreation, CannotCreate) {
  TempDir dir{"carddata-create"};
  const std::string path = dir.File("no-such-folder/data.rgd");
  try {
    CreateCardDataFile(path, MakeCardLayout(10, 1, 0));
    FAIL() << "created " << path;
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.what(), "Cannot create file " + path + ": файл не найден");
  }
}

// Passes writes through until `budget` bytes were written, then writes the part that fits
// and fails as a full card does.
class FailingDevice : public platform::FileDevice {
 public:
  FailingDevice(std::unique_ptr<platform::FileDevice> inner, std::uint64_t budget)
      : inner_(std::move(inner)), budget_(budget) {}
  std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
    return inner_->ReadAt(offset, buffer);
  }
  void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    if (data.size() > budget_) {
      inner_->WriteAt(offset, data.first(budget_));
      budget_ = 0;
      throw std::system_error(ENOSPC, std::generic_category(), "write");
    }
    budget_ -= data.size();
    inner_->WriteAt(offset, data);
  }
  std::uint64_t Size() override { return inner_->Size(); }
  void Sync() override { inner_->Sync(); }

 private:
  std::unique_ptr<platform::FileDevice> inner_;
  std::uint64_t budget_;
};

TEST(CardFileCreation, FailedWriteDeletesThePartialFile) {
  TempDir dir{"carddata-create"};
  const std::string path = dir.File("data.rgd");
  for (const std::uint64_t budget : {std::uint64_t{100}, std::uint64_t{512 + 512000 + 7}}) {
    auto device = std::make_unique<FailingDevice>(platform::CreateNew(path), budget);
    try {
      CreateCardDataFileOn(std::move(device), path, MakeCardLayout(4000, 50, 0));
      ADD_FAILURE() << "no error after " << budget << " bytes";
    } catch (const EInOutError& e) {
      EXPECT_EQ(e.what(), "Ошибка записи или чтения файла " + path + ": " +
                              std::generic_category().message(ENOSPC));
    }
    EXPECT_FALSE(fs::exists(path)) << budget;
  }
}

#ifndef _WIN32
// A real small file system: a 1 MiB tmpfs, where the kernel lets this test mount one. The room
// for a new file is its free space and the space of the file replaced; without it nothing is
// touched.
TEST(CardFileCreation, RoomIsCheckedBeforeAnOldFileIsTouched) {
  TempDir dir{"carddata-create"};
  const fs::path mountPoint = dir.path() / "small";
  fs::create_directory(mountPoint);
  if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=1m") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here";
  }
  const std::string path = (mountPoint / "data.rgd").string();
  struct Case {
    std::size_t oldBytes;  // 0: no old file
    std::uint32_t pages;
    std::string refusal;  // empty: created
  } const cases[] = {
      {0, 4096, "требуется 2097152 байт, можно занять 1048576 байт"},
      {4096, 4096, "требуется 2097152 байт, можно занять 1048576 байт"},
      // 256 KiB free and 768 KiB in the old file: exactly the 1 MiB asked for.
      {786432, 2048, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.refusal);
    fs::remove(path);
    const Bytes old(c.oldBytes, 0xA5);
    if (c.oldBytes > 0)
      test::WriteBytes(path, old);
    try {
      EXPECT_EQ(CreateCardDataFile(path, MakeCardLayout(c.pages, 50, 0)), TCreateResult::Completed);
      EXPECT_EQ(c.refusal, "");
      EXPECT_EQ(fs::file_size(path), std::uintmax_t{c.pages} * 512);
    } catch (const ECardNoRoom& e) {
      EXPECT_EQ(e.what(), "Недостаточно места для файла ММС " + path + ":\n\r" + c.refusal);
      EXPECT_EQ(fs::exists(path), c.oldBytes > 0);
      if (c.oldBytes > 0) {
        EXPECT_EQ(ReadBytes(path), old);
      }
    }
  }
  ::umount(mountPoint.c_str());
}
#endif  // tmpfs

// ---- Write-back -------------------------------------------------------------------------------

// A device that keeps nothing but the order of what was asked of it, in one log with the
// progress reports: "W" a block written with its write-back started right after, "H" the header
// page, "C" a wait for the write-back up to the end of a block directly followed by that block's
// progress, "S" the final flush, "?" anything else. Runs of a token are counted ("W64").
class RecordingDevice : public platform::FileDevice {
 public:
  explicit RecordingDevice(std::vector<std::string>& log, std::function<void()> onWrite = {})
      : log_(log), onWrite_(std::move(onWrite)) {}
  std::size_t ReadAt(std::uint64_t, std::span<std::uint8_t>) override { return 0; }
  void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    log_.push_back("write " + Range(offset, data.size()));
    if (onWrite_)
      onWrite_();
  }
  std::uint64_t Size() override { return 0; }
  void Sync() override { log_.push_back("sync"); }
  void StartWriteBack(std::uint64_t offset, std::uint64_t length) override {
    log_.push_back("start " + Range(offset, length));
  }
  void WaitWriteBack(std::uint64_t offset, std::uint64_t length) override {
    log_.push_back("wait " + Range(offset, length));
  }

  static std::string Range(std::uint64_t offset, std::uint64_t length) {
    return std::to_string(offset) + "+" + std::to_string(length);
  }

 private:
  std::vector<std::string>& log_;
  std::function<void()> onWrite_;
};

std::string Trace(const std::vector<std::string>& log) {
  std::vector<std::string> tokens;
  for (std::size_t i = 0; i < log.size(); ++i) {
    const std::string& event = log[i];
    const std::string next = i + 1 < log.size() ? log[i + 1] : "";
    if (event == "write 0+512") {
      tokens.push_back("H");
    } else if (event.rfind("write ", 0) == 0 && next == "start " + event.substr(6)) {
      tokens.push_back("W");
      ++i;
    } else if (event.rfind("wait 0+", 0) == 0 && next.rfind("progress ", 0) == 0 &&
               std::stoull(event.substr(7)) == (std::stoull(next.substr(9)) + 1) * 512) {
      tokens.push_back("C");
      ++i;
    } else {
      tokens.push_back(event == "sync" ? "S" : "?");
    }
  }
  std::string trace;
  for (std::size_t i = 0; i < tokens.size();) {
    std::size_t run = 1;
    while (i + run < tokens.size() && tokens[i + run] == tokens[i])
      ++run;
    trace += (trace.empty() ? "" : " ") + tokens[i] + (run > 1 ? std::to_string(run) : "");
    i += run;
  }
  return trace;
}

// 130 blocks: at most 64 are written ahead of the device; each block's progress comes only after
// the wait for its write-back; a cancel is seen at the next block, while writing or while
// waiting.
TEST(CardFileCreation, ProgressFollowsTheWriteBackAndACancelStopsAtTheNextBlock) {
  static_assert(kCreateWriteBackBlocks == 64 && kCreateBlockPages == 1000);
  struct Case {
    const char* what;
    int cancelAtWrite;            // the write (the header is 1) after which a cancel comes; 0: none
    std::uint32_t cancelAtPages;  // the progress after which a cancel comes; 0: none
    std::string trace;
  } const cases[] = {
      {"completed", 0, 0, "H W64 C64 W64 C64 W2 C2 S"},
      {"cancel while writing the first blocks", 11, 0, "H W10"},
      {"cancel while waiting for the second interval", 0, 67000, "H W64 C64 W64 C3"},
      {"cancel during the last block's progress is still honoured", 0, 130000,
       "H W64 C64 W64 C64 W2 C2"},
  };
  TempDir dir{"carddata-create"};
  const std::string path = dir.File("data.rgd");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::WriteText(path, "");
    std::vector<std::string> log;
    std::vector<std::uint32_t> reported;
    int writes = 0;
    bool cancel = false;
    auto device = std::make_unique<RecordingDevice>(
        log, [&] { cancel = cancel || ++writes == c.cancelAtWrite; });
    const auto progress = [&](std::uint32_t pages, std::uint32_t all) {
      log.push_back("progress " + std::to_string(pages));
      reported.push_back(pages);
      EXPECT_EQ(all, 130000u);
      cancel = cancel || pages == c.cancelAtPages;
    };
    const TCreateResult result = CreateCardDataFileOn(
        std::move(device), path, MakeCardLayout(130001, 50, 0), progress, [&] { return cancel; });

    EXPECT_EQ(Trace(log), c.trace);
    for (std::size_t i = 0; i < reported.size(); ++i)
      EXPECT_EQ(reported[i], (i + 1) * 1000) << i;
    const bool completed = c.trace.back() == 'S';
    EXPECT_EQ(result, completed ? TCreateResult::Completed : TCreateResult::Cancelled);
    EXPECT_EQ(fs::exists(path), completed);
  }
}

}  // namespace
}  // namespace fw

#include "core/carddata_create.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "core/carddata_errors.h"
#include "core/carddata_layout.h"
#include "core/errors.h"
#include "test_support.h"

namespace fw {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

using test::ReadBytes;
using test::TempDir;

// The header page of a new 64 MB card with 50 sessions and 6 MB of EXTENDED, byte by byte.
Bytes GoldenHeader64Mb() {
  Bytes page = {
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
  page.resize(80, 0x00);   // Reserved3
  page.resize(512, 0xFF);  // fill
  return page;
}

TEST(CardFileCreation, NewCardIsHeaderThenZeroPages) {
  TempDir dir{"carddata-create"};
  const std::string path = dir.File("data.rgd");
  ASSERT_EQ(CreateCardDataFileMb(path, 131072, 50, 6), TCreateResult::Completed);

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
  ASSERT_EQ(CreateCardDataFile(path, 1, 0, 0), TCreateResult::Completed);
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
      CreateCardDataFile(path, c.pages, c.sessions, c.extendedPages);
      ADD_FAILURE() << "accepted " << c.pages << " pages";
    } catch (const ECardParameters& e) {
      EXPECT_EQ(e.what(), c.message);
    }
    const Bytes file = ReadBytes(path);
    EXPECT_EQ(std::string(file.begin(), file.end()), "keep me");
  }
  // The sections filling the data pages exactly is sound.
  EXPECT_EQ(CreateCardDataFile(path, 4097, 1000, 96), TCreateResult::Completed);
}

TEST(CardFileCreation, ProgressPerThousandPagesAndCancelDeletesTheFile) {
  TempDir dir{"carddata-create"};
  const std::string path = dir.File("data.rgd");
  std::vector<std::pair<std::uint32_t, std::uint32_t>> seen;
  const auto record = [&](std::uint32_t done, std::uint32_t all) { seen.push_back({done, all}); };
  ASSERT_EQ(CreateCardDataFile(path, 2501, 50, 0, record), TCreateResult::Completed);
  EXPECT_EQ(seen, (decltype(seen){{1000, 2500}, {2000, 2500}, {2500, 2500}}));

  seen.clear();
  int asked = 0;
  const auto cancelAfterThree = [&] { return ++asked > 3; };
  EXPECT_EQ(CreateCardDataFile(path, 10001, 50, 0, record, cancelAfterThree),
            TCreateResult::Cancelled);
  EXPECT_EQ(seen, (decltype(seen){{1000, 10000}, {2000, 10000}, {3000, 10000}}));
  EXPECT_FALSE(fs::exists(path));
}

TEST(CardFileCreation, CannotCreate) {
  TempDir dir{"carddata-create"};
  const std::string path = dir.File("no-such-folder/data.rgd");
  try {
    CreateCardDataFile(path, 10, 1, 0);
    FAIL() << "created " << path;
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.what(), "Cannot create file " + path);
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
      CreateCardDataFileOn(std::move(device), path, 4000, 50, 0);
      ADD_FAILURE() << "no error after " << budget << " bytes";
    } catch (const EInOutError& e) {
      EXPECT_EQ(e.what(), "Ошибка записи или чтения файла " + path + ": " +
                              std::generic_category().message(ENOSPC));
    }
    EXPECT_FALSE(fs::exists(path)) << budget;
  }
}

// A real full file system: a 1 MiB tmpfs, where the kernel lets this test mount one.
TEST(CardFileCreation, FullFileSystemIsReportedAndCleanedUp) {
  TempDir dir{"carddata-create"};
  const fs::path mountPoint = dir.path() / "small";
  fs::create_directory(mountPoint);
  if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=1m") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here";
  }
  const std::string path = (mountPoint / "data.rgd").string();
  try {
    CreateCardDataFile(path, 4096, 50, 0);  // 2 MiB
    ADD_FAILURE() << "a 2 MiB file fitted into 1 MiB";
  } catch (const EInOutError& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos);
    EXPECT_NE(std::string(e.what()).find(std::generic_category().message(ENOSPC)),
              std::string::npos);
  }
  EXPECT_FALSE(fs::exists(path));
  ::umount(mountPoint.c_str());
}

}  // namespace
}  // namespace fw

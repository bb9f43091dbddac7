// The Win32 file device on the system's own calls: names in any script, the writer lock made of
// share modes, regular files only, and reads past the system cache at any offset.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "core/utf8_path.h"
#include "platform/file_device.h"
#include "support/files.h"
#include "support/temp_dir.h"

namespace fw::platform {
namespace {

using fw::PathOfUtf8;
using fw::Utf8OfPath;

using test::Bytes;

Bytes Pattern(std::size_t size, std::uint8_t seed) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<std::uint8_t>(i * 31 + seed);
  return bytes;
}

std::error_code CodeOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::system_error& e) {
    return e.code();
  }
  return {};
}

class WinFileDevice : public ::testing::Test {
 protected:
  test::TempDir dir_{"fw-win-file"};
  // A space and Cyrillic in the folder and the name: the UTF-8 path must reach CreateFileW whole.
  std::string folder_ = Utf8OfPath(dir_.path()) + "\\карта памяти";
  std::string path_ = folder_ + "\\данные.rgd";
  void SetUp() override { std::filesystem::create_directory(PathOfUtf8(folder_)); }
};

TEST_F(WinFileDevice, WritesAndReadsAtOffsetsUnderAUnicodeName) {
  const Bytes data = Pattern(3000, 7);
  {
    auto file = CreateNew(path_);
    file->WriteAt(0, data);
    file->WriteAt(5000, data);  // past the end: the gap reads as zeros
    file->Sync();
    EXPECT_EQ(file->Size(), 8000u);
  }
  auto file = OpenForRead(path_);
  Bytes back(3000);
  ASSERT_EQ(file->ReadAt(5000, back), 3000u);
  EXPECT_EQ(back, data);
  ASSERT_EQ(file->ReadAt(3000, std::span(back).first(10)), 10u);
  EXPECT_EQ(Bytes(back.begin(), back.begin() + 10), Bytes(10, 0));
  EXPECT_EQ(file->ReadAt(7990, back), 10u);  // the end of the file is no error
  EXPECT_EQ(file->ReadAt(9000, back), 0u);
  EXPECT_TRUE(std::filesystem::exists(PathOfUtf8(path_)));
}

TEST_F(WinFileDevice, OneWriterAtATimeReadersStillRead) {
  const Bytes data = Pattern(1024, 1);
  auto writer = CreateNew(path_);
  writer->WriteAt(0, data);
  writer->Sync();

  const auto busy = std::make_error_code(std::errc::resource_unavailable_try_again);
  EXPECT_EQ(CodeOf([&] { OpenForUpdate(path_); }), busy);
  EXPECT_EQ(CodeOf([&] { CreateNew(path_); }), busy);  // and leaves the file as it was
  auto reader = OpenForRead(path_);
  Bytes back(1024);
  ASSERT_EQ(reader->ReadAt(0, back), 1024u);
  EXPECT_EQ(back, data);

  writer.reset();  // the lock goes with the object
  EXPECT_EQ(CodeOf([&] { OpenForUpdate(path_); }), std::error_code{});
}

TEST_F(WinFileDevice, OpensOnlyRegularFilesAndNamesWhyNot) {
  EXPECT_EQ(CodeOf([&] { OpenForRead("NUL"); }), NotRegularFileError());
  EXPECT_EQ(CodeOf([&] { OpenForUpdate(folder_ + "\\нет.rgd"); }),
            std::make_error_code(std::errc::no_such_file_or_directory));
  EXPECT_EQ(CodeOf([&] { OpenForRead(folder_ + "\\нет\\данные.rgd"); }),
            std::make_error_code(std::errc::no_such_file_or_directory));
}

// After DropCachedPages the reads go through an unbuffered handle that only reads whole aligned
// sectors: every offset and length still gets exactly its bytes, and later writes are seen.
TEST_F(WinFileDevice, ReadsPastTheCacheGetExactlyTheAskedBytes) {
  const Bytes data = Pattern(10000, 3);
  auto file = CreateNew(path_);
  file->WriteAt(0, data);
  file->DropCachedPages();
  for (const auto& [offset, length] :
       std::vector<std::pair<std::size_t, std::size_t>>{{0, 512}, {4090, 20}, {1, 9998}}) {
    SCOPED_TRACE(offset);
    Bytes back(length);
    ASSERT_EQ(file->ReadAt(offset, back), length);
    EXPECT_EQ(back, Bytes(data.begin() + static_cast<long>(offset),
                          data.begin() + static_cast<long>(offset + length)));
  }
  Bytes tail(100);
  EXPECT_EQ(file->ReadAt(9990, tail), 10u);

  const Bytes later = Pattern(512, 99);
  file->WriteAt(4096, later);
  file->DropCachedPages();
  Bytes back(512);
  ASSERT_EQ(file->ReadAt(4096, back), 512u);
  EXPECT_EQ(back, later);
}

TEST_F(WinFileDevice, FolderCheckLeavesNothingAndNamesAMissingFolder) {
  CheckFolderWritable(folder_);
  EXPECT_TRUE(std::filesystem::is_empty(PathOfUtf8(folder_)));
  EXPECT_NE(CodeOf([&] { CheckFolderWritable(folder_ + "\\нет"); }), std::error_code{});
  CreateNew(path_);
  RemoveFile(path_);
  EXPECT_FALSE(std::filesystem::exists(PathOfUtf8(path_)));
  EXPECT_NE(CodeOf([&] { RemoveFile(path_); }), std::error_code{});
}

}  // namespace
}  // namespace fw::platform

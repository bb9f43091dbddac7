// The files the program reads and the reasons it gives when it cannot: the HEX file, the device
// catalogue and the card data file must be regular files, the first two of a size a real one
// has, and a file that cannot be opened is reported with why.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "core/carddata_create.h"
#include "core/carddata_file.h"
#include "core/catalogue.h"
#include "core/errors.h"
#include "core/ihex.h"
#include "core/input_file.h"
#include "platform/file_device.h"
#include "support/files.h"
#include "support/temp_dir.h"

namespace fw {
namespace {

const std::string kNotRegular = "это не обычный файл (папка, канал FIFO или устройство)";

// The message of what `read` raises, or "(no error)".
[[maybe_unused]] std::string ErrorOf(const std::function<void()>& read) {
  try {
    read();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no error)";
}

#ifndef _WIN32
// A FIFO would block each reader until a writer came, /dev/zero would fill the memory: every
// reader refuses them, and the other odd files, at once. A regression here would hang, so the
// test ends itself after a while instead of waiting forever.
TEST(InputFiles, OddFilesAreRefusedAtOnceByEveryReader) {
  ::alarm(60);
  const test::TempDir dir("input-files");
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string folder = dir.File("folder");
  std::filesystem::create_directory(folder);
  const std::string linkToFifo = dir.File("link");
  std::filesystem::create_symlink(fifo, linkToFifo);
  const std::string large = dir.File("large.hex");
  std::filesystem::resize_file((test::WriteText(large, ""), large), kMaxInputFileBytes + 1);
  const std::string tooLarge =
      "Файл " + large + " слишком велик (67108865 байт): допустимо не более 67108864 байт";

  const auto hex = [](const std::string& path) {
    return [path] {
      TdsPicMemRegion({0, 0x17FFE, 0x17FFF}, true).LoadFromHexFile(ReadHexFile(path));
    };
  };
  const auto catalogue = [](const std::string& path) {
    return [path] {
      std::vector<DeviceEntry> devices;
      LoadDeviceList(path, devices);
    };
  };
  const auto card = [](const std::string& path, TRgdFile::Mode mode) {
    return [path, mode] { TRgdFile file(path, mode); };
  };
  const struct {
    const char* name;
    std::string path;
    std::string hexAndCatalogue;  // what the HEX reader and the catalogue say
    bool cardRefused;             // the card data file is refused the same way
  } cases[] = {
      {"FIFO", fifo, "Cannot open file " + fifo + ": " + kNotRegular, true},
      {"link to a FIFO", linkToFifo, "Cannot open file " + linkToFifo + ": " + kNotRegular, true},
      {"/dev/zero", "/dev/zero", "Cannot open file /dev/zero: " + kNotRegular, true},
      {"folder", folder, "Cannot open file " + folder + ": " + kNotRegular, true},
      {"above 64 MiB", large, tooLarge, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ErrorOf(hex(c.path)), c.hexAndCatalogue);
    EXPECT_EQ(ErrorOf(catalogue(c.path)), c.hexAndCatalogue);
    if (!c.cardRefused)
      continue;
    for (const auto mode : {TRgdFile::Mode::ReadOnly, TRgdFile::Mode::ReadWrite})
      EXPECT_EQ(ErrorOf(card(c.path, mode)), "Cannot open file " + c.path + ": " + kNotRegular);
  }

  // Exactly 64 MiB is still read (and then found to be no HEX file).
  std::filesystem::resize_file(large, kMaxInputFileBytes);
  EXPECT_EQ(ErrorOf(hex(large)),
            "Файл " + large + " не является файлом Intel HEX: в нём нет ни одной записи");
  ::alarm(0);
}
#endif  // FIFOs and devices

// Why an open failed, for the failures the user can act on. The codes of both systems' opens
// arrive as these portable ones.
TEST(InputFiles, OpenFailuresNameTheirReason) {
  const struct {
    std::error_code code;
    std::string text;
  } cases[] = {
      {std::make_error_code(std::errc::resource_unavailable_try_again),
       "Cannot open file d.rgd: файл занят: его уже открыла для записи другая программа или "
       "другая копия этой программы"},
      {std::make_error_code(std::errc::permission_denied),
       "Cannot open file d.rgd: нет прав на доступ к файлу"},
      {std::make_error_code(std::errc::operation_not_permitted),
       "Cannot open file d.rgd: нет прав на доступ к файлу"},
      {std::make_error_code(std::errc::read_only_file_system),
       "Cannot open file d.rgd: носитель доступен только для чтения (защищён от записи)"},
      {std::make_error_code(std::errc::no_such_file_or_directory),
       "Cannot open file d.rgd: файл не найден"},
      {platform::NotRegularFileError(), "Cannot open file d.rgd: " + kNotRegular},
      {std::make_error_code(std::errc::io_error),
       "Cannot open file d.rgd: " + std::generic_category().message(EIO)},
  };
  for (const auto& c : cases)
    EXPECT_EQ(EFOpenError("d.rgd", c.code).what(), c.text);
}

#ifndef _WIN32
// A card on a medium mounted read-only: listing works, writing is refused as such. Needs a
// private mount namespace (root, or a user namespace); skipped where the system refuses one.
TEST(InputFiles, ACardOnAReadOnlyMediumSaysSo) {
  const test::TempDir dir("input-ro");
  const std::string mountPoint = dir.File("card");
  std::filesystem::create_directory(mountPoint);
  if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
      ::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here";
  const std::string path = mountPoint + "/data.rgd";
  CreateCardDataFile(path, MakeCardLayout(64, 1, 8));
  const bool readOnly =
      ::mount("tmpfs", mountPoint.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=1m") == 0;
  if (!readOnly) {
    ::umount2(mountPoint.c_str(), MNT_DETACH);
    GTEST_SKIP() << "cannot remount the tmpfs read-only";
  }
  EXPECT_EQ(
      ErrorOf([&] { TRgdFile card(path, TRgdFile::Mode::ReadWrite); }),
      "Cannot open file " + path + ": носитель доступен только для чтения (защищён от записи)");
  EXPECT_EQ(ErrorOf([&] { TRgdFile card(path, TRgdFile::Mode::ReadOnly); }), "(no error)");
  ::umount2(mountPoint.c_str(), MNT_DETACH);
}
#endif  // mounts

}  // namespace
}  // namespace fw

// The FAT16 formatter on regular files standing for a card's volume, checked by the FAT tools
// themselves: fsck.fat for consistency, mtools for the boot sector and for files in and out.
#include "platform/linux/fat16_formatter.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <string>

#include "platform/volumes.h"
#include "support/temp_dir.h"

namespace fw::platform {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kMiB = 1024 * 1024;

struct CommandResult {
  int status = -1;
  std::string output;
};

CommandResult Shell(const std::string& command) {
  CommandResult result;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen((command + " 2>&1").c_str(), "r"), ::pclose);
  if (!pipe)
    return result;
  std::array<char, 4096> buffer{};
  while (const auto got = std::fread(buffer.data(), 1, buffer.size(), pipe.get()))
    result.output.append(buffer.data(), got);
  const int status = ::pclose(pipe.release());
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// The first number after `key` in a tool's output, or -1.
std::int64_t NumberAfter(const std::string& text, const std::string& key) {
  const std::regex pattern(key + R"(\s*([0-9]+))");
  std::smatch match;
  if (!std::regex_search(text, match, pattern))
    return -1;
  return std::stoll(match[1]);
}

class Fat16Test : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("MTOOLS_SKIP_CHECK", "1", 1); }

  // A sparse file of `bytes` bytes that still holds an old FAT volume with a file on it (the FAT
  // type mkfs.fat picks for the size unless `fatType` is given).
  fs::path OldCard(std::int64_t bytes, const std::string& fatType = "") {
    const auto card = folder_ / "card.img";
    fs::resize_file(Touch(card), static_cast<std::uintmax_t>(bytes));
    EXPECT_EQ(Shell("mkfs.fat " + fatType + " " + card.string()).status, 0);
    std::ofstream(folder_ / "old.txt") << "old season";
    EXPECT_EQ(
        Shell("mcopy -i " + card.string() + " " + (folder_ / "old.txt").string() + " ::").status,
        0);
    return card;
  }

  fs::path Touch(const fs::path& path) {
    std::ofstream{path};
    return path;
  }

  void Format(const fs::path& card, std::uint64_t partitionOffset, std::string_view label) {
    const int fd = ::open(card.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    try {
      WriteFat16(fd, partitionOffset, label);
    } catch (...) {
      ::close(fd);
      throw;
    }
    ::close(fd);
  }

  test::TempDir temp_{"fat16-test"};
  const fs::path folder_ = temp_.path();
};

struct CardCase {
  const char* name;
  std::int64_t bytes;
  std::uint64_t partitionOffset;
};

class Fat16SizeTest : public Fat16Test, public ::testing::WithParamInterface<CardCase> {};

TEST_P(Fat16SizeTest, FormatsTheWholeVolumeToFat16ThatTheToolsAccept) {
  const auto& param = GetParam();
  const auto card = OldCard(param.bytes);

  Format(card, param.partitionOffset, "card 7");

  const auto fsck = Shell("fsck.fat -n " + card.string());
  ASSERT_EQ(fsck.status, 0) << fsck.output;
  const auto info = Shell("minfo -i " + card.string() + " ::");
  ASSERT_EQ(info.status, 0) << info.output;
  EXPECT_NE(info.output.find("disk type=\"FAT16   \""), std::string::npos) << info.output;
  EXPECT_NE(info.output.find("disk label=\"CARD 7     \""), std::string::npos) << info.output;
  EXPECT_EQ(NumberAfter(info.output, "hidden sectors:"),
            static_cast<std::int64_t>(param.partitionOffset / 512));
  const auto clusterBytes = NumberAfter(info.output, "cluster size:") * 512;
  EXPECT_GT(clusterBytes, 0);
  EXPECT_LE(clusterBytes, 32 * 1024);

  // Every cluster but the sliver that cannot hold a whole one is there to use, and it is free:
  // the old volume's file is gone.
  const auto clusters = NumberAfter(fsck.output, "files, 0/");
  ASSERT_GT(clusters, 0) << fsck.output;
  const std::int64_t metadataAtMost = 1 * kMiB;
  EXPECT_GE(clusters * clusterBytes, param.bytes - metadataAtMost - 2 * 32 * 1024);
  EXPECT_LE(clusters * clusterBytes, param.bytes);

  // A file goes in and comes back byte for byte.
  std::ofstream(folder_ / "data.rgd", std::ios::binary) << std::string(70000, '\x5A') << "end";
  ASSERT_EQ(
      Shell("mcopy -i " + card.string() + " " + (folder_ / "data.rgd").string() + " ::").status, 0);
  const auto back = Shell("mtype -i " + card.string() + " ::DATA.RGD");
  EXPECT_EQ(back.output, std::string(70000, '\x5A') + "end");
  EXPECT_EQ(Shell("fsck.fat -n " + card.string()).status, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cards, Fat16SizeTest,
    ::testing::Values(CardCase{"Small16MiBWithoutPartitionTable", 16 * kMiB, 0},
                      CardCase{"OneGiBPartition", 1024 * kMiB, 8192 * 512},
                      CardCase{"Card198GB", 1'980'000'000 / 512 * 512, 2048 * 512},
                      CardCase{"LargestFat16", kMaxFat16VolumeBytes, 8192 * 512}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Fat16Test, RefusesAVolumeTooLargeForFat16AndLeavesItUntouched) {
  const auto card = OldCard(kMaxFat16VolumeBytes + 512);
  const auto before = Shell("minfo -i " + card.string() + " ::");

  try {
    Format(card, 0, "CARD");
    FAIL() << "a volume too large for FAT16 was formatted";
  } catch (const Fat16VolumeTooLarge& error) {
    EXPECT_EQ(error.Bytes(), kMaxFat16VolumeBytes + 512);
  }

  EXPECT_EQ(Shell("minfo -i " + card.string() + " ::").output, before.output);
  EXPECT_NE(Shell("mdir -i " + card.string() + " ::").output.find("old"), std::string::npos);
}

TEST_F(Fat16Test, CopyRefusesAnImageThatIsNotFat16) {
  const auto image = OldCard(64 * kMiB, "-F 32");
  const auto device = folder_ / "device.img";
  fs::resize_file(Touch(device), 64 * kMiB);
  const int imageFd = ::open(image.c_str(), O_RDONLY);
  const int deviceFd = ::open(device.c_str(), O_RDWR);
  ASSERT_GE(imageFd, 0);
  ASSERT_GE(deviceFd, 0);

  EXPECT_THROW(CopyFat16Metadata(imageFd, deviceFd), std::runtime_error);

  ::close(imageFd);
  ::close(deviceFd);
  std::ifstream in(device, std::ios::binary);
  const std::string head(4096, '\0');
  std::string read(4096, 'x');
  in.read(read.data(), 4096);
  EXPECT_EQ(read, head) << "nothing may reach the device from a wrong image";
}

TEST(Fat16LabelTest, KeepsWhatFatCanHoldInUpperCase) {
  const struct {
    std::string_view given;
    std::string_view stored;
  } cases[] = {
      {"card 7", "CARD 7"},
      {"  rec-01  ", "REC-01"},
      {"ELEVEN_CHAR", "ELEVEN_CHAR"},
      {"TWELVE_CHARS", ""},
      {"Карта", ""},
      {"a/b", ""},
      {"", ""},
      {"   ", ""},
      {"A.B", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Fat16Label(c.given), c.stored) << "label \"" << c.given << "\"";
}

}  // namespace
}  // namespace fw::platform

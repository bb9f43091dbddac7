#include "platform/linux/fat16_formatter.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <span>
#include <sstream>
#include <system_error>
#include <vector>

#include "platform/linux/posix_fd.h"
#include "platform/volumes.h"

extern char** environ;

namespace fw::platform {

namespace {

constexpr std::int64_t kMaxClusterBytes = 32 * 1024;
constexpr std::uint32_t kMinFat16Clusters = 4085;
constexpr std::uint32_t kMaxFat16Clusters = 65524;
constexpr std::size_t kCopyChunk = 64 * 1024;
// The boot sector is the first sector; a sector holds at least kFat16SectorBytes.
constexpr std::size_t kBootSectorBytes = kFat16SectorBytes;

using posix::ThrowErrno;

// A private folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "fwupdater-fat16-XXXXXX");
    if (::mkdtemp(pattern.data()) == nullptr)
      ThrowErrno("mkdtemp " + pattern);
    path_ = pattern;
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

std::uint16_t Le16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

std::uint32_t Le32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | (static_cast<std::uint32_t>(bytes[at + 1]) << 8) |
         (static_cast<std::uint32_t>(bytes[at + 2]) << 16) |
         (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

void ReadExact(int fd, std::span<std::uint8_t> buffer, std::int64_t offset) {
  if (posix::ReadAt(fd, static_cast<std::uint64_t>(offset), buffer) < buffer.size())
    throw std::runtime_error("unexpected end of the FAT16 image");
}

std::int64_t SizeOf(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0)
    ThrowErrno("fstat");
  if (!S_ISBLK(info.st_mode))
    return info.st_size;
  std::uint64_t bytes = 0;
  if (::ioctl(fd, BLKGETSIZE64, &bytes) != 0)
    ThrowErrno("BLKGETSIZE64");
  return static_cast<std::int64_t>(bytes);
}

// Sector size and geometry of a block device; the defaults of a card reader for a regular file.
Fat16Placement PlacementOf(int fd, std::uint64_t partitionOffset) {
  Fat16Placement placement;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISBLK(info.st_mode)) {
    int sectorBytes = 0;
    if (::ioctl(fd, BLKSSZGET, &sectorBytes) == 0 && sectorBytes >= kFat16SectorBytes)
      placement.sectorBytes = static_cast<std::uint32_t>(sectorBytes);
    hd_geometry geometry{};
    if (::ioctl(fd, HDIO_GETGEO, &geometry) == 0 && geometry.heads > 0 && geometry.sectors > 0) {
      placement.heads = geometry.heads;
      placement.sectorsPerTrack = geometry.sectors;
    }
  }
  placement.hiddenSectors = static_cast<std::uint32_t>(partitionOffset / placement.sectorBytes);
  return placement;
}

// mkfs.fat lives in an administrator's folder that a user's PATH often leaves out.
std::filesystem::path FindMkfsFat() {
  std::vector<std::filesystem::path> folders;
  if (const char* path = std::getenv("PATH")) {
    std::istringstream list{std::string(path)};
    for (std::string folder; std::getline(list, folder, ':');)
      if (!folder.empty())
        folders.emplace_back(folder);
  }
  folders.insert(folders.end(), {"/usr/sbin", "/sbin"});
  for (const auto& folder : folders) {
    const auto candidate = folder / "mkfs.fat";
    if (::access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  throw std::runtime_error("mkfs.fat (dosfstools) is not installed");
}

// Runs a program without a shell, its output going to `log`; returns its exit status.
int Run(const std::vector<std::string>& arguments, const std::filesystem::path& log) {
  std::vector<char*> argv;
  for (const auto& argument : arguments)
    argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  pid_t child = 0;
  const int spawned = ::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0)
    throw std::system_error(spawned, std::generic_category(), "cannot run " + arguments[0]);

  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR)
      ThrowErrno("waitpid");
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What the boot sector of a fresh FAT16 image says about its metadata region.
struct Fat16Layout {
  std::int64_t metadataBytes = 0;  // boot and reserved sectors, FATs and root directory
  std::int64_t volumeBytes = 0;    // sectors the file system covers, in bytes
};

Fat16Layout ReadLayout(std::span<const std::uint8_t, kBootSectorBytes> boot) {
  const std::uint32_t sectorBytes = Le16(boot, 11);
  const std::uint32_t sectorsPerCluster = boot[13];
  const std::uint32_t reserved = Le16(boot, 14);
  const std::uint32_t fats = boot[16];
  const std::uint32_t rootEntries = Le16(boot, 17);
  const std::uint32_t totalSectors = Le16(boot, 19) != 0 ? Le16(boot, 19) : Le32(boot, 32);
  const std::uint32_t fatSectors = Le16(boot, 22);
  const std::string_view type(reinterpret_cast<const char*>(boot.data()) + 54, 8);

  if (boot[510] != 0x55 || boot[511] != 0xAA || type != "FAT16   ")
    throw std::runtime_error("the image is not a FAT16 file system");
  if (sectorBytes < kFat16SectorBytes || sectorsPerCluster == 0 || fats == 0 || fatSectors == 0)
    throw std::runtime_error("the FAT16 boot sector is inconsistent");
  if (std::int64_t{sectorsPerCluster} * sectorBytes > kMaxClusterBytes)
    throw std::runtime_error("the FAT16 clusters are larger than 32 KiB");

  const std::uint32_t rootSectors = (rootEntries * 32 + sectorBytes - 1) / sectorBytes;
  const std::uint32_t metadataSectors = reserved + fats * fatSectors + rootSectors;
  if (metadataSectors >= totalSectors)
    throw std::runtime_error("the FAT16 boot sector is inconsistent");
  const std::uint32_t clusters = (totalSectors - metadataSectors) / sectorsPerCluster;
  if (clusters < kMinFat16Clusters || clusters > kMaxFat16Clusters)
    throw std::runtime_error("the image has a cluster count outside FAT16's range");
  return {std::int64_t{metadataSectors} * sectorBytes, std::int64_t{totalSectors} * sectorBytes};
}

}  // namespace

Fat16VolumeTooLarge::Fat16VolumeTooLarge(std::int64_t bytes)
    : std::runtime_error("volume of " + std::to_string(bytes) +
                         " bytes is too large for FAT16 with 32 KiB clusters"),
      bytes_(bytes) {}

std::string Fat16Label(std::string_view label) {
  constexpr std::string_view kAllowedMarks = " !#$%&'()-@^_`{}~";
  const auto first = label.find_first_not_of(' ');
  if (first == std::string_view::npos)
    return {};
  label = label.substr(first, label.find_last_not_of(' ') - first + 1);
  if (label.size() > 11)
    return {};
  std::string result;
  for (const char c : label) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 'a' && u <= 'z')
      result.push_back(static_cast<char>(u - 'a' + 'A'));
    else if ((u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
             kAllowedMarks.find(c) != std::string_view::npos)
      result.push_back(c);
    else
      return {};
  }
  return result;
}

void MakeFat16Image(const std::filesystem::path& image, std::int64_t bytes,
                    const Fat16Placement& placement, std::string_view label) {
  if (!FitsFat16(bytes))
    throw Fat16VolumeTooLarge(bytes);
  {
    const posix::Fd file =
        posix::Open(image.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600, "create " + image.string());
    if (::ftruncate(file.Get(), bytes) != 0)
      ThrowErrno("size " + image.string());
  }
  std::vector<std::string> arguments = {
      FindMkfsFat().string(),
      "-F",
      "16",
      "--mbr=n",
      "-S",
      std::to_string(placement.sectorBytes),
      "-h",
      std::to_string(placement.hiddenSectors),
      "-g",
      std::to_string(placement.heads) + "/" + std::to_string(placement.sectorsPerTrack)};
  if (const auto name = Fat16Label(label); !name.empty())
    arguments.insert(arguments.end(), {"-n", name});
  arguments.push_back(image.string());

  const auto log = image.string() + ".log";
  const int status = Run(arguments, log);
  if (status != 0)
    throw std::runtime_error("mkfs.fat failed (" + std::to_string(status) + "): " + ReadText(log));
}

std::int64_t CopyFat16Metadata(int imageFd, int deviceFd) {
  std::array<std::uint8_t, kBootSectorBytes> boot{};
  ReadExact(imageFd, boot, 0);
  const auto layout = ReadLayout(boot);
  if (layout.volumeBytes > SizeOf(deviceFd))
    throw std::runtime_error("the FAT16 image is larger than the device");

  std::vector<std::uint8_t> buffer(kCopyChunk);
  for (std::int64_t offset = 0; offset < layout.metadataBytes;) {
    const auto chunk = std::min<std::int64_t>(layout.metadataBytes - offset, kCopyChunk);
    const std::span<std::uint8_t> part(buffer.data(), static_cast<std::size_t>(chunk));
    ReadExact(imageFd, part, offset);
    posix::WriteAt(deviceFd, static_cast<std::uint64_t>(offset), part);
    offset += chunk;
  }
  if (::fsync(deviceFd) != 0)
    ThrowErrno("fsync");
  return layout.metadataBytes;
}

void WriteFat16(int deviceFd, std::uint64_t partitionOffset, std::string_view label) {
  // MakeFat16Image refuses a volume too large for FAT16 before the device is touched.
  const auto bytes = SizeOf(deviceFd);
  const TempDir folder;
  const auto image = folder.Path() / "volume.img";
  MakeFat16Image(image, bytes, PlacementOf(deviceFd, partitionOffset), label);
  const posix::Fd imageFd = posix::Open(image.c_str(), O_RDONLY, 0, "open " + image.string());
  CopyFat16Metadata(imageFd.Get(), deviceFd);
}

}  // namespace fw::platform

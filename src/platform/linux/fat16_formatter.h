// Lays a fresh FAT16 file system over a card's volume. mkfs.fat builds the structures on a sparse
// image of the volume's size; only their region (boot and reserved sectors, both FATs, the root
// directory) is then copied onto the device, so a card of 2 GB costs a few hundred KiB of writes.
// The device may be any file descriptor: a block device, or a regular file standing for one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace fw::platform {

// The volume is larger than FAT16 with clusters of at most 32 KiB covers (kMaxFat16VolumeBytes).
class Fat16VolumeTooLarge : public std::runtime_error {
 public:
  explicit Fat16VolumeTooLarge(std::int64_t bytes);
  std::int64_t Bytes() const { return bytes_; }

 private:
  std::int64_t bytes_;
};

// Where the file system sits and how the boot sector describes the disk.
struct Fat16Placement {
  std::uint32_t sectorBytes = 512;  // logical sector size of the device
  std::uint32_t hiddenSectors = 0;  // sectors before the volume (the partition's start)
  std::uint32_t heads = 64;         // geometry written to the boot sector
  std::uint32_t sectorsPerTrack = 32;
};

// The volume label as FAT stores it: upper case, at most 11 characters of the set FAT allows.
// Empty when the label has a character FAT cannot hold (the volume then gets no label).
std::string Fat16Label(std::string_view label);

// Creates `image` as a sparse file of `bytes` bytes holding a FAT16 file system (mkfs.fat).
// Throws Fat16VolumeTooLarge, or std::system_error / std::runtime_error when mkfs.fat is missing
// or fails.
void MakeFat16Image(const std::filesystem::path& image, std::int64_t bytes,
                    const Fat16Placement& placement, std::string_view label);

// Copies the metadata region of the FAT16 image open at imageFd (everything before the data
// area) to the same offsets of deviceFd and flushes the device. Refuses (std::runtime_error) an
// image that is not FAT16 with clusters of at most 32 KiB, or does not fit the device. Returns
// the number of bytes copied.
std::int64_t CopyFat16Metadata(int imageFd, int deviceFd);

// Formats the whole device open (read-write) at deviceFd to FAT16: its size, sector size and
// geometry come from the descriptor; partitionOffset is the volume's byte offset on its disk
// (0 for a disk without a partition table). Throws as MakeFat16Image and CopyFat16Metadata.
void WriteFat16(int deviceFd, std::uint64_t partitionOffset, std::string_view label);

}  // namespace fw::platform

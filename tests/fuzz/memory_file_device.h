// A card data file held in memory: the fuzz targets open their input through it, so that no run
// touches the disk. The bytes stay with the caller and can be looked at after the device is gone.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <system_error>
#include <vector>

#include "platform/file_device.h"

namespace fw::fuzz {

class MemoryFileDevice : public platform::FileDevice {
 public:
  // Writes may grow the file up to `maxSize` bytes; one that would go further fails as a full
  // disk does.
  explicit MemoryFileDevice(std::vector<std::uint8_t>& bytes,
                            std::uint64_t maxSize = std::uint64_t{64} << 20)
      : bytes_(bytes), maxSize_(maxSize) {}

  std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
    if (offset >= bytes_.size())
      return 0;
    const std::size_t count = std::min<std::uint64_t>(buffer.size(), bytes_.size() - offset);
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), count, buffer.begin());
    return count;
  }

  void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    if (offset > maxSize_ || data.size() > maxSize_ - offset)
      throw std::system_error(std::make_error_code(std::errc::no_space_on_device));
    if (++writes_ == failingWrite_) {
      // A card pulled out in the middle of a write: the first half got there.
      Store(offset, data.first(data.size() / 2));
      throw std::system_error(std::make_error_code(std::errc::io_error));
    }
    Store(offset, data);
  }

  std::uint64_t Size() override { return bytes_.size(); }
  void Sync() override {}

  // The write with this number (1 = the next one) fails half-way; 0: none fails.
  void FailWrite(std::size_t number) { failingWrite_ = number == 0 ? 0 : writes_ + number; }

 private:
  void Store(std::uint64_t offset, std::span<const std::uint8_t> data) {
    const std::uint64_t end = offset + data.size();
    if (end > bytes_.size())
      bytes_.resize(end);
    std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
  }

  std::vector<std::uint8_t>& bytes_;
  std::uint64_t maxSize_;
  std::size_t writes_ = 0;
  std::size_t failingWrite_ = 0;
};

}  // namespace fw::fuzz

// File devices that misbehave in one chosen way around a real one, for the tests of what an
// append and its read-back report: reads that fail once the entry is on the card, and a card
// that does not hold what the system's cache shows.
#pragma once

#include <cerrno>
#include <cstdint>
#include <memory>
#include <span>
#include <system_error>
#include <utility>

#include "platform/file_device.h"

namespace fw::test {

// Passes everything through; once `syncs` flushes have happened, every read fails with EIO
// (the card pulled right after the entry's header page was flushed).
class ReadsFailAfterSyncs : public platform::FileDevice {
 public:
  ReadsFailAfterSyncs(std::unique_ptr<platform::FileDevice> inner, int syncs)
      : inner_(std::move(inner)), syncsLeft_(syncs) {}
  std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
    if (syncsLeft_ <= 0) {
      throw std::system_error(EIO, std::generic_category(), "read");
    }
    return inner_->ReadAt(offset, buffer);
  }
  void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    inner_->WriteAt(offset, data);
  }
  std::uint64_t Size() override { return inner_->Size(); }
  void Sync() override {
    inner_->Sync();
    --syncsLeft_;
  }

 private:
  std::unique_ptr<platform::FileDevice> inner_;
  int syncsLeft_;
};

// Passes everything through, but once the cache is dropped, reads show the byte at `offset`
// with its low bit flipped: what the card really holds differs from what was written.
class MediumDiffers : public platform::FileDevice {
 public:
  MediumDiffers(std::unique_ptr<platform::FileDevice> inner, std::uint64_t offset)
      : inner_(std::move(inner)), offset_(offset) {}
  std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
    const std::size_t got = inner_->ReadAt(offset, buffer);
    if (dropped_ && offset_ >= offset && offset_ < offset + got) {
      buffer[offset_ - offset] ^= 0x01;
    }
    return got;
  }
  void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    inner_->WriteAt(offset, data);
  }
  std::uint64_t Size() override { return inner_->Size(); }
  void Sync() override { inner_->Sync(); }
  void DropCachedPages() override {
    inner_->DropCachedPages();
    dropped_ = true;
  }

 private:
  std::unique_ptr<platform::FileDevice> inner_;
  std::uint64_t offset_;
  bool dropped_ = false;
};

}  // namespace fw::test

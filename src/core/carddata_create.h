// Creating a new card data file: the header page, then every data page zero-filled, written in
// ascending order in blocks of 1000 pages. The preparation dialog and the command line use it.
// The blocks are written back to the device as they go, and the writing waits for them every
// kCreateWriteBackBlocks blocks: progress counts only pages that reached the device, the page
// cache never holds more than about 31 MiB of the file, and the final flush is short.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/carddata_errors.h"
#include "core/carddata_layout.h"
#include "platform/file_device.h"

namespace fw {

// Pages written per block; progress is reported and cancelling is looked at once per block.
inline constexpr std::uint32_t kCreateBlockPages = 1000;
// Blocks written ahead of the device at most (64 blocks of 512000 bytes, about 31 MiB): then the
// writing waits for their write-back, block by block.
inline constexpr std::uint32_t kCreateWriteBackBlocks = 64;

enum class TCreateResult { Completed, Cancelled };

// Called once per block, after the block's write-back was waited for, with the data pages on the
// device so far and the data pages in all (a multiple of 1000, or all of them for the last
// block).
using CreateProgress = std::function<void(std::uint32_t pagesWritten, std::uint32_t dataPages)>;
// Looked at before each block is written and after each block's progress, the last block's
// included; true stops the writing at that point and deletes the file.
using CreateCancel = std::function<bool()>;

// There is not room for the new file on its file system, counting the space of the file it
// would replace; nothing was written.
class ECardNoRoom : public ECardParameters {
 public:
  using ECardParameters::ECardParameters;
};

// The EXTENDED pages of a section of `megabytes` MB (kPagesPerMegabyte pages per MB), not limited
// to 32 bits; counts beyond any card give a page count that no layout accepts, without wrapping.
std::uint64_t ExtendedPagesFromMegabytes(std::uint64_t megabytes);

// The shape of a card data file: its pages (header page included), its recording sessions and
// the pages of its EXTENDED section. Only MakeCardLayout makes one with these counts, so a layout
// that the writer gets has always been checked; the default layout is the smallest sound file
// (the header page alone).
class TCardLayout {
 public:
  TCardLayout() = default;

  std::uint32_t Pages() const { return pages_; }
  std::uint32_t DataPages() const { return pages_ - 1; }
  std::uint32_t Sessions() const { return sessions_; }
  std::uint32_t SessionsPages() const { return sessions_ * 4; }
  std::uint32_t ExtendedPages() const { return extendedPages_; }
  std::uint64_t FileBytes() const { return std::uint64_t{pages_} * kPageSize; }

  friend TCardLayout MakeCardLayout(std::uint64_t pages, std::uint64_t sessions,
                                    std::uint64_t extendedPages);
  friend bool operator==(const TCardLayout&, const TCardLayout&) = default;

 private:
  TCardLayout(std::uint32_t pages, std::uint32_t sessions, std::uint32_t extendedPages)
      : pages_(pages), sessions_(sessions), extendedPages_(extendedPages) {}

  std::uint32_t pages_ = 1;
  std::uint32_t sessions_ = 0;
  std::uint32_t extendedPages_ = 0;
};

// The layout of a file of `pages` pages with room for `sessions` sessions and an EXTENDED section
// of `extendedPages` pages. Throws ECardParameters with the system's texts: pages must be
// 1 .. kMaxFilePages, and sessions * 4 + extendedPages must fit into the pages - 1 data pages.
TCardLayout MakeCardLayout(std::uint64_t pages, std::uint64_t sessions,
                           std::uint64_t extendedPages);

// Creates (or replaces) the card data file at path with the layout.
// Before an existing file is touched, everything that can be checked is: that the folder may be
// written, and the room (ECardNoRoom: the free space of the file system and the existing file's
// size must hold the new file); a refusal leaves the old file as it was.
// Every write is checked and the file is flushed at the end. On a cancel, and on any failure
// after the file was created, the file is deleted. Errors: ECardNoRoom, EFCreateError(path),
// EInOutError(path, reason).
TCreateResult CreateCardDataFile(const std::string& path, const TCardLayout& layout,
                                 const CreateProgress& progress = {},
                                 const CreateCancel& cancel = {});

// Writes the file through an already created device (the file at path, emptied); deletes path
// on a cancel or failure. For callers that bring their own device, such as tests.
TCreateResult CreateCardDataFileOn(std::unique_ptr<platform::FileDevice> device,
                                   const std::string& path, const TCardLayout& layout,
                                   const CreateProgress& progress = {},
                                   const CreateCancel& cancel = {});

}  // namespace fw

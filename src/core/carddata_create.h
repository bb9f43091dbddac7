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
// Looked at before each block is written and after each block's progress (but the last); true
// stops the writing at that point and deletes the file.
using CreateCancel = std::function<bool()>;

// There is not room for the new file on its file system, counting the space of the file it
// would replace; nothing was written.
class ECardNoRoom : public ECardParameters {
 public:
  using ECardParameters::ECardParameters;
};

// The EXTENDED pages of a section of `megabytes` MB (2048 pages per MB), not limited to 32 bits.
std::uint64_t ExtendedPagesFromMegabytes(std::uint64_t megabytes);

// Throws ECardParameters with the system's texts, before anything is written:
// pages must be 1 .. 4194304 (header page included), and sessions * 4 + extendedPages must fit
// into the pages - 1 data pages.
void CheckCreateParameters(std::uint32_t pages, std::uint64_t sessions,
                           std::uint64_t extendedPages);

// Creates (or replaces) the card data file at path with `pages` pages in all, room for
// `sessions` recording sessions and an EXTENDED section of `extendedPages` pages.
// Before an existing file is touched, everything that can be checked is: the parameters, that
// the folder may be written, and the room (ECardNoRoom: the free space of the file system and
// the existing file's size must hold the new file); a refusal leaves the old file as it was.
// Every write is checked and the file is flushed at the end. On a cancel, and on any failure
// after the file was created, the file is deleted. Errors: the parameter refusals above,
// ECardNoRoom, EFCreateError(path), EInOutError(path, reason).
TCreateResult CreateCardDataFile(const std::string& path, std::uint32_t pages,
                                 std::uint64_t sessions, std::uint64_t extendedPages,
                                 const CreateProgress& progress = {},
                                 const CreateCancel& cancel = {});

// The same with the EXTENDED section given in megabytes.
TCreateResult CreateCardDataFileMb(const std::string& path, std::uint32_t pages,
                                   std::uint64_t sessions, std::uint64_t extendedMegabytes,
                                   const CreateProgress& progress = {},
                                   const CreateCancel& cancel = {});

// Writes the file through an already created device (the file at path, emptied); deletes path
// on a cancel or failure. For callers that bring their own device, such as tests.
TCreateResult CreateCardDataFileOn(std::unique_ptr<platform::FileDevice> device,
                                   const std::string& path, std::uint32_t pages,
                                   std::uint64_t sessions, std::uint64_t extendedPages,
                                   const CreateProgress& progress = {},
                                   const CreateCancel& cancel = {});

}  // namespace fw

// Creating a new card data file: the header page, then every data page zero-filled, written in
// ascending order in blocks of 1000 pages. The preparation dialog and the command line use it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file_device.h"

namespace fw {

// Pages written per block; progress is reported and cancelling is looked at once per block.
inline constexpr std::uint32_t kCreateBlockPages = 1000;

enum class TCreateResult { Completed, Cancelled };

// Called after each block with the data pages written so far and the data pages in all (a
// multiple of 1000, or all of them after the last block).
using CreateProgress = std::function<void(std::uint32_t pagesWritten, std::uint32_t dataPages)>;
// Looked at before each block; true stops the writing and deletes the file.
using CreateCancel = std::function<bool()>;

// The EXTENDED pages of a section of `megabytes` MB (2048 pages per MB), not limited to 32 bits.
std::uint64_t ExtendedPagesFromMegabytes(std::uint64_t megabytes);

// Throws ECardParameters with the system's texts, before anything is written:
// pages must be 1 .. 4194304 (header page included), and sessions * 4 + extendedPages must fit
// into the pages - 1 data pages.
void CheckCreateParameters(std::uint32_t pages, std::uint64_t sessions,
                           std::uint64_t extendedPages);

// Creates (or replaces) the card data file at path with `pages` pages in all, room for
// `sessions` recording sessions and an EXTENDED section of `extendedPages` pages.
// Every write is checked and the file is flushed at the end. On a cancel, and on any failure
// after the file was created, the file is deleted. Errors: the parameter refusals above,
// EFCreateError(path), EInOutError(path, reason).
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

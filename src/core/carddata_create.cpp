#include "core/carddata_create.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "core/carddata_errors.h"
#include "core/carddata_layout.h"
#include "core/errors.h"
#include "core/message_format.h"
#include "core/texts.h"
#include "core/utf8_path.h"

namespace fw {
namespace {

// Closes the device and deletes the file unless the writing completed.
class PartialFileGuard {
 public:
  PartialFileGuard(std::unique_ptr<platform::FileDevice>& device, const std::string& path)
      : device_(device), path_(path) {}
  ~PartialFileGuard() {
    if (kept_) {
      return;
    }
    device_.reset();
    try {
      platform::RemoveFile(path_);
    } catch (const std::system_error&) {
      // The file is gone already or cannot be removed; the original error is what matters.
    }
  }
  PartialFileGuard(const PartialFileGuard&) = delete;
  PartialFileGuard& operator=(const PartialFileGuard&) = delete;
  void Keep() { kept_ = true; }

 private:
  std::unique_ptr<platform::FileDevice>& device_;
  const std::string& path_;
  bool kept_ = false;
};

void WriteChecked(platform::FileDevice& device, const std::string& path, std::uint64_t offset,
                  std::span<const std::uint8_t> data) {
  try {
    device.WriteAt(offset, data);
  } catch (const std::system_error& e) {
    throw EInOutError(path, e.code().message());
  }
}

void SyncChecked(platform::FileDevice& device, const std::string& path) {
  try {
    device.Sync();
  } catch (const std::system_error& e) {
    throw EInOutError(path, e.code().message());
  }
}

void StartWriteBackChecked(platform::FileDevice& device, const std::string& path,
                           std::uint64_t offset, std::uint64_t length) {
  try {
    device.StartWriteBack(offset, length);
  } catch (const std::system_error& e) {
    throw EInOutError(path, e.code().message());
  }
}

void WaitWriteBackChecked(platform::FileDevice& device, const std::string& path,
                          std::uint64_t length) {
  try {
    device.WaitWriteBack(0, length);
  } catch (const std::system_error& e) {
    throw EInOutError(path, e.code().message());
  }
}

std::uint64_t EndOfDataPages(std::uint32_t dataPages) {
  return (std::uint64_t{dataPages} + 1) * kPageSize;
}

// The zero pages 1 .. dataPages. Blocks are handed to the device and their write-back started
// until kCreateWriteBackBlocks of them wait unconfirmed (or all are written); then the writing
// waits for them one by one, and only then reports them.
class ZeroPageWriter {
 public:
  ZeroPageWriter(platform::FileDevice& device, const std::string& path, std::uint32_t dataPages,
                 const CreateProgress& progress, const CreateCancel& cancel)
      : device_(device),
        path_(path),
        dataPages_(dataPages),
        progress_(progress),
        cancel_(cancel),
        zeros_(std::size_t{std::min(dataPages, kCreateBlockPages)} * kPageSize, 0) {}

  TCreateResult Run() {
    while (written_ < dataPages_) {
      if (Cancelled()) {
        return TCreateResult::Cancelled;
      }
      WriteBlock();
      const bool intervalFull = written_ - confirmed_ >= kCreateWriteBackBlocks * kCreateBlockPages;
      if ((intervalFull || written_ == dataPages_) && !ConfirmWritten()) {
        return TCreateResult::Cancelled;
      }
    }
    return TCreateResult::Completed;
  }

 private:
  bool Cancelled() const { return cancel_ && cancel_(); }

  void WriteBlock() {
    const std::uint32_t block = std::min(kCreateBlockPages, dataPages_ - written_);
    const std::uint64_t offset = EndOfDataPages(written_);
    const auto bytes = std::span<const std::uint8_t>(zeros_).first(std::size_t{block} * kPageSize);
    WriteChecked(device_, path_, offset, bytes);
    StartWriteBackChecked(device_, path_, offset, bytes.size());
    written_ += block;
  }

  // Waits for the written blocks in order, reporting each once it is on the device; false when a
  // cancel came meanwhile (looked at after each block's progress, the file's last one included:
  // a cancel during the last block's report still deletes the file).
  bool ConfirmWritten() {
    while (confirmed_ < written_) {
      const std::uint32_t next = std::min(confirmed_ + kCreateBlockPages, written_);
      WaitWriteBackChecked(device_, path_, EndOfDataPages(next));
      confirmed_ = next;
      if (progress_) {
        progress_(confirmed_, dataPages_);
      }
      if (Cancelled()) {
        return false;
      }
    }
    return true;
  }

  platform::FileDevice& device_;
  const std::string& path_;
  const std::uint32_t dataPages_;
  const CreateProgress& progress_;
  const CreateCancel& cancel_;
  const std::vector<std::uint8_t> zeros_;
  std::uint32_t written_ = 0;    // pages handed to the device
  std::uint32_t confirmed_ = 0;  // pages on the device, and reported
};

// The folder that holds the file named by the UTF-8 path.
std::filesystem::path FolderOf(const std::string& path) {
  const std::filesystem::path folder = PathOfUtf8(path).parent_path();
  return folder.empty() ? std::filesystem::path(".") : folder;
}

// The file can be created there at all: the folder exists and may be written.
void CheckFolderWritable(const std::string& path) {
  try {
    platform::CheckFolderWritable(Utf8OfPath(FolderOf(path)));
  } catch (const std::system_error& e) {
    throw EFCreateError(path, e.code());
  }
}

// The new file fits into the free space of its file system together with the space of the file
// it replaces. Where the file system does not tell its free space, the writes will tell.
void CheckRoom(const std::string& path, std::uint32_t pages) {
  std::error_code error;
  const std::filesystem::space_info space = std::filesystem::space(FolderOf(path), error);
  if (error) {
    return;
  }
  std::uint64_t room = space.available;
  const std::filesystem::path file = PathOfUtf8(path);
  if (std::filesystem::is_regular_file(file, error)) {
    const std::uintmax_t size = std::filesystem::file_size(file, error);
    room += error ? 0 : size;
  }
  const std::uint64_t needed = std::uint64_t{pages} * kPageSize;
  if (room < needed) {
    throw ECardNoRoom(FormatMessage(texts::kCardNoRoom, {path, needed, room}));
  }
}

}  // namespace

std::uint64_t ExtendedPagesFromMegabytes(std::uint64_t megabytes) {
  // Megabyte counts beyond any card stay beyond it, without wrapping.
  return std::min<std::uint64_t>(megabytes, 1ull << 32) * kPagesPerMegabyte;
}

TCardLayout MakeCardLayout(std::uint64_t pages, std::uint64_t sessions,
                           std::uint64_t extendedPages) {
  if (pages == 0 || pages > kMaxFilePages) {
    // A count past 32 bits is told as the largest 32-bit count.
    const std::uint64_t told = std::min<std::uint64_t>(pages, UINT32_MAX);
    throw ECardParameters(
        FormatMessage(texts::kPagesOutOfRange, {told, std::uint64_t{kMaxFilePages}}));
  }
  const std::uint64_t dataPages = pages - 1;
  // Neither term can wrap: sessions and extendedPages are refused long before 2^62.
  if (sessions > dataPages || extendedPages > dataPages ||
      sessions * 4 + extendedPages > dataPages) {
    const std::uint64_t required = std::min<std::uint64_t>(sessions, 1ull << 40) * 4 +
                                   std::min<std::uint64_t>(extendedPages, 1ull << 40);
    throw ECardParameters(FormatMessage(texts::kSectionsDoNotFit, {required, dataPages}));
  }
  return TCardLayout(static_cast<std::uint32_t>(pages), static_cast<std::uint32_t>(sessions),
                     static_cast<std::uint32_t>(extendedPages));
}

TCreateResult CreateCardDataFileOn(std::unique_ptr<platform::FileDevice> device,
                                   const std::string& path, const TCardLayout& layout,
                                   const CreateProgress& progress, const CreateCancel& cancel) {
  PartialFileGuard guard(device, path);

  Page header{};
  MakeNewHeader(layout.Pages(), layout.Sessions(), layout.ExtendedPages()).Serialize(header);
  WriteChecked(*device, path, 0, header);

  if (ZeroPageWriter(*device, path, layout.DataPages(), progress, cancel).Run() ==
      TCreateResult::Cancelled) {
    return TCreateResult::Cancelled;  // the guard deletes the file
  }
  SyncChecked(*device, path);
  guard.Keep();
  return TCreateResult::Completed;
}

TCreateResult CreateCardDataFile(const std::string& path, const TCardLayout& layout,
                                 const CreateProgress& progress, const CreateCancel& cancel) {
  CheckFolderWritable(path);
  CheckRoom(path, layout.Pages());
  std::unique_ptr<platform::FileDevice> device;
  try {
    device = platform::CreateNew(path);
  } catch (const std::system_error& e) {
    throw EFCreateError(path, e.code());
  }
  return CreateCardDataFileOn(std::move(device), path, layout, progress, cancel);
}

}  // namespace fw

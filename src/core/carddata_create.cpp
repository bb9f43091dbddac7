#include "core/carddata_create.h"

#include <algorithm>
#include <system_error>
#include <vector>

#include "core/carddata_errors.h"
#include "core/carddata_layout.h"
#include "core/errors.h"
#include "core/message_format.h"
#include "core/texts.h"

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

}  // namespace

std::uint64_t ExtendedPagesFromMegabytes(std::uint64_t megabytes) {
  return megabytes * (1048576 / kPageSize);
}

void CheckCreateParameters(std::uint32_t pages, std::uint64_t sessions,
                           std::uint64_t extendedPages) {
  if (pages == 0 || pages > kMaxFilePages) {
    throw ECardParameters(FormatMessage(texts::kPagesOutOfRange, {std::uint64_t{pages}}));
  }
  const std::uint64_t dataPages = pages - 1;
  // Neither term can wrap: sessions and extendedPages are refused long before 2^62.
  if (sessions > dataPages || extendedPages > dataPages ||
      sessions * 4 + extendedPages > dataPages) {
    const std::uint64_t required = std::min<std::uint64_t>(sessions, 1ull << 40) * 4 +
                                   std::min<std::uint64_t>(extendedPages, 1ull << 40);
    throw ECardParameters(FormatMessage(texts::kSectionsDoNotFit, {required, dataPages}));
  }
}

TCreateResult CreateCardDataFileOn(std::unique_ptr<platform::FileDevice> device,
                                   const std::string& path, std::uint32_t pages,
                                   std::uint64_t sessions, std::uint64_t extendedPages,
                                   const CreateProgress& progress, const CreateCancel& cancel) {
  PartialFileGuard guard(device, path);
  CheckCreateParameters(pages, sessions, extendedPages);

  Page header{};
  MakeNewHeader(pages, static_cast<std::uint32_t>(sessions),
                static_cast<std::uint32_t>(extendedPages))
      .Serialize(header);
  WriteChecked(*device, path, 0, header);

  const std::uint32_t dataPages = pages - 1;
  const std::vector<std::uint8_t> zeros(
      std::size_t{std::min(dataPages, kCreateBlockPages)} * kPageSize, 0);
  std::uint32_t written = 0;
  while (written < dataPages) {
    if (cancel && cancel()) {
      return TCreateResult::Cancelled;  // the guard deletes the file
    }
    const std::uint32_t block = std::min(kCreateBlockPages, dataPages - written);
    const std::uint64_t offset = (std::uint64_t{written} + 1) * kPageSize;
    WriteChecked(*device, path, offset,
                 std::span<const std::uint8_t>(zeros).first(std::size_t{block} * kPageSize));
    written += block;
    if (progress) {
      progress(written, dataPages);
    }
  }
  SyncChecked(*device, path);
  guard.Keep();
  return TCreateResult::Completed;
}

TCreateResult CreateCardDataFile(const std::string& path, std::uint32_t pages,
                                 std::uint64_t sessions, std::uint64_t extendedPages,
                                 const CreateProgress& progress, const CreateCancel& cancel) {
  CheckCreateParameters(pages, sessions, extendedPages);
  std::unique_ptr<platform::FileDevice> device;
  try {
    device = platform::CreateNew(path);
  } catch (const std::system_error&) {
    throw EFCreateError(path);
  }
  return CreateCardDataFileOn(std::move(device), path, pages, sessions, extendedPages, progress,
                              cancel);
}

TCreateResult CreateCardDataFileMb(const std::string& path, std::uint32_t pages,
                                   std::uint64_t sessions, std::uint64_t extendedMegabytes,
                                   const CreateProgress& progress, const CreateCancel& cancel) {
  // Megabyte counts beyond any card are refused as not fitting, without wrapping.
  const std::uint64_t megabytes = std::min<std::uint64_t>(extendedMegabytes, 1ull << 32);
  return CreateCardDataFile(path, pages, sessions, ExtendedPagesFromMegabytes(megabytes), progress,
                            cancel);
}

}  // namespace fw

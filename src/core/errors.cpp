#include "core/errors.h"

#include <utility>

#include "core/input_file.h"
#include "core/message_format.h"
#include "core/texts.h"
#include "platform/file_device.h"

namespace fw {

namespace {

std::string WithReason(std::string_view text, std::string_view path, std::error_code code) {
  return FormatMessage(texts::kFileFailedBecause,
                       {FormatMessage(text, {std::string(path)}), FileFailureReason(code)});
}

}  // namespace

std::string FileFailureReason(std::error_code code) {
  if (code == platform::NotRegularFileError() || code == std::errc::is_a_directory)
    return std::string(texts::kReasonNotRegularFile);
  if (code == std::errc::resource_unavailable_try_again || code == std::errc::operation_would_block)
    return std::string(texts::kReasonHeldByWriter);
  if (code == std::errc::permission_denied || code == std::errc::operation_not_permitted)
    return std::string(texts::kReasonNotPermitted);
  if (code == std::errc::read_only_file_system)
    return std::string(texts::kReasonReadOnlyMedium);
  if (code == std::errc::no_such_file_or_directory || code == std::errc::not_a_directory)
    return std::string(texts::kReasonMissing);
  return code.message();
}

EFOpenError::EFOpenError(std::string_view path)
    : std::runtime_error(FormatMessage(texts::kCannotOpenFile, {std::string(path)})) {}

EFOpenError::EFOpenError(std::string_view path, std::error_code code)
    : std::runtime_error(WithReason(texts::kCannotOpenFile, path, code)), code_(code) {}

EFCreateError::EFCreateError(std::string_view path)
    : std::runtime_error(FormatMessage(texts::kCannotCreateFile, {std::string(path)})) {}

EFCreateError::EFCreateError(std::string_view path, std::error_code code)
    : std::runtime_error(WithReason(texts::kCannotCreateFile, path, code)) {}

EFCreateError::EFCreateError(std::string_view path, std::string_view reason)
    : std::runtime_error(FormatMessage(
          texts::kFileFailedBecause,
          {FormatMessage(texts::kCannotCreateFile, {std::string(path)}), std::string(reason)})) {}

EFileTooLarge::EFileTooLarge(std::string_view path, std::uint64_t size)
    : std::runtime_error(
          FormatMessage(texts::kFileTooLarge, {std::string(path), size, kMaxInputFileBytes})) {}

EInOutError::EInOutError(std::string_view path, std::string_view reason)
    : std::runtime_error(
          FormatMessage(texts::kFileIoError, {std::string(path), std::string(reason)})) {}

EListError::EListError(long long index)
    : std::runtime_error(
          FormatMessage(texts::kListIndexOutOfBounds, {static_cast<std::int64_t>(index)})) {}

EVolumeService::EVolumeService(std::string_view detail)
    : std::runtime_error(FormatMessage(texts::kVolumeServiceUnreachable, {std::string(detail)})) {}

ERefusal::ERefusal(std::string text, TMessageKind kind)
    : std::runtime_error(std::move(text)), kind_(kind) {}

ERangeError::ERangeError() : std::runtime_error(std::string(texts::kRangeCheckError)) {}

}  // namespace fw

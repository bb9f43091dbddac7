#include "errors.h"

#include "message_format.h"
#include "texts.h"

namespace fw {

EFOpenError::EFOpenError(std::string_view path)
    : std::runtime_error(FormatMessage(texts::kCannotOpenFile, {std::string(path)})) {}

EFCreateError::EFCreateError(std::string_view path)
    : std::runtime_error(FormatMessage(texts::kCannotCreateFile, {std::string(path)})) {}

EInOutError::EInOutError(std::string_view path, std::string_view reason)
    : std::runtime_error(
          FormatMessage(texts::kFileIoError, {std::string(path), std::string(reason)})) {}

EListError::EListError(long long index)
    : std::runtime_error(
          FormatMessage(texts::kListIndexOutOfBounds, {static_cast<std::int64_t>(index)})) {}

EVolumeService::EVolumeService(std::string_view detail)
    : std::runtime_error(FormatMessage(texts::kVolumeServiceUnreachable, {std::string(detail)})) {}

ERangeError::ERangeError() : std::runtime_error(std::string(texts::kRangeCheckError)) {}

}  // namespace fw

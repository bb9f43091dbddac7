#include "core/carddata_errors.h"

#include <string>

#include "core/message_format.h"
#include "core/texts.h"

namespace fw {

EInvalidFormat::EInvalidFormat(std::string_view path)
    : ErgdException(FormatMessage(texts::kInvalidFormat, {std::string(path)})) {}

EInvalidFormat::EInvalidFormat(std::string_view path, std::string_view detail)
    : ErgdException(FormatMessage(texts::kInvalidFormat, {std::string(path)}) + "\n\r" +
                    std::string(detail)) {}

EOutOfSpace::EOutOfSpace(std::uint64_t required, std::uint64_t free)
    : ErgdException(FormatMessage(texts::kOutOfSpace, {required, free})) {}

}  // namespace fw

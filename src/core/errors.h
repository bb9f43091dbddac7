// The general errors of the system: file access, conversions, list indexes and ranges.
// Each carries the message text exactly as the user sees it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

#include "core/messages.h"

namespace fw {

// Why a file could not be opened or created, as the user is told it: held by another writer,
// not permitted, on a read-only medium, missing, or no regular file; any other code gives the
// system's own text.
std::string FileFailureReason(std::error_code code);

// A file could not be opened: "Cannot open file %s", followed by the reason when it is known.
class EFOpenError : public std::runtime_error {
 public:
  explicit EFOpenError(std::string_view path);
  EFOpenError(std::string_view path, std::error_code code);
  // The system's code of the failure; empty when it is not known.
  const std::error_code& code() const noexcept { return code_; }

 private:
  std::error_code code_;
};

// A file could not be created: "Cannot create file %s", followed by the reason when it is known.
class EFCreateError : public std::runtime_error {
 public:
  explicit EFCreateError(std::string_view path);
  EFCreateError(std::string_view path, std::error_code code);
  // With a reason the caller knows better than the system's code tells it.
  EFCreateError(std::string_view path, std::string_view reason);
};

// A HEX file or a catalogue is larger than any real one (kMaxInputFileBytes); it is refused
// before it is read.
class EFileTooLarge : public std::runtime_error {
 public:
  EFileTooLarge(std::string_view path, std::uint64_t size);
};

// A read, write or flush failed on an open file; names the file and the system's reason.
class EInOutError : public std::runtime_error {
 public:
  EInOutError(std::string_view path, std::string_view reason);
};

// A text is not a valid integer, or a date or time does not exist.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A list was asked for an item it does not have: "List index out of bounds (%d)".
class EListError : public std::runtime_error {
 public:
  explicit EListError(long long index);
};

// A value left its range: "Range check error".
class ERangeError : public std::runtime_error {
 public:
  ERangeError();

 protected:
  // A range error that says which value left which range.
  explicit ERangeError(const std::string& text) : std::runtime_error(text) {}
};

// The system's volume service (UDisks2 on Linux) cannot be reached or does not answer.
class EVolumeService : public std::runtime_error {
 public:
  explicit EVolumeService(std::string_view detail);
};

// A command declined to run (a missing input, a name the card cannot hold, ...): nothing was
// done. Carries the kind of message it is shown as (information unless said otherwise).
class ERefusal : public std::runtime_error {
 public:
  explicit ERefusal(std::string text, TMessageKind kind = mkInformation);
  TMessageKind Kind() const { return kind_; }

 private:
  TMessageKind kind_;
};

}  // namespace fw

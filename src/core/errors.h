// The general errors of the system: file access, conversions, list indexes and ranges.
// Each carries the message text exactly as the user sees it.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace fw {

// A file could not be opened: "Cannot open file %s".
class EFOpenError : public std::runtime_error {
 public:
  explicit EFOpenError(std::string_view path);
};

// A file could not be created: "Cannot create file %s".
class EFCreateError : public std::runtime_error {
 public:
  explicit EFCreateError(std::string_view path);
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
};

// The system's volume service (UDisks2 on Linux) cannot be reached or does not answer.
class EVolumeService : public std::runtime_error {
 public:
  explicit EVolumeService(std::string_view detail);
};

// Raised only to stop a command quietly; the error display never shows it.
class EAbort : public std::runtime_error {
 public:
  EAbort() : std::runtime_error("Operation aborted") {}
};

}  // namespace fw

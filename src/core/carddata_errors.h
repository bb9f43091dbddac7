// The errors of the card data file module. Each carries the message text the user sees.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string_view>

namespace fw {

// The base of the card data file's own errors; never raised by itself.
class ErgdException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The file is not a card data file (magic or format fields differ), or its header is damaged:
// then `detail` follows the system's text on a line of its own.
class EInvalidFormat : public ErgdException {
 public:
  explicit EInvalidFormat(std::string_view path);
  EInvalidFormat(std::string_view path, std::string_view detail);
};

// An entry does not fit into the free part of the EXTENDED section (sizes in bytes).
class EOutOfSpace : public ErgdException {
 public:
  EOutOfSpace(std::uint64_t required, std::uint64_t free);
};

// The sizes asked for a new card data file cannot make a sound file; nothing was written.
class ECardParameters : public ErgdException {
 public:
  using ErgdException::ErgdException;
};

}  // namespace fw

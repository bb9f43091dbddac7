// POSIX file descriptors: one owner that closes its descriptor, reads and writes at explicit
// offsets that carry on through short transfers and interrupted calls, and the system's error
// number turned into std::system_error. What the file device and the FAT16 formatter share.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace fw::platform::posix {

// Throws std::system_error with the error number and `what` ("open", "write", ...).
[[noreturn]] void ThrowError(int error, std::string_view what);

// Throws std::system_error with errno as it is now: call it right after the call that failed.
[[noreturn]] void ThrowErrno(std::string_view what);

// Owns one open file descriptor (or none: -1) and closes it; closing also releases its flock.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) noexcept : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { Close(); }

  int Get() const { return fd_; }
  // Gives the descriptor up without closing it.
  int Release() noexcept;

 private:
  void Close() noexcept;

  int fd_ = -1;
};

// Opens the path close-on-exec, again when a signal interrupts the call; throws
// std::system_error (the system's reason, with `what`) when it cannot be opened.
Fd Open(const char* path, int flags, mode_t mode, std::string_view what);

// Reads up to buffer.size() bytes at offset; returns how many were read: fewer than asked (also
// 0) only at the end of the file. Throws std::system_error ("read").
std::size_t ReadAt(int fd, std::uint64_t offset, std::span<std::uint8_t> buffer);

// Writes every byte of data at offset, or throws std::system_error ("write"); a device that
// takes no byte fails with EIO instead of being asked forever.
void WriteAt(int fd, std::uint64_t offset, std::span<const std::uint8_t> data);

}  // namespace fw::platform::posix

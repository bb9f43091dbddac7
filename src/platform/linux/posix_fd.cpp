#include "platform/linux/posix_fd.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

namespace fw::platform::posix {

void ThrowError(int error, std::string_view what) {
  throw std::system_error(error, std::generic_category(), std::string(what));
}

void ThrowErrno(std::string_view what) {
  ThrowError(errno, what);
}

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.Release();
  }
  return *this;
}

int Fd::Release() noexcept {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void Fd::Close() noexcept {
  if (fd_ >= 0)
    ::close(fd_);
  fd_ = -1;
}

Fd Open(const char* path, int flags, mode_t mode, std::string_view what) {
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0)
    ThrowErrno(what);
  return Fd(fd);
}

std::size_t ReadAt(int fd, std::uint64_t offset, std::span<std::uint8_t> buffer) {
  std::size_t done = 0;
  while (done < buffer.size()) {
    const ssize_t n =
        ::pread(fd, buffer.data() + done, buffer.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      ThrowErrno("read");
    if (n == 0)
      break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

void WriteAt(int fd, std::uint64_t offset, std::span<const std::uint8_t> data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n =
        ::pwrite(fd, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      ThrowErrno("write");
    if (n == 0)
      ThrowError(EIO, "write");
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace fw::platform::posix

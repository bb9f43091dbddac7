// POSIX files: pread/pwrite at explicit offsets, fsync, flock as the writer lock, Linux's
// sync_file_range for the write-back of long writes, and posix_fadvise to read past the page
// cache.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <system_error>
#include <utility>

#include "platform/file_device.h"
#include "platform/linux/posix_fd.h"

namespace fw::platform {
namespace {

using posix::ThrowErrno;
using posix::ThrowError;

// One open file; it closes with the object, which also releases its flock.
class PosixFile final : public FileDevice {
 public:
  explicit PosixFile(posix::Fd fd) : fd_(std::move(fd)) {}

  std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
    return posix::ReadAt(fd_.Get(), offset, buffer);
  }

  void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    posix::WriteAt(fd_.Get(), offset, data);
  }

  std::uint64_t Size() override {
    struct stat st {};
    if (::fstat(fd_.Get(), &st) != 0) {
      ThrowErrno("stat");
    }
    return static_cast<std::uint64_t>(st.st_size);
  }

  void Sync() override {
    if (::fsync(fd_.Get()) != 0) {
      ThrowErrno("fsync");
    }
  }

  // Dirty pages cannot be dropped, so they are written back first; the kernel then forgets the
  // file's clean pages and the next reads go to the device.
  void DropCachedPages() override {
    if (::fdatasync(fd_.Get()) != 0) {
      ThrowErrno("fdatasync");
    }
    const int rc = ::posix_fadvise(fd_.Get(), 0, 0, POSIX_FADV_DONTNEED);
    if (rc != 0) {
      ThrowError(rc, "fadvise");
    }
  }

  void StartWriteBack(std::uint64_t offset, std::uint64_t length) override {
    if (!rangeSyncWorks_) {
      return;
    }
    SyncRange(offset, length, SYNC_FILE_RANGE_WRITE);
  }

  void WaitWriteBack(std::uint64_t offset, std::uint64_t length) override {
    if (!rangeSyncWorks_) {
      DataSync();
      return;
    }
    SyncRange(offset, length,
              SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    if (!rangeSyncWorks_) {
      DataSync();
    }
  }

 private:
  // A file that sync_file_range does not serve (not a regular file, a file system without it)
  // falls back to no hint and a data sync.
  void SyncRange(std::uint64_t offset, std::uint64_t length, unsigned int flags) {
    if (length == 0) {
      return;  // to sync_file_range a length of 0 means up to the end of the file
    }
    int rc;
    do {
      rc = ::sync_file_range(fd_.Get(), static_cast<off64_t>(offset), static_cast<off64_t>(length),
                             flags);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
      return;
    }
    if (errno == EINVAL || errno == ESPIPE || errno == ENOSYS) {
      rangeSyncWorks_ = false;
      return;
    }
    ThrowErrno("write-back");
  }

  void DataSync() {
    if (::fdatasync(fd_.Get()) != 0) {
      ThrowErrno("fdatasync");
    }
  }

  posix::Fd fd_;
  bool rangeSyncWorks_ = true;
};

posix::Fd OpenFd(std::string_view path, int flags) {
  return posix::Open(std::string(path).c_str(), flags, 0666, "open");
}

// Opens a regular file only. The path is looked at first, so a device is never opened; the open
// itself does not wait (a FIFO put in the file's place meanwhile would otherwise block it until
// a writer comes), and what was opened is looked at again before it is used.
posix::Fd OpenRegularFd(std::string_view path, int flags) {
  struct stat st {};
  if (::stat(std::string(path).c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    throw std::system_error(NotRegularFileError(), "open");
  }
  posix::Fd fd = OpenFd(path, flags | O_NONBLOCK | O_NOCTTY);
  if (::fstat(fd.Get(), &st) != 0 || ::fcntl(fd.Get(), F_SETFL, 0) != 0) {
    ThrowErrno("open");
  }
  if (!S_ISREG(st.st_mode)) {
    throw std::system_error(NotRegularFileError(), "open");
  }
  return fd;
}

// Takes the writer lock without waiting; a held lock means another writer has the file.
void LockOrThrow(const posix::Fd& fd) {
  int rc;
  do {
    rc = ::flock(fd.Get(), LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    ThrowErrno("lock");
  }
}

}  // namespace

std::unique_ptr<FileDevice> OpenForUpdate(std::string_view utf8Path) {
  posix::Fd fd = OpenRegularFd(utf8Path, O_RDWR);
  LockOrThrow(fd);
  return std::make_unique<PosixFile>(std::move(fd));
}

std::unique_ptr<FileDevice> OpenForRead(std::string_view utf8Path) {
  return std::make_unique<PosixFile>(OpenRegularFd(utf8Path, O_RDONLY));
}

std::unique_ptr<FileDevice> CreateNew(std::string_view utf8Path) {
  // Truncate only once the lock is ours, so a file another writer holds keeps its bytes.
  posix::Fd fd = OpenFd(utf8Path, O_RDWR | O_CREAT);
  LockOrThrow(fd);
  if (::ftruncate(fd.Get(), 0) != 0) {
    ThrowErrno("truncate");
  }
  return std::make_unique<PosixFile>(std::move(fd));
}

void RemoveFile(std::string_view utf8Path) {
  if (::unlink(std::string(utf8Path).c_str()) != 0) {
    ThrowErrno("unlink");
  }
}

void CheckFolderWritable(std::string_view utf8Folder) {
  // access() also answers EROFS for a file system mounted read-only.
  if (::access(std::string(utf8Folder).c_str(), W_OK | X_OK) != 0) {
    ThrowErrno("access");
  }
}

}  // namespace fw::platform

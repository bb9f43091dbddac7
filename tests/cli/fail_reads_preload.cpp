// Loaded into the real fwupdater with LD_PRELOAD by the end-to-end tests: once the process has
// made FW_FAIL_READS_AFTER_FSYNCS calls of fsync, every pread fails with EIO, as if the card
// were pulled right after an entry's header page was flushed.
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <sys/types.h>

namespace {

int fsyncs = 0;

bool ReadsFail() {
  const char* limit = getenv("FW_FAIL_READS_AFTER_FSYNCS");
  return limit != nullptr && fsyncs >= atoi(limit);
}

template <typename Fn>
Fn Next(const char* name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

int fsync(int fd) {
  static const auto real = Next<int (*)(int)>("fsync");
  ++fsyncs;
  return real(fd);
}

ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
  static const auto real = Next<ssize_t (*)(int, void*, size_t, off_t)>("pread");
  if (ReadsFail()) {
    errno = EIO;
    return -1;
  }
  return real(fd, buffer, count, offset);
}

ssize_t pread64(int fd, void* buffer, size_t count, off64_t offset) {
  static const auto real = Next<ssize_t (*)(int, void*, size_t, off64_t)>("pread64");
  if (ReadsFail()) {
    errno = EIO;
    return -1;
  }
  return real(fd, buffer, count, offset);
}

}  // extern "C"

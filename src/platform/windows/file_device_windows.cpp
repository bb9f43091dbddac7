// Win32 files: CreateFileW with a share mode as the writer lock, positioned ReadFile/WriteFile
// through SetFilePointerEx, FlushFileBuffers (also for the write-back of long writes, which has no
// range form on Windows), and an unbuffered second handle to read past the system cache.
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <system_error>
#include <utility>

#include "platform/file_device.h"

namespace fw::platform {
namespace {

[[noreturn]] void ThrowLastError(std::string_view what) {
  throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(),
                          std::string(what));
}

std::wstring Widen(std::string_view utf8) {
  if (utf8.empty()) {
    return {};
  }
  const int length =
      ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (length <= 0) {
    ThrowLastError("path");
  }
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                        length);
  return wide;
}

// The largest amount one ReadFile/WriteFile call is given.
constexpr std::size_t kMaxChunk = 1u << 30;

// Unbuffered reads must start on a sector boundary, cover whole sectors and land in a
// sector-aligned buffer: 4096 is a multiple of every sector size in use, and VirtualAlloc gives
// page-aligned memory.
constexpr std::size_t kSectorAlign = 4096;
constexpr std::size_t kUnbufferedChunk = 1u << 20;

struct VirtualFreeDeleter {
  void operator()(std::uint8_t* p) const { ::VirtualFree(p, 0, MEM_RELEASE); }
};
using AlignedBuffer = std::unique_ptr<std::uint8_t, VirtualFreeDeleter>;

class WinFile final : public FileDevice {
 public:
  WinFile(HANDLE handle, std::wstring path, bool writable)
      : handle_(handle), path_(std::move(path)), writable_(writable) {}
  ~WinFile() override {
    if (unbuffered_ != INVALID_HANDLE_VALUE) {
      ::CloseHandle(unbuffered_);
    }
    ::CloseHandle(handle_);
  }
  WinFile(const WinFile&) = delete;
  WinFile& operator=(const WinFile&) = delete;

  std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
    if (unbuffered_ != INVALID_HANDLE_VALUE) {
      return ReadUnbuffered(offset, buffer);
    }
    Seek(offset);
    std::size_t done = 0;
    while (done < buffer.size()) {
      const DWORD want = static_cast<DWORD>(std::min(buffer.size() - done, kMaxChunk));
      DWORD got = 0;
      if (!::ReadFile(handle_, buffer.data() + done, want, &got, nullptr)) {
        ThrowLastError("read");
      }
      if (got == 0) {
        break;
      }
      done += got;
    }
    return done;
  }

  void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    Seek(offset);
    std::size_t done = 0;
    while (done < data.size()) {
      const DWORD want = static_cast<DWORD>(std::min(data.size() - done, kMaxChunk));
      DWORD put = 0;
      if (!::WriteFile(handle_, data.data() + done, want, &put, nullptr)) {
        ThrowLastError("write");
      }
      if (put == 0) {
        throw std::system_error(ERROR_WRITE_FAULT, std::system_category(), "write");
      }
      done += put;
    }
    unflushed_ = true;
  }

  HANDLE Handle() const { return handle_; }

  std::uint64_t Size() override {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(handle_, &size)) {
      ThrowLastError("size");
    }
    return static_cast<std::uint64_t>(size.QuadPart);
  }

  void Sync() override {
    if (!::FlushFileBuffers(handle_)) {
      ThrowLastError("flush");
    }
    unflushed_ = false;
  }

  // The system's lazy writer starts the write-back by itself.
  void StartWriteBack(std::uint64_t /*offset*/, std::uint64_t /*length*/) override {}

  // A flush covers every write before it, so waits with nothing written since cost nothing.
  void WaitWriteBack(std::uint64_t /*offset*/, std::uint64_t /*length*/) override {
    if (unflushed_) {
      Sync();
    }
  }

  // A second handle that bypasses the system cache serves every later read; writes still go
  // through the first handle (flushed here, and a read-only handle has nothing to flush).
  void DropCachedPages() override {
    if (writable_) {
      Sync();
    }
    if (unbuffered_ != INVALID_HANDLE_VALUE) {
      return;
    }
    unbuffered_ = ::CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr);
    if (unbuffered_ == INVALID_HANDLE_VALUE) {
      ThrowLastError("open");
    }
    void* memory =
        ::VirtualAlloc(nullptr, kUnbufferedChunk, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (memory == nullptr) {
      ThrowLastError("alloc");
    }
    aligned_.reset(static_cast<std::uint8_t*>(memory));
  }

 private:
  // Reads whole aligned sectors around the asked range and copies the asked bytes out.
  std::size_t ReadUnbuffered(std::uint64_t offset, std::span<std::uint8_t> buffer) {
    std::size_t done = 0;
    while (done < buffer.size()) {
      const std::uint64_t at = offset + done;
      const std::uint64_t alignedAt = at / kSectorAlign * kSectorAlign;
      const auto skip = static_cast<std::size_t>(at - alignedAt);
      const std::size_t want = std::min(buffer.size() - done, kUnbufferedChunk - skip);
      const std::size_t span = (skip + want + kSectorAlign - 1) / kSectorAlign * kSectorAlign;
      OVERLAPPED position{};
      position.Offset = static_cast<DWORD>(alignedAt);
      position.OffsetHigh = static_cast<DWORD>(alignedAt >> 32);
      DWORD got = 0;
      if (!::ReadFile(unbuffered_, aligned_.get(), static_cast<DWORD>(span), &got, &position)) {
        if (::GetLastError() != ERROR_HANDLE_EOF) {
          ThrowLastError("read");
        }
        got = 0;
      }
      if (got <= skip) {
        break;
      }
      const std::size_t useful = std::min<std::size_t>(got - skip, want);
      std::copy_n(aligned_.get() + skip, useful, buffer.data() + done);
      done += useful;
      if (useful < want) {
        break;
      }
    }
    return done;
  }

  void Seek(std::uint64_t offset) {
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(handle_, position, nullptr, FILE_BEGIN)) {
      ThrowLastError("seek");
    }
  }

  HANDLE handle_;
  std::wstring path_;
  bool writable_;
  HANDLE unbuffered_ = INVALID_HANDLE_VALUE;
  AlignedBuffer aligned_;
  bool unflushed_ = false;  // written to since the last flush
};

// The failures of an open that the user is told apart, as the portable codes the core reads;
// every other one keeps the system's own code and text.
[[noreturn]] void ThrowOpenError(const std::wstring& path) {
  const DWORD error = ::GetLastError();
  // Windows refuses to open a folder as a file with "access denied": say what it is instead.
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    throw std::system_error(NotRegularFileError(), "open");
  }
  switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                              "open");
    case ERROR_ACCESS_DENIED:
      throw std::system_error(std::make_error_code(std::errc::permission_denied), "open");
    case ERROR_WRITE_PROTECT:
      throw std::system_error(std::make_error_code(std::errc::read_only_file_system), "open");
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      throw std::system_error(std::make_error_code(std::errc::no_such_file_or_directory), "open");
    default:
      throw std::system_error(static_cast<int>(error), std::system_category(), "open");
  }
}

std::unique_ptr<WinFile> Open(std::string_view path, DWORD access, DWORD share, DWORD disposition) {
  std::wstring wide = Widen(path);
  const HANDLE handle = ::CreateFileW(wide.c_str(), access, share, nullptr, disposition,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    ThrowOpenError(wide);
  }
  return std::make_unique<WinFile>(handle, std::move(wide), (access & GENERIC_WRITE) != 0);
}

// A pipe or a character device (NUL, CON) is no file to read to its end.
std::unique_ptr<WinFile> OpenRegular(std::string_view path, DWORD access, DWORD share) {
  auto file = Open(path, access, share, OPEN_EXISTING);
  if (::GetFileType(file->Handle()) != FILE_TYPE_DISK) {
    throw std::system_error(NotRegularFileError(), "open");
  }
  return file;
}

}  // namespace

// Others may read the file meanwhile; nobody else may open it for writing.
std::unique_ptr<FileDevice> OpenForUpdate(std::string_view utf8Path) {
  return OpenRegular(utf8Path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ);
}

// A reader must admit the writer that may already hold the file.
std::unique_ptr<FileDevice> OpenForRead(std::string_view utf8Path) {
  return OpenRegular(utf8Path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
}

std::unique_ptr<FileDevice> CreateNew(std::string_view utf8Path) {
  return Open(utf8Path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS);
}

void RemoveFile(std::string_view utf8Path) {
  if (!::DeleteFileW(Widen(utf8Path).c_str())) {
    ThrowLastError("delete");
  }
}

// Creates a new file of a name no other file has and lets the system delete it on closing.
void CheckFolderWritable(std::string_view utf8Folder) {
  std::wstring probe = Widen(utf8Folder);
  if (!probe.empty() && probe.back() != L'\\' && probe.back() != L'/') {
    probe += L'\\';
  }
  probe += L".fwupdater-probe-" + std::to_wstring(::GetCurrentProcessId()) + L".tmp";
  const HANDLE handle = ::CreateFileW(
      probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
      FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    ThrowLastError("create");
  }
  ::CloseHandle(handle);
}

}  // namespace fw::platform

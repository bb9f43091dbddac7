// Win32 files: CreateFileW with a share mode as the writer lock, positioned ReadFile/WriteFile
// through SetFilePointerEx, FlushFileBuffers.
#include <windows.h>

#include <algorithm>
#include <string>
#include <system_error>

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

class WinFile final : public FileDevice {
 public:
  explicit WinFile(HANDLE handle) : handle_(handle) {}
  ~WinFile() override { ::CloseHandle(handle_); }
  WinFile(const WinFile&) = delete;
  WinFile& operator=(const WinFile&) = delete;

  std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
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
  }

 private:
  void Seek(std::uint64_t offset) {
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(handle_, position, nullptr, FILE_BEGIN)) {
      ThrowLastError("seek");
    }
  }

  HANDLE handle_;
};

// The failures of an open that the user is told apart, as the portable codes the core reads;
// every other one keeps the system's own code and text.
[[noreturn]] void ThrowOpenError() {
  const DWORD error = ::GetLastError();
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
  const HANDLE handle = ::CreateFileW(Widen(path).c_str(), access, share, nullptr, disposition,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    ThrowOpenError();
  }
  return std::make_unique<WinFile>(handle);
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

}  // namespace fw::platform

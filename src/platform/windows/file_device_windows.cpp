// Win32 files: CreateFileW with a share mode as the writer lock, positioned ReadFile/WriteFile
// through SetFilePointerEx, FlushFileBuffers (also for the write-back of long writes, which has no
// range form on Windows).
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
    unflushed_ = true;
  }

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

 private:
  void Seek(std::uint64_t offset) {
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(handle_, position, nullptr, FILE_BEGIN)) {
      ThrowLastError("seek");
    }
  }

  HANDLE handle_;
  bool unflushed_ = false;  // written to since the last flush
};

std::unique_ptr<FileDevice> Open(std::string_view path, DWORD access, DWORD share,
                                 DWORD disposition) {
  const HANDLE handle = ::CreateFileW(Widen(path).c_str(), access, share, nullptr, disposition,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    ThrowLastError("open");
  }
  return std::make_unique<WinFile>(handle);
}

}  // namespace

// Others may read the file meanwhile; nobody else may open it for writing.
std::unique_ptr<FileDevice> OpenForUpdate(std::string_view utf8Path) {
  return Open(utf8Path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
}

// A reader must admit the writer that may already hold the file.
std::unique_ptr<FileDevice> OpenForRead(std::string_view utf8Path) {
  return Open(utf8Path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
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

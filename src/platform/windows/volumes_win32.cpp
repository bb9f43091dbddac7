// Removable volumes on Windows: drive letters C to Z, the shell's format dialog, and the volume
// device controls that lock, dismount and eject a card.
#include <shlobj.h>
#include <windows.h>
#include <winioctl.h>

#include <cctype>
#include <string>
#include <system_error>

#include "platform/volumes.h"

namespace fw::platform {
namespace {

// The volume device controls, in the order they are issued.
constexpr DWORD kLockVolume = 0x00090018;
constexpr DWORD kDismountVolume = 0x00090020;
constexpr DWORD kEjectMedia = 0x002D4808;
static_assert(kLockVolume == FSCTL_LOCK_VOLUME);
static_assert(kDismountVolume == FSCTL_DISMOUNT_VOLUME);
static_assert(kEjectMedia == IOCTL_STORAGE_EJECT_MEDIA);

constexpr UINT kFormatIdDefault = 0xFFFF;  // SHFMT_ID_DEFAULT
constexpr std::size_t kVolumeTextChars = 100;
constexpr std::size_t kRootPathChars = 60;

// Sets the error mode for a scope; on leaving, sets `after` (the scan) or the mode that was in
// force before (the ejection).
class ErrorModeScope {
 public:
  explicit ErrorModeScope(UINT mode) : after_(SetErrorMode(mode)) {}
  ErrorModeScope(UINT mode, UINT after) : after_(after) { SetErrorMode(mode); }
  ~ErrorModeScope() { SetErrorMode(after_); }
  ErrorModeScope(const ErrorModeScope&) = delete;
  ErrorModeScope& operator=(const ErrorModeScope&) = delete;

 private:
  UINT after_;
};

// An open volume handle, closed on every path.
class VolumeHandle {
 public:
  explicit VolumeHandle(HANDLE handle) : handle_(handle) {}
  ~VolumeHandle() { Close(); }
  VolumeHandle(const VolumeHandle&) = delete;
  VolumeHandle& operator=(const VolumeHandle&) = delete;

  bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return handle_; }
  // Closes the handle; returns whether the close succeeded.
  bool Close() {
    if (!Valid())
      return false;
    const bool closed = CloseHandle(handle_) != 0;
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE handle_;
};

// The system's text for the last error of the calling thread, after what was being done.
[[noreturn]] void ThrowLastError(const std::string& what) {
  const DWORD code = GetLastError();
  throw VolumeOperationFailed(what + ": " + std::system_category().message(static_cast<int>(code)));
}

std::string RootOf(char letter) {
  return std::string(1, letter) + ":\\";
}

// Volume labels come in the system's ANSI code page; the program's texts are UTF-8.
std::string AnsiToUtf8(const char* text) {
  const int wideLength = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (wideLength <= 1)
    return {};
  std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), wideLength);
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1)
    return {};
  std::string utf8(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, utf8.data(), length, nullptr, nullptr);
  utf8.resize(static_cast<std::size_t>(length) - 1);
  return utf8;
}

std::int64_t Bytes(const ULARGE_INTEGER& value) {
  return static_cast<std::int64_t>(value.QuadPart);
}

std::optional<VolumeInfo> ScanDrive(char letter) {
  const std::string root = RootOf(letter);
  if (GetDriveTypeA(root.c_str()) != DRIVE_REMOVABLE)
    return std::nullopt;
  ULARGE_INTEGER freeToCaller{}, total{}, totalFree{};
  if (!GetDiskFreeSpaceExA(root.c_str(), &freeToCaller, &total, &totalFree))
    return std::nullopt;
  char label[kVolumeTextChars] = {};
  char fileSystem[kVolumeTextChars] = {};
  DWORD serial = 0, maxComponent = 0, flags = 0;
  if (!GetVolumeInformationA(root.c_str(), label, sizeof label, &serial, &maxComponent, &flags,
                             fileSystem, sizeof fileSystem)) {
    return std::nullopt;  // a reader without a card fails here
  }
  VolumeInfo volume;
  volume.id = std::string(1, letter);
  volume.rootPath = root.substr(0, kRootPathChars);
  volume.label = AnsiToUtf8(label);
  volume.fileSystem = AnsiToUtf8(fileSystem);
  volume.freeAvailable = Bytes(freeToCaller);
  volume.totalFree = Bytes(totalFree);
  volume.totalSize = Bytes(total);
  volume.key = std::string(1, letter) + ":";
  return volume;
}

// The options value of the format dialog: 1 on the NT family, 0 on older systems.
UINT FormatOptions() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version))
    return 1;
  return version.dwPlatformId == VER_PLATFORM_WIN32_NT ? 1 : 0;
}

std::string FormatFailureText(LONG result) {
  switch (result) {
    case -1:
      return "Format failed";
    case -2:
      return "Format cancelled";
    case -3:
      return "Drive cannot be formatted";
    default:
      return "Format failed (" + std::to_string(result) + ")";
  }
}

char DriveLetterOf(const VolumeInfo& volume) {
  return volume.id.empty() ? '\0' : volume.id.front();
}

bool IsDriveLetter(wchar_t c) {
  return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

}  // namespace

// Releases and ejects the volume of a drive letter (upper or lower case, used as given): lock,
// dismount, eject the medium. Throws VolumeOperationFailed naming the step that failed, the
// closing of the handle included.
void EjectDrive(char letter) {
  const std::string device = std::string("\\\\.\\") + letter + ":";
  VolumeHandle volume(CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
  if (!volume.Valid())
    ThrowLastError("open " + device);
  for (const DWORD control : {kLockVolume, kDismountVolume, kEjectMedia}) {
    DWORD returned = 0;
    if (!DeviceIoControl(volume.Get(), control, nullptr, 0, nullptr, 0, &returned, nullptr))
      ThrowLastError("control " + std::to_string(control) + " on " + device);
  }
  if (!volume.Close())
    ThrowLastError("close " + device);
}

class Win32Volumes : public Volumes {
 public:
  std::vector<VolumeInfo> List() override {
    std::vector<VolumeInfo> volumes;
    ErrorModeScope quiet(SEM_FAILCRITICALERRORS, 0);
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
      if (auto volume = ScanDrive(letter))
        volumes.push_back(std::move(*volume));
    }
    return volumes;
  }

  std::int64_t FreeSpace(const std::string& rootPath) override {
    ULARGE_INTEGER freeToCaller{}, total{};
    if (!GetDiskFreeSpaceExA(rootPath.c_str(), &freeToCaller, &total, nullptr))
      ThrowLastError("free space of " + rootPath);
    return Bytes(freeToCaller);
  }

  std::string EnsureMounted(const VolumeInfo& volume, Interaction) override {
    if (!volume.rootPath.empty())
      return volume.rootPath;
    const char letter = DriveLetterOf(volume);
    if (letter == '\0')
      throw VolumeOperationFailed("volume " + volume.key + " has no drive letter");
    return RootOf(letter);
  }

  void FormatFat16(const VolumeInfo& volume, Interaction) override {
    const char letter =
        static_cast<char>(std::toupper(static_cast<unsigned char>(DriveLetterOf(volume))));
    if (letter < 'A' || letter > 'Z' || GetDriveTypeA(RootOf(letter).c_str()) != DRIVE_REMOVABLE)
      throw VolumeNotRemovable("drive " + volume.id + " is not removable");
    const DWORD result =
        SHFormatDrive(reinterpret_cast<HWND>(ownerWindow_), static_cast<UINT>(letter - 'A'),
                      kFormatIdDefault, FormatOptions());
    const LONG code = static_cast<LONG>(result);
    if (code < 0)
      throw VolumeOperationFailed(FormatFailureText(code));
  }

  std::optional<VolumeInfo> VolumeOfPath(const std::filesystem::path& path) override {
    const std::wstring& text = path.native();
    if (text.empty() || !IsDriveLetter(text.front()))
      return std::nullopt;  // also a network path (two backslashes)
    const char letter = static_cast<char>(text.front());
    VolumeInfo volume;
    volume.id = std::string(1, letter);
    volume.rootPath = RootOf(letter);
    volume.key = std::string(1, letter) + ":";
    return volume;
  }

  void Eject(const VolumeInfo& volume, Interaction) override {
    ErrorModeScope quiet(SEM_FAILCRITICALERRORS);
    EjectDrive(DriveLetterOf(volume));
  }
};

std::unique_ptr<Volumes> MakeSystemVolumes() {
  return std::make_unique<Win32Volumes>();
}

}  // namespace fw::platform

// Removable volumes that hold a card: discovery, free space, FAT16 formatting, release and
// ejection. One implementation per OS (Windows: drive letters and the Win32 calls; Linux:
// UDisks2 over D-Bus) and a fake for tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace fw::platform {

struct VolumeInfo {
  std::string id;          // shown to the user: drive letter "E" on Windows, "sdb1" on Linux
  std::string rootPath;    // "E:\" on Windows, the mount point on Linux (empty when not mounted)
  std::string label;       // volume label, empty when the volume has none
  std::string fileSystem;  // "FAT", "FAT32", "vfat", ...
  std::int64_t freeAvailable = 0;  // bytes free to the calling user
  std::int64_t totalFree = 0;      // bytes free on the volume
  std::int64_t totalSize = 0;      // bytes of the volume
  std::string key;                 // stable handle to act on the volume later (D-Bus path, "E:")
};

// Raised by FormatFat16 when the volume is not a removable one (any more). The caller shows the
// system's own text for it; what() is only a technical description.
class VolumeNotRemovable : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Raised when the system's volume service cannot be reached or does not answer. what() is only a
// technical description; the caller shows the system's text with it.
class VolumeServiceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Raised when an operation on a volume (free space, mount, format, eject) did not do what it
// promises; what() is the system's reason ("Format cancelled", the service's error).
class VolumeOperationFailed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Whether the user may be asked for a password (polkit) while an operation runs.
enum class Interaction { Allowed, Forbidden };

// The largest volume that FAT16 covers with clusters of at most 32 KiB, which the recorder
// needs: at most 65524 clusters of 64 sectors after the reserved sectors (aligned to a
// cluster), two FATs of 256 sectors and a root directory of 32 sectors; up to 63 sectors more
// stay unused after the last cluster. 4194207 sectors of 512 bytes: 2047 MiB and a bit. A
// larger volume cannot be formatted for the recorder.
inline constexpr std::int64_t kFat16SectorBytes = 512;
inline constexpr std::int64_t kMaxFat16VolumeBytes =
    (64 + 2 * 256 + 32 + std::int64_t{65524} * 64 + 63) * kFat16SectorBytes;

// Whether a volume of `bytes` bytes can be formatted to FAT16 for the recorder: the one test of
// that limit, for the preparation's refusal and the formatters alike.
constexpr bool FitsFat16(std::int64_t bytes) {
  return bytes <= kMaxFat16VolumeBytes;
}

class Volumes {
 public:
  virtual ~Volumes() = default;

  // The removable volumes that hold a medium, in a stable order (Windows: letters C to Z).
  virtual std::vector<VolumeInfo> List() = 0;

  // Bytes free to the caller on the volume of a root path. Throws VolumeOperationFailed when the
  // system cannot tell.
  virtual std::int64_t FreeSpace(const std::string& rootPath) = 0;

  // Makes sure the volume is mounted and returns its root path (mounting it when needed).
  // Throws VolumeOperationFailed when the volume is gone or cannot be mounted.
  virtual std::string EnsureMounted(const VolumeInfo& volume, Interaction interaction) = 0;

  // Formats the volume to FAT (FAT16). Throws VolumeNotRemovable for a volume that is not
  // removable any more, VolumeOperationFailed with the reason when the format was cancelled or
  // failed.
  virtual void FormatFat16(const VolumeInfo& volume, Interaction interaction) = 0;

  // The removable volume that holds a path; nothing when the path is on no removable volume.
  virtual std::optional<VolumeInfo> VolumeOfPath(const std::filesystem::path& path) = 0;

  // Flushes, releases and ejects the volume. Throws VolumeOperationFailed with the reason when a
  // step failed.
  virtual void Eject(const VolumeInfo& volume, Interaction interaction) = 0;

  // The window that owns the dialogs the system shows while formatting (Windows: the format
  // dialog), as a native window handle; 0 for none (the command line). Ignored where no such
  // dialog exists.
  virtual void SetOwnerWindow(std::uintptr_t nativeWindow) { ownerWindow_ = nativeWindow; }

 protected:
  std::uintptr_t ownerWindow_ = 0;
};

// The volumes of this operating system.
std::unique_ptr<Volumes> MakeSystemVolumes();

}  // namespace fw::platform

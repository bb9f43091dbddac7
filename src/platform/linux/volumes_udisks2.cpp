#include "platform/linux/volumes_udisks2.h"

#include <fcntl.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/linux/fat16_formatter.h"

namespace fw::platform {

namespace {

constexpr const char* kService = "org.freedesktop.UDisks2";
constexpr const char* kRoot = "/org/freedesktop/UDisks2";
constexpr const char* kObjectManager = "org.freedesktop.DBus.ObjectManager";
constexpr const char* kBlock = "org.freedesktop.UDisks2.Block";
constexpr const char* kFilesystem = "org.freedesktop.UDisks2.Filesystem";
constexpr const char* kDrive = "org.freedesktop.UDisks2.Drive";

// After a format UDisks2 probes the device again; the new file system appears within moments.
constexpr int kMountAttempts = 20;
constexpr auto kMountRetryDelay = std::chrono::milliseconds(250);

// Options of every action: without a user to ask, polkit must refuse instead of prompting.
std::vector<dbus::Option> Options(Interaction interaction) {
  std::vector<dbus::Option> options;
  if (interaction == Interaction::Forbidden)
    options.push_back({"auth.no_user_interaction", true});
  return options;
}

VolumeInfo InfoOf(const UDisks2Volume& volume) {
  VolumeInfo info;
  info.id = volume.deviceName;
  info.label = volume.label;
  info.fileSystem = volume.fileSystem;
  info.key = volume.objectPath;
  info.totalSize = static_cast<std::int64_t>(volume.size);
  if (volume.mountPoints.empty())
    return info;
  info.rootPath = volume.mountPoints.front();
  struct statvfs stats {};
  if (::statvfs(info.rootPath.c_str(), &stats) == 0) {
    const auto unit = static_cast<std::int64_t>(stats.f_frsize);
    info.freeAvailable = static_cast<std::int64_t>(stats.f_bavail) * unit;
    info.totalFree = static_cast<std::int64_t>(stats.f_bfree) * unit;
    info.totalSize = static_cast<std::int64_t>(stats.f_blocks) * unit;
  }
  return info;
}

// Whether `root` is `path` or one of its parent folders, compared by whole components.
bool Contains(const std::filesystem::path& root, const std::filesystem::path& path) {
  auto part = path.begin();
  for (auto step = root.begin(); step != root.end(); ++step, ++part) {
    if (step->empty() && std::next(step) == root.end())
      return true;  // the trailing separator of "/media/card/"
    if (part == path.end() || *step != *part)
      return false;
  }
  return true;
}

}  // namespace

UDisks2Volumes::UDisks2Volumes(UDisks2Timeouts timeouts)
    : bus_(dbus::OpenSystemBus(timeouts.query)), timeouts_(timeouts) {}

dbus::MethodCall UDisks2Volumes::Call(const std::string& path, const char* interface,
                                      const char* member) {
  return dbus::MethodCall(bus_.get(), kService, path, interface, member);
}

UDisks2Objects UDisks2Volumes::ManagedObjects() {
  try {
    const auto reply = Call(kRoot, kObjectManager, "GetManagedObjects").Send(timeouts_.query);
    return dbus::ReadManagedObjects(reply.get());
  } catch (const dbus::CallFailed& failure) {
    // No answer is not "no cards": the caller must learn that the service could not be asked.
    throw VolumeServiceError("UDisks2 did not list its objects: " + failure.Message());
  }
}

// The volume as UDisks2 knows it now; VolumeOperationFailed when it is gone.
UDisks2Volume UDisks2Volumes::CurrentVolume(const VolumeInfo& volume) {
  auto current = FindRemovableVolume(ManagedObjects(), volume.key);
  if (!current)
    throw VolumeOperationFailed("no removable volume " + volume.key);
  return std::move(*current);
}

// Unmounts the volume unless it is not mounted; VolumeOperationFailed with the service's error
// ("org.freedesktop.UDisks2.Error.DeviceBusy: ...").
void UDisks2Volumes::Unmount(const UDisks2Volume& volume, Interaction interaction) {
  if (volume.mountPoints.empty())
    return;
  Call(volume.objectPath, kFilesystem, "Unmount")
      .Options(Options(interaction))
      .Send(timeouts_.action);
}

// Mounts the volume unless it is mounted already and returns its mount point;
// VolumeOperationFailed with the service's error.
std::string UDisks2Volumes::Mount(const UDisks2Volume& volume, Interaction interaction) {
  if (!volume.mountPoints.empty())
    return volume.mountPoints.front();
  const auto reply = Call(volume.objectPath, kFilesystem, "Mount")
                         .Options(Options(interaction))
                         .Send(timeouts_.action);
  auto root = dbus::ReadString(reply.get());
  if (root.empty())
    throw VolumeOperationFailed("UDisks2 mounted " + volume.deviceName + " nowhere");
  return root;
}

// Writes FAT16 over the device that UDisks2 opens for us; VolumeOperationFailed with the reason.
void UDisks2Volumes::WriteThroughUDisks2(const UDisks2Volume& volume, Interaction interaction) {
  auto options = Options(interaction);
  // Exclusive: the kernel refuses while anything still holds the volume.
  options.push_back({"flags", std::int32_t{O_EXCL}});
  // The reply owns the descriptor and closes it when it is released, after the format.
  const auto reply = Call(volume.objectPath, kBlock, "OpenDevice")
                         .String("rw")
                         .Options(options)
                         .Send(timeouts_.action);
  const int device = dbus::ReadFileDescriptor(reply.get());
  if (device < 0)
    throw VolumeOperationFailed("UDisks2 returned no device handle");
  try {
    WriteFat16(device, volume.partitionOffset, volume.label);
  } catch (const std::exception& error) {
    throw VolumeOperationFailed(error.what());
  }
}

// Mounts a volume that was in use again after a failed format, so that it is left as it was
// found (for instance when the user refused the device access). The format's failure is what the
// user is told; a failure to mount again leaves the card unmounted, which the next listing shows.
void UDisks2Volumes::MountAgain(const UDisks2Volume& volume, Interaction interaction) {
  if (volume.mountPoints.empty())
    return;
  auto unmounted = volume;
  unmounted.mountPoints.clear();
  try {
    Mount(unmounted, interaction);
  } catch (const VolumeOperationFailed&) {
    // See above: the format's failure is reported.
  }
}

// After a format UDisks2 probes the device again; mounts the new file system as soon as it
// appears. The file system is on the card already: this only brings it back into view, and a
// failure here leaves the caller's EnsureMounted to try again and tell.
void UDisks2Volumes::BringBackIntoView(const UDisks2Volume& volume, Interaction interaction) {
  try {
    Call(volume.objectPath, kBlock, "Rescan").Options(Options(interaction)).Send(timeouts_.action);
  } catch (const dbus::CallFailed&) {
    // UDisks2 probes a device it was handed back on its own as well; the mounting below tells.
  }
  for (int attempt = 0; attempt < kMountAttempts; ++attempt) {
    const auto fresh = FindRemovableVolume(ManagedObjects(), volume.objectPath);
    try {
      if (fresh) {
        Mount(*fresh, interaction);
        return;
      }
    } catch (const VolumeOperationFailed&) {
      // Not ready yet: tried again after a moment.
    }
    std::this_thread::sleep_for(kMountRetryDelay);
  }
}

std::vector<VolumeInfo> UDisks2Volumes::List() {
  std::vector<VolumeInfo> list;
  for (const auto& volume : RemovableVolumes(ManagedObjects()))
    list.push_back(InfoOf(volume));
  return list;
}

std::int64_t UDisks2Volumes::FreeSpace(const std::string& rootPath) {
  if (rootPath.empty())
    throw VolumeOperationFailed("no mount point to measure");
  struct statvfs stats {};
  if (::statvfs(rootPath.c_str(), &stats) != 0)
    throw VolumeOperationFailed(rootPath + ": " + std::generic_category().message(errno));
  return static_cast<std::int64_t>(stats.f_bavail) * static_cast<std::int64_t>(stats.f_frsize);
}

std::string UDisks2Volumes::EnsureMounted(const VolumeInfo& volume, Interaction interaction) {
  return Mount(CurrentVolume(volume), interaction);
}

void UDisks2Volumes::FormatFat16(const VolumeInfo& volume, Interaction interaction) {
  const auto current = FindRemovableVolume(ManagedObjects(), volume.key);
  if (!current)
    throw VolumeNotRemovable("not a removable volume: " + volume.key);
  // Refused before the card is unmounted, so that a card that cannot be formatted stays in use.
  const auto bytes = static_cast<std::int64_t>(
      std::min<std::uint64_t>(current->size, std::numeric_limits<std::int64_t>::max()));
  if (!FitsFat16(bytes))
    throw VolumeOperationFailed(Fat16VolumeTooLarge(bytes).what());
  Unmount(*current, interaction);
  try {
    WriteThroughUDisks2(*current, interaction);
  } catch (const VolumeOperationFailed&) {
    MountAgain(*current, interaction);
    throw;
  }
  BringBackIntoView(*current, interaction);
}

std::optional<VolumeInfo> UDisks2Volumes::VolumeOfPath(const std::filesystem::path& path) {
  std::error_code error;
  auto target = std::filesystem::weakly_canonical(std::filesystem::absolute(path), error);
  if (error)
    target = std::filesystem::absolute(path).lexically_normal();

  std::optional<VolumeInfo> best;
  std::size_t bestLength = 0;
  for (const auto& volume : RemovableVolumes(ManagedObjects())) {
    for (const auto& mountPoint : volume.mountPoints) {
      const std::filesystem::path root = std::filesystem::path(mountPoint).lexically_normal();
      if (Contains(root, target) && (!best || root.native().size() > bestLength)) {
        best = InfoOf(volume);
        best->rootPath = mountPoint;
        bestLength = root.native().size();
      }
    }
  }
  return best;
}

void UDisks2Volumes::Eject(const VolumeInfo& volume, Interaction interaction) {
  const UDisks2Volume current = CurrentVolume(volume);
  Unmount(current, interaction);
  if (!current.driveEjectable)
    return;
  Call(current.drivePath, kDrive, "Eject").Options(Options(interaction)).Send(timeouts_.action);
}

std::unique_ptr<Volumes> MakeSystemVolumes() {
  return std::make_unique<UDisks2Volumes>();
}

}  // namespace fw::platform

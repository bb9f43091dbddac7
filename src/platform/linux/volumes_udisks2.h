// Removable volumes on Linux through UDisks2 over the system D-Bus, as desktop file managers
// handle them: unprivileged, with polkit authorising mount, unmount, device access and eject.
#pragma once

#include <chrono>

#include "platform/linux/volumes_udisks2_bus.h"
#include "platform/volumes.h"

namespace fw::platform {

// How long a call to UDisks2 may wait for its answer.
struct UDisks2Timeouts {
  // Questions UDisks2 answers at once (listing its objects): the D-Bus default.
  std::chrono::milliseconds query = std::chrono::seconds(25);
  // Actions (mount, unmount, device access, eject) may wait for the user to type a password for
  // polkit.
  std::chrono::milliseconds action = std::chrono::minutes(5);
};

class UDisks2Volumes : public Volumes {
 public:
  // Opens a private connection to the system bus (DBUS_SYSTEM_BUS_ADDRESS when set), waiting for
  // it at most timeouts.query. Throws VolumeServiceError when the bus cannot be reached.
  explicit UDisks2Volumes(UDisks2Timeouts timeouts = {});

  std::vector<VolumeInfo> List() override;
  std::int64_t FreeSpace(const std::string& rootPath) override;
  std::string EnsureMounted(const VolumeInfo& volume, Interaction interaction) override;
  // Unmounts the volume, opens its device through UDisks2 (one authorisation), lays FAT16 over
  // it, has UDisks2 re-read it and mounts it again. A volume that FAT16 cannot cover is refused
  // before anything is touched.
  void FormatFat16(const VolumeInfo& volume, Interaction interaction) override;
  std::optional<VolumeInfo> VolumeOfPath(const std::filesystem::path& path) override;
  // Unmounts (which flushes) and then ejects the medium of the volume's drive. A drive that
  // cannot eject (a built-in card slot) is done once the volume is unmounted.
  void Eject(const VolumeInfo& volume, Interaction interaction) override;

 private:
  dbus::MethodCall Call(const std::string& path, const char* interface, const char* member);
  UDisks2Objects ManagedObjects();
  UDisks2Volume CurrentVolume(const VolumeInfo& volume);
  void Unmount(const UDisks2Volume& volume, Interaction interaction);
  std::string Mount(const UDisks2Volume& volume, Interaction interaction);
  void WriteThroughUDisks2(const UDisks2Volume& volume, Interaction interaction);
  void MountAgain(const UDisks2Volume& volume, Interaction interaction);
  void BringBackIntoView(const UDisks2Volume& volume, Interaction interaction);

  // One connection per instance: sd-bus connections are not shared between threads, and each
  // instance follows the bus address of the moment it was made.
  dbus::Bus bus_;
  UDisks2Timeouts timeouts_;
};

}  // namespace fw::platform

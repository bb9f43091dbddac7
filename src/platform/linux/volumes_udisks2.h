// Removable volumes on Linux through UDisks2 over the system D-Bus, as desktop file managers
// handle them: unprivileged, with polkit authorising mount, unmount, device access and eject.
#pragma once

#include <QString>

#include "platform/volumes.h"

namespace fw::platform {

class UDisks2Volumes : public Volumes {
 public:
  // Opens a private connection to the system bus (DBUS_SYSTEM_BUS_ADDRESS when set); needs no
  // Qt application object. Throws std::runtime_error when the bus cannot be reached.
  UDisks2Volumes();
  ~UDisks2Volumes() override;
  UDisks2Volumes(const UDisks2Volumes&) = delete;
  UDisks2Volumes& operator=(const UDisks2Volumes&) = delete;

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
  QString connectionName_;
};

}  // namespace fw::platform

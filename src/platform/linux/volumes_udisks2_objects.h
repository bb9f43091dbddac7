// What UDisks2's object manager says about block devices and drives, reduced to the volumes that
// can hold a recorder's card: file systems on removable media that are present.
#pragma once

#include <QByteArrayList>
#include <QDBusObjectPath>
#include <QMap>
#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fw::platform {

// org.freedesktop.DBus.ObjectManager.GetManagedObjects: object → interface → property → value.
using UDisks2Interfaces = QMap<QString, QVariantMap>;
using UDisks2Objects = QMap<QDBusObjectPath, UDisks2Interfaces>;

// Registers the types above with Qt DBus; safe to call more than once.
void RegisterUDisks2Types();

// One file system on a removable medium.
struct UDisks2Volume {
  std::string objectPath;                // the block device's object
  std::string drivePath;                 // its drive's object
  std::string deviceName;                // "sdb1", "mmcblk0p1"
  std::string label;                     // IdLabel
  std::string fileSystem;                // IdType and IdVersion: "vfat FAT16"
  std::uint64_t size = 0;                // bytes of the block device
  std::uint64_t partitionOffset = 0;     // bytes before the volume on its disk (0: no partition)
  std::vector<std::string> mountPoints;  // empty when not mounted
  bool driveEjectable = false;
};

// The file systems whose drive has removable media (or sits on USB or SDIO) with a medium
// present, leaving out what UDisks2 marks as system or ignored; ordered by device name.
std::vector<UDisks2Volume> RemovableVolumes(const UDisks2Objects& objects);

// The removable volume of a block device object, if it is one.
std::optional<UDisks2Volume> FindRemovableVolume(const UDisks2Objects& objects,
                                                 const std::string& objectPath);

}  // namespace fw::platform

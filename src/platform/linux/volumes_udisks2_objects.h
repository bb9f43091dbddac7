// What UDisks2's object manager says about block devices and drives, reduced to the volumes that
// can hold a recorder's card: file systems on removable media that are present. Plain values, so
// that the choice of volumes does not depend on how the answer travelled over the bus.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace fw::platform {

// One property value as far as the volumes need it: booleans, integers (signed ones as
// std::int64_t, unsigned ones as std::uint64_t), texts and object paths (std::string), byte
// strings ("ay", up to the first NUL: std::string) and lists of byte strings ("aay"). Anything
// else is held as std::monostate.
using UDisks2Value = std::variant<std::monostate, bool, std::int64_t, std::uint64_t, std::string,
                                  std::vector<std::string>>;

// org.freedesktop.DBus.ObjectManager.GetManagedObjects: object → interface → property → value.
using UDisks2Properties = std::map<std::string, UDisks2Value, std::less<>>;
using UDisks2Interfaces = std::map<std::string, UDisks2Properties, std::less<>>;
using UDisks2Objects = std::map<std::string, UDisks2Interfaces, std::less<>>;

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

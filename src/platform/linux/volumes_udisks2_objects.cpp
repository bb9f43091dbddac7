#include "platform/linux/volumes_udisks2_objects.h"

#include <algorithm>
#include <string_view>

namespace fw::platform {

namespace {

constexpr std::string_view kBlock = "org.freedesktop.UDisks2.Block";
constexpr std::string_view kFilesystem = "org.freedesktop.UDisks2.Filesystem";
constexpr std::string_view kPartition = "org.freedesktop.UDisks2.Partition";
constexpr std::string_view kDrive = "org.freedesktop.UDisks2.Drive";

const UDisks2Value* Find(const UDisks2Properties& properties, std::string_view name) {
  const auto found = properties.find(name);
  return found == properties.end() ? nullptr : &found->second;
}

bool Bool(const UDisks2Properties& properties, std::string_view name) {
  const auto* value = Find(properties, name);
  return value && std::holds_alternative<bool>(*value) && std::get<bool>(*value);
}

// A text, an object path or a byte string; empty when the property is missing or is none.
std::string Text(const UDisks2Properties& properties, std::string_view name) {
  const auto* value = Find(properties, name);
  return value && std::holds_alternative<std::string>(*value) ? std::get<std::string>(*value)
                                                              : std::string();
}

// An integer of any width; 0 when the property is missing, negative or no integer.
std::uint64_t Unsigned(const UDisks2Properties& properties, std::string_view name) {
  const auto* value = Find(properties, name);
  if (!value)
    return 0;
  if (const auto* number = std::get_if<std::uint64_t>(value))
    return *number;
  if (const auto* number = std::get_if<std::int64_t>(value); number && *number > 0)
    return static_cast<std::uint64_t>(*number);
  return 0;
}

// A list of byte strings, such as the mount points, without empty ones.
std::vector<std::string> Texts(const UDisks2Properties& properties, std::string_view name) {
  const auto* value = Find(properties, name);
  if (!value || !std::holds_alternative<std::vector<std::string>>(*value))
    return {};
  auto texts = std::get<std::vector<std::string>>(*value);
  std::erase_if(texts, [](const std::string& text) { return text.empty(); });
  return texts;
}

bool HoldsCard(const UDisks2Properties& drive) {
  const auto bus = Text(drive, "ConnectionBus");
  const bool removable =
      Bool(drive, "Removable") || Bool(drive, "MediaRemovable") || bus == "usb" || bus == "sdio";
  return removable && Bool(drive, "MediaAvailable");
}

const UDisks2Properties* Interface(const UDisks2Interfaces& interfaces, std::string_view name) {
  const auto found = interfaces.find(name);
  return found == interfaces.end() ? nullptr : &found->second;
}

std::optional<UDisks2Volume> VolumeOf(const UDisks2Objects& objects, const std::string& path,
                                      const UDisks2Interfaces& interfaces) {
  const auto* block = Interface(interfaces, kBlock);
  const auto* filesystem = Interface(interfaces, kFilesystem);
  if (!block || !filesystem)
    return std::nullopt;
  if (Text(*block, "IdUsage") != "filesystem" || Bool(*block, "HintSystem") ||
      Bool(*block, "HintIgnore"))
    return std::nullopt;
  const auto drivePath = Text(*block, "Drive");
  const auto driveObject = objects.find(drivePath);
  if (driveObject == objects.end())
    return std::nullopt;
  const auto* drive = Interface(driveObject->second, kDrive);
  if (!drive || !HoldsCard(*drive))
    return std::nullopt;

  UDisks2Volume volume;
  volume.objectPath = path;
  volume.drivePath = drivePath;
  const auto device = Text(*block, "Device");
  volume.deviceName = device.substr(device.rfind('/') + 1);
  volume.label = Text(*block, "IdLabel");
  volume.fileSystem = Text(*block, "IdType");
  if (const auto version = Text(*block, "IdVersion"); !version.empty())
    volume.fileSystem += " " + version;
  volume.size = Unsigned(*block, "Size");
  if (const auto* partition = Interface(interfaces, kPartition))
    volume.partitionOffset = Unsigned(*partition, "Offset");
  volume.mountPoints = Texts(*filesystem, "MountPoints");
  volume.driveEjectable = Bool(*drive, "Ejectable");
  return volume;
}

}  // namespace

std::vector<UDisks2Volume> RemovableVolumes(const UDisks2Objects& objects) {
  std::vector<UDisks2Volume> volumes;
  for (const auto& [path, interfaces] : objects) {
    if (auto volume = VolumeOf(objects, path, interfaces))
      volumes.push_back(std::move(*volume));
  }
  std::sort(volumes.begin(), volumes.end(),
            [](const auto& a, const auto& b) { return a.deviceName < b.deviceName; });
  return volumes;
}

std::optional<UDisks2Volume> FindRemovableVolume(const UDisks2Objects& objects,
                                                 const std::string& objectPath) {
  const auto object = objects.find(objectPath);
  if (object == objects.end())
    return std::nullopt;
  return VolumeOf(objects, object->first, object->second);
}

}  // namespace fw::platform

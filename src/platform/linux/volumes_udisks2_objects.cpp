#include "platform/linux/volumes_udisks2_objects.h"

#include <QDBusArgument>
#include <QDBusMetaType>

#include <algorithm>

namespace fw::platform {

namespace {

const QString kBlock = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString kFilesystem = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
const QString kPartition = QStringLiteral("org.freedesktop.UDisks2.Partition");
const QString kDrive = QStringLiteral("org.freedesktop.UDisks2.Drive");

// A byte-string property ("ay"), without the terminating NUL UDisks2 sends.
std::string ByteString(const QVariant& value) {
  QByteArray bytes = value.toByteArray();
  if (value.canConvert<QDBusArgument>())
    bytes = qdbus_cast<QByteArray>(value.value<QDBusArgument>());
  const auto end = bytes.indexOf('\0');
  return (end < 0 ? bytes : bytes.left(end)).toStdString();
}

// A list of byte strings ("aay"), such as the mount points.
std::vector<std::string> ByteStrings(const QVariant& value) {
  QByteArrayList list;
  if (value.canConvert<QDBusArgument>())
    list = qdbus_cast<QByteArrayList>(value.value<QDBusArgument>());
  else
    list = value.value<QByteArrayList>();
  std::vector<std::string> result;
  for (const auto& item : list) {
    const auto text = ByteString(item);
    if (!text.empty())
      result.push_back(text);
  }
  return result;
}

bool HoldsCard(const QVariantMap& drive) {
  const auto bus = drive.value(QStringLiteral("ConnectionBus")).toString();
  const bool removable = drive.value(QStringLiteral("Removable")).toBool() ||
                         drive.value(QStringLiteral("MediaRemovable")).toBool() ||
                         bus == QStringLiteral("usb") || bus == QStringLiteral("sdio");
  return removable && drive.value(QStringLiteral("MediaAvailable")).toBool();
}

std::optional<UDisks2Volume> VolumeOf(const UDisks2Objects& objects, const QDBusObjectPath& path,
                                      const UDisks2Interfaces& interfaces) {
  if (!interfaces.contains(kBlock) || !interfaces.contains(kFilesystem))
    return std::nullopt;
  const auto& block = interfaces[kBlock];
  if (block.value(QStringLiteral("IdUsage")).toString() != QStringLiteral("filesystem") ||
      block.value(QStringLiteral("HintSystem")).toBool() ||
      block.value(QStringLiteral("HintIgnore")).toBool())
    return std::nullopt;
  const auto drivePath = block.value(QStringLiteral("Drive")).value<QDBusObjectPath>();
  const auto drive = objects.constFind(drivePath);
  if (drive == objects.constEnd() || !drive->contains(kDrive) || !HoldsCard((*drive)[kDrive]))
    return std::nullopt;

  UDisks2Volume volume;
  volume.objectPath = path.path().toStdString();
  volume.drivePath = drivePath.path().toStdString();
  const auto device = ByteString(block.value(QStringLiteral("Device")));
  volume.deviceName = device.substr(device.rfind('/') + 1);
  volume.label = block.value(QStringLiteral("IdLabel")).toString().toStdString();
  volume.fileSystem = block.value(QStringLiteral("IdType")).toString().toStdString();
  if (const auto version = block.value(QStringLiteral("IdVersion")).toString(); !version.isEmpty())
    volume.fileSystem += " " + version.toStdString();
  volume.size = block.value(QStringLiteral("Size")).toULongLong();
  if (interfaces.contains(kPartition))
    volume.partitionOffset = interfaces[kPartition].value(QStringLiteral("Offset")).toULongLong();
  volume.mountPoints = ByteStrings(interfaces[kFilesystem].value(QStringLiteral("MountPoints")));
  volume.driveEjectable = (*drive)[kDrive].value(QStringLiteral("Ejectable")).toBool();
  return volume;
}

}  // namespace

void RegisterUDisks2Types() {
  qDBusRegisterMetaType<UDisks2Interfaces>();
  qDBusRegisterMetaType<UDisks2Objects>();
  qDBusRegisterMetaType<QByteArrayList>();
}

std::vector<UDisks2Volume> RemovableVolumes(const UDisks2Objects& objects) {
  std::vector<UDisks2Volume> volumes;
  for (auto object = objects.constBegin(); object != objects.constEnd(); ++object) {
    if (auto volume = VolumeOf(objects, object.key(), object.value()))
      volumes.push_back(std::move(*volume));
  }
  std::sort(volumes.begin(), volumes.end(),
            [](const auto& a, const auto& b) { return a.deviceName < b.deviceName; });
  return volumes;
}

std::optional<UDisks2Volume> FindRemovableVolume(const UDisks2Objects& objects,
                                                 const std::string& objectPath) {
  const QDBusObjectPath path(QString::fromStdString(objectPath));
  const auto object = objects.constFind(path);
  if (object == objects.constEnd())
    return std::nullopt;
  return VolumeOf(objects, path, object.value());
}

}  // namespace fw::platform

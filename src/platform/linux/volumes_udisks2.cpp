#include "platform/linux/volumes_udisks2.h"

#include <fcntl.h>
#include <sys/statvfs.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <limits>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "platform/linux/fat16_formatter.h"
#include "platform/linux/volumes_udisks2_objects.h"

namespace fw::platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.UDisks2");
const QString kRoot = QStringLiteral("/org/freedesktop/UDisks2");
const QString kBlock = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString kFilesystem = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
const QString kDrive = QStringLiteral("org.freedesktop.UDisks2.Drive");

// A query answers at once; an action may wait for the user to type a password for polkit.
constexpr int kQueryTimeoutMs = 25'000;
constexpr int kActionTimeoutMs = 5 * 60'000;
// After a format UDisks2 probes the device again; the new file system appears within moments.
constexpr int kMountAttempts = 20;
constexpr auto kMountRetryDelay = std::chrono::milliseconds(250);

QDBusConnection Bus(const QString& name) {
  return QDBusConnection(name);
}

// Options of every action: without a user to ask, polkit must refuse instead of prompting.
QVariantMap Options(Interaction interaction) {
  QVariantMap options;
  if (interaction == Interaction::Forbidden)
    options.insert(QStringLiteral("auth.no_user_interaction"), true);
  return options;
}

QDBusMessage Call(const QString& connection, const std::string& path, const QString& interface,
                  const QString& method, const QVariantList& arguments, int timeoutMs) {
  auto message =
      QDBusMessage::createMethodCall(kService, QString::fromStdString(path), interface, method);
  message.setArguments(arguments);
  return Bus(connection).call(message, QDBus::Block, timeoutMs);
}

// An error reply becomes VolumeOperationFailed with the service's error
// ("org.freedesktop.UDisks2.Error.DeviceBusy: ...").
void ThrowOnError(const QDBusMessage& reply) {
  if (reply.type() == QDBusMessage::ErrorMessage)
    throw VolumeOperationFailed(
        (reply.errorName() + QStringLiteral(": ") + reply.errorMessage()).toStdString());
}

UDisks2Objects ManagedObjects(const QString& connection) {
  const auto reply =
      Call(connection, kRoot.toStdString(), QStringLiteral("org.freedesktop.DBus.ObjectManager"),
           QStringLiteral("GetManagedObjects"), {}, kQueryTimeoutMs);
  // No answer is not "no cards": the caller must learn that the service could not be asked.
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
    throw VolumeServiceError("UDisks2 did not list its objects: " +
                             reply.errorMessage().toStdString());
  return qdbus_cast<UDisks2Objects>(reply.arguments().constFirst());
}

// The volume as UDisks2 knows it now; VolumeOperationFailed when it is gone.
UDisks2Volume CurrentVolume(const QString& connection, const VolumeInfo& volume) {
  auto current = FindRemovableVolume(ManagedObjects(connection), volume.key);
  if (!current)
    throw VolumeOperationFailed("no removable volume " + volume.key);
  return std::move(*current);
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

// Unmounts the volume unless it is not mounted; VolumeOperationFailed with the service's error.
void Unmount(const QString& connection, const UDisks2Volume& volume, Interaction interaction) {
  if (volume.mountPoints.empty())
    return;
  ThrowOnError(Call(connection, volume.objectPath, kFilesystem, QStringLiteral("Unmount"),
                    {Options(interaction)}, kActionTimeoutMs));
}

// Mounts the volume unless it is mounted already and returns its mount point;
// VolumeOperationFailed with the service's error.
std::string Mount(const QString& connection, const UDisks2Volume& volume, Interaction interaction) {
  if (!volume.mountPoints.empty())
    return volume.mountPoints.front();
  const auto reply = Call(connection, volume.objectPath, kFilesystem, QStringLiteral("Mount"),
                          {Options(interaction)}, kActionTimeoutMs);
  ThrowOnError(reply);
  const auto root = reply.arguments().isEmpty()
                        ? std::string()
                        : reply.arguments().constFirst().toString().toStdString();
  if (reply.type() != QDBusMessage::ReplyMessage || root.empty())
    throw VolumeOperationFailed("UDisks2 mounted " + volume.deviceName + " nowhere");
  return root;
}

// Writes FAT16 over the device that UDisks2 opens for us; VolumeOperationFailed with the reason.
void WriteThroughUDisks2(const QString& connection, const UDisks2Volume& volume,
                         Interaction interaction) {
  auto options = Options(interaction);
  // Exclusive: the kernel refuses while anything still holds the volume.
  options.insert(QStringLiteral("flags"), int{O_EXCL});
  const auto reply = Call(connection, volume.objectPath, kBlock, QStringLiteral("OpenDevice"),
                          {QStringLiteral("rw"), options}, kActionTimeoutMs);
  ThrowOnError(reply);
  const auto device = reply.arguments().value(0).value<QDBusUnixFileDescriptor>();
  if (!device.isValid())
    throw VolumeOperationFailed("UDisks2 returned no device handle");
  try {
    WriteFat16(device.fileDescriptor(), volume.partitionOffset, volume.label);
  } catch (const std::exception& error) {
    throw VolumeOperationFailed(error.what());
  }
}

// Mounts a volume that was in use again after a failed format, so that it is left as it was
// found (for instance when the user refused the device access). The format's failure is what the
// user is told; a failure to mount again leaves the card unmounted, which the next listing shows.
void MountAgain(const QString& connection, const UDisks2Volume& volume, Interaction interaction) {
  if (volume.mountPoints.empty())
    return;
  auto unmounted = volume;
  unmounted.mountPoints.clear();
  try {
    Mount(connection, unmounted, interaction);
  } catch (const VolumeOperationFailed&) {
    // See above: the format's failure is reported.
  }
}

// After a format UDisks2 probes the device again; mounts the new file system as soon as it
// appears. The file system is on the card already: this only brings it back into view, and a
// failure here leaves the caller's EnsureMounted to try again and tell.
void BringBackIntoView(const QString& connection, const UDisks2Volume& volume,
                       const VolumeInfo& info, Interaction interaction) {
  Call(connection, volume.objectPath, kBlock, QStringLiteral("Rescan"), {Options(interaction)},
       kActionTimeoutMs);
  for (int attempt = 0; attempt < kMountAttempts; ++attempt) {
    const auto fresh = FindRemovableVolume(ManagedObjects(connection), info.key);
    try {
      if (fresh) {
        Mount(connection, *fresh, interaction);
        return;
      }
    } catch (const VolumeOperationFailed&) {
      // Not ready yet: tried again after a moment.
    }
    std::this_thread::sleep_for(kMountRetryDelay);
  }
}

std::string NewConnectionName() {
  static std::atomic<int> counter{0};
  return "fwupdater-udisks2-" + std::to_string(++counter);
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

UDisks2Volumes::UDisks2Volumes() : connectionName_(QString::fromStdString(NewConnectionName())) {
  RegisterUDisks2Types();
  // libdbus reads DBUS_SYSTEM_BUS_ADDRESS once per process; reading it here follows it for every
  // new connection.
  const auto address = qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS");
  const auto bus = address.isEmpty()
                       ? QDBusConnection::connectToBus(QDBusConnection::SystemBus, connectionName_)
                       : QDBusConnection::connectToBus(address, connectionName_);
  if (!bus.isConnected()) {
    const auto error = bus.lastError().message().toStdString();
    QDBusConnection::disconnectFromBus(connectionName_);
    throw VolumeServiceError("cannot reach the system bus: " + error);
  }
}

UDisks2Volumes::~UDisks2Volumes() {
  QDBusConnection::disconnectFromBus(connectionName_);
}

std::vector<VolumeInfo> UDisks2Volumes::List() {
  std::vector<VolumeInfo> list;
  for (const auto& volume : RemovableVolumes(ManagedObjects(connectionName_)))
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
  return Mount(connectionName_, CurrentVolume(connectionName_, volume), interaction);
}

void UDisks2Volumes::FormatFat16(const VolumeInfo& volume, Interaction interaction) {
  const auto current = FindRemovableVolume(ManagedObjects(connectionName_), volume.key);
  if (!current)
    throw VolumeNotRemovable("not a removable volume: " + volume.key);
  // Refused before the card is unmounted, so that a card that cannot be formatted stays in use.
  const auto bytes = static_cast<std::int64_t>(
      std::min<std::uint64_t>(current->size, std::numeric_limits<std::int64_t>::max()));
  if (!FitsFat16(bytes))
    throw VolumeOperationFailed(Fat16VolumeTooLarge(bytes).what());
  Unmount(connectionName_, *current, interaction);
  try {
    WriteThroughUDisks2(connectionName_, *current, interaction);
  } catch (const VolumeOperationFailed&) {
    MountAgain(connectionName_, *current, interaction);
    throw;
  }
  BringBackIntoView(connectionName_, *current, volume, interaction);
}

std::optional<VolumeInfo> UDisks2Volumes::VolumeOfPath(const std::filesystem::path& path) {
  std::error_code error;
  auto target = std::filesystem::weakly_canonical(std::filesystem::absolute(path), error);
  if (error)
    target = std::filesystem::absolute(path).lexically_normal();

  std::optional<VolumeInfo> best;
  std::size_t bestLength = 0;
  for (const auto& volume : RemovableVolumes(ManagedObjects(connectionName_))) {
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
  const UDisks2Volume current = CurrentVolume(connectionName_, volume);
  Unmount(connectionName_, current, interaction);
  if (!current.driveEjectable)
    return;
  ThrowOnError(Call(connectionName_, current.drivePath, kDrive, QStringLiteral("Eject"),
                    {Options(interaction)}, kActionTimeoutMs));
}

std::unique_ptr<Volumes> MakeSystemVolumes() {
  return std::make_unique<UDisks2Volumes>();
}

}  // namespace fw::platform

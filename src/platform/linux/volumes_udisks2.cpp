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
#include <chrono>
#include <stdexcept>
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

bool Failed(const QDBusMessage& reply, std::string* reason) {
  if (reply.type() != QDBusMessage::ErrorMessage)
    return false;
  if (reason)
    *reason = (reply.errorName() + QStringLiteral(": ") + reply.errorMessage()).toStdString();
  return true;
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

bool Unmount(const QString& connection, const UDisks2Volume& volume, Interaction interaction,
             std::string* reason) {
  if (volume.mountPoints.empty())
    return true;
  const auto reply = Call(connection, volume.objectPath, kFilesystem, QStringLiteral("Unmount"),
                          {Options(interaction)}, kActionTimeoutMs);
  return !Failed(reply, reason);
}

// Mounts the volume unless it is mounted already; its mount point, or nothing.
std::optional<std::string> Mount(const QString& connection, const UDisks2Volume& volume,
                                 Interaction interaction) {
  if (!volume.mountPoints.empty())
    return volume.mountPoints.front();
  const auto reply = Call(connection, volume.objectPath, kFilesystem, QStringLiteral("Mount"),
                          {Options(interaction)}, kActionTimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
    return std::nullopt;
  const auto root = reply.arguments().constFirst().toString().toStdString();
  return root.empty() ? std::nullopt : std::optional(root);
}

// Writes FAT16 over the device that UDisks2 opens for us; false with the reason on failure.
bool WriteThroughUDisks2(const QString& connection, const UDisks2Volume& volume,
                         Interaction interaction, std::string* reason) {
  auto options = Options(interaction);
  // Exclusive: the kernel refuses while anything still holds the volume.
  options.insert(QStringLiteral("flags"), int{O_EXCL});
  const auto reply = Call(connection, volume.objectPath, kBlock, QStringLiteral("OpenDevice"),
                          {QStringLiteral("rw"), options}, kActionTimeoutMs);
  if (Failed(reply, reason))
    return false;
  const auto device = reply.arguments().value(0).value<QDBusUnixFileDescriptor>();
  if (!device.isValid()) {
    if (reason)
      *reason = "UDisks2 returned no device handle";
    return false;
  }
  try {
    WriteFat16(device.fileDescriptor(), volume.partitionOffset, volume.label);
  } catch (const std::exception& error) {
    if (reason)
      *reason = error.what();
    return false;
  }
  return true;
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

std::optional<std::int64_t> UDisks2Volumes::FreeSpace(const std::string& rootPath) {
  struct statvfs stats {};
  if (rootPath.empty() || ::statvfs(rootPath.c_str(), &stats) != 0)
    return std::nullopt;
  return static_cast<std::int64_t>(stats.f_bavail) * static_cast<std::int64_t>(stats.f_frsize);
}

std::optional<std::string> UDisks2Volumes::EnsureMounted(const VolumeInfo& volume,
                                                         Interaction interaction) {
  const auto current = FindRemovableVolume(ManagedObjects(connectionName_), volume.key);
  if (!current)
    return std::nullopt;
  return Mount(connectionName_, *current, interaction);
}

bool UDisks2Volumes::FormatFat16(const VolumeInfo& volume, Interaction interaction,
                                 std::string* reason) {
  const auto current = FindRemovableVolume(ManagedObjects(connectionName_), volume.key);
  if (!current)
    throw VolumeNotRemovable("not a removable volume: " + volume.key);
  if (current->size > static_cast<std::uint64_t>(kMaxFat16VolumeBytes)) {
    if (reason)
      *reason = Fat16VolumeTooLarge(static_cast<std::int64_t>(current->size)).what();
    return false;
  }
  if (!Unmount(connectionName_, *current, interaction, reason))
    return false;
  if (!WriteThroughUDisks2(connectionName_, *current, interaction, reason)) {
    // Leave a card that was in use as it was found (for instance when the user refused the
    // device access): mounted again.
    if (!current->mountPoints.empty()) {
      auto unmounted = *current;
      unmounted.mountPoints.clear();
      Mount(connectionName_, unmounted, interaction);
    }
    return false;
  }

  // The file system is on the card now; what follows only brings it back into view. A failure
  // here leaves the caller's EnsureMounted to try again.
  Call(connectionName_, current->objectPath, kBlock, QStringLiteral("Rescan"),
       {Options(interaction)}, kActionTimeoutMs);
  for (int attempt = 0; attempt < kMountAttempts; ++attempt) {
    const auto fresh = FindRemovableVolume(ManagedObjects(connectionName_), volume.key);
    if (fresh && Mount(connectionName_, *fresh, interaction))
      break;
    std::this_thread::sleep_for(kMountRetryDelay);
  }
  return true;
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

bool UDisks2Volumes::Eject(const VolumeInfo& volume, Interaction interaction) {
  const auto current = FindRemovableVolume(ManagedObjects(connectionName_), volume.key);
  if (!current || !Unmount(connectionName_, *current, interaction, nullptr))
    return false;
  if (!current->driveEjectable)
    return true;
  const auto reply = Call(connectionName_, current->drivePath, kDrive, QStringLiteral("Eject"),
                          {Options(interaction)}, kActionTimeoutMs);
  return !Failed(reply, nullptr);
}

std::unique_ptr<Volumes> MakeSystemVolumes() {
  return std::make_unique<UDisks2Volumes>();
}

}  // namespace fw::platform

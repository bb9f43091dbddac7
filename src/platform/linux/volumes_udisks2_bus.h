// The little of the system D-Bus that the UDisks2 volumes need, over sd-bus from libsystemd: an
// own connection, method calls with options and a timeout each, and GetManagedObjects read into
// plain values.
//
// sd-bus rather than its C++ binding sdbus-c++: libsystemd is on every Debian system already (the
// package manager itself depends on it), so the command line and the window need no further
// shared library at run time, and the few calls made here are easily wrapped by hand.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "platform/linux/volumes_udisks2_objects.h"
#include "platform/volumes.h"

struct sd_bus;
struct sd_bus_message;

namespace fw::platform::dbus {

struct BusRelease {
  void operator()(sd_bus* bus) const noexcept;
};
struct MessageRelease {
  void operator()(sd_bus_message* message) const noexcept;
};
using Bus = std::unique_ptr<sd_bus, BusRelease>;
using Message = std::unique_ptr<sd_bus_message, MessageRelease>;

// A method call that failed: an error reply, no reply within its timeout, a broken connection or
// a reply of the wrong shape. what() is "name: message"
// ("org.freedesktop.UDisks2.Error.DeviceBusy: Error unmounting: target is busy").
class CallFailed : public VolumeOperationFailed {
 public:
  CallFailed(const std::string& name, const std::string& message)
      : VolumeOperationFailed(name + ": " + message), name_(name), message_(message) {}
  const std::string& Name() const { return name_; }
  const std::string& Message() const { return message_; }

 private:
  std::string name_;
  std::string message_;
};

// A new connection of its own to the system bus: DBUS_SYSTEM_BUS_ADDRESS when it is set, read at
// every call, else the system's bus socket. Throws VolumeServiceError when the bus cannot be
// reached or the connection is not up (authenticated, Hello answered) within `timeout`.
Bus OpenSystemBus(std::chrono::microseconds timeout);

// One entry of an "a{sv}" options argument.
struct Option {
  std::string key;
  std::variant<bool, std::int32_t> value;
};

// A method call being put together; Send() sends it and waits for the reply.
class MethodCall {
 public:
  // Throws CallFailed when the message cannot be made (the connection is closed).
  MethodCall(sd_bus* bus, const char* destination, const std::string& path, const char* interface,
             const char* member);

  MethodCall& String(const std::string& text);
  MethodCall& Options(std::span<const Option> options);

  // Waits at most `timeout` for the reply; throws CallFailed when the reply is an error or does
  // not come in time.
  Message Send(std::chrono::microseconds timeout);

 private:
  sd_bus* bus_;
  Message message_;
};

// The first argument of a reply as a text ("s"); throws CallFailed when it is none.
std::string ReadString(sd_bus_message* reply);

// The first argument of a reply as a file descriptor ("h"), which stays the reply's: it is
// closed when the reply is released. Throws CallFailed when it is none.
int ReadFileDescriptor(sd_bus_message* reply);

// The reply of org.freedesktop.DBus.ObjectManager.GetManagedObjects ("a{oa{sa{sv}}}"); throws
// CallFailed when the reply has another shape.
UDisks2Objects ReadManagedObjects(sd_bus_message* reply);

}  // namespace fw::platform::dbus

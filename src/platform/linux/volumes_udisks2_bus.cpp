#include "platform/linux/volumes_udisks2_bus.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace fw::platform::dbus {

namespace {

// The system bus as the D-Bus specification places it when DBUS_SYSTEM_BUS_ADDRESS is not set.
constexpr const char* kSystemBusAddress = "unix:path=/run/dbus/system_bus_socket";

// Owns what sd-bus writes into an sd_bus_error.
class Error {
 public:
  Error() = default;
  Error(const Error&) = delete;
  Error& operator=(const Error&) = delete;
  ~Error() { sd_bus_error_free(&error_); }

  sd_bus_error* Get() { return &error_; }

  // What the error says, or the meaning of `result` (a negative error number) when it is empty.
  [[noreturn]] void Throw(int result) {
    if (!sd_bus_error_is_set(&error_))
      sd_bus_error_set_errno(&error_, result);
    throw CallFailed(error_.name ? error_.name : "", error_.message ? error_.message : "");
  }

 private:
  sd_bus_error error_{};  // SD_BUS_ERROR_NULL: no name, no message (its compound literal is C only)
};

// sd-bus's result when it is not an error; CallFailed with the error number's meaning else.
int Check(int result) {
  if (result < 0)
    Error().Throw(result);
  return result;
}

void AppendOption(sd_bus_message* message, const Option& option) {
  Check(sd_bus_message_open_container(message, SD_BUS_TYPE_DICT_ENTRY, "sv"));
  Check(sd_bus_message_append_basic(message, SD_BUS_TYPE_STRING, option.key.c_str()));
  if (const auto* flag = std::get_if<bool>(&option.value)) {
    const int value = *flag ? 1 : 0;
    Check(sd_bus_message_open_container(message, SD_BUS_TYPE_VARIANT, "b"));
    Check(sd_bus_message_append_basic(message, SD_BUS_TYPE_BOOLEAN, &value));
  } else {
    const std::int32_t value = std::get<std::int32_t>(option.value);
    Check(sd_bus_message_open_container(message, SD_BUS_TYPE_VARIANT, "i"));
    Check(sd_bus_message_append_basic(message, SD_BUS_TYPE_INT32, &value));
  }
  Check(sd_bus_message_close_container(message));
  Check(sd_bus_message_close_container(message));
}

// A reply's arguments have the signature the caller reads; CallFailed naming both else.
void ExpectSignature(sd_bus_message* reply, const char* signature) {
  if (sd_bus_message_has_signature(reply, signature) > 0)
    return;
  const char* actual = sd_bus_message_get_signature(reply, 1);
  throw CallFailed(
      SD_BUS_ERROR_INVALID_SIGNATURE,
      std::string("the reply holds \"") + (actual ? actual : "") + "\", not \"" + signature + "\"");
}

// One basic value of the type the signature promised; a missing one is a malformed message.
template <typename Value>
Value ReadBasic(sd_bus_message* message, char type) {
  Value value{};
  if (Check(sd_bus_message_read_basic(message, type, &value)) == 0)
    Error().Throw(-EBADMSG);
  return value;
}

// A byte string ("ay") up to its first NUL: UDisks2 sends paths with a terminating one.
std::string ReadByteString(sd_bus_message* message) {
  const void* bytes = nullptr;
  std::size_t size = 0;
  Check(sd_bus_message_read_array(message, SD_BUS_TYPE_BYTE, &bytes, &size));
  const auto* text = static_cast<const char*>(bytes);
  return size == 0 ? std::string() : std::string(text, ::strnlen(text, size));
}

// A list of byte strings ("aay").
std::vector<std::string> ReadByteStrings(sd_bus_message* message) {
  std::vector<std::string> texts;
  Check(sd_bus_message_enter_container(message, SD_BUS_TYPE_ARRAY, "ay"));
  for (;;) {
    const void* bytes = nullptr;
    std::size_t size = 0;
    if (Check(sd_bus_message_read_array(message, SD_BUS_TYPE_BYTE, &bytes, &size)) == 0)
      break;
    const auto* text = static_cast<const char*>(bytes);
    texts.push_back(size == 0 ? std::string() : std::string(text, ::strnlen(text, size)));
  }
  Check(sd_bus_message_exit_container(message));
  return texts;
}

// The value inside the variant the message is entered in, of the variant's signature.
UDisks2Value ReadValue(sd_bus_message* message, std::string_view signature) {
  if (signature == "ay")
    return ReadByteString(message);
  if (signature == "aay")
    return ReadByteStrings(message);
  switch (signature.size() == 1 ? signature[0] : '\0') {
    case SD_BUS_TYPE_BOOLEAN:
      return ReadBasic<int>(message, SD_BUS_TYPE_BOOLEAN) != 0;
    case SD_BUS_TYPE_BYTE:
      return std::uint64_t{ReadBasic<std::uint8_t>(message, SD_BUS_TYPE_BYTE)};
    case SD_BUS_TYPE_UINT16:
      return std::uint64_t{ReadBasic<std::uint16_t>(message, SD_BUS_TYPE_UINT16)};
    case SD_BUS_TYPE_UINT32:
      return std::uint64_t{ReadBasic<std::uint32_t>(message, SD_BUS_TYPE_UINT32)};
    case SD_BUS_TYPE_UINT64:
      return ReadBasic<std::uint64_t>(message, SD_BUS_TYPE_UINT64);
    case SD_BUS_TYPE_INT16:
      return std::int64_t{ReadBasic<std::int16_t>(message, SD_BUS_TYPE_INT16)};
    case SD_BUS_TYPE_INT32:
      return std::int64_t{ReadBasic<std::int32_t>(message, SD_BUS_TYPE_INT32)};
    case SD_BUS_TYPE_INT64:
      return ReadBasic<std::int64_t>(message, SD_BUS_TYPE_INT64);
    case SD_BUS_TYPE_STRING:
    case SD_BUS_TYPE_OBJECT_PATH:
    case SD_BUS_TYPE_SIGNATURE:
      return std::string(ReadBasic<const char*>(message, signature[0]));
    default:
      Check(sd_bus_message_skip(message, std::string(signature).c_str()));
      return std::monostate{};
  }
}

// One property value ("v"); kinds the volumes do not use are skipped.
UDisks2Value ReadVariant(sd_bus_message* message) {
  const char* contents = nullptr;
  Check(sd_bus_message_peek_type(message, nullptr, &contents));
  const std::string signature = contents ? contents : "";
  Check(sd_bus_message_enter_container(message, SD_BUS_TYPE_VARIANT, signature.c_str()));
  auto value = ReadValue(message, signature);
  Check(sd_bus_message_exit_container(message));
  return value;
}

// The properties of one interface ("a{sv}").
UDisks2Properties ReadProperties(sd_bus_message* message) {
  UDisks2Properties properties;
  Check(sd_bus_message_enter_container(message, SD_BUS_TYPE_ARRAY, "{sv}"));
  while (Check(sd_bus_message_enter_container(message, SD_BUS_TYPE_DICT_ENTRY, "sv")) > 0) {
    std::string name = ReadBasic<const char*>(message, SD_BUS_TYPE_STRING);
    properties[std::move(name)] = ReadVariant(message);
    Check(sd_bus_message_exit_container(message));
  }
  Check(sd_bus_message_exit_container(message));
  return properties;
}

// The interfaces of one object ("a{sa{sv}}").
UDisks2Interfaces ReadInterfaces(sd_bus_message* message) {
  UDisks2Interfaces interfaces;
  Check(sd_bus_message_enter_container(message, SD_BUS_TYPE_ARRAY, "{sa{sv}}"));
  while (Check(sd_bus_message_enter_container(message, SD_BUS_TYPE_DICT_ENTRY, "sa{sv}")) > 0) {
    std::string name = ReadBasic<const char*>(message, SD_BUS_TYPE_STRING);
    interfaces[std::move(name)] = ReadProperties(message);
    Check(sd_bus_message_exit_container(message));
  }
  Check(sd_bus_message_exit_container(message));
  return interfaces;
}

// Waits until the connection is up (authenticated, and the bus daemon answered Hello), at most
// `timeout`: sd-bus itself would wait for the authentication for a minute and more.
void AwaitReady(sd_bus* bus, std::chrono::microseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (Check(sd_bus_is_ready(bus)) == 0) {
    if (Check(sd_bus_process(bus, nullptr)) > 0)
      continue;
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
      Error().Throw(-ETIMEDOUT);
    Check(sd_bus_wait(bus, static_cast<std::uint64_t>(left.count())));
  }
}

}  // namespace

// Every call waits for its reply, so nothing is left to send: closing never waits for the peer.
void BusRelease::operator()(sd_bus* bus) const noexcept {
  sd_bus_close_unref(bus);
}

void MessageRelease::operator()(sd_bus_message* message) const noexcept {
  sd_bus_message_unref(message);
}

Bus OpenSystemBus(std::chrono::microseconds timeout) {
  const char* variable = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
  const char* address = variable && *variable ? variable : kSystemBusAddress;
  try {
    sd_bus* raw = nullptr;
    Check(sd_bus_new(&raw));
    Bus bus(raw);
    Check(sd_bus_set_address(bus.get(), address));
    // A client of the bus daemon (it says Hello), allowed to receive the device OpenDevice opens.
    Check(sd_bus_set_bus_client(bus.get(), 1));
    Check(sd_bus_negotiate_fds(bus.get(), 1));
    Check(sd_bus_start(bus.get()));
    AwaitReady(bus.get(), timeout);
    return bus;
  } catch (const CallFailed& failure) {
    throw VolumeServiceError(std::string("cannot reach the system bus at ") + address + ": " +
                             failure.Message());
  }
}

MethodCall::MethodCall(sd_bus* bus, const char* destination, const std::string& path,
                       const char* interface, const char* member)
    : bus_(bus) {
  sd_bus_message* raw = nullptr;
  Check(sd_bus_message_new_method_call(bus, &raw, destination, path.c_str(), interface, member));
  message_.reset(raw);
}

MethodCall& MethodCall::String(const std::string& text) {
  Check(sd_bus_message_append_basic(message_.get(), SD_BUS_TYPE_STRING, text.c_str()));
  return *this;
}

MethodCall& MethodCall::Options(std::span<const Option> options) {
  Check(sd_bus_message_open_container(message_.get(), SD_BUS_TYPE_ARRAY, "{sv}"));
  for (const auto& option : options)
    AppendOption(message_.get(), option);
  Check(sd_bus_message_close_container(message_.get()));
  return *this;
}

Message MethodCall::Send(std::chrono::microseconds timeout) {
  Error error;
  sd_bus_message* reply = nullptr;
  // A timeout of 0 would mean sd-bus's default: every call names its own.
  const auto usec = static_cast<std::uint64_t>(std::max<std::int64_t>(timeout.count(), 1));
  const int result = sd_bus_call(bus_, message_.get(), usec, error.Get(), &reply);
  Message owned(reply);
  if (result < 0)
    error.Throw(result);
  return owned;
}

std::string ReadString(sd_bus_message* reply) {
  ExpectSignature(reply, "s");
  return ReadBasic<const char*>(reply, SD_BUS_TYPE_STRING);
}

int ReadFileDescriptor(sd_bus_message* reply) {
  ExpectSignature(reply, "h");
  return ReadBasic<int>(reply, SD_BUS_TYPE_UNIX_FD);
}

UDisks2Objects ReadManagedObjects(sd_bus_message* reply) {
  ExpectSignature(reply, "a{oa{sa{sv}}}");
  UDisks2Objects objects;
  Check(sd_bus_message_enter_container(reply, SD_BUS_TYPE_ARRAY, "{oa{sa{sv}}}"));
  while (Check(sd_bus_message_enter_container(reply, SD_BUS_TYPE_DICT_ENTRY, "oa{sa{sv}}")) > 0) {
    std::string path = ReadBasic<const char*>(reply, SD_BUS_TYPE_OBJECT_PATH);
    objects[std::move(path)] = ReadInterfaces(reply);
    Check(sd_bus_message_exit_container(reply));
  }
  Check(sd_bus_message_exit_container(reply));
  return objects;
}

}  // namespace fw::platform::dbus

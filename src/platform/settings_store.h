// The per-user settings store: named values of two kinds, integer and text, under one key path
// and subkey. Windows keeps them in the registry (HKEY_CURRENT_USER); elsewhere they live in one
// text file per subkey under $XDG_CONFIG_HOME (default ~/.config). Binary values are recognised
// only so that a reader can refuse them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace fw::platform {

enum class SettingKind { Integer, Text, Binary };

struct SettingValue {
  SettingKind kind = SettingKind::Text;
  std::int32_t integer = 0;  // Integer: the 32-bit value
  std::string text;          // Text: UTF-8; Binary: the raw bytes

  static SettingValue Integer(std::int32_t value) { return {SettingKind::Integer, value, {}}; }
  static SettingValue Text(std::string value) { return {SettingKind::Text, 0, std::move(value)}; }
  friend bool operator==(const SettingValue&, const SettingValue&) = default;
};

// The settings file exists but is not in the store's format. Nothing is reset: the file is
// left as it is and the caller reports it.
class SettingsFormatError : public std::runtime_error {
 public:
  SettingsFormatError(std::string location, int line)
      : std::runtime_error("malformed settings file"),
        location_(std::move(location)),
        line_(line) {}
  const std::string& Location() const { return location_; }
  int Line() const { return line_; }

 private:
  std::string location_;
  int line_;
};

// One opened settings key. Value names match without regard to ASCII case.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;

  // The stored value of a name, or nothing when the name is absent.
  virtual std::optional<SettingValue> Read(std::string_view name) = 0;

  // Stores a value (Integer or Text), replacing any value of that name.
  virtual void Write(std::string_view name, const SettingValue& value) = 0;

  // Makes every write so far lasting (the file store writes its file atomically here; the
  // registry writes at once). Throws std::system_error on failure.
  virtual void Flush() = 0;

  // Where the values live, for messages: a file path or a registry key.
  virtual std::string Location() const = 0;
};

// The key path ending in one backslash, as the stores name it: "Software\Maker\Product\".
inline std::string KeyPathWithSeparator(std::string_view keyPath) {
  std::string key(keyPath);
  if (!key.empty() && key.back() != '\\')
    key += '\\';
  return key;
}

// Opens the store of a key path such as "Software\Maker\Product\" and a subkey such as "1.0".
// The subkey is created by the first Flush that has something to write, never by reading.
// Throws SettingsFormatError for a file that cannot be parsed and std::system_error when the
// store cannot be reached.
std::unique_ptr<SettingsStore> OpenSettingsStore(std::string_view keyPath, std::string_view subkey);

}  // namespace fw::platform

// The main window's per-user settings: which values are kept, their kinds, their defaults and
// the order in which they are restored and saved. Pure logic over the settings store
// interface, so the rules can be checked with an in-memory store.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/settings_store.h"

namespace fw {

inline constexpr std::string_view kSettingsKeyPath = "Software\\Kerrow\\Lintrak\\";
inline constexpr std::string_view kSettingsSubkey = "1.0";

// A stored value of the wrong kind, or a settings file that cannot be read.
class ESettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The fields that the settings are restored into and saved from (the main window).
class SettingsFields {
 public:
  virtual ~SettingsFields() = default;

  virtual int ProcIndex() const = 0;  // -1 when no device is selected
  virtual std::string HexFile() const = 0;
  virtual int Sver() const = 0;
  virtual int Srel() const = 0;
  virtual std::string UpdateName() const = 0;
  virtual std::string DestFile() const = 0;
  virtual bool Crypt() const = 0;
  virtual int HClass() const = 0;
  virtual int HRel() const = 0;

  // An index outside the device list selects nothing; no device change is run.
  virtual void SelectProcIndex(int index) = 0;
  virtual void SetHexFile(const std::string& path) = 0;
  virtual void SetSver(int value) = 0;
  virtual void SetSrel(int value) = 0;
  virtual void SetUpdateName(const std::string& name) = 0;
  virtual void SetDestFile(const std::string& path) = 0;
  virtual void SetCrypt(bool checked) = 0;
  // Shows the selected device (memory map, class, release, version); nothing when none.
  virtual void ShowSelectedDevice() = 0;
};

// Opens the store of the main window's settings. A settings file that cannot be parsed raises
// an error naming the file and the line; it is never reset.
std::unique_ptr<platform::SettingsStore> OpenMainSettings();

// Reads an integer: absent gives the default, a text is parsed as a number (a text that is no
// number gives the default); any other kind raises the wrong-kind error naming the value.
int ReadSettingInteger(platform::SettingsStore& store, std::string_view name, int defaultValue);

// Reads a text: absent gives the default; any other kind raises the wrong-kind error.
std::string ReadSettingText(platform::SettingsStore& store, std::string_view name,
                            std::string_view defaultValue);

// Writes an integer; a value of that name already stored as text stays text (decimal).
void WriteSettingInteger(platform::SettingsStore& store, std::string_view name, int value);

// Restores the fields in the fixed order; a value of the wrong kind stops the restore there
// (the fields read before keep their new values, ShowSelectedDevice is not run).
void RestoreSettings(platform::SettingsStore& store, SettingsFields& fields);

// Saves every field in the fixed order, then makes the writes lasting.
void SaveSettings(platform::SettingsStore& store, const SettingsFields& fields);

}  // namespace fw

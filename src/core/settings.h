// The main window's per-user settings: which values are kept, their kinds, their defaults and
// the order in which they are restored and saved. Pure logic over the settings store
// interface, so the rules can be checked with an in-memory store.
#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/texts.h"
#include "platform/settings_store.h"

namespace fw {

inline constexpr std::string_view kSettingsKeyPath = "Software\\Kerrow\\Lintrak\\";
inline constexpr std::string_view kSettingsSubkey = "1.0";

// A stored value of the wrong kind, or a settings file that cannot be read.
class ESettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The main window's values that are kept between runs. A default-constructed one holds the
// defaults that a restore gives the values the store does not hold.
struct MainSettings {
  int procIndex = 0;  // the selected device; -1 when none is
  std::string hexFile;
  int sver = 1;
  int srel = 0;
  std::string updateName{texts::kDefaultUpdateName};
  std::string destFile;
  bool crypt = false;
  // Saved only: the window shows the selected device's class and release.
  int hclass = 0;
  int hrel = 0;
};

// The number of values a restore reads: ProcInd, HEXFile, SVER, SREL, Updname, DestFile, Crypt.
inline constexpr std::size_t kRestoredSettingsCount = 7;

// A restore's values and how far it got.
struct RestoredSettings {
  MainSettings values;
  std::size_t count = 0;  // how many values, in the restore order, were read from the store

  bool Complete() const { return count == kRestoredSettingsCount; }
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

// Reads the values into restored.values in the fixed order, counting each one read; an absent
// value takes its default. A value of the wrong kind stops the restore there with the wrong-kind
// error: the values read before it have their new values, the rest stay as they were given.
void RestoreSettings(platform::SettingsStore& store, RestoredSettings& restored);

// Saves every value in the fixed order, then makes the writes lasting.
void SaveSettings(platform::SettingsStore& store, const MainSettings& settings);

// Saves, in the fixed order, only what the start restored or what changed since: a value the
// restore read (the first start.count in the restore order) or one that differs from
// start.values (what the window showed once it had started). A value the restore never got to
// stays in the store as it was. The device's class and release are saved when the restore was
// complete or when they changed.
void SaveSettings(platform::SettingsStore& store, const MainSettings& settings,
                  const RestoredSettings& start);

}  // namespace fw

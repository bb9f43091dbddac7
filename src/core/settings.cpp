#include "core/settings.h"

#include <iterator>
#include <system_error>

#include "core/errors.h"
#include "core/ini_convert.h"
#include "core/message_format.h"
#include "core/texts.h"

namespace fw {
namespace {

using platform::SettingKind;
using platform::SettingValue;

[[noreturn]] void ThrowWrongKind(const platform::SettingsStore& store, std::string_view name) {
  throw ESettingsError(
      FormatMessage(texts::kSettingWrongKind, {std::string(name), store.Location()}));
}

}  // namespace

std::unique_ptr<platform::SettingsStore> OpenMainSettings() {
  try {
    return platform::OpenSettingsStore(kSettingsKeyPath, kSettingsSubkey);
  } catch (const platform::SettingsFormatError& error) {
    if (error.Line() > 0)
      throw ESettingsError(FormatMessage(texts::kSettingsFileBroken,
                                         {error.Location(), std::int64_t{error.Line()}}));
    throw ESettingsError(FormatMessage(texts::kSettingsFileUnreadable, {error.Location()}));
  } catch (const std::system_error& error) {
    throw ESettingsError(error.what());
  }
}

int ReadSettingInteger(platform::SettingsStore& store, std::string_view name, int defaultValue) {
  const auto value = store.Read(name);
  if (!value)
    return defaultValue;
  switch (value->kind) {
    case SettingKind::Integer:
      return value->integer;
    case SettingKind::Text:
      try {
        return StrToInt(value->text);
      } catch (const EConvertError&) {
        return defaultValue;
      }
    case SettingKind::Binary:
      break;
  }
  ThrowWrongKind(store, name);
}

std::string ReadSettingText(platform::SettingsStore& store, std::string_view name,
                            std::string_view defaultValue) {
  const auto value = store.Read(name);
  if (!value)
    return std::string(defaultValue);
  if (value->kind != SettingKind::Text)
    ThrowWrongKind(store, name);
  return value->text;
}

void WriteSettingInteger(platform::SettingsStore& store, std::string_view name, int value) {
  const auto stored = store.Read(name);
  if (stored && stored->kind == SettingKind::Text)
    store.Write(name, SettingValue::Text(std::to_string(value)));
  else
    store.Write(name, SettingValue::Integer(value));
}

namespace {

// The values a restore reads, in its order; SaveSettings names them by that order.
enum RestoreOrder : std::size_t { kProcInd, kHexFile, kSver, kSrel, kUpdname, kDestFile, kCrypt };

using RestoreStep = void (*)(platform::SettingsStore&, MainSettings&, const MainSettings&);
constexpr RestoreStep kRestoreSteps[] = {
    [](auto& store, auto& values, const auto& defaults) {
      values.procIndex = ReadSettingInteger(store, "ProcInd", defaults.procIndex);
    },
    [](auto& store, auto& values, const auto& defaults) {
      values.hexFile = ReadSettingText(store, "HEXFile", defaults.hexFile);
    },
    [](auto& store, auto& values, const auto& defaults) {
      values.sver = ReadSettingInteger(store, "SVER", defaults.sver);
    },
    [](auto& store, auto& values, const auto& defaults) {
      values.srel = ReadSettingInteger(store, "SREL", defaults.srel);
    },
    [](auto& store, auto& values, const auto& defaults) {
      values.updateName = ReadSettingText(store, "Updname", defaults.updateName);
    },
    [](auto& store, auto& values, const auto& defaults) {
      values.destFile = ReadSettingText(store, "DestFile", defaults.destFile);
    },
    [](auto& store, auto& values, const auto& defaults) {
      values.crypt = ReadSettingInteger(store, "Crypt", defaults.crypt ? 1 : 0) != 0;
    },
};
static_assert(std::size(kRestoreSteps) == kRestoredSettingsCount);
static_assert(kCrypt + 1 == kRestoredSettingsCount);

}  // namespace

void RestoreSettings(platform::SettingsStore& store, RestoredSettings& restored) {
  const MainSettings defaults;
  restored.count = 0;
  for (const RestoreStep step : kRestoreSteps) {
    step(store, restored.values, defaults);  // a value of the wrong kind stops the restore here
    ++restored.count;
  }
}

void SaveSettings(platform::SettingsStore& store, const MainSettings& settings) {
  SaveSettings(store, settings, RestoredSettings{settings, kRestoredSettingsCount});
}

void SaveSettings(platform::SettingsStore& store, const MainSettings& settings,
                  const RestoredSettings& start) {
  const MainSettings& was = start.values;
  const auto kept = [&start](RestoreOrder order, bool changed) {
    return order < start.count || changed;
  };
  const bool deviceKept = start.Complete();
  if (kept(kProcInd, settings.procIndex != was.procIndex))
    WriteSettingInteger(store, "ProcInd", settings.procIndex);
  if (kept(kCrypt, settings.crypt != was.crypt))
    store.Write("Crypt", SettingValue::Text(settings.crypt ? "1" : "0"));
  if (kept(kHexFile, settings.hexFile != was.hexFile))
    store.Write("HEXFile", SettingValue::Text(settings.hexFile));
  if (deviceKept || settings.hclass != was.hclass)
    WriteSettingInteger(store, "HCLASS", settings.hclass);
  if (deviceKept || settings.hrel != was.hrel)
    WriteSettingInteger(store, "HREL", settings.hrel);
  if (kept(kSver, settings.sver != was.sver))
    WriteSettingInteger(store, "SVER", settings.sver);
  if (kept(kSrel, settings.srel != was.srel))
    WriteSettingInteger(store, "SREL", settings.srel);
  if (kept(kUpdname, settings.updateName != was.updateName))
    store.Write("Updname", SettingValue::Text(settings.updateName));
  if (kept(kDestFile, settings.destFile != was.destFile))
    store.Write("DestFile", SettingValue::Text(settings.destFile));
  try {
    store.Flush();
  } catch (const std::system_error& error) {
    throw EInOutError(store.Location(), error.code().message());
  }
}

}  // namespace fw

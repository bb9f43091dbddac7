#include "settings.h"

#include <system_error>

#include "errors.h"
#include "ini_convert.h"
#include "message_format.h"
#include "texts.h"

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

void RestoreSettings(platform::SettingsStore& store, SettingsFields& fields) {
  fields.SelectProcIndex(ReadSettingInteger(store, "ProcInd", 0));
  fields.SetHexFile(ReadSettingText(store, "HEXFile", ""));
  fields.SetSver(ReadSettingInteger(store, "SVER", 1));
  fields.SetSrel(ReadSettingInteger(store, "SREL", 0));
  fields.SetUpdateName(ReadSettingText(store, "Updname", texts::kDefaultUpdateName));
  fields.SetDestFile(ReadSettingText(store, "DestFile", ""));
  fields.SetCrypt(ReadSettingInteger(store, "Crypt", 0) != 0);
  fields.ShowSelectedDevice();
}

void SaveSettings(platform::SettingsStore& store, const SettingsFields& fields) {
  WriteSettingInteger(store, "ProcInd", fields.ProcIndex());
  store.Write("Crypt", SettingValue::Text(fields.Crypt() ? "1" : "0"));
  store.Write("HEXFile", SettingValue::Text(fields.HexFile()));
  WriteSettingInteger(store, "HCLASS", fields.HClass());
  WriteSettingInteger(store, "HREL", fields.HRel());
  WriteSettingInteger(store, "SVER", fields.Sver());
  WriteSettingInteger(store, "SREL", fields.Srel());
  store.Write("Updname", SettingValue::Text(fields.UpdateName()));
  store.Write("DestFile", SettingValue::Text(fields.DestFile()));
  try {
    store.Flush();
  } catch (const std::system_error& error) {
    throw EInOutError(store.Location(), error.code().message());
  }
}

}  // namespace fw

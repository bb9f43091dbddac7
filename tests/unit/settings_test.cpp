// The settings model: defaults, kinds, the restore order and where a wrong kind stops it, and
// the save order, over an in-memory store.
#include "core/settings.h"

#include <gtest/gtest.h>

#include <map>
#include <system_error>
#include <vector>

#include "core/errors.h"
#include "core/texts.h"

namespace fw {
namespace {

using platform::SettingKind;
using platform::SettingValue;

class MemoryStore : public platform::SettingsStore {
 public:
  std::optional<SettingValue> Read(std::string_view name) override {
    const auto it = values.find(std::string(name));
    if (it == values.end())
      return std::nullopt;
    return it->second;
  }
  void Write(std::string_view name, const SettingValue& value) override {
    values[std::string(name)] = value;
    writes.emplace_back(name);
  }
  void Flush() override {
    ++flushes;
    if (flushFails)
      throw std::system_error(std::make_error_code(std::errc::no_space_on_device));
  }
  std::string Location() const override { return "memory"; }

  std::map<std::string, SettingValue> values;
  std::vector<std::string> writes;
  int flushes = 0;
  bool flushFails = false;
};

// Values unlike every default and every stored value, so that what a restore sets shows.
RestoredSettings Initial() {
  RestoredSettings restored;
  restored.values = {.procIndex = -7,
                     .hexFile = "initial",
                     .sver = -7,
                     .srel = -7,
                     .updateName = "initial",
                     .destFile = "initial",
                     .crypt = false,
                     .hclass = 3,
                     .hrel = 4};
  restored.count = 99;
  return restored;
}

TEST(Settings, EmptyStoreRestoresDefaults) {
  MemoryStore store;
  RestoredSettings restored = Initial();
  RestoreSettings(store, restored);
  const MainSettings& fields = restored.values;
  EXPECT_EQ(fields.procIndex, 0);
  EXPECT_EQ(fields.hexFile, "");
  EXPECT_EQ(fields.sver, 1);
  EXPECT_EQ(fields.srel, 0);
  EXPECT_EQ(fields.updateName, "Update");
  EXPECT_EQ(fields.destFile, "");
  EXPECT_FALSE(fields.crypt);
  EXPECT_EQ(fields.hclass, 3);  // not restored: the window shows the device's
  EXPECT_EQ(fields.hrel, 4);
  EXPECT_TRUE(restored.Complete());
  EXPECT_TRUE(store.writes.empty());
}

TEST(Settings, IntegersReadFromEitherKind) {
  struct Case {
    SettingValue stored;
    int expected;
  };
  const Case cases[] = {
      {SettingValue::Integer(42), 42},        {SettingValue::Integer(-1), -1},
      {SettingValue::Text("17"), 17},         {SettingValue::Text("$1F"), 31},
      {SettingValue::Text("abc"), 5},         {SettingValue::Text(""), 5},
      {SettingValue::Text("99999999999"), 5},
  };
  for (const auto& c : cases) {
    MemoryStore store;
    store.values["N"] = c.stored;
    EXPECT_EQ(ReadSettingInteger(store, "N", 5), c.expected) << c.stored.text;
  }
}

TEST(Settings, CryptReadAsIntegerFromTextOrNumber) {
  const std::pair<SettingValue, bool> cases[] = {
      {SettingValue::Text("1"), true},  {SettingValue::Integer(1), true},
      {SettingValue::Text("0"), false}, {SettingValue::Text("yes"), false},
      {SettingValue::Integer(2), true},
  };
  for (const auto& [stored, checked] : cases) {
    MemoryStore store;
    store.values["Crypt"] = stored;
    RestoredSettings restored = Initial();
    RestoreSettings(store, restored);
    EXPECT_EQ(restored.values.crypt, checked) << stored.text << stored.integer;
  }
}

TEST(Settings, WrongKindStopsTheRestoreAtThatValue) {
  MemoryStore store;
  store.values["ProcInd"] = SettingValue::Integer(2);
  store.values["HEXFile"] = SettingValue::Text("fw.hex");
  store.values["SVER"] = SettingValue::Integer(9);
  store.values["SREL"] = SettingValue{SettingKind::Binary, 0, "\x01\x02"};
  store.values["Updname"] = SettingValue::Text("later");
  RestoredSettings restored = Initial();
  try {
    RestoreSettings(store, restored);
    FAIL() << "no error";
  } catch (const ESettingsError& error) {
    EXPECT_STREQ(error.what(), "Значение \"SREL\" в настройках memory имеет неверный тип");
  }
  const MainSettings& fields = restored.values;
  EXPECT_EQ(fields.procIndex, 2);
  EXPECT_EQ(fields.hexFile, "fw.hex");
  EXPECT_EQ(fields.sver, 9);
  EXPECT_EQ(fields.srel, -7);
  EXPECT_EQ(fields.updateName, "initial");
  EXPECT_EQ(restored.count, 3u);  // ProcInd, HEXFile and SVER were restored
  EXPECT_FALSE(restored.Complete());

  MemoryStore numberAsText;
  numberAsText.values["DestFile"] = SettingValue::Integer(3);
  EXPECT_THROW(RestoreSettings(numberAsText, restored), ESettingsError);
}

TEST(Settings, SaveKeepsOrderKindsAndTextIntegers) {
  MemoryStore store;
  store.values["SREL"] = SettingValue::Text("old");
  MainSettings fields;
  fields.procIndex = -1;
  fields.hexFile = "a.hex";
  fields.sver = 3;
  fields.srel = 12;
  fields.updateName = "Имя";
  fields.destFile = "data.rgd";
  fields.crypt = true;
  fields.hclass = 3;
  fields.hrel = 4;
  SaveSettings(store, fields);
  EXPECT_EQ(store.writes, (std::vector<std::string>{"ProcInd", "Crypt", "HEXFile", "HCLASS", "HREL",
                                                    "SVER", "SREL", "Updname", "DestFile"}));
  EXPECT_EQ(store.flushes, 1);
  EXPECT_EQ(store.values["ProcInd"], SettingValue::Integer(-1));
  EXPECT_EQ(store.values["Crypt"], SettingValue::Text("1"));
  EXPECT_EQ(store.values["HCLASS"], SettingValue::Integer(3));
  EXPECT_EQ(store.values["HREL"], SettingValue::Integer(4));
  EXPECT_EQ(store.values["SREL"], SettingValue::Text("12"));
  EXPECT_EQ(store.values["Updname"], SettingValue::Text("Имя"));

  RestoredSettings restored = Initial();
  RestoreSettings(store, restored);
  EXPECT_EQ(restored.values.procIndex, -1);
  EXPECT_EQ(restored.values.srel, 12);
  EXPECT_TRUE(restored.values.crypt);
  EXPECT_EQ(restored.values.destFile, "data.rgd");
}

TEST(Settings, SaveThatCannotBeMadeLastingNamesTheStore) {
  MemoryStore store;
  store.flushFails = true;
  try {
    SaveSettings(store, MainSettings{});
    FAIL() << "no error";
  } catch (const EInOutError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Ошибка записи или чтения файла memory: " +
                  std::make_error_code(std::errc::no_space_on_device).message());
  }
}

}  // namespace
}  // namespace fw

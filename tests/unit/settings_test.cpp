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

struct Fields : SettingsFields {
  int ProcIndex() const override { return procIndex; }
  std::string HexFile() const override { return hexFile; }
  int Sver() const override { return sver; }
  int Srel() const override { return srel; }
  std::string UpdateName() const override { return updateName; }
  std::string DestFile() const override { return destFile; }
  bool Crypt() const override { return crypt; }
  int HClass() const override { return hclass; }
  int HRel() const override { return hrel; }
  void SelectProcIndex(int index) override { procIndex = index; }
  void SetHexFile(const std::string& path) override { hexFile = path; }
  void SetSver(int value) override { sver = value; }
  void SetSrel(int value) override { srel = value; }
  void SetUpdateName(const std::string& name) override { updateName = name; }
  void SetDestFile(const std::string& path) override { destFile = path; }
  void SetCrypt(bool checked) override { crypt = checked; }
  void ShowSelectedDevice() override { ++shown; }

  int procIndex = -7;
  std::string hexFile = "initial";
  int sver = -7;
  int srel = -7;
  std::string updateName = "initial";
  std::string destFile = "initial";
  bool crypt = false;
  int hclass = 3;
  int hrel = 4;
  int shown = 0;
};

TEST(Settings, EmptyStoreRestoresDefaults) {
  MemoryStore store;
  Fields fields;
  RestoreSettings(store, fields);
  EXPECT_EQ(fields.procIndex, 0);
  EXPECT_EQ(fields.hexFile, "");
  EXPECT_EQ(fields.sver, 1);
  EXPECT_EQ(fields.srel, 0);
  EXPECT_EQ(fields.updateName, "Update");
  EXPECT_EQ(fields.destFile, "");
  EXPECT_FALSE(fields.crypt);
  EXPECT_EQ(fields.shown, 1);
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
    Fields fields;
    RestoreSettings(store, fields);
    EXPECT_EQ(fields.crypt, checked) << stored.text << stored.integer;
  }
}

TEST(Settings, WrongKindStopsTheRestoreAtThatValue) {
  MemoryStore store;
  store.values["ProcInd"] = SettingValue::Integer(2);
  store.values["HEXFile"] = SettingValue::Text("fw.hex");
  store.values["SVER"] = SettingValue::Integer(9);
  store.values["SREL"] = SettingValue{SettingKind::Binary, 0, "\x01\x02"};
  store.values["Updname"] = SettingValue::Text("later");
  Fields fields;
  try {
    RestoreSettings(store, fields);
    FAIL() << "no error";
  } catch (const ESettingsError& error) {
    EXPECT_STREQ(error.what(), "Значение \"SREL\" в настройках memory имеет неверный тип");
  }
  EXPECT_EQ(fields.procIndex, 2);
  EXPECT_EQ(fields.hexFile, "fw.hex");
  EXPECT_EQ(fields.sver, 9);
  EXPECT_EQ(fields.srel, -7);
  EXPECT_EQ(fields.updateName, "initial");
  EXPECT_EQ(fields.shown, 0);

  MemoryStore numberAsText;
  numberAsText.values["DestFile"] = SettingValue::Integer(3);
  EXPECT_THROW(RestoreSettings(numberAsText, fields), ESettingsError);
}

TEST(Settings, SaveKeepsOrderKindsAndTextIntegers) {
  MemoryStore store;
  store.values["SREL"] = SettingValue::Text("old");
  Fields fields;
  fields.procIndex = -1;
  fields.hexFile = "a.hex";
  fields.sver = 3;
  fields.srel = 12;
  fields.updateName = "Имя";
  fields.destFile = "data.rgd";
  fields.crypt = true;
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

  Fields restored;
  RestoreSettings(store, restored);
  EXPECT_EQ(restored.procIndex, -1);
  EXPECT_EQ(restored.srel, 12);
  EXPECT_TRUE(restored.crypt);
  EXPECT_EQ(restored.destFile, "data.rgd");
}

TEST(Settings, SaveThatCannotBeMadeLastingNamesTheStore) {
  MemoryStore store;
  store.flushFails = true;
  try {
    SaveSettings(store, Fields{});
    FAIL() << "no error";
  } catch (const EInOutError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Ошибка записи или чтения файла memory: " +
                  std::make_error_code(std::errc::no_space_on_device).message());
  }
}

}  // namespace
}  // namespace fw

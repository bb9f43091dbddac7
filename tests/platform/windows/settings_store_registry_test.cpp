// The registry settings store on the system's registry (Wine has one): each test works under a
// key of its own in HKEY_CURRENT_USER and deletes it afterwards.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <random>
#include <string>

#include "platform/settings_store.h"

namespace fw::platform {
namespace {

class RegistryStore : public ::testing::Test {
 protected:
  void TearDown() override {
    const std::wstring key = L"Software\\FwUpdaterTests\\" + std::to_wstring(id_);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
  }
  std::unique_ptr<SettingsStore> Open() { return OpenSettingsStore(keyPath_, "1.0"); }
  bool SubkeyExists() const {
    HKEY key = nullptr;
    const std::string path = keyPath_ + "\\1.0";
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
      return false;
    ::RegCloseKey(key);
    return true;
  }

  unsigned id_ = std::random_device{}();
  std::string keyPath_ = "Software\\FwUpdaterTests\\" + std::to_string(id_);  // no separator
};

TEST_F(RegistryStore, ValuesComeBackWithTheirKindsAcrossOpenings) {
  {
    auto store = Open();
    EXPECT_EQ(store->Location(), "HKEY_CURRENT_USER\\" + keyPath_ + "\\1.0");
    EXPECT_EQ(store->Read("Pages"), std::nullopt);
    EXPECT_FALSE(SubkeyExists()) << "reading created the subkey";
    store->Write("Pages", SettingValue::Integer(-2));
    store->Write("Max", SettingValue::Integer(0x7FFFFFFF));
    store->Write("Folder", SettingValue::Text("E:\\Прошивки и карты\\"));
    store->Write("Empty", SettingValue::Text(""));
    store->Write("Folder", SettingValue::Text("D:\\ещё"));  // replaces
    store->Flush();
  }
  auto store = Open();
  EXPECT_EQ(store->Read("pages"), SettingValue::Integer(-2));  // names ignore case
  EXPECT_EQ(store->Read("MAX"), SettingValue::Integer(0x7FFFFFFF));
  EXPECT_EQ(store->Read("Folder"), SettingValue::Text("D:\\ещё"));
  EXPECT_EQ(store->Read("Empty"), SettingValue::Text(""));
  EXPECT_EQ(store->Read("Other"), std::nullopt);
}

TEST_F(RegistryStore, OtherTypesReadAsBinaryAndBinaryIsNotWritten) {
  auto store = Open();
  store->Write("Pages", SettingValue::Integer(1));
  HKEY key = nullptr;
  ASSERT_EQ(
      ::RegOpenKeyExA(HKEY_CURRENT_USER, (keyPath_ + "\\1.0").c_str(), 0, KEY_SET_VALUE, &key),
      ERROR_SUCCESS);
  const BYTE raw[] = {1, 2, 0, 4};
  ASSERT_EQ(::RegSetValueExA(key, "Raw", 0, REG_BINARY, raw, sizeof raw), ERROR_SUCCESS);
  ::RegCloseKey(key);

  const auto value = store->Read("Raw");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->kind, SettingKind::Binary);
  EXPECT_EQ(value->text, std::string("\x01\x02\x00\x04", 4));
  EXPECT_THROW(store->Write("Raw", *value), std::invalid_argument);
  EXPECT_EQ(store->Read("Raw")->text, std::string("\x01\x02\x00\x04", 4));
}

}  // namespace
}  // namespace fw::platform

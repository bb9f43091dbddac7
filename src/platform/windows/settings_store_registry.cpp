// The settings store on Windows: values of HKEY_CURRENT_USER\<key path><subkey>. Integers are
// REG_DWORD, texts REG_SZ (UTF-8 in memory, UTF-16 in the registry); any other type reads as
// binary. The key path is opened, and created when missing, on every opening; the subkey is
// created by the first write only.
#include <windows.h>

#include <system_error>
#include <vector>

#include "platform/settings_store.h"

namespace fw::platform {
namespace {

std::wstring Widen(std::string_view text) {
  if (text.empty())
    return {};
  const int size =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
  return out;
}

std::string Narrow(std::wstring_view text) {
  if (text.empty())
    return {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
  return out;
}

class Key {
 public:
  Key() = default;
  explicit Key(HKEY key) : key_(key) {}
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() {
    if (key_ != nullptr)
      ::RegCloseKey(key_);
  }
  HKEY get() const { return key_; }
  HKEY* out() { return &key_; }

 private:
  HKEY key_ = nullptr;
};

void Check(LSTATUS status, const std::string& what) {
  if (status != ERROR_SUCCESS)
    throw std::system_error(static_cast<int>(status), std::system_category(), what);
}

class RegistrySettingsStore final : public SettingsStore {
 public:
  RegistrySettingsStore(std::string keyPath, std::string subkey)
      : keyPath_(std::move(keyPath)), subkey_(std::move(subkey)) {
    Check(::RegCreateKeyExW(HKEY_CURRENT_USER, Widen(keyPath_).c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, parent_.out(), nullptr),
          Location());
  }

  std::optional<SettingValue> Read(std::string_view name) override {
    Key sub;
    if (::RegOpenKeyExW(parent_.get(), Widen(subkey_).c_str(), 0, KEY_READ, sub.out()) !=
        ERROR_SUCCESS)
      return std::nullopt;
    const std::wstring wideName = Widen(name);
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExW(sub.get(), wideName.c_str(), nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS)
      return std::nullopt;
    std::vector<BYTE> data(size + sizeof(wchar_t));
    Check(::RegQueryValueExW(sub.get(), wideName.c_str(), nullptr, &type, data.data(), &size),
          Location());
    if (type == REG_DWORD && size == sizeof(DWORD)) {
      DWORD value = 0;
      for (int i = 3; i >= 0; --i)
        value = (value << 8) | data[static_cast<std::size_t>(i)];
      return SettingValue::Integer(static_cast<std::int32_t>(value));
    }
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
      std::wstring text(size / sizeof(wchar_t), L'\0');
      for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<wchar_t>(data[2 * i] | (data[2 * i + 1] << 8));
      while (!text.empty() && text.back() == L'\0')
        text.pop_back();
      return SettingValue::Text(Narrow(text));
    }
    return SettingValue{SettingKind::Binary, 0,
                        std::string(data.begin(), data.begin() + static_cast<long>(size))};
  }

  void Write(std::string_view name, const SettingValue& value) override {
    Key sub;
    Check(::RegCreateKeyExW(parent_.get(), Widen(subkey_).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, sub.out(), nullptr),
          Location());
    const std::wstring wideName = Widen(name);
    if (value.kind == SettingKind::Integer) {
      const DWORD number = static_cast<DWORD>(value.integer);
      Check(::RegSetValueExW(sub.get(), wideName.c_str(), 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&number), sizeof(number)),
            Location());
      return;
    }
    if (value.kind != SettingKind::Text)
      throw std::invalid_argument("settings value kind not storable");
    const std::wstring text = Widen(value.text);
    Check(::RegSetValueExW(sub.get(), wideName.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
          Location());
  }

  void Flush() override {}

  std::string Location() const override { return "HKEY_CURRENT_USER\\" + keyPath_ + subkey_; }

 private:
  std::string keyPath_;
  std::string subkey_;
  Key parent_;
};

}  // namespace

std::unique_ptr<SettingsStore> OpenSettingsStore(std::string_view keyPath,
                                                 std::string_view subkey) {
  return std::make_unique<RegistrySettingsStore>(KeyPathWithSeparator(keyPath),
                                                 std::string(subkey));
}

}  // namespace fw::platform

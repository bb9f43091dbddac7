#include "support/stored_settings.h"

#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace fw::test {

void ForgetStoredSettings(std::string_view keyPath, std::string_view subkey) {
#ifdef _WIN32
  // Key names here are ASCII.
  const std::string key = std::string(keyPath) + std::string(subkey);
  ::RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());  // a missing key is already forgotten
#else
  (void)keyPath;
  (void)subkey;
#endif
}

}  // namespace fw::test

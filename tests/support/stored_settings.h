// Settings stored by an earlier test, removed. The file store lives under $XDG_CONFIG_HOME, which
// the tests point into their own fresh folder; the registry (Windows) outlives every folder, so
// there the key of the key path and subkey is deleted with everything under it.
#pragma once

#include <string_view>

namespace fw::test {

void ForgetStoredSettings(std::string_view keyPath, std::string_view subkey);

}  // namespace fw::test

// Any bytes as a device catalogue: parsing, the device list, its memory maps and the device lookup
// never read outside their buffers and fail only with the conversion error.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/catalogue.h"
#include "core/errors.h"
#include "core/ini.h"
#include "core/ini_convert.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const fw::IniFile ini = fw::IniFile::Parse(bytes);
  std::vector<fw::DeviceEntry> devices;
  try {
    fw::LoadDeviceList(ini, devices);
  } catch (const fw::EConvertError&) {
  }
  for (const fw::DeviceEntry& entry : devices) {
    (void)fw::MemoryMapTable(entry.info);
    (void)fw::FindDevice(devices, entry.info.Name);
  }
  (void)fw::FindDevice(devices, bytes.substr(0, 16));
  try {
    (void)fw::StrToInt(bytes.substr(0, 40));
  } catch (const fw::EConvertError&) {
  }
  return 0;
}

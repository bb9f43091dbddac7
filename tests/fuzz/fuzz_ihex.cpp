// Any bytes as a HEX file: loading into every kind of region never reads outside the text or the
// slots, fails only with the reader's own errors, and one pass into all regions gives what each
// region's own load gives.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/ihex.h"

namespace {

struct RegionSpec {
  fw::TMemRange range;
  fw::TMemRange window;
  bool program;
};

// The default memories, a window reaching past its memory, a tiny memory and one without slots.
const RegionSpec kRegions[] = {
    {{0, 0x17FFE, 0x17FFF}, {0x100, 0x17EFE, 0}, true},
    {{0x7FF000, 0x7FFFFE, 0xFFF}, {0x7FF000, 0x7FFFFE, 0}, false},
    {{0xF80000, 0xF8000E, 0xF}, {0xF80000, 0xF8000E, 0}, false},
    {{0x10, 0x3E, 0x2F}, {0, 0x7E, 0}, true},
    {{0x20, 0x1F, 0}, {0x20, 0x1F, 0}, false},
};

// Regions live across runs: every load starts by clearing its region.
void Exercise(const fw::HexFileText& file, const RegionSpec& spec, fw::TdsPicMemRegion& region) {
  try {
    region.LoadFromHexFile(file);
  } catch (const std::runtime_error&) {
    return;  // conversion, checksum and incomplete-record errors
  }
  region.SetAppBase(static_cast<std::uint32_t>(spec.window.BaseAddr));
  region.SetAppEnd(static_cast<std::uint32_t>(spec.window.EndAddr));
  try {
    region.CheckAppRange("FUZZ");
  } catch (const fw::ENotInWindow&) {
  }
  const std::uint32_t size = spec.program ? region.ImageSize() * 2 : region.ImageByteSize();
  if (size > 0 && size <= (1u << 22)) {
    std::vector<std::uint8_t> buffer(size);
    region.CopyImage(buffer, static_cast<std::uint32_t>(region.ImageFirst()),
                     static_cast<std::uint32_t>(region.ImageLast()));
  }
  (void)region.EntryPoint();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fw::HexFileText file{"fuzz.hex", std::string(reinterpret_cast<const char*>(data), size)};
  static std::vector<fw::TdsPicMemRegion> regions = [] {
    std::vector<fw::TdsPicMemRegion> made;
    for (const RegionSpec& spec : kRegions)
      made.emplace_back(spec.range, spec.program);
    return made;
  }();
  for (std::size_t i = 0; i < regions.size(); ++i)
    Exercise(file, kRegions[i], regions[i]);

  // One pass into all regions leaves each as its own load did.
  static std::vector<fw::TdsPicMemRegion> together = regions;
  std::vector<fw::TdsPicMemRegion*> pointers;
  for (auto& region : together)
    pointers.push_back(&region);
  try {
    fw::LoadRegionsFromHexFile(file, pointers);
  } catch (const std::runtime_error&) {
  }
  for (std::size_t i = 0; i < regions.size(); ++i) {
    if (together[i].ImageFirst() != regions[i].ImageFirst() ||
        together[i].ImageLast() != regions[i].ImageLast() ||
        together[i].EntryPoint() != regions[i].EntryPoint())
      __builtin_trap();
  }
  return 0;
}

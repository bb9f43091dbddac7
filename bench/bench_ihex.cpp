// Loading a full-size dsPIC30F6014A image from HEX: 48K program words (144 KB of program memory),
// the full 4 KB EEPROM and the seven configuration words, in 16-byte records as compilers write
// them (about 560 KB of text; the image full_image_hex writes). FW_BENCH_HEX=PATH loads that file
// instead of the generated one.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/ihex.h"
#include "support/files.h"
#include "support/ihex_records.h"
#include "support/temp_dir.h"

namespace {

const fw::TMemRange kFlash{0, 0x17FFE, 0x17FFF};
const fw::TMemRange kEeprom{0x7FF000, 0x7FFFFE, 0xFFF};
const fw::TMemRange kConfig{0xF80000, 0xF8000E, 0xF};

// The benchmark's HEX file on disk: FW_BENCH_HEX, or the generated image in a temp folder.
const std::string& HexPath() {
  static const std::string path = [] {
    if (const char* given = std::getenv("FW_BENCH_HEX"))
      return std::string(given);
    static const fw::test::TempDir folder("bench-ihex");
    const auto file = folder / "full-6014a.hex";
    fw::test::WriteText(file, fw::test::FullImageHex());
    return file.string();
  }();
  return path;
}

// The write command's work on the firmware: one read, one pass into three regions, the program
// payload. The goal is 2 ms for the full image.
void BM_ReadFileAndLoadThreeRegions(benchmark::State& state) {
  const std::string& path = HexPath();
  for (auto _ : state) {
    fw::TdsPicMemRegion flash(kFlash, true), eeprom(kEeprom, false), config(kConfig, false);
    fw::TdsPicMemRegion* const regions[] = {&flash, &eeprom, &config};
    const fw::HexFileText file = fw::ReadHexFile(path);
    fw::LoadRegionsFromHexFile(file, regions);
    std::vector<std::uint8_t> payload(flash.ImageSize() * 2);
    if (!payload.empty())
      flash.CopyImage(payload, static_cast<std::uint32_t>(flash.ImageFirst()),
                      static_cast<std::uint32_t>(flash.ImageLast()));
    benchmark::DoNotOptimize(payload.data());
    state.counters["bytes"] = static_cast<double>(file.bytes.size());
  }
}
BENCHMARK(BM_ReadFileAndLoadThreeRegions)->Unit(benchmark::kMillisecond);

// The yardstick: the same three regions loaded one after the other, three passes over the text.
void BM_LoadThreeRegionsOneByOne(benchmark::State& state) {
  const fw::HexFileText file = fw::ReadHexFile(HexPath());
  fw::TdsPicMemRegion flash(kFlash, true), eeprom(kEeprom, false), config(kConfig, false);
  for (auto _ : state) {
    for (fw::TdsPicMemRegion* region : {&flash, &eeprom, &config})
      region->LoadFromHexFile(file);
    benchmark::DoNotOptimize(config.ImageLast());
  }
}
BENCHMARK(BM_LoadThreeRegionsOneByOne)->Unit(benchmark::kMillisecond);

// One region from text already in memory.
void BM_LoadProgramMemoryFromText(benchmark::State& state) {
  const fw::HexFileText file = fw::ReadHexFile(HexPath());
  fw::TdsPicMemRegion flash(kFlash, true);
  for (auto _ : state) {
    flash.LoadFromHexFile(file);
    benchmark::DoNotOptimize(flash.ImageLast());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(file.bytes.size()));
}
BENCHMARK(BM_LoadProgramMemoryFromText)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

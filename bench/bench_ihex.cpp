// Loading a full-size dsPIC30F6014A image from HEX: 48K program words (144 KB of program memory),
// the full 4 KB EEPROM and the seven configuration words, in 16-byte records as compilers write
// them (about 560 KB of text). FW_BENCH_HEX=PATH loads that file instead of the generated one.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/ihex.h"

namespace {

const fw::TMemRange kFlash{0, 0x17FFE, 0x17FFF};
const fw::TMemRange kEeprom{0x7FF000, 0x7FFFFE, 0xFFF};
const fw::TMemRange kConfig{0xF80000, 0xF8000E, 0xF};

void AppendRecord(std::string& out, std::uint8_t type, std::uint16_t offset,
                  const std::vector<std::uint8_t>& data) {
  char buf[8];
  unsigned sum = static_cast<unsigned>(data.size()) + (offset >> 8) + (offset & 0xFF) + type;
  std::snprintf(buf, sizeof buf, ":%02X", static_cast<unsigned>(data.size()));
  out += buf;
  std::snprintf(buf, sizeof buf, "%04X%02X", offset, type);
  out += buf;
  for (std::uint8_t b : data) {
    std::snprintf(buf, sizeof buf, "%02X", b);
    out += buf;
    sum += b;
  }
  std::snprintf(buf, sizeof buf, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
  out += buf;
}

// Words from `first` (processor address) with `bytes` meaningful bytes each, 4 per record.
void AppendMemory(std::string& out, std::uint32_t first, std::uint32_t words, int bytes) {
  std::uint32_t upper = 0xFFFFFFFF;
  std::uint32_t seed = 12345;
  for (std::uint32_t w = 0; w < words; w += 4) {
    const std::uint32_t hexAddress = (first + 2 * w) * 2;
    if (hexAddress >> 16 != upper) {
      upper = hexAddress >> 16;
      AppendRecord(out, 0x04, 0,
                   {static_cast<std::uint8_t>(upper >> 8), static_cast<std::uint8_t>(upper)});
    }
    std::vector<std::uint8_t> data;
    for (int k = 0; k < 4; ++k) {
      for (int b = 0; b < 4; ++b) {
        seed = seed * 1103515245u + 12345u;
        data.push_back(b < bytes ? static_cast<std::uint8_t>(seed >> 16) : 0);
      }
    }
    AppendRecord(out, 0x00, static_cast<std::uint16_t>(hexAddress & 0xFFFF), data);
  }
}

std::string FullImageText() {
  std::string text;
  AppendMemory(text, 0, 0xC000, 3);
  AppendMemory(text, 0x7FF000, 0x800, 2);
  AppendMemory(text, 0xF80000, 8, 2);  // the eighth word lies past the last config word
  text += ":00000001FF\n";
  return text;
}

// The benchmark's HEX file on disk: FW_BENCH_HEX, or the generated image in a temp folder.
const std::string& HexPath() {
  static const std::string path = [] {
    if (const char* given = std::getenv("FW_BENCH_HEX"))
      return std::string(given);
    const auto file = std::filesystem::temp_directory_path() / "bench_ihex_6014a.hex";
    std::ofstream(file, std::ios::binary) << FullImageText();
    return file.string();
  }();
  return path;
}

// The write command's work on the firmware: one read, three regions, three payloads.
void BM_ReadFileAndLoadThreeRegions(benchmark::State& state) {
  const std::string& path = HexPath();
  for (auto _ : state) {
    const fw::HexFileText file = fw::ReadHexFile(path);
    fw::TdsPicMemRegion flash(kFlash, true), eeprom(kEeprom, false), config(kConfig, false);
    flash.LoadFromHexFile(file);
    eeprom.LoadFromHexFile(file);
    config.LoadFromHexFile(file);
    std::vector<std::uint8_t> payload(flash.ImageSize() * 2);
    if (!payload.empty())
      flash.CopyImage(payload, static_cast<std::uint32_t>(flash.ImageFirst()),
                      static_cast<std::uint32_t>(flash.ImageLast()));
    benchmark::DoNotOptimize(payload.data());
    state.counters["bytes"] = static_cast<double>(file.bytes.size());
  }
}
BENCHMARK(BM_ReadFileAndLoadThreeRegions)->Unit(benchmark::kMillisecond);

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

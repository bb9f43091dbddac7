// Card data file speed: creating a card file of 512 MB (the figure to set beside dd on the same
// file system, see create_vs_dd.sh), listing a card that holds 10,000 entries, and the search for
// entries hidden past the chain that every write and verify makes over the free part of a 200 MB
// EXTENDED section (from the page cache here; on a card it reads at the card's speed).
// CARDDATA_BENCH_DIR chooses the folder the files are written to (default: the temp folder).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/carddata_create.h"
#include "core/carddata_file.h"
#include "core/entry_table.h"

namespace {

namespace fs = std::filesystem;

fs::path BenchDir() {
  const char* dir = std::getenv("CARDDATA_BENCH_DIR");
  return dir != nullptr ? fs::path(dir) : fs::temp_directory_path();
}

constexpr std::uint32_t kPagesPerMb = 2048;

void BM_CreateCard512Mb(benchmark::State& state) {
  const std::string path = (BenchDir() / "bench-create.rgd").string();
  const std::uint32_t pages = 512 * kPagesPerMb;
  for (auto _ : state) {
    fw::CreateCardDataFile(path, fw::MakeCardLayout(pages, 50, fw::ExtendedPagesFromMegabytes(51)));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * pages * 512);
  fs::remove(path);
}
BENCHMARK(BM_CreateCard512Mb)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// A card whose EXTENDED section holds `count` one-page entries, written directly.
std::string MakeCardWithEntries(int count) {
  const std::string path = (BenchDir() / "bench-list.rgd").string();
  const std::uint32_t extPages = static_cast<std::uint32_t>(count) * 2 + 2;
  fw::CreateCardDataFile(path, fw::MakeCardLayout(extPages + 1000, 50, extPages));
  fw::Page entry{};
  fw::TRgdEntryHeader header;
  header.Marker = fw::kEntryMarker;
  header.EntryType = fw::kFirmwareEntryType;
  header.Created = fw::PackDateTime({2024, 3, 5, 14, 7, 9, 0});
  header.Name = {'b', 'e', 'n', 'c', 'h', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 0};
  header.PageCount = 1;
  std::vector<std::uint8_t> chain(static_cast<std::size_t>(count) * 2 * fw::kPageSize, 0);
  for (int i = 0; i < count; ++i) {
    header.Id = static_cast<std::uint16_t>(i + 1);
    header.Serialize(entry);
    std::copy(entry.begin(), entry.end(), chain.begin() + static_cast<std::ptrdiff_t>(i) * 2 * 512);
  }
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp((50 * 4 + 1) * 512);
  file.write(reinterpret_cast<const char*>(chain.data()),
             static_cast<std::streamsize>(chain.size()));
  return path;
}

void BM_ListCard10000Entries(benchmark::State& state) {
  const std::string path = MakeCardWithEntries(10000);
  for (auto _ : state) {
    fw::TRgdFile card(path, fw::TRgdFile::Mode::ReadOnly);
    const fw::TextTable table = fw::EntryTable(card.Entries());
    if (table.RowCount() != 10002) {
      state.SkipWithError("wrong entry count");
      break;
    }
    benchmark::DoNotOptimize(table);
  }
  fs::remove(path);
}
BENCHMARK(BM_ListCard10000Entries)->Unit(benchmark::kMillisecond);

void BM_FindHiddenEntriesIn200MbSection(benchmark::State& state) {
  const std::string path = (BenchDir() / "bench-hidden.rgd").string();
  constexpr std::uint32_t kSectionMb = 200;
  fw::CreateCardDataFile(path, fw::MakeCardLayout(2 * kSectionMb * kPagesPerMb, 50,
                                                  fw::ExtendedPagesFromMegabytes(kSectionMb)));
  for (auto _ : state) {
    fw::TRgdFile card(path, fw::TRgdFile::Mode::ReadOnly);
    if (!card.FindOrphanedEntries().empty()) {
      state.SkipWithError("hidden entries on a fresh card");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kSectionMb * 1048576);
  fs::remove(path);
}
BENCHMARK(BM_FindHiddenEntriesIn200MbSection)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

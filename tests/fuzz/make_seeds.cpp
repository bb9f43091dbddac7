// Writes the seed inputs of the card fuzz targets into a folder: small card data files (a few
// dozen pages) made by the card data file code itself, and HEX image descriptions for the round
// trip. Usage: fuzz_make_seeds <folder>; it makes <folder>/fuzz_carddata and
// <folder>/fuzz_roundtrip.
#include <array>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/carddata_file.h"
#include "core/carddata_layout.h"
#include "memory_file_device.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

// 40 pages: 8 session pages, 24 EXTENDED pages (absolute 9..32), 7 main pages.
constexpr std::uint32_t kPages = 40;
constexpr std::uint32_t kSessions = 2;
constexpr std::uint32_t kExtendedPages = 24;

// Header bytes 80..83 steer the card target's append: FLASH, EEPROM, CONFIG sizes and flags
// (bit 0 scramble, bit 1 put the chain's checksums right first, bit 2 let write number 1 + bits
// 4..5 of the append fail half-way).
struct Knobs {
  std::uint8_t flash = 0xFF, eeprom = 0xFF, config = 0xFF, flags = 0xFF;
};

struct Payloads {
  std::size_t flash = 0, eeprom = 0, config = 0;
  bool scramble = false;
};

Bytes Pattern(std::size_t size, std::uint8_t seed) {
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i)
    out[i] = static_cast<std::uint8_t>(seed * 31 + i * 13 + (i >> 5));
  return out;
}

Bytes NewCard(std::uint32_t pages, std::uint32_t sessions, std::uint32_t extended, Knobs knobs) {
  Bytes card(std::size_t{pages} * fw::kPageSize, 0);
  fw::MakeNewHeader(pages, sessions, extended)
      .Serialize(fw::PageBuffer(card.data(), fw::kPageSize));
  card[80] = knobs.flash;
  card[81] = knobs.eeprom;
  card[82] = knobs.config;
  card[83] = knobs.flags;
  return card;
}

void Append(Bytes& card, const std::vector<Payloads>& entries) {
  fw::TRgdFile file("seed.rgd", std::make_unique<fw::fuzz::MemoryFileDevice>(card));
  std::uint8_t n = 0;
  for (const Payloads& p : entries) {
    ++n;
    const Bytes flash = Pattern(p.flash, n);
    const Bytes eeprom = Pattern(p.eeprom, n + 1);
    const Bytes config = Pattern(p.config, n + 2);
    file.AddEntry("Seed " + std::to_string(n), {7, 2, n, static_cast<std::uint16_t>(n * 257)},
                  fw::DateTime{2024, 3, n, 14, 7, 9, 0},
                  {.Flash = flash,
                   .FlashStart = 0,
                   .FlashEntryPoint = 0x000100,
                   .Eeprom = eeprom,
                   .EepromStart = 0x7FF000,
                   .Config = config},
                  p.scramble ? std::optional(fw::TScrambleKeys{n, 0x3C}) : std::nullopt);
  }
}

// Byte `offset` of the entry header page `page` (absolute).
void Patch(Bytes& card, std::uint32_t page, std::size_t offset, std::span<const std::uint8_t> v) {
  std::copy(v.begin(), v.end(),
            card.begin() + static_cast<std::ptrdiff_t>(page * fw::kPageSize + offset));
}

void Save(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out)
    throw std::runtime_error("cannot write " + path.string());
}

void CardSeeds(const fs::path& dir) {
  const auto card = [](Knobs knobs, const std::vector<Payloads>& entries) {
    Bytes c = NewCard(kPages, kSessions, kExtendedPages, knobs);
    Append(c, entries);
    return c;
  };
  const Payloads flashOnly{100, 0, 0, false};
  const Payloads all{600, 64, 14, false};
  const Payloads allScrambled{600, 64, 14, true};
  const Payloads eepromScrambled{0, 512, 0, true};
  const Payloads configOnly{0, 0, 16, false};
  const Payloads headerOnly{0, 0, 0, false};

  Save(dir / "new.rgd", card({}, {}));
  Save(dir / "new-small-append.rgd", card({1, 0, 0, 0}, {}));
  Save(dir / "one-flash.rgd", card({8, 2, 1, 0}, {flashOnly}));
  // The append's payload write, then its header page write, fails half-way.
  Save(dir / "one-flash-payload-fails.rgd", card({8, 2, 1, 0x04}, {flashOnly}));
  Save(dir / "one-flash-header-fails.rgd", card({8, 2, 1, 0x15}, {flashOnly}));
  Save(dir / "one-all.rgd", card({}, {all}));
  Save(dir / "one-all-scrambled.rgd", card({16, 4, 7, 1}, {allScrambled}));
  Save(dir / "one-header-only.rgd", card({0, 0, 0, 2}, {headerOnly}));
  Save(dir / "several.rgd",
       card({32, 1, 2, 3}, {flashOnly, eepromScrambled, configOnly, allScrambled, headerOnly}));

  // The last entry ends on the last page of the EXTENDED section: no free page is left.
  // Entry 1 takes pages 9..10, page 11 is skipped, entry 2 takes 12..32 (21 pages).
  Save(dir / "end-of-section.rgd", card({1, 0, 0, 0}, {flashOnly, {8000, 1500, 14, true}}));
  // One page short of the end: only a header-only entry still fits.
  Save(dir / "one-page-left.rgd", card({0, 0, 0, 0}, {flashOnly, {7600, 1000, 14, false}}));

  Save(dir / "no-extended.rgd", NewCard(kPages, kSessions, 0, {1, 0, 0, 0}));
  // The EXTENDED section reaches past the end of a truncated file.
  Bytes truncated = card({2, 0, 0, 2}, {all, flashOnly});
  truncated.resize(16 * fw::kPageSize);
  Save(dir / "truncated.rgd", truncated);

  // Entries of other types (2 and 21) and a type 1 Id at the top of its 16 bits: the type is not
  // covered by the header checksum, the Id neither.
  Bytes types = card({4, 0, 0, 0}, {flashOnly, configOnly, headerOnly});
  const std::uint8_t avr[] = {2, 0}, unnamed[] = {21, 0}, topId[] = {0xFF, 0xFF};
  Patch(types, 9, 6, avr);       // entry 1 at page 9
  Patch(types, 12, 6, unnamed);  // entry 2 at page 12 (9 + 2 + 1)
  Patch(types, 14, 8, topId);    // entry 3 at page 14 (12 + 1 + 1)
  Save(dir / "other-types.rgd", types);

  // A whole entry whose FLASH start puts its HEX addresses past 32 bits (no tool of ours writes
  // one; the checksums hold, so extract takes it).
  Bytes far = NewCard(kPages, kSessions, kExtendedPages, {1, 0, 0, 0});
  {
    fw::TRgdFile file("seed.rgd", std::make_unique<fw::fuzz::MemoryFileDevice>(far));
    const Bytes flash = Pattern(8, 9);
    file.AddEntry("Far", {7, 2, 3, 0}, fw::DateTime{2024, 3, 5, 14, 7, 9, 0},
                  {.Flash = flash, .FlashStart = 0x80000000u, .EepromStart = 0x7FF000});
  }
  Save(dir / "flash-start-past-32-bits.rgd", far);

  // The first entry's header page lost its marker (as if its append had been cut off before
  // the header page): the chain ends at page 9, and the entries after it are left behind. An
  // append of 2 pages there reaches the old entry at page 12 with its stride.
  Bytes stale = card({1, 0, 0, 0}, {flashOnly, eepromScrambled, configOnly});
  const std::uint8_t noMarker[] = {0, 0};
  Patch(stale, 9, 0, noMarker);
  Save(dir / "stale-after-free.rgd", stale);
}

// Round-trip inputs: flags, a base word index (LE) per memory, then chunks of [memory][word offset
// from the base][word count - 1][4 bytes a word].
class RoundTripInput {
 public:
  explicit RoundTripInput(std::uint8_t flags, std::array<std::uint16_t, 3> bases = {})
      : bytes_{flags} {
    for (const std::uint16_t base : bases)
      bytes_.insert(bytes_.end(),
                    {static_cast<std::uint8_t>(base), static_cast<std::uint8_t>(base >> 8)});
  }
  RoundTripInput& Words(std::uint8_t memory, std::uint8_t offset,
                        const std::vector<std::array<std::uint8_t, 4>>& words) {
    bytes_.insert(bytes_.end(), {memory, offset, static_cast<std::uint8_t>(words.size() - 1)});
    for (const auto& w : words)
      bytes_.insert(bytes_.end(), w.begin(), w.end());
    return *this;
  }
  const Bytes& Get() const { return bytes_; }

 private:
  Bytes bytes_;
};

constexpr std::uint8_t kFlash = 0, kEeprom = 1, kConfig = 2;

void RoundTripSeeds(const fs::path& dir) {
  Save(dir / "empty.bin", RoundTripInput(0).Get());
  // The reset vector GOTO 0x000100 and three instructions at 0x100.
  Save(dir / "reset-and-code.bin",
       RoundTripInput(0)
           .Words(kFlash, 0, {{0x00, 0x01, 0x04, 0x00}, {0x00, 0x00, 0x00, 0x00}})
           .Words(kFlash, 0x80, {{1, 2, 3, 0}, {4, 5, 6, 0}, {7, 8, 9, 0}})
           .Get());
  // EEPROM words at both ends of its window; scrambled, lower case, CR LF.
  Save(dir / "eeprom-start.bin", RoundTripInput(7).Words(kEeprom, 0, {{0x11, 0x22, 0, 0}}).Get());
  Save(dir / "eeprom-end.bin", RoundTripInput(7, {0, 0x6FF, 0})
                                   .Words(kEeprom, 0, {{0x33, 0x44, 0, 0}})
                                   .Words(kEeprom, 0xFF, {{0x55, 0x66, 0, 0}})
                                   .Get());
  // Every configuration word, a FLASH word at the top of its window, an address record before
  // every data record.
  Save(dir / "config-all.bin", RoundTripInput(8, {0xBF7F, 0, 0})
                                   .Words(kConfig, 0,
                                          {{0xA1, 0xB1, 0, 0},
                                           {0xA2, 0xB2, 0, 0},
                                           {0xA3, 0xB3, 0, 0},
                                           {0xA4, 0xB4, 0, 0},
                                           {0xA5, 0xB5, 0, 0},
                                           {0xA6, 0xB6, 0, 0},
                                           {0xA7, 0xB7, 0, 0},
                                           {0xA8, 0xB8, 0, 0}})
                                   .Words(kFlash, 0, {{0x55, 0x66, 0x77, 0x00}})
                                   .Get());
  // Overlapping records: the later one wins; a run across the first 64 KiB of HEX addresses.
  Save(dir / "overlap.bin", RoundTripInput(1, {0x3F00, 0, 0})
                                .Words(kFlash, 0x10, {{1, 1, 1, 0}, {2, 2, 2, 0}, {3, 3, 3, 0}})
                                .Words(kFlash, 0x11, {{9, 9, 9, 0}})
                                .Words(kFlash, 0xFE, {{4, 4, 4, 0}, {5, 5, 5, 0}, {6, 6, 6, 0}})
                                .Get());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  try {
    const fs::path root = argv[1];
    for (const char* target : {"fuzz_carddata", "fuzz_roundtrip"})
      fs::create_directories(root / target);
    CardSeeds(root / "fuzz_carddata");
    RoundTripSeeds(root / "fuzz_roundtrip");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}

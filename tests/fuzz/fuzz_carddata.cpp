// Any bytes as a card data file, used as a user would use it: opened, listed, every entry verified
// and read back as extract does (down to the HEX text), then one small entry appended. The card
// is held in memory. A refused append must leave every byte as it was; a successful one may change
// only the pages of the new entry, and the card must open again with the old entries exactly as
// before and the new one whole. Failing with the system's own errors is fine; anything else, and
// any broken promise above, is a finding (abort).
//
// Header bytes 80..83 are fill that nothing reads: the target takes the new entry's sizes from
// them, whether it is scrambled, whether the checksums of the chain are put right first (so
// that mutated cards still get past verification to the extract) and which write of the append
// fails half-way, as when the card is pulled out.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/carddata_errors.h"
#include "core/carddata_file.h"
#include "core/carddata_format.h"
#include "core/carddata_layout.h"
#include "core/catalogue.h"
#include "core/entry_table.h"
#include "core/errors.h"
#include "core/hex_writer.h"
#include "core/ihex_record.h"
#include "memory_file_device.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kConfigBase = 0xF80000;  // where extract puts the CONFIG payload
constexpr fw::TScrambleKeys kKeys{0x5B, 0x3C};   // the keys of a scrambled append
constexpr int kMaxRepairedEntries = 64;

void Require(bool ok, const char* what) {
  if (ok)
    return;
  std::fprintf(stderr, "fuzz_carddata: %s\n", what);
  std::abort();
}

std::uint64_t PaddedSize(std::uint64_t size) {
  return (size + fw::kPageSize - 1) / fw::kPageSize * fw::kPageSize;
}

void PutU32(std::span<std::uint8_t> page, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i)
    page[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The entry the target appends, chosen by the unused header bytes 80..83.
struct Plan {
  Bytes flash, eeprom, config;
  bool scramble = false;
  bool repair = false;
  std::size_t failingWrite = 0;  // 0: every write of the append succeeds
};

Bytes Pattern(std::size_t size, std::uint8_t seed) {
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i)
    out[i] = static_cast<std::uint8_t>(seed + i * 7);
  return out;
}

Plan PlanOf(const Bytes& image) {
  const auto knob = [&](std::size_t i) -> std::uint8_t {
    return i < image.size() ? image[i] : 0xFF;
  };
  Plan plan;
  plan.flash = Pattern(std::size_t{knob(80)} * 4, 0x11);
  plan.eeprom = Pattern(std::size_t{knob(81) & 0x3Fu} * 10, 0x22);
  plan.config = Pattern(std::size_t{knob(82) & 0x0Fu} * 2, 0x33);
  plan.scramble = (knob(83) & 1u) != 0;
  plan.repair = (knob(83) & 2u) != 0;
  if ((knob(83) & 4u) != 0)
    plan.failingWrite = 1 + ((knob(83) >> 4) & 3u);
  return plan;
}

// The checksum of a payload as stored at `at`, unscrambled; nothing when it is not in the image.
std::optional<std::uint32_t> StoredChecksum(const Bytes& image, std::uint64_t at,
                                            std::uint32_t size, const fw::TRgdEntryHeader& e) {
  if (at > image.size() || size > image.size() - at)
    return std::nullopt;
  const std::span<const std::uint8_t> stored(image.data() + at, size);
  Bytes plain(size);
  fw::UnscrambleBuffer(stored, plain, e.XorKey, e.RotKey);
  return fw::CalcChecksum(plain);
}

// Puts right the payload and header checksums of the entries of the chain, walked as the card
// data file code walks it.
void RepairChecksums(Bytes& image) {
  if (image.size() < fw::kPageSize)
    return;
  const fw::TRgdHeader h = fw::TRgdHeader::Parse(fw::PageView(image.data(), fw::kPageSize));
  if (h.ExtendedPages == 0)
    return;
  const std::uint64_t pages = image.size() / fw::kPageSize;
  const std::uint64_t end = std::min(std::uint64_t{h.ExtendedStart} + h.ExtendedPages + 1, pages);
  std::uint64_t a = std::uint64_t{h.ExtendedStart} + 1;
  for (int n = 0; n < kMaxRepairedEntries && a < end; ++n) {
    const fw::PageBuffer page(image.data() + a * fw::kPageSize, fw::kPageSize);
    const fw::TRgdEntryHeader e = fw::TRgdEntryHeader::Parse(page);
    if (e.Marker != fw::kEntryMarker)
      return;
    std::uint64_t at = (a + 1) * fw::kPageSize;
    const std::array<std::pair<std::uint32_t, std::size_t>, 3> payloads = {
        {{e.FlashSize, 44}, {e.EepromSize, 60}, {e.ConfigSize, 72}}};
    for (const auto& [size, field] : payloads) {
      if (const auto sum = StoredChecksum(image, at, size, e))
        PutU32(page, field, *sum);
      at += PaddedSize(size);
    }
    PutU32(page, fw::kHeaderChecksumFirst + fw::kHeaderChecksumLength,
           fw::EntryHeaderChecksum(page));
    a += std::uint64_t{e.PageCount} + 1;
  }
}

Bytes HeaderBytes(const fw::TRgdEntryHeader& header) {
  fw::Page page{};
  header.Serialize(page);
  return {page.begin(), page.end()};
}

// What a user learns about one entry: its directory record and its payloads as read back.
struct Snapshot {
  fw::TRgdEntryInfo info;
  fw::TRgdEntryPayloads read;
};

bool SameEntry(const Snapshot& a, const Snapshot& b) {
  return a.info.Page == b.info.Page && a.info.EntryType == b.info.EntryType &&
         a.info.TypeName == b.info.TypeName && a.info.Id == b.info.Id &&
         a.info.Version == b.info.Version && a.info.Name == b.info.Name &&
         a.info.Created == b.info.Created && a.read.Page == b.read.Page &&
         a.read.HeaderChecksumOk == b.read.HeaderChecksumOk && a.read.PagesOk == b.read.PagesOk &&
         HeaderBytes(a.read.Header) == HeaderBytes(b.read.Header) && a.read.Flash == b.read.Flash &&
         a.read.Eeprom == b.read.Eeprom && a.read.Config == b.read.Config;
}

// Whether the payloads of an entry reach past the 32-bit HEX addresses (FLASH 2 bytes per
// processor address, EEPROM 4 bytes per word of 2 bytes); such an entry cannot be extracted.
bool BeyondHexAddresses(const fw::TRgdEntryPayloads& entry) {
  const std::uint64_t limit = std::uint64_t{1} << 32;
  const auto past = [&](std::uint32_t start, std::uint64_t bytes) {
    return bytes != 0 && 2 * std::uint64_t{start} + bytes > limit;
  };
  return past(entry.Header.FlashStart, entry.Flash.size()) ||
         past(entry.Header.EepromStart, (entry.Eeprom.size() + 1) / 2 * 4);
}

// As extract does: the payloads of a whole entry become a HEX file, which must read back cleanly;
// an entry whose addresses go past the HEX address space is refused with the system's error.
void Extract(const fw::TRgdEntryPayloads& entry) {
  fw::TDeviceInfo device;
  device.Config = {kConfigBase, kConfigBase + 0xE, 0xF};
  std::string hex;
  try {
    hex = fw::WriteDsPicHex(fw::HexImageOfEntry(entry, device));
  } catch (const fw::EHexAddressRange&) {
    Require(BeyondHexAddresses(entry), "the HEX writer refused an entry inside its addresses");
    return;
  }
  Require(!BeyondHexAddresses(entry), "the HEX writer took an entry past its addresses");
  fw::HexStream stream(hex, "extract.hex");
  fw::THexRecord record;
  bool ended = false;
  while (fw::ReadHexRecord(stream, record))
    ended = record.RecType == fw::kHexRecEndOfFile;
  Require(ended, "the extracted HEX text does not end with its end-of-file record");
}

// Lists the card and reads back and verifies every entry, as list, verify and extract do.
std::vector<Snapshot> ReadAll(fw::TRgdFile& card) {
  (void)fw::EntryTable(card.Entries());
  (void)card.FindOrphanedEntries();
  (void)card.FreeSpace();
  (void)card.FindFreePage();
  (void)card.MaxEntryId(fw::kFirmwareEntryType);
  std::vector<Snapshot> entries;
  for (int i = 0; i < card.EntryCount(); ++i) {
    Snapshot s{card.GetEntry(i), card.ReadEntryPayloads(i)};
    const fw::TRgdEntryCheck check = fw::CheckPayloads(s.read);
    (void)check.Failures();
    if (check.Ok())
      Extract(s.read);
    entries.push_back(std::move(s));
  }
  return entries;
}

std::unique_ptr<fw::TRgdFile> Open(Bytes& image, fw::fuzz::MemoryFileDevice** device = nullptr) {
  auto memory = std::make_unique<fw::fuzz::MemoryFileDevice>(image);
  if (device != nullptr)
    *device = memory.get();
  return std::make_unique<fw::TRgdFile>("fuzz.rgd", std::move(memory));
}

// Every byte outside [first, last) is as it was, and the file kept its size.
bool SameOutside(const Bytes& now, const Bytes& before, std::uint64_t first, std::uint64_t last) {
  if (now.size() != before.size() || last > now.size())
    return false;
  const auto f = static_cast<std::ptrdiff_t>(first);
  const auto l = static_cast<std::ptrdiff_t>(last);
  return std::equal(now.begin(), now.begin() + f, before.begin()) &&
         std::equal(now.begin() + l, now.end(), before.begin() + l);
}

std::uint64_t EntryPages(const Plan& plan) {
  return 1 + (PaddedSize(plan.flash.size()) + PaddedSize(plan.eeprom.size()) +
              PaddedSize(plan.config.size())) /
                 fw::kPageSize;
}

// The page where the chain goes on after the new entry (the stride is PageCount + 1), when it
// lies in the section and the file and starts with the entry marker: the append clears it, so that
// no stale header of an earlier append joins the chain through the new entry.
std::optional<std::uint64_t> StalePageAfter(const Bytes& image, const fw::TRgdHeader& h,
                                            std::uint32_t freePage, const Plan& plan) {
  const std::uint64_t next = freePage + EntryPages(plan) + 1;
  const std::uint64_t end =
      std::min(std::uint64_t{h.ExtendedStart} + h.ExtendedPages + 1, image.size() / fw::kPageSize);
  if (next >= end)
    return std::nullopt;
  const std::size_t at = next * fw::kPageSize;
  if (image[at] != 0x5A || image[at + 1] != 0x5A)
    return std::nullopt;
  return next;
}

void CheckAppended(Bytes& image, const Bytes& before, const std::vector<Snapshot>& old,
                   const Plan& plan, std::uint32_t freePage, std::uint16_t expectedId,
                   std::optional<std::uint64_t> stalePage) {
  const std::uint64_t first = std::uint64_t{freePage} * fw::kPageSize;
  Bytes expectedOutside = before;
  if (stalePage) {
    const auto at = static_cast<std::ptrdiff_t>(*stalePage * fw::kPageSize);
    std::fill_n(expectedOutside.begin() + at, fw::kPageSize, std::uint8_t{0});
  }
  Require(SameOutside(image, expectedOutside, first, first + EntryPages(plan) * fw::kPageSize),
          "the append changed bytes outside the new entry's pages and the stale page after it");

  std::unique_ptr<fw::TRgdFile> card;
  try {
    card = Open(image);
  } catch (const std::exception&) {
    Require(false, "the card does not open after a successful append");
  }
  Require(card->EntryCount() == static_cast<int>(old.size()) + 1,
          "the append did not add exactly one entry to the chain");
  for (std::size_t i = 0; i < old.size(); ++i) {
    const int index = static_cast<int>(i);
    Require(SameEntry(old[i], {card->GetEntry(index), card->ReadEntryPayloads(index)}),
            "an old entry reads differently after the append");
  }
  const int added = static_cast<int>(old.size());
  const fw::TRgdEntryPayloads read = card->ReadEntryPayloads(added);
  Require(fw::CheckPayloads(read).Ok(), "the new entry does not verify");
  Require(read.Page == freePage && card->GetEntry(added).Id == expectedId,
          "the new entry is not where or what it should be");
  Require(read.Flash == plan.flash && read.Eeprom == plan.eeprom && read.Config == plan.config,
          "the new entry's payloads read back differently");
}

void Exercise(Bytes& image) {
  const Plan plan = PlanOf(image);
  if (plan.repair)
    RepairChecksums(image);
  fw::fuzz::MemoryFileDevice* device = nullptr;
  std::unique_ptr<fw::TRgdFile> card = Open(image, &device);
  const std::vector<Snapshot> old = ReadAll(*card);

  const Bytes before = image;
  const std::optional<std::uint32_t> freeIndex = card->FindFreePage();
  const std::uint64_t freeBytes = card->FreeSpace();
  const auto expectedId = static_cast<std::uint16_t>(card->MaxEntryId(fw::kFirmwareEntryType) + 1);
  const std::uint32_t freePage = card->Header().ExtendedStart + 1 + freeIndex.value_or(0);
  const std::optional<std::uint64_t> stale =
      freeIndex ? StalePageAfter(image, card->Header(), freePage, plan) : std::nullopt;
  const fw::DateTime created{2026, 12, 10, 11, 12, 13, 0};
  device->FailWrite(plan.failingWrite);
  try {
    card->AddEntry("FUZZ", {7, 2, 3, 258}, created,
                   {.Flash = plan.flash,
                    .FlashStart = 0,
                    .FlashEntryPoint = 0x000100,
                    .Eeprom = plan.eeprom,
                    .EepromStart = 0x7FF000,
                    .Config = plan.config},
                   plan.scramble ? std::optional(kKeys) : std::nullopt);
  } catch (const fw::EOutOfSpace&) {
    Require(image == before, "a refused append changed the card");
    return;
  } catch (const std::exception&) {
    // Also when a write failed half-way: the append puts back what it had overwritten.
    Require(image == before, "an append that failed changed the card");
    throw;
  }
  Require(freeIndex.has_value() && freeBytes > 0, "an entry was appended to a full card");
  card.reset();
  CheckAppended(image, before, old, plan, freePage, expectedId, stale);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Bytes image(data, data + size);
  try {
    Exercise(image);
  } catch (const fw::ErgdException&) {
  } catch (const fw::EInOutError&) {
  } catch (const fw::EConvertError&) {
  }
  return 0;
}

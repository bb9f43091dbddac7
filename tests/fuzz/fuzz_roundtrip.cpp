// A valid HEX image for the default device, built from the input, goes the whole way of an update
// and back: loaded into the FLASH, EEPROM and CONFIG regions as the write command loads them,
// appended to a fresh card held in memory, read back, turned into HEX text again and loaded once
// more. The payloads must equal the words the image holds at every step; any difference, and any
// error at all, is a finding (abort): nothing on this road may fail for a valid image that fits.
//
// Input: one byte of flags, for each memory a base word index (2 bytes LE), then chunks of
// [memory][word offset from the base][word count - 1][data], the data being 4 bytes per word in
// HEX file order (cut short, it is filled up with 0xA5). The base keeps an image compact, so that
// a run stays short, and lets it sit anywhere in the window, the ends and 64 KiB HEX blocks
// included.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/carddata_file.h"
#include "core/carddata_layout.h"
#include "core/catalogue.h"
#include "core/hex_writer.h"
#include "core/ihex.h"
#include "memory_file_device.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Group = std::array<std::uint8_t, 4>;

void Require(bool ok, const char* what) {
  if (ok)
    return;
  std::fprintf(stderr, "fuzz_roundtrip: %s\n", what);
  std::abort();
}

// The first device of the shipped catalogue.
const fw::TDeviceInfo kDevice = [] {
  fw::TDeviceInfo d;
  d.Name = "НУБРА-7 МК dsPIC30F6014A";
  d.HClass = 7;
  d.HRel = 2;
  d.SVer = 3;
  d.Flash = {0x000000, 0x017FFE, 0x017FFF};
  d.FlashApp = {0x000000, 0x017EFE, 0x017EFF};
  d.Eeprom = {0x7FF000, 0x7FFFFE, 0x000FFF};
  d.EepromApp = {0x7FF000, 0x7FFDFE, 0x000DFF};
  d.Config = {0xF80000, 0xF8000E, 0x00000F};
  return d;
}();

constexpr fw::TScrambleKeys kKeys{0xA7, 0x19};  // the keys of a scrambled entry

enum Memory : std::size_t { kFlash, kEeprom, kConfig, kMemories };

struct MemorySpec {
  fw::TMemRange range;
  fw::TMemRange window;
  bool program;
  const char* section;
};

const std::array<MemorySpec, kMemories> kSpecs = {{
    {kDevice.Flash, kDevice.FlashApp, true, "FLASH"},
    {kDevice.Eeprom, kDevice.EepromApp, false, "EEPROM"},
    {kDevice.Config, kDevice.Config, false, "CONFIG"},
}};

std::uint32_t WindowWords(const MemorySpec& spec) {
  return static_cast<std::uint32_t>(spec.window.EndAddr - spec.window.BaseAddr) / 2 + 1;
}

class Input {
 public:
  explicit Input(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool Empty() const { return bytes_.empty(); }
  std::uint8_t Byte(std::uint8_t fill = 0) {
    if (bytes_.empty())
      return fill;
    const std::uint8_t b = bytes_.front();
    bytes_ = bytes_.subspan(1);
    return b;
  }

 private:
  std::span<const std::uint8_t> bytes_;
};

// Intel HEX32 text as a tool chain writes it, in upper or lower case, with LF or CR LF.
class HexBuilder {
 public:
  HexBuilder(bool lowerCase, bool crlf, bool alwaysUpper)
      : digits_(lowerCase ? "0123456789abcdef" : "0123456789ABCDEF"),
        lineEnd_(crlf ? "\r\n" : "\n"),
        alwaysUpper_(alwaysUpper) {}

  // Data at a HEX byte address; the caller keeps it inside one 64 KiB block.
  void Data(std::uint32_t address, std::span<const std::uint8_t> bytes) {
    const auto upper = static_cast<std::uint16_t>(address >> 16);
    if (alwaysUpper_ || upper_ != upper) {
      const std::array<std::uint8_t, 2> value = {static_cast<std::uint8_t>(upper >> 8),
                                                 static_cast<std::uint8_t>(upper)};
      Record(fw::kHexRecExtLinearAddress, 0, value);
      upper_ = upper;
    }
    Record(fw::kHexRecData, static_cast<std::uint16_t>(address), bytes);
  }

  std::string Finish() {
    Record(fw::kHexRecEndOfFile, 0, {});
    return std::move(text_);
  }

 private:
  void Record(std::uint8_t type, std::uint16_t offset, std::span<const std::uint8_t> data) {
    unsigned sum = 0;
    text_ += ':';
    const auto put = [&](std::uint8_t b) {
      text_ += digits_[b >> 4];
      text_ += digits_[b & 0x0F];
      sum += b;
    };
    put(static_cast<std::uint8_t>(data.size()));
    put(static_cast<std::uint8_t>(offset >> 8));
    put(static_cast<std::uint8_t>(offset));
    put(type);
    for (const std::uint8_t b : data)
      put(b);
    put(static_cast<std::uint8_t>(0x100u - (sum & 0xFFu)));
    text_ += lineEnd_;
  }

  const char* digits_;
  std::string_view lineEnd_;
  bool alwaysUpper_;
  std::optional<std::uint16_t> upper_;
  std::string text_;
};

// The words the image holds, by processor address, for each memory.
using Model = std::array<std::map<std::uint32_t, Group>, kMemories>;

struct Image {
  std::string hex;
  Model model;
  bool scramble = false;
};

Image BuildImage(std::span<const std::uint8_t> data) {
  Input in(data);
  const std::uint8_t flags = in.Byte();
  Image image;
  image.scramble = (flags & 1u) != 0;
  HexBuilder hex((flags & 2u) != 0, (flags & 4u) != 0, (flags & 8u) != 0);
  std::array<std::uint32_t, kMemories> bases{};
  for (std::size_t m = 0; m < kMemories; ++m)
    bases[m] = (in.Byte() | std::uint32_t{in.Byte()} << 8) % WindowWords(kSpecs[m]);
  while (!in.Empty()) {
    const std::size_t m = in.Byte() % kMemories;
    const MemorySpec& spec = kSpecs[m];
    auto& words = image.model[m];
    const std::uint32_t windowWords = WindowWords(spec);
    const std::uint32_t first = std::min(bases[m] + in.Byte(), windowWords - 1);
    const std::uint32_t count = std::min<std::uint32_t>(1 + in.Byte() % 32, windowWords - first);
    const auto base = static_cast<std::uint32_t>(spec.window.BaseAddr);
    Bytes record;
    std::optional<std::uint32_t> recordAddress;
    for (std::uint32_t k = 0; k < count; ++k) {
      const std::uint32_t address = base + 2 * (first + k);
      const std::uint32_t hexAddress = address * 2;
      // A record never crosses a 64 KiB block: the reader places it by its first word.
      if (recordAddress && (hexAddress >> 16) != (*recordAddress >> 16)) {
        hex.Data(*recordAddress, record);
        record.clear();
        recordAddress.reset();
      }
      if (!recordAddress)
        recordAddress = hexAddress;
      Group group;
      for (std::uint8_t& b : group)
        b = in.Byte(0xA5);
      if (!spec.program)
        group[2] = group[3] = 0;  // the padding of a data word
      record.insert(record.end(), group.begin(), group.end());
      words[address] = group;
    }
    if (recordAddress)
      hex.Data(*recordAddress, record);
  }
  image.hex = hex.Finish();
  return image;
}

struct Payload {
  Bytes bytes;
  std::uint32_t start = 0;
};

// What the write command takes from a memory: 4 bytes per word for FLASH, 2 for the data
// memories, from the first to the last word held, gaps unprogrammed.
Payload Expected(const MemorySpec& spec, const std::map<std::uint32_t, Group>& words) {
  Payload p;
  p.start = static_cast<std::uint32_t>(spec.range.BaseAddr);
  if (words.empty())
    return p;
  p.start = words.begin()->first;
  const std::uint32_t last = words.rbegin()->first;
  for (std::uint32_t a = p.start; a <= last; a += 2) {
    const auto it = words.find(a);
    const Group g = it != words.end() ? it->second : Group{0xFF, 0xFF, 0xFF, 0x00};
    p.bytes.insert(p.bytes.end(), g.begin(), g.begin() + (spec.program ? 4 : 2));
  }
  return p;
}

std::uint32_t ExpectedEntryPoint(const std::map<std::uint32_t, Group>& flash) {
  const auto word = [&](std::uint32_t address) {
    const auto it = flash.find(address);
    return it != flash.end() ? it->second : Group{0xFF, 0xFF, 0xFF, 0x00};
  };
  const Group goto0 = word(0);
  const Group goto1 = word(2);
  return std::uint32_t{goto1[0]} << 16 | std::uint32_t{goto0[1]} << 8 | goto0[0];
}

// The regions live across runs; every load starts by clearing them.
std::array<fw::TdsPicMemRegion, kMemories>& Regions() {
  static std::array<fw::TdsPicMemRegion, kMemories> regions = {
      fw::TdsPicMemRegion(kSpecs[kFlash].range, true),
      fw::TdsPicMemRegion(kSpecs[kEeprom].range, false),
      fw::TdsPicMemRegion(kSpecs[kConfig].range, false)};
  return regions;
}

struct Loaded {
  std::array<Payload, kMemories> payloads;
  std::uint32_t entryPoint = 0;
};

// As the write command: load, bound by the window, check, copy.
Loaded Load(const std::string& text) {
  const fw::HexFileText file{"roundtrip.hex", text};
  Loaded out;
  for (std::size_t m = 0; m < kMemories; ++m) {
    const MemorySpec& spec = kSpecs[m];
    fw::TdsPicMemRegion& region = Regions()[m];
    region.LoadFromHexFile(file);
    region.SetAppBase(static_cast<std::uint32_t>(spec.window.BaseAddr));
    region.SetAppEnd(static_cast<std::uint32_t>(spec.window.EndAddr));
    region.CheckAppRange(spec.section);
    const std::uint32_t size = spec.program ? region.ImageSize() * 2 : region.ImageByteSize();
    Payload& p = out.payloads[m];
    p.bytes.resize(size);
    if (size != 0)
      region.CopyImage(p.bytes, static_cast<std::uint32_t>(region.ImageFirst()),
                       static_cast<std::uint32_t>(region.ImageLast()));
    p.start = static_cast<std::uint32_t>(region.ImageFirst());
  }
  out.entryPoint = Regions()[kFlash].EntryPoint();
  return out;
}

bool SamePayloads(const Loaded& a, const Loaded& b) {
  for (std::size_t m = 0; m < kMemories; ++m) {
    if (a.payloads[m].bytes != b.payloads[m].bytes || a.payloads[m].start != b.payloads[m].start)
      return false;
  }
  return a.entryPoint == b.entryPoint;
}

// A new card with just room for the entry, the page after it and a few main pages.
Bytes NewCard(const Loaded& loaded) {
  std::uint64_t entryPages = 1;
  for (const Payload& p : loaded.payloads)
    entryPages += (p.bytes.size() + fw::kPageSize - 1) / fw::kPageSize;
  const auto extended = static_cast<std::uint32_t>(entryPages + 1);
  const std::uint32_t sessions = 1;
  const std::uint32_t pages = 1 + sessions * 4 + extended + 3;
  Bytes card(std::size_t{pages} * fw::kPageSize, 0);
  fw::MakeNewHeader(pages, sessions, extended)
      .Serialize(fw::PageBuffer(card.data(), fw::kPageSize));
  return card;
}

fw::TRgdEntryPayloads WriteAndRead(Bytes& card, const Loaded& loaded, bool scramble) {
  fw::TRgdFile file("roundtrip.rgd", std::make_unique<fw::fuzz::MemoryFileDevice>(card));
  Require(file.EntryCount() == 0, "a new card holds an entry");
  const auto& p = loaded.payloads;
  const fw::TRgdEntryImage image{.Flash = p[kFlash].bytes,
                                 .FlashStart = p[kFlash].start,
                                 .FlashEntryPoint = loaded.entryPoint,
                                 .Eeprom = p[kEeprom].bytes,
                                 .EepromStart = p[kEeprom].start,
                                 .Config = p[kConfig].bytes,
                                 .ConfigStart = p[kConfig].start};
  file.AddEntry("Round trip", {kDevice.HClass, kDevice.HRel, kDevice.SVer, 1},
                fw::DateTime{2026, 12, 10, 11, 12, 13, 0}, image,
                scramble ? std::optional(kKeys) : std::nullopt);
  Require(file.EntryCount() == 1, "the entry is not in the directory after the append");
  return file.ReadEntryPayloads(0);
}

void RoundTrip(std::span<const std::uint8_t> data) {
  const Image image = BuildImage(data);
  const Loaded loaded = Load(image.hex);
  Loaded model;
  for (std::size_t m = 0; m < kMemories; ++m)
    model.payloads[m] = Expected(kSpecs[m], image.model[m]);
  model.entryPoint = ExpectedEntryPoint(image.model[kFlash]);
  Require(SamePayloads(loaded, model), "the regions do not hold the image's words");

  Bytes card = NewCard(loaded);
  const fw::TRgdEntryPayloads read = WriteAndRead(card, loaded, image.scramble);
  Require(fw::CheckPayloads(read).Ok(), "the entry does not verify");
  Require((read.Header.XorKey != 0 && read.Header.RotKey != 0) == image.scramble,
          "the entry is scrambled or not against the choice");
  Loaded extracted;
  extracted.payloads[kFlash] = {read.Flash, read.Header.FlashStart};
  extracted.payloads[kEeprom] = {read.Eeprom, read.Header.EepromStart};
  // The entry keeps no address for CONFIG: it starts where the written image started.
  extracted.payloads[kConfig] = {read.Config, loaded.payloads[kConfig].start};
  extracted.entryPoint = read.Header.FlashEntryPoint;
  Require(SamePayloads(extracted, loaded), "the entry read back differs from what was written");

  const fw::TRgdEntryImage hex = fw::HexImageOfEntry(read, kDevice);
  const Loaded again = Load(fw::WriteDsPicHex(hex));
  // An extracted CONFIG payload is placed at the memory's base: the same start unless the image
  // left the first configuration words out.
  Loaded expectedAgain = loaded;
  if (!read.Config.empty())
    expectedAgain.payloads[kConfig].start = hex.ConfigStart;
  Require(SamePayloads(again, expectedAgain), "the extracted HEX loads differently");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  RoundTrip({data, size});
  return 0;
}

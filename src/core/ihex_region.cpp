#include "core/ihex_region.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "core/errors.h"
#include "core/message_format.h"
#include "core/texts.h"

namespace fw {
namespace {

constexpr std::size_t kSlotBytes = 4;
constexpr std::size_t kNoSlot = std::numeric_limits<std::size_t>::max();
constexpr std::int32_t kNoImageFirst = std::numeric_limits<std::int32_t>::max();
// A dsPIC30F addresses 24 bits; a catalogue range beyond that is a typing error, and its slot
// array (4 bytes per address unit, up to 8 GiB) would exhaust the memory instead of failing.
constexpr std::int64_t kMaxSlotCount = std::int64_t{1} << 24;

// Byte j of an unprogrammed slot array: FF FF FF 00 per slot.
std::uint8_t ErasedByte(std::uint64_t j) {
  return j % kSlotBytes == 3 ? 0x00 : 0xFF;
}

}  // namespace

TdsPicMemRegion::TdsPicMemRegion(TMemRange range, bool isProgramMemory)
    : isProgramMemory_(isProgramMemory),
      baseAddress_(static_cast<std::uint32_t>(range.BaseAddr)),
      endAddress_(static_cast<std::uint32_t>(range.EndAddr)),
      slotCount_(0) {
  const std::int64_t count = std::int64_t{range.EndAddr} - range.BaseAddr + 1;
  if (count < 0 || count > kMaxSlotCount)
    throw ERangeError();
  slotCount_ = static_cast<std::int32_t>(count);
  slots_.assign(static_cast<std::size_t>(count) * kSlotBytes, 0);
}

void TdsPicMemRegion::LoadFromHexFile(const HexFileText& file) {
  TdsPicMemRegion* const self[] = {this};
  LoadRegionsFromHexFile(file, self);
}

void LoadRegionsFromHexFile(const HexFileText& file, std::span<TdsPicMemRegion* const> regions) {
  for (TdsPicMemRegion* region : regions)
    region->BeginLoad();
  HexStream stream(file.bytes, file.path);
  std::uint32_t base = 0;  // set by the last extended address record, linear or segment
  THexRecord rec;
  bool endOfFile = false;
  bool anyRecord = false;
  while (!endOfFile && ReadHexRecord(stream, rec)) {
    anyRecord = true;
    const std::uint32_t value = rec.Data[0] * 256u + rec.Data[1];
    switch (rec.RecType) {
      case kHexRecEndOfFile:
        endOfFile = true;
        break;
      case kHexRecExtLinearAddress:
        base = value << 16;
        break;
      case kHexRecExtSegmentAddress:
        base = value << 4;
        break;
      case kHexRecData:
        for (TdsPicMemRegion* region : regions)
          region->StoreRecord(rec, base);
        break;
      default:
        break;  // start addresses and unknown types carry nothing for the image
    }
  }
  // A file that ends without its end-of-file record was cut short (a copy or download that did
  // not finish), and one without any record is no HEX file: neither may pass as a whole image.
  if (!anyRecord)
    throw EHexFormatError(FormatMessage(texts::kHexNoRecords, {file.path}));
  if (!endOfFile)
    throw EHexFormatError(FormatMessage(texts::kHexNoEndRecord, {file.path}));
  for (TdsPicMemRegion* region : regions)
    region->FinishLoad();
}

void TdsPicMemRegion::BeginLoad() {
  Clear();
  imageFirst_ = kNoImageFirst;
  imageLast_ = -1;
}

void TdsPicMemRegion::FinishLoad() {
  if (imageFirst_ == kNoImageFirst && imageLast_ == -1) {
    imageFirst_ = static_cast<std::int32_t>(baseAddress_);
    imageLast_ = static_cast<std::int32_t>(baseAddress_);
  }
}

// Only the record's first word decides whether the record belongs to the region; the words after
// it are stored wherever they fall (those past the slots are dropped) and all move ImageLast.
// A slot holds its word's 4 bytes in file order, so each group is copied as it stands.
void TdsPicMemRegion::StoreRecord(const THexRecord& rec, std::uint32_t base) {
  const std::uint32_t firstWord = (base + rec.Address) / 4;
  if (firstWord < baseAddress_ / 2 || firstWord > endAddress_ / 2)
    return;
  const unsigned groups = rec.DataLen / 4u;
  if (groups == 0)
    return;
  for (unsigned k = 0; k < groups; ++k) {
    const std::size_t offset = SlotOffset((firstWord + k) * 2);
    if (offset != kNoSlot)
      std::memcpy(&slots_[offset], &rec.Data[4 * k], kSlotBytes);
  }
  const std::uint32_t first = firstWord * 2;
  const std::uint32_t last = (firstWord + groups - 1) * 2;
  imageFirst_ = static_cast<std::int32_t>(std::min<std::int64_t>(imageFirst_, first));
  imageLast_ = static_cast<std::int32_t>(std::max<std::int64_t>(imageLast_, last + 1LL));
}

void TdsPicMemRegion::Clear() {
  if (slots_.empty())
    return;
  // One erased slot, then the filled part copied onto the rest in doubling steps.
  const std::uint8_t erased[kSlotBytes] = {0xFF, 0xFF, 0xFF, 0x00};
  std::memcpy(slots_.data(), erased, kSlotBytes);
  for (std::size_t done = kSlotBytes; done < slots_.size();) {
    const std::size_t n = std::min(done, slots_.size() - done);
    std::memcpy(slots_.data() + done, slots_.data(), n);
    done += n;
  }
}

std::size_t TdsPicMemRegion::SlotOffset(std::uint32_t address) const {
  const std::uint32_t slot = (address - baseAddress_) / 2;
  if (slot >= static_cast<std::uint32_t>(slotCount_))
    return kNoSlot;
  return std::size_t{slot} * kSlotBytes;
}

std::uint8_t TdsPicMemRegion::GetByte(std::uint32_t address) const {
  const std::size_t offset = SlotOffset(address);
  if (offset == kNoSlot)
    return 0;
  return slots_[offset + (address - baseAddress_) % 2];
}

std::uint16_t TdsPicMemRegion::GetLowWord(std::uint32_t address) const {
  const std::size_t offset = SlotOffset(address);
  if (offset == kNoSlot)
    return 0;
  return static_cast<std::uint16_t>(slots_[offset] | slots_[offset + 1] << 8);
}

void TdsPicMemRegion::SetLowWord(std::uint32_t address, std::uint16_t value) {
  const std::size_t offset = SlotOffset(address);
  if (offset == kNoSlot)
    return;
  slots_[offset] = static_cast<std::uint8_t>(value & 0xFF);
  slots_[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void TdsPicMemRegion::SetHighWord(std::uint32_t address, std::uint16_t value) {
  const std::size_t offset = SlotOffset(address);
  if (offset == kNoSlot)
    return;
  slots_[offset + 2] = static_cast<std::uint8_t>(value & 0xFF);
  slots_[offset + 3] = static_cast<std::uint8_t>(value >> 8);
}

void TdsPicMemRegion::CheckAppRange(std::string_view sectionName) const {
  if (imageLast_ <= -1 || ImageSize() == 0)
    return;
  const std::int64_t first = imageFirst_;
  const std::int64_t last = imageLast_;
  const std::int64_t windowFirst = appBase_;
  const std::int64_t windowLast = appEnd_ | 1u;  // the odd half of the word at AppEnd
  const bool fits = windowFirst <= first && first <= windowLast && windowFirst <= last &&
                    last <= windowLast && first <= last;
  if (fits)
    return;
  throw ENotInWindow(
      FormatMessage(texts::kNotInWindow,
                    {std::string(sectionName), std::uint64_t{appBase_}, std::uint64_t{appEnd_},
                     std::int64_t{imageFirst_}, std::int64_t{imageLast_}}));
}

std::uint32_t TdsPicMemRegion::ImageSize() const {
  if (imageFirst_ >= imageLast_)
    return 0;
  return static_cast<std::uint32_t>(std::int64_t{imageLast_} - imageFirst_ + 1);
}

std::uint32_t TdsPicMemRegion::ImageByteSize() const {
  if (!isProgramMemory_)
    return ImageSize();
  return ImageSize() / 2 * 3;
}

void TdsPicMemRegion::CopyImage(std::span<std::uint8_t> buffer, std::uint32_t first,
                                std::uint32_t last) const {
  if (last < first)
    return;
  const std::uint64_t units = std::uint64_t{last} - first + 1;
  if (!isProgramMemory_) {
    const std::size_t count =
        static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), units));
    for (std::size_t i = 0; i < count; ++i)
      buffer[i] = GetByte(static_cast<std::uint32_t>(first + i));
    return;
  }
  const std::size_t count =
      static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), units * kSlotBytes));
  const std::uint32_t offset = first - baseAddress_;
  const std::uint64_t start = std::uint64_t{offset / 2} * kSlotBytes + offset % 2;
  std::size_t copied = 0;
  if (start < slots_.size()) {
    copied = static_cast<std::size_t>(std::min<std::uint64_t>(count, slots_.size() - start));
    std::memcpy(buffer.data(), slots_.data() + start, copied);
  }
  for (std::size_t i = copied; i < count; ++i)
    buffer[i] = ErasedByte(start + i);
}

std::uint32_t TdsPicMemRegion::EntryPoint() const {
  if (!isProgramMemory_ || baseAddress_ != 0)
    return 0;
  return std::uint32_t{GetByte(2)} * 65536u + GetLowWord(0);
}

}  // namespace fw

#include "core/carddata_layout.h"

#include <algorithm>

#include "core/cp1251.h"
#include "core/message_format.h"
#include "core/texts.h"

namespace fw {
namespace {

// Reads little-endian fields at fixed offsets of a page.
class FieldReader {
 public:
  explicit FieldReader(PageView page) : page_(page) {}
  void operator()(std::size_t at, std::uint8_t& v) const { v = page_[at]; }
  void operator()(std::size_t at, std::uint16_t& v) const {
    v = static_cast<std::uint16_t>(page_[at] | (page_[at + 1] << 8));
  }
  void operator()(std::size_t at, std::uint32_t& v) const {
    v = static_cast<std::uint32_t>(page_[at]) | (static_cast<std::uint32_t>(page_[at + 1]) << 8) |
        (static_cast<std::uint32_t>(page_[at + 2]) << 16) |
        (static_cast<std::uint32_t>(page_[at + 3]) << 24);
  }
  template <std::size_t N>
  void operator()(std::size_t at, std::array<std::uint8_t, N>& v) const {
    std::copy_n(page_.begin() + static_cast<std::ptrdiff_t>(at), N, v.begin());
  }

 private:
  PageView page_;
};

// Writes little-endian fields at fixed offsets of a page.
class FieldWriter {
 public:
  explicit FieldWriter(PageBuffer page) : page_(page) {}
  void operator()(std::size_t at, std::uint8_t v) const { page_[at] = v; }
  void operator()(std::size_t at, std::uint16_t v) const {
    page_[at] = static_cast<std::uint8_t>(v);
    page_[at + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  void operator()(std::size_t at, std::uint32_t v) const {
    for (std::size_t i = 0; i < 4; ++i) {
      page_[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
  }
  template <std::size_t N>
  void operator()(std::size_t at, const std::array<std::uint8_t, N>& v) const {
    std::copy(v.begin(), v.end(), page_.begin() + static_cast<std::ptrdiff_t>(at));
  }

 private:
  PageBuffer page_;
};

// Every field of the header page with its offset: the one list that reading and writing share,
// so that the two can never disagree on a byte.
template <typename Header, typename Field>
void HeaderFields(Header& h, const Field& field) {
  field(0, h.Magic);
  field(8, h.Format0);
  field(10, h.Format1);
  field(11, h.Format2);
  field(12, h.DataPages);
  field(16, h.Reserved1);
  field(20, h.Reserved2);
  field(24, h.SessionsStart);
  field(28, h.SessionsPages);
  field(32, h.ExtendedStart);
  field(36, h.ExtendedPages);
  field(40, h.MainStart);
  field(44, h.MainPages);
  field(48, h.Reserved3);
  field(80, h.Fill);
}

// Every field of an entry header page with its offset; the bytes not named stay 0x00.
template <typename Entry, typename Field>
void EntryFields(Entry& e, const Field& field) {
  field(0, e.Marker);
  field(2, e.PageCount);
  field(6, e.EntryType);
  field(8, e.Id);
  field(10, e.Name);
  field(27, e.Created);
  field(34, e.HClass);
  field(35, e.HRel);
  field(36, e.SVer);
  field(37, e.SRel);
  field(40, e.FlashSize);
  field(44, e.FlashChecksum);
  field(48, e.FlashStart);
  field(52, e.FlashEntryPoint);
  field(56, e.EepromSize);
  field(60, e.EepromChecksum);
  field(64, e.EepromStart);
  field(68, e.ConfigSize);
  field(72, e.ConfigChecksum);
  field(76, e.HeaderChecksum);
  field(80, e.XorKey);
  field(81, e.RotKey);
  field(84, e.Signature);
}

}  // namespace

TRgdHeader TRgdHeader::Parse(PageView page) {
  TRgdHeader h;
  HeaderFields(h, FieldReader(page));
  return h;
}

void TRgdHeader::Serialize(PageBuffer page) const {
  HeaderFields(*this, FieldWriter(page));
}

bool TRgdHeader::IsValid() const {
  return Magic == kRgdMagic && Format0 == 0 && Format1 == 1 && Format2 == 4;
}

std::optional<std::string> TRgdHeader::SectionFieldsProblem() const {
  // In 64 bits, so that no sum wraps into agreement.
  const std::uint64_t sessionsEnd = std::uint64_t{SessionsStart} + SessionsPages;
  const std::uint64_t extendedEnd = std::uint64_t{ExtendedStart} + ExtendedPages;
  if (ExtendedStart != sessionsEnd) {
    return FormatMessage(texts::kHeaderFieldMismatch,
                         {std::string("ExtendedStart"), std::uint64_t{ExtendedStart},
                          std::string("SessionsStart + SessionsPages"), sessionsEnd});
  }
  if (extendedEnd > DataPages) {
    return FormatMessage(texts::kHeaderExtendedPastData, {extendedEnd, std::uint64_t{DataPages}});
  }
  if (MainStart != extendedEnd) {
    return FormatMessage(texts::kHeaderFieldMismatch,
                         {std::string("MainStart"), std::uint64_t{MainStart},
                          std::string("ExtendedStart + ExtendedPages"), extendedEnd});
  }
  return std::nullopt;
}

TRgdHeader MakeNewHeader(std::uint32_t pages, std::uint32_t sessions, std::uint32_t extendedPages) {
  TRgdHeader h;
  h.Magic = kRgdMagic;
  h.Format0 = 0;
  h.Format1 = 1;
  h.Format2 = 4;
  h.DataPages = pages - 1;
  h.SessionsStart = 0;
  h.SessionsPages = sessions * 4;
  h.ExtendedStart = h.SessionsStart + h.SessionsPages;
  h.ExtendedPages = extendedPages;
  h.MainStart = h.ExtendedStart + h.ExtendedPages;
  h.MainPages = h.DataPages - h.MainStart;
  h.Reserved3.fill(0x00);
  h.Fill.fill(0xFF);
  return h;
}

TRgdEntryHeader TRgdEntryHeader::Parse(PageView page) {
  TRgdEntryHeader e;
  EntryFields(e, FieldReader(page));
  return e;
}

void TRgdEntryHeader::Serialize(PageBuffer page) const {
  std::fill(page.begin(), page.end(), std::uint8_t{0});
  EntryFields(*this, FieldWriter(page));
}

std::uint32_t EntryHeaderChecksum(PageView page) {
  return CalcChecksum(page.subspan(kHeaderChecksumFirst, kHeaderChecksumLength));
}

std::string_view EntryTypeName(std::uint16_t type) {
  return type < EntryTypeNames.size() ? EntryTypeNames[type] : std::string_view{};
}

TRgdEntryInfo MakeEntryInfo(std::uint32_t page, const TRgdEntryHeader& header) {
  TRgdEntryInfo info;
  info.Page = page;
  info.EntryType = header.EntryType;
  info.TypeName = std::string(EntryTypeName(header.EntryType));
  info.Id = header.Id;
  info.Version = {header.HClass, header.HRel, header.SVer, header.SRel};
  // The bytes up to the first 0x00, at most 16 of them.
  const auto nameEnd = std::find(header.Name.begin(), header.Name.begin() + 16, std::uint8_t{0});
  info.Name =
      Cp1251ToUtf8(std::string_view(reinterpret_cast<const char*>(header.Name.data()),
                                    static_cast<std::size_t>(nameEnd - header.Name.begin())));
  info.Created = UnpackDateTime(header.Created);
  return info;
}

void AppendPadded(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> data) {
  out.insert(out.end(), data.begin(), data.end());
  const std::size_t tail = data.size() % kPageSize;
  if (tail != 0) {
    out.insert(out.end(), kPageSize - tail, std::uint8_t{0});
  }
}

}  // namespace fw

#include "core/carddata_layout.h"

#include <algorithm>

#include "core/cp1251.h"

namespace fw {
namespace {

// Little-endian field access at a fixed offset of a page.
class Reader {
 public:
  explicit Reader(PageView page) : page_(page) {}
  std::uint8_t U8(std::size_t at) const { return page_[at]; }
  std::uint16_t U16(std::size_t at) const {
    return static_cast<std::uint16_t>(page_[at] | (page_[at + 1] << 8));
  }
  std::uint32_t U32(std::size_t at) const {
    return static_cast<std::uint32_t>(page_[at]) |
           (static_cast<std::uint32_t>(page_[at + 1]) << 8) |
           (static_cast<std::uint32_t>(page_[at + 2]) << 16) |
           (static_cast<std::uint32_t>(page_[at + 3]) << 24);
  }
  template <std::size_t N>
  std::array<std::uint8_t, N> Bytes(std::size_t at) const {
    std::array<std::uint8_t, N> out{};
    std::copy_n(page_.begin() + static_cast<std::ptrdiff_t>(at), N, out.begin());
    return out;
  }

 private:
  PageView page_;
};

class Writer {
 public:
  explicit Writer(PageBuffer page) : page_(page) {}
  void U8(std::size_t at, std::uint8_t v) { page_[at] = v; }
  void U16(std::size_t at, std::uint16_t v) {
    page_[at] = static_cast<std::uint8_t>(v);
    page_[at + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  void U32(std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) {
      page_[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
  }
  template <std::size_t N>
  void Bytes(std::size_t at, const std::array<std::uint8_t, N>& bytes) {
    std::copy(bytes.begin(), bytes.end(), page_.begin() + static_cast<std::ptrdiff_t>(at));
  }

 private:
  PageBuffer page_;
};

}  // namespace

TRgdHeader TRgdHeader::Parse(PageView page) {
  const Reader r(page);
  TRgdHeader h;
  h.Magic = r.Bytes<8>(0);
  h.Format0 = r.U16(8);
  h.Format1 = r.U8(10);
  h.Format2 = r.U8(11);
  h.DataPages = r.U32(12);
  h.Reserved1 = r.U32(16);
  h.Reserved2 = r.U32(20);
  h.SessionsStart = r.U32(24);
  h.SessionsPages = r.U32(28);
  h.ExtendedStart = r.U32(32);
  h.ExtendedPages = r.U32(36);
  h.MainStart = r.U32(40);
  h.MainPages = r.U32(44);
  h.Reserved3 = r.Bytes<32>(48);
  h.Fill = r.Bytes<432>(80);
  return h;
}

void TRgdHeader::Serialize(PageBuffer page) const {
  Writer w(page);
  w.Bytes(0, Magic);
  w.U16(8, Format0);
  w.U8(10, Format1);
  w.U8(11, Format2);
  w.U32(12, DataPages);
  w.U32(16, Reserved1);
  w.U32(20, Reserved2);
  w.U32(24, SessionsStart);
  w.U32(28, SessionsPages);
  w.U32(32, ExtendedStart);
  w.U32(36, ExtendedPages);
  w.U32(40, MainStart);
  w.U32(44, MainPages);
  w.Bytes(48, Reserved3);
  w.Bytes(80, Fill);
}

bool TRgdHeader::IsValid() const {
  return Magic == kRgdMagic && Format0 == 0 && Format1 == 1 && Format2 == 4;
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
  const Reader r(page);
  TRgdEntryHeader e;
  e.Marker = r.U16(0);
  e.PageCount = r.U32(2);
  e.EntryType = r.U16(6);
  e.Id = r.U16(8);
  e.Name = r.Bytes<17>(10);
  e.Created = r.Bytes<7>(27);
  e.HClass = r.U8(34);
  e.HRel = r.U8(35);
  e.SVer = r.U8(36);
  e.SRel = r.U16(37);
  e.FlashSize = r.U32(40);
  e.FlashChecksum = r.U32(44);
  e.FlashStart = r.U32(48);
  e.FlashEntryPoint = r.U32(52);
  e.EepromSize = r.U32(56);
  e.EepromChecksum = r.U32(60);
  e.EepromStart = r.U32(64);
  e.ConfigSize = r.U32(68);
  e.ConfigChecksum = r.U32(72);
  e.HeaderChecksum = r.U32(76);
  e.XorKey = r.U8(80);
  e.RotKey = r.U8(81);
  e.Signature = r.Bytes<10>(84);
  return e;
}

void TRgdEntryHeader::Serialize(PageBuffer page) const {
  std::fill(page.begin(), page.end(), std::uint8_t{0});
  Writer w(page);
  w.U16(0, Marker);
  w.U32(2, PageCount);
  w.U16(6, EntryType);
  w.U16(8, Id);
  w.Bytes(10, Name);
  w.Bytes(27, Created);
  w.U8(34, HClass);
  w.U8(35, HRel);
  w.U8(36, SVer);
  w.U16(37, SRel);
  w.U32(40, FlashSize);
  w.U32(44, FlashChecksum);
  w.U32(48, FlashStart);
  w.U32(52, FlashEntryPoint);
  w.U32(56, EepromSize);
  w.U32(60, EepromChecksum);
  w.U32(64, EepromStart);
  w.U32(68, ConfigSize);
  w.U32(72, ConfigChecksum);
  w.U32(76, HeaderChecksum);
  w.U8(80, XorKey);
  w.U8(81, RotKey);
  w.Bytes(84, Signature);
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

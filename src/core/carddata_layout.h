// The byte layout of the card data file: the header page, the entry header page, the entry type
// names and the directory records. Every field is packed little-endian at its fixed offset.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/carddata_format.h"

namespace fw {

inline constexpr std::uint32_t kPageSize = 512;
inline constexpr std::uint32_t kBytesPerMegabyte = 1048576;
inline constexpr std::uint32_t kPagesPerMegabyte = kBytesPerMegabyte / kPageSize;
// Entries are told from free pages by these two bytes at the start of a chain page.
inline constexpr std::uint16_t kEntryMarker = 0x5A5A;
inline constexpr std::uint16_t kFirmwareEntryType = 1;
// A card data file holds at most 2^31 bytes (2 GiB): page positions are signed 32-bit byte
// offsets.
inline constexpr std::uint32_t kMaxFilePages = 4194304;
static_assert(std::uint64_t{kMaxFilePages} * kPageSize == std::uint64_t{1} << 31);

using PageView = std::span<const std::uint8_t, kPageSize>;
using PageBuffer = std::span<std::uint8_t, kPageSize>;
using Page = std::array<std::uint8_t, kPageSize>;

inline constexpr std::array<std::uint8_t, 8> kRgdMagic = {'N', 'U', 'B', 'R', 'A', '-', '7', 'Q'};

// Page 0 of the file. Section fields count pages relative to page 1.
struct TRgdHeader {
  std::array<std::uint8_t, 8> Magic{};       // offset 0
  std::uint16_t Format0 = 0;                 // 8
  std::uint8_t Format1 = 0;                  // 10
  std::uint8_t Format2 = 0;                  // 11
  std::uint32_t DataPages = 0;               // 12
  std::uint32_t Reserved1 = 0;               // 16
  std::uint32_t Reserved2 = 0;               // 20
  std::uint32_t SessionsStart = 0;           // 24
  std::uint32_t SessionsPages = 0;           // 28
  std::uint32_t ExtendedStart = 0;           // 32
  std::uint32_t ExtendedPages = 0;           // 36
  std::uint32_t MainStart = 0;               // 40
  std::uint32_t MainPages = 0;               // 44
  std::array<std::uint8_t, 32> Reserved3{};  // 48
  std::array<std::uint8_t, 432> Fill{};      // 80 .. 511

  static TRgdHeader Parse(PageView page);
  void Serialize(PageBuffer page) const;

  // Magic "NUBRA-7Q" and format 0, 1, 4: the tests a card data file must pass.
  bool IsValid() const;
  // The section fields as every card is made: the EXTENDED section starts where the sessions
  // section ends, the main section where EXTENDED ends, and EXTENDED lies inside the data pages.
  // Nothing when they hold; else the text naming the field at fault. (A damaged field would
  // otherwise move the chain: its entries vanish and the next append overwrites them.)
  std::optional<std::string> SectionFieldsProblem() const;
};

// The header of a new file of `pages` pages (header included) with room for `sessions`
// recording sessions and an EXTENDED section of `extendedPages` pages.
TRgdHeader MakeNewHeader(std::uint32_t pages, std::uint32_t sessions, std::uint32_t extendedPages);

// The first page of an entry in the EXTENDED section. Bytes not named here are 0x00.
struct TRgdEntryHeader {
  std::uint16_t Marker = 0;                  // 0
  std::uint32_t PageCount = 0;               // 2
  std::uint16_t EntryType = 0;               // 6
  std::uint16_t Id = 0;                      // 8
  std::array<std::uint8_t, 17> Name{};       // 10: 16 Windows-1251 bytes, then 0x00 at 26
  TPackedDateTime Created{};                 // 27
  std::uint8_t HClass = 0;                   // 34
  std::uint8_t HRel = 0;                     // 35
  std::uint8_t SVer = 0;                     // 36
  std::uint16_t SRel = 0;                    // 37
  std::uint32_t FlashSize = 0;               // 40
  std::uint32_t FlashChecksum = 0;           // 44
  std::uint32_t FlashStart = 0;              // 48
  std::uint32_t FlashEntryPoint = 0;         // 52
  std::uint32_t EepromSize = 0;              // 56
  std::uint32_t EepromChecksum = 0;          // 60
  std::uint32_t EepromStart = 0;             // 64
  std::uint32_t ConfigSize = 0;              // 68
  std::uint32_t ConfigChecksum = 0;          // 72
  std::uint32_t HeaderChecksum = 0;          // 76: checksum of the 36 bytes at 40..75
  std::uint8_t XorKey = 0;                   // 80
  std::uint8_t RotKey = 0;                   // 81
  std::array<std::uint8_t, 10> Signature{};  // 84

  static TRgdEntryHeader Parse(PageView page);
  void Serialize(PageBuffer page) const;
};

inline constexpr std::size_t kHeaderChecksumFirst = 40;
inline constexpr std::size_t kHeaderChecksumLength = 36;
inline constexpr std::array<std::uint8_t, 10> kEntrySignature = {'Z', 'I', 'P', '-', 'S',
                                                                 'E', ' ', '2', '.', '1'};

// The checksum of the bytes 40..75 of a serialized entry header page.
std::uint32_t EntryHeaderChecksum(PageView page);

inline constexpr std::array<std::string_view, 21> EntryTypeNames = {"Not correct",
                                                                    "Firmware dsPIC30Fxxxx",
                                                                    "Firmware for AVR",
                                                                    "NA",
                                                                    "NA",
                                                                    "NA",
                                                                    "NA",
                                                                    "NA",
                                                                    "NA",
                                                                    "NA",
                                                                    "NA",
                                                                    "NA",
                                                                    "NA",
                                                                    "NA",
                                                                    "NA",
                                                                    "NA",
                                                                    "NA",
                                                                    "NA",
                                                                    "NA",
                                                                    "NA",
                                                                    "sCAN Profile"};

// The name of an entry type; empty for a type above 20.
std::string_view EntryTypeName(std::uint16_t type);

// The version record: the same bytes as offsets 34..38 of an entry header page.
struct TRgdVersionInfo {
  std::uint8_t HClass = 0;
  std::uint8_t HRel = 0;
  std::uint8_t SVer = 0;
  std::uint16_t SRel = 0;

  friend bool operator==(const TRgdVersionInfo&, const TRgdVersionInfo&) = default;
};

// One entry of the directory, as read from its entry header page.
struct TRgdEntryInfo {
  std::uint32_t Page = 0;  // absolute page number of the entry header page
  std::uint16_t EntryType = 0;
  std::string TypeName;  // UTF-8
  std::uint16_t Id = 0;
  TRgdVersionInfo Version;
  std::string Name;  // UTF-8, decoded from Windows-1251; trailing blanks kept
  DateTime Created;
};

// The directory record of an entry header page found at absolute page `page`.
// Throws EConvertError when the packed date or time does not exist.
TRgdEntryInfo MakeEntryInfo(std::uint32_t page, const TRgdEntryHeader& header);

// Appends data and zero bytes up to the next page boundary; nothing for empty data.
void AppendPadded(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> data);

}  // namespace fw

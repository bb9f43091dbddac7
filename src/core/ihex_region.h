// The image of one dsPIC30F memory (program FLASH, EEPROM or configuration memory) as a HEX file
// fills it, bounded by the application window of that memory.
//
// Addresses are processor addresses: every word covers two address units, its even address and
// the odd one after it. Slot k holds the word at BaseAddress + 2k as the 4 bytes of its group in
// the HEX file (program memory: low, middle, upper, phantom; data memory: low, high, 2 padding).
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/ihex_record.h"

namespace fw {

// An inclusive address range; EndAddr is the address of the range's last word.
struct TMemRange {
  std::int32_t BaseAddr = 0;
  std::int32_t EndAddr = 0;
  std::int32_t Size = 0;  // EndAddr - BaseAddr + 1, worked out by the catalogue
};

// The image does not lie inside the application window of its memory.
class ENotInWindow : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TdsPicMemRegion {
 public:
  // An empty region over range.BaseAddr..range.EndAddr: slots zero, both image bounds -1.
  // ERangeError when EndAddr < BaseAddr - 1, or when the range spans more than the 2^24 address
  // units of the processor's address space.
  TdsPicMemRegion(TMemRange range, bool isProgramMemory);

  // Replaces the content with the words the HEX text holds for this region's range, up to the
  // end-of-file record (what follows it is ignored). EHexFormatError naming the file when the text
  // holds no record at all, or ends without an end-of-file record; the words read stay loaded.
  // The file is read elsewhere, once per command (ReadHexFile); a command that needs several
  // regions loads them together (LoadRegionsFromHexFile).
  void LoadFromHexFile(const HexFileText& file);

  // Every slot to FF FF FF 00, the value of an unprogrammed word.
  void Clear();

  // Reads yield 0 and writes are dropped for an address whose slot does not exist.
  std::uint8_t GetByte(std::uint32_t address) const;
  std::uint16_t GetLowWord(std::uint32_t address) const;
  void SetLowWord(std::uint32_t address, std::uint16_t value);
  void SetHighWord(std::uint32_t address, std::uint16_t value);

  void SetAppBase(std::uint32_t address) { appBase_ = address; }
  void SetAppEnd(std::uint32_t address) { appEnd_ = address; }
  // ENotInWindow naming the section unless the image lies in the window AppBase..AppEnd, whose
  // last address unit is the odd one of the word at AppEnd. An empty image always fits; a region
  // never loaded is not checked.
  void CheckAppRange(std::string_view sectionName) const;

  // Address units from ImageFirst to ImageLast, 0 for an empty image.
  std::uint32_t ImageSize() const;
  // Data memory: ImageSize; program memory: 3 bytes per instruction word.
  std::uint32_t ImageByteSize() const;
  // Fills `buffer` (at most its size) with the payload from first to last address: program memory
  // 4 bytes per word straight from the slots (words past the slots read as unprogrammed words),
  // data memory the low and high byte of each word.
  void CopyImage(std::span<std::uint8_t> buffer, std::uint32_t first, std::uint32_t last) const;
  // The target of the GOTO of the reset vector (program memory based at 0), otherwise 0.
  std::uint32_t EntryPoint() const;

  bool IsProgramMemory() const { return isProgramMemory_; }
  std::uint32_t BaseAddress() const { return baseAddress_; }
  std::uint32_t EndAddress() const { return endAddress_; }
  std::uint32_t AppBase() const { return appBase_; }
  std::uint32_t AppEnd() const { return appEnd_; }
  std::int32_t SlotCount() const { return slotCount_; }
  // Lowest address unit loaded and the odd address of the highest loaded word; both -1 before
  // loading, both BaseAddress for an empty image.
  std::int32_t ImageFirst() const { return imageFirst_; }
  std::int32_t ImageLast() const { return imageLast_; }

 private:
  friend void LoadRegionsFromHexFile(const HexFileText& file,
                                     std::span<TdsPicMemRegion* const> regions);

  // Byte offset of the addressed slot in slots_, or npos when the slot does not exist.
  std::size_t SlotOffset(std::uint32_t address) const;
  // Loading: cleared with no image, then the data records, then an empty image marked as such.
  void BeginLoad();
  void StoreRecord(const THexRecord& rec, std::uint32_t base);
  void FinishLoad();

  bool isProgramMemory_;
  std::uint32_t baseAddress_;
  std::uint32_t endAddress_;
  std::uint32_t appBase_ = 0;
  std::uint32_t appEnd_ = 0;
  std::vector<std::uint8_t> slots_;  // 4 bytes per slot
  std::int32_t slotCount_;
  std::int32_t imageFirst_ = -1;
  std::int32_t imageLast_ = -1;
};

// Loads every region from one pass over the HEX text: each data record goes to every region whose
// range holds the record's first word, so each region ends as its own LoadFromHexFile would leave
// it, and the errors are the same. On an error all regions keep the words stored so far.
void LoadRegionsFromHexFile(const HexFileText& file, std::span<TdsPicMemRegion* const> regions);

}  // namespace fw

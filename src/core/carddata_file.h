// TRgdFile: one open card data file. Opening validates the header page and reads the chain of
// entries of the EXTENDED section; the object reports free space, appends firmware entries,
// lists the directory and reads entries back as the recorder would.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/carddata_errors.h"
#include "core/carddata_format.h"
#include "core/carddata_layout.h"
#include "core/entry_image.h"
#include "platform/file_device.h"

namespace fw {

// One entry read back with its payloads unscrambled.
struct TRgdEntryPayloads {
  std::uint32_t Page = 0;  // absolute page of the entry header page
  TRgdEntryHeader Header;
  bool HeaderChecksumOk = false;  // HeaderChecksum matches bytes 40..75
  bool PagesOk = false;  // PageCount matches the sizes and every payload page is in the file
  // Plain payload bytes; filled only when PagesOk.
  std::vector<std::uint8_t> Flash;
  std::vector<std::uint8_t> Eeprom;
  std::vector<std::uint8_t> Config;

  // The payloads with the starts and the entry point the header gives (a view of this object);
  // ConfigStart is 0, the entry keeps none.
  TRgdEntryImage Image() const;
};

// What a check of one entry found; every flag true means the entry is whole.
struct TRgdEntryCheck {
  bool Header = false;  // the header checksum
  bool Pages = false;   // page count and file length
  bool Flash = false;   // checksums of the plain payloads
  bool Eeprom = false;
  bool Config = false;

  bool Ok() const { return Header && Pages && Flash && Eeprom && Config; }
  // The names of the failing checks, in the order header, pages, FLASH, EEPROM, CONFIG; when
  // the pages fail the payloads could not be read and are not named.
  std::vector<std::string_view> Failures() const;
};

// The entry header page of an append is on the card, so the entry exists, but reading the file
// back afterwards failed. Carries the committed entry and the read-back problem separately;
// what() tells both.
class EEntryCommitted : public ErgdException {
 public:
  EEntryCommitted(std::string_view fileName, std::uint16_t id, std::uint32_t page,
                  std::string_view reason);
  std::uint16_t Id() const { return id_; }
  std::uint32_t Page() const { return page_; }
  // "written: ID, page" and "could not be read back: reason", each a message of its own.
  const std::string& WrittenText() const { return written_; }
  const std::string& ReadBackText() const { return readBack_; }

 private:
  std::uint16_t id_;
  std::uint32_t page_;
  std::string written_;
  std::string readBack_;
};

// The file is shorter than its header says and the entry does not fit before its real end.
class ECardFileTooShort : public ErgdException {
 public:
  ECardFileTooShort(std::string_view fileName, std::uint64_t headerBytes, std::uint64_t fileBytes,
                    std::uint64_t required, std::uint64_t free);
};

// The highest Id of the firmware entries is 65535: a new one would wrap to 0.
class EEntryIdsExhausted : public ErgdException {
 public:
  explicit EEntryIdsExhausted(std::string_view fileName);
};

// A page from the end of the chain on that looks like an entry header: a PageCount that keeps
// the entry inside the EXTENDED section and the file, a header checksum that holds, and the
// marker or the signature "ZIP-SE 2.1" (the chain's free page itself has no marker, or the chain
// would go on there). Left by a damaged marker or section field that ended the chain early.
struct TRgdOrphanedEntry {
  std::uint32_t Page = 0;  // absolute page of the header page
  std::uint16_t Id = 0;
  std::string Name;  // UTF-8, as stored (16 characters, trailing blanks kept)
};

// The report of hidden entries that the write command and verify show: a caption naming the
// file and one line per entry, the names with their control characters escaped.
std::string OrphanedEntriesReport(std::string_view fileName,
                                  std::span<const TRgdOrphanedEntry> orphans);

// An entry of the chain whose PageCount is not what its payload sizes make: the chain goes on
// (and the free page lies) where its own payload may be, so an append there would overwrite it.
struct TRgdWrongPagesEntry {
  int Number = 0;          // its place in the chain, 1 for the first (as `list` numbers it)
  std::uint32_t Page = 0;  // absolute page of the header page
  std::uint16_t Id = 0;
  std::string Name;  // UTF-8, as stored
  std::uint32_t PageCount = 0;
  std::uint64_t PageCountBySizes = 0;  // 1 + the pages of the three payloads
};

// The report of such entries that the write command shows: a caption naming the file and one
// line per entry, the names with their control characters escaped.
std::string WrongPagesReport(std::string_view fileName,
                             std::span<const TRgdWrongPagesEntry> entries);

class TRgdFile {
 public:
  enum class Mode {
    ReadWrite,  // holds the writer lock: no other writer, from any process, may open the file
    ReadOnly,   // for listing and checking; takes no lock, AddEntry is refused
  };

  // Opens the file, validates its header (magic, format and section fields) and reads the
  // directory. Throws EFOpenError(path), EInvalidFormat(path), EInOutError, or EConvertError for
  // an entry with an impossible date.
  explicit TRgdFile(std::string fileName, Mode mode = Mode::ReadOnly);
  // The same over a device the caller opened for writing (for example one that fails on
  // purpose).
  TRgdFile(std::string fileName, std::unique_ptr<platform::FileDevice> device);

  TRgdFile(const TRgdFile&) = delete;
  TRgdFile& operator=(const TRgdFile&) = delete;
  ~TRgdFile();

  // Rebuilds the directory from the card.
  void ReadDirectory();
  int EntryCount() const { return static_cast<int>(entries_.size()); }
  // The directory as read on opening and after each append (ReadDirectory reads it again).
  std::span<const TRgdEntryInfo> Entries() const { return entries_; }
  // Throws EListError for an index outside 0 .. EntryCount() - 1.
  const TRgdEntryInfo& GetEntry(int index) const;
  // The highest Id among the directory's entries of this type, 0 when there is none.
  int MaxEntryId(std::uint16_t entryType) const;

  // The free page of the EXTENDED section (relative to its first page), read from the card;
  // nothing when the section is full or the chain runs past the end of the file.
  std::optional<std::uint32_t> FindFreePage();
  // Bytes from the free page to the end of the EXTENDED section (never past the end of the
  // file); 0 when there is no free page.
  std::uint64_t FreeSpace();

  // Appends one firmware entry (type 1) holding the image (its ConfigStart is not stored),
  // scrambled with the keys when given. The name is UTF-8 and must pass EncodeEntryName
  // (ERefusal otherwise); it is blank-padded to 16 characters.
  // Throws ECardFileTooShort when the file is shorter than its header says (the card is damaged,
  // even where the entry would fit before the file's real end), EOutOfSpace when the entry does
  // not fit and EEntryIdsExhausted when the highest Id is 65535; nothing is written then. The
  // payload pages reach the device before the entry header page, so an interrupted append leaves no
  // entry; a failed write raises EInOutError naming the file and the system's reason, with the card
  // put back as it was. A page where the chain would continue after the new entry that starts with
  // the entry marker (stale pages of an interrupted append) is cleared before the header page is
  // written, so the chain afterwards is exactly the old entries and the new one. Once the header
  // page is flushed, a failure to read the directory back raises EEntryCommitted; the new entry is
  // then the directory's last.
  void AddEntry(std::string_view name, const TRgdVersionInfo& version, const DateTime& created,
                const TRgdEntryImage& image, std::optional<TScrambleKeys> keys = std::nullopt);

  // Reads entry `index` of the directory back with its payloads unscrambled.
  TRgdEntryPayloads ReadEntryPayloads(int index);
  // Reads entry `index` and recomputes its checksums as the recorder does.
  TRgdEntryCheck CheckEntry(int index);

  // The pages from the end of the chain (its free page) to the end of the EXTENDED section that
  // look like entry headers (see TRgdOrphanedEntry); read in large blocks. Empty when the chain
  // fills the section or runs past the end of the file.
  std::vector<TRgdOrphanedEntry> FindOrphanedEntries();
  // The entries of the chain whose PageCount does not match their payload sizes, read from the
  // card.
  std::vector<TRgdWrongPagesEntry> FindEntriesWithWrongPages();

  // Makes every later read come from the card rather than from the system's cache of the file
  // (what was written is flushed first), then reads the header and the directory again.
  void ReloadFromMedium();

  // The file's length as its header gives it: (DataPages + 1) pages.
  std::uint64_t HeaderFileBytes() const;
  // The file's length as it is now.
  std::uint64_t FileBytes();

  const TRgdHeader& Header() const { return header_; }
  const std::string& FileName() const { return fileName_; }
  // The number of whole pages in the file as it is now.
  std::uint64_t FilePages();

 private:
  struct Walk {
    std::vector<std::uint32_t> entryPages;  // absolute pages of the entry headers, in order
    std::optional<std::uint32_t> freePage;  // absolute page of the free page
  };
  // Walks the chain of the EXTENDED section, reading only pages that lie inside the file.
  // `headers` receives the parsed entry header pages when given.
  Walk WalkChain(std::vector<TRgdEntryHeader>* headers);
  // Bytes from the walk's free page to the end of the section and of the file.
  std::uint64_t FreeBytes(const Walk& walk);

  void Open();
  // Writes data at the byte offset and zero bytes up to the next page boundary; checked.
  void WritePadded(std::uint64_t offset, std::span<const std::uint8_t> data);
  // The first page after the EXTENDED section (absolute).
  std::uint64_t SectionEndPage() const;
  // Reads one whole page; false when the page is not wholly inside the file.
  bool ReadPage(std::uint64_t absolutePage, PageBuffer page);
  void ReadChecked(std::uint64_t offset, std::span<std::uint8_t> buffer, std::size_t& got);
  void WriteChecked(std::uint64_t offset, std::span<const std::uint8_t> data);
  void SyncChecked();

  std::string fileName_;
  std::unique_ptr<platform::FileDevice> device_;
  bool writable_ = true;
  TRgdHeader header_;
  std::vector<TRgdEntryInfo> entries_;
};

// The Windows-1251 bytes of an update name, padded with blanks to 16 bytes: the one check of
// what a name on the card may be. Refuses (ERefusal, kind information) a name with a control
// character (shown escaped), then one with a character Windows-1251 cannot hold, then one longer
// than 16 characters.
std::array<std::uint8_t, 16> EncodeEntryName(std::string_view utf8Name);

// Recomputes the checksums of an entry read back, as the recorder does.
TRgdEntryCheck CheckPayloads(const TRgdEntryPayloads& read);

}  // namespace fw

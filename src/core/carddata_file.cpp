#include "core/carddata_file.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "core/control_chars.h"
#include "core/cp1251.h"
#include "core/errors.h"
#include "core/message_format.h"
#include "core/texts.h"

namespace fw {
namespace {

constexpr std::uint64_t kMaxPageNumber = 0xFFFFFFFFull;

std::uint64_t PaddedSize(std::size_t size) {
  return (std::uint64_t{size} + kPageSize - 1) / kPageSize * kPageSize;
}

std::uint64_t PageOffset(std::uint64_t page) {
  return page * kPageSize;
}

constexpr std::size_t kNameBytes = 16;

std::vector<std::uint8_t> Scrambled(std::span<const std::uint8_t> plain, std::uint8_t xorKey,
                                    std::uint8_t rotKey) {
  std::vector<std::uint8_t> out(plain.size());
  ScrambleBuffer(plain, out, xorKey, rotKey);
  return out;
}

std::vector<std::uint8_t> Unscrambled(std::span<const std::uint8_t> stored, std::uint8_t xorKey,
                                      std::uint8_t rotKey) {
  std::vector<std::uint8_t> out(stored.size());
  UnscrambleBuffer(stored, out, xorKey, rotKey);
  return out;
}

// The name as stored: the bytes up to the first 0x00, at most 16 of them, as UTF-8.
std::string StoredName(const TRgdEntryHeader& entry) {
  const auto nameEnd = std::find(entry.Name.begin(), entry.Name.begin() + 16, std::uint8_t{0});
  return Cp1251ToUtf8(std::string_view(reinterpret_cast<const char*>(entry.Name.data()),
                                       static_cast<std::size_t>(nameEnd - entry.Name.begin())));
}

// The pages an entry of these payload sizes takes, its header page included.
std::uint64_t PageCountBySizes(const TRgdEntryHeader& h) {
  return 1 + (PaddedSize(h.FlashSize) + PaddedSize(h.EepromSize) + PaddedSize(h.ConfigSize)) /
                 kPageSize;
}

}  // namespace

std::vector<std::string_view> TRgdEntryCheck::Failures() const {
  std::vector<std::string_view> failed;
  const std::pair<bool, std::string_view> checks[] = {{Header, "header"},
                                                      {Pages, "pages"},
                                                      {Flash, "FLASH"},
                                                      {Eeprom, "EEPROM"},
                                                      {Config, "CONFIG"}};
  // Payloads whose pages are not all there are not read, so only "pages" is told for them.
  const std::size_t told = Pages ? std::size(checks) : 2;
  for (std::size_t i = 0; i < told; ++i) {
    const auto& [ok, name] = checks[i];
    if (!ok) {
      failed.push_back(name);
    }
  }
  return failed;
}

TRgdEntryImage TRgdEntryPayloads::Image() const {
  return TRgdEntryImage{.Flash = Flash,
                        .FlashStart = Header.FlashStart,
                        .FlashEntryPoint = Header.FlashEntryPoint,
                        .Eeprom = Eeprom,
                        .EepromStart = Header.EepromStart,
                        .Config = Config};
}

std::array<std::uint8_t, 16> EncodeEntryName(std::string_view utf8Name) {
  const std::string name(utf8Name);
  // A control character in the name would reach every terminal that lists the card.
  const auto control = std::find_if(name.begin(), name.end(), IsControlChar);
  if (control != name.end()) {
    throw ERefusal(
        FormatMessage(texts::kNameControlChar,
                      {EscapeControlChars(name), EscapeControlChars(std::string(1, *control))}));
  }
  // The card keeps the name as 16 Windows-1251 bytes: a longer name or one with a character
  // that code page lacks would be stored altered.
  std::string offending;
  const auto bytes = Utf8ToCp1251(name, &offending);
  if (!bytes) {
    throw ERefusal(FormatMessage(texts::kNameNotRepresentable, {name, offending}));
  }
  if (bytes->size() > kNameBytes) {
    throw ERefusal(FormatMessage(texts::kNameTooLong, {name}));
  }
  std::array<std::uint8_t, kNameBytes> stored{};
  stored.fill(' ');
  std::copy(bytes->begin(), bytes->end(), stored.begin());
  return stored;
}

EEntryCommitted::EEntryCommitted(std::string_view fileName, std::uint16_t id, std::uint32_t page,
                                 std::string_view reason)
    : ErgdException(
          FormatMessage(texts::kEntryWritten,
                        {std::string(fileName), std::uint64_t{id}, std::uint64_t{page}}) +
          "\n\r" +
          FormatMessage(texts::kReadBackFailed, {std::string(fileName), std::string(reason)})),
      id_(id),
      page_(page),
      written_(FormatMessage(texts::kEntryWritten,
                             {std::string(fileName), std::uint64_t{id}, std::uint64_t{page}})),
      readBack_(
          FormatMessage(texts::kReadBackFailed, {std::string(fileName), std::string(reason)})) {}

ECardFileTooShort::ECardFileTooShort(std::string_view fileName, std::uint64_t headerBytes,
                                     std::uint64_t fileBytes, std::uint64_t required,
                                     std::uint64_t free)
    : ErgdException(
          FormatMessage(texts::kCardFileTooShort, {std::string(fileName), headerBytes - fileBytes,
                                                   headerBytes, fileBytes, required, free})) {}

EEntryIdsExhausted::EEntryIdsExhausted(std::string_view fileName)
    : ErgdException(FormatMessage(texts::kEntryIdsExhausted, {std::string(fileName)})) {}

std::string OrphanedEntriesReport(std::string_view fileName,
                                  std::span<const TRgdOrphanedEntry> orphans) {
  std::string report =
      FormatMessage(texts::kOrphanedEntries, {std::string(fileName), std::int64_t(orphans.size())});
  for (const TRgdOrphanedEntry& orphan : orphans) {
    report += "\n\r";
    report += FormatMessage(
        texts::kOrphanedEntry,
        {std::uint64_t{orphan.Page}, std::uint64_t{orphan.Id}, EscapeControlChars(orphan.Name)});
  }
  return report;
}

std::string WrongPagesReport(std::string_view fileName,
                             std::span<const TRgdWrongPagesEntry> entries) {
  std::string report = FormatMessage(texts::kWrongPagesEntries,
                                     {std::string(fileName), std::int64_t(entries.size())});
  for (const TRgdWrongPagesEntry& e : entries) {
    report += "\n\r";
    report +=
        FormatMessage(texts::kWrongPagesEntry,
                      {std::int64_t{e.Number}, std::uint64_t{e.Page}, std::uint64_t{e.Id},
                       EscapeControlChars(e.Name), std::uint64_t{e.PageCount}, e.PageCountBySizes});
  }
  return report;
}

TRgdFile::TRgdFile(std::string fileName, Mode mode)
    : fileName_(std::move(fileName)), writable_(mode == Mode::ReadWrite) {
  try {
    device_ = writable_ ? platform::OpenForUpdate(fileName_) : platform::OpenForRead(fileName_);
  } catch (const std::system_error& e) {
    throw EFOpenError(fileName_, e.code());
  }
  Open();
}

TRgdFile::TRgdFile(std::string fileName, std::unique_ptr<platform::FileDevice> device)
    : fileName_(std::move(fileName)), device_(std::move(device)) {
  Open();
}

TRgdFile::~TRgdFile() = default;

void TRgdFile::Open() {
  // Header bytes beyond the end of a short file count as 0x00.
  Page page{};
  std::size_t got = 0;
  ReadChecked(0, page, got);
  header_ = TRgdHeader::Parse(page);
  if (!header_.IsValid()) {
    throw EInvalidFormat(fileName_);
  }
  if (const auto problem = header_.SectionFieldsProblem()) {
    throw EInvalidFormat(fileName_, *problem);
  }
  ReadDirectory();
}

void TRgdFile::ReadChecked(std::uint64_t offset, std::span<std::uint8_t> buffer, std::size_t& got) {
  try {
    got = device_->ReadAt(offset, buffer);
  } catch (const std::system_error& e) {
    throw EInOutError(fileName_, e.code().message());
  }
}

void TRgdFile::WriteChecked(std::uint64_t offset, std::span<const std::uint8_t> data) {
  try {
    device_->WriteAt(offset, data);
  } catch (const std::system_error& e) {
    throw EInOutError(fileName_, e.code().message());
  }
}

void TRgdFile::SyncChecked() {
  try {
    device_->Sync();
  } catch (const std::system_error& e) {
    throw EInOutError(fileName_, e.code().message());
  }
}

std::uint64_t TRgdFile::FileBytes() {
  try {
    return device_->Size();
  } catch (const std::system_error& e) {
    throw EInOutError(fileName_, e.code().message());
  }
}

std::uint64_t TRgdFile::FilePages() {
  return FileBytes() / kPageSize;
}

std::uint64_t TRgdFile::HeaderFileBytes() const {
  return (std::uint64_t{header_.DataPages} + 1) * kPageSize;
}

std::uint64_t TRgdFile::SectionEndPage() const {
  return std::uint64_t{header_.ExtendedStart} + header_.ExtendedPages + 1;
}

void TRgdFile::ReloadFromMedium() {
  try {
    device_->DropCachedPages();
  } catch (const std::system_error& e) {
    throw EInOutError(fileName_, e.code().message());
  }
  Open();
}

bool TRgdFile::ReadPage(std::uint64_t absolutePage, PageBuffer page) {
  std::size_t got = 0;
  ReadChecked(PageOffset(absolutePage), page, got);
  return got == page.size();
}

TRgdFile::Walk TRgdFile::WalkChain(std::vector<TRgdEntryHeader>* headers) {
  Walk walk;
  if (header_.ExtendedPages == 0) {
    return walk;
  }
  // The walk stays inside the section and inside the file, and every step moves forward, so
  // a damaged chain ends instead of running away.
  const std::uint64_t end = std::min({SectionEndPage(), FilePages(), kMaxPageNumber + 1});
  std::uint64_t a = std::uint64_t{header_.ExtendedStart} + 1;
  Page page{};
  while (a < end) {
    if (!ReadPage(a, page)) {
      return walk;  // the file got shorter under us
    }
    const TRgdEntryHeader entry = TRgdEntryHeader::Parse(page);
    if (entry.Marker != kEntryMarker) {
      walk.freePage = static_cast<std::uint32_t>(a);
      return walk;
    }
    walk.entryPages.push_back(static_cast<std::uint32_t>(a));
    if (headers != nullptr) {
      headers->push_back(entry);
    }
    // The recorder skips one page after each entry: the stride is PageCount + 1.
    a += std::uint64_t{entry.PageCount} + 1;
    if (a > kMaxPageNumber) {
      return walk;
    }
  }
  return walk;
}

void TRgdFile::ReadDirectory() {
  entries_.clear();
  std::vector<TRgdEntryHeader> headers;
  const Walk walk = WalkChain(&headers);
  std::vector<TRgdEntryInfo> entries;
  entries.reserve(headers.size());
  for (std::size_t i = 0; i < headers.size(); ++i) {
    entries.push_back(MakeEntryInfo(walk.entryPages[i], headers[i]));
  }
  entries_ = std::move(entries);
}

const TRgdEntryInfo& TRgdFile::GetEntry(int index) const {
  if (index < 0 || index >= EntryCount()) {
    throw EListError(index);
  }
  return entries_[static_cast<std::size_t>(index)];
}

int TRgdFile::MaxEntryId(std::uint16_t entryType) const {
  int highest = 0;
  for (const auto& entry : entries_) {
    if (entry.EntryType == entryType) {
      highest = std::max<int>(highest, entry.Id);
    }
  }
  return highest;
}

std::optional<std::uint32_t> TRgdFile::FindFreePage() {
  const Walk walk = WalkChain(nullptr);
  if (!walk.freePage) {
    return std::nullopt;
  }
  return *walk.freePage - header_.ExtendedStart - 1;
}

std::uint64_t TRgdFile::FreeSpace() {
  return FreeBytes(WalkChain(nullptr));
}

std::uint64_t TRgdFile::FreeBytes(const Walk& walk) {
  if (!walk.freePage) {
    return 0;
  }
  const std::uint64_t end = std::min(SectionEndPage(), FilePages());
  return (end - *walk.freePage) * kPageSize;
}

std::vector<TRgdOrphanedEntry> TRgdFile::FindOrphanedEntries() {
  const Walk walk = WalkChain(nullptr);
  std::vector<TRgdOrphanedEntry> orphans;
  if (!walk.freePage) {
    return orphans;
  }
  const std::uint64_t end = std::min(SectionEndPage(), FilePages());
  constexpr std::uint64_t kBlockPages = kPagesPerMegabyte;  // 1 MiB per read
  std::vector<std::uint8_t> block;
  for (std::uint64_t first = *walk.freePage; first < end; first += kBlockPages) {
    const std::uint64_t pages = std::min(kBlockPages, end - first);
    block.resize(pages * kPageSize);
    std::size_t got = 0;
    ReadChecked(PageOffset(first), block, got);
    for (std::uint64_t i = 0; i < got / kPageSize; ++i) {
      const PageView page(block.data() + i * kPageSize, kPageSize);
      const TRgdEntryHeader entry = TRgdEntryHeader::Parse(page);
      const std::uint64_t at = first + i;
      // A damaged marker leaves the rest of the header: the signature tells it then.
      const bool marked = entry.Marker == kEntryMarker || entry.Signature == kEntrySignature;
      const bool looksLikeEntry = marked && entry.PageCount >= 1 && at + entry.PageCount <= end &&
                                  EntryHeaderChecksum(page) == entry.HeaderChecksum;
      if (looksLikeEntry) {
        orphans.push_back({static_cast<std::uint32_t>(at), entry.Id, StoredName(entry)});
      }
    }
    if (got < block.size()) {
      break;  // the file got shorter under us
    }
  }
  return orphans;
}

std::vector<TRgdWrongPagesEntry> TRgdFile::FindEntriesWithWrongPages() {
  std::vector<TRgdEntryHeader> headers;
  const Walk walk = WalkChain(&headers);
  std::vector<TRgdWrongPagesEntry> wrong;
  for (std::size_t i = 0; i < headers.size(); ++i) {
    const TRgdEntryHeader& h = headers[i];
    if (h.PageCount != PageCountBySizes(h)) {
      wrong.push_back({static_cast<int>(i + 1), walk.entryPages[i], h.Id, StoredName(h),
                       h.PageCount, PageCountBySizes(h)});
    }
  }
  return wrong;
}

void TRgdFile::WritePadded(std::uint64_t offset, std::span<const std::uint8_t> data) {
  if (data.empty()) {
    return;
  }
  if (data.size() % kPageSize == 0) {
    WriteChecked(offset, data);
    return;
  }
  std::vector<std::uint8_t> padded;
  padded.reserve(PaddedSize(data.size()));
  AppendPadded(padded, data);
  WriteChecked(offset, padded);
}

void TRgdFile::AddEntry(std::string_view name, const TRgdVersionInfo& version,
                        const DateTime& created, const TRgdEntryImage& image,
                        std::optional<TScrambleKeys> keys) {
  if (!writable_) {
    throw std::logic_error("AddEntry on a card data file opened read-only");
  }
  const std::array<std::uint8_t, 16> cardName = EncodeEntryName(name);
  const std::span<const std::uint8_t> flash = image.Flash;
  const std::span<const std::uint8_t> eeprom = image.Eeprom;
  const std::span<const std::uint8_t> config = image.Config;

  // In 64 bits, so that no payload size can wrap the figure into a small one.
  const std::uint64_t required =
      PaddedSize(flash.size()) + PaddedSize(eeprom.size()) + PaddedSize(config.size()) + kPageSize;
  // One walk finds both the free page and the room after it.
  const Walk walk = WalkChain(nullptr);
  const std::uint64_t free = FreeBytes(walk);
  // A file cut short (an interrupted create, a bad copy) is damaged even where the entry would
  // fit before its real end: the card is to be made anew, and the refusal says why.
  const std::uint64_t fileBytes = FileBytes();
  if (fileBytes < HeaderFileBytes()) {
    throw ECardFileTooShort(fileName_, HeaderFileBytes(), fileBytes, required, free);
  }
  if (required > free) {
    throw EOutOfSpace(required, free);
  }
  // Ids are 16 bits: one past 65535 would be 0, a duplicate the recorder cannot tell apart.
  if (MaxEntryId(kFirmwareEntryType) >= 0xFFFF) {
    throw EEntryIdsExhausted(fileName_);
  }

  TRgdEntryHeader entry;
  entry.Marker = kEntryMarker;
  entry.EntryType = kFirmwareEntryType;
  entry.Created = PackDateTime(created);
  entry.Id = static_cast<std::uint16_t>(MaxEntryId(kFirmwareEntryType) + 1);
  entry.PageCount = static_cast<std::uint32_t>(required / kPageSize);
  std::copy(cardName.begin(), cardName.end(), entry.Name.begin());
  entry.Name[16] = 0;
  entry.HClass = version.HClass;
  entry.HRel = version.HRel;
  entry.SVer = version.SVer;
  entry.SRel = version.SRel;
  if (keys) {
    entry.XorKey = keys->xorKey;
    entry.RotKey = keys->rotKey;
  }
  entry.FlashSize = static_cast<std::uint32_t>(flash.size());
  entry.FlashChecksum = CalcChecksum(flash);
  entry.FlashStart = image.FlashStart;
  entry.FlashEntryPoint = image.FlashEntryPoint;
  entry.EepromSize = static_cast<std::uint32_t>(eeprom.size());
  entry.EepromChecksum = CalcChecksum(eeprom);
  entry.EepromStart = image.EepromStart;
  entry.ConfigSize = static_cast<std::uint32_t>(config.size());
  entry.ConfigChecksum = CalcChecksum(config);
  entry.Signature = kEntrySignature;
  Page headerPage{};
  entry.Serialize(headerPage);
  entry.HeaderChecksum = EntryHeaderChecksum(headerPage);
  entry.Serialize(headerPage);

  // Payload pages: each payload scrambled from its own first byte, then zero-filled to a page.
  std::vector<std::uint8_t> payload;
  payload.reserve(required - kPageSize);
  for (const auto plain : {flash, eeprom, config}) {
    AppendPadded(payload, Scrambled(plain, entry.XorKey, entry.RotKey));
  }

  const std::uint64_t headerPageNumber = *walk.freePage;
  const std::uint64_t headerOffset = PageOffset(headerPageNumber);

  // What the entry's pages hold now, to put back if the append fails half-way.
  std::vector<std::uint8_t> before(required);
  std::size_t got = 0;
  ReadChecked(headerOffset, before, got);
  before.resize(got);

  // The page where the chain goes on after the new entry. Whatever the free part held there
  // (stale pages of an append that never got its header page) must not start with the marker,
  // or a phantom entry would follow the new one.
  std::optional<std::uint64_t> staleOffset;
  Page stale{};
  const std::uint64_t nextChainPage = headerPageNumber + entry.PageCount + 1;
  if (nextChainPage < std::min(SectionEndPage(), FilePages()) && ReadPage(nextChainPage, stale) &&
      TRgdEntryHeader::Parse(stale).Marker == kEntryMarker) {
    staleOffset = PageOffset(nextChainPage);
  }

  try {
    // Payload first and flushed, the header page last: until the header page is on the card
    // the chain still ends at this page, so an interruption leaves no half entry.
    WritePadded(headerOffset + kPageSize, payload);
    if (staleOffset) {
      WriteChecked(*staleOffset, Page{});
    }
    SyncChecked();
    WriteChecked(headerOffset, headerPage);
    SyncChecked();
  } catch (const EInOutError&) {
    try {
      device_->WriteAt(headerOffset, before);
      if (staleOffset) {
        device_->WriteAt(*staleOffset, stale);
      }
      device_->Sync();
    } catch (const std::system_error&) {
      // The card is gone or broken; the error below tells the user.
    }
    throw;
  }

  // The entry exists from here on: a failure to read it back must not pass for a failed write.
  const auto headerPageNo = static_cast<std::uint32_t>(headerPageNumber);
  try {
    ReadDirectory();
  } catch (const std::exception& e) {
    throw EEntryCommitted(fileName_, entry.Id, headerPageNo, e.what());
  }
  if (entries_.empty() || entries_.back().Page != headerPageNo) {
    throw EEntryCommitted(fileName_, entry.Id, headerPageNo, texts::kNewEntryNotReadBack);
  }
}

TRgdEntryPayloads TRgdFile::ReadEntryPayloads(int index) {
  TRgdEntryPayloads result;
  result.Page = GetEntry(index).Page;
  Page page{};
  if (!ReadPage(result.Page, page)) {
    return result;
  }
  result.Header = TRgdEntryHeader::Parse(page);
  const TRgdEntryHeader& h = result.Header;
  result.HeaderChecksumOk = EntryHeaderChecksum(page) == h.HeaderChecksum;

  const std::uint64_t flashBytes = PaddedSize(h.FlashSize);
  const std::uint64_t eepromBytes = PaddedSize(h.EepromSize);
  const std::uint64_t payloadPages = PageCountBySizes(h) - 1;
  const std::uint64_t firstPayloadPage = std::uint64_t{result.Page} + 1;
  result.PagesOk =
      h.PageCount == payloadPages + 1 && firstPayloadPage + payloadPages <= FilePages();
  if (!result.PagesOk) {
    return result;
  }
  std::vector<std::uint8_t> stored(payloadPages * kPageSize);
  std::size_t got = 0;
  ReadChecked(PageOffset(firstPayloadPage), stored, got);
  if (got != stored.size()) {
    result.PagesOk = false;
    return result;
  }
  const std::span<const std::uint8_t> all(stored);
  result.Flash = Unscrambled(all.subspan(0, h.FlashSize), h.XorKey, h.RotKey);
  result.Eeprom = Unscrambled(all.subspan(flashBytes, h.EepromSize), h.XorKey, h.RotKey);
  result.Config =
      Unscrambled(all.subspan(flashBytes + eepromBytes, h.ConfigSize), h.XorKey, h.RotKey);
  return result;
}

TRgdEntryCheck TRgdFile::CheckEntry(int index) {
  return CheckPayloads(ReadEntryPayloads(index));
}

TRgdEntryCheck CheckPayloads(const TRgdEntryPayloads& read) {
  TRgdEntryCheck check;
  check.Header = read.HeaderChecksumOk;
  check.Pages = read.PagesOk;
  if (read.PagesOk) {
    check.Flash = CalcChecksum(read.Flash) == read.Header.FlashChecksum;
    check.Eeprom = CalcChecksum(read.Eeprom) == read.Header.EepromChecksum;
    check.Config = CalcChecksum(read.Config) == read.Header.ConfigChecksum;
  }
  return check;
}

}  // namespace fw

// Intel HEX32 records: the field conversion, one parsed record, and the reader that walks the
// records of a HEX file held in memory.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace fw {

// A HEX file is damaged: a record's checksum does not add up, the file ends inside a record or
// before its end-of-file record, or it holds no record at all.
class EHexFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The value of S read as hexadecimal digits only; anything else raises EConvertError
// "'$S' is not a valid integer value".
std::int32_t HexToInt(std::string_view s);

// One parsed record; every field is cleared to zero before each read.
struct THexRecord {
  std::uint8_t RecType = 0;
  std::uint16_t Address = 0;
  std::uint8_t DataLen = 0;
  std::array<std::uint8_t, 256> Data{};  // bytes past DataLen stay 0
};

inline constexpr std::uint8_t kHexRecData = 0x00;
inline constexpr std::uint8_t kHexRecEndOfFile = 0x01;
inline constexpr std::uint8_t kHexRecExtSegmentAddress = 0x02;
inline constexpr std::uint8_t kHexRecExtLinearAddress = 0x04;

// The whole text of one HEX file, read from disk once and handed to every region that needs it.
struct HexFileText {
  std::string path;   // as the user gave it; named in messages
  std::string bytes;  // the file's content
};

// Reads the whole file (ReadInputFile): EFOpenError with the reason when it cannot be opened or
// is no regular file, EFileTooLarge above 64 MiB, EInOutError when reading it fails.
HexFileText ReadHexFile(const std::string& path);

// A read position in a HEX text. Records are found by their ':'; whatever stands between records
// (line ends, blanks, other text) is skipped. Lines are counted by their LF characters, so LF and
// CR LF files number their lines alike; a file without line ends is all line 1.
class HexStream {
 public:
  // `path` only names the file in messages; the stream never reads outside `text`.
  HexStream(std::string_view text, std::string_view path) : text_(text), path_(path) {}

  bool AtEnd() const { return pos_ >= text_.size(); }
  std::size_t Remaining() const { return text_.size() - pos_; }
  std::size_t Position() const { return pos_; }
  // 1-based line of the ':' of the record read last (1 before the first record).
  std::size_t RecordLine() const { return recordLine_; }

  // Moves past the next ':'; false, with the whole rest consumed, when there is none.
  bool SkipToRecord();
  // The next `count` characters of the current record; EHexFormatError "Неполная запись..."
  // when the file ends before them.
  std::string_view Take(std::size_t count);
  std::string_view Path() const { return path_; }

 private:
  std::string_view text_;
  std::string_view path_;
  std::size_t pos_ = 0;
  std::size_t line_ = 1;        // line of pos_ (a field holding a line end is never hex)
  std::size_t recordLine_ = 1;  // line of the last record's ':'
};

// Reads the next record into `rec`. Returns false when no ':' is left in the stream. Raises
// EConvertError for a field that is not hexadecimal, EHexFormatError for a record cut short by the
// end of the file and for a record whose bytes and checksum do not add up to 0 modulo 256.
bool ReadHexRecord(HexStream& stream, THexRecord& rec);

}  // namespace fw

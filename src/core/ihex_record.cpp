#include "core/ihex_record.h"

#include <algorithm>
#include <array>

#include "core/errors.h"
#include "core/ini_convert.h"
#include "core/input_file.h"
#include "core/message_format.h"
#include "core/texts.h"

namespace fw {
namespace {

// The value of every character as a hexadecimal digit; -1 for a character that is none.
constexpr std::array<std::int8_t, 256> kDigitValues = [] {
  std::array<std::int8_t, 256> values{};
  values.fill(-1);
  for (int c = '0'; c <= '9'; ++c)
    values[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c)
    values[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - 'a' + 10);
  for (int c = 'A'; c <= 'F'; ++c)
    values[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - 'A' + 10);
  return values;
}();

int DigitValue(char c) {
  return kDigitValues[static_cast<unsigned char>(c)];
}

// "$" followed by the field, as the general conversion sees it.
std::string DollarField(std::string_view s) {
  std::string text(1, '$');
  text.append(s);
  return text;
}

[[noreturn]] void ThrowNotHex(std::string_view field) {
  throw NotValidInteger(DollarField(field));
}

// The value of a field of up to 8 hexadecimal digits.
inline std::uint32_t FieldValue(std::string_view field) {
  std::uint32_t value = 0;
  int bad = 0;
  for (char c : field) {
    const int d = DigitValue(c);
    bad |= d;
    value = value * 16 + static_cast<std::uint32_t>(d);
  }
  if (bad < 0)
    ThrowNotHex(field);
  return value;
}

// The fields of one record after its ':', each taken from the stream as it is needed, or all from
// one piece once the stream is known to hold them; the first field that is not hexadecimal is
// reported before a cut that follows it, either way.
class RecordFields {
 public:
  explicit RecordFields(HexStream& stream) : stream_(stream) {}

  // Takes the next `count` characters in one piece if the stream holds them; otherwise the
  // fields are taken one by one and the cut is reported where it falls.
  void Reserve(std::size_t count) {
    if (stream_.Remaining() >= count) {
      piece_ = stream_.Take(count);
      used_ = 0;
    }
  }

  std::uint32_t Next(std::size_t digits) {
    if (used_ + digits <= piece_.size()) {
      const std::string_view field = piece_.substr(used_, digits);
      used_ += digits;
      return FieldValue(field);
    }
    return FieldValue(stream_.Take(digits));
  }

  std::uint8_t NextByte() {
    if (used_ + 2 > piece_.size())
      return static_cast<std::uint8_t>(FieldValue(stream_.Take(2)));
    const int high = DigitValue(piece_[used_]);
    const int low = DigitValue(piece_[used_ + 1]);
    if ((high | low) < 0)
      ThrowNotHex(piece_.substr(used_, 2));
    used_ += 2;
    return static_cast<std::uint8_t>(high << 4 | low);
  }

 private:
  HexStream& stream_;
  std::string_view piece_;
  std::size_t used_ = 0;
};

}  // namespace

std::int32_t HexToInt(std::string_view s) {
  // Short fields are converted here directly; the result and the error are those of the general
  // conversion of "$" followed by the field.
  if (s.empty() || s.size() > 8)
    return StrToInt(DollarField(s));
  return static_cast<std::int32_t>(FieldValue(s));
}

HexFileText ReadHexFile(const std::string& path) {
  return HexFileText{path, ReadInputFile(path)};
}

bool HexStream::SkipToRecord() {
  while (pos_ < text_.size()) {
    char c = text_[pos_++];
    if (c == ':') {
      recordLine_ = line_;
      return true;
    }
    if (c == '\n')
      ++line_;
  }
  return false;
}

std::string_view HexStream::Take(std::size_t count) {
  if (text_.size() - pos_ < count) {
    throw EHexFormatError(FormatMessage(
        texts::kHexIncompleteRecord, {static_cast<std::int64_t>(recordLine_), std::string(path_)}));
  }
  auto field = text_.substr(pos_, count);
  pos_ += count;
  return field;
}

bool ReadHexRecord(HexStream& stream, THexRecord& rec) {
  rec.RecType = 0;
  rec.Address = 0;
  rec.DataLen = 0;
  if (!stream.SkipToRecord()) {
    rec.Data.fill(0);
    return false;
  }
  RecordFields fields(stream);
  fields.Reserve(8);
  rec.DataLen = fields.NextByte();
  rec.Address = static_cast<std::uint16_t>(fields.Next(4));
  rec.RecType = fields.NextByte();
  fields.Reserve(2 * std::size_t{rec.DataLen} + 2);
  unsigned sum = rec.DataLen + (rec.Address >> 8) + (rec.Address & 0xFFu) + rec.RecType;
  for (std::size_t i = 0; i < rec.DataLen; ++i) {
    rec.Data[i] = fields.NextByte();
    sum += rec.Data[i];
  }
  std::fill(rec.Data.begin() + rec.DataLen, rec.Data.end(), std::uint8_t{0});
  sum += fields.NextByte();
  if ((sum & 0xFFu) != 0) {
    throw EHexFormatError(FormatMessage(
        texts::kHexChecksumError,
        {static_cast<std::int64_t>(stream.RecordLine()), std::string(stream.Path())}));
  }
  return true;
}

}  // namespace fw

#include "core/ihex_record.h"

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

std::uint8_t TakeByte(HexStream& stream) {
  return static_cast<std::uint8_t>(HexToInt(stream.Take(2)));
}

// "$" followed by the field, as the general conversion sees it.
std::string DollarField(std::string_view s) {
  std::string text(1, '$');
  text.append(s);
  return text;
}

}  // namespace

std::int32_t HexToInt(std::string_view s) {
  // Short fields are converted here directly; the result and the error are those of the general
  // conversion of "$" followed by the field.
  if (s.empty() || s.size() > 8)
    return StrToInt(DollarField(s));
  std::uint32_t value = 0;
  for (char c : s) {
    int d = DigitValue(c);
    if (d < 0)
      throw NotValidInteger(DollarField(s));
    value = value * 16 + static_cast<std::uint32_t>(d);
  }
  return static_cast<std::int32_t>(value);
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
  rec = THexRecord{};
  if (!stream.SkipToRecord())
    return false;
  rec.DataLen = TakeByte(stream);
  rec.Address = static_cast<std::uint16_t>(HexToInt(stream.Take(4)));
  rec.RecType = TakeByte(stream);
  unsigned sum = rec.DataLen + (rec.Address >> 8) + (rec.Address & 0xFFu) + rec.RecType;
  for (std::size_t i = 0; i < rec.DataLen; ++i) {
    rec.Data[i] = TakeByte(stream);
    sum += rec.Data[i];
  }
  sum += TakeByte(stream);
  if ((sum & 0xFFu) != 0) {
    throw EHexFormatError(FormatMessage(
        texts::kHexChecksumError,
        {static_cast<std::int64_t>(stream.RecordLine()), std::string(stream.Path())}));
  }
  return true;
}

}  // namespace fw

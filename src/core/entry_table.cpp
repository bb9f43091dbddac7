#include "core/entry_table.h"

#include <cstdint>
#include <vector>

#include "core/message_format.h"
#include "core/texts.h"

namespace fw {

namespace {

std::string TwoDigits(int value) {
  const int v = ((value % 100) + 100) % 100;
  return {static_cast<char>('0' + v / 10), static_cast<char>('0' + v % 10)};
}

}  // namespace

std::string FormatEntryDate(const DateTime& value) {
  return TwoDigits(value.day) + "/" + TwoDigits(value.month) + "/" + TwoDigits(value.year) + " " +
         TwoDigits(value.hour) + ":" + TwoDigits(value.minute) + ":" + TwoDigits(value.second);
}

TextTable EntryTable(std::span<const TRgdEntryInfo> entries) {
  TextTable table;
  table.fixedRows = 1;
  table.fixedCols = 1;
  const std::size_t columns = texts::kEntryListCaptions.size();
  table.rows.assign(entries.size() + 2, std::vector<std::string>(columns));
  for (std::size_t c = 0; c < columns; ++c) {
    table.rows[0][c] = std::string(texts::kEntryListCaptions[c]);
  }
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const TRgdEntryInfo& e = entries[i];
    auto& row = table.rows[i + 1];
    row[0] = std::to_string(i + 1);
    row[1] = FormatMessage("%u - %s", {std::uint64_t{e.EntryType}, e.TypeName});
    row[2] = e.Name;
    row[3] = std::to_string(e.Id);
    row[4] = FormatEntryDate(e.Created);
    row[5] = std::to_string(e.Version.HClass);
    row[6] = std::to_string(e.Version.HRel);
    row[7] = std::to_string(e.Version.SVer);
    row[8] = std::to_string(e.Version.SRel);
  }
  return table;
}

}  // namespace fw

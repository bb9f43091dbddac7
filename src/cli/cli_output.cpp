#include "cli/cli_output.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "core/control_chars.h"
#include "core/cp1251.h"

namespace fw::cli {

namespace {

std::size_t DisplayWidth(std::string_view text) {
  return IsValidUtf8(text) ? Utf8Length(text) : text.size();
}

bool AllEmpty(const std::vector<std::string>& row) {
  return std::all_of(row.begin(), row.end(), [](const std::string& cell) { return cell.empty(); });
}

}  // namespace

void PrintTable(std::ostream& out, const TextTable& shown) {
  // Cells may hold what a card or a catalogue holds: control characters are printed escaped.
  TextTable table = shown;
  for (auto& row : table.rows)
    for (auto& cell : row)
      cell = EscapeControlChars(cell);
  std::vector<std::size_t> widths;
  for (const auto& row : table.rows) {
    widths.resize(std::max(widths.size(), row.size()), 0);
    for (std::size_t c = 0; c < row.size(); ++c)
      widths[c] = std::max(widths[c], DisplayWidth(row[c]));
  }
  for (const auto& row : table.rows) {
    if (AllEmpty(row))
      continue;
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (c > 0)
        line += "  ";
      line += row[c];
      line.append(widths[c] - DisplayWidth(row[c]), ' ');
    }
    line.erase(line.find_last_not_of(' ') + 1);
    out << line << '\n';
  }
}

std::string IsoDateTime(const DateTime& value) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", value.year, value.month,
                value.day, value.hour, value.minute, value.second);
  return text;
}

void WriteEntryJson(JsonWriter& json, int n, const TRgdEntryInfo& entry) {
  json.BeginObject()
      .Field("n", n)
      .Field("page", entry.Page)
      .Field("type", entry.EntryType)
      .Field("type_name", entry.TypeName)
      .Field("id", entry.Id)
      .Field("name", entry.Name)
      .Field("created", IsoDateTime(entry.Created))
      .Field("hclass", entry.Version.HClass)
      .Field("hrel", entry.Version.HRel)
      .Field("sver", entry.Version.SVer)
      .Field("srel", entry.Version.SRel)
      .EndObject();
}

std::string JsonQuote(std::string_view text) {
  std::string out = "\"";
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    switch (ch) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
          out += escaped;
        } else {
          out += ch;
        }
    }
  }
  out += '"';
  return out;
}

void JsonWriter::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (levels_.empty()) {
    if (!text_.empty())
      throw std::logic_error("JSON: a second top-level value");
    return;
  }
  if (levels_.back().bracket != '[')
    throw std::logic_error("JSON: a value inside an object needs a key");
  if (!levels_.back().empty)
    text_ += ',';
  levels_.back().empty = false;
  text_ += '\n';
  text_.append(levels_.size() * 2, ' ');
}

void JsonWriter::Open(char bracket) {
  BeforeValue();
  text_ += bracket;
  levels_.push_back({bracket});
}

void JsonWriter::Close(char bracket) {
  if (levels_.empty() || levels_.back().bracket != bracket || afterKey_)
    throw std::logic_error("JSON: unbalanced close");
  const bool empty = levels_.back().empty;
  levels_.pop_back();
  if (!empty) {
    text_ += '\n';
    text_.append(levels_.size() * 2, ' ');
  }
  text_ += bracket == '{' ? '}' : ']';
}

JsonWriter& JsonWriter::BeginObject() {
  Open('{');
  return *this;
}

JsonWriter& JsonWriter::EndObject() {
  Close('{');
  return *this;
}

JsonWriter& JsonWriter::BeginArray() {
  Open('[');
  return *this;
}

JsonWriter& JsonWriter::EndArray() {
  Close('[');
  return *this;
}

JsonWriter& JsonWriter::Key(std::string_view key) {
  if (levels_.empty() || levels_.back().bracket != '{' || afterKey_)
    throw std::logic_error("JSON: a key outside an object");
  if (!levels_.back().empty)
    text_ += ',';
  levels_.back().empty = false;
  text_ += '\n';
  text_.append(levels_.size() * 2, ' ');
  text_ += JsonQuote(key);
  text_ += ": ";
  afterKey_ = true;
  return *this;
}

JsonWriter& JsonWriter::String(std::string_view value) {
  BeforeValue();
  text_ += JsonQuote(value);
  return *this;
}

JsonWriter& JsonWriter::Int(std::int64_t value) {
  BeforeValue();
  text_ += std::to_string(value);
  return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
  BeforeValue();
  text_ += value ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::Null() {
  BeforeValue();
  text_ += "null";
  return *this;
}

std::string JsonWriter::Text() const {
  return levels_.empty() && !text_.empty() ? text_ + '\n' : text_;
}

}  // namespace fw::cli

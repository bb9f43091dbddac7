// How the command line prints results: aligned text tables and JSON.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "core/carddata_layout.h"
#include "core/text_table.h"

namespace fw::cli {

// Prints a table with its columns aligned (widths counted in characters, not bytes), two blanks
// between columns, no trailing blanks. Rows whose cells are all empty are left out. Control
// characters are printed escaped (EscapeControlChars: \x1b, \t, ...), so that a name on a card
// cannot move the cursor or clear the user's terminal.
void PrintTable(std::ostream& out, const TextTable& table);

// A small JSON writer: objects and arrays nest, commas and indentation are taken care of, and
// every string is escaped. Texts must be UTF-8; they are written as they are, apart from the
// characters JSON requires to be escaped.
class JsonWriter {
 public:
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  JsonWriter& Key(std::string_view key);
  JsonWriter& String(std::string_view value);
  JsonWriter& Int(std::int64_t value);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();

  // Key and value in one call.
  template <typename T>
  JsonWriter& Field(std::string_view key, const T& value) {
    Key(key);
    return Value(value);
  }

  // The document written so far, with a final line break once it is complete.
  std::string Text() const;

 private:
  JsonWriter& Value(std::string_view value) { return String(value); }
  JsonWriter& Value(const std::string& value) { return String(value); }
  JsonWriter& Value(const char* value) { return String(value); }
  JsonWriter& Value(bool value) { return Bool(value); }
  template <typename T>
  JsonWriter& Value(T value) {
    return Int(static_cast<std::int64_t>(value));
  }

  void BeforeValue();
  void Open(char bracket);
  void Close(char bracket);

  struct Level {
    char bracket;
    bool empty = true;
  };
  std::string text_;
  std::vector<Level> levels_;
  bool afterKey_ = false;
};

// A local date and time in ISO 8601 without a zone: 2024-03-05T14:07:09.
std::string IsoDateTime(const DateTime& value);

// One directory entry as an object: n (1-based position), page, type, type_name, id, name,
// created, hclass, hrel, sver, srel. `list` and `write` print entries alike.
void WriteEntryJson(JsonWriter& json, int n, const TRgdEntryInfo& entry);

// A JSON string literal (with its quotes) for the UTF-8 text.
std::string JsonQuote(std::string_view text);

}  // namespace fw::cli

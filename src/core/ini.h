// A reader of INI-format files (the device catalogue) with the rules of the system's profile-file
// reader: section and key names match without regard to case, blanks around names and values are
// dropped, one pair of matching quotes around a value is dropped, values are cut to 2047
// characters, and a missing file, section or key yields the caller's default. A key present with
// an empty value yields the empty string.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace fw {

inline constexpr std::size_t kIniMaxValueChars = 2047;

class IniFile {
 public:
  // Parses file bytes: UTF-8 when they are valid UTF-8 (a leading byte order mark is dropped),
  // otherwise Windows-1251. Every line is either "[section]", "key=value", a comment (";...") or
  // ignored. When a section or a key appears twice, the first one counts.
  static IniFile Parse(std::string_view bytes);
  // Reads and parses a file; a missing file gives an empty catalogue of defaults. A file that is
  // there but cannot be read, is no regular file or is larger than 64 MiB raises the error of
  // ReadInputFile.
  static IniFile Load(const std::string& path);

  // The UTF-8 value of the key, or `defaultValue` when the section or the key is missing.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;

 private:
  // lower-case section name -> (lower-case key -> value)
  std::map<std::string, std::map<std::string, std::string>, std::less<>> sections_;
};

}  // namespace fw

#include "core/ini.h"

#include <filesystem>
#include <system_error>

#include "core/cp1251.h"
#include "core/input_file.h"
#include "core/utf8_path.h"

namespace fw {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back()))
    s.remove_suffix(1);
  return s;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

std::string DecodeText(std::string_view bytes) {
  if (!IsValidUtf8(bytes))
    return Cp1251ToUtf8(bytes);
  if (bytes.starts_with("\xEF\xBB\xBF"))
    bytes.remove_prefix(3);
  return std::string(bytes);
}

}  // namespace

IniFile IniFile::Parse(std::string_view bytes) {
  IniFile ini;
  const std::string text = DecodeText(bytes);
  std::map<std::string, std::string>* section = nullptr;  // null: outside a section or a repeat
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t eol = rest.find('\n');
    std::string_view line = rest.substr(0, eol);
    rest = eol == std::string_view::npos ? std::string_view{} : rest.substr(eol + 1);
    if (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    line = Trim(line);
    if (line.empty() || line.front() == ';')
      continue;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      const std::string name =
          Lower(Trim(line.substr(1, close == line.npos ? line.npos : close - 1)));
      auto [it, added] = ini.sections_.try_emplace(name);
      section = added ? &it->second : nullptr;
      continue;
    }
    const std::size_t eq = line.find('=');
    if (section == nullptr || eq == line.npos)
      continue;
    const std::string key = Lower(Trim(line.substr(0, eq)));
    const std::string_view value =
        Utf8Prefix(Unquote(Trim(line.substr(eq + 1))), kIniMaxValueChars);
    section->try_emplace(key, value);
  }
  return ini;
}

IniFile IniFile::Load(const std::string& path) {
  // A missing catalogue is an empty one; anything else that is there must be readable.
  std::error_code ec;
  if (path.empty() || !std::filesystem::exists(PathOfUtf8(path), ec))
    return {};
  return Parse(ReadInputFile(path));
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const {
  const auto s = sections_.find(Lower(section));
  if (s == sections_.end())
    return std::string(defaultValue);
  const auto k = s->second.find(Lower(key));
  if (k == s->second.end())
    return std::string(defaultValue);
  return k->second;
}

}  // namespace fw

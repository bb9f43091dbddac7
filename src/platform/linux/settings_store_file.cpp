// The settings store of a desktop without a registry: one text file per subkey,
// $XDG_CONFIG_HOME/<key path without "Software">/<subkey>.ini, for example
// ~/.config/Kerrow/Lintrak/1.0.ini. Each value is one line "Name=kind:payload" with the kinds
// int (decimal 32-bit), text (backslash escapes for \, LF, CR and TAB) and binary (hex bytes).
// The file is replaced atomically (temporary file, fsync, rename), so a crash never leaves
// half a file; a file that does not parse is reported and left untouched.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/process.h"
#include "platform/settings_store.h"

namespace fw::platform {
namespace {

namespace fs = std::filesystem;

constexpr std::uintmax_t kMaxFileSize = 1 << 20;

bool SameName(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return lower(x) == lower(y);
  });
}

// The user's configuration folder; without $HOME, ./.config as ever.
fs::path ConfigHome() {
  const fs::path dir = UserConfigDir();
  return dir.empty() ? fs::path(".config") : dir;
}

// "Software\Kerrow\Lintrak\" -> Kerrow/Lintrak
fs::path KeyFolder(std::string_view keyPath) {
  fs::path folder;
  std::size_t start = 0;
  while (start <= keyPath.size()) {
    const std::size_t end = std::min(keyPath.find('\\', start), keyPath.size());
    const std::string_view part = keyPath.substr(start, end - start);
    if (!part.empty() && !(folder.empty() && SameName(part, "Software")))
      folder /= std::string(part);
    start = end + 1;
  }
  return folder;
}

std::string Escape(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
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
        out += c;
    }
  }
  return out;
}

std::optional<std::string> Unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i == text.size())
      return std::nullopt;
    switch (text[i]) {
      case '\\':
        out += '\\';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      default:
        return std::nullopt;
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

std::optional<SettingValue> ParsePayload(std::string_view kind, std::string_view payload) {
  if (kind == "int") {
    std::int32_t value = 0;
    const auto [end, ec] = std::from_chars(payload.data(), payload.data() + payload.size(), value);
    if (ec != std::errc() || end != payload.data() + payload.size() || payload.empty())
      return std::nullopt;
    return SettingValue::Integer(value);
  }
  if (kind == "text") {
    auto text = Unescape(payload);
    if (!text)
      return std::nullopt;
    return SettingValue::Text(std::move(*text));
  }
  if (kind == "binary") {
    if (payload.size() % 2 != 0)
      return std::nullopt;
    std::string bytes;
    for (std::size_t i = 0; i < payload.size(); i += 2) {
      const int high = HexDigit(payload[i]);
      const int low = HexDigit(payload[i + 1]);
      if (high < 0 || low < 0)
        return std::nullopt;
      bytes += static_cast<char>(high * 16 + low);
    }
    return SettingValue{SettingKind::Binary, 0, std::move(bytes)};
  }
  return std::nullopt;
}

std::string FormatValue(const SettingValue& value) {
  switch (value.kind) {
    case SettingKind::Integer:
      return "int:" + std::to_string(value.integer);
    case SettingKind::Text:
      return "text:" + Escape(value.text);
    case SettingKind::Binary: {
      static constexpr char kDigits[] = "0123456789abcdef";
      std::string out = "binary:";
      for (const char c : value.text) {
        out += kDigits[static_cast<unsigned char>(c) >> 4];
        out += kDigits[static_cast<unsigned char>(c) & 15];
      }
      return out;
    }
  }
  return {};
}

bool ValidName(std::string_view name) {
  return !name.empty() && name.find_first_of("=\n\r") == std::string_view::npos &&
         name.front() != '[' && name.front() != ';' && name.front() != '#' && name.front() != ' ' &&
         name.back() != ' ';
}

class FileSettingsStore final : public SettingsStore {
 public:
  FileSettingsStore(fs::path file, std::string header)
      : file_(std::move(file)), header_(std::move(header)) {
    Load();
  }

  std::optional<SettingValue> Read(std::string_view name) override {
    const auto it = Find(name);
    if (it == values_.end())
      return std::nullopt;
    return it->second;
  }

  void Write(std::string_view name, const SettingValue& value) override {
    if (!ValidName(name) || value.kind == SettingKind::Binary)
      throw std::invalid_argument("settings value name or kind not storable");
    dirty_ = true;
    const auto it = Find(name);
    if (it != values_.end())
      it->second = value;
    else
      values_.emplace_back(std::string(name), value);
  }

  void Flush() override {
    if (!dirty_)
      return;
    std::string content =
        "; Per-user settings. Lines: Name=int:N | Name=text:T | Name=binary:HEX\n";
    content += header_ + "\n";
    for (const auto& [name, value] : values_)
      content += name + "=" + FormatValue(value) + "\n";
    WriteAtomically(content);
    dirty_ = false;
  }

  std::string Location() const override { return file_.string(); }

 private:
  using Values = std::vector<std::pair<std::string, SettingValue>>;

  Values::iterator Find(std::string_view name) {
    return std::ranges::find_if(values_,
                                [&](const auto& entry) { return SameName(entry.first, name); });
  }

  void Load() {
    std::error_code ec;
    if (!fs::exists(file_, ec))
      return;
    if (!fs::is_regular_file(file_, ec) || fs::file_size(file_, ec) > kMaxFileSize)
      throw SettingsFormatError(file_.string(), 0);
    std::ifstream in(file_, std::ios::binary);
    if (!in)
      throw std::system_error(errno, std::generic_category(), file_.string());
    std::string line;
    int number = 0;
    bool headerSeen = false;
    while (std::getline(in, line)) {
      ++number;
      if (!line.empty() && line.back() == '\r')
        line.pop_back();
      if (line.empty() || line.front() == ';' || line.front() == '#')
        continue;
      if (line.front() == '[') {
        if (line != header_ || headerSeen)
          throw SettingsFormatError(file_.string(), number);
        headerSeen = true;
        continue;
      }
      if (!headerSeen || !ParseLine(line))
        throw SettingsFormatError(file_.string(), number);
    }
    if (in.bad())
      throw std::system_error(errno, std::generic_category(), file_.string());
  }

  bool ParseLine(std::string_view line) {
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos)
      return false;
    const std::string_view name = line.substr(0, equals);
    const std::string_view rest = line.substr(equals + 1);
    const std::size_t colon = rest.find(':');
    if (!ValidName(name) || colon == std::string_view::npos || Find(name) != values_.end())
      return false;
    auto value = ParsePayload(rest.substr(0, colon), rest.substr(colon + 1));
    if (!value)
      return false;
    values_.emplace_back(std::string(name), std::move(*value));
    return true;
  }

  void WriteAtomically(const std::string& content) {
    fs::create_directories(file_.parent_path());
    std::string temp = file_.string() + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
      throw std::system_error(errno, std::generic_category(), temp);
    const auto fail = [&](const char* what) {
      const int error = errno;
      ::close(fd);
      ::unlink(temp.c_str());
      throw std::system_error(error, std::generic_category(), std::string(what) + " " + temp);
    };
    std::size_t done = 0;
    while (done < content.size()) {
      const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        fail("write");
      done += static_cast<std::size_t>(n);
    }
    if (::fchmod(fd, 0600) != 0 || ::fsync(fd) != 0)
      fail("sync");
    if (::close(fd) != 0) {
      const int error = errno;
      ::unlink(temp.c_str());
      throw std::system_error(error, std::generic_category(), "close " + temp);
    }
    if (::rename(temp.c_str(), file_.c_str()) != 0) {
      const int error = errno;
      ::unlink(temp.c_str());
      throw std::system_error(error, std::generic_category(), "rename " + file_.string());
    }
  }

  fs::path file_;
  std::string header_;
  Values values_;
  bool dirty_ = false;
};

}  // namespace

std::unique_ptr<SettingsStore> OpenSettingsStore(std::string_view keyPath,
                                                 std::string_view subkey) {
  const fs::path file = ConfigHome() / KeyFolder(keyPath) / (std::string(subkey) + ".ini");
  // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on "[" + std::string.
  std::string section = "[";
  section += KeyPathWithSeparator(keyPath);
  section += subkey;
  section += ']';
  return std::make_unique<FileSettingsStore>(file, section);
}

}  // namespace fw::platform

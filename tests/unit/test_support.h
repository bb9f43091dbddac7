// What the unit tests share: a private temporary folder, whole-file reads and writes, Intel HEX
// records with their checksums, and a message presenter that records every box it is shown.
#pragma once

#include <stdlib.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/messages.h"

namespace fw::test {

using Bytes = std::vector<std::uint8_t>;

// A folder of its own under the system's temporary folder, made fresh (so parallel runs in
// several build folders never meet) and removed with everything in it.
class TempDir {
 public:
  explicit TempDir(std::string_view prefix = "fw-test") {
    std::string pattern =
        (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
      throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }
  std::string File(std::string_view name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline Bytes ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteText(const std::filesystem::path& path, std::string_view text) {
  std::ofstream(path, std::ios::binary) << text;
}

// One Intel HEX record with its checksum: upper-case digits, LF line end.
inline std::string HexRecord(std::uint8_t type, std::uint16_t offset, const Bytes& data) {
  unsigned sum = static_cast<unsigned>(data.size()) + (offset >> 8) + (offset & 0xFFu) + type;
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, ":%02X%04X%02X", static_cast<unsigned>(data.size()),
                static_cast<unsigned>(offset), static_cast<unsigned>(type));
  std::string line = buffer;
  for (const std::uint8_t b : data) {
    std::snprintf(buffer, sizeof buffer, "%02X", static_cast<unsigned>(b));
    line += buffer;
    sum += b;
  }
  std::snprintf(buffer, sizeof buffer, "%02X\n", (0x100u - (sum & 0xFFu)) & 0xFFu);
  return line + buffer;
}

struct ShownMessage {
  std::string caption;
  std::string text;
  MessageStyle style;
};

// Records every box; a Yes/No question is answered with `answer`, every other box with OK.
class RecordingPresenter : public MessagePresenter {
 public:
  int answer = kIdYes;
  std::vector<ShownMessage> shown;

  int Show(std::string_view caption, std::string_view text, const MessageStyle& style) override {
    shown.push_back({std::string(caption), std::string(text), style});
    return style.buttons == MessageButtons::YesNo ? answer : kIdOk;
  }
};

}  // namespace fw::test

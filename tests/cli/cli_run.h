// Running the real fwupdater from a test: its exit code and what it printed, and the small file
// helpers the end-to-end tests share.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace fw::clitest {

namespace fs = std::filesystem;

struct Result {
  int code = -1;
  std::string out;
  std::string err;
};

inline std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in)
    return {};
  std::string text(static_cast<std::size_t>(in.tellg()), '\0');
  in.seekg(0);
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  return text;
}

inline void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string Quoted(const std::string& arg) {
  std::string out = "'";
  for (const char c : arg)
    out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// A message as the command line prints it: each LF CR or CR LF pair is one line break.
inline std::string Printed(std::string text) {
  for (const char* pair : {"\n\r", "\r\n"})
    for (auto at = text.find(pair); at != std::string::npos; at = text.find(pair, at + 1))
      text.replace(at, 2, "\n");
  return text + "\n";
}

// An empty temp folder for the running test, named by prefix, process id and test name so that
// runs in several build folders at once do not meet.
inline fs::path FreshTestFolder(const std::string& prefix) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const fs::path dir =
      fs::temp_directory_path() / (prefix + std::to_string(::getpid()) + "_" + info->name());
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

// Environment variables for one run: name and value; an empty value unsets the variable.
using Environment = std::vector<std::pair<std::string, std::string>>;

// Runs fwupdater with the arguments in the folder `dir`; its stdout and stderr pass through
// out.txt and err.txt there.
inline Result RunFwupdater(const fs::path& dir, const std::vector<std::string>& args,
                           const Environment& environment = {}) {
  std::string command = "cd " + Quoted(dir.string()) + " &&";
  for (const auto& [name, value] : environment) {
    if (value.empty())
      command += " unset " + name + " &&";
  }
  for (const auto& [name, value] : environment) {
    if (!value.empty())
      command += " " + name + "=" + Quoted(value);
  }
  command += " " + Quoted(std::string(FW_BIN_DIR) + "/fwupdater");
  for (const auto& arg : args)
    command += " " + Quoted(arg);
  command += " >out.txt 2>err.txt";
  const int status = std::system(command.c_str());
  Result r;
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = ReadText(dir / "out.txt");
  r.err = ReadText(dir / "err.txt");
  return r;
}

}  // namespace fw::clitest

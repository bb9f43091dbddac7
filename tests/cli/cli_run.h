// Running the real fwupdater from a test: its exit code and what it printed, and what the
// end-to-end tests share besides (the file and folder helpers of tests/support).
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/files.h"
#include "support/temp_dir.h"

namespace fw::clitest {

namespace fs = std::filesystem;
using test::ReadText;
using test::WriteText;

struct Result {
  int code = -1;
  std::string out;
  std::string err;
};

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

// A fresh temporary folder for the running test, named by prefix and test name.
inline test::TempDir TestFolder(const std::string& prefix) {
  return test::TempDir(prefix + ::testing::UnitTest::GetInstance()->current_test_info()->name());
}

// Environment variables for one run: name and value; an empty value unsets the variable.
using Environment = std::vector<std::pair<std::string, std::string>>;

// Runs fwupdater (the build's own unless `program` names another copy) with the arguments in the
// folder `dir`; its stdout and stderr pass through out.txt and err.txt there.
inline Result RunFwupdater(const fs::path& dir, const std::vector<std::string>& args,
                           const Environment& environment = {},
                           const fs::path& program = fs::path(FW_BIN_DIR) / "fwupdater") {
  std::string command = "cd " + Quoted(dir.string()) + " &&";
  for (const auto& [name, value] : environment) {
    if (value.empty())
      command += " unset " + name + " &&";
  }
  for (const auto& [name, value] : environment) {
    if (!value.empty())
      command += " " + name + "=" + Quoted(value);
  }
  command += " " + Quoted(program.string());
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

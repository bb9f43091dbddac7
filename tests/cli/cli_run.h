// Running the real fwupdater from a test: its exit code and what it printed, and what the
// end-to-end tests share besides (the file and folder helpers of tests/support).
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
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

// The command that runs fwupdater: $FW_E2E_FWUPDATER when set (shell words, such as
// "scripts/wine-run build-mingw/bin/fwupdater.exe" for the Windows build under Wine), else the
// build's own fwupdater.
inline std::string FwupdaterCommand() {
  const char* other = std::getenv("FW_E2E_FWUPDATER");
  return other != nullptr && *other != '\0' ? std::string(other)
                                            : Quoted(std::string(FW_BIN_DIR) + "/fwupdater");
}

// The tests run another build of fwupdater (the Windows one): those that need Linux's own
// means (signals, preloads, mounts, FIFOs) skip.
inline bool RunsOtherFwupdater() {
  const char* other = std::getenv("FW_E2E_FWUPDATER");
  return other != nullptr && *other != '\0';
}

// Windows consoles and files get CR LF for each line break the program prints.
inline std::string WithLinuxLineBreaks(std::string text) {
  if (!RunsOtherFwupdater())
    return text;
  for (auto at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
    text.erase(at, 1);
  return text;
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
  const bool ownBuild = program == fs::path(FW_BIN_DIR) / "fwupdater";
  command += " " + (ownBuild ? FwupdaterCommand() : Quoted(program.string()));
  for (const auto& arg : args)
    command += " " + Quoted(arg);
  command += " >out.txt 2>err.txt";
  const int status = std::system(command.c_str());
  Result r;
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = WithLinuxLineBreaks(ReadText(dir / "out.txt"));
  r.err = WithLinuxLineBreaks(ReadText(dir / "err.txt"));
  return r;
}

// Holds a card data file for writing from a process of its own (fw_hold_card, or
// $FW_E2E_HOLD_CARD beside another fwupdater) for the life of the object.
class CardHolder {
 public:
  CardHolder(const fs::path& dir, const std::string& card) : dir_(dir) {
    const char* other = std::getenv("FW_E2E_HOLD_CARD");
    const std::string holder = other != nullptr && *other != '\0'
                                   ? std::string(other)
                                   : Quoted(std::string(FW_BIN_DIR) + "/fw_hold_card");
    const std::string command =
        "cd " + Quoted(dir.string()) + " && " + holder + " " + Quoted(card) + " >held.txt";
    pipe_ = ::popen(command.c_str(), "w");
    for (int i = 0; pipe_ != nullptr && i < 600 && ReadText(dir_ / "held.txt").empty(); ++i)
      ::usleep(50000);
  }
  ~CardHolder() {
    if (pipe_ != nullptr)
      ::pclose(pipe_);
  }
  CardHolder(const CardHolder&) = delete;
  CardHolder& operator=(const CardHolder&) = delete;

  bool Holds() const { return ReadText(dir_ / "held.txt").starts_with("held"); }

 private:
  fs::path dir_;
  std::FILE* pipe_ = nullptr;
};

}  // namespace fw::clitest

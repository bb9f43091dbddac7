// The command line as a library: RunCli parses the arguments of `fwupdater`, runs the command
// they name and returns its exit code. The program's main() hands it the system's services;
// tests hand it their own (fake volumes, string streams) and run every command in-process.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <span>
#include <string>

#include "platform/volumes.h"

namespace fw::cli {

// What the commands use of the world around them.
struct CliServices {
  // The removable volumes for `drives`, `prepare` and `eject`, made when one of them runs.
  // A failure to reach the system's volume service is thrown from here.
  std::function<std::unique_ptr<platform::Volumes>()> volumes;
  std::ostream& out;  // results
  std::ostream& err;  // messages, questions and the progress bar
  // Whether err is an interactive terminal: only then is the progress bar drawn.
  bool errIsTerminal = false;
};

// Runs the command line (the arguments without the program's name) and returns the exit code:
// 0 success, 1 the command failed (the system's message on err), 2 a usage error, 3 a write
// whose entry is on the card but could not be read back. Every exception a command throws ends
// here: its text on err, exit code 1.
int RunCli(std::span<const std::string> args, const CliServices& services);

}  // namespace fw::cli

// fwupdater: the command-line front end, run with the system's console and volumes. Every
// command runs to completion and ends with an exit code: 0 success, 1 the command failed (the
// system's message on stderr), 2 a usage error, 3 a write whose entry is on the card but could
// not be read back.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "platform/console.h"
#include "platform/volumes.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args = fw::platform::CommandLineUtf8(argc, argv);
  const fw::cli::CliServices services{.volumes = fw::platform::MakeSystemVolumes,
                                      .out = fw::platform::Utf8Out(),
                                      .err = fw::platform::Utf8Err(),
                                      .errIsTerminal = fw::platform::IsTerminal(stderr)};
  return fw::cli::RunCli(args, services);
}

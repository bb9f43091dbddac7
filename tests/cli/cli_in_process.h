// Running the command line in the test's own process: RunCli with the test's volumes, its
// output and messages caught in strings.
#pragma once

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cli/cli.h"
#include "cli/cli_run.h"
#include "platform/volumes.h"

namespace fw::clitest {

using VolumesFactory = std::function<std::unique_ptr<platform::Volumes>()>;

inline Result RunCliInProcess(const std::vector<std::string>& args, VolumesFactory volumes) {
  std::ostringstream out, err;
  const cli::CliServices services{.volumes = std::move(volumes), .out = out, .err = err};
  Result r;
  r.code = cli::RunCli(args, services);
  r.out = out.str();
  r.err = err.str();
  return r;
}

}  // namespace fw::clitest

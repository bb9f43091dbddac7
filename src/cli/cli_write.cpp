#include "cli/cli_write.h"

namespace fw::cli {

void AddWriteCommands(CLI::App& /*app*/) {}

}  // namespace fw::cli

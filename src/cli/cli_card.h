// Commands on a card data file as a whole: `create`, `list` and `verify`.
#pragma once

#include <CLI/CLI.hpp>

namespace fw::cli {

void AddCardCommands(CLI::App& app);

}  // namespace fw::cli

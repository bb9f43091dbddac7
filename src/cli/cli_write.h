// Commands that put an update onto a card and take it off again: `write` and `extract`.
#pragma once

#include <CLI/CLI.hpp>

namespace fw::cli {

void AddWriteCommands(CLI::App& app);

}  // namespace fw::cli

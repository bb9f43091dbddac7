// Commands that put an update onto a card and take it off again: `write` and `extract`.
#pragma once

#include <optional>
#include <string>

#include "cli/cli_options.h"
#include "core/texts.h"

namespace CLI {
class App;
}

namespace fw::cli {

struct CliServices;

struct WriteOptions {
  std::string card;
  std::string hex;
  DeviceOptions device;
  std::string name{texts::kDefaultUpdateName};
  std::optional<long long> sver;
  long long srel = 0;
  bool scramble = false;
  bool json = false;
  bool force = false;
  bool verify = false;
};

void AddWriteOptions(CLI::App& command, WriteOptions& options);
int RunWrite(const WriteOptions& options, const CliServices& services);

struct ExtractOptions {
  std::string card;
  int entry = 0;
  std::string out;
  DeviceOptions device;
};

void AddExtractOptions(CLI::App& command, ExtractOptions& options);
int RunExtract(const ExtractOptions& options, const CliServices& services);

}  // namespace fw::cli

// Commands on a card data file as a whole: `create`, `list` and `verify`.
#pragma once

#include <cstdint>
#include <string>

#include "cli/cli_options.h"

namespace CLI {
class App;
}

namespace fw::cli {

struct CliServices;

struct CreateOptions {
  std::string card;
  std::uint32_t sizeMb = 0;
  std::uint32_t pages = 0;
  SectionOptions sections;
  bool force = false;
};

void AddCreateOptions(CLI::App& command, CreateOptions& options);
int RunCreate(const CreateOptions& options, const CliServices& services);

// `list` and `verify`: the card data file and --json.
struct CardFileOptions {
  std::string card;
  bool json = false;
};

void AddListOptions(CLI::App& command, CardFileOptions& options);
int RunList(const CardFileOptions& options, const CliServices& services);

void AddVerifyOptions(CLI::App& command, CardFileOptions& options);
int RunVerify(const CardFileOptions& options, const CliServices& services);

}  // namespace fw::cli

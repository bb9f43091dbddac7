// fwupdater for the tests that need a process of its own (signals): the real command line on
// fake cards. Usage: fwupdater_fake_cards CARDS ARGS..., where each sub-folder of the folder
// CARDS is a card, identified by the sub-folder's name and sized by its file system, and ARGS
// are fwupdater's arguments. Built for the tests only; never installed.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "cli/cli.h"
#include "platform/console.h"
#include "support/fake_volumes.h"

namespace {

std::unique_ptr<fw::platform::Volumes> FakeCardsOf(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> cards;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (entry.is_directory())
      cards.push_back(entry.path());
  }
  std::sort(cards.begin(), cards.end());
  auto volumes = std::make_unique<fw::platform::FakeVolumes>();
  for (const auto& card : cards)
    volumes->AddFolderCard(card, card.filename().string());
  return volumes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: fwupdater_fake_cards CARDS [fwupdater arguments]\n";
    return 2;
  }
  const std::filesystem::path cards = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  const fw::cli::CliServices services{.volumes = [cards] { return FakeCardsOf(cards); },
                                      .out = std::cout,
                                      .err = std::cerr,
                                      .errIsTerminal = fw::platform::IsTerminal(stderr)};
  return fw::cli::RunCli(args, services);
}

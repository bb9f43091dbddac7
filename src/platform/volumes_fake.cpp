#include "platform/volumes_fake.h"

#include <algorithm>
#include <cstdlib>

namespace fw::platform {

std::unique_ptr<Volumes> MakeVolumesForCli() {
  const char* folder = std::getenv("FWUPDATER_FAKE_VOLUMES");
  if (folder == nullptr || *folder == '\0')
    return MakeSystemVolumes();

  std::vector<std::filesystem::path> cards;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (entry.is_directory())
      cards.push_back(entry.path());
  }
  std::sort(cards.begin(), cards.end());
  auto volumes = std::make_unique<FakeVolumes>();
  for (const auto& card : cards) {
    FakeCardScript& script = volumes->AddFolderCard(card, card.filename().string()).script;
    // Marker files in a card's folder script its failures.
    auto marked = [&card](const char* name) { return std::filesystem::exists(card / name); };
    script.formatSucceeds = !marked(".format-fails");
    script.notRemovable = marked(".not-removable");
    script.ejectSucceeds = !marked(".eject-fails");
    script.freeSpaceFails = marked(".free-space-fails");
  }
  return volumes;
}

}  // namespace fw::platform

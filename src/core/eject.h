// Safe removal of the card that holds a card data file: the volume is released and ejected and
// the user is told whether the card may be pulled out.
#pragma once

#include <optional>
#include <string_view>

#include "core/messages.h"
#include "platform/volumes.h"

namespace fw {

enum class TEjectResult {
  NothingToEject,  // empty path, or a path on no removable volume: nothing was shown
  Ejected,  // "Диск E: может быть безопасно извлечен" was shown
  Failed,   // the eject error naming "E:" was shown
};

// The removable volume that holds the card data file path shown in the main window, the path
// made absolute against the current directory; nothing for an empty path or a path on no
// removable volume. Throws EVolumeService when the system's volume service does not answer.
std::optional<platform::VolumeInfo> CardVolumeOfPath(std::string_view path,
                                                     platform::Volumes& volumes);

// The eject command: releases and ejects the card's volume and tells the user whether it may be
// pulled out; nothing to do without a card. The front end moves the current directory off the
// card (to the program's folder) between finding the card and ejecting it, so that the current
// directory keeps no card busy.
TEjectResult EjectCard(const std::optional<platform::VolumeInfo>& card, platform::Volumes& volumes,
                       MessagePresenter& presenter,
                       platform::Interaction interaction = platform::Interaction::Allowed);

}  // namespace fw

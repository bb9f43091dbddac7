// Safe removal of the card that holds a card data file: the volume is released and ejected and
// the user is told whether the card may be pulled out.
#pragma once

#include <string_view>

#include "core/messages.h"
#include "platform/volumes.h"

namespace fw {

enum class TEjectResult {
  NothingToEject,  // empty path, or a path on no removable volume: nothing was shown
  Ejected,  // "Диск E: может быть безопасно извлечен" was shown
  Failed,   // the eject error naming "E:" was shown
};

// The eject command for the card data file path shown in the main window: the path is made
// absolute against the current directory, the current directory is moved to the program's folder
// (so that it keeps no card busy), and the volume that holds the path is released and ejected.
TEjectResult EjectCardOfPath(std::string_view path, platform::Volumes& volumes,
                             MessagePresenter& presenter,
                             platform::Interaction interaction = platform::Interaction::Allowed);

}  // namespace fw

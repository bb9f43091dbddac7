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

// The eject in two steps, for a front end that ejects on a worker thread: first the device work,
// which shows nothing (NothingToEject without a card)...
TEjectResult EjectCardVolume(const std::optional<platform::VolumeInfo>& card,
                             platform::Volumes& volumes,
                             platform::Interaction interaction = platform::Interaction::Allowed);
// ...then, on the thread that may show messages, what the user is told about the card.
void ShowEjectResult(TEjectResult result, const platform::VolumeInfo& card,
                     MessagePresenter& presenter);

}  // namespace fw

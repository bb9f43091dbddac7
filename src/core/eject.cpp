#include "core/eject.h"

#include <filesystem>
#include <string>
#include <system_error>

#include "core/errors.h"
#include "core/texts.h"
#include "core/utf8_path.h"

namespace fw {

std::optional<platform::VolumeInfo> CardVolumeOfPath(std::string_view path,
                                                     platform::Volumes& volumes) {
  if (path.empty())
    return std::nullopt;
  std::error_code error;
  const auto absolute = std::filesystem::absolute(PathOfUtf8(path), error);
  if (error || absolute.empty())
    return std::nullopt;
  try {
    return volumes.VolumeOfPath(absolute);
  } catch (const platform::VolumeServiceError& failure) {
    throw EVolumeService(failure.what());
  }
}

TEjectResult EjectCardVolume(const std::optional<platform::VolumeInfo>& card,
                             platform::Volumes& volumes, platform::Interaction interaction) {
  if (!card)
    return TEjectResult::NothingToEject;
  try {
    volumes.Eject(*card, interaction);
  } catch (const platform::VolumeOperationFailed&) {
    return TEjectResult::Failed;
  }
  return TEjectResult::Ejected;
}

void ShowEjectResult(TEjectResult result, const platform::VolumeInfo& card,
                     MessagePresenter& presenter) {
  if (result == TEjectResult::Failed) {
    // The user is told in the system's own words that the card is still in use.
    const MessageArg args[] = {card.id + ":"};
    UserMessage(presenter, texts::kEjectFailed, args, mkError);
  } else if (result == TEjectResult::Ejected) {
    const MessageArg args[] = {card.id};
    UserMessage(presenter, texts::kEjectDone, args, mkInformation);
  }
}

TEjectResult EjectCard(const std::optional<platform::VolumeInfo>& card, platform::Volumes& volumes,
                       MessagePresenter& presenter, platform::Interaction interaction) {
  const TEjectResult result = EjectCardVolume(card, volumes, interaction);
  if (card)
    ShowEjectResult(result, *card, presenter);
  return result;
}

}  // namespace fw

#include "core/eject.h"

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "core/texts.h"
#include "platform/process.h"

namespace fw {

TEjectResult EjectCardOfPath(std::string_view path, platform::Volumes& volumes,
                             MessagePresenter& presenter, platform::Interaction interaction) {
  std::optional<platform::VolumeInfo> volume;
  if (!path.empty()) {
    const std::u8string utf8(path.begin(), path.end());
    std::error_code error;
    const auto absolute = std::filesystem::absolute(std::filesystem::path(utf8), error);
    if (!error && !absolute.empty())
      volume = volumes.VolumeOfPath(absolute);
  }
  // Whatever the outcome, the current directory no longer keeps a card busy.
  platform::SetCurrentDir(platform::ExecutableDir());
  if (!volume)
    return TEjectResult::NothingToEject;

  if (volumes.Eject(*volume, interaction)) {
    const MessageArg args[] = {volume->id};
    UserMessage(presenter, texts::kEjectDone, args, mkInformation);
    return TEjectResult::Ejected;
  }
  const MessageArg args[] = {volume->id + ":"};
  UserMessage(presenter, texts::kEjectFailed, args, mkError);
  return TEjectResult::Failed;
}

}  // namespace fw

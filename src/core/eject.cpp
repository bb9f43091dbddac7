#include "core/eject.h"

#include <filesystem>
#include <string>
#include <system_error>

#include "core/texts.h"
#include "platform/process.h"

namespace fw {

TEjectResult EjectCardOfPath(std::string_view path, platform::Volumes& volumes,
                             MessagePresenter& presenter, platform::Interaction interaction) {
  if (path.empty())
    return TEjectResult::NothingToEject;
  std::error_code error;
  const std::u8string utf8(path.begin(), path.end());
  const auto absolute = std::filesystem::absolute(std::filesystem::path(utf8), error);
  if (error || absolute.empty())
    return TEjectResult::NothingToEject;
  const auto volume = volumes.VolumeOfPath(absolute);
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

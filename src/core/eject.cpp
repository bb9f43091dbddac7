#include "core/eject.h"

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "core/errors.h"
#include "core/texts.h"
#include "core/utf8_path.h"
#include "platform/process.h"

namespace fw {

namespace {

// The removable volume that holds the path, made absolute against the current directory.
std::optional<platform::VolumeInfo> VolumeHolding(std::string_view path,
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

// Moves the current directory to the program's folder when it goes out of scope, whatever the
// outcome, so that the current directory no longer keeps a card busy.
struct LeaveCardDirectory {
  ~LeaveCardDirectory() { platform::SetCurrentDir(platform::ExecutableDir()); }
};

}  // namespace

TEjectResult EjectCardOfPath(std::string_view path, platform::Volumes& volumes,
                             MessagePresenter& presenter, platform::Interaction interaction) {
  std::optional<platform::VolumeInfo> volume;
  {
    LeaveCardDirectory leave;
    volume = VolumeHolding(path, volumes);
  }
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

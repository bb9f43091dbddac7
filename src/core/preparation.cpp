#include "core/preparation.h"

#include <algorithm>
#include <filesystem>

#include "core/carddata_create.h"
#include "core/carddata_errors.h"
#include "core/errors.h"
#include "core/message_format.h"
#include "core/texts.h"
#include "core/utf8_path.h"
#include "platform/process.h"

namespace fw {
namespace {

constexpr std::uint32_t kPagesPerCounterStep = 1000;

// The most pages a run with these inputs can give on this drive, whatever the format leaves
// free: the chosen size when it is below the free space already (a format only adds to it),
// else at most the larger of the chosen size and the whole volume.
std::uint32_t MostPossiblePages(const TCardDriveInfo& drive, const TPreparationInputs& inputs) {
  const std::uint64_t bySize = std::uint64_t{inputs.SizeMB} * kPagesPerMegabyte;
  if (std::int64_t{inputs.SizeMB} < drive.FreeAvailable / kBytesPerMegabyte)
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(bySize, kMaxCardFilePages));
  const std::int64_t volumeBytes =
      std::max({drive.TotalSize, drive.FreeAvailable, std::int64_t{0}});
  const std::uint64_t byVolume = static_cast<std::uint64_t>(volumeBytes) / 512;
  return static_cast<std::uint32_t>(
      std::min<std::uint64_t>(std::max(bySize, byVolume), kMaxCardFilePages));
}

// Returns writing mode to idle on every way out of the writing.
class WritingScope {
 public:
  WritingScope(PreparationObserver& observer, std::uint32_t dataPages) : observer_(observer) {
    observer_.WritingStarted(dataPages);
  }
  ~WritingScope() { observer_.WritingEnded(); }
  WritingScope(const WritingScope&) = delete;
  WritingScope& operator=(const WritingScope&) = delete;

 private:
  PreparationObserver& observer_;
};

// A volume larger than FAT16 covers cannot be formatted for the recorder: refused before the
// question, so that nothing is asked or formatted for a card that cannot be used anyway. The size
// is told in whole megabytes rounded up, so a refused volume never reads as the largest allowed.
void RefuseVolumeTooLargeForFat16(const TCardDriveInfo& drive) {
  if (drive.TotalSize <= platform::kMaxFat16VolumeBytes)
    return;
  const auto megabytes =
      static_cast<std::uint64_t>((drive.TotalSize + kBytesPerMegabyte - 1) / kBytesPerMegabyte);
  throw EPrepareRefused(FormatMessage(texts::kVolumeTooLargeForFat16, {drive.Letter, megabytes}));
}

bool AskToFormat(MessagePresenter& presenter) {
  return UserMessage(presenter, texts::kFormatConfirm, mkQuestion) == kIdYes;
}

// Formats the drive; returns whether it succeeded, with the platform's reason when it failed.
bool FormatDrive(const TCardDriveInfo& drive, platform::Volumes& volumes,
                 platform::Interaction interaction, std::string& reason) {
  try {
    return volumes.FormatFat16(drive.Volume, interaction, &reason);
  } catch (const platform::VolumeNotRemovable&) {
    throw std::runtime_error(std::string(texts::kDriveNotRemovable));
  }
}

std::int64_t FreeBytesOf(const TCardDriveInfo& drive, platform::Volumes& volumes,
                         platform::Interaction interaction, std::string& rootPath) {
  const auto root = volumes.EnsureMounted(drive.Volume, interaction);
  const auto free = root ? volumes.FreeSpace(*root) : std::nullopt;
  if (!free || *free < 0) {
    throw EPrepareRefused(FormatMessage(texts::kFreeSpaceFailed, {drive.Letter}));
  }
  rootPath = *root;
  return *free;
}

// The card data file already on the card is replaced by the new one, so its space counts as
// free. Without a format it is replaced only when the user said so: otherwise its entries would
// be lost without a question.
std::int64_t SpaceOfReplacedFile(const std::string& path, const TPreparationInputs& inputs) {
  std::error_code error;
  const std::filesystem::path file = PathOfUtf8(path);
  if (!std::filesystem::exists(file, error))
    return 0;
  if (!inputs.Format && !inputs.ReplaceExisting)
    throw EPrepareRefused(FormatMessage(texts::kCardFileExists, {path}));
  if (!std::filesystem::is_regular_file(file, error))
    return 0;
  const std::uintmax_t size = std::filesystem::file_size(file, error);
  return error ? 0 : static_cast<std::int64_t>(size);
}

TCreateResult WriteCardDataFile(const TPreparationPlan& plan, PreparationObserver& observer) {
  auto progress = [&observer](std::uint32_t pages, std::uint32_t dataPages) {
    observer.ProgressChanged(pages, dataPages);
    if (pages == 0 || pages % kPagesPerCounterStep != 0)
      return;
    observer.CounterChanged(FormatMessage(texts::kProgressPage, {std::uint64_t{pages}}));
    observer.ProcessEvents();
  };
  auto cancelled = [&observer] { return observer.AbortRequested(); };
  return CreateCardDataFile(plan.Path, plan.Pages, plan.Sessions, plan.ExtendedPages, progress,
                            cancelled);
}

}  // namespace

TCardDriveInfo CardDriveInfoOf(const platform::VolumeInfo& volume) {
  TCardDriveInfo drive;
  drive.Letter = volume.id;
  drive.RootPath = volume.rootPath;
  drive.FreeAvailable = volume.freeAvailable;
  drive.TotalFree = volume.totalFree;
  drive.TotalSize = volume.totalSize;
  drive.SizeMB =
      static_cast<std::int32_t>(std::max<std::int64_t>(volume.totalSize, 0) / kBytesPerMegabyte);
  drive.Label = volume.label;
  drive.FileSystem = volume.fileSystem;
  drive.Volume = volume;
  return drive;
}

std::vector<TCardDriveInfo> DiscoverCardDrives(platform::Volumes& volumes) {
  platform::SetCurrentDir(platform::ExecutableDir());
  std::vector<platform::VolumeInfo> found;
  try {
    found = volumes.List();
  } catch (const platform::VolumeServiceError& error) {
    throw EVolumeService(error.what());
  }
  std::vector<TCardDriveInfo> drives;
  for (const auto& volume : found)
    drives.push_back(CardDriveInfoOf(volume));
  return drives;
}

std::string DriveItemText(const TCardDriveInfo& drive) {
  std::string text = drive.Letter;
  text += texts::kDriveItemLabel;
  text += drive.Label;
  text += texts::kDriveItemFs;
  text += drive.FileSystem;
  text += texts::kDriveItemSize;
  text += std::to_string(drive.TotalSize / kBytesPerMegabyte);
  text += texts::kDriveItemFree;
  text += std::to_string(drive.FreeAvailable / kBytesPerMegabyte);
  text += texts::kDriveItemEnd;
  return text;
}

std::int32_t ExtendedMaxForSize(std::int32_t sizeMB) {
  return std::max(sizeMB, 0) / 2;
}

std::int32_t ExtendedDefaultForSize(std::int32_t sizeMB) {
  const std::int32_t size = std::max(sizeMB, 0);
  const std::int32_t quotient = size / 10;
  const std::int32_t remainder = size % 10;
  const bool roundUp = remainder > 5 || (remainder == 5 && quotient % 2 != 0);
  return roundUp ? quotient + 1 : quotient;
}

std::string CardDataPathOnRoot(std::string_view rootPath) {
  std::string path(rootPath);
  if (!path.empty() && path.back() != '/' && path.back() != '\\')
    path += static_cast<char>(std::filesystem::path::preferred_separator);
  path += kCardDataFileName;
  return path;
}

TPreparationPlan PlanPreparation(const TPreparationInputs& inputs, std::string_view rootPath,
                                 std::int64_t freeBytes) {
  TPreparationPlan plan;
  plan.FreeBytes = freeBytes;
  const std::int64_t freeMB = freeBytes / kBytesPerMegabyte;
  const std::uint64_t pages =
      std::int64_t{inputs.SizeMB} < freeMB
          ? std::uint64_t{inputs.SizeMB} * kPagesPerMegabyte
          : static_cast<std::uint64_t>(std::max<std::int64_t>(freeBytes, 0)) / 512;
  plan.Pages = static_cast<std::uint32_t>(std::min<std::uint64_t>(pages, kMaxCardFilePages));
  const std::uint64_t extendedPages = ExtendedPagesFromMegabytes(inputs.ExtendedMB);
  CheckCreateParameters(plan.Pages, inputs.Sessions, extendedPages);
  plan.DataPages = plan.Pages - 1;
  plan.Sessions = inputs.Sessions;
  plan.SessionsPages = inputs.Sessions * 4;
  plan.ExtendedPages = static_cast<std::uint32_t>(extendedPages);
  plan.Path = CardDataPathOnRoot(rootPath);
  return plan;
}

TPreparationOutcome RunPreparation(const TCardDriveInfo& drive, const TPreparationInputs& inputs,
                                   platform::Volumes& volumes, MessagePresenter& presenter,
                                   PreparationObserver& observer,
                                   platform::Interaction interaction) {
  TPreparationOutcome outcome;
  // Parameters that cannot fit on this drive at all are refused before the question: formatting
  // a card only to refuse its file afterwards would lose its data for nothing.
  CheckCreateParameters(MostPossiblePages(drive, inputs), inputs.Sessions,
                        ExtendedPagesFromMegabytes(inputs.ExtendedMB));

  const bool emptyCard = drive.TotalFree == drive.TotalSize;
  if (inputs.Format && !emptyCard) {
    RefuseVolumeTooLargeForFat16(drive);
    if (!AskToFormat(presenter))
      return outcome;
    observer.StatusChanged(texts::kStatusFormatting);
    if (!FormatDrive(drive, volumes, interaction, outcome.FormatFailure)) {
      observer.StatusChanged(texts::kStatusFormatFailed);
      outcome.Result = TPreparationResult::FormatFailed;
      return outcome;
    }
  }

  std::string rootPath;
  const std::int64_t freeBytes = FreeBytesOf(drive, volumes, interaction, rootPath);
  const std::int64_t replaced = SpaceOfReplacedFile(CardDataPathOnRoot(rootPath), inputs);
  outcome.Plan = PlanPreparation(inputs, rootPath, freeBytes + replaced);
  const TPreparationPlan& plan = outcome.Plan;

  WritingScope writing(observer, plan.DataPages);
  observer.StatusChanged(texts::kStatusWritingHeader);
  observer.StatusChanged(
      FormatMessage(texts::kStatusWritingPages, {std::uint64_t{plan.DataPages}}));
  if (WriteCardDataFile(plan, observer) == TCreateResult::Cancelled) {
    UserMessage(presenter, texts::kFormatAborted, mkInformation);
    outcome.Result = TPreparationResult::Aborted;
    return outcome;
  }
  const MessageArg args[] = {plan.Path, plan.FileBytes(), std::int64_t{plan.DataPages}};
  UserMessage(presenter, texts::kFormatDone, args, mkInformation);
  outcome.Result = TPreparationResult::Completed;
  return outcome;
}

}  // namespace fw

#include "core/preparation.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <utility>

#include "core/carddata_create.h"
#include "core/carddata_errors.h"
#include "core/errors.h"
#include "core/message_format.h"
#include "core/texts.h"
#include "core/utf8_path.h"

namespace fw {
namespace {

constexpr std::uint32_t kPagesPerCounterStep = 1000;

// The most pages a run with these inputs can give on this drive, whatever the format leaves
// free: the chosen size when it is below the free space already (a format only adds to it),
// else at most the larger of the chosen size and the whole volume.
std::uint32_t MostPossiblePages(const TCardDriveInfo& drive, const TPreparationInputs& inputs) {
  const std::uint64_t bySize = std::uint64_t{inputs.SizeMB} * kPagesPerMegabyte;
  if (std::int64_t{inputs.SizeMB} < drive.FreeAvailable / kBytesPerMegabyte)
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(bySize, kMaxFilePages));
  const std::int64_t volumeBytes =
      std::max({drive.TotalSize, drive.FreeAvailable, std::int64_t{0}});
  const std::uint64_t byVolume = static_cast<std::uint64_t>(volumeBytes) / kPageSize;
  return static_cast<std::uint32_t>(
      std::min<std::uint64_t>(std::max(bySize, byVolume), kMaxFilePages));
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

// Passes everything on to the observer but the end of writing mode, which it passes on when it
// goes out of scope (after the closing message, or on the way out of an error).
class WritingEndAfterMessage : public PreparationObserver {
 public:
  explicit WritingEndAfterMessage(PreparationObserver& observer) : observer_(observer) {}
  ~WritingEndAfterMessage() override {
    if (ended_)
      observer_.WritingEnded();
  }
  WritingEndAfterMessage(const WritingEndAfterMessage&) = delete;
  WritingEndAfterMessage& operator=(const WritingEndAfterMessage&) = delete;

  void StatusChanged(std::string_view text) override { observer_.StatusChanged(text); }
  void WritingStarted(std::uint32_t dataPages) override { observer_.WritingStarted(dataPages); }
  void ProgressChanged(std::uint32_t pages, std::uint32_t dataPages) override {
    observer_.ProgressChanged(pages, dataPages);
  }
  void CounterChanged(std::string_view text) override { observer_.CounterChanged(text); }
  void ProcessEvents() override { observer_.ProcessEvents(); }
  bool AbortRequested() override { return observer_.AbortRequested(); }
  void WritingEnded() override { ended_ = true; }

 private:
  PreparationObserver& observer_;
  bool ended_ = false;
};

// A volume larger than FAT16 covers cannot be formatted for the recorder: refused before the
// question, so that nothing is asked or formatted for a card that cannot be used anyway. The size
// is told in whole megabytes rounded up, so a refused volume never reads as the largest allowed.
void RefuseVolumeTooLargeForFat16(const TCardDriveInfo& drive) {
  if (platform::FitsFat16(drive.TotalSize))
    return;
  const auto megabytes =
      static_cast<std::uint64_t>((drive.TotalSize + kBytesPerMegabyte - 1) / kBytesPerMegabyte);
  throw EPrepareRefused(FormatMessage(texts::kVolumeTooLargeForFat16, {drive.Letter, megabytes}));
}

// A card that was completely free at scan time is used as it is; the others are formatted unless
// the user chose to keep the file system.
bool FormatIsDue(const TCardDriveInfo& drive, const TPreparationInputs& inputs) {
  return inputs.Format && drive.TotalFree != drive.TotalSize;
}

bool AskToFormat(MessagePresenter& presenter) {
  return UserMessage(presenter, texts::kFormatConfirm, mkQuestion) == kIdYes;
}

// Formats the drive. A cancelled or failed format is an outcome, not an error: its reason is
// returned (nothing when the format succeeded).
std::optional<std::string> FormatDrive(const TCardDriveInfo& drive, platform::Volumes& volumes,
                                       platform::Interaction interaction) {
  try {
    volumes.FormatFat16(drive.Volume, interaction);
    return std::nullopt;
  } catch (const platform::VolumeNotRemovable&) {
    throw std::runtime_error(std::string(texts::kDriveNotRemovable));
  } catch (const platform::VolumeOperationFailed& failure) {
    return std::string(failure.what());
  }
}

// The root path of the mounted volume and the bytes free on it.
struct MountedSpace {
  std::string rootPath;
  std::int64_t freeBytes = 0;
};

MountedSpace FreeBytesOf(const TCardDriveInfo& drive, platform::Volumes& volumes,
                         platform::Interaction interaction) {
  MountedSpace space;
  try {
    space.rootPath = volumes.EnsureMounted(drive.Volume, interaction);
    space.freeBytes = volumes.FreeSpace(space.rootPath);
  } catch (const platform::VolumeOperationFailed&) {
    // The user is told which drive; the card was formatted or kept, nothing else was written.
    throw EPrepareRefused(FormatMessage(texts::kFreeSpaceFailed, {drive.Letter}));
  }
  if (space.freeBytes < 0)
    throw EPrepareRefused(FormatMessage(texts::kFreeSpaceFailed, {drive.Letter}));
  return space;
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
  return CreateCardDataFile(plan.Path, plan.Layout, progress, cancelled);
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

std::optional<std::uint32_t> ParseSessions(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n\f\v";
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos)
    return std::nullopt;
  text = text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9')
      return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > UINT32_MAX)
      return std::nullopt;
  }
  if (value == 0)
    return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

TFieldRange SizeRangeOf(const TCardDriveInfo& drive) {
  const auto size = static_cast<std::uint32_t>(std::max(drive.SizeMB, 0));
  return {std::min(1u, size), size, size};
}

TFieldRange ExtendedRangeForSize(std::uint32_t sizeMB) {
  const std::uint32_t quotient = sizeMB / 10;
  const std::uint32_t remainder = sizeMB % 10;
  const bool roundUp = remainder > 5 || (remainder == 5 && quotient % 2 != 0);
  return {0, sizeMB / 2, roundUp ? quotient + 1 : quotient};
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
          : static_cast<std::uint64_t>(std::max<std::int64_t>(freeBytes, 0)) / kPageSize;
  plan.Layout = MakeCardLayout(std::min<std::uint64_t>(pages, kMaxFilePages), inputs.Sessions,
                               ExtendedPagesFromMegabytes(inputs.ExtendedMB));
  plan.Path = CardDataPathOnRoot(rootPath);
  return plan;
}

bool ConfirmPreparation(const TCardDriveInfo& drive, const TPreparationInputs& inputs,
                        MessagePresenter& presenter) {
  // Parameters that cannot fit on this drive at all are refused before the question: formatting
  // a card only to refuse its file afterwards would lose its data for nothing. The file's own
  // layout is made once the free space after the format is known.
  MakeCardLayout(MostPossiblePages(drive, inputs), inputs.Sessions,
                 ExtendedPagesFromMegabytes(inputs.ExtendedMB));
  if (!FormatIsDue(drive, inputs))
    return true;
  RefuseVolumeTooLargeForFat16(drive);
  return AskToFormat(presenter);
}

TPreparationOutcome PrepareCard(const TCardDriveInfo& drive, const TPreparationInputs& inputs,
                                platform::Volumes& volumes, PreparationObserver& observer,
                                platform::Interaction interaction) {
  TPreparationOutcome outcome;
  if (FormatIsDue(drive, inputs)) {
    observer.StatusChanged(texts::kStatusFormatting);
    if (auto failure = FormatDrive(drive, volumes, interaction)) {
      outcome.FormatFailure = std::move(*failure);
      observer.StatusChanged(texts::kStatusFormatFailed);
      outcome.Result = TPreparationResult::FormatFailed;
      return outcome;
    }
  }

  const MountedSpace space = FreeBytesOf(drive, volumes, interaction);
  const std::int64_t replaced = SpaceOfReplacedFile(CardDataPathOnRoot(space.rootPath), inputs);
  outcome.Plan = PlanPreparation(inputs, space.rootPath, space.freeBytes + replaced);
  const TPreparationPlan& plan = outcome.Plan;
  const std::uint32_t dataPages = plan.Layout.DataPages();

  WritingScope writing(observer, dataPages);
  observer.StatusChanged(texts::kStatusWritingHeader);
  observer.StatusChanged(FormatMessage(texts::kStatusWritingPages, {std::uint64_t{dataPages}}));
  outcome.Result = WriteCardDataFile(plan, observer) == TCreateResult::Cancelled
                       ? TPreparationResult::Aborted
                       : TPreparationResult::Completed;
  return outcome;
}

void ShowPreparationOutcome(const TPreparationOutcome& outcome, MessagePresenter& presenter) {
  if (outcome.Result == TPreparationResult::Aborted) {
    UserMessage(presenter, texts::kFormatAborted, mkInformation);
    return;
  }
  if (outcome.Result != TPreparationResult::Completed)
    return;
  const TPreparationPlan& plan = outcome.Plan;
  const MessageArg args[] = {plan.Path, static_cast<std::int64_t>(plan.Layout.FileBytes()),
                             std::int64_t{plan.Layout.DataPages()}};
  UserMessage(presenter, texts::kFormatDone, args, mkInformation);
}

TPreparationOutcome RunPreparation(const TCardDriveInfo& drive, const TPreparationInputs& inputs,
                                   platform::Volumes& volumes, MessagePresenter& presenter,
                                   PreparationObserver& observer,
                                   platform::Interaction interaction) {
  if (!ConfirmPreparation(drive, inputs, presenter))
    return TPreparationOutcome{};
  // The closing message comes while writing mode still holds: the command line keeps its stop
  // signals caught until the message is out.
  WritingEndAfterMessage held(observer);
  TPreparationOutcome outcome = PrepareCard(drive, inputs, volumes, held, interaction);
  ShowPreparationOutcome(outcome, presenter);
  return outcome;
}

}  // namespace fw

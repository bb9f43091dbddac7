#include "cli/cli_volumes.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/cli_common.h"
#include "cli/cli_output.h"
#include "cli/cli_progress.h"
#include "core/eject.h"
#include "core/errors.h"
#include "core/message_format.h"
#include "core/preparation.h"
#include "core/texts.h"
#include "platform/console.h"
#include "platform/volumes_fake.h"

namespace fw::cli {
namespace {

// The volumes to work on. When the system's volume service cannot be reached, the command ends
// with a message saying so.
std::unique_ptr<platform::Volumes> OpenVolumes() {
  try {
    return platform::MakeVolumesForCli();
  } catch (const std::exception& error) {
    throw EVolumeService(error.what());
  }
}

// ---- drives ------------------------------------------------------------------------------

void WriteDriveJson(JsonWriter& json, const TCardDriveInfo& drive) {
  json.BeginObject()
      .Field("id", drive.Letter)
      .Field("root_path", drive.RootPath)
      .Field("label", drive.Label)
      .Field("file_system", drive.FileSystem)
      .Field("free_available", drive.FreeAvailable)
      .Field("total_free", drive.TotalFree)
      .Field("total_size", drive.TotalSize)
      .Field("size_mb", drive.SizeMB)
      .Field("key", drive.Volume.key)
      .Field("text", DriveItemText(drive))
      .EndObject();
}

void RunDrives(bool asJson) {
  const auto volumes = OpenVolumes();
  const auto drives = DiscoverCardDrives(*volumes);
  if (asJson) {
    JsonWriter json;
    json.BeginArray();
    for (const auto& drive : drives)
      WriteDriveJson(json, drive);
    json.EndArray();
    std::cout << json.Text();
    return;
  }
  if (drives.empty())
    std::cerr << TerminalText(texts::kNoCards) << '\n';
  for (const auto& drive : drives)
    std::cout << DriveItemText(drive) << '\n';
}

// ---- prepare -----------------------------------------------------------------------------

struct PrepareOptions {
  std::string drive;
  std::uint32_t sizeMb = 0;
  std::uint32_t sessions = 50;
  std::uint32_t extendedMb = 0;
  bool sizeGiven = false;
  bool extendedGiven = false;
  bool noFormat = false;
  bool force = false;
  bool yes = false;
};

// Status lines on stderr, and a progress bar there while pages are written to a terminal. While
// pages are written (only then: a file to clean up exists), Ctrl+C, SIGTERM and SIGHUP stop the
// writing and the partial file is deleted.
class StderrObserver : public PreparationObserver {
 public:
  explicit StderrObserver(bool bar) : bar_(bar) {}

  void StatusChanged(std::string_view text) override {
    if (text.empty())
      return;
    bar_.Clear();
    std::cerr << TerminalText(text) << '\n';
  }
  void ProgressChanged(std::uint32_t pages, std::uint32_t dataPages) override {
    bar_.Show(pages, dataPages);
  }
  void WritingStarted(std::uint32_t) override { interrupt_.emplace(); }
  bool AbortRequested() override { return interrupt_ && interrupt_->Requested(); }
  void WritingEnded() override {
    ClearBar();
    interrupt_.reset();
  }

  void ClearBar() { bar_.Clear(); }

 private:
  ProgressBar bar_;
  std::optional<InterruptGuard> interrupt_;
};

// The closing messages arrive while the bar is still drawn: it is cleared first.
class BarClearingPresenter : public MessagePresenter {
 public:
  BarClearingPresenter(MessagePresenter& inner, StderrObserver& observer)
      : inner_(inner), observer_(observer) {}
  int Show(std::string_view caption, std::string_view text, const MessageStyle& style) override {
    observer_.ClearBar();
    return inner_.Show(caption, text, style);
  }

 private:
  MessagePresenter& inner_;
  StderrObserver& observer_;
};

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

// The drive named on the command line: its identifier ("E", "sdb1"), also as "E:" or "E:\".
const TCardDriveInfo& FindDrive(const std::vector<TCardDriveInfo>& drives, std::string name) {
  while (!name.empty() && (name.back() == '\\' || name.back() == '/'))
    name.pop_back();
  if (!name.empty() && name.back() == ':')
    name.pop_back();
  for (const auto& drive : drives) {
    if (Upper(drive.Letter) == Upper(name))
      return drive;
  }
  if (drives.empty())
    throw std::runtime_error(std::string(texts::kNoCards));
  std::vector<std::string_view> known;
  for (const auto& drive : drives)
    known.push_back(drive.Letter);
  throw std::runtime_error(FormatMessage(texts::kUnknownDrive, {name, CommaSeparated(known)}));
}

void CheckRange(std::string_view option, std::uint32_t value, std::uint32_t low, std::uint32_t high,
                const TCardDriveInfo& drive) {
  if (value >= low && value <= high)
    return;
  throw std::runtime_error(FormatMessage(
      texts::kOptionOutOfRange, {std::string(option), std::uint64_t{value}, std::uint64_t{low},
                                 std::uint64_t{high}, drive.Letter}));
}

// The dialog's fields for this drive: the size is at most the drive's size (the whole card by
// default), the EXTENDED section at most half of the size (a tenth of it by default).
TPreparationInputs InputsFor(const PrepareOptions& o, const TCardDriveInfo& drive) {
  TPreparationInputs inputs;
  const auto sizeMax = static_cast<std::uint32_t>(std::max(drive.SizeMB, 0));
  inputs.SizeMB = o.sizeGiven ? o.sizeMb : sizeMax;
  CheckRange("--size-mb", inputs.SizeMB, std::min(1u, sizeMax), sizeMax, drive);
  const auto size = static_cast<std::int32_t>(inputs.SizeMB);
  const auto extendedMax = static_cast<std::uint32_t>(ExtendedMaxForSize(size));
  inputs.ExtendedMB =
      o.extendedGiven
          ? o.extendedMb
          : std::min(static_cast<std::uint32_t>(ExtendedDefaultForSize(size)), extendedMax);
  CheckRange("--extended-mb", inputs.ExtendedMB, 0, extendedMax, drive);
  inputs.Sessions = o.sessions;
  inputs.Format = !o.noFormat;
  inputs.ReplaceExisting = o.force;
  return inputs;
}

void RunPrepare(const PrepareOptions& o) {
  const auto volumes = OpenVolumes();
  const auto drives = DiscoverCardDrives(*volumes);
  const TCardDriveInfo& drive = FindDrive(drives, o.drive);
  const TPreparationInputs inputs = InputsFor(o, drive);

  StderrPresenter stderrPresenter(o.yes);
  StderrObserver observer(platform::IsTerminal(stderr));
  BarClearingPresenter presenter(stderrPresenter, observer);
  const auto interaction =
      o.yes ? platform::Interaction::Forbidden : platform::Interaction::Allowed;
  const auto outcome = RunPreparation(drive, inputs, *volumes, presenter, observer, interaction);
  switch (outcome.Result) {
    case TPreparationResult::Completed:
      return;
    case TPreparationResult::NotConfirmed:
      std::cerr << TerminalText(texts::kPrepareNotConfirmed) << '\n';
      break;
    case TPreparationResult::FormatFailed:
      if (!outcome.FormatFailure.empty())
        std::cerr << FormatMessage(texts::kFormatFailedBecause, {outcome.FormatFailure}) << '\n';
      break;
    case TPreparationResult::Aborted:
      break;
  }
  throw CommandExit{kExitFailed};
}

// ---- eject -------------------------------------------------------------------------------

void RunEject(const std::string& path) {
  const auto volumes = OpenVolumes();
  StderrPresenter presenter;
  switch (EjectCardOfPath(path, *volumes, presenter)) {
    case TEjectResult::Ejected:
      return;
    case TEjectResult::NothingToEject:
      // The window stays silent here; a script must still learn that nothing was ejected.
      std::cerr << FormatMessage(texts::kPathOnNoCard, {path}) << '\n';
      break;
    case TEjectResult::Failed:
      break;
  }
  throw CommandExit{kExitFailed};
}

}  // namespace

void AddVolumeCommands(CLI::App& app) {
  auto json = std::make_shared<bool>(false);
  CLI::App* drives = app.add_subcommand(
      "drives",
      "List the removable drives that hold a card, as the preparation dialog does (none: a "
      "message on stderr, exit code 0).");
  drives->add_flag("--json", *json, "Print every field of every drive as JSON instead of the list");
  drives->callback([json] { RunDrives(*json); });

  auto o = std::make_shared<PrepareOptions>();
  CLI::App* prepare = app.add_subcommand(
      "prepare",
      "Prepare a card: unless it is empty, format it to FAT after confirmation, then create "
      "data.rgd in its root (Ctrl+C, SIGTERM or SIGHUP stops and deletes the partial file).");
  prepare->add_option("DRIVE", o->drive, "The drive as `drives` lists it (E, E:, sdb1)")
      ->required();
  prepare->add_option("--size-mb", o->sizeMb,
                      "Size of data.rgd in MB (default and maximum: the drive's size); a size "
                      "not below the free space after the format takes the whole free space");
  prepare->add_option("--sessions", o->sessions, "Maximum number of recording sessions")
      ->check(CLI::IsMember({50u, 100u, 500u, 1000u}))
      ->capture_default_str();
  prepare->add_option("--extended-mb", o->extendedMb,
                      "Size of the EXTENDED section in MB (default: a tenth of the file's size, "
                      "rounded to the nearest, ties to even; at most half of it)");
  prepare->add_flag("--no-format", o->noFormat,
                    "Keep the file system: neither ask nor format, only create the file (an "
                    "existing data.rgd is refused unless --force is given)");
  prepare->add_flag("--force", o->force,
                    "With --no-format: replace an existing data.rgd (its entries are lost)");
  prepare->add_flag("--yes", o->yes,
                    "Answer the format question with Yes and never ask for a password");
  prepare->callback([o, prepare] {
    o->sizeGiven = prepare->count("--size-mb") > 0;
    o->extendedGiven = prepare->count("--extended-mb") > 0;
    RunPrepare(*o);
  });

  auto path = std::make_shared<std::string>();
  CLI::App* eject = app.add_subcommand(
      "eject",
      "Release and eject the card that holds PATH, so that it can be pulled out safely. A path on "
      "no removable card: nothing is done, a message says so (exit code 1).");
  eject->add_option("PATH", *path, "A file on the card, usually its data.rgd")->required();
  eject->callback([path] { RunEject(*path); });
}

}  // namespace fw::cli

#include "cli/cli_volumes.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/cli_common.h"
#include "cli/cli_output.h"
#include "cli/cli_progress.h"
#include "core/eject.h"
#include "core/errors.h"
#include "core/message_format.h"
#include "core/preparation.h"
#include "core/texts.h"
#include "platform/process.h"

namespace fw::cli {
namespace {

// The volumes to work on. When the system's volume service cannot be reached, the command ends
// with a message saying so.
std::unique_ptr<platform::Volumes> OpenVolumes(const CliServices& services) {
  try {
    return services.volumes();
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

}  // namespace

int RunDrives(const DrivesOptions& o, const CliServices& services) {
  const auto volumes = OpenVolumes(services);
  platform::LeaveForExecutableDir();  // the current directory keeps no card busy
  const auto drives = DiscoverCardDrives(*volumes);
  if (o.json) {
    JsonWriter json;
    json.BeginArray();
    for (const auto& drive : drives)
      WriteDriveJson(json, drive);
    json.EndArray();
    services.out << json.Text();
    return kExitOk;
  }
  if (drives.empty())
    services.err << TerminalText(texts::kNoCards) << '\n';
  for (const auto& drive : drives)
    services.out << DriveItemText(drive) << '\n';
  return kExitOk;
}

void AddDrivesOptions(CLI::App& cmd, DrivesOptions& o) {
  AddJsonFlag(cmd, o.json, "Print every field of every drive as JSON instead of the list");
}

// ---- prepare -----------------------------------------------------------------------------

namespace {

// Status lines on stderr, and a progress bar there while pages are written to a terminal. While
// pages are written (only then: a file to clean up exists), Ctrl+C, SIGTERM and SIGHUP stop the
// writing and the partial file is deleted.
class StderrObserver : public PreparationObserver {
 public:
  StderrObserver(std::ostream& err, bool bar) : err_(err), bar_(err, bar) {}

  void StatusChanged(std::string_view text) override {
    if (text.empty())
      return;
    bar_.Clear();
    err_ << TerminalText(text) << '\n';
  }
  void ProgressChanged(std::uint32_t pages, std::uint32_t dataPages) override {
    bar_.Show(pages, dataPages);
  }
  void WritingStarted(std::uint32_t) override { interrupt_.emplace(); }
  bool AbortRequested() override { return interrupt_ && interrupt_->Requested(); }
  // The closing message (done or aborted) came before: it is out before the signals go back.
  void WritingEnded() override {
    ClearBar();
    err_.flush();
    interrupt_.reset();
  }

  void ClearBar() { bar_.Clear(); }

 private:
  std::ostream& err_;
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

void CheckRange(std::string_view option, std::uint32_t value, const TFieldRange& range,
                const TCardDriveInfo& drive) {
  if (range.Contains(value))
    return;
  throw std::runtime_error(
      FormatMessage(texts::kOptionOutOfRange,
                    {std::string(option), std::uint64_t{value}, std::uint64_t{range.Min},
                     std::uint64_t{range.Max}, drive.Letter}));
}

// The dialog's fields for this drive, with the dialog's ranges and defaults.
TPreparationInputs InputsFor(const PrepareOptions& o, const TCardDriveInfo& drive) {
  TPreparationInputs inputs;
  const TFieldRange size = SizeRangeOf(drive);
  inputs.SizeMB = o.sizeMb.value_or(size.Default);
  CheckRange("--size-mb", inputs.SizeMB, size, drive);
  const TFieldRange extended = ExtendedRangeForSize(inputs.SizeMB);
  inputs.ExtendedMB = o.sections.extendedMb.value_or(extended.Default);
  CheckRange("--extended-mb", inputs.ExtendedMB, extended, drive);
  inputs.Sessions = o.sections.sessions;
  inputs.Format = !o.noFormat;
  inputs.ReplaceExisting = o.force;
  return inputs;
}

}  // namespace

int RunPrepare(const PrepareOptions& o, const CliServices& services) {
  const auto volumes = OpenVolumes(services);
  platform::LeaveForExecutableDir();  // the current directory keeps no card busy
  const auto drives = DiscoverCardDrives(*volumes);
  const TCardDriveInfo& drive = FindDrive(drives, o.drive);
  const TPreparationInputs inputs = InputsFor(o, drive);

  StderrPresenter stderrPresenter(services.err, o.yes);
  StderrObserver observer(services.err, services.errIsTerminal);
  BarClearingPresenter presenter(stderrPresenter, observer);
  const auto interaction =
      o.yes ? platform::Interaction::Forbidden : platform::Interaction::Allowed;
  const auto outcome = RunPreparation(drive, inputs, *volumes, presenter, observer, interaction);
  switch (outcome.Result) {
    case TPreparationResult::Completed:
      return kExitOk;
    case TPreparationResult::NotConfirmed:
      services.err << TerminalText(texts::kPrepareNotConfirmed) << '\n';
      break;
    case TPreparationResult::FormatFailed:
      if (!outcome.FormatFailure.empty())
        services.err << FormatMessage(texts::kFormatFailedBecause, {outcome.FormatFailure}) << '\n';
      break;
    case TPreparationResult::Aborted:
      break;
  }
  return kExitFailed;
}

void AddPrepareOptions(CLI::App& cmd, PrepareOptions& o) {
  cmd.add_option("DRIVE", o.drive, "The drive as `drives` lists it (E, E:, sdb1)")->required();
  cmd.add_option("--size-mb", o.sizeMb,
                 "Size of data.rgd in MB (default and maximum: the drive's size); a size "
                 "not below the free space after the format takes the whole free space");
  AddSectionOptions(cmd, o.sections,
                    "Size of the EXTENDED section in MB (default: a tenth of the file's size, "
                    "rounded to the nearest, ties to even; at most half of it)");
  cmd.add_flag("--no-format", o.noFormat,
               "Keep the file system: neither ask nor format, only create the file (an "
               "existing data.rgd is refused unless --force is given)");
  cmd.add_flag("--force", o.force,
               "With --no-format: replace an existing data.rgd (its entries are lost)");
  cmd.add_flag("--yes", o.yes, "Answer the format question with Yes and never ask for a password");
}

// ---- eject -------------------------------------------------------------------------------

int RunEject(const EjectOptions& o, const CliServices& services) {
  const auto volumes = OpenVolumes(services);
  StderrPresenter presenter(services.err);
  const auto card = CardVolumeOfPath(o.path, *volumes);
  platform::LeaveForExecutableDir();  // the current directory keeps no card busy
  switch (EjectCard(card, *volumes, presenter)) {
    case TEjectResult::Ejected:
      return kExitOk;
    case TEjectResult::NothingToEject:
      // The window stays silent here; a script must still learn that nothing was ejected.
      services.err << FormatMessage(texts::kPathOnNoCard, {o.path}) << '\n';
      break;
    case TEjectResult::Failed:
      break;
  }
  return kExitFailed;
}

void AddEjectOptions(CLI::App& cmd, EjectOptions& o) {
  cmd.add_option("PATH", o.path, "A file on the card, usually its data.rgd")->required();
}

}  // namespace fw::cli

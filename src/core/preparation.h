// Card preparation: the removable drives that may hold a card, the rules that tie the file size
// fields to a drive, and the start button's whole run (format, free space, card data file).
// Shared by the preparation dialog and the command line; no toolkit, no OS calls.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/carddata_create.h"
#include "core/messages.h"
#include "platform/volumes.h"

namespace fw {

inline constexpr std::string_view kCardDataFileName = "data.rgd";

// The numbers of recording sessions that the dialog's list offers and the command line's help
// names; the first is the default. Any other positive whole number may be given as well.
inline constexpr std::array<std::uint32_t, 4> kSessionChoices = {50, 100, 500, 1000};
inline constexpr std::uint32_t kDefaultSessions = kSessionChoices.front();

// The number of sessions the user typed: a positive whole number of at most 32 bits, blanks
// around it aside ("100", " 77 "); nothing for anything else ("0", "-5", "5x", "").
std::optional<std::uint32_t> ParseSessions(std::string_view text);

// One removable drive found by the discovery.
struct TCardDriveInfo {
  std::string Letter;  // identifier shown to the user: "E" on Windows, "sdb1" on Linux
  std::string RootPath;
  std::int64_t FreeAvailable = 0;  // bytes free to the caller, at scan time
  std::int64_t TotalFree = 0;      // bytes free on the volume, at scan time
  std::int64_t TotalSize = 0;      // bytes of the volume, at scan time
  std::int32_t SizeMB = 0;         // TotalSize div 1 MiB
  std::string Label;
  std::string FileSystem;
  platform::VolumeInfo Volume;  // the volume the record was made from, to act on later
};

TCardDriveInfo CardDriveInfoOf(const platform::VolumeInfo& volume);

// The removable volumes that hold a medium, in the platform's order. A front end first moves the
// current directory off any card (to the program's folder), so that it keeps none busy.
std::vector<TCardDriveInfo> DiscoverCardDrives(platform::Volumes& volumes);

// The drive list's item text: "E:  Метка:CARD (FAT)  Размер: 122M  Свободно: 120M".
std::string DriveItemText(const TCardDriveInfo& drive);

// The values a size field may take and the one it takes when the user gives none.
struct TFieldRange {
  std::uint32_t Min = 0;
  std::uint32_t Max = 0;
  std::uint32_t Default = 0;
  bool Contains(std::uint32_t value) const { return value >= Min && value <= Max; }
};

// The file size in MB for a drive: 1 (0 for a card under 1 MB) up to the drive's size, the whole
// drive by default.
TFieldRange SizeRangeOf(const TCardDriveInfo& drive);

// The EXTENDED section in MB for a file size in MB: 0 up to half of it (size div 2), a tenth of
// it by default (rounded to the nearest integer, ties to even).
TFieldRange ExtendedRangeForSize(std::uint32_t sizeMB);

// The card cannot be prepared: its volume is too large for FAT16 (refused before the question),
// its free space could not be determined after the format, or it holds a card data file that a
// run without a format was not told to replace. Nothing was written.
// (Parameters that make no sound file are refused with ECardParameters.)
class EPrepareRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What the user chose.
struct TPreparationInputs {
  std::uint32_t SizeMB = 1;  // file size in MB; at least the free space takes the whole card
  std::uint32_t Sessions = kDefaultSessions;  // maximum number of recording sessions
  std::uint32_t ExtendedMB = 0;               // size of the EXTENDED section in MB
  bool Format = true;  // false: neither the question nor the format (kept file system)
  // Without a format, an existing card data file is refused (EPrepareRefused) unless this is set.
  bool ReplaceExisting = false;
};

// The card data file that a preparation creates, all decided before the first byte is written.
struct TPreparationPlan {
  std::int64_t FreeBytes = 0;  // free to the caller after the format, with the space of the card
                               // data file that the new one replaces
  TCardLayout Layout;          // pages (header page included), sessions, EXTENDED pages
  std::string Path;            // root path + "data.rgd"
};

// Computes the plan for a volume root with freeBytes free. Throws ECardParameters when not even
// one page fits, or when the sessions and EXTENDED sections do not fit in the data pages.
TPreparationPlan PlanPreparation(const TPreparationInputs& inputs, std::string_view rootPath,
                                 std::int64_t freeBytes);

// The card data file path on a volume root ("E:\" gives "E:\data.rgd").
std::string CardDataPathOnRoot(std::string_view rootPath);

// What the front end shows while a preparation runs. Every method has a do-nothing default.
class PreparationObserver {
 public:
  virtual ~PreparationObserver() = default;
  // The status line's new text (empty clears it).
  virtual void StatusChanged(std::string_view /*text*/) {}
  // Writing mode begins: the progress counts dataPages parts; the abort becomes possible (a
  // front end clears its abort request here).
  virtual void WritingStarted(std::uint32_t /*dataPages*/) {}
  // Pages on the card so far (written and written back) out of dataPages.
  virtual void ProgressChanged(std::uint32_t /*pages*/, std::uint32_t /*dataPages*/) {}
  // The page counter's text ("Запись страницы 3000"), every 1000 pages.
  virtual void CounterChanged(std::string_view /*text*/) {}
  // Called every 1000 pages: the GUI processes its pending events here.
  virtual void ProcessEvents() {}
  // Whether the user asked to stop; looked at before every block of 1000 pages is written and
  // after every block's progress.
  virtual bool AbortRequested() { return false; }
  // Writing mode ends, on every path (completion, abort, error): back to idle.
  virtual void WritingEnded() {}
};

enum class TPreparationResult {
  NotConfirmed,  // the question was answered with anything but Yes: nothing changed
  FormatFailed,  // the format was cancelled or failed: status "Форматирование НЕ выполнено!"
  Aborted,       // the user stopped the writing: the partial file is deleted
  Completed,     // the file is on the card: the dialog closes with OK
};

struct TPreparationOutcome {
  TPreparationResult Result = TPreparationResult::NotConfirmed;
  std::string FormatFailure;  // why the format failed, when the platform said so
  TPreparationPlan Plan;      // filled once the free space is known
};

// The start button's run: ConfirmPreparation, PrepareCard, ShowPreparationOutcome. Questions
// and the closing messages go to the presenter; failures (not removable any more, file not
// created, a failed write, refusals) leave as exceptions for the caller's ReportException. A
// failed write or an abort deletes the partial file.
TPreparationOutcome RunPreparation(
    const TCardDriveInfo& drive, const TPreparationInputs& inputs, platform::Volumes& volumes,
    MessagePresenter& presenter, PreparationObserver& observer,
    platform::Interaction interaction = platform::Interaction::Allowed);

// The run in three steps, for a front end that does the device work on a worker thread:

// First, before any device work, on the thread that may ask: the parameters that cannot fit on
// the drive and a volume too large for FAT16 are refused (exceptions), and the format question
// is asked where a format is due. False when it was answered with anything but Yes.
bool ConfirmPreparation(const TCardDriveInfo& drive, const TPreparationInputs& inputs,
                        MessagePresenter& presenter);

// Then the device work: the format where one is due, the free space, the card data file. It asks
// nothing and shows no message, so it may run on any thread; the observer is called on that
// thread. Its result is never NotConfirmed.
TPreparationOutcome PrepareCard(const TCardDriveInfo& drive, const TPreparationInputs& inputs,
                                platform::Volumes& volumes, PreparationObserver& observer,
                                platform::Interaction interaction = platform::Interaction::Allowed);

// Last, the closing message of an aborted or a completed run (nothing for the others).
void ShowPreparationOutcome(const TPreparationOutcome& outcome, MessagePresenter& presenter);

}  // namespace fw

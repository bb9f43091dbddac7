#include "cli/cli_card.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <stdexcept>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/cli.h"
#include "cli/cli_common.h"
#include "cli/cli_output.h"
#include "cli/cli_progress.h"
#include "core/carddata_create.h"
#include "core/carddata_file.h"
#include "core/carddata_layout.h"
#include "core/entry_table.h"
#include "core/message_format.h"
#include "core/preparation.h"
#include "core/texts.h"

namespace fw::cli {

// ---- create ----------------------------------------------------------------------------

int RunCreate(const CreateOptions& o, const CliServices& services) {
  const std::uint64_t pages = o.pages != 0 ? o.pages : std::uint64_t{o.sizeMb} * kPagesPerMegabyte;
  // Below 2^32 pages: the megabytes fit 32 bits.
  const std::uint32_t extendedMb =
      o.sections.extendedMb
          ? *o.sections.extendedMb
          : ExtendedRangeForSize(static_cast<std::uint32_t>(pages / kPagesPerMegabyte)).Default;
  const TCardLayout layout =
      MakeCardLayout(pages, o.sections.sessions, ExtendedPagesFromMegabytes(extendedMb));

  std::error_code error;
  if (!o.force && std::filesystem::exists(o.card, error))
    throw std::runtime_error(FormatMessage(texts::kCardFileExists, {o.card}));

  const InterruptGuard interrupt;
  ProgressBar bar(services.err, services.errIsTerminal);
  const TCreateResult result = CreateCardDataFile(
      o.card, layout,
      [&bar](std::uint32_t written, std::uint32_t total) { bar.Show(written, total); },
      [&interrupt] { return interrupt.Requested(); });
  bar.Clear();
  if (result == TCreateResult::Cancelled) {
    services.err << TerminalText(texts::kFormatAborted) << '\n';
    return kExitFailed;
  }
  // Out while the stop signals are still caught: a signal from here on finds the card complete
  // and its message printed, never a complete card with the process killed before saying so.
  services.out << TerminalText(FormatMessage(
                      texts::kCardFileCreated,
                      {o.card, layout.FileBytes(), std::uint64_t{layout.DataPages()}}))
               << '\n'
               << std::flush;
  return kExitOk;
}

void AddCreateOptions(CLI::App& cmd, CreateOptions& o) {
  cmd.add_option("CARD", o.card, "Card data file to create (for example data.rgd)")->required();
  CLI::Option_group* size = cmd.add_option_group("size", "The size of the file, one of:");
  size->add_option("--size-mb", o.sizeMb, "Size in MB (2048 pages each)")
      ->check(CLI::Range(0u, 2097151u));
  size->add_option("--pages", o.pages, "Size in 512-byte pages, the header page included");
  size->require_option(1);
  AddSectionOptions(cmd, o.sections,
                    "Size of the EXTENDED section in MB (default: a tenth of the file's size, "
                    "rounded to the nearest, ties to even)");
  cmd.add_flag("--force", o.force,
               "Replace an existing file; refused, leaving it as it was, when the new file "
               "cannot be made (no room for it, a folder that cannot be written)");
}

// ---- list --------------------------------------------------------------------------------

int RunList(const CardFileOptions& o, const CliServices& services) {
  TRgdFile card(o.card, TRgdFile::Mode::ReadOnly);
  const TextTable table = EntryTable(card.Entries());
  if (!o.json) {
    PrintTable(services.out, table);
    return kExitOk;
  }
  const TRgdHeader& header = card.Header();
  JsonWriter json;
  json.BeginObject()
      .Field("file", card.FileName())
      .Field("data_pages", header.DataPages)
      .Field("extended_start", header.ExtendedStart)
      .Field("extended_pages", header.ExtendedPages)
      .Field("free_bytes", card.FreeSpace())
      .Key("entries")
      .BeginArray();
  for (int i = 0; i < card.EntryCount(); ++i)
    WriteEntryJson(json, i + 1, card.GetEntry(i));
  json.EndArray().EndObject();
  services.out << json.Text();
  return kExitOk;
}

void AddListOptions(CLI::App& cmd, CardFileOptions& o) {
  cmd.add_option("CARD", o.card, "Card data file (for example data.rgd)")->required();
  AddJsonFlag(cmd, o.json, "Print JSON instead of the table");
}

// ---- verify ------------------------------------------------------------------------------

namespace {

// What the whole file fails beside its entries: its length against the header, and entries
// hidden beyond the end of the chain.
constexpr std::string_view kSizeFailure = "size";
constexpr std::string_view kOrphansFailure = "orphaned entries";

}  // namespace

// Reads every entry as the recorder does, from the card rather than the system's cache, and
// says which entry and which check fails; then checks the file's length and looks for entries
// hidden beyond the end of the chain.
int RunVerify(const CardFileOptions& o, const CliServices& services) {
  TRgdFile card(o.card, TRgdFile::Mode::ReadOnly);
  card.ReloadFromMedium();
  int failed = 0;
  JsonWriter json;
  json.BeginObject().Field("file", card.FileName()).Key("entries").BeginArray();
  for (int i = 0; i < card.EntryCount(); ++i) {
    const TRgdEntryInfo& entry = card.GetEntry(i);
    const std::vector<std::string_view> failures = card.CheckEntry(i).Failures();
    failed += failures.empty() ? 0 : 1;
    if (o.json) {
      json.BeginObject()
          .Field("n", i + 1)
          .Field("page", entry.Page)
          .Field("id", entry.Id)
          .Field("name", entry.Name)
          .Field("ok", failures.empty())
          .Key("failures")
          .BeginArray();
      for (const auto name : failures)
        json.String(name);
      json.EndArray().EndObject();
      continue;
    }
    const std::uint64_t page = entry.Page;
    const std::uint64_t id = entry.Id;
    services.out << (failures.empty()
                         ? FormatMessage(texts::kVerifyEntryOk, {std::int64_t{i + 1}, page, id})
                         : FormatMessage(texts::kVerifyEntryFailed,
                                         {std::int64_t{i + 1}, page, id, CommaSeparated(failures)}))
                 << '\n';
  }
  json.EndArray();

  const std::uint64_t fileBytes = card.FileBytes();
  const std::uint64_t headerBytes = card.HeaderFileBytes();
  const std::vector<TRgdOrphanedEntry> orphans = card.FindOrphanedEntries();
  std::vector<std::string_view> fileFailures;
  if (fileBytes != headerBytes)
    fileFailures.push_back(kSizeFailure);
  if (!orphans.empty())
    fileFailures.push_back(kOrphansFailure);

  if (o.json) {
    json.Field("file_bytes", fileBytes)
        .Field("header_bytes", headerBytes)
        .Key("orphans")
        .BeginArray();
    for (const TRgdOrphanedEntry& orphan : orphans)
      json.BeginObject()
          .Field("page", orphan.Page)
          .Field("id", orphan.Id)
          .Field("name", orphan.Name)
          .EndObject();
    json.EndArray().Key("failures").BeginArray();
    for (const auto name : fileFailures)
      json.String(name);
    json.EndArray().Field("ok", failed == 0 && fileFailures.empty()).EndObject();
    services.out << json.Text();
  } else {
    if (fileBytes != headerBytes)
      services.out << FormatMessage(
                          texts::kVerifySizeFailed,
                          {card.FileName(), fileBytes, headerBytes, std::string(kSizeFailure)})
                   << '\n';
    if (!orphans.empty())
      services.out << TerminalText(OrphanedEntriesReport(card.FileName(), orphans)) << '\n'
                   << FormatMessage(texts::kVerifyOrphansFailed,
                                    {card.FileName(), std::string(kOrphansFailure)})
                   << '\n';
    services.out << FormatMessage(texts::kVerifySummary,
                                  {std::int64_t{card.EntryCount()}, std::int64_t{failed}})
                 << '\n';
  }
  return failed != 0 || !fileFailures.empty() ? kExitFailed : kExitOk;
}

void AddVerifyOptions(CLI::App& cmd, CardFileOptions& o) {
  cmd.add_option("CARD", o.card, "Card data file (for example data.rgd)")->required();
  AddJsonFlag(cmd, o.json, "Print JSON instead of lines of text");
}

}  // namespace fw::cli

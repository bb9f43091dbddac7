#include "cli/cli_card.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

#include "cli/cli_common.h"
#include "cli/cli_output.h"
#include "cli/cli_progress.h"
#include "core/carddata_create.h"
#include "core/carddata_file.h"
#include "core/carddata_layout.h"
#include "core/message_format.h"
#include "core/preparation.h"
#include "core/texts.h"
#include "platform/console.h"

namespace fw::cli {

namespace {

// ---- create ----------------------------------------------------------------------------

struct CreateOptions {
  std::string card;
  std::uint32_t sizeMb = 0;
  std::uint32_t pages = 0;
  std::uint32_t sessions = 50;
  std::uint32_t extendedMb = 0;
  bool extendedGiven = false;
  bool force = false;
};

void RunCreate(const CreateOptions& o) {
  const std::uint64_t pages = o.pages != 0 ? o.pages : std::uint64_t{o.sizeMb} * kPagesPerMegabyte;
  // Below 2^32 pages, below 2097152 MB: the megabytes fit a signed 32-bit count.
  const std::uint32_t extendedMb = o.extendedGiven
                                       ? o.extendedMb
                                       : static_cast<std::uint32_t>(ExtendedDefaultForSize(
                                             static_cast<std::int32_t>(pages / kPagesPerMegabyte)));
  // A count past 32 bits is refused like any other count out of range.
  const auto pages32 = static_cast<std::uint32_t>(std::min<std::uint64_t>(pages, UINT32_MAX));
  CheckCreateParameters(pages32, o.sessions, ExtendedPagesFromMegabytes(extendedMb));

  std::error_code error;
  if (!o.force && std::filesystem::exists(o.card, error))
    throw std::runtime_error(FormatMessage(texts::kCardFileExists, {o.card}));

  const InterruptGuard interrupt;
  ProgressBar bar(platform::IsTerminal(stderr));
  const TCreateResult result = CreateCardDataFileMb(
      o.card, pages32, o.sessions, extendedMb,
      [&bar](std::uint32_t written, std::uint32_t total) { bar.Show(written, total); },
      [&interrupt] { return interrupt.Requested(); });
  bar.Clear();
  if (result == TCreateResult::Cancelled) {
    std::cerr << TerminalText(texts::kFormatAborted) << '\n';
    throw CommandExit{kExitFailed};
  }
  std::cout << TerminalText(FormatMessage(
                   texts::kCardFileCreated,
                   {o.card, std::uint64_t{pages32} * kPageSize, std::uint64_t{pages32 - 1}}))
            << '\n';
}

void AddCreateCommand(CLI::App& app) {
  auto o = std::make_shared<CreateOptions>();
  CLI::App* cmd = app.add_subcommand(
      "create",
      "Create a new card data file: the header page followed by zero-filled pages (a progress "
      "bar on a terminal; Ctrl+C, SIGTERM or SIGHUP stops and deletes the partial file).");
  cmd->add_option("CARD", o->card, "Card data file to create (for example data.rgd)")->required();
  CLI::Option_group* size = cmd->add_option_group("size", "The size of the file, one of:");
  size->add_option("--size-mb", o->sizeMb, "Size in MB (2048 pages each)")
      ->check(CLI::Range(0u, 2097151u));
  size->add_option("--pages", o->pages, "Size in 512-byte pages, the header page included");
  size->require_option(1);
  cmd->add_option("--sessions", o->sessions, "Maximum number of recording sessions")
      ->check(CLI::IsMember({50u, 100u, 500u, 1000u}))
      ->capture_default_str();
  cmd->add_option("--extended-mb", o->extendedMb,
                  "Size of the EXTENDED section in MB (default: a tenth of the file's size, "
                  "rounded to the nearest, ties to even)");
  cmd->add_flag("--force", o->force,
                "Replace an existing file; refused, leaving it as it was, when the new file "
                "cannot be made (no room for it, a folder that cannot be written)");
  cmd->callback([o, cmd] {
    o->extendedGiven = cmd->count("--extended-mb") > 0;
    RunCreate(*o);
  });
}

// ---- list --------------------------------------------------------------------------------

struct CardOptions {
  std::string card;
  bool json = false;
};

void RunList(const CardOptions& o) {
  TRgdFile card(o.card, TRgdFile::Mode::ReadOnly);
  const TextTable table = card.ListEntries();
  if (!o.json) {
    PrintTable(std::cout, table);
    return;
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
  std::cout << json.Text();
}

// ---- verify ------------------------------------------------------------------------------

// What the whole file fails beside its entries: its length against the header, and entries
// hidden beyond the end of the chain.
constexpr std::string_view kSizeFailure = "size";
constexpr std::string_view kOrphansFailure = "orphaned entries";

// Reads every entry as the recorder does, from the card rather than the system's cache, and
// says which entry and which check fails; then checks the file's length and looks for entries
// hidden beyond the end of the chain.
void RunVerify(const CardOptions& o) {
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
    std::cout << (failures.empty()
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
    std::cout << json.Text();
  } else {
    if (fileBytes != headerBytes)
      std::cout << FormatMessage(texts::kVerifySizeFailed, {card.FileName(), fileBytes, headerBytes,
                                                            std::string(kSizeFailure)})
                << '\n';
    if (!orphans.empty())
      std::cout << TerminalText(OrphanedEntriesReport(card.FileName(), orphans)) << '\n'
                << FormatMessage(texts::kVerifyOrphansFailed,
                                 {card.FileName(), std::string(kOrphansFailure)})
                << '\n';
    std::cout << FormatMessage(texts::kVerifySummary,
                               {std::int64_t{card.EntryCount()}, std::int64_t{failed}})
              << '\n';
  }
  if (failed != 0 || !fileFailures.empty())
    throw CommandExit{kExitFailed};
}

template <typename Run>
void AddCardReadCommand(CLI::App& app, const char* name, const char* description,
                        const char* jsonDescription, Run run) {
  auto o = std::make_shared<CardOptions>();
  CLI::App* cmd = app.add_subcommand(name, description);
  cmd->add_option("CARD", o->card, "Card data file (for example data.rgd)")->required();
  cmd->add_flag("--json", o->json, jsonDescription);
  cmd->callback([o, run] { run(*o); });
}

}  // namespace

void AddCardCommands(CLI::App& app) {
  AddCreateCommand(app);
  AddCardReadCommand(app, "list", "List the entries of a card data file.",
                     "Print JSON instead of the table", RunList);
  AddCardReadCommand(app, "verify",
                     "Read every entry from the card itself (past the system's cache) as the "
                     "recorder does: unscramble the payloads and check the three payload "
                     "checksums and the header checksum; check the file's size against its "
                     "header (\"size\") and look for entries hidden after the end of the chain "
                     "(\"orphaned entries\"). Exit code 0 when all hold, 1 otherwise.",
                     "Print JSON instead of lines of text", RunVerify);
}

}  // namespace fw::cli

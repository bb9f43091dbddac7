#include "cli/cli_write.h"

#include <CLI/CLI.hpp>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "cli/cli.h"
#include "cli/cli_common.h"
#include "cli/cli_output.h"
#include "core/carddata_file.h"
#include "core/errors.h"
#include "core/hex_writer.h"
#include "core/message_format.h"
#include "core/texts.h"
#include "core/utf8_path.h"
#include "core/write_command.h"
#include "platform/file_device.h"

namespace fw::cli {

// ---- write -------------------------------------------------------------------------------

namespace {

// The entry is on the card but reading it back failed: both facts, and a code of their own so
// that a script does not write it again.
int ReportCommitted(const EEntryCommitted& committed, bool json, const CliServices& services) {
  if (json) {
    JsonWriter out;
    out.BeginObject()
        .Field("page", committed.Page())
        .Field("id", committed.Id())
        .Field("read_back", false)
        .EndObject();
    services.out << out.Text();
  } else {
    services.out << TerminalText(committed.WrittenText()) << '\n';
  }
  services.err << TerminalText(committed.ReadBackText()) << '\n';
  return kExitWrittenNotReadBack;
}

}  // namespace

int RunWrite(const WriteOptions& o, const CliServices& services) {
  const std::vector<DeviceEntry> devices = LoadCatalogue(o.device);
  WriteInputs in;
  in.hexPath = o.hex;
  in.deviceIndex = SelectDevice(devices, o.device);
  in.cardPath = o.card;
  in.name = o.name;
  in.srel = o.srel;
  if (o.scramble)
    in.scrambleKeys = DrawScrambleKeys();
  in.force = o.force;
  in.verify = o.verify;
  if (in.deviceIndex >= 0) {
    // As in the window: the version the device's unless given (class and release are always
    // the device's, which the write command takes from it).
    const TDeviceInfo& device = devices[static_cast<std::size_t>(in.deviceIndex)].info;
    in.sver = o.sver.value_or(device.SVer);
  }

  // A refusal (a missing input, a bad name, hidden entries without --force) is printed on
  // stderr by main, exit code 1.
  std::optional<WriteResult> result;
  try {
    result = WriteUpdate(in, devices);
  } catch (const EEntryCommitted& committed) {
    return ReportCommitted(committed, o.json, services);
  }
  if (!o.json) {
    PrintTable(services.out, result->entries);
    return kExitOk;
  }
  JsonWriter json;
  WriteEntryJson(json, result->newEntryIndex + 1, result->newEntry);
  services.out << json.Text();
  return kExitOk;
}

void AddWriteOptions(CLI::App& cmd, WriteOptions& o) {
  cmd.add_option("CARD", o.card, "Card data file that receives the update")->required();
  cmd.add_option("--hex", o.hex, "Intel HEX32 firmware file")->type_name("FILE")->required();
  AddDeviceOptions(cmd, o.device);
  cmd.add_option("--name", o.name,
                 "Update name: at most 16 characters, each one that Windows-1251 (the card's code "
                 "page) holds")
      ->capture_default_str();
  cmd.add_option("--sver", o.sver, "Major version 0..255 (default: the device's SVER)")
      ->check(CLI::Range(0, 255));
  cmd.add_option("--srel", o.srel, "Minor version 0..65535")
      ->check(CLI::Range(0, 65535))
      ->capture_default_str();
  cmd.add_flag("--scramble", o.scramble, "Scramble the payloads with two random key bytes");
  AddJsonFlag(cmd, o.json, "Print the new entry as JSON instead of the entry table");
  cmd.add_flag("--force", o.force,
               "Write even where pages after the end of the entry chain look like entries "
               "(hidden by a damaged byte) that the new entry may overwrite");
  cmd.add_flag("--verify", o.verify,
               "Read the new entry back from the card itself (not from the system's cache) "
               "and check it; exit code 1 naming the failing check when it does not hold");
}

// ---- extract -----------------------------------------------------------------------------

namespace {

// Writes the file under a temporary name beside it, makes it durable and only then gives it its
// name: a full disk or a failed write leaves no partial file under the real name (an older file
// of that name stays as it was), and the temporary file is removed.
void WriteFile(std::ostream& out, const std::filesystem::path& path, std::span<const char> bytes) {
  const std::string name = Utf8OfPath(path);
  std::filesystem::path partial = path;
  partial += ".part";
  const std::string partialName = Utf8OfPath(partial);
  std::unique_ptr<platform::FileDevice> file;
  try {
    file = platform::CreateNew(partialName);
  } catch (const std::system_error& e) {
    throw EFCreateError(name, e.code());
  }
  try {
    file->WriteAt(0, {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    file->Sync();
    file.reset();  // closed before the rename, which Windows needs
    std::filesystem::rename(partial, path);
  } catch (const std::system_error& e) {
    file.reset();
    std::error_code ignored;  // the write's failure is the one to report
    std::filesystem::remove(partial, ignored);
    throw EInOutError(name, e.code().message());
  }
  out << FormatMessage(texts::kFileWritten, {name, std::uint64_t{bytes.size()}}) << '\n';
}

void WriteBinary(std::ostream& out, const std::filesystem::path& path,
                 const std::vector<std::uint8_t>& bytes) {
  WriteFile(out, path, {reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

}  // namespace

int RunExtract(const ExtractOptions& o, const CliServices& services) {
  const std::vector<DeviceEntry> devices = LoadCatalogue(o.device);
  const int deviceIndex = SelectDevice(devices, o.device);
  if (deviceIndex < 0)
    throw std::runtime_error(std::string(texts::kNoDevice));

  TRgdFile card(o.card, TRgdFile::Mode::ReadOnly);
  if (o.entry < 1 || o.entry > card.EntryCount())
    throw std::runtime_error(FormatMessage(
        texts::kEntryNotFound, {o.card, std::int64_t{o.entry}, std::int64_t{card.EntryCount()}}));
  const int index = o.entry - 1;
  const TRgdEntryPayloads entry = card.ReadEntryPayloads(index);
  const std::vector<std::string_view> failures = CheckPayloads(entry).Failures();
  if (!failures.empty())
    throw std::runtime_error(FormatMessage(
        texts::kEntryDamaged, {std::int64_t{o.entry}, o.card, CommaSeparated(failures)}));

  std::string hex;
  try {
    hex = WriteDsPicHex(
        HexImageOfEntry(entry, UsableDevice(devices[static_cast<std::size_t>(deviceIndex)])));
  } catch (const EHexAddressRange& e) {
    // The writer knows the payload and the address; the card and the entry are known here.
    throw std::runtime_error(
        FormatMessage(texts::kEntryNotExtractable, {std::int64_t{o.entry}, o.card, e.what()}));
  }

  const std::filesystem::path dir = PathOfUtf8(o.out);
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  // The system says "not a directory" when the folder, or one on its path, is a file.
  if (error == std::errc::not_a_directory)
    throw EFCreateError(o.out, texts::kReasonNotAFolder);
  if (error)
    throw EFCreateError(o.out, error);
  WriteBinary(services.out, dir / "flash.bin", entry.Flash);
  WriteBinary(services.out, dir / "eeprom.bin", entry.Eeprom);
  WriteBinary(services.out, dir / "config.bin", entry.Config);
  WriteFile(services.out, dir / "firmware.hex", hex);
  return kExitOk;
}

void AddExtractOptions(CLI::App& cmd, ExtractOptions& o) {
  cmd.add_option("CARD", o.card, "Card data file")->required();
  cmd.add_option("--entry", o.entry, "Entry number as `list` prints it (1 = first)")
      ->type_name("N")
      ->required();
  cmd.add_option("--out", o.out, "Folder for the files (created when missing)")
      ->type_name("DIR")
      ->required();
  AddDeviceOptions(cmd, o.device);
}

}  // namespace fw::cli

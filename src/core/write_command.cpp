#include "core/write_command.h"

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "core/carddata_file.h"
#include "core/carddata_format.h"
#include "core/control_chars.h"
#include "core/entry_table.h"
#include "core/ihex.h"
#include "core/message_format.h"
#include "core/texts.h"
#include "core/utf8_path.h"

namespace fw {

namespace {

// The three inputs the command cannot run without, in the window's order, then the update name.
void RequireUsableInputs(const WriteInputs& in, std::span<const DeviceEntry> devices) {
  if (!IsExistingFile(in.hexPath))
    throw ERefusal(std::string(texts::kNoHexFile));
  if (in.deviceIndex < 0 || static_cast<std::size_t>(in.deviceIndex) >= devices.size())
    throw ERefusal(std::string(texts::kNoDevice));
  UsableDevice(devices[static_cast<std::size_t>(in.deviceIndex)]);  // EDeviceRefused
  if (!IsExistingFile(in.cardPath))
    throw ERefusal(std::string(texts::kNoCardFile));
  EncodeEntryName(in.name);
}

std::uint32_t Address(std::int32_t value) {
  return static_cast<std::uint32_t>(value);
}

// Bounds a loaded region by its application window, checks it and copies its payload; an empty
// image gives an empty payload.
std::vector<std::uint8_t> ExtractPayload(TdsPicMemRegion& region, const TMemRange& window,
                                         std::string_view name) {
  region.SetAppBase(Address(window.BaseAddr));
  region.SetAppEnd(Address(window.EndAddr));
  region.CheckAppRange(name);
  const std::uint32_t size =
      region.IsProgramMemory() ? region.ImageSize() * 2 : region.ImageByteSize();
  std::vector<std::uint8_t> payload(size);
  if (size != 0)
    region.CopyImage(payload, Address(region.ImageFirst()), Address(region.ImageLast()));
  return payload;
}

template <typename T>
T Clamped(long long value, long long low, long long high) {
  return static_cast<T>(std::clamp(value, low, high));
}

// Entries hidden from the end of the chain on, and the payload of a chain entry whose PageCount
// is too small, would be overwritten by this entry or later ones: whether to go on is the
// user's decision, and the report tells them what is at stake.
void RequireNoEntriesAtRisk(TRgdFile& card) {
  std::string report;
  const std::vector<TRgdWrongPagesEntry> wrong = card.FindEntriesWithWrongPages();
  if (!wrong.empty())
    report = WrongPagesReport(card.FileName(), wrong);
  const std::vector<TRgdOrphanedEntry> orphans = card.FindOrphanedEntries();
  if (!orphans.empty())
    report += (report.empty() ? "" : "\n\r") + OrphanedEntriesReport(card.FileName(), orphans);
  if (!report.empty())
    throw EOrphanedEntries(report);
}

// A file that holds nothing for this processor (only its end record, or data outside every
// memory) would give an entry of no payload that the recorder takes for a firmware.
void RequireSomeData(const std::vector<std::uint8_t>& flash,
                     const std::vector<std::uint8_t>& eeprom,
                     const std::vector<std::uint8_t>& config, const WriteInputs& inputs,
                     const TDeviceInfo& device) {
  if (flash.empty() && eeprom.empty() && config.empty())
    throw ERefusal(FormatMessage(texts::kHexNoDataForDevice,
                                 {inputs.hexPath, EscapeControlChars(device.Name)}),
                   mkError);
}

// Reads the new entry back from the card itself and checks it as the recorder would. A read
// that fails is a read-back problem of an entry that exists.
void VerifyOnMedium(TRgdFile& card, const TRgdEntryInfo& written) {
  std::vector<std::string_view> failures;
  try {
    card.ReloadFromMedium();
    const int index = card.EntryCount() - 1;
    if (index < 0 || card.GetEntry(index).Page != written.Page)
      throw EEntryCommitted(card.FileName(), written.Id, written.Page, texts::kNewEntryNotReadBack);
    failures = card.CheckEntry(index).Failures();
  } catch (const EEntryCommitted&) {
    throw;
  } catch (const std::exception& e) {
    throw EEntryCommitted(card.FileName(), written.Id, written.Page, e.what());
  }
  if (!failures.empty()) {
    std::string names;
    for (const auto name : failures)
      names += (names.empty() ? "" : ", ") + std::string(name);
    throw EWrittenEntryDamaged(card.FileName(), written.Id, written.Page, names);
  }
}

}  // namespace

EWrittenEntryDamaged::EWrittenEntryDamaged(std::string_view fileName, std::uint16_t id,
                                           std::uint32_t page, std::string_view failures)
    : ErgdException(FormatMessage(
          texts::kWrittenEntryDamaged,
          {std::uint64_t{id}, std::uint64_t{page}, std::string(fileName), std::string(failures)})) {
}

EOrphanedEntries::EOrphanedEntries(std::string report)
    : ERefusal(report + "\n\r" + std::string(texts::kOrphansRefused)), report_(std::move(report)) {}

TRgdVersionInfo VersionOfInputs(const WriteInputs& inputs, const TDeviceInfo& device) {
  return TRgdVersionInfo{
      .HClass = Clamped<std::uint8_t>(device.HClass, 1, 255),
      .HRel = Clamped<std::uint8_t>(device.HRel, 0, 255),
      .SVer = Clamped<std::uint8_t>(inputs.sver, 0, 255),
      .SRel = Clamped<std::uint16_t>(inputs.srel, 0, 65535),
  };
}

WriteResult WriteUpdate(const WriteInputs& inputs, std::span<const DeviceEntry> devices,
                        const CardDeviceOpener& openCard) {
  RequireUsableInputs(inputs, devices);

  // The card data file first: a wrong file fails before the firmware is looked at.
  TRgdFile card = openCard ? TRgdFile(inputs.cardPath, openCard(inputs.cardPath))
                           : TRgdFile(inputs.cardPath, TRgdFile::Mode::ReadWrite);
  const TDeviceInfo device = devices[static_cast<std::size_t>(inputs.deviceIndex)].info;

  TdsPicMemRegion flashRegion(device.Flash, true);
  TdsPicMemRegion eepromRegion(device.Eeprom, false);
  TdsPicMemRegion configRegion(device.Config, false);

  TdsPicMemRegion* const regions[] = {&flashRegion, &eepromRegion, &configRegion};
  LoadRegionsFromHexFile(ReadHexFile(inputs.hexPath), regions);
  const std::vector<std::uint8_t> flash = ExtractPayload(flashRegion, device.FlashApp, "FLASH");
  const std::vector<std::uint8_t> eeprom = ExtractPayload(eepromRegion, device.EepromApp, "EEPROM");
  const std::vector<std::uint8_t> config = ExtractPayload(configRegion, device.Config, "CONFIG");

  RequireSomeData(flash, eeprom, config, inputs, device);
  if (!inputs.force)
    RequireNoEntriesAtRisk(card);

  const TRgdEntryImage image{.Flash = flash,
                             .FlashStart = Address(flashRegion.ImageFirst()),
                             .FlashEntryPoint = flashRegion.EntryPoint(),
                             .Eeprom = eeprom,
                             .EepromStart = Address(eepromRegion.ImageFirst()),
                             .Config = config,
                             .ConfigStart = Address(device.Config.BaseAddr)};
  card.AddEntry(inputs.name, VersionOfInputs(inputs, device), CurrentLocalDateTime(), image,
                inputs.scrambleKeys);

  WriteResult result;
  result.entries = EntryTable(card.Entries());
  result.newEntryIndex = card.EntryCount() - 1;
  result.newEntry = card.GetEntry(result.newEntryIndex);
  if (inputs.verify)
    VerifyOnMedium(card, result.newEntry);
  result.flashSize = static_cast<std::uint32_t>(flash.size());
  result.eepromSize = static_cast<std::uint32_t>(eeprom.size());
  result.configSize = static_cast<std::uint32_t>(config.size());
  return result;
}

}  // namespace fw

// The write command: checks the inputs, extracts the FLASH, EEPROM and CONFIG images of the
// selected device from a HEX file and appends them as one update entry to a card data file.
// The main window and the command line both run it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/carddata_errors.h"
#include "core/carddata_layout.h"
#include "core/catalogue.h"
#include "core/errors.h"
#include "core/text_table.h"
#include "platform/file_device.h"

namespace fw {

// What the write command reads from the main window (or the command line).
struct WriteInputs {
  std::string hexPath;   // the firmware file
  int deviceIndex = -1;  // index into the device list; -1 when nothing is selected
  std::string cardPath;  // the card data file that receives the entry
  std::string name;      // the update name, UTF-8, at most 16 characters
  // HCLASS and HREL are always the selected device's (brought into 1..255 and 0..255).
  long long sver = 0;  // brought into 0..255
  long long srel = 0;  // brought into 0..65535
  // The keys to scramble the payloads with; none: stored plain. The front ends draw them
  // (DrawScrambleKeys).
  std::optional<TScrambleKeys> scrambleKeys;
  // Write even over entries hidden beyond the end of the card's chain (see EOrphanedEntries).
  bool force = false;
  // Read the new entry back from the card (past the system's cache) and check it.
  bool verify = false;
};

// Opens the card data file's device for the write; empty: the file itself, with the writer
// lock. (Tests hand in a device that fails on purpose.)
using CardDeviceOpener =
    std::function<std::unique_ptr<platform::FileDevice>(const std::string& path)>;

// write --verify found the new entry damaged on the card: names the entry and the checks.
class EWrittenEntryDamaged : public ErgdException {
 public:
  EWrittenEntryDamaged(std::string_view fileName, std::uint16_t id, std::uint32_t page,
                       std::string_view failures);
};

// Entries that the new entry or later ones would overwrite; nothing was written. Pages from the
// end of the card's chain on look like entries (hidden by a damaged marker or section field), or
// entries of the chain have a PageCount that does not match their sizes (the free page may lie in
// their own payload). what() is the report and the refusal; the window asks instead (Report()
// and a Yes/No question) and runs the command again with `force` when the user says Yes.
class EOrphanedEntries : public ERefusal {
 public:
  explicit EOrphanedEntries(std::string report);
  const std::string& Report() const { return report_; }

 private:
  std::string report_;
};

struct WriteResult {
  TextTable entries;            // the card's directory after the write (EntryTable)
  TRgdEntryInfo newEntry;       // the entry just written
  int newEntryIndex = 0;        // its 0-based position in the directory
  std::uint32_t flashSize = 0;  // payload sizes in bytes
  std::uint32_t eepromSize = 0;
  std::uint32_t configSize = 0;
};

// The version record of an entry for the device: its class and release, the inputs' version and
// release; each value brought into the range of its field.
TRgdVersionInfo VersionOfInputs(const WriteInputs& inputs, const TDeviceInfo& device);

// Runs the command. Missing inputs (no HEX file, no device, no card data file, in that order; a
// folder counts as no file) and an update name that cannot be stored (EncodeEntryName) are
// refused (ERefusal, kind information) before anything is opened. A device the catalogue refuses
// raises EDeviceRefused before anything is opened. Every other failure is an exception: the card
// data file's (EFOpenError, EInvalidFormat, EOutOfSpace, EInOutError), the HEX reader's and
// ENotInWindow. The card data file is opened first, so a wrong file fails before the HEX file is
// read; the HEX file is read once. Nothing is written to the card data file unless the whole entry
// is ready and fits. A HEX file that holds nothing for the device's memories is refused
// (ERefusal, kind error) before the card is written. Entries hidden from the chain's end on, and
// entries of the chain whose PageCount does not match their sizes, raise EOrphanedEntries unless
// `inputs.force`. Once the entry's header page is on the card, a failure to read the card back is
// EEntryCommitted (the entry exists); with `inputs.verify` the entry read back from the card that
// fails a check is EWrittenEntryDamaged.
WriteResult WriteUpdate(const WriteInputs& inputs, std::span<const DeviceEntry> devices,
                        const CardDeviceOpener& openCard = {});

}  // namespace fw

// Removable volumes for tests: each fake card is a folder (its root path), with scripted results
// for formatting, ejection and free space, and a record of every call. Header-only, so that any
// test executable can use it without linking the system's volume layer. Used by one thread at a
// time (a worker's calls are read once it has finished).
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/volumes.h"

namespace fw::platform {

// How one fake card answers.
struct FakeCardScript {
  bool formatSucceeds = true;  // false: FormatFat16 throws VolumeOperationFailed(formatFailure)
  std::string formatFailure = "Format cancelled";  // the reason given when the format fails
  bool notRemovable = false;                       // FormatFat16 throws VolumeNotRemovable
  bool ejectSucceeds = true;                       // false: Eject throws VolumeOperationFailed
  bool mountFails = false;                         // EnsureMounted throws VolumeOperationFailed
  bool freeSpaceFails = false;                     // FreeSpace throws VolumeOperationFailed
  std::optional<std::int64_t> freeSpace;  // scripted free bytes; else the folder's real space
  // Runs first thing in FormatFat16, on the calling thread: a test may hold the format there, as
  // a system that waits for the user's password does.
  std::function<void()> duringFormat;
  std::function<void()> duringEject;  // the same, first thing in Eject
};

struct FakeCard {
  VolumeInfo info;  // info.rootPath is the folder that stands for the card
  FakeCardScript script;
};

class FakeVolumes : public Volumes {
 public:
  // A card backed by folder, identified as id, of totalSize bytes with freeBytes free (to the
  // caller and in total). Returns the card so that a test can script it further.
  FakeCard& AddCard(const std::filesystem::path& folder, std::string id, std::int64_t totalSize,
                    std::int64_t freeBytes, std::string label = "CARD",
                    std::string fileSystem = "FAT") {
    FakeCard card;
    card.info.id = std::move(id);
    card.info.rootPath = folder.string();
    card.info.label = std::move(label);
    card.info.fileSystem = std::move(fileSystem);
    card.info.freeAvailable = freeBytes;
    card.info.totalFree = freeBytes;
    card.info.totalSize = totalSize;
    card.info.key = folder.string();
    cards_.push_back(std::move(card));
    return cards_.back();
  }

  // A card backed by folder whose sizes are the folder's file system's, as a real volume has.
  FakeCard& AddFolderCard(const std::filesystem::path& folder, std::string id) {
    std::error_code error;
    const auto space = std::filesystem::space(folder, error);
    FakeCard& card = AddCard(folder, std::move(id), error ? 0 : Bytes(space.capacity),
                             error ? 0 : Bytes(space.available), "CARD", "FAT");
    card.info.totalFree = error ? 0 : Bytes(space.free);
    return card;
  }

  FakeCard* Find(std::string_view id) {
    for (auto& card : cards_) {
      if (card.info.id == id)
        return &card;
    }
    return nullptr;
  }

  // Every call made, in order: "List", "FreeSpace <root>", "EnsureMounted <id>",
  // "FormatFat16 <id>", "VolumeOfPath <path>", "Eject <id>".
  const std::vector<std::string>& Calls() const { return calls_; }
  // The interaction of the last call that took one.
  Interaction LastInteraction() const { return lastInteraction_; }
  std::uintptr_t OwnerWindow() const { return ownerWindow_; }

  std::vector<VolumeInfo> List() override {
    calls_.push_back("List");
    std::vector<VolumeInfo> volumes;
    for (const auto& card : cards_)
      volumes.push_back(card.info);
    return volumes;
  }

  std::int64_t FreeSpace(const std::string& rootPath) override {
    calls_.push_back("FreeSpace " + rootPath);
    const FakeCard* card = CardOfRoot(rootPath);
    if (card != nullptr && card->script.freeSpaceFails)
      throw VolumeOperationFailed("free space unknown: " + rootPath);
    if (card != nullptr && card->script.freeSpace)
      return *card->script.freeSpace;
    std::error_code error;
    const auto space = std::filesystem::space(rootPath, error);
    if (error)
      throw VolumeOperationFailed(rootPath + ": " + error.message());
    return Bytes(space.available);
  }

  std::string EnsureMounted(const VolumeInfo& volume, Interaction interaction) override {
    Record("EnsureMounted " + volume.id, interaction);
    const FakeCard* card = Find(volume.id);
    if (card == nullptr || card->script.mountFails)
      throw VolumeOperationFailed("cannot mount " + volume.id);
    return card->info.rootPath;
  }

  void FormatFat16(const VolumeInfo& volume, Interaction interaction) override {
    Record("FormatFat16 " + volume.id, interaction);
    const FakeCard* card = Find(volume.id);
    if (card != nullptr && card->script.duringFormat)
      card->script.duringFormat();
    if (card == nullptr || card->script.notRemovable)
      throw VolumeNotRemovable("not a removable volume: " + volume.id);
    if (!card->script.formatSucceeds)
      throw VolumeOperationFailed(card->script.formatFailure);
  }

  std::optional<VolumeInfo> VolumeOfPath(const std::filesystem::path& path) override {
    calls_.push_back("VolumeOfPath " + path.string());
    const FakeCard* best = nullptr;
    std::size_t bestLength = 0;
    const std::string target = path.lexically_normal().generic_string();
    for (const auto& card : cards_) {
      const std::string root =
          std::filesystem::path(card.info.rootPath).lexically_normal().generic_string();
      if (IsUnder(target, root) && root.size() > bestLength) {
        best = &card;
        bestLength = root.size();
      }
    }
    if (best == nullptr)
      return std::nullopt;
    return best->info;
  }

  void Eject(const VolumeInfo& volume, Interaction interaction) override {
    Record("Eject " + volume.id, interaction);
    const FakeCard* card = Find(volume.id);
    if (card != nullptr && card->script.duringEject)
      card->script.duringEject();
    if (card == nullptr || !card->script.ejectSucceeds)
      throw VolumeOperationFailed("cannot eject " + volume.id);
  }

 private:
  static std::int64_t Bytes(std::uintmax_t value) {
    return static_cast<std::int64_t>(
        std::min<std::uintmax_t>(value, std::numeric_limits<std::int64_t>::max()));
  }

  static bool IsUnder(const std::string& path, std::string root) {
    while (root.size() > 1 && root.back() == '/')
      root.pop_back();
    if (path.compare(0, root.size(), root) != 0)
      return false;
    return path.size() == root.size() || path[root.size()] == '/' || root.back() == '/';
  }

  const FakeCard* CardOfRoot(const std::string& rootPath) const {
    for (const auto& card : cards_) {
      if (card.info.rootPath == rootPath)
        return &card;
    }
    return nullptr;
  }

  void Record(std::string call, Interaction interaction) {
    calls_.push_back(std::move(call));
    lastInteraction_ = interaction;
  }

  std::deque<FakeCard> cards_;  // a deque keeps the cards handed out in place
  std::vector<std::string> calls_;
  Interaction lastInteraction_ = Interaction::Allowed;
};

}  // namespace fw::platform

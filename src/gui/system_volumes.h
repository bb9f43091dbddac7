// The removable volumes of the running system, opened on first use: a desktop whose volume
// service cannot be reached still starts, and each card command reports why it cannot run.
#pragma once

#include <memory>

#include "platform/volumes.h"

namespace fw::gui {

class TSystemVolumes : public platform::Volumes {
 public:
  std::vector<platform::VolumeInfo> List() override { return System().List(); }
  std::int64_t FreeSpace(const std::string& rootPath) override {
    return System().FreeSpace(rootPath);
  }
  std::string EnsureMounted(const platform::VolumeInfo& volume,
                            platform::Interaction interaction) override {
    return System().EnsureMounted(volume, interaction);
  }
  void FormatFat16(const platform::VolumeInfo& volume, platform::Interaction interaction) override {
    System().FormatFat16(volume, interaction);
  }
  std::optional<platform::VolumeInfo> VolumeOfPath(const std::filesystem::path& path) override {
    return System().VolumeOfPath(path);
  }
  void Eject(const platform::VolumeInfo& volume, platform::Interaction interaction) override {
    System().Eject(volume, interaction);
  }
  void SetOwnerWindow(std::uintptr_t nativeWindow) override {
    Volumes::SetOwnerWindow(nativeWindow);
    if (system_)
      system_->SetOwnerWindow(nativeWindow);
  }

 private:
  // Throws what the system's volume layer throws when it cannot be opened; tries again next time.
  platform::Volumes& System() {
    if (!system_) {
      system_ = platform::MakeSystemVolumes();
      system_->SetOwnerWindow(ownerWindow_);
    }
    return *system_;
  }

  std::unique_ptr<platform::Volumes> system_;
};

}  // namespace fw::gui

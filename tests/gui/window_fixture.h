// What every window test starts from: a fresh temporary folder, a recording message presenter
// and fake removable volumes; and finding a window's control by name, and showing a window.
#pragma once

#include <QtTest>
#include <filesystem>
#include <memory>

#include "support/fake_volumes.h"
#include "support/recording_presenter.h"
#include "support/temp_dir.h"

namespace fw::gui::test {

class WindowFixture {
 protected:
  // Call from the test's init slot.
  void ResetFixture() {
    dir_.reset();  // the last test's folder goes before the next one is made
    dir_ = std::make_unique<fw::test::TempDir>("fw-gui-test");
    presenter_ = std::make_unique<fw::test::RecordingPresenter>();
    volumes_ = std::make_unique<platform::FakeVolumes>();
  }

  const std::filesystem::path& Dir() const { return dir_->path(); }

  template <typename T>
  static T* Control(const QWidget& window, const char* name) {
    T* control = window.findChild<T*>(QString::fromLatin1(name));
    if (control == nullptr)
      qFatal("no control %s", name);
    return control;
  }

  static void ShowActive(QWidget& window) {
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
  }

  std::unique_ptr<fw::test::TempDir> dir_;
  std::unique_ptr<fw::test::RecordingPresenter> presenter_;
  std::unique_ptr<platform::FakeVolumes> volumes_;
};

}  // namespace fw::gui::test

// What every window test starts from: a fresh temporary folder, a recording message presenter
// and fake removable volumes; and finding a window's control by name, and showing a window.
#pragma once

#include <QTemporaryDir>
#include <QtTest>
#include <filesystem>
#include <memory>

#include "fake_presenter.h"
#include "support/fake_volumes.h"

namespace fw::gui::test {

class WindowFixture {
 protected:
  // Call from the test's init slot.
  void ResetFixture() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    presenter_ = std::make_unique<FakePresenter>();
    volumes_ = std::make_unique<platform::FakeVolumes>();
  }

  std::filesystem::path Dir() const { return std::filesystem::path(dir_->path().toStdString()); }

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

  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<FakePresenter> presenter_;
  std::unique_ptr<platform::FakeVolumes> volumes_;
};

}  // namespace fw::gui::test

// Builds the main window and the card preparation dialog with demo data (the example catalogue
// and firmware, a fresh card data file with two updates, a fake 122 MB card) and saves their
// pictures: <out>/main-window.png, <out>/format-dialog.png and <out>/format-question.png (the
// question before a format, with Qt's buttons in Russian). Run by scripts/screenshot-gui under
// Xvfb; the user's own settings are not touched.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "core/carddata_create.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/texts.h"
#include "gui/application.h"
#include "gui/form_format.h"
#include "gui/form_main.h"
#include "gui/qt_message_presenter.h"
#include "platform/settings_store.h"
#include "support/fake_volumes.h"
#include "support/stored_settings.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

class StderrPresenter : public fw::MessagePresenter {
 public:
  int Show(std::string_view, std::string_view text, const fw::MessageStyle& style) override {
    std::fprintf(stderr, "message: %.*s\n", static_cast<int>(text.size()), text.data());
    return style.defaultButton;
  }
};

void SaveGrab(QWidget& widget, const QString& path) {
  widget.repaint();
  QApplication::processEvents();
  if (!widget.grab().save(path))
    std::fprintf(stderr, "cannot save %s\n", qPrintable(path));
  else
    std::printf("%s\n", qPrintable(path));
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  fw::gui::SetUpApplication();
  QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));  // as on a Russian desktop
  const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
  QDir().mkpath(out);

  const fw::test::TempDir temp("fw-screenshots");
  const fs::path dir = temp.path();
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((dir / "config").string()));
  // The window keeps its settings under a key of its own here (Windows has no XDG_CONFIG_HOME to
  // point elsewhere), emptied first so that every run shows the same.
  constexpr std::string_view kShotsKeyPath = "Software\\Kerrow\\Lintrak screenshots\\";
  fw::test::ForgetStoredSettings(kShotsKeyPath, fw::kSettingsSubkey);
  // Absolute in the system's own spelling (under Wine the source folder is on drive Z:).
  const fs::path examples = fs::absolute(fs::path(FW_SOURCE_DIR) / "examples").make_preferred();
  const fs::path card = dir / "card";
  fs::create_directories(card);
  const std::string cardFile = (card / "data.rgd").string();
  fw::CreateCardDataFile(cardFile, fw::MakeCardLayout(8192, 50, 2048));

  StderrPresenter presenter;
  fw::platform::FakeVolumes volumes;
  volumes.AddCard(card, "sdb1", 122 * 1048576LL, 120 * 1048576LL, "NUBRA", "vfat");
  fw::gui::MainWindowServices services;
  services.presenter = &presenter;
  services.volumes = &volumes;
  services.catalogPath = examples / "DEV_LIST.dat";
  services.openSettings = [kShotsKeyPath] {
    return fw::platform::OpenSettingsStore(kShotsKeyPath, fw::kSettingsSubkey);
  };

  fw::gui::TFormMain window(services);
  fw::gui::TFormFormat dialog(volumes, presenter, &window);
  window.SetFormatDialog(&dialog);
  const QString hex = QString::fromStdString((examples / "firmware-dspic30f6014a.hex").string());
  window.findChild<QLineEdit*>("EFnamehex")->setText(hex);
  window.findChild<QLineEdit*>("EFnamedest")->setText(QString::fromStdString(cardFile));
  window.findChild<QLineEdit*>("Ename")->setText(QStringLiteral("Регистратор 3.1"));
  window.BtnProcessClick();
  window.findChild<QLineEdit*>("Ename")->setText(QStringLiteral("Регистратор 3.2"));
  window.BtnProcessClick();
  window.BtnOpenRgdClick();
  window.btnhexinfoClick();
  window.show();
  QApplication::processEvents();
  SaveGrab(window, out + "/main-window.png");

  dialog.show();
  QApplication::processEvents();
  SaveGrab(dialog, out + "/format-dialog.png");
  dialog.hide();

  // The question before a format, as the message boxes of the program show it.
  QTimer::singleShot(0, &app, [&out] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) {
      std::fprintf(stderr, "no message box to save\n");
      return;
    }
    SaveGrab(*box, out + "/format-question.png");
    box->reject();
  });
  fw::gui::QtMessagePresenter boxes;
  fw::UserMessage(boxes, fw::texts::kFormatConfirm, fw::mkQuestion);
  return 0;
}

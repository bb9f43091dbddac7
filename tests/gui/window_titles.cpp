// What the window system is told: the title bars of the main window, the card preparation
// dialog and a message box, read back from a real X server with xprop (_NET_WM_NAME and
// WM_NAME). Qt would append an application display name to every title; the system's titles
// are exact. Runs under Xvfb (ctest starts it with xvfb-run and the xcb platform).
#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>
#include <filesystem>

#include "core/messages.h"
#include "core/texts.h"
#include "gui/application.h"
#include "gui/form_format.h"
#include "gui/form_main.h"
#include "gui/gui_helpers.h"
#include "gui/qt_message_presenter.h"
#include "support/fake_volumes.h"
#include "support/recording_presenter.h"
#include "support/temp_dir.h"

namespace fw::gui {
namespace {

// The named text property of an X window as xprop prints it: NAME(TYPE) = "text".
QString WindowProperty(WId window, const char* name) {
  QProcess xprop;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
  xprop.setProcessEnvironment(environment);
  xprop.start(QStringLiteral("xprop"),
              {QStringLiteral("-id"), QString::number(window), QString::fromLatin1(name)});
  if (!xprop.waitForFinished(10000) || xprop.exitCode() != 0)
    return QStringLiteral("<xprop failed: %1>")
        .arg(QString::fromLocal8Bit(xprop.readAllStandardError()));
  const QString line = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
  const auto match = QRegularExpression(QStringLiteral(R"re(^[^=]*= "(.*)"$)re")).match(line);
  return match.hasMatch() ? match.captured(1) : QStringLiteral("<%1>").arg(line);
}

void CompareTitles(const QWidget& window, const QString& expected) {
  QCOMPARE(WindowProperty(window.winId(), "_NET_WM_NAME"), expected);
  QCOMPARE(WindowProperty(window.winId(), "WM_NAME"), expected);
}

}  // namespace

class WindowTitlesTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    if (QGuiApplication::platformName() != QStringLiteral("xcb"))
      QSKIP("needs an X server (run under xvfb-run with QT_QPA_PLATFORM=xcb)");
    if (QStandardPaths::findExecutable(QStringLiteral("xprop")).isEmpty())
      QSKIP("xprop (x11-utils) is not installed");
    SetUpApplication();
  }

  void titleBarsReadExactlyTheSystemsTitles() {
    const fw::test::TempDir dir("fw-gui-titles");
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((dir / "config").string()));
    fw::test::RecordingPresenter presenter;
    platform::FakeVolumes volumes;
    QVERIFY(std::filesystem::create_directory(dir / "card"));
    volumes.AddCard(dir / "card", "sdb1", 16 << 20, 8 << 20);  // stays open
    MainWindowServices services;
    services.presenter = &presenter;
    services.volumes = &volumes;
    services.catalogPath = dir / "DEV_LIST.dat";
    TFormMain window(services);
    TFormFormat dialog(volumes, presenter, &window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    dialog.setModal(false);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    CompareTitles(window, QStringLiteral("Firmware Updater v.1.0"));
    CompareTitles(dialog, QStringLiteral("Форматирование ММС"));
    dialog.hide();

    // A message box is captioned with the application's title.
    QString boxTitle;
    QTimer::singleShot(0, this, [&boxTitle] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr)
        return;
      boxTitle = WindowProperty(box->winId(), "_NET_WM_NAME");
      box->accept();
    });
    QtMessagePresenter boxes;
    UserMessage(boxes, "x", mkInformation);
    QCOMPARE(boxTitle, Q(texts::kApplicationTitle));
  }
};

}  // namespace fw::gui

QTEST_MAIN(fw::gui::WindowTitlesTest)
#include "window_titles.moc"

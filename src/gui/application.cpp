#include "gui/application.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>
#include <memory>

#include "core/texts.h"
#include "gui/gui_helpers.h"

// The resources of the windows' library (the icon) are registered by name, from the global
// namespace.
static void InitResources() {
  Q_INIT_RESOURCE(resources);
}

namespace fw::gui {

void LoadQtTranslations() {
  // Qt's standard buttons, dialogs and menus speak the application's language, Russian, whatever
  // the desktop's language is. Without the translations installed they stay in English.
  auto translator = std::make_unique<QTranslator>();
  if (!translator->load(QStringLiteral("qtbase_ru"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    return;
  translator->setParent(QCoreApplication::instance());  // lives as long as the application
  QCoreApplication::installTranslator(translator.release());
}

void SetUpApplication() {
  InitResources();
  // The name keys the desktop's records of the program. No display name is set: Qt would append
  // it to every title bar, and the windows' captions are exactly the system's.
  QApplication::setApplicationName(QStringLiteral("fwupdater-gui"));
  // The application ID of the installed desktop file, metainfo and icons.
  QApplication::setDesktopFileName(QStringLiteral("org.kerrow.FirmwareUpdater"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/fwupdater/icon.png")));
  LoadQtTranslations();
  // The windows are laid out for a small 8 point font, so that the grids show whole rows.
  QFont font = QApplication::font();
  font.setPointSize(8);
  QApplication::setFont(font);
}

}  // namespace fw::gui

#include "application.h"

#include <QApplication>
#include <QFont>
#include <QIcon>

#include "core/texts.h"
#include "gui_helpers.h"

// The resources of the windows' library (the icon) are registered by name, from the global
// namespace.
static void InitResources() {
  Q_INIT_RESOURCE(resources);
}

namespace fw::gui {

void SetUpApplication() {
  InitResources();
  QApplication::setApplicationName(QStringLiteral("fwupdater-gui"));
  QApplication::setApplicationDisplayName(Q(texts::kApplicationTitle));
  QApplication::setDesktopFileName(QStringLiteral("fwupdater-gui"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/fwupdater/icon.png")));
  // The windows are laid out for a small 8 point font, so that the grids show whole rows.
  QFont font = QApplication::font();
  font.setPointSize(8);
  QApplication::setFont(font);
}

}  // namespace fw::gui

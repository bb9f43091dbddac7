// The application-wide settings of the desktop program: its name, its icon, Qt's texts in
// Russian and the font its windows are laid out for.
#pragma once

namespace fw::gui {

// Call once, right after the QApplication is created.
void SetUpApplication();

// Installs Qt's own Russian texts (standard buttons, file dialogs, context menus) when they are
// installed; without them Qt's texts stay English. Part of SetUpApplication.
void LoadQtTranslations();

}  // namespace fw::gui

// The application-wide settings of the desktop program: its name and title (the caption of
// every message box), its icon and the font its windows are laid out for.
#pragma once

namespace fw::gui {

// Call once, right after the QApplication is created.
void SetUpApplication();

}  // namespace fw::gui

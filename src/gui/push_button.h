// A push button of the windows: never a default button, and Enter (or Return) presses it only
// while it has the focus, as Space does. Enter in any other control presses no button.
#pragma once

#include <QPushButton>

namespace fw::gui {

class TPushButton : public QPushButton {
  Q_OBJECT

 public:
  explicit TPushButton(const QString& caption, QWidget* parent = nullptr);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace fw::gui

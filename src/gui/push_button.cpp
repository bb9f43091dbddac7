#include "gui/push_button.h"

#include <QKeyEvent>

namespace fw::gui {

TPushButton::TPushButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {
  setAutoDefault(false);
  setDefault(false);
}

void TPushButton::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
  if (!enter || !plain) {
    QPushButton::keyPressEvent(event);
    return;
  }
  event->accept();
  if (!event->isAutoRepeat())
    click();
}

}  // namespace fw::gui

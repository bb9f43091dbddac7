#include "spin_field.h"

#include <QLineEdit>
#include <algorithm>

namespace fw::gui {

TSpinField::TSpinField(int minimum, int maximum, int value, QWidget* parent) : QSpinBox(parent) {
  setRange(minimum, maximum);
  setValue(value);
  setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
}

int TSpinField::Value() const {
  bool ok = false;
  const int typed = cleanText().trimmed().toInt(&ok);
  if (!ok)
    return minimum();
  return std::clamp(typed, minimum(), maximum());
}

void TSpinField::SetValue(int value) {
  setValue(std::clamp(value, minimum(), maximum()));
}

void TSpinField::fixup(QString& input) const {
  bool ok = false;
  const int typed = input.trimmed().toInt(&ok);
  input = QString::number(ok ? std::clamp(typed, minimum(), maximum()) : minimum());
}

}  // namespace fw::gui

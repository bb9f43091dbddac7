#include "gui/spin_field.h"

#include <QRegularExpression>
#include <algorithm>

namespace fw::gui {
namespace {

// A sign and up to nine digits: every such text fits an int, so reading it never overflows.
bool IsWholeNumberInProgress(const QString& text) {
  static const QRegularExpression kPattern(QStringLiteral("^\\s*[+-]?\\d{0,9}\\s*$"));
  return kPattern.match(text).hasMatch();
}

// The text as a number brought into [minimum, maximum]; the minimum when it is no number.
int ClampedNumber(const QString& text, int minimum, int maximum) {
  bool ok = false;
  const int typed = text.trimmed().toInt(&ok);
  return ok ? std::clamp(typed, minimum, maximum) : minimum;
}

}  // namespace

TSpinField::TSpinField(int minimum, int maximum, int value, QWidget* parent) : QSpinBox(parent) {
  setRange(minimum, maximum);
  setValue(value);
  setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
}

int TSpinField::Value() const {
  return ClampedNumber(cleanText(), minimum(), maximum());
}

void TSpinField::SetValue(int value) {
  setValue(std::clamp(value, minimum(), maximum()));
}

// A number beyond the range stays as typed until the field is left (fixup then clamps it), so
// typing "300" into a field of 0..255 gives 255, never a silently shortened "30".
QValidator::State TSpinField::validate(QString& input, int& pos) const {
  if (!IsWholeNumberInProgress(input))
    return QValidator::Invalid;
  const QValidator::State state = QSpinBox::validate(input, pos);
  return state == QValidator::Acceptable ? state : QValidator::Intermediate;
}

void TSpinField::fixup(QString& input) const {
  input = QString::number(ClampedNumber(input, minimum(), maximum()));
}

}  // namespace fw::gui

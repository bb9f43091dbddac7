// A whole-number spin field: any whole number may be typed, and leaving the field brings it
// into the range (a text that is not a number becomes the minimum); a value set by the program
// is brought into the range; reading the field gives its text as a number in the range, or
// the minimum when the text is not a number. Lowering the maximum below the minimum lowers the
// minimum too.
#pragma once

#include <QSpinBox>

namespace fw::gui {

class TSpinField : public QSpinBox {
  Q_OBJECT

 public:
  TSpinField(int minimum, int maximum, int value, QWidget* parent = nullptr);

  // The value that the field's text reads as, brought into the range.
  int Value() const;
  // Sets the value, brought into the range; nothing happens when it is already shown.
  void SetValue(int value);

 protected:
  QValidator::State validate(QString& input, int& pos) const override;
  void fixup(QString& input) const override;
};

}  // namespace fw::gui

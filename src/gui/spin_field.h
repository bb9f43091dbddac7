// A whole-number spin field: a value set by the program is brought into the range, a text that
// is not a number becomes the minimum when the field is left, and reading a field whose text is
// not a number gives the minimum. Lowering the maximum below the minimum lowers the minimum too.
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
  void fixup(QString& input) const override;
};

}  // namespace fw::gui

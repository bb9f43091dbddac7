// A file name field with a browse button inside it: the button opens a file-open dialog with the
// field's title, filter and default extension, and the chosen path replaces the field's text.
#pragma once

#include <QLineEdit>
#include <string_view>

namespace fw::gui {

class TFileNameEdit : public QLineEdit {
  Q_OBJECT

 public:
  // `filter` in the system's form "Description (*.ext)|*.ext".
  TFileNameEdit(std::string_view title, std::string_view filter, QString defaultExtension,
                QWidget* parent = nullptr);

 public slots:
  void Browse();

 private:
  QString title_;
  QString filter_;
  QString defaultExtension_;
};

}  // namespace fw::gui

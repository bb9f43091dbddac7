#include "file_name_edit.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QStyle>

#include "gui_helpers.h"

namespace fw::gui {
namespace {

// "Description (*.ext)|*.ext" -> "Description (*.ext)": Qt's filter names carry their patterns.
QString QtFilter(std::string_view filter) {
  const QStringList parts = Q(filter).split(QLatin1Char('|'));
  QStringList names;
  for (int i = 0; i + 1 < parts.size(); i += 2)
    names << parts[i];
  return names.join(QStringLiteral(";;"));
}

}  // namespace

TFileNameEdit::TFileNameEdit(std::string_view title, std::string_view filter,
                             QString defaultExtension, QWidget* parent)
    : QLineEdit(parent),
      title_(Q(title)),
      filter_(QtFilter(filter)),
      defaultExtension_(std::move(defaultExtension)) {
  QAction* browse =
      addAction(style()->standardIcon(QStyle::SP_DirOpenIcon), QLineEdit::TrailingPosition);
  browse->setObjectName(QStringLiteral("Browse"));
  connect(browse, &QAction::triggered, this, &TFileNameEdit::Browse);
}

void TFileNameEdit::Browse() {
  QFileDialog dialog(this, title_);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(filter_);
  dialog.setDefaultSuffix(defaultExtension_);
  if (!text().isEmpty()) {
    const QFileInfo current(text());
    dialog.setDirectory(current.absolutePath());
    dialog.selectFile(current.fileName());
  }
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
    setText(QDir::toNativeSeparators(dialog.selectedFiles().constFirst()));
}

}  // namespace fw::gui

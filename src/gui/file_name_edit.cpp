#include "gui/file_name_edit.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QStyle>
#include <QToolButton>

#include "core/texts.h"

#include "gui/gui_helpers.h"

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
  browse->setText(Q(texts::kBrowseName));
  browse->setToolTip(Q(texts::kBrowseHint));
  // The keys work while the field has the focus; the button itself stays out of the tab order.
  browse->setShortcuts({QKeySequence(Qt::Key_F4), QKeySequence(Qt::ALT | Qt::Key_Down)});
  browse->setShortcutContext(Qt::WidgetShortcut);
  connect(browse, &QAction::triggered, this, &TFileNameEdit::Browse);
  // The button that the field makes for the action, named for assistive technology.
  for (QToolButton* button : findChildren<QToolButton*>()) {
    if (button->defaultAction() == browse) {
      button->setObjectName(QStringLiteral("BrowseButton"));
      button->setAccessibleName(Q(texts::kBrowseName));
    }
  }
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

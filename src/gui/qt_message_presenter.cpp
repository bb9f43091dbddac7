#include "gui/qt_message_presenter.h"

#include <QApplication>
#include <QMessageBox>

#include "gui/gui_helpers.h"

namespace fw::gui {
namespace {

QMessageBox::Icon IconOf(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information:
      return QMessageBox::Information;
    case MessageIcon::Warning:
      return QMessageBox::Warning;
    case MessageIcon::Error:
      return QMessageBox::Critical;
    case MessageIcon::Question:
      return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons ButtonsOf(MessageButtons buttons) {
  switch (buttons) {
    case MessageButtons::Ok:
      return QMessageBox::Ok;
    case MessageButtons::RetryCancel:
      return QMessageBox::Retry | QMessageBox::Cancel;
    case MessageButtons::YesNo:
      return QMessageBox::Yes | QMessageBox::No;
  }
  return QMessageBox::Ok;
}

QMessageBox::StandardButton ButtonOfCode(int code) {
  switch (code) {
    case kIdCancel:
      return QMessageBox::Cancel;
    case kIdRetry:
      return QMessageBox::Retry;
    case kIdYes:
      return QMessageBox::Yes;
    case kIdNo:
      return QMessageBox::No;
    default:
      return QMessageBox::Ok;
  }
}

int CodeOfButton(int button) {
  switch (button) {
    case QMessageBox::Ok:
      return kIdOk;
    case QMessageBox::Cancel:
      return kIdCancel;
    case QMessageBox::Retry:
      return kIdRetry;
    case QMessageBox::Yes:
      return kIdYes;
    case QMessageBox::No:
      return kIdNo;
    default:
      return kIdNone;
  }
}

}  // namespace

int QtMessagePresenter::Show(std::string_view caption, std::string_view text,
                             const MessageStyle& style) {
  QMessageBox box(IconOf(style.icon), DisplayText(caption), DisplayText(text),
                  ButtonsOf(style.buttons), QApplication::activeWindow());
  box.setDefaultButton(ButtonOfCode(style.defaultButton));
  box.setWindowModality(Qt::ApplicationModal);
  return CodeOfButton(box.exec());
}

}  // namespace fw::gui

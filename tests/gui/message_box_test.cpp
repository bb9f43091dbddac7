// The message boxes of the application: caption, icon, buttons (in Russian), the default button of
// each kind and the LF CR line breaks shown as one.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "core/messages.h"
#include "core/texts.h"
#include "gui/application.h"
#include "gui/qt_message_presenter.h"

namespace fw::gui {

class MessageBoxTest : public QObject {
  Q_OBJECT

 private:
  // Shows a message of the kind, presses `key` in the box once it is up and returns the result
  // with what the box showed.
  int Press(int kind, Qt::Key key, QMessageBox** seen, QString* text, QString* title,
            QMessageBox::Icon* icon) {
    QTimer::singleShot(0, this, [=] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr)
        return;
      *seen = box;
      *text = box->text();
      *title = box->windowTitle();
      *icon = box->icon();
      QTest::keyClick(box, key);
    });
    QtMessagePresenter presenter;
    return UserMessage(presenter, "Строка 1\n\rСтрока 2\r\nСтрока 3", kind);
  }

 private slots:
  // The application as the program sets it up: its icon and Qt's Russian texts.
  void initTestCase() {
    qputenv("LANGUAGE", "en");
    QLocale::setDefault(QLocale(QLocale::English));
    SetUpApplication();
  }

  void eachKindHasItsButtonsAndDefault_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("enterResult");
    QTest::addColumn<int>("icon");
    QTest::newRow("information") << int{mkInformation} << kIdOk << int{QMessageBox::Information};
    QTest::newRow("warning") << int{mkWarning} << kIdRetry << int{QMessageBox::Warning};
    QTest::newRow("error") << int{mkError} << kIdOk << int{QMessageBox::Critical};
    QTest::newRow("question") << int{mkQuestion} << kIdNo << int{QMessageBox::Question};
  }
  void eachKindHasItsButtonsAndDefault() {
    QFETCH(int, kind);
    QFETCH(int, enterResult);
    QFETCH(int, icon);
    QMessageBox* box = nullptr;
    QString text;
    QString title;
    QMessageBox::Icon shownIcon = QMessageBox::NoIcon;
    QCOMPARE(Press(kind, Qt::Key_Return, &box, &text, &title, &shownIcon), enterResult);
    QVERIFY(box != nullptr);
    QCOMPARE(text, QStringLiteral("Строка 1\nСтрока 2\nСтрока 3"));
    QCOMPARE(title, QStringLiteral("Kerrow Ltd Firmware Updater"));
    QCOMPARE(int{shownIcon}, icon);
  }

  void applicationIconIsSetAndNoDisplayNameIsAppendedToTitles() {
    // A display name would be appended to every title bar ("… — Kerrow Ltd Firmware Updater").
    QCOMPARE(QApplication::applicationDisplayName(), QApplication::applicationName());
    QVERIFY(!QApplication::windowIcon().isNull());
  }

  // Qt's own texts are Russian whatever the desktop's language: the format question's buttons
  // read as its text asks ('После ответа "Да"').
  void formatQuestionHasRussianButtons() {
    QString yes;
    QString no;
    QTimer::singleShot(0, this, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr)
        return;
      yes = box->button(QMessageBox::Yes)->text().remove(QLatin1Char('&'));
      no = box->button(QMessageBox::No)->text().remove(QLatin1Char('&'));
      QTest::keyClick(box, Qt::Key_Escape);
    });
    QtMessagePresenter presenter;
    UserMessage(presenter, texts::kFormatConfirm, mkQuestion);
    QCOMPARE(yes, QStringLiteral("Да"));
    QCOMPARE(no, QStringLiteral("Нет"));
  }

  void kindOutsideTheTableShowsNothing() {
    QtMessagePresenter presenter;
    QCOMPARE(UserMessage(presenter, "x", 5), kIdNone);
  }
};

}  // namespace fw::gui

QTEST_MAIN(fw::gui::MessageBoxTest)
#include "message_box_test.moc"

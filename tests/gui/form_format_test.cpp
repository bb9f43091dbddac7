// The card preparation dialog on fake removable volumes: discovery and the size rules, the
// question, formatting, the card data file written with progress and abort, and closing.
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include "core/texts.h"
#include "gui/form_format.h"
#include "gui/spin_field.h"
#include "gui/window_fixture.h"
#include "platform/process.h"

namespace fw::gui {
namespace {

namespace fs = std::filesystem;
constexpr std::int64_t kMB = 1048576;
constexpr int kWaitMs = 20000;

// Waits on the calling thread, at most kWaitMs, until `done` holds.
void WaitFor(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  while (!done() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Holds a fake format until released, as a system asking for a password does.
struct FormatGate {
  std::atomic<bool> entered = false;
  std::atomic<bool> released = false;
  std::function<void()> Hold() {
    return [this] {
      entered = true;
      WaitFor([this] { return released.load(); });
    };
  }
};

std::uint32_t ReadLe32(const std::vector<char>& bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i)
    value = (value << 8) | static_cast<unsigned char>(bytes[offset + static_cast<std::size_t>(i)]);
  return value;
}

}  // namespace

class FormFormatTest : public QObject, private test::WindowFixture {
  Q_OBJECT

 private:
  std::unique_ptr<TFormFormat> form_;

  fs::path Folder(const std::string& name) {
    const fs::path folder = Dir() / name;
    fs::create_directories(folder);
    return folder;
  }
  template <typename T>
  T* Control(const char* name) {
    return WindowFixture::Control<T>(*form_, name);
  }
  void Show() { ShowActive(*form_); }
  // Presses the start button and waits until the preparation it started (if any) has finished.
  void Start() {
    QTest::mouseClick(Control<QPushButton>("BtnF"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!form_->Running(), kWaitMs);
  }
  // Records the counter texts as the worker reports them (read them once it has finished); at the
  // text ending with `last`, the worker waits until `press`, run on the window's thread, has
  // asked it to stop: the stop then comes at that point of the writing, however fast it goes.
  void PressAtCounter(QStringList& counters, const QString& last, std::function<void()> press) {
    connect(
        form_.get(), &TFormFormat::CounterTextChanged, form_.get(),
        [this, &counters, last, press](const QString& text) {
          counters << text;
          if (!text.endsWith(last))
            return;
          QMetaObject::invokeMethod(form_.get(), press, Qt::QueuedConnection);
          WaitFor([this] { return form_->AbortRequested(); });
        },
        Qt::DirectConnection);
  }
  bool CalledFormat() const {
    for (const auto& call : volumes_->Calls()) {
      if (call.rfind("FormatFat16", 0) == 0)
        return true;
    }
    return false;
  }
  // A card that is not empty, with `freeMB` free after the format.
  platform::FakeCard& UsedCard(const std::string& id, std::int64_t sizeMB, std::int64_t freeMB) {
    auto& card = volumes_->AddCard(Folder(id), id, sizeMB * kMB, sizeMB * kMB / 2);
    card.script.freeSpace = freeMB * kMB;
    return card;
  }

 private slots:
  void init() {
    ResetFixture();
    form_ = std::make_unique<TFormFormat>(*volumes_, *presenter_);
  }
  void cleanup() { form_.reset(); }

  void listsEveryCardAndSelectsTheFirst() {
    QCOMPARE(form_->windowTitle(), QStringLiteral("Форматирование ММС"));
    volumes_->AddCard(Folder("sdb1"), "sdb1", 125 * kMB, 120 * kMB, "REC", "vfat");
    volumes_->AddCard(Folder("sdc1"), "sdc1", 15 * kMB, 15 * kMB, "", "FAT");
    Show();
    auto* drives = Control<QComboBox>("CBDrives");
    QCOMPARE(drives->count(), 2);
    QCOMPARE(drives->currentIndex(), 0);
    QCOMPARE(drives->itemText(0),
             QStringLiteral("sdb1:  Метка:REC (vfat)  Размер: 125M  Свободно: 120M"));
    QCOMPARE(drives->itemText(1),
             QStringLiteral("sdc1:  Метка: (FAT)  Размер: 15M  Свободно: 15M"));
    QCOMPARE(Control<QComboBox>("CBSes")->currentText(), QStringLiteral("50"));
    QVERIFY(!Control<QProgressBar>("Progress")->isVisible());
    QCOMPARE(Control<TSpinField>("Esize")->Value(), 125);

    // Choosing the second card applies its limits; typing a size resets EXTENDED.
    drives->setFocus();
    QTest::keyClick(drives, Qt::Key_Down);
    QCOMPARE(Control<TSpinField>("Esize")->maximum(), 15);
    QCOMPARE(Control<TSpinField>("EExtSize")->Value(), 2);
    Control<TSpinField>("EExtSize")->SetValue(5);
    Control<TSpinField>("Esize")->SetValue(10);
    QCOMPARE(Control<TSpinField>("EExtSize")->maximum(), 5);
    QCOMPARE(Control<TSpinField>("EExtSize")->Value(), 1);
  }

  void sizeLimitsFollowTheCard_data() {
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("sizeMin");
    QTest::addColumn<int>("extMax");
    QTest::addColumn<int>("ext");
    QTest::newRow("125 MB") << qint64{125 * kMB} << 125 << 1 << 62 << 12;
    QTest::newRow("15 MB") << qint64{15 * kMB} << 15 << 1 << 7 << 2;
    QTest::newRow("under 1 MB") << qint64{kMB - 1} << 0 << 0 << 0 << 0;
  }
  void sizeLimitsFollowTheCard() {
    QFETCH(qint64, bytes);
    QFETCH(int, size);
    QFETCH(int, sizeMin);
    QFETCH(int, extMax);
    QFETCH(int, ext);
    volumes_->AddCard(Folder("card"), "card", bytes, bytes / 2);
    Show();
    auto* sizeField = Control<TSpinField>("Esize");
    auto* extField = Control<TSpinField>("EExtSize");
    QCOMPARE(sizeField->maximum(), size);
    QCOMPARE(sizeField->minimum(), sizeMin);
    QCOMPARE(sizeField->Value(), size);
    QCOMPARE(extField->maximum(), extMax);
    QCOMPARE(extField->Value(), ext);
  }

  void noCardShowsTheMessageAndClosesByItself() {
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, form_.get(), [this] { form_->done(99); });
    guard.start(5000);
    QCOMPARE(form_->exec(), int{QDialog::Rejected});
    QCOMPARE(presenter_->Texts(), std::vector<std::string>{std::string(texts::kNoCards)});
    QCOMPARE(presenter_->shown[0].style.icon, MessageIcon::Information);
    QCOMPARE(Control<QComboBox>("CBDrives")->currentIndex(), -1);
  }

  void showingAgainDiscoversAfresh() {
    volumes_->AddCard(Folder("sdb1"), "sdb1", 64 * kMB, 64 * kMB);
    fs::current_path(Folder("sdb1"));
    Show();
    QVERIFY(fs::current_path() == platform::ExecutableDir());  // it keeps no card busy
    Control<QComboBox>("CBSes")->setCurrentIndex(3);
    form_->hide();
    volumes_->AddCard(Folder("sdc1"), "sdc1", 32 * kMB, 32 * kMB);
    Show();
    QCOMPARE(form_->Drives().size(), std::size_t{2});
    QCOMPARE(Control<QComboBox>("CBDrives")->count(), 2);
    QCOMPARE(Control<QComboBox>("CBSes")->currentText(), QStringLiteral("50"));
    QCOMPARE(Control<TSpinField>("Esize")->Value(), 64);
  }

  void answeringNoChangesNothing() {
    UsedCard("sdb1", 16, 12);
    Show();
    presenter_->answers = {kIdNo};
    QTest::mouseClick(Control<QPushButton>("BtnF"), Qt::LeftButton);
    QCOMPARE(presenter_->Texts(), std::vector<std::string>{std::string(texts::kFormatConfirm)});
    QCOMPARE(presenter_->shown[0].style.defaultButton, kIdNo);
    QVERIFY(!CalledFormat());
    QCOMPARE(Control<QLabel>("LStatus")->text(), QString());
    QVERIFY(!fs::exists(Folder("sdb1") / "data.rgd"));
    QVERIFY(form_->isVisible());
  }

  void failedFormatLeavesTheStatusAndNoFile() {
    UsedCard("sdb1", 16, 12).script.formatSucceeds = false;
    Show();
    presenter_->answers = {kIdYes};
    Start();
    QVERIFY(CalledFormat());
    QCOMPARE(Control<QLabel>("LStatus")->text(), QStringLiteral("Форматирование НЕ выполнено!"));
    QCOMPARE(presenter_->shown.size(), std::size_t{1});
    QVERIFY(!fs::exists(Folder("sdb1") / "data.rgd"));
    QCOMPARE(Control<QPushButton>("BtnF")->text(), QStringLiteral("Форматировать"));
  }

  void emptyCardIsWrittenWithoutQuestionOrFormat() {
    volumes_->AddCard(Folder("sdb1"), "sdb1", 4 * kMB, 4 * kMB).script.freeSpace = 4 * kMB;
    Show();
    Control<TSpinField>("Esize")->SetValue(1);
    Start();
    QVERIFY(!CalledFormat());
    QCOMPARE(presenter_->shown.size(), std::size_t{1});
    QVERIFY(presenter_->shown[0].text.find("размером 1048576 байт, содержащий 2047") !=
            std::string::npos);
    QCOMPARE(fs::file_size(Folder("sdb1") / "data.rgd"), std::uintmax_t{1048576});
  }

  void fullRunWritesTheCardDataFileAndCloses() {
    UsedCard("sdb1", 16, 10);
    Show();
    Control<QComboBox>("CBSes")->setCurrentIndex(2);  // 500 sessions
    Control<TSpinField>("EExtSize")->SetValue(1);
    presenter_->answers = {kIdYes};
    Start();
    QVERIFY(CalledFormat());
    const fs::path file = Folder("sdb1") / "data.rgd";
    const std::string expected = "Форматирование завершено. Создан файл " + file.string() +
                                 " ,\n\rразмером 10485760 байт, содержащий 20479 страниц данных";
    QCOMPARE(presenter_->Texts(),
             (std::vector<std::string>{std::string(texts::kFormatConfirm), expected}));
    QCOMPARE(form_->result(), int{QDialog::Accepted});
    QVERIFY(!form_->isVisible());
    QCOMPARE(fs::file_size(file), std::uintmax_t{10485760});
    std::ifstream in(file, std::ios::binary);
    std::vector<char> header(512);
    in.read(header.data(), 512);
    QCOMPARE(std::string(header.data(), 8), std::string("NUBRA-7Q"));
    QCOMPARE(ReadLe32(header, 12), 20479u);  // data pages
    QCOMPARE(ReadLe32(header, 28), 2000u);   // sessions pages: 500 x 4
    QCOMPARE(ReadLe32(header, 36), 2048u);   // EXTENDED pages: 1 MB
    std::vector<char> page(512);
    in.seekg(20479 * 512);
    in.read(page.data(), 512);
    QCOMPARE(std::count(page.begin(), page.end(), 0), 512L);
    QVERIFY(!form_->Writing());
    QVERIFY(Control<QPushButton>("BtnClose")->isEnabled());
  }

  void escapeAfter3000PagesAbortsAndKeepsTheDialogOpen() {
    UsedCard("sdb1", 16, 10);
    Show();
    presenter_->answers = {kIdYes};
    QStringList counters;
    bool writingSeen = false;
    PressAtCounter(counters, QStringLiteral(" 3000"), [&] {
      writingSeen = Control<QPushButton>("BtnF")->text() == "Прервать" &&
                    !Control<QPushButton>("BtnClose")->isEnabled() &&
                    Control<QProgressBar>("Progress")->isVisible();
      QTest::keyClick(form_.get(), Qt::Key_Escape);
    });
    Start();
    QCOMPARE(counters,
             (QStringList{"Запись страницы 1000", "Запись страницы 2000", "Запись страницы 3000"}));
    QVERIFY(writingSeen);
    QCOMPARE(presenter_->Texts().back(), std::string(texts::kFormatAborted));
    QVERIFY(!fs::exists(Folder("sdb1") / "data.rgd"));
    QVERIFY(form_->isVisible());
    QCOMPARE(Control<QLabel>("LStatus")->text(), QString());
    QCOMPARE(Control<QLabel>("LProgress")->text(), QString());
    QVERIFY(!Control<QProgressBar>("Progress")->isVisible());
    QCOMPARE(Control<QPushButton>("BtnF")->text(), QStringLiteral("Форматировать"));
    QVERIFY(Control<QPushButton>("BtnClose")->isEnabled());

    // Idle again: Esc closes the dialog with cancel.
    QTest::keyClick(form_.get(), Qt::Key_Escape);
    QVERIFY(!form_->isVisible());
    QCOMPARE(form_->result(), int{QDialog::Rejected});
  }

  // 2000 data pages: a click on "Прервать" while the last block's events are processed still
  // aborts the preparation.
  void abortDuringTheLastBlockIsHonoured() {
    UsedCard("sdb1", 16, 0).script.freeSpace = 2001 * 512;
    Show();
    Control<TSpinField>("EExtSize")->SetValue(0);
    presenter_->answers = {kIdYes};
    QStringList counters;
    PressAtCounter(counters, QStringLiteral(" 2000"),
                   [this] { QTest::mouseClick(Control<QPushButton>("BtnF"), Qt::LeftButton); });
    Start();
    QCOMPARE(counters, (QStringList{"Запись страницы 1000", "Запись страницы 2000"}));
    QCOMPARE(presenter_->Texts(), (std::vector<std::string>{std::string(texts::kFormatConfirm),
                                                            std::string(texts::kFormatAborted)}));
    QVERIFY(!fs::exists(Folder("sdb1") / "data.rgd"));
    QVERIFY(form_->isVisible());
    QVERIFY(!form_->Writing());
  }

  // Enter presses the focused button only: in a field it starts nothing.
  void enterPressesTheFocusedButtonOnly() {
    UsedCard("sdb1", 16, 10);
    Show();
    for (const char* name : {"Esize", "CBSes", "EExtSize", "CBDrives"}) {
      QWidget* control = Control<QWidget>(name);
      control->setFocus();
      QTest::keyClick(control, Qt::Key_Return);
      QVERIFY2(presenter_->shown.empty() && form_->isVisible(), name);
    }
    auto* start = Control<QPushButton>("BtnF");
    start->setFocus();
    QTest::keyClick(start, Qt::Key_Return);  // the question, answered No by default
    QCOMPARE(presenter_->Texts(), std::vector<std::string>{std::string(texts::kFormatConfirm)});
    QVERIFY(form_->isVisible());
    auto* close = Control<QPushButton>("BtnClose");
    close->setFocus();
    QTest::keyClick(close, Qt::Key_Enter, Qt::KeypadModifier);
    QVERIFY(!form_->isVisible());
    QCOMPARE(form_->result(), int{QDialog::Rejected});
  }

  void fieldsHaveTheirCaptionsAsNamesAndBuddies() {
    const std::pair<const char*, QString> captions[] = {
        {"Esize", "Размер файла в мегабайтах (МВ)"},
        {"CBSes", "Максимальное число сессий"},
        {"EExtSize", "Размер секции EXTENDED (MB)"},
        {"CBDrives", "Диск для форматирования"},
    };
    for (const auto& [name, caption] : captions) {
      QWidget* control = Control<QWidget>(name);
      QCOMPARE(control->accessibleName(), caption);
      bool buddy = false;
      for (const QLabel* label : form_->findChildren<QLabel*>())
        buddy = buddy || label->buddy() == control;
      QVERIFY2(buddy, name);
    }
  }

  // A 2 MB card data file on a used 16 MB card, started and held inside the format until the
  // gate is released.
  void StartARunHeldInTheFormat(FormatGate& gate) {
    UsedCard("sdb1", 16, 10).script.duringFormat = gate.Hold();
    Show();
    Control<TSpinField>("Esize")->SetValue(2);
    presenter_->answers = {kIdYes};
    QTest::mouseClick(Control<QPushButton>("BtnF"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(gate.entered.load(), kWaitMs);
  }

  // The format blocks (the system asks for a password): the window goes on handling its events,
  // "Выход" and the start button wait, and the run goes on once the format returns.
  void theWindowStaysResponsiveWhileTheFormatBlocks() {
    FormatGate gate;
    StartARunHeldInTheFormat(gate);
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, this, [&ticks] { ++ticks; });
    timer.start(5);
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 10, kWaitMs);
    QVERIFY(!gate.released.load() && form_->Running());
    QCOMPARE(Control<QLabel>("LStatus")->text(), QStringLiteral("Форматирование файловой системы"));
    QVERIFY(!Control<QPushButton>("BtnClose")->isEnabled());
    QVERIFY(!Control<QPushButton>("BtnF")->isEnabled());
    QTest::mouseClick(Control<QPushButton>("BtnClose"), Qt::LeftButton);  // disabled: nothing
    gate.released = true;
    QTRY_VERIFY_WITH_TIMEOUT(!form_->Running(), kWaitMs);
    QCOMPARE(form_->result(), int{QDialog::Accepted});
    QCOMPARE(fs::file_size(Folder("sdb1") / "data.rgd"), std::uintmax_t{2 * kMB});
  }

  // The close box during the run asks it to stop and closes the dialog once it has stopped: the
  // format (which cannot be stopped halfway) ends, no card data file is left.
  void closingWhileItRunsWaitsForTheAbort() {
    FormatGate gate;
    StartARunHeldInTheFormat(gate);
    QVERIFY(!form_->close());
    QVERIFY(form_->isVisible());
    QVERIFY(form_->AbortRequested());
    gate.released = true;
    QTRY_VERIFY_WITH_TIMEOUT(!form_->isVisible(), kWaitMs);
    QVERIFY(!form_->Running());
    QCOMPARE(form_->result(), int{QDialog::Rejected});
    QCOMPARE(presenter_->Texts().back(), std::string(texts::kFormatAborted));
    QVERIFY(!fs::exists(Folder("sdb1") / "data.rgd"));
  }

  void refusalsAreShownBeforeAnythingHappens() {
    UsedCard("sdb1", 16, 10);
    Show();
    Control<QComboBox>("CBSes")->setEditText(QStringLiteral("много"));
    QTest::mouseClick(Control<QPushButton>("BtnF"), Qt::LeftButton);
    QCOMPARE(presenter_->shown.size(), std::size_t{1});
    QVERIFY(presenter_->shown[0].text.find("\"много\"") != std::string::npos);

    presenter_->shown.clear();
    Control<QComboBox>("CBSes")->setCurrentIndex(3);  // 1000 sessions need 4000 pages
    Control<TSpinField>("Esize")->SetValue(1);
    QTest::mouseClick(Control<QPushButton>("BtnF"), Qt::LeftButton);
    QCOMPARE(presenter_->shown.size(), std::size_t{1});
    QCOMPARE(presenter_->shown[0].style.icon, MessageIcon::Error);
    QVERIFY(!CalledFormat());
    QVERIFY(!fs::exists(Folder("sdb1") / "data.rgd"));
  }
};

}  // namespace fw::gui

QTEST_MAIN(fw::gui::FormFormatTest)
#include "form_format_test.moc"

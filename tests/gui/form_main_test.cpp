// The main window driven with keys and clicks: start-up defaults, the settings it restores and
// saves, the write command's refusals and a write, the information grids, and Esc.
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "core/carddata_create.h"
#include "core/carddata_file.h"
#include "core/entry_table.h"
#include "core/settings.h"
#include "core/texts.h"
#include "gui/application.h"
#include "gui/form_main.h"
#include "gui/gui_helpers.h"
#include "gui/spin_field.h"
#include "gui/string_grid.h"
#include "gui/window_fixture.h"
#include "platform/process.h"
#include "platform/settings_store.h"
#include "support/fault_devices.h"
#include "support/files.h"
#include "support/stored_settings.h"

namespace fw::gui {
namespace {

namespace fs = std::filesystem;

using fw::test::ReadText;
using fw::test::WriteText;
using platform::SettingValue;

// Named values of the window's settings, in the order the window reads them.
using Settings = std::vector<std::pair<std::string, SettingValue>>;
SettingValue Int(std::int32_t value) {
  return SettingValue::Integer(value);
}
SettingValue Text(std::string value) {
  return SettingValue::Text(std::move(value));
}

constexpr char kCatalogue[] =
    "[DEVICE_1]\nNAME=Recorder A\nHCLASS=0\nHREL=3\nSVER=5\n"
    "[DEVICE_2]\nNAME=Recorder B\nHCLASS=7\nHREL=2\nSVER=9\n";

// Program words at addresses 0 and 2: GOTO 0x000100.
constexpr char kHex[] = ":080000000001040000000000F3\n:00000001FF\n";

}  // namespace

class FormMainTest : public QObject, private test::WindowFixture {
  Q_OBJECT

 private:
  // The window's settings where this system keeps them (a file under $XDG_CONFIG_HOME, which
  // init points into the test's folder; on Windows the registry), through the store itself.
  static std::unique_ptr<platform::SettingsStore> Store() {
    return platform::OpenSettingsStore(kSettingsKeyPath, kSettingsSubkey);
  }
  static void StoreSettings(const Settings& values) {
    auto store = Store();
    for (const auto& [name, value] : values)
      store->Write(name, value);
    store->Flush();
  }
  static std::optional<SettingValue> Stored(std::string_view name) { return Store()->Read(name); }
  static void CheckStored(const Settings& values) {
    for (const auto& [name, value] : values)
      QVERIFY2(Stored(name) == value, name.c_str());
  }
  std::string CardFile() {
    const fs::path path = Dir() / "data.rgd";
    CreateCardDataFile(path.string(), MakeCardLayout(1024, 50, 512));
    return path.string();
  }

  std::unique_ptr<TFormMain> Window(CardDeviceOpener openCard = {}) {
    MainWindowServices services;
    services.presenter = presenter_.get();
    services.volumes = volumes_.get();
    services.catalogPath = Dir() / "DEV_LIST.dat";
    services.openCard = std::move(openCard);
    return std::make_unique<TFormMain>(services);
  }
  // A window with the firmware and a new card filled in, and two entries written (absolute
  // pages 201 and 204).
  std::unique_ptr<TFormMain> WindowWithTwoEntries(std::string& card,
                                                  CardDeviceOpener openCard = {}) {
    card = CardFile();
    WriteText(Dir() / "fw.hex", kHex);
    auto window = Window(std::move(openCard));
    Control<QLineEdit>(*window, "EFnamehex")->setText(Q((Dir() / "fw.hex").string()));
    Control<QLineEdit>(*window, "EFnamedest")->setText(Q(card));
    window->BtnProcessClick();
    window->BtnProcessClick();
    return window;
  }

 private slots:
  // The windows are laid out for the application's font.
  void initTestCase() { SetUpApplication(); }

  void init() {
    ResetFixture();
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((Dir() / "config").string()));
    fw::test::ForgetStoredSettings(kSettingsKeyPath, kSettingsSubkey);
    WriteText(Dir() / "DEV_LIST.dat", kCatalogue);
  }

  void firstStartShowsDefaultsAndTheFirstDevice() {
    auto window = Window();
    QCOMPARE(window->windowTitle(), QStringLiteral("Firmware Updater v.1.0"));
    QCOMPARE(window->width(), 550);
    QVERIFY(window->height() >= 450);
    QCOMPARE(window->minimumWidth(), window->maximumWidth());
    QCOMPARE(Control<QComboBox>(*window, "CBProc")->currentIndex(), 0);
    QCOMPARE(Control<QComboBox>(*window, "CBProc")->itemText(1),
             QStringLiteral("Recorder B HClass=7 HRel=2 Sver=9"));
    QCOMPARE(Control<QLineEdit>(*window, "EFnamehex")->text(), QString());
    QCOMPARE(Control<QLineEdit>(*window, "EFnamedest")->text(), QString());
    QCOMPARE(Control<QLineEdit>(*window, "Ename")->text(), QStringLiteral("Update"));
    QCOMPARE(Control<QLineEdit>(*window, "Ename")->maxLength(), 16);
    QCOMPARE(Control<TSpinField>(*window, "ESVER")->Value(), 5);
    QCOMPARE(Control<TSpinField>(*window, "ESREL")->Value(), 0);
    QCOMPARE(Control<TSpinField>(*window, "EHCLASS")->Value(), 1);  // class 0 shows as 1
    QCOMPARE(Control<TSpinField>(*window, "EHREL")->Value(), 3);
    QVERIFY(!Control<TSpinField>(*window, "EHCLASS")->isEnabled());
    QVERIFY(!Control<TSpinField>(*window, "EHREL")->isEnabled());
    QVERIFY(!Control<QCheckBox>(*window, "ChBcoded")->isChecked());
    auto* grid = Control<TStringGrid>(*window, "GridMemInfo");
    QCOMPARE(grid->rowCount(), 6);
    QCOMPARE(grid->Cell(1, 2), QStringLiteral("0x017FFE"));
    QCOMPARE(grid->Cell(5, 3), QStringLiteral("0x00000F (15)"));
    QCOMPARE(grid->columnWidth(3),
             grid->fontMetrics().horizontalAdvance(Q(texts::kMemMapCaptions[3])) + 5);
    QCOMPARE(Control<QPushButton>(*window, "BtnOpenRgd")->toolTip(), QStringLiteral("Crtl+F"));
    for (auto* button : window->findChildren<QPushButton*>())
      QVERIFY2(!button->autoDefault() && !button->isDefault(), qPrintable(button->objectName()));
    QVERIFY(presenter_->shown.empty());

    // Picking the second device replaces the memory map and the three device fields.
    auto* list = Control<QComboBox>(*window, "CBProc");
    ShowActive(*window);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    QCOMPARE(list->currentIndex(), 1);
    QCOMPARE(Control<TSpinField>(*window, "EHCLASS")->Value(), 7);
    QCOMPARE(Control<TSpinField>(*window, "ESVER")->Value(), 9);
  }

  void focusOrderSkipsTheDisabledFields() {
    auto window = Window();
    ShowActive(*window);
    const QStringList expected = {
        "EFnamedest", "GridrgdInfo", "BtnOpenRgd", "ChBcoded",    "BtnProcess", "Button2",
        "BitBtn1",    "BtnEject",    "CBProc",     "GridMemInfo", "Ename",      "ESVER",
        "ESREL",      "EFnamehex",   "btnhexinfo", "GridHexInfo", "EFnamedest"};
    Control<QLineEdit>(*window, "EFnamedest")->setFocus();
    QStringList seen;
    for (int i = 0; i < expected.size(); ++i) {
      QWidget* focus = QApplication::focusWidget();
      while (focus != nullptr && focus->objectName().isEmpty())
        focus = focus->parentWidget();
      seen << (focus != nullptr ? focus->objectName() : QStringLiteral("?"));
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QCOMPARE(seen, expected);
  }

  void shortcutsWorkFromEveryControlWithoutMovingTheFocus() {
    const std::string card = CardFile();
    WriteText(Dir() / "fw.hex", kHex);
    volumes_->AddCard(Dir() / "card", "sdb1", 16 << 20, 8 << 20);
    auto window = Window();
    Control<QLineEdit>(*window, "EFnamehex")->setText(Q((Dir() / "fw.hex").string()));
    Control<QLineEdit>(*window, "EFnamedest")->setText(Q(card));
    auto* hexGrid = Control<TStringGrid>(*window, "GridHexInfo");
    auto* cardGrid = Control<TStringGrid>(*window, "GridrgdInfo");
    ShowActive(*window);
    int entries = 0;
    for (const char* name : {"EFnamedest", "GridrgdInfo", "BtnOpenRgd", "ChBcoded", "BtnProcess",
                             "Button2", "BitBtn1", "BtnEject", "CBProc", "GridMemInfo", "Ename",
                             "ESVER", "ESREL", "EFnamehex", "btnhexinfo", "GridHexInfo"}) {
      Control<QWidget>(*window, name)->setFocus();
      QWidget* focus = QApplication::focusWidget();
      hexGrid->setRowCount(0);
      cardGrid->setRowCount(0);
      const std::size_t volumeCalls = volumes_->Calls().size();
      for (const Qt::Key key : {Qt::Key_H, Qt::Key_F, Qt::Key_W, Qt::Key_J})
        QTest::keyClick(focus, key, Qt::ControlModifier);
      ++entries;
      QVERIFY2(hexGrid->rowCount() == 5, name);                // Ctrl+H
      QVERIFY2(cardGrid->rowCount() == entries + 2, name);     // Ctrl+F, then Ctrl+W
      QVERIFY2(volumes_->Calls().size() > volumeCalls, name);  // Ctrl+J looked for the card
      QVERIFY2(QApplication::focusWidget() == focus, name);
    }
    QVERIFY(presenter_->shown.empty());  // the card file lies on no removable volume
  }

  void gridsShowEveryRowAndColumn() {
    const std::string card = CardFile();
    WriteText(Dir() / "fw.hex", kHex);
    auto window = Window();
    Control<QLineEdit>(*window, "EFnamehex")->setText(Q((Dir() / "fw.hex").string()));
    Control<QLineEdit>(*window, "EFnamedest")->setText(Q(card));
    Control<QLineEdit>(*window, "Ename")->setText(QStringLiteral("Регистратор 3.12"));
    ShowActive(*window);
    for (int i = 0; i < 3; ++i)
      window->BtnProcessClick();
    window->btnhexinfoClick();
    QVERIFY(presenter_->shown.empty());
    QCOMPARE(window->width(), 550);
    QVERIFY(window->height() >= 450);
    for (const char* name : {"GridMemInfo", "GridHexInfo", "GridrgdInfo"}) {
      auto* grid = Control<TStringGrid>(*window, name);
      int width = 0;
      for (int c = 0; c < grid->columnCount(); ++c)
        width += grid->columnWidth(c);
      int height = 0;
      for (int r = 0; r < grid->rowCount(); ++r)
        height += grid->rowHeight(r);
      QVERIFY2(grid->rowCount() > 0, name);
      QVERIFY2(width <= grid->viewport()->width(), qPrintable(QStringLiteral("%1: columns %2 > %3")
                                                                  .arg(name)
                                                                  .arg(width)
                                                                  .arg(grid->viewport()->width())));
      QVERIFY2(height <= grid->viewport()->height(),
               qPrintable(QStringLiteral("%1: rows %2 > %3")
                              .arg(name)
                              .arg(height)
                              .arg(grid->viewport()->height())));
    }
  }

  void storedIndexBeyondTheCatalogueSelectsNothing() {
    StoreSettings({{"ProcInd", Int(5)}, {"SVER", Int(300)}});
    {
      auto window = Window();
      QCOMPARE(Control<QComboBox>(*window, "CBProc")->currentIndex(), -1);
      QCOMPARE(Control<TStringGrid>(*window, "GridMemInfo")->Cell(1, 2),
               QStringLiteral("0x017FFE"));
      QCOMPARE(Control<TSpinField>(*window, "EHREL")->Value(), 3);
      QCOMPARE(Control<TSpinField>(*window, "ESVER")->Value(), 255);
      Control<QLineEdit>(*window, "EFnamehex")->setText(Q((Dir() / "DEV_LIST.dat").string()));
      Control<QLineEdit>(*window, "EFnamedest")->setText(Q((Dir() / "DEV_LIST.dat").string()));
      ShowActive(*window);
      QTest::keyClick(window.get(), Qt::Key_W, Qt::ControlModifier);
      QCOMPARE(presenter_->Texts(), std::vector<std::string>{std::string(texts::kNoDevice)});
      QCOMPARE(presenter_->shown[0].caption, std::string(texts::kApplicationTitle));
      QCOMPARE(presenter_->shown[0].style.icon, MessageIcon::Information);
    }
    CheckStored({{"ProcInd", Int(-1)}});
  }

  void settingsRoundTripKeepsTextIntegersAsText() {
    StoreSettings({{"SREL", Text("12")}, {"Crypt", Text("1")}});
    {
      auto window = Window();
      QCOMPARE(Control<TSpinField>(*window, "ESREL")->Value(), 12);
      QVERIFY(Control<QCheckBox>(*window, "ChBcoded")->isChecked());
      Control<QComboBox>(*window, "CBProc")->setCurrentIndex(1);
      Control<QLineEdit>(*window, "EFnamehex")->setText("/tmp/фирма.hex");
      Control<QLineEdit>(*window, "Ename")->setText("Обновление");
      Control<QLineEdit>(*window, "EFnamedest")->setText("/media/card/data.rgd");
      Control<TSpinField>(*window, "ESVER")->SetValue(4);
      Control<TSpinField>(*window, "ESREL")->SetValue(77);
      Control<QCheckBox>(*window, "ChBcoded")->setChecked(false);
    }
    CheckStored({{"ProcInd", Int(1)},
                 {"HEXFile", Text("/tmp/фирма.hex")},
                 {"Updname", Text("Обновление")},
                 {"SREL", Text("77")},
                 {"SVER", Int(4)},
                 {"Crypt", Text("0")},
                 {"HCLASS", Int(1)},
                 {"HREL", Int(3)}});
    auto window = Window();
    QCOMPARE(Control<QComboBox>(*window, "CBProc")->currentIndex(), 1);
    QCOMPARE(Control<QLineEdit>(*window, "EFnamehex")->text(), QStringLiteral("/tmp/фирма.hex"));
    QCOMPARE(Control<QLineEdit>(*window, "Ename")->text(), QStringLiteral("Обновление"));
    QCOMPARE(Control<QLineEdit>(*window, "EFnamedest")->text(),
             QStringLiteral("/media/card/data.rgd"));
    QCOMPARE(Control<TSpinField>(*window, "ESVER")->Value(), 9);  // the device's version wins
    QCOMPARE(Control<TSpinField>(*window, "ESREL")->Value(), 77);
    QVERIFY(!Control<QCheckBox>(*window, "ChBcoded")->isChecked());
    QVERIFY(presenter_->shown.empty());
  }

  void valueOfTheWrongKindStopsTheRestoreAndIsShown() {
    StoreSettings({{"ProcInd", Int(1)},
                   {"HEXFile", Text("a.hex")},
                   {"SVER", Int(3)},
                   {"Updname", Int(4)},
                   {"DestFile", Text("b.rgd")}});
    auto window = Window();
    QCOMPARE(presenter_->shown.size(), std::size_t{1});
    QVERIFY(presenter_->shown[0].text.find("\"Updname\"") != std::string::npos);
    QCOMPARE(presenter_->shown[0].style.icon, MessageIcon::Error);
    QCOMPARE(Control<QComboBox>(*window, "CBProc")->currentIndex(), 1);
    QCOMPARE(Control<QLineEdit>(*window, "EFnamehex")->text(), QStringLiteral("a.hex"));
    QCOMPARE(Control<TSpinField>(*window, "ESVER")->Value(), 3);  // no device change ran
    QCOMPARE(Control<QLineEdit>(*window, "Ename")->text(), QStringLiteral("Update"));
    QCOMPARE(Control<QLineEdit>(*window, "EFnamedest")->text(), QString());
    QCOMPARE(Control<TSpinField>(*window, "EHREL")->Value(), 3);  // still the first device's
  }

  void writeIsRefusedForEachMissingInput() {
    const std::string card = CardFile();
    WriteText(Dir() / "fw.hex", kHex);
    const std::string hex = (Dir() / "fw.hex").string();
    struct Case {
      std::string hexPath;
      int device;
      std::string cardPath;
      std::string_view message;
    };
    const Case cases[] = {
        {"", 0, "", texts::kNoHexFile},
        {Dir().string(), 0, card, texts::kNoHexFile},
        {hex, -1, card, texts::kNoDevice},
        {hex, 0, "", texts::kNoCardFile},
        {hex, 0, (Dir() / "missing.rgd").string(), texts::kNoCardFile},
    };
    auto window = Window();
    for (const Case& c : cases) {
      presenter_->shown.clear();
      Control<QLineEdit>(*window, "EFnamehex")->setText(Q(c.hexPath));
      Control<QComboBox>(*window, "CBProc")->setCurrentIndex(c.device);
      Control<QLineEdit>(*window, "EFnamedest")->setText(Q(c.cardPath));
      QTest::mouseClick(Control<QPushButton>(*window, "BtnProcess"), Qt::LeftButton);
      QCOMPARE(presenter_->Texts(), std::vector<std::string>{std::string(c.message)});
    }
  }

  void ctrlWWritesAnEntryAndKeepsFocusAndCurrentRow() {
    const std::string card = CardFile();
    WriteText(Dir() / "fw.hex", kHex);
    auto window = Window();
    Control<QLineEdit>(*window, "EFnamehex")->setText(Q((Dir() / "fw.hex").string()));
    Control<QLineEdit>(*window, "EFnamedest")->setText(Q(card));
    auto* grid = Control<TStringGrid>(*window, "GridrgdInfo");
    auto* name = Control<QLineEdit>(*window, "Ename");
    ShowActive(*window);
    name->setFocus();
    QTest::keyClick(name, Qt::Key_F, Qt::ControlModifier);
    QCOMPARE(grid->rowCount(), 2);  // caption and the empty row
    QCOMPARE(grid->currentRow(), 1);
    QTest::keyClick(name, Qt::Key_W, Qt::ControlModifier);
    QVERIFY2(presenter_->shown.empty(),
             presenter_->shown.empty() ? "" : presenter_->shown[0].text.c_str());
    QCOMPARE(grid->rowCount(), 3);
    QCOMPARE(grid->Cell(1, 2).trimmed(), QStringLiteral("Update"));
    QCOMPARE(grid->currentRow(), 1);
    QCOMPARE(QApplication::focusWidget(), name);
    QCOMPARE(name->text(), QStringLiteral("Update"));
  }

  void entriesHiddenPastTheChainAreWrittenOverOnlyAfterAYes() {
    std::string card;
    auto window = WindowWithTwoEntries(card);
    std::string bytes = ReadText(card);
    bytes[201 * 512] = 0x5B;  // a flipped marker: the chain ends at once, both entries hidden
    WriteText(card, bytes);
    const std::string question =
        "В секции EXTENDED файла ММС " + card +
        " за концом цепочки найдены записи,\n\rкоторых нет в списке (2):\n\rстраница 201, ID 1, "
        "имя \"Update          \"\n\rстраница 204, ID 2, имя \"Update          \"\n\r" +
        std::string(texts::kOrphansQuestion);
    auto* grid = Control<TStringGrid>(*window, "GridrgdInfo");
    presenter_->shown.clear();
    QTest::mouseClick(Control<QPushButton>(*window, "BtnProcess"), Qt::LeftButton);
    QCOMPARE(presenter_->Texts(), std::vector<std::string>{question});
    QCOMPARE(presenter_->shown[0].style.icon, MessageIcon::Question);
    QCOMPARE(presenter_->shown[0].style.defaultButton, kIdNo);  // unanswered: No
    QCOMPARE(ReadText(card), bytes);
    QCOMPARE(grid->rowCount(), 4);  // still the two entries of the last write

    presenter_->shown.clear();
    presenter_->answers.push_back(kIdYes);
    QTest::mouseClick(Control<QPushButton>(*window, "BtnProcess"), Qt::LeftButton);
    QCOMPARE(presenter_->Texts(), std::vector<std::string>{question});
    QCOMPARE(grid->rowCount(), 3);  // the new entry is the chain's only one
    QVERIFY(ReadText(card) != bytes);
  }

  void anEntryWrittenButNotReadBackIsShownAsWrittenThenTheProblem() {
    std::string card;
    int opened = 0;
    // The second write's reads fail once its header page is flushed.
    auto window = WindowWithTwoEntries(card, [&opened](const std::string& path) {
      return std::make_unique<fw::test::ReadsFailAfterSyncs>(platform::OpenForUpdate(path),
                                                             ++opened == 2 ? 2 : 1000);
    });
    const std::string io =
        "Ошибка записи или чтения файла " + card + ": " + std::generic_category().message(EIO);
    QCOMPARE(presenter_->Texts(),
             (std::vector<std::string>{
                 "Обновление записано в файл ММС " + card + ": запись ID 2 (страница 204)",
                 "Файл ММС " + card + " после записи перечитать не удалось: " + io +
                     "\n\rЗапись уже сделана, повторять её не нужно."}));
    QCOMPARE(presenter_->shown[0].style.icon, MessageIcon::Information);
    QCOMPARE(presenter_->shown[1].style.icon, MessageIcon::Error);
    TRgdFile file(card, TRgdFile::Mode::ReadOnly);
    QCOMPARE(file.EntryCount(), 2);
  }

  void hexInformationGridAndItsFailures() {
    WriteText(Dir() / "fw.hex", kHex);
    WriteText(Dir() / "bad.hex", ":04000000zz010400F7\n");
    auto window = Window();
    auto* hexPath = Control<QLineEdit>(*window, "EFnamehex");
    auto* grid = Control<TStringGrid>(*window, "GridHexInfo");
    ShowActive(*window);
    hexPath->setText(Q((Dir() / "fw.hex").string()));
    hexPath->setFocus();
    QTest::keyClick(hexPath, Qt::Key_H, Qt::ControlModifier);
    QVERIFY(presenter_->shown.empty());
    QCOMPARE(QApplication::focusWidget(), hexPath);
    QCOMPARE(grid->rowCount(), 5);
    QCOMPARE(grid->Cell(1, 0), QStringLiteral("Flash"));
    QCOMPARE(grid->Cell(2, 1), QStringLiteral("0x000100"));
    QCOMPARE(grid->Cell(3, 1), QStringLiteral("0x7FF000"));
    QCOMPARE(grid->Cell(2, 2), QString());

    hexPath->setText(Q((Dir() / "bad.hex").string()));
    QTest::keyClick(hexPath, Qt::Key_H, Qt::ControlModifier);
    QCOMPARE(presenter_->shown.size(), std::size_t{1});
    QCOMPARE(presenter_->shown[0].style.icon, MessageIcon::Error);
    QCOMPARE(grid->Cell(2, 1), QStringLiteral("0x000100"));  // the grid keeps its contents

    presenter_->shown.clear();
    hexPath->setText(Q((Dir() / "fw.hex").string()));
    Control<QComboBox>(*window, "CBProc")->setCurrentIndex(-1);
    QTest::mouseClick(Control<QPushButton>(*window, "btnhexinfo"), Qt::LeftButton);
    QCOMPARE(presenter_->Texts(), std::vector<std::string>{"List index out of bounds (-1)"});
  }

  void cardFileInfoFailuresAreShownAndAnEmptyMissingOrFolderPathIsQuiet() {
    WriteText(Dir() / "not-a-card.rgd", std::string(1024, 'x'));
    auto window = Window();
    auto* dest = Control<QLineEdit>(*window, "EFnamedest");
    QTest::mouseClick(Control<QPushButton>(*window, "BtnOpenRgd"), Qt::LeftButton);
    QTest::mouseClick(Control<QPushButton>(*window, "BtnEject"), Qt::LeftButton);
    for (const fs::path& noFile : {Dir() / "missing.rgd", Dir()}) {
      dest->setText(Q(noFile.string()));
      QTest::mouseClick(Control<QPushButton>(*window, "BtnOpenRgd"), Qt::LeftButton);
    }
    QVERIFY(presenter_->shown.empty());
    dest->setText(Q((Dir() / "not-a-card.rgd").string()));
    QTest::mouseClick(Control<QPushButton>(*window, "BtnOpenRgd"), Qt::LeftButton);
    QCOMPARE(presenter_->shown.size(), std::size_t{1});
    QVERIFY(presenter_->shown[0].text.find("неверный формат") != std::string::npos);
  }

  void ejectReportsTheOutcomeForTheCardOfTheDataFile() {
    auto& card = volumes_->AddCard(Dir() / "card", "sdb1", 16 << 20, 8 << 20);
    auto window = Window();
    // A relative path is found against the current directory, which then leaves the card.
    fs::create_directories(Dir() / "card");
    fs::current_path(Dir() / "card");
    Control<QLineEdit>(*window, "EFnamedest")->setText(QStringLiteral("data.rgd"));
    ShowActive(*window);
    QTest::keyClick(Control<QLineEdit>(*window, "Ename"), Qt::Key_J, Qt::ControlModifier);
    QVERIFY(fs::current_path() == platform::ExecutableDir());
    QTRY_VERIFY(!window->Ejecting());
    QCOMPARE(presenter_->Texts(),
             std::vector<std::string>{"Диск sdb1: может быть безопасно извлечен"});
    QCOMPARE(presenter_->shown[0].style.icon, MessageIcon::Information);
    QCOMPARE(volumes_->Calls().back(), std::string("Eject sdb1"));

    presenter_->shown.clear();
    card.script.ejectSucceeds = false;
    Control<QLineEdit>(*window, "EFnamedest")->setText(Q((Dir() / "card" / "data.rgd").string()));
    QTest::mouseClick(Control<QPushButton>(*window, "BtnEject"), Qt::LeftButton);
    QTRY_VERIFY(!window->Ejecting());
    QCOMPARE(presenter_->shown.size(), std::size_t{1});
    QVERIFY(presenter_->shown[0].text.rfind("Ошибка при попытке извлечения диска sdb1:\n\r", 0) ==
            0);
    QCOMPARE(presenter_->shown[0].style.icon, MessageIcon::Error);

    presenter_->shown.clear();
    Control<QLineEdit>(*window, "EFnamedest")->setText(Q((Dir() / "data.rgd").string()));
    QTest::mouseClick(Control<QPushButton>(*window, "BtnEject"), Qt::LeftButton);
    QVERIFY(presenter_->shown.empty());  // on no removable volume: nothing to say
  }

  // The eject waits (for a password, or for programs to let go of the card): the window goes on
  // handling its events but takes no command until the eject has ended; closing it then waits.
  void theWindowStaysAliveWhileAnEjectWaits() {
    std::atomic<bool> entered = false, released = false;
    volumes_->AddCard(Dir() / "card", "sdb1", 16 << 20, 8 << 20).script.duringEject = [&] {
      entered = true;
      for (int i = 0; i < 20000 && !released; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    auto window = Window();
    Control<QLineEdit>(*window, "EFnamedest")->setText(Q((Dir() / "card" / "data.rgd").string()));
    ShowActive(*window);
    QTest::mouseClick(Control<QPushButton>(*window, "BtnEject"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(entered.load(), 20000);
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, this, [&ticks] { ++ticks; });
    timer.start(5);
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 10, 20000);
    QVERIFY(window->Ejecting());
    QVERIFY(!Control<QPushButton>(*window, "BtnProcess")->isEnabled());
    QVERIFY(!window->close());
    QVERIFY(presenter_->shown.empty());
    released = true;
    QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), 20000);
    QCOMPARE(presenter_->Texts(),
             std::vector<std::string>{"Диск sdb1: может быть безопасно извлечен"});
  }

  void formatButtonShowsTheSameDialogEveryTime() {
    auto window = Window();
    QDialog dialog(window.get());
    int shown = 0;
    connect(&dialog, &QDialog::finished, this, [&] { ++shown; });
    window->SetFormatDialog(&dialog);
    for (int i = 0; i < 2; ++i) {
      QTimer::singleShot(0, &dialog, &QDialog::reject);
      QTest::mouseClick(Control<QPushButton>(*window, "Button2"), Qt::LeftButton);
    }
    QCOMPARE(shown, 2);
  }

  void catalogueFailureSkipsTheRestoreAndKeepsTheDevicesRead() {
    WriteText(Dir() / "DEV_LIST.dat",
              "[DEVICE_1]\nNAME=Recorder A\n[DEVICE_2]\nNAME=Recorder B\nHCLASS=abc\n");
    StoreSettings({{"HEXFile", Text("a.hex")}});
    auto window = Window();
    QCOMPARE(presenter_->Texts(), std::vector<std::string>{"'abc' is not a valid integer value."});
    auto* list = Control<QComboBox>(*window, "CBProc");
    QCOMPARE(list->count(), 1);
    QCOMPARE(list->currentIndex(), -1);
    QCOMPARE(Control<QLineEdit>(*window, "EFnamehex")->text(), QString());
    QCOMPARE(Control<TStringGrid>(*window, "GridMemInfo")->rowCount(), 0);
  }

  void brokenSettingsFileIsReportedAndNeverOverwritten() {
#ifdef _WIN32
    QSKIP("the registry keeps typed values: there is no settings file to break");
#endif
    const fs::path file = Dir() / "config" / "Kerrow" / "Lintrak" / "1.0.ini";
    const std::string broken = "[Software\\Kerrow\\Lintrak\\1.0]\nProcInd=1\n";
    WriteText(file, broken);
    {
      auto window = Window();
      QCOMPARE(presenter_->shown.size(), std::size_t{1});
      QVERIFY(presenter_->shown[0].text.find(file.string() + " повреждён (строка 2)") !=
              std::string::npos);
      QCOMPARE(Control<QComboBox>(*window, "CBProc")->currentIndex(), 0);
    }
    QCOMPARE(presenter_->shown.size(), std::size_t{2});  // saving at exit is refused as well
    QCOMPARE(ReadText(file), broken);
  }

  void escapeClosesADroppedDownListFirst() {
    auto window = Window();
    ShowActive(*window);
    auto* list = Control<QComboBox>(*window, "CBProc");
    list->setFocus();
    list->showPopup();
    QWidget* popup = QApplication::activePopupWidget();
    QVERIFY(popup != nullptr);
    QTest::keyClick(popup, Qt::Key_Escape);
    QTRY_VERIFY(QApplication::activePopupWidget() == nullptr);
    QVERIFY(window->isVisible());
    QTest::keyClick(list, Qt::Key_Escape);
    QVERIFY(!window->isVisible());
  }

  // Start, change fields, Esc, start again: the fields come back (from the settings file here,
  // from the registry on Windows).
  void escapeClosesTheWindowAndSavesTheSettings() {
    auto window = Window();
    ShowActive(*window);
    auto* list = Control<QComboBox>(*window, "CBProc");
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    auto* name = Control<QLineEdit>(*window, "Ename");
    name->setFocus();
    QTest::keyClicks(name, "X");
    QTest::keyClick(name, Qt::Key_Escape);
    QVERIFY(!window->isVisible());
    QVERIFY(!Stored("Updname"));
    window.reset();
    CheckStored({{"ProcInd", Int(1)}, {"Updname", Text("UpdateX")}});
    window = Window();
    QCOMPARE(Control<QComboBox>(*window, "CBProc")->currentIndex(), 1);
    QCOMPARE(Control<QLineEdit>(*window, "Ename")->text(), QStringLiteral("UpdateX"));
  }

  // Enter presses the focused button, and only that one; in an edit field it presses nothing.
  void enterPressesTheFocusedButtonOnly() {
    const std::string card = CardFile();
    auto window = Window();
    Control<QLineEdit>(*window, "EFnamedest")->setText(Q(card));
    auto* grid = Control<TStringGrid>(*window, "GridrgdInfo");
    ShowActive(*window);
    for (const char* name : {"Ename", "EFnamedest", "ESVER", "ChBcoded", "GridMemInfo"}) {
      QWidget* control = Control<QWidget>(*window, name);
      control->setFocus();
      QTest::keyClick(control, Qt::Key_Return);
      QTest::keyClick(control, Qt::Key_Enter, Qt::KeypadModifier);
      QVERIFY2(presenter_->shown.empty() && grid->rowCount() == 0, name);
    }
    auto* info = Control<QPushButton>(*window, "BtnOpenRgd");
    info->setFocus();
    QTest::keyClick(info, Qt::Key_Return);
    QCOMPARE(grid->rowCount(), 2);  // "Инфо" ran, and nothing else
    QVERIFY(presenter_->shown.empty());
    auto* write = Control<QPushButton>(*window, "BtnProcess");
    write->setFocus();
    QTest::keyClick(write, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(presenter_->Texts(), std::vector<std::string>{std::string(texts::kNoHexFile)});
    auto* exit = Control<QPushButton>(*window, "BitBtn1");
    exit->setFocus();
    QTest::keyClick(exit, Qt::Key_Return);
    QVERIFY(!window->isVisible());
  }

  // The entry list writes dates with the desktop's separators; the fields stay two digits.
  void entryDatesUseTheLocaleSeparators_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("pattern");
    QTest::newRow("Russian") << QLocale(QLocale::Russian, QLocale::Russia)
                             << QStringLiteral(R"(^\d\d\.\d\d\.\d\d \d\d:\d\d:\d\d$)");
    QTest::newRow("US English") << QLocale(QLocale::English, QLocale::UnitedStates)
                                << QStringLiteral(R"(^\d\d/\d\d/\d\d \d\d:\d\d:\d\d$)");
    QTest::newRow("Finnish") << QLocale(QLocale::Finnish, QLocale::Finland)
                             << QStringLiteral(R"(^\d\d\.\d\d\.\d\d \d\d\.\d\d\.\d\d$)");
  }
  void entryDatesUseTheLocaleSeparators() {
    QFETCH(QLocale, locale);
    QFETCH(QString, pattern);
    QLocale::setDefault(locale);
    std::string card;
    auto window = WindowWithTwoEntries(card);
    window->BtnOpenRgdClick();
    QLocale::setDefault(QLocale::c());
    auto* grid = Control<TStringGrid>(*window, "GridrgdInfo");
    QCOMPARE(grid->Cell(0, 4), QStringLiteral("Дата"));
    const QDateTime now = QDateTime::currentDateTime();
    for (int row : {1, 2}) {
      const QString date = grid->Cell(row, 4);
      QVERIFY2(QRegularExpression(pattern).match(date).hasMatch(), qPrintable(date));
      QCOMPARE(date.left(2), now.toString(QStringLiteral("dd")));
    }
    // The core's table keeps its fixed form for the command line.
    TRgdFile file(card, TRgdFile::Mode::ReadOnly);
    QCOMPARE(Q(EntryTable(file.Entries()).rows[1][4]).mid(2, 1), QStringLiteral("/"));
  }

  // After "Инфо" of the card file, and after a write, the current cell is in a data column.
  void currentCellStaysInADataColumn() {
    std::string card;
    auto window = WindowWithTwoEntries(card);
    auto* grid = Control<TStringGrid>(*window, "GridrgdInfo");
    QTest::mouseClick(Control<QPushButton>(*window, "BtnOpenRgd"), Qt::LeftButton);
    QCOMPARE(grid->currentRow(), 3);
    QCOMPARE(grid->currentColumn(), 1);
    grid->setCurrentCell(1, 0);
    QTest::mouseClick(Control<QPushButton>(*window, "BtnProcess"), Qt::LeftButton);
    QCOMPARE(grid->rowCount(), 5);
    QCOMPARE(grid->currentRow(), 1);
    QCOMPARE(grid->currentColumn(), 1);
  }

  // Every field, list and grid has its caption as its name for screen readers, and the fields'
  // captions are their labels' buddies; the grids' caption rows are their column headers.
  void controlsAreNamedForAssistiveTechnology() {
    std::string card;
    auto window = WindowWithTwoEntries(card);
    window->BtnOpenRgdClick();
    window->btnhexinfoClick();
    const std::pair<const char*, QString> captions[] = {
        {"EFnamehex", "Образ для загрузки"},       {"Ename", "Наименование обновления"},
        {"ESVER", "Старший номер версии (ESVER)"}, {"ESREL", "Младший номер версии (ESREL)"},
        {"EHCLASS", "Класс устройства (EHCLASS)"}, {"EHREL", "Аппаратная версия (EHREL)"},
        {"EFnamedest", "Файл на карте ММС"},
    };
    for (const auto& [name, caption] : captions) {
      QWidget* control = Control<QWidget>(*window, name);
      QCOMPARE(control->accessibleName(), caption);
      bool buddy = false;
      for (const QLabel* label : window->findChildren<QLabel*>())
        buddy = buddy || (label->buddy() == control && label->text().simplified() == caption);
      QVERIFY2(buddy, name);
    }
    QCOMPARE(Control<QWidget>(*window, "CBProc")->accessibleName(),
             QStringLiteral("Устройство \\ Процессор"));
    for (const char* name : {"GridMemInfo", "GridHexInfo", "GridrgdInfo"})
      QVERIFY2(!Control<QWidget>(*window, name)->accessibleName().isEmpty(), name);

    auto* grid = Control<TStringGrid>(*window, "GridrgdInfo");
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(grid);
    QVERIFY(table != nullptr && table->tableInterface() != nullptr);
    QCOMPARE(table->tableInterface()->columnDescription(2), QStringLiteral("Имя"));
    QCOMPARE(table->tableInterface()->rowDescription(1), QStringLiteral("1"));
    QStringList headers;
    for (int i = 0; i < table->childCount(); ++i) {
      QAccessibleInterface* child = table->child(i);
      if (child != nullptr && child->role() == QAccessible::ColumnHeader)
        headers << child->text(QAccessible::Name);
    }
    QVERIFY2(headers.contains(QStringLiteral("Дата")), qPrintable(headers.join(',')));
    auto* hexGrid = Control<TStringGrid>(*window, "GridHexInfo");
    QCOMPARE(QAccessible::queryAccessibleInterface(hexGrid)->tableInterface()->columnDescription(1),
             QStringLiteral("Begin"));
  }

  // The browse button inside a file name field: named, its keys in its tooltip, and F4 or
  // Alt+Down in the field open the file dialog; Tab never stops on it.
  void browseButtonIsReachableFromTheKeyboard() {
    auto window = Window();
    ShowActive(*window);
    for (const char* name : {"EFnamehex", "EFnamedest"}) {
      auto* edit = Control<QLineEdit>(*window, name);
      auto* button = Control<QWidget>(*edit, "BrowseButton");
      QCOMPARE(button->accessibleName(), QStringLiteral("Выбрать файл"));
      QVERIFY(button->toolTip().contains(QStringLiteral("F4")));
      QCOMPARE(button->focusPolicy(), Qt::NoFocus);
      for (const QKeyCombination keys :
           {QKeyCombination(Qt::Key_F4), QKeyCombination(Qt::AltModifier, Qt::Key_Down)}) {
        window->activateWindow();  // back from the last file dialog
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        edit->setFocus();
        QString title;
        QTimer::singleShot(0, this, [&title] {
          auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
          if (dialog == nullptr)
            return;
          title = dialog->windowTitle();
          dialog->reject();
        });
        QTest::keyClick(edit, keys.key(), keys.keyboardModifiers());
        QVERIFY2(title == QStringLiteral("Укажите файл"),
                 qPrintable(QStringLiteral("%1 %2").arg(name, QKeySequence(keys).toString())));
      }
    }
  }

  // A start that failed half way saves at exit only what it restored or what the user changed;
  // the values it never restored stay in the store as they were.
  void aBadStartSavesOnlyWhatWasRestoredOrChanged() {
    const Settings stored = {{"ProcInd", Int(1)}, {"HEXFile", Text("a.hex")},  {"SVER", Int(3)},
                             {"Updname", Int(4)}, {"DestFile", Text("b.rgd")}, {"HCLASS", Int(9)}};
    // A catalogue that fails to load: nothing is restored.
    WriteText(Dir() / "DEV_LIST.dat", "[DEVICE_1]\nNAME=Recorder A\nHCLASS=abc\n");
    StoreSettings(stored);
    {
      auto window = Window();
      Control<QLineEdit>(*window, "EFnamedest")->setText(QStringLiteral("c.rgd"));
    }
    CheckStored({{"ProcInd", Int(1)},
                 {"HEXFile", Text("a.hex")},
                 {"SVER", Int(3)},
                 {"Updname", Int(4)},
                 {"DestFile", Text("c.rgd")},
                 {"HCLASS", Int(9)}});
    QVERIFY(!Stored("Crypt"));

    // A value of the wrong kind: the values before it are restored and saved, it and the later
    // ones stay, unless the user changed them.
    WriteText(Dir() / "DEV_LIST.dat", kCatalogue);
    StoreSettings(stored);
    {
      auto window = Window();
      Control<QLineEdit>(*window, "EFnamehex")->setText(QStringLiteral("new.hex"));
      Control<QCheckBox>(*window, "ChBcoded")->setChecked(true);
    }
    CheckStored({{"ProcInd", Int(1)},
                 {"HEXFile", Text("new.hex")},
                 {"SVER", Int(3)},
                 {"SREL", Int(0)},
                 {"Updname", Int(4)},
                 {"DestFile", Text("b.rgd")},
                 {"Crypt", Text("1")},
                 {"HCLASS", Int(9)}});
  }

  void spinFieldRules() {
    QWidget holder;
    auto* field = new TSpinField(1, 255, 1, &holder);
    auto* other = new QLineEdit(&holder);
    other->move(0, 40);
    field->SetValue(300);
    QCOMPARE(field->Value(), 255);
    field->SetValue(-4);
    QCOMPARE(field->Value(), 1);
    field->SetValue(77);
    holder.show();
    holder.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&holder));
    field->setFocus();
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Backspace);
    QCOMPARE(field->text(), QString());
    QCOMPARE(field->Value(), 1);  // a text that is no number reads as the minimum
    other->setFocus();            // leaving the field
    QCOMPARE(field->text(), QStringLiteral("1"));
    QCOMPARE(field->value(), 1);

    // A number beyond the range stays as typed (never cut to "30") until the field is left.
    field->setFocus();
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(field, "300");
    QCOMPARE(field->text(), QStringLiteral("300"));
    QCOMPARE(field->Value(), 255);
    QTest::keyClicks(field, "x");
    QCOMPARE(field->text(), QStringLiteral("300"));  // only whole numbers can be typed
    other->setFocus();
    QCOMPARE(field->text(), QStringLiteral("255"));
    QCOMPARE(field->value(), 255);
  }
};

}  // namespace fw::gui

QTEST_MAIN(fw::gui::FormMainTest)
#include "form_main_test.moc"

#include "gui/form_main.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#include "core/carddata_file.h"
#include "core/eject.h"
#include "core/entry_table.h"
#include "core/hexinfo.h"
#include "core/texts.h"
#include "core/utf8_path.h"
#include "core/write_command.h"
#include "gui/file_name_edit.h"
#include "gui/gui_helpers.h"
#include "gui/local_date.h"
#include "gui/push_button.h"
#include "gui/spin_field.h"
#include "gui/string_grid.h"
#include "platform/process.h"

namespace fw::gui {
namespace {

constexpr int kWindowWidth = 550;
constexpr int kMinWindowHeight = 450;
constexpr int kNameMaxChars = 16;

// The width of a label's longest word: a word-wrapped label that narrow breaks between words.
int LongestWordWidth(const QLabel& label) {
  int widest = 0;
  for (const QString& word : label.text().split(QLatin1Char(' '), Qt::SkipEmptyParts))
    widest = std::max(widest, label.fontMetrics().horizontalAdvance(word));
  return widest + 2 * label.margin() + 2;
}

QPushButton* MakeButton(QWidget* parent, const char* name, std::string_view caption,
                        std::string_view hint = {}) {
  auto* button = Named(new TPushButton(Q(caption), parent), name);
  if (!hint.empty())
    button->setToolTip(Q(hint));
  return button;
}

// A caption label for a control: its buddy, and its text (on one line) the control's name for
// assistive technology.
QLabel* CaptionFor(QWidget* control, const QString& caption, QWidget* parent) {
  auto* label = new QLabel(caption, parent);
  label->setBuddy(control);
  control->setAccessibleName(
      QString(caption).replace(QLatin1Char('\n'), QLatin1Char(' ')).trimmed());
  return label;
}

// The entry list's date column in the user's date and time separators; the core writes it with
// "/" and ":" as "dd/mm/yy hh:mm:ss".
constexpr int kEntryDateColumn = 4;

QString EntryCellText(int row, int column, const std::string& text) {
  if (row == 0 || column != kEntryDateColumn)
    return Q(text);
  return LocalDateTimeText(Q(text), QLocale());
}

}  // namespace

TFormMain::TFormMain(MainWindowServices services, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      services_(std::move(services)) {
  setObjectName(QStringLiteral("FormMain"));
  setWindowTitle(Q(texts::kMainWindowCaption));
  BuildControls();
  BuildShortcuts();
  SetFocusOrder();
  FormCreate();
}

TFormMain::~TFormMain() {
  if (ejectWorker_.joinable())
    ejectWorker_.join();
  FormDestroy();
}

void TFormMain::BuildControls() {
  // Device \ processor
  auto* groupDevice = Named(new QGroupBox(Q(texts::kGroupDevice), this), "GroupBox3");
  deviceList_ = Named(new QComboBox(groupDevice), "CBProc");
  deviceList_->setEditable(false);
  deviceList_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  memoryMapGrid_ = Named(new TStringGrid(groupDevice), "GridMemInfo");
  memoryMapGrid_->setColumnCount(4);
  memoryMapGrid_->setFixedHeight(memoryMapGrid_->HeightForRows(6));
  memoryMapGrid_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  memoryMapGrid_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  auto* deviceLayout = Tight(new QVBoxLayout(groupDevice));
  deviceList_->setAccessibleName(Q(texts::kGroupDevice));
  memoryMapGrid_->setAccessibleName(Q(texts::kNameMemoryMap));
  deviceLayout->addWidget(deviceList_);
  deviceLayout->addWidget(memoryMapGrid_);
  connect(deviceList_, &QComboBox::activated, this, &TFormMain::CBProcChange);

  // Program file
  auto* groupProgram = Named(new QGroupBox(Q(texts::kGroupProgramFile), this), "GroupBox4");
  hexFileEdit_ = Named(new TFileNameEdit(texts::kBrowseTitle, texts::kHexFilter,
                                         QStringLiteral("hex"), groupProgram),
                       "EFnamehex");
  hexInfoButton_ = MakeButton(groupProgram, "btnhexinfo", texts::kButtonInfo, texts::kHintHexInfo);
  updateNameEdit_ = Named(new QLineEdit(Q(texts::kDefaultUpdateName), groupProgram), "Ename");
  updateNameEdit_->setMaxLength(kNameMaxChars);
  sverField_ = Named(new TSpinField(0, 255, 0, groupProgram), "ESVER");
  srelField_ = Named(new TSpinField(0, 65535, 0, groupProgram), "ESREL");
  hclassField_ = Named(new TSpinField(1, 255, 1, groupProgram), "EHCLASS");
  hrelField_ = Named(new TSpinField(0, 255, 0, groupProgram), "EHREL");
  hclassField_->setEnabled(false);
  hrelField_->setEnabled(false);
  hexInfoGrid_ = Named(new TStringGrid(groupProgram), "GridHexInfo");
  hexInfoGrid_->setColumnCount(4);
  hexInfoGrid_->setFixedHeight(hexInfoGrid_->HeightForRows(5));
  hexInfoGrid_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  hexInfoGrid_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

  auto* hexRow = new QHBoxLayout;
  hexInfoGrid_->setAccessibleName(Q(texts::kNameHexInfo));
  hexRow->addWidget(CaptionFor(hexFileEdit_, Q(texts::kLabelImage), groupProgram));
  hexRow->addWidget(hexFileEdit_, 1);
  hexRow->addWidget(hexInfoButton_);
  // Name and version numbers share one row: the name's caption wraps beside its field.
  auto* nameLabel = CaptionFor(updateNameEdit_, Q(texts::kLabelUpdateName), groupProgram);
  nameLabel->setWordWrap(true);
  nameLabel->setFixedWidth(LongestWordWidth(*nameLabel));
  auto* versionRow = new QHBoxLayout;
  versionRow->setSpacing(kSpacing);
  versionRow->addWidget(nameLabel);
  versionRow->addWidget(updateNameEdit_, 1);
  versionRow->addSpacing(kSpacing);
  versionRow->addWidget(CaptionFor(sverField_, DisplayText(texts::kLabelSver), groupProgram));
  versionRow->addWidget(sverField_);
  versionRow->addSpacing(kSpacing);
  versionRow->addWidget(CaptionFor(srelField_, DisplayText(texts::kLabelSrel), groupProgram));
  versionRow->addWidget(srelField_);
  auto* deviceFields = new QGridLayout;
  deviceFields->setSpacing(kSpacing);
  deviceFields->addWidget(CaptionFor(hclassField_, DisplayText(texts::kLabelHclass), groupProgram),
                          0, 0);
  deviceFields->addWidget(hclassField_, 0, 1);
  deviceFields->addWidget(CaptionFor(hrelField_, DisplayText(texts::kLabelHrel), groupProgram), 1,
                          0);
  deviceFields->addWidget(hrelField_, 1, 1);
  auto* hexInfoRow = new QHBoxLayout;
  hexInfoRow->addLayout(deviceFields);
  hexInfoRow->addWidget(hexInfoGrid_, 1);
  auto* programLayout = Tight(new QVBoxLayout(groupProgram));
  programLayout->addLayout(hexRow);
  programLayout->addLayout(versionRow);
  programLayout->addLayout(hexInfoRow);

  // Medium
  auto* groupMedium = Named(new QGroupBox(Q(texts::kGroupMedium), this), "GroupBox2");
  cardFileEdit_ = Named(new TFileNameEdit(texts::kBrowseTitle, texts::kCardFileFilter,
                                          QStringLiteral("rgd"), groupMedium),
                        "EFnamedest");
  cardInfoButton_ = MakeButton(groupMedium, "BtnOpenRgd", texts::kButtonInfo, texts::kHintCardInfo);
  scrambleCheck_ = Named(new QCheckBox(Q(texts::kCheckScramble), groupMedium), "ChBcoded");
  entriesGrid_ = Named(new TStringGrid(groupMedium), "GridrgdInfo");
  entriesGrid_->setAccessibleName(Q(texts::kNameEntries));
  entriesGrid_->SetCellText(EntryCellText);
  // Room for the caption row, three entries and the empty row; older entries scroll.
  entriesGrid_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
  entriesGrid_->setMinimumHeight(entriesGrid_->HeightForRows(5));
  auto* destRow = new QHBoxLayout;
  destRow->addWidget(CaptionFor(cardFileEdit_, Q(texts::kLabelCardFile), groupMedium));
  destRow->addWidget(cardFileEdit_, 1);
  destRow->addWidget(cardInfoButton_);
  auto* mediumLayout = Tight(new QVBoxLayout(groupMedium));
  mediumLayout->addLayout(destRow);
  mediumLayout->addWidget(scrambleCheck_);
  mediumLayout->addWidget(entriesGrid_, 1);

  // Button panel
  formatButton_ = MakeButton(this, "Button2", texts::kButtonFormat);
  writeButton_ = MakeButton(this, "BtnProcess", texts::kButtonWrite, texts::kHintWrite);
  ejectButton_ = MakeButton(this, "BtnEject", texts::kButtonEject, texts::kHintEject);
  exitButton_ = MakeButton(this, "BitBtn1", texts::kButtonExit);
  exitButton_->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
  auto* panel = new QHBoxLayout;
  panel->addWidget(formatButton_);
  panel->addWidget(writeButton_);
  panel->addWidget(ejectButton_);
  panel->addStretch(1);
  panel->addWidget(exitButton_);

  auto* layout = Tight(new QVBoxLayout(this));
  layout->addWidget(groupDevice);
  layout->addWidget(groupProgram);
  layout->addWidget(groupMedium, 1);
  layout->addLayout(panel);

  connect(hexInfoButton_, &QPushButton::clicked, this, &TFormMain::btnhexinfoClick);
  connect(cardInfoButton_, &QPushButton::clicked, this, &TFormMain::BtnOpenRgdClick);
  connect(formatButton_, &QPushButton::clicked, this, &TFormMain::Button2Click);
  connect(writeButton_, &QPushButton::clicked, this, &TFormMain::BtnProcessClick);
  connect(ejectButton_, &QPushButton::clicked, this, &TFormMain::BtnEjectClick);
  connect(exitButton_, &QPushButton::clicked, this, &TFormMain::BitBtn1Click);

  setFixedWidth(kWindowWidth);
  setFixedHeight(std::max(kMinWindowHeight, layout->sizeHint().height()));
}

void TFormMain::BuildShortcuts() {
  const auto addShortcut = [this](const char* name, QKeyCombination keys,
                                  void (TFormMain::*slot)()) {
    auto* action = new QAction(this);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcut(QKeySequence(keys));
    action->setShortcutContext(Qt::WindowShortcut);
    addAction(action);
    connect(action, &QAction::triggered, this, slot);
  };
  addShortcut("Hexinfo", Qt::CTRL | Qt::Key_H, &TFormMain::btnhexinfoClick);
  addShortcut("Fileinfo", Qt::CTRL | Qt::Key_F, &TFormMain::BtnOpenRgdClick);
  addShortcut("ActSave", Qt::CTRL | Qt::Key_W, &TFormMain::BtnProcessClick);
  addShortcut("ActEject", Qt::CTRL | Qt::Key_J, &TFormMain::BtnEjectClick);
  // Esc presses "Выход" from any control; a dropped-down list takes the key first and closes.
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  escape->setContext(Qt::WindowShortcut);
  connect(escape, &QShortcut::activated, exitButton_, &QPushButton::click);
}

void TFormMain::SetFocusOrder() {
  QWidget* const order[] = {
      cardFileEdit_, entriesGrid_, cardInfoButton_, scrambleCheck_, writeButton_,    formatButton_,
      exitButton_,   ejectButton_, deviceList_,     memoryMapGrid_, updateNameEdit_, hclassField_,
      hrelField_,    sverField_,   srelField_,      hexFileEdit_,   hexInfoButton_,  hexInfoGrid_};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i)
    setTabOrder(order[i], order[i + 1]);
  cardFileEdit_->setFocus();
}

void TFormMain::FormCreate() {
  Run([this] {
    LoadDeviceList();
    auto store = services_.openSettings();
    RestoreFromStore(*store);
  });
  start_.values = ShownSettings();
}

void TFormMain::FormDestroy() {
  Run([this] {
    auto store = services_.openSettings();
    SaveSettings(*store, ShownSettings(), start_);
  });
  ClearDeviceList();
}

void TFormMain::LoadDeviceList() {
  ClearDeviceList();
  std::vector<DeviceEntry> loaded;
  const auto showLoaded = [&] {
    devices_ = std::move(loaded);
    for (const DeviceEntry& entry : devices_)
      deviceList_->addItem(Q(entry.text));
    deviceList_->setCurrentIndex(-1);
  };
  try {
    fw::LoadDeviceList(services_.catalogPath.string(), loaded);
  } catch (...) {
    showLoaded();  // the devices read before the failing section stay listed, none selected
    throw;
  }
  showLoaded();
  if (!devices_.empty())
    deviceList_->setCurrentIndex(0);
  CBProcChange();
}

void TFormMain::ClearDeviceList() {
  deviceList_->clear();
  devices_.clear();
}

void TFormMain::CBProcChange() {
  const int index = deviceList_->currentIndex();
  if (index < 0 || index >= static_cast<int>(devices_.size()))
    return;
  const TDeviceInfo& device = devices_[static_cast<std::size_t>(index)].info;
  memoryMapGrid_->SetTable(MemoryMapTable(device));
  hclassField_->SetValue(device.HClass);
  hrelField_->SetValue(device.HRel);
  sverField_->SetValue(device.SVer);
  AutoSizeGrid(*memoryMapGrid_);
}

void TFormMain::btnhexinfoClick() {
  Run([this] {
    const auto info = ReadHexInfo(S(hexFileEdit_->text()), devices_, deviceList_->currentIndex());
    if (!info)
      return;
    hexInfoGrid_->SetTable(info->table);
    AutoSizeGrid(*hexInfoGrid_);
  });
}

void TFormMain::BtnOpenRgdClick() {
  Run([this] {
    if (!IsExistingFile(S(cardFileEdit_->text())))
      return;
    TRgdFile file(S(cardFileEdit_->text()), TRgdFile::Mode::ReadOnly);
    entriesGrid_->SetTable(EntryTable(file.Entries()));
    AutoSizeGrid(*entriesGrid_);
    // The empty last row, in the first data column: the caption column "N" is never current.
    if (entriesGrid_->rowCount() > 0)
      entriesGrid_->setCurrentCell(entriesGrid_->rowCount() - 1,
                                   std::min(1, entriesGrid_->columnCount() - 1));
  });
}

void TFormMain::BtnProcessClick() {
  Run([this] {
    WriteInputs inputs;
    inputs.hexPath = S(hexFileEdit_->text());
    inputs.deviceIndex = deviceList_->currentIndex();
    inputs.cardPath = S(cardFileEdit_->text());
    inputs.name = S(updateNameEdit_->text());
    inputs.sver = sverField_->Value();
    inputs.srel = srelField_->Value();
    if (scrambleCheck_->isChecked())
      inputs.scrambleKeys = DrawScrambleKeys();
    std::optional<WriteResult> result;
    try {
      result = WriteAskingOverHiddenEntries(inputs);
    } catch (const EEntryCommitted& committed) {
      // The entry is on the card: that comes first, then what went wrong reading it back.
      const std::array<MessageArg, 1> written = {committed.WrittenText()};
      UserMessage(*services_.presenter, "%s", written, mkInformation);
      const std::array<MessageArg, 1> readBack = {ExceptionDisplayText(committed.ReadBackText())};
      UserMessage(*services_.presenter, "%s", readBack, mkError);
      return;
    }
    if (!result)
      return;
    entriesGrid_->SetTable(result->entries);  // the current row stays where it was
    AutoSizeGrid(*entriesGrid_);
  });
}

std::optional<WriteResult> TFormMain::WriteAskingOverHiddenEntries(WriteInputs inputs) {
  try {
    return WriteUpdate(inputs, devices_, services_.openCard);
  } catch (const EOrphanedEntries& orphans) {
    // Whether to write over them is the user's decision: No by default.
    const std::array<MessageArg, 1> question = {orphans.Report() + "\n\r" +
                                                std::string(texts::kOrphansQuestion)};
    if (UserMessage(*services_.presenter, "%s", question, mkQuestion) != kIdYes)
      return std::nullopt;
  }
  inputs.force = true;
  return WriteUpdate(inputs, devices_, services_.openCard);
}

void TFormMain::Button2Click() {
  if (formatDialog_ != nullptr)
    formatDialog_->exec();
}

// The card is found here; releasing and ejecting it, which may wait for the user's password or
// for programs to let go of it, runs on a worker thread. Meanwhile the window stays painted but
// takes no command (nothing may write to a card that is going away).
void TFormMain::BtnEjectClick() {
  if (Ejecting())
    return;
  Run([this] {
    const auto card = CardVolumeOfPath(S(cardFileEdit_->text()), *services_.volumes);
    platform::LeaveForExecutableDir();  // the current directory keeps no card busy
    if (!card)
      return;
    ejectCard_ = *card;
    ejectFailure_ = nullptr;
    setEnabled(false);
    ejectWorker_ = std::thread([this] {
      try {
        ejectResult_ = EjectCardVolume(ejectCard_, *services_.volumes);
      } catch (...) {
        ejectFailure_ = std::current_exception();  // shown on the window's thread
      }
      QMetaObject::invokeMethod(this, &TFormMain::FinishEject, Qt::QueuedConnection);
    });
  });
}

void TFormMain::FinishEject() {
  ejectWorker_.join();
  setEnabled(true);
  Run([this] {
    if (ejectFailure_)
      std::rethrow_exception(std::exchange(ejectFailure_, nullptr));
    ShowEjectResult(ejectResult_, ejectCard_, *services_.presenter);
  });
  if (std::exchange(closeWhenEjected_, false))
    close();
}

void TFormMain::closeEvent(QCloseEvent* event) {
  if (!Ejecting()) {
    QWidget::closeEvent(event);
    return;
  }
  closeWhenEjected_ = true;
  event->ignore();
}

void TFormMain::BitBtn1Click() {
  close();
}

// ---- Settings ------------------------------------------------------------------------------

MainSettings TFormMain::ShownSettings() const {
  MainSettings settings;
  settings.procIndex = deviceList_->currentIndex();
  settings.hexFile = S(hexFileEdit_->text());
  settings.sver = sverField_->Value();
  settings.srel = srelField_->Value();
  settings.updateName = S(updateNameEdit_->text());
  settings.destFile = S(cardFileEdit_->text());
  settings.crypt = scrambleCheck_->isChecked();
  settings.hclass = hclassField_->Value();
  settings.hrel = hrelField_->Value();
  return settings;
}

void TFormMain::ShowSettings(const MainSettings& settings) {
  // An index outside the device list selects nothing.
  const int index = settings.procIndex;
  deviceList_->setCurrentIndex(index >= 0 && index < deviceList_->count() ? index : -1);
  hexFileEdit_->setText(Q(settings.hexFile));
  sverField_->SetValue(settings.sver);
  srelField_->SetValue(settings.srel);
  updateNameEdit_->setText(Q(settings.updateName));
  cardFileEdit_->setText(Q(settings.destFile));
  scrambleCheck_->setChecked(settings.crypt);
}

void TFormMain::RestoreFromStore(platform::SettingsStore& store) {
  // The values the restore does not get to keep what the controls show.
  RestoredSettings restored{ShownSettings()};
  try {
    RestoreSettings(store, restored);
  } catch (...) {
    ShowSettings(restored.values);  // the values read before the restore stopped
    start_.count = restored.count;
    throw;
  }
  ShowSettings(restored.values);
  start_.count = restored.count;
  CBProcChange();  // the selected device's memory map, class, release and version
}

}  // namespace fw::gui

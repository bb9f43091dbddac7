#include "form_main.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <optional>

#include "core/carddata_file.h"
#include "core/eject.h"
#include "core/hexinfo.h"
#include "core/texts.h"
#include "core/utf8_path.h"
#include "core/write_command.h"
#include "file_name_edit.h"
#include "gui_helpers.h"
#include "spin_field.h"
#include "string_grid.h"

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
  auto* button = Named(new QPushButton(Q(caption), parent), name);
  button->setAutoDefault(false);
  button->setDefault(false);
  if (!hint.empty())
    button->setToolTip(Q(hint));
  return button;
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
  FormDestroy();
}

void TFormMain::BuildControls() {
  // Device \ processor
  auto* groupDevice = Named(new QGroupBox(Q(texts::kGroupDevice), this), "GroupBox3");
  CBProc = Named(new QComboBox(groupDevice), "CBProc");
  CBProc->setEditable(false);
  CBProc->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  GridMemInfo = Named(new TStringGrid(groupDevice), "GridMemInfo");
  GridMemInfo->setColumnCount(4);
  GridMemInfo->setFixedHeight(GridMemInfo->HeightForRows(6));
  GridMemInfo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  GridMemInfo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  auto* deviceLayout = Tight(new QVBoxLayout(groupDevice));
  deviceLayout->addWidget(CBProc);
  deviceLayout->addWidget(GridMemInfo);
  connect(CBProc, &QComboBox::activated, this, &TFormMain::CBProcChange);

  // Program file
  auto* groupProgram = Named(new QGroupBox(Q(texts::kGroupProgramFile), this), "GroupBox4");
  EFnamehex = Named(new TFileNameEdit(texts::kBrowseTitle, texts::kHexFilter, QStringLiteral("hex"),
                                      groupProgram),
                    "EFnamehex");
  btnhexinfo = MakeButton(groupProgram, "btnhexinfo", texts::kButtonInfo, texts::kHintHexInfo);
  Ename = Named(new QLineEdit(Q(texts::kDefaultUpdateName), groupProgram), "Ename");
  Ename->setMaxLength(kNameMaxChars);
  ESVER = Named(new TSpinField(0, 255, 0, groupProgram), "ESVER");
  ESREL = Named(new TSpinField(0, 65535, 0, groupProgram), "ESREL");
  EHCLASS = Named(new TSpinField(1, 255, 1, groupProgram), "EHCLASS");
  EHREL = Named(new TSpinField(0, 255, 0, groupProgram), "EHREL");
  EHCLASS->setEnabled(false);
  EHREL->setEnabled(false);
  GridHexInfo = Named(new TStringGrid(groupProgram), "GridHexInfo");
  GridHexInfo->setColumnCount(4);
  GridHexInfo->setFixedHeight(GridHexInfo->HeightForRows(5));
  GridHexInfo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  GridHexInfo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

  auto* hexRow = new QHBoxLayout;
  hexRow->addWidget(new QLabel(Q(texts::kLabelImage), groupProgram));
  hexRow->addWidget(EFnamehex, 1);
  hexRow->addWidget(btnhexinfo);
  // Name and version numbers share one row: the name's caption wraps beside its field.
  auto* nameLabel = new QLabel(Q(texts::kLabelUpdateName), groupProgram);
  nameLabel->setWordWrap(true);
  nameLabel->setFixedWidth(LongestWordWidth(*nameLabel));
  auto* versionRow = new QHBoxLayout;
  versionRow->setSpacing(kSpacing);
  versionRow->addWidget(nameLabel);
  versionRow->addWidget(Ename, 1);
  versionRow->addSpacing(kSpacing);
  versionRow->addWidget(new QLabel(DisplayText(texts::kLabelSver), groupProgram));
  versionRow->addWidget(ESVER);
  versionRow->addSpacing(kSpacing);
  versionRow->addWidget(new QLabel(DisplayText(texts::kLabelSrel), groupProgram));
  versionRow->addWidget(ESREL);
  auto* deviceFields = new QGridLayout;
  deviceFields->setSpacing(kSpacing);
  deviceFields->addWidget(new QLabel(DisplayText(texts::kLabelHclass), groupProgram), 0, 0);
  deviceFields->addWidget(EHCLASS, 0, 1);
  deviceFields->addWidget(new QLabel(DisplayText(texts::kLabelHrel), groupProgram), 1, 0);
  deviceFields->addWidget(EHREL, 1, 1);
  auto* hexInfoRow = new QHBoxLayout;
  hexInfoRow->addLayout(deviceFields);
  hexInfoRow->addWidget(GridHexInfo, 1);
  auto* programLayout = Tight(new QVBoxLayout(groupProgram));
  programLayout->addLayout(hexRow);
  programLayout->addLayout(versionRow);
  programLayout->addLayout(hexInfoRow);

  // Medium
  auto* groupMedium = Named(new QGroupBox(Q(texts::kGroupMedium), this), "GroupBox2");
  EFnamedest = Named(new TFileNameEdit(texts::kBrowseTitle, texts::kCardFileFilter,
                                       QStringLiteral("rgd"), groupMedium),
                     "EFnamedest");
  BtnOpenRgd = MakeButton(groupMedium, "BtnOpenRgd", texts::kButtonInfo, texts::kHintCardInfo);
  ChBcoded = Named(new QCheckBox(Q(texts::kCheckScramble), groupMedium), "ChBcoded");
  GridrgdInfo = Named(new TStringGrid(groupMedium), "GridrgdInfo");
  // Room for the caption row, three entries and the empty row; older entries scroll.
  GridrgdInfo->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
  GridrgdInfo->setMinimumHeight(GridrgdInfo->HeightForRows(5));
  auto* destRow = new QHBoxLayout;
  destRow->addWidget(new QLabel(Q(texts::kLabelCardFile), groupMedium));
  destRow->addWidget(EFnamedest, 1);
  destRow->addWidget(BtnOpenRgd);
  auto* mediumLayout = Tight(new QVBoxLayout(groupMedium));
  mediumLayout->addLayout(destRow);
  mediumLayout->addWidget(ChBcoded);
  mediumLayout->addWidget(GridrgdInfo, 1);

  // Button panel
  Button2 = MakeButton(this, "Button2", texts::kButtonFormat);
  BtnProcess = MakeButton(this, "BtnProcess", texts::kButtonWrite, texts::kHintWrite);
  BtnEject = MakeButton(this, "BtnEject", texts::kButtonEject, texts::kHintEject);
  BitBtn1 = MakeButton(this, "BitBtn1", texts::kButtonExit);
  BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
  auto* panel = new QHBoxLayout;
  panel->addWidget(Button2);
  panel->addWidget(BtnProcess);
  panel->addWidget(BtnEject);
  panel->addStretch(1);
  panel->addWidget(BitBtn1);

  auto* layout = Tight(new QVBoxLayout(this));
  layout->addWidget(groupDevice);
  layout->addWidget(groupProgram);
  layout->addWidget(groupMedium, 1);
  layout->addLayout(panel);

  connect(btnhexinfo, &QPushButton::clicked, this, &TFormMain::btnhexinfoClick);
  connect(BtnOpenRgd, &QPushButton::clicked, this, &TFormMain::BtnOpenRgdClick);
  connect(Button2, &QPushButton::clicked, this, &TFormMain::Button2Click);
  connect(BtnProcess, &QPushButton::clicked, this, &TFormMain::BtnProcessClick);
  connect(BtnEject, &QPushButton::clicked, this, &TFormMain::BtnEjectClick);
  connect(BitBtn1, &QPushButton::clicked, this, &TFormMain::BitBtn1Click);

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
  connect(escape, &QShortcut::activated, BitBtn1, &QPushButton::click);
}

void TFormMain::SetFocusOrder() {
  QWidget* const order[] = {EFnamedest, GridrgdInfo, BtnOpenRgd, ChBcoded, BtnProcess,
                            Button2,    BitBtn1,     BtnEject,   CBProc,   GridMemInfo,
                            Ename,      EHCLASS,     EHREL,      ESVER,    ESREL,
                            EFnamehex,  btnhexinfo,  GridHexInfo};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i)
    setTabOrder(order[i], order[i + 1]);
  EFnamedest->setFocus();
}

void TFormMain::FormCreate() {
  Run([this] {
    LoadDeviceList();
    auto store = services_.openSettings();
    RestoreSettings(*store, *this);
  });
}

void TFormMain::FormDestroy() {
  Run([this] {
    auto store = services_.openSettings();
    SaveSettings(*store, *this);
  });
  ClearDeviceList();
}

void TFormMain::LoadDeviceList() {
  ClearDeviceList();
  std::vector<DeviceEntry> loaded;
  const auto showLoaded = [&] {
    devices_ = std::move(loaded);
    for (const DeviceEntry& entry : devices_)
      CBProc->addItem(Q(entry.text));
    CBProc->setCurrentIndex(-1);
  };
  try {
    fw::LoadDeviceList(services_.catalogPath.string(), loaded);
  } catch (...) {
    showLoaded();  // the devices read before the failing section stay listed, none selected
    throw;
  }
  showLoaded();
  if (!devices_.empty())
    CBProc->setCurrentIndex(0);
  CBProcChange();
}

void TFormMain::ClearDeviceList() {
  CBProc->clear();
  devices_.clear();
}

void TFormMain::CBProcChange() {
  const int index = CBProc->currentIndex();
  if (index < 0 || index >= static_cast<int>(devices_.size()))
    return;
  const TDeviceInfo& device = devices_[static_cast<std::size_t>(index)].info;
  GridMemInfo->SetTable(MemoryMapTable(device));
  EHCLASS->SetValue(device.HClass);
  EHREL->SetValue(device.HRel);
  ESVER->SetValue(device.SVer);
  AutoSizeGrid(*GridMemInfo);
}

void TFormMain::btnhexinfoClick() {
  Run([this] {
    const auto info = ShowHexInfo(S(EFnamehex->text()), devices_, CBProc->currentIndex());
    if (!info)
      return;
    GridHexInfo->SetTable(info->table);
    AutoSizeGrid(*GridHexInfo);
  });
}

void TFormMain::BtnOpenRgdClick() {
  Run([this] {
    if (!IsExistingFile(S(EFnamedest->text())))
      return;
    TRgdFile file(S(EFnamedest->text()), TRgdFile::Mode::ReadOnly);
    GridrgdInfo->SetTable(file.ListEntries());
    AutoSizeGrid(*GridrgdInfo);
    if (GridrgdInfo->rowCount() > 0)
      GridrgdInfo->setCurrentCell(GridrgdInfo->rowCount() - 1, 0);
  });
}

void TFormMain::BtnProcessClick() {
  Run([this] {
    WriteInputs inputs;
    inputs.hexPath = S(EFnamehex->text());
    inputs.deviceIndex = CBProc->currentIndex();
    inputs.cardPath = S(EFnamedest->text());
    inputs.name = S(Ename->text());
    inputs.hclass = EHCLASS->Value();
    inputs.hrel = EHREL->Value();
    inputs.sver = ESVER->Value();
    inputs.srel = ESREL->Value();
    inputs.scramble = ChBcoded->isChecked();
    inputs.orphans = OrphanPolicy::Ask;
    std::optional<WriteResult> result;
    try {
      result = WriteUpdate(inputs, devices_, *services_.presenter, services_.openCard);
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
    GridrgdInfo->SetTable(result->entries);  // the current row stays where it was
    AutoSizeGrid(*GridrgdInfo);
  });
}

void TFormMain::Button2Click() {
  if (formatDialog_ != nullptr)
    formatDialog_->exec();
}

void TFormMain::BtnEjectClick() {
  Run([this] { EjectCardOfPath(S(EFnamedest->text()), *services_.volumes, *services_.presenter); });
}

void TFormMain::BitBtn1Click() {
  close();
}

// ---- Settings fields ----------------------------------------------------------------------

int TFormMain::ProcIndex() const {
  return CBProc->currentIndex();
}
std::string TFormMain::HexFile() const {
  return S(EFnamehex->text());
}
int TFormMain::Sver() const {
  return ESVER->Value();
}
int TFormMain::Srel() const {
  return ESREL->Value();
}
std::string TFormMain::UpdateName() const {
  return S(Ename->text());
}
std::string TFormMain::DestFile() const {
  return S(EFnamedest->text());
}
bool TFormMain::Crypt() const {
  return ChBcoded->isChecked();
}
int TFormMain::HClass() const {
  return EHCLASS->Value();
}
int TFormMain::HRel() const {
  return EHREL->Value();
}

void TFormMain::SelectProcIndex(int index) {
  CBProc->setCurrentIndex(index >= 0 && index < CBProc->count() ? index : -1);
}
void TFormMain::SetHexFile(const std::string& path) {
  EFnamehex->setText(Q(path));
}
void TFormMain::SetSver(int value) {
  ESVER->SetValue(value);
}
void TFormMain::SetSrel(int value) {
  ESREL->SetValue(value);
}
void TFormMain::SetUpdateName(const std::string& name) {
  Ename->setText(Q(name));
}
void TFormMain::SetDestFile(const std::string& path) {
  EFnamedest->setText(Q(path));
}
void TFormMain::SetCrypt(bool checked) {
  ChBcoded->setChecked(checked);
}

}  // namespace fw::gui

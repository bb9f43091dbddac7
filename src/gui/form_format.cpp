#include "form_format.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "core/message_format.h"
#include "core/texts.h"
#include "gui_helpers.h"
#include "spin_field.h"

namespace fw::gui {
namespace {

constexpr int kDialogWidth = 396;
constexpr int kDialogHeight = 309;

}  // namespace

// Shows the run of the preparation in the dialog's controls.
class TFormFormat::Observer : public PreparationObserver {
 public:
  explicit Observer(TFormFormat& form) : form_(form) {}

  void StatusChanged(std::string_view text) override { form_.LStatus->setText(Q(text)); }
  void WritingStarted(std::uint32_t dataPages) override { form_.EnterWritingMode(dataPages); }
  void ProgressChanged(std::uint32_t pages, std::uint32_t /*dataPages*/) override {
    form_.Progress->setValue(static_cast<int>(pages));
  }
  void CounterChanged(std::string_view text) override {
    form_.LProgress->setText(Q(text));
    emit form_.CounterTextChanged(form_.LProgress->text());
  }
  void ProcessEvents() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }
  bool AbortRequested() override { return form_.abortRequested_; }
  void WritingEnded() override { form_.ReturnToIdle(); }

 private:
  TFormFormat& form_;
};

TFormFormat::TFormFormat(platform::Volumes& volumes, MessagePresenter& presenter, QWidget* parent)
    : QDialog(parent), volumes_(volumes), presenter_(presenter) {
  setObjectName(QStringLiteral("FormFormat"));
  setWindowTitle(Q(texts::kFormatCaption));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  BuildControls();
}

void TFormFormat::BuildControls() {
  auto* groupDrive = new QGroupBox(Q(texts::kGroupDrive), this);
  auto* hint = Named(new QLabel(Q(texts::kDriveHint), groupDrive), "Label1");
  hint->setWordWrap(true);
  CBDrives = Named(new QComboBox(groupDrive), "CBDrives");
  CBDrives->setEditable(false);
  CBDrives->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  auto* driveLayout = Tight(new QVBoxLayout(groupDrive));
  driveLayout->addWidget(hint);
  driveLayout->addWidget(CBDrives);

  auto* groupFile = new QGroupBox(Q(texts::kGroupFileParams), this);
  Esize = Named(new TSpinField(1, 1024, 1, groupFile), "Esize");
  CBSes = Named(new QComboBox(groupFile), "CBSes");
  CBSes->setEditable(true);
  for (const std::string_view choice : texts::kSessionChoices)
    CBSes->addItem(Q(choice));
  EExtSize = Named(new TSpinField(0, 256, 0, groupFile), "EExtSize");
  auto* fileLayout = Tight(new QGridLayout(groupFile));
  fileLayout->addWidget(new QLabel(Q(texts::kLabelFileSize), groupFile), 0, 0);
  fileLayout->addWidget(Esize, 0, 1);
  fileLayout->addWidget(new QLabel(Q(texts::kLabelSessions), groupFile), 1, 0);
  fileLayout->addWidget(CBSes, 1, 1);
  fileLayout->addWidget(new QLabel(Q(texts::kLabelExtSize), groupFile), 2, 0);
  fileLayout->addWidget(EExtSize, 2, 1);
  fileLayout->setColumnStretch(0, 1);

  auto* groupStatus = new QGroupBox(Q(texts::kGroupStatus), this);
  LStatus = Named(new QLabel(groupStatus), "LStatus");
  LStatus->setAlignment(Qt::AlignCenter);
  LStatus->setWordWrap(true);
  Progress = Named(new QProgressBar(groupStatus), "Progress");
  Progress->setRange(0, 0);
  Progress->setValue(0);
  Progress->setTextVisible(false);
  LProgress = Named(new QLabel(groupStatus), "LProgress");
  LProgress->setAlignment(Qt::AlignCenter);
  auto* statusLayout = Tight(new QVBoxLayout(groupStatus));
  statusLayout->addWidget(LStatus);
  statusLayout->addWidget(Progress);
  statusLayout->addWidget(LProgress);
  // The group keeps its height whether or not the progress bar is shown.
  QSizePolicy progressPolicy = Progress->sizePolicy();
  progressPolicy.setRetainSizeWhenHidden(true);
  Progress->setSizePolicy(progressPolicy);

  BtnF = Named(new QPushButton(Q(texts::kButtonStartFormat), this), "BtnF");
  BtnClose = Named(new QPushButton(Q(texts::kButtonExit), this), "BtnClose");
  for (QPushButton* button : {BtnF, BtnClose}) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(BtnF);
  buttons->addWidget(BtnClose);
  buttons->addStretch(1);

  auto* layout = Tight(new QVBoxLayout(this));
  layout->addWidget(groupDrive);
  layout->addWidget(groupFile);
  layout->addWidget(groupStatus);
  layout->addLayout(buttons);
  setFixedSize(kDialogWidth, std::max(kDialogHeight, layout->sizeHint().height()));

  TimerClose = new QTimer(this);
  TimerClose->setObjectName(QStringLiteral("TimerClose"));
  TimerClose->setInterval(0);
  TimerClose->setSingleShot(true);

  connect(CBDrives, &QComboBox::activated, this, &TFormFormat::CBDrivesChange);
  connect(Esize, &QSpinBox::valueChanged, this, &TFormFormat::EsizeChange);
  connect(BtnF, &QPushButton::clicked, this, &TFormFormat::BtnFClick);
  connect(BtnClose, &QPushButton::clicked, this, &TFormFormat::reject);
  connect(TimerClose, &QTimer::timeout, this, &TFormFormat::TimerCloseTimer);
}

void TFormFormat::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous())
    FormShow();
}

void TFormFormat::FormShow() {
  drives_.clear();
  CBDrives->clear();
  CBSes->setCurrentIndex(0);
  RunCommand(presenter_, [this] { drives_ = DiscoverCardDrives(volumes_); });
  if (drives_.empty()) {
    CBDrives->setCurrentIndex(-1);
    UserMessage(presenter_, texts::kNoCards, mkInformation);
    TimerClose->start();
  } else {
    for (const TCardDriveInfo& drive : drives_)
      CBDrives->addItem(Q(DriveItemText(drive)));
    CBDrives->setCurrentIndex(0);
    // The list and the dialog grow to show whole item texts.
    CBDrives->view()->setMinimumWidth(CBDrives->view()->sizeHintForColumn(0) + 8);
    const int margins = width() - CBDrives->width();
    setFixedWidth(std::max(kDialogWidth, CBDrives->sizeHint().width() + margins));
    ApplyDriveLimits(drives_.front());
  }
  LStatus->clear();
  Progress->hide();
}

void TFormFormat::ApplyDriveLimits(const TCardDriveInfo& drive) {
  // A new showing starts again from the design minimum; a card under 1 MB lowers it to 0.
  Esize->setRange(std::min(1, drive.SizeMB), drive.SizeMB);
  Esize->SetValue(Esize->maximum());
  EsizeChange();  // also when the size shown is already the card's
}

void TFormFormat::CBDrivesChange() {
  const int index = CBDrives->currentIndex();
  if (index < 0 || index >= static_cast<int>(drives_.size()))
    return;
  Esize->setMaximum(drives_[static_cast<std::size_t>(index)].SizeMB);
  Esize->SetValue(Esize->maximum());
}

void TFormFormat::EsizeChange() {
  const int size = Esize->Value();
  EExtSize->setMaximum(ExtendedMaxForSize(size));
  EExtSize->SetValue(ExtendedDefaultForSize(size));
}

void TFormFormat::TimerCloseTimer() {
  TimerClose->stop();
  QDialog::reject();
}

void TFormFormat::reject() {
  if (writing_) {
    abortRequested_ = true;
    return;
  }
  QDialog::reject();
}

std::optional<std::uint32_t> TFormFormat::Sessions() const {
  bool ok = false;
  const uint value = CBSes->currentText().trimmed().toUInt(&ok);
  if (!ok || value == 0)
    return std::nullopt;
  return value;
}

void TFormFormat::BtnFClick() {
  if (writing_) {
    abortRequested_ = true;
    return;
  }
  const int index = CBDrives->currentIndex();
  if (index < 0 || index >= static_cast<int>(drives_.size()))
    return;
  const TCardDriveInfo drive = drives_[static_cast<std::size_t>(index)];
  RunCommand(presenter_, [&] {
    const auto sessions = Sessions();
    if (!sessions) {
      const MessageArg args[] = {S(CBSes->currentText())};
      UserMessage(presenter_, texts::kSessionsInvalid, args, mkInformation);
      return;
    }
    TPreparationInputs inputs;
    inputs.SizeMB = static_cast<std::uint32_t>(std::max(0, Esize->Value()));
    inputs.Sessions = *sessions;
    inputs.ExtendedMB = static_cast<std::uint32_t>(std::max(0, EExtSize->Value()));
    volumes_.SetOwnerWindow(static_cast<std::uintptr_t>(winId()));
    Observer observer(*this);
    const TPreparationOutcome outcome =
        RunPreparation(drive, inputs, volumes_, presenter_, observer);
    if (outcome.Result == TPreparationResult::Completed)
      accept();
  });
}

void TFormFormat::EnterWritingMode(std::uint32_t dataPages) {
  Progress->setRange(0, static_cast<int>(dataPages));
  Progress->setValue(0);
  Progress->show();
  BtnF->setText(Q(texts::kButtonAbort));
  writing_ = true;
  BtnClose->setEnabled(false);
  abortRequested_ = false;
}

void TFormFormat::ReturnToIdle() {
  LStatus->clear();
  LProgress->clear();
  Progress->hide();
  BtnClose->setEnabled(true);
  BtnF->setText(Q(texts::kButtonStartFormat));
  writing_ = false;
}

}  // namespace fw::gui

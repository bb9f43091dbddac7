#include "gui/form_format.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QComboBox>
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
#include <utility>

#include "core/message_format.h"
#include "core/texts.h"
#include "gui/gui_helpers.h"
#include "gui/push_button.h"
#include "gui/spin_field.h"
#include "platform/process.h"

namespace fw::gui {
namespace {

constexpr int kDialogWidth = 396;
constexpr int kDialogHeight = 309;

}  // namespace

// Reports the run of the preparation from the worker thread as the dialog's signals.
class TFormFormat::Observer : public PreparationObserver {
 public:
  explicit Observer(TFormFormat& form) : form_(form) {}

  void StatusChanged(std::string_view text) override { emit form_.StatusTextChanged(Q(text)); }
  void WritingStarted(std::uint32_t dataPages) override {
    emit form_.WritingModeEntered(static_cast<int>(dataPages));
  }
  void ProgressChanged(std::uint32_t pages, std::uint32_t /*dataPages*/) override {
    emit form_.PagesWritten(static_cast<int>(pages));
  }
  void CounterChanged(std::string_view text) override { emit form_.CounterTextChanged(Q(text)); }
  bool AbortRequested() override { return form_.abortRequested_.load(); }
  void WritingEnded() override { emit form_.WritingModeLeft(); }

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

TFormFormat::~TFormFormat() {
  abortRequested_ = true;
  if (worker_.joinable())
    worker_.join();
}

void TFormFormat::BuildControls() {
  auto* groupDrive = new QGroupBox(Q(texts::kGroupDrive), this);
  auto* hint = Named(new QLabel(Q(texts::kDriveHint), groupDrive), "Label1");
  hint->setWordWrap(true);
  driveList_ = Named(new QComboBox(groupDrive), "CBDrives");
  driveList_->setEditable(false);
  driveList_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  hint->setBuddy(driveList_);
  driveList_->setAccessibleName(Q(texts::kGroupDrive));
  driveList_->setAccessibleDescription(Q(texts::kDriveHint));
  auto* driveLayout = Tight(new QVBoxLayout(groupDrive));
  driveLayout->addWidget(hint);
  driveLayout->addWidget(driveList_);

  auto* groupFile = new QGroupBox(Q(texts::kGroupFileParams), this);
  sizeField_ = Named(new TSpinField(1, 1024, 1, groupFile), "Esize");
  sessionsList_ = Named(new QComboBox(groupFile), "CBSes");
  sessionsList_->setEditable(true);
  for (const std::uint32_t choice : kSessionChoices)
    sessionsList_->addItem(QString::number(choice));
  extendedSizeField_ = Named(new TSpinField(0, 256, 0, groupFile), "EExtSize");
  auto* fileLayout = Tight(new QGridLayout(groupFile));
  const std::pair<QWidget*, std::string_view> fields[] = {
      {sizeField_, texts::kLabelFileSize},
      {sessionsList_, texts::kLabelSessions},
      {extendedSizeField_, texts::kLabelExtSize}};
  int row = 0;
  for (const auto& [field, caption] : fields) {
    auto* label = new QLabel(Q(caption), groupFile);
    label->setBuddy(field);
    field->setAccessibleName(Q(caption));
    fileLayout->addWidget(label, row, 0);
    fileLayout->addWidget(field, row, 1);
    ++row;
  }
  fileLayout->setColumnStretch(0, 1);

  auto* groupStatus = new QGroupBox(Q(texts::kGroupStatus), this);
  statusLabel_ = Named(new QLabel(groupStatus), "LStatus");
  statusLabel_->setAlignment(Qt::AlignCenter);
  statusLabel_->setWordWrap(true);
  progressBar_ = Named(new QProgressBar(groupStatus), "Progress");
  progressBar_->setRange(0, 0);
  progressBar_->setValue(0);
  progressBar_->setTextVisible(false);
  progressBar_->setAccessibleName(Q(texts::kGroupStatus));
  counterLabel_ = Named(new QLabel(groupStatus), "LProgress");
  counterLabel_->setAlignment(Qt::AlignCenter);
  auto* statusLayout = Tight(new QVBoxLayout(groupStatus));
  statusLayout->addWidget(statusLabel_);
  statusLayout->addWidget(progressBar_);
  statusLayout->addWidget(counterLabel_);
  // The group keeps its height whether or not the progress bar is shown.
  QSizePolicy progressPolicy = progressBar_->sizePolicy();
  progressPolicy.setRetainSizeWhenHidden(true);
  progressBar_->setSizePolicy(progressPolicy);

  // Enter presses the focused button only; no button is the default.
  startButton_ = Named(new TPushButton(Q(texts::kButtonStartFormat), this), "BtnF");
  closeButton_ = Named(new TPushButton(Q(texts::kButtonExit), this), "BtnClose");
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(startButton_);
  buttons->addWidget(closeButton_);
  buttons->addStretch(1);

  auto* layout = Tight(new QVBoxLayout(this));
  layout->addWidget(groupDrive);
  layout->addWidget(groupFile);
  layout->addWidget(groupStatus);
  layout->addLayout(buttons);
  setFixedSize(kDialogWidth, std::max(kDialogHeight, layout->sizeHint().height()));

  closeTimer_ = new QTimer(this);
  closeTimer_->setObjectName(QStringLiteral("TimerClose"));
  closeTimer_->setInterval(0);
  closeTimer_->setSingleShot(true);

  connect(driveList_, &QComboBox::activated, this, &TFormFormat::CBDrivesChange);
  connect(sizeField_, &QSpinBox::valueChanged, this, &TFormFormat::EsizeChange);
  connect(startButton_, &QPushButton::clicked, this, &TFormFormat::BtnFClick);
  connect(closeButton_, &QPushButton::clicked, this, &TFormFormat::reject);
  connect(closeTimer_, &QTimer::timeout, this, &TFormFormat::TimerCloseTimer);

  // The worker's reports, queued to this window's thread.
  connect(
      this, &TFormFormat::StatusTextChanged, this,
      [this](const QString& text) { statusLabel_->setText(text); }, Qt::QueuedConnection);
  connect(this, &TFormFormat::WritingModeEntered, this, &TFormFormat::EnterWritingMode,
          Qt::QueuedConnection);
  connect(
      this, &TFormFormat::PagesWritten, this, [this](int pages) { progressBar_->setValue(pages); },
      Qt::QueuedConnection);
  connect(
      this, &TFormFormat::CounterTextChanged, this,
      [this](const QString& text) { counterLabel_->setText(text); }, Qt::QueuedConnection);
  connect(this, &TFormFormat::WritingModeLeft, this, &TFormFormat::ReturnToIdle,
          Qt::QueuedConnection);
  connect(this, &TFormFormat::PreparationFinished, this, &TFormFormat::FinishPreparation,
          Qt::QueuedConnection);
}

void TFormFormat::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous())
    FormShow();
}

void TFormFormat::FormShow() {
  drives_.clear();
  driveList_->clear();
  sessionsList_->setCurrentIndex(0);
  RunCommand(presenter_, [this] {
    platform::LeaveForExecutableDir();  // the current directory keeps no card busy
    drives_ = DiscoverCardDrives(volumes_);
  });
  if (drives_.empty()) {
    driveList_->setCurrentIndex(-1);
    UserMessage(presenter_, texts::kNoCards, mkInformation);
    closeTimer_->start();
  } else {
    for (const TCardDriveInfo& drive : drives_)
      driveList_->addItem(Q(DriveItemText(drive)));
    driveList_->setCurrentIndex(0);
    // The list and the dialog grow to show whole item texts.
    driveList_->view()->setMinimumWidth(driveList_->view()->sizeHintForColumn(0) + 8);
    const int margins = width() - driveList_->width();
    setFixedWidth(std::max(kDialogWidth, driveList_->sizeHint().width() + margins));
    ApplyDriveLimits(drives_.front());
  }
  statusLabel_->clear();
  progressBar_->hide();
}

void TFormFormat::ApplyDriveLimits(const TCardDriveInfo& drive) {
  // A new showing starts again from the design minimum; a card under 1 MB lowers it to 0.
  const TFieldRange size = SizeRangeOf(drive);
  sizeField_->setRange(static_cast<int>(size.Min), static_cast<int>(size.Max));
  sizeField_->SetValue(static_cast<int>(size.Default));
  EsizeChange();  // also when the size shown is already the card's
}

void TFormFormat::CBDrivesChange() {
  const int index = driveList_->currentIndex();
  if (index < 0 || index >= static_cast<int>(drives_.size()))
    return;
  const TFieldRange size = SizeRangeOf(drives_[static_cast<std::size_t>(index)]);
  sizeField_->setMaximum(static_cast<int>(size.Max));
  sizeField_->SetValue(static_cast<int>(size.Default));
}

void TFormFormat::EsizeChange() {
  const TFieldRange extended =
      ExtendedRangeForSize(static_cast<std::uint32_t>(std::max(0, sizeField_->Value())));
  extendedSizeField_->setMaximum(static_cast<int>(extended.Max));
  extendedSizeField_->SetValue(static_cast<int>(extended.Default));
}

void TFormFormat::TimerCloseTimer() {
  closeTimer_->stop();
  QDialog::reject();
}

void TFormFormat::reject() {
  if (running_) {
    abortRequested_ = true;
    return;
  }
  QDialog::reject();
}

void TFormFormat::closeEvent(QCloseEvent* event) {
  if (!running_) {
    QDialog::closeEvent(event);
    return;
  }
  abortRequested_ = true;
  closeWhenDone_ = true;
  event->ignore();
}

std::optional<std::uint32_t> TFormFormat::Sessions() const {
  return ParseSessions(S(sessionsList_->currentText()));
}

void TFormFormat::BtnFClick() {
  if (running_) {
    abortRequested_ = true;
    return;
  }
  const int index = driveList_->currentIndex();
  if (index < 0 || index >= static_cast<int>(drives_.size()))
    return;
  const TCardDriveInfo drive = drives_[static_cast<std::size_t>(index)];
  RunCommand(presenter_, [&] {
    const auto sessions = Sessions();
    if (!sessions) {
      const MessageArg args[] = {S(sessionsList_->currentText())};
      UserMessage(presenter_, texts::kSessionsInvalid, args, mkInformation);
      return;
    }
    TPreparationInputs inputs;
    inputs.SizeMB = static_cast<std::uint32_t>(std::max(0, sizeField_->Value()));
    inputs.Sessions = *sessions;
    inputs.ExtendedMB = static_cast<std::uint32_t>(std::max(0, extendedSizeField_->Value()));
    if (!ConfirmPreparation(drive, inputs, presenter_))
      return;
    volumes_.SetOwnerWindow(static_cast<std::uintptr_t>(winId()));
    StartWorker(drive, inputs);
  });
}

// "Выход" stays disabled while the worker runs; the start button too until the writing begins
// (a format cannot be stopped halfway), while Esc and the close box ask for the stop at any time.
void TFormFormat::StartWorker(const TCardDriveInfo& drive, const TPreparationInputs& inputs) {
  running_ = true;
  closeWhenDone_ = false;
  abortRequested_ = false;
  failure_ = nullptr;
  closeButton_->setEnabled(false);
  startButton_->setEnabled(false);
  worker_ = std::thread([this, drive, inputs] {
    Observer observer(*this);
    try {
      outcome_ = PrepareCard(drive, inputs, volumes_, observer);
    } catch (...) {
      failure_ = std::current_exception();  // shown on the window's thread
    }
    emit PreparationFinished();
  });
}

void TFormFormat::FinishPreparation() {
  worker_.join();
  running_ = false;
  startButton_->setEnabled(true);
  closeButton_->setEnabled(true);
  const bool close = std::exchange(closeWhenDone_, false);
  RunCommand(presenter_, [this] {
    if (failure_)
      std::rethrow_exception(std::exchange(failure_, nullptr));
    ShowPreparationOutcome(outcome_, presenter_);
  });
  if (outcome_.Result == TPreparationResult::Completed)
    accept();
  else if (close)
    QDialog::reject();
  outcome_ = TPreparationOutcome{};
}

void TFormFormat::EnterWritingMode(int dataPages) {
  progressBar_->setRange(0, dataPages);
  progressBar_->setValue(0);
  progressBar_->show();
  startButton_->setText(Q(texts::kButtonAbort));
  startButton_->setEnabled(true);
  writing_ = true;
}

void TFormFormat::ReturnToIdle() {
  statusLabel_->clear();
  counterLabel_->clear();
  progressBar_->hide();
  startButton_->setText(Q(texts::kButtonStartFormat));
  writing_ = false;
}

}  // namespace fw::gui

// The card preparation dialog: lists the removable drives that hold a card every time it is
// shown, ties the file size and EXTENDED size fields to the chosen drive, and runs the
// preparation (question, format, card data file with progress and abort).
//
// The question is asked on the window's thread; the device work (format, remount, the card data
// file) then runs on a worker thread, which reports through the signals below, queued to the
// window, so that the window never waits for a device.
#pragma once

#include <QDialog>
#include <atomic>
#include <exception>
#include <thread>
#include <vector>

#include "core/messages.h"
#include "core/preparation.h"
#include "platform/volumes.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace fw::gui {

class TSpinField;

class TFormFormat : public QDialog {
  Q_OBJECT

 public:
  TFormFormat(platform::Volumes& volumes, MessagePresenter& presenter, QWidget* parent = nullptr);
  // Asks a running preparation to stop and waits for it.
  ~TFormFormat() override;

  // The drive records of the current showing; they go with the next showing or the dialog.
  const std::vector<TCardDriveInfo>& Drives() const { return drives_; }
  // The start button's mode: writing while the pages are written (it aborts then).
  bool Writing() const { return writing_; }
  // The worker runs: from the confirmed start until its outcome has been shown.
  bool Running() const { return running_; }
  bool AbortRequested() const { return abortRequested_.load(); }

 signals:
  // Emitted by the worker thread as the preparation goes; the dialog takes them queued.
  void StatusTextChanged(const QString& text);
  void WritingModeEntered(int dataPages);
  void PagesWritten(int pages);
  // The page counter's text ("Запись страницы 3000"), every 1000 pages.
  void CounterTextChanged(const QString& text);
  void WritingModeLeft();
  void PreparationFinished();

 public slots:
  void BtnFClick();
  void CBDrivesChange();
  void EsizeChange();
  // Esc and the close box: an abort while pages are written, else closing with cancel.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  // The close box while the worker runs: the preparation is asked to stop, and the dialog closes
  // once it has.
  void closeEvent(QCloseEvent* event) override;

 private:
  class Observer;

  void BuildControls();
  void FormShow();
  void TimerCloseTimer();
  void ApplyDriveLimits(const TCardDriveInfo& drive);
  // The number of sessions chosen in the list (or typed as a whole number); nothing otherwise.
  std::optional<std::uint32_t> Sessions() const;
  void StartWorker(const TCardDriveInfo& drive, const TPreparationInputs& inputs);
  void FinishPreparation();
  void EnterWritingMode(int dataPages);
  void ReturnToIdle();

  platform::Volumes& volumes_;
  MessagePresenter& presenter_;
  std::vector<TCardDriveInfo> drives_;
  bool writing_ = false;  // the start button's mode: idle or writing
  bool running_ = false;
  bool closeWhenDone_ = false;
  std::atomic<bool> abortRequested_ = false;  // set here, looked at by the worker between blocks
  // The worker's result, read here once it has been joined.
  TPreparationOutcome outcome_;
  std::exception_ptr failure_;
  std::thread worker_;

  QComboBox* driveList_ = nullptr;
  TSpinField* sizeField_ = nullptr;
  QComboBox* sessionsList_ = nullptr;
  TSpinField* extendedSizeField_ = nullptr;
  QLabel* statusLabel_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QLabel* counterLabel_ = nullptr;
  QPushButton* startButton_ = nullptr;
  QPushButton* closeButton_ = nullptr;
  QTimer* closeTimer_ = nullptr;
};

}  // namespace fw::gui

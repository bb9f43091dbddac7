// The card preparation dialog: lists the removable drives that hold a card every time it is
// shown, ties the file size and EXTENDED size fields to the chosen drive, and runs the
// preparation (question, format, card data file with progress and abort).
#pragma once

#include <QDialog>
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

  // The drive records of the current showing; they go with the next showing or the dialog.
  const std::vector<TCardDriveInfo>& Drives() const { return drives_; }
  bool Writing() const { return writing_; }

 signals:
  // The page counter's text changed ("Запись страницы 3000"), every 1000 pages.
  void CounterTextChanged(const QString& text);

 public slots:
  void BtnFClick();
  void CBDrivesChange();
  void EsizeChange();
  // Esc and the close box: an abort while pages are written, else closing with cancel.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  class Observer;

  void BuildControls();
  void FormShow();
  void TimerCloseTimer();
  void ApplyDriveLimits(const TCardDriveInfo& drive);
  // The number of sessions chosen in the list (or typed as a whole number); nothing otherwise.
  std::optional<std::uint32_t> Sessions() const;
  void EnterWritingMode(std::uint32_t dataPages);
  void ReturnToIdle();

  platform::Volumes& volumes_;
  MessagePresenter& presenter_;
  std::vector<TCardDriveInfo> drives_;
  bool writing_ = false;  // the start button's mode: idle or writing
  bool abortRequested_ = false;

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

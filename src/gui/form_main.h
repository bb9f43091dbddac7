// The main window: device selection with its memory map, the firmware file and its
// information, the update name and version fields, the card data file with its entry list,
// and the commands (write, card preparation, eject, exit). The window reads its controls,
// calls the core and shows the tables the core returns.
#pragma once

#include <QWidget>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "core/catalogue.h"
#include "core/eject.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/write_command.h"
#include "platform/volumes.h"

class QCheckBox;
class QComboBox;
class QDialog;
class QLineEdit;
class QPushButton;

namespace fw::gui {

class TFileNameEdit;
class TSpinField;
class TStringGrid;

struct MainWindowServices {
  MessagePresenter* presenter = nullptr;
  platform::Volumes* volumes = nullptr;
  std::filesystem::path catalogPath;
  std::function<std::unique_ptr<platform::SettingsStore>()> openSettings = OpenMainSettings;
  // Opens the card data file for a write; empty: the file itself.
  CardDeviceOpener openCard;
};

class TFormMain : public QWidget {
  Q_OBJECT

 public:
  // Builds the controls, then loads the device list and restores the settings (FormCreate).
  explicit TFormMain(MainWindowServices services, QWidget* parent = nullptr);
  // Saves the settings, then frees the device list (FormDestroy).
  ~TFormMain() override;

  // The card preparation dialog that "Форматировать ММС ..." shows.
  void SetFormatDialog(QDialog* dialog) { formatDialog_ = dialog; }
  // An eject runs on a worker thread; the window's commands wait for it.
  bool Ejecting() const { return ejectWorker_.joinable(); }

 protected:
  // Closing while an eject runs: the window closes once the eject has ended.
  void closeEvent(QCloseEvent* event) override;

 public slots:
  void CBProcChange();
  void btnhexinfoClick();
  void BtnOpenRgdClick();
  void BtnProcessClick();
  void Button2Click();
  void BtnEjectClick();
  void BitBtn1Click();

 private:
  void BuildControls();
  void BuildShortcuts();
  void SetFocusOrder();
  void FormCreate();
  void FormDestroy();
  void LoadDeviceList();
  void ClearDeviceList();
  // Runs the write command; entries hidden beyond the card's chain are written over only when
  // the user answers Yes. Nothing when the user says No.
  std::optional<WriteResult> WriteAskingOverHiddenEntries(WriteInputs inputs);
  // Runs a command; a failure that leaves it is shown and the window stays usable.
  template <typename Command>
  void Run(Command&& command) {
    RunCommand(*services_.presenter, std::forward<Command>(command));
  }

  // The kept values as the controls show them.
  MainSettings ShownSettings() const;
  // Puts the restored values into their controls (the device's class and release are not).
  void ShowSettings(const MainSettings& settings);
  // Restores the settings; a value of the wrong kind stops the restore there, the values read
  // before it shown and no device change run.
  void RestoreFromStore(platform::SettingsStore& store);
  void FinishEject();

  MainWindowServices services_;
  std::vector<DeviceEntry> devices_;
  // What the window showed once it had started, and how many values the restore read: a save
  // writes only those values and the ones the user changed since.
  RestoredSettings start_;
  QDialog* formatDialog_ = nullptr;
  // The eject on its worker thread: the card, and the result read once the worker is joined.
  std::thread ejectWorker_;
  platform::VolumeInfo ejectCard_;
  TEjectResult ejectResult_ = TEjectResult::NothingToEject;
  std::exception_ptr ejectFailure_;
  bool closeWhenEjected_ = false;

  QComboBox* deviceList_ = nullptr;
  TStringGrid* memoryMapGrid_ = nullptr;
  TFileNameEdit* hexFileEdit_ = nullptr;
  QPushButton* hexInfoButton_ = nullptr;
  QLineEdit* updateNameEdit_ = nullptr;
  TSpinField* sverField_ = nullptr;
  TSpinField* srelField_ = nullptr;
  TSpinField* hclassField_ = nullptr;
  TSpinField* hrelField_ = nullptr;
  TStringGrid* hexInfoGrid_ = nullptr;
  TFileNameEdit* cardFileEdit_ = nullptr;
  QPushButton* cardInfoButton_ = nullptr;
  QCheckBox* scrambleCheck_ = nullptr;
  TStringGrid* entriesGrid_ = nullptr;
  QPushButton* formatButton_ = nullptr;
  QPushButton* writeButton_ = nullptr;
  QPushButton* ejectButton_ = nullptr;
  QPushButton* exitButton_ = nullptr;
};

}  // namespace fw::gui

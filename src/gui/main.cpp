// Program entry: the application and its title, the main window (which loads the device list
// and restores the settings while it is created), the card preparation dialog created hidden
// and reused, then the event loop until the main window closes.
#include <QApplication>

#include "core/catalogue.h"
#include "gui/application.h"
#include "gui/form_format.h"
#include "gui/form_main.h"
#include "gui/qt_message_presenter.h"
#include "gui/system_volumes.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  fw::gui::SetUpApplication();

  fw::gui::QtMessagePresenter presenter;
  fw::gui::TSystemVolumes volumes;
  fw::gui::MainWindowServices services;
  services.presenter = &presenter;
  services.volumes = &volumes;
  services.catalogPath = fw::DefaultCatalogPath();

  fw::gui::TFormMain formMain(std::move(services));
  fw::gui::TFormFormat formFormat(volumes, presenter, &formMain);
  formMain.SetFormatDialog(&formFormat);
  formMain.show();
  return QApplication::exec();
}

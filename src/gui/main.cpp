// Program entry: the application and its title, the main window (which loads the device list
// found by the catalogue lookup order and restores the settings while it is created), the card
// preparation dialog created hidden and reused, then the event loop until the main window closes.
#include <QApplication>

#include "core/catalogue_lookup.h"
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
  // The same lookup order as the command line; with none found the window shows the empty list
  // of the first place looked at, as it does for a missing catalogue beside the program.
  const fw::CatalogueLookup catalogue = fw::FindCatalogue({}, fw::SystemCatalogueFolders());
  services.catalogPath = catalogue.found.value_or(catalogue.tried.front());

  fw::gui::TFormMain formMain(std::move(services));
  fw::gui::TFormFormat formFormat(volumes, presenter, &formMain);
  formMain.SetFormatDialog(&formFormat);
  formMain.show();
  return QApplication::exec();
}

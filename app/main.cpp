// The calculator: creates the main window and runs the event loop until it
// closes.
#include "Menu.h"
#include "qtui/Application.h"

int main(int argc, char** argv) {
  tiv::qtui::TivoranApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tivoran"));
  TFormMenuPral form;
  form.show();
  return app.exec();
}

// The calculator: creates the main window and runs the event loop until it
// closes. A window whose start-up asked the program to end (another copy
// runs, no database) is never shown. With --calc it checks case files
// without its window (Lote.h).
#include "AccessDialogsQt.h"
#include "Lote.h"
#include "Menu.h"
#include "qtui/Application.h"

int main(int argc, char** argv) {
  if (EsModoLote(argc, argv)) return EjecutarLote(argc, argv);
  tiv::qtui::TivoranApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tivoran"));
  // The data-access components ask the user through the program's dialogs.
  QtAccessDialogs accessDialogs;
  TABSScopedAccessDialogs accessDialogsScope(accessDialogs);
  TFormMenuPral form;
  return app.Run(form);
}

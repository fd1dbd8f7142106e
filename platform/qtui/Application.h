// TivoranApplication: the application object of every window program of
// the project. It delivers events like QApplication and catches any
// exception that escapes an event handler, showing it through the
// application-wide handler (ExceptionHandler.h): a modal box with OK. The
// event that threw counts as not handled; the event loop goes on.
//
// Ending the program. Terminate may be asked at any time, also while the
// main window is still being built, before the event loop runs: the loop
// then ends as soon as it starts, and Run neither shows the window nor
// waits for the user. (Quitting a loop that does not run yet would be lost,
// and a second copy of the program would stay running behind a window.)
//
// Thread use: GUI thread only, one instance per process.
#pragma once

#include <QApplication>

namespace tiv::qtui {

class TivoranApplication : public QApplication {
 public:
  TivoranApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;

  // Asks the program to end with exit code 1 (see above).
  static void Terminate();
  static bool Terminated();
  // Shows the main window and runs the event loop until it ends, unless the
  // program was asked to end first; returns the exit code.
  int Run(QWidget& mainWindow);
};

}  // namespace tiv::qtui

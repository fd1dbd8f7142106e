// TivoranApplication: the application object of every window program of
// the project. It delivers events like QApplication and catches any
// exception that escapes an event handler, showing it through the
// application-wide handler (ExceptionHandler.h): a modal box with OK. The
// event that threw counts as not handled; the event loop goes on.
//
// Thread use: GUI thread only, one instance per process.
#pragma once

#include <QApplication>

namespace tiv::qtui {

class TivoranApplication : public QApplication {
 public:
  TivoranApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace tiv::qtui

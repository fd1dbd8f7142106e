#include "Application.h"

#include <QWidget>
#include <atomic>
#include <exception>

#include "ExceptionHandler.h"

namespace tiv::qtui {

namespace {
std::atomic<bool> terminated{false};
}

TivoranApplication::TivoranApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TivoranApplication::notify(QObject* receiver, QEvent* event) {
  std::exception_ptr error;
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    error = std::current_exception();
  }
  // Shown outside the catch block: the box runs a nested event loop.
  ShowException(error);
  return false;
}

void TivoranApplication::Terminate() {
  terminated = true;
  // Posted: handled by the running loop, or by the next one to start.
  if (QCoreApplication* app = QCoreApplication::instance())
    QMetaObject::invokeMethod(
        app, [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
}

bool TivoranApplication::Terminated() { return terminated; }

int TivoranApplication::Run(QWidget& mainWindow) {
  if (terminated) return 1;
  mainWindow.show();
  return exec();
}

}  // namespace tiv::qtui

#include "Application.h"

#include <exception>

#include "ExceptionHandler.h"

namespace tiv::qtui {

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

}  // namespace tiv::qtui

#include "ExceptionHandler.h"

#include <QApplication>
#include <QString>
#include <QWidget>
#include <string>

#include "DialogService.h"
#include "dataset/DatabaseError.h"
#include "locale/CodePage.h"

namespace tiv::qtui {
namespace {

QString MessageOf(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    const std::u16string text = tiv::locale::Win1252ToUtf16(e.what());
    return QString::fromStdU16String(text);
  } catch (...) {
  }
  return QStringLiteral("Error");
}

// An operation a handler chose to abort stops without a message.
bool IsAbort(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const tiv::dataset::EAbort&) {
    return true;
  } catch (...) {
  }
  return false;
}

}  // namespace

void ShowException(const std::exception_ptr& error) noexcept {
  if (!error || IsAbort(error)) return;
  try {
    Dialogs().ShowMessage(QApplication::activeWindow(), MessageOf(error));
  } catch (...) {
    // Nothing sensible remains to be done with a failure of the box itself.
  }
}

}  // namespace tiv::qtui

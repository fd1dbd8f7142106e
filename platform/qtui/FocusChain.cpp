#include "FocusChain.h"

#include <QMetaObject>
#include <QPointer>
#include <QWidget>

namespace tiv::qtui {

QWidget* NextInTabOrder(QWidget* from) {
  if (!from) return nullptr;
  QWidget* window = from->window();
  for (QWidget* w = from->nextInFocusChain(); w && w != from; w = w->nextInFocusChain()) {
    if (w->window() != window || w->focusProxy()) continue;
    if ((w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && w->isVisible() && w->isEnabled()) return w;
  }
  return nullptr;
}

void PostFocusNext(QWidget* from) {
  if (!from) return;
  QPointer<QWidget> origin(from);
  QPointer<QWidget> window(from->window());
  QMetaObject::invokeMethod(
      window.data(),
      [origin, window] {
        if (!window) return;
        QWidget* start = window->focusWidget() ? window->focusWidget() : origin.data();
        if (QWidget* next = NextInTabOrder(start)) next->setFocus(Qt::TabFocusReason);
      },
      Qt::QueuedConnection);
}

}  // namespace tiv::qtui

// FormDriver: drives a window as a user does in the calculator's QtTests:
// controls found by their names, focus moves that run the window's enter
// and exit handlers, typing, and the posted work let through.
#pragma once

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QWidget>

class FormDriver {
 public:
  explicit FormDriver(QWidget* form = nullptr) : form_(form) {}
  void SetForm(QWidget* form) { form_ = form; }

  template <class W = QLineEdit>
  W* Get(const char* name) const {
    W* w = form_->findChild<W*>(QString::fromLatin1(name));
    if (!w) qFatal("no control %s", name);
    return w;
  }
  QString Text(const char* name) const { return Get<QLineEdit>(name)->text(); }
  QString Caption(const char* name) const { return Get<QLabel>(name)->text(); }
  static QWidget* Focused() { return QApplication::focusWidget(); }

  // Lets posted handlers (exit handlers, focus requests) run.
  static void Settle() {
    for (int i = 0; i < 4; ++i) QCoreApplication::processEvents();
  }
  static bool Focus(QWidget* w) {
    w->setFocus(Qt::OtherFocusReason);
    Settle();
    return w->hasFocus();
  }
  // Focuses the edit, replaces its text by typing and leaves it with Tab.
  void TypeAndLeave(const char* name, const QString& text) const {
    QLineEdit* e = Get(name);
    Focus(e);
    QTest::keyClicks(e, text);
    QTest::keyClick(e, Qt::Key_Tab);
    Settle();
  }

 private:
  QWidget* form_;
};

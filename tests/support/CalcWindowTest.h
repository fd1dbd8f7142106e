// CalcWindowTest: the base of the calculator's window tests. Each test gets
// a folder of its own with a fresh copy of the database built by mkdb,
// scripted dialogs, and the main window on that folder, shown and active;
// the helpers type periods as a user does and read the grids as shown.
#pragma once

#include <QApplication>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "Menu.h"
#include "qtui/ScriptedDialogs.h"
#include "support/CalcDatabase.h"
#include "support/FormDriver.h"
#include "support/ScratchDir.h"

class CalcWindowTest : public QObject, public FormDriver {
 protected:
  std::unique_ptr<ScratchDir> dir_;
  std::unique_ptr<tiv::qtui::ScriptedDialogs> dialogs_;
  std::unique_ptr<tiv::qtui::ScopedDialogService> scope_;
  std::unique_ptr<TFormMenuPral> form_;

  // A new folder with the database and scripted dialogs; no window yet.
  void Prepare(const char* prefix) {
    dir_ = std::make_unique<ScratchDir>(prefix);
    CopyCalcDatabase(dir_->Path());
    dialogs_ = std::make_unique<tiv::qtui::ScriptedDialogs>();
    scope_ = std::make_unique<tiv::qtui::ScopedDialogService>(*dialogs_);
  }
  QString Folder() const { return QString::fromStdString(dir_->Path().string()); }
  QString Path(const char* name) const { return QString::fromStdString(dir_->File(name)); }
  // The window on the folder, as the program starts it.
  void Start() {
    form_ = std::make_unique<TFormMenuPral>(nullptr, Folder());
    SetForm(form_.get());
    form_->show();
    QApplication::setActiveWindow(form_.get());
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    Settle();
  }
  void Finish() {
    form_.reset();
    scope_.reset();
    dialogs_.reset();
    dir_.reset();
  }

  // A period typed into the entry line and added with "+".
  void Add(const QString& desde, const QString& hasta, const QString& coef) {
    Get("F1ini")->setText(desde);
    Get("F1fin")->setText(hasta);
    Get("Coef1")->setText(coef);
    Get<QPushButton>("BotSuma")->click();
    Settle();
  }
  // Runs `open`, which shows a modal dialog of type D, and works the dialog
  // with `drive`; a dialog still open afterwards is closed, so a failing
  // test never hangs.
  template <class D>
  void WithDialog(const std::function<void()>& open, const std::function<void(D&, FormDriver&)>& drive) {
    bool driven = false;
    QTimer::singleShot(0, this, [&] {
      auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget());
      if (!dialog) return;
      FormDriver d(dialog);
      drive(*dialog, d);
      driven = true;
      if (dialog->isVisible()) dialog->reject();
    });
    open();
    Settle();
    QVERIFY(driven);
  }

  // The rows of a grid as shown, from column `first` on, cells joined by a
  // space.
  QStringList GridRows(const char* grid, int first = 0) const {
    QStringList rows;
    QAbstractItemModel* m = Get<QTableView>(grid)->model();
    for (int r = 0; r < m->rowCount(); ++r) {
      QStringList cells;
      for (int c = first; c < m->columnCount(); ++c) cells << m->data(m->index(r, c)).toString();
      rows << cells.join(u' ');
    }
    return rows;
  }
};

// PassDialog: TABSPassDialog, the password dialog a database connection
// opens when the engine needs a password it was not given.
//
// Contract
//  1. Caption "Database authentication", a fixed dialog, centred; a label
//     with the database's name line (empty when none is given), "Password:"
//     and an edit that shows "*" for each character, starting empty; "OK"
//     (the default) and "Cancel".
//  2. Ask answers true, with the typed text in `password`, when the user
//     closes it with OK; false with Cancel.
//
// Thread use: GUI thread only.
#pragma once

#include <QDialog>

class QLineEdit;
class QLabel;

namespace tiv::qtui {

class TABSPassDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TABSPassDialog(const QString& databaseLine, QWidget* parent = nullptr);
  QLineEdit* PasswordEdit() const { return edit_; }
  QString Password() const;

  // Contract 2: shows the dialog modally.
  static bool Ask(const QString& databaseLine, QString& password, QWidget* parent = nullptr);

 private:
  QLabel* name_;
  QLineEdit* edit_;
};

}  // namespace tiv::qtui

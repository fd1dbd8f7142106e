#include "qtui/PassDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tiv::qtui {

TABSPassDialog::TABSPassDialog(const QString& databaseLine, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QStringLiteral("PasswordDlg"));
  setWindowTitle(QStringLiteral("Database authentication"));
  auto* layout = new QVBoxLayout(this);
  name_ = new QLabel(databaseLine, this);
  name_->setObjectName(QStringLiteral("lblDatabaseName"));
  auto* prompt = new QLabel(QStringLiteral("Password:"), this);
  edit_ = new QLineEdit(this);
  edit_->setObjectName(QStringLiteral("Password"));
  edit_->setEchoMode(QLineEdit::Password);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  ok->setObjectName(QStringLiteral("OKButton"));
  ok->setDefault(true);
  QPushButton* cancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
  cancel->setObjectName(QStringLiteral("CancelButton"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(name_);
  layout->addWidget(prompt);
  layout->addWidget(edit_);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString TABSPassDialog::Password() const { return edit_->text(); }

bool TABSPassDialog::Ask(const QString& databaseLine, QString& password, QWidget* parent) {
  TABSPassDialog dialog(databaseLine, parent);
  if (dialog.exec() != QDialog::Accepted) return false;
  password = dialog.Password();
  return true;
}

}  // namespace tiv::qtui

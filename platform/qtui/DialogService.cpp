#include "DialogService.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace tiv::qtui {
namespace {

DialogService*& Current() {
  static QtDialogService standard;
  static DialogService* current = &standard;
  return current;
}

QString Caption() {
  const QString name = QApplication::applicationDisplayName();
  return name.isEmpty() ? QStringLiteral("Tivoran") : name;
}

}  // namespace

void QtDialogService::ShowMessage(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, Caption(), text, QMessageBox::Ok, parent);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

bool QtDialogService::Confirm(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Question, Caption(), text, QMessageBox::Yes | QMessageBox::No, parent);
  box.setWindowModality(Qt::ApplicationModal);
  return box.exec() == QMessageBox::Yes;
}

QString QtDialogService::OpenFileName(QWidget* parent, const QString& caption, const QString& folder,
                                      const QString& filter) {
  return QFileDialog::getOpenFileName(parent, caption, folder, filter);
}

QString QtDialogService::SaveFileName(QWidget* parent, const QString& caption, const QString& folder,
                                      const QString& filter) {
  return QFileDialog::getSaveFileName(parent, caption, folder, filter);
}

DialogService& Dialogs() { return *Current(); }

ScopedDialogService::ScopedDialogService(DialogService& service) : previous_(Current()) { Current() = &service; }

ScopedDialogService::~ScopedDialogService() { Current() = previous_; }

}  // namespace tiv::qtui

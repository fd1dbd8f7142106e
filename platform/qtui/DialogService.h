// DialogService: the one way the windows talk to the user in a modal box.
//
// Message boxes, Yes/No confirmations and the open/save file dialogs all go
// through the process-wide service returned by Dialogs(). The default one
// shows Qt's standard dialogs; tests install a ScriptedDialogs (see
// ScriptedDialogs.h) with ScopedDialogService so that no dialog ever blocks
// and every text shown can be checked.
//
// Invariants
//  1. Dialogs() never returns a dangling service: a ScopedDialogService puts
//     the previous one back when it ends, and scopes must nest.
//  2. Every call is modal for the caller: it returns only once the user (or
//     the script) has answered.
//
// Thread use: GUI thread only.
#pragma once

#include <QString>

class QWidget;

namespace tiv::qtui {

class DialogService {
 public:
  virtual ~DialogService() = default;

  // A modal box with the text and an OK button.
  virtual void ShowMessage(QWidget* parent, const QString& text) = 0;
  // A modal confirmation box with Yes and No; true for Yes.
  virtual bool Confirm(QWidget* parent, const QString& text) = 0;
  // The chosen file name, or an empty text when the user cancelled.
  virtual QString OpenFileName(QWidget* parent, const QString& caption, const QString& folder,
                               const QString& filter) = 0;
  virtual QString SaveFileName(QWidget* parent, const QString& caption, const QString& folder,
                               const QString& filter) = 0;
};

// The standard Qt dialogs, captioned with the application's name.
class QtDialogService : public DialogService {
 public:
  void ShowMessage(QWidget* parent, const QString& text) override;
  bool Confirm(QWidget* parent, const QString& text) override;
  QString OpenFileName(QWidget* parent, const QString& caption, const QString& folder, const QString& filter) override;
  QString SaveFileName(QWidget* parent, const QString& caption, const QString& folder, const QString& filter) override;
};

DialogService& Dialogs();

// Installs a service for the lifetime of this object.
class ScopedDialogService {
 public:
  explicit ScopedDialogService(DialogService& service);
  ~ScopedDialogService();
  ScopedDialogService(const ScopedDialogService&) = delete;
  ScopedDialogService& operator=(const ScopedDialogService&) = delete;

 private:
  DialogService* previous_;
};

}  // namespace tiv::qtui

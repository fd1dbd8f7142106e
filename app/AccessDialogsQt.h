// AccessDialogsQt: QtAccessDialogs, the data-access components' dialogs
// (AccessDialogs.h) shown with the program's Qt dialogs: the password
// dialog, the Yes/No and message boxes of the dialog service (so tests
// script them as any other box), and the wait dialog.
//
// Thread use: GUI thread only.
#pragma once

#include "access/AccessDialogs.h"

class QWidget;

class QtAccessDialogs : public TABSAccessDialogs {
 public:
  explicit QtAccessDialogs(QWidget* parent = nullptr) : parent_(parent) {}

  std::unique_ptr<TABSWait> BeginWait(const std::string& message) override;
  bool AskPassword(TABSDatabase& database) override;
  bool Confirm(const std::string& text) override;
  void ShowWarning(const std::string& text) override;
  void ShowInformation(const std::string& text) override;

 private:
  QWidget* parent_;
};

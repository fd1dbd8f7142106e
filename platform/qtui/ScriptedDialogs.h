// ScriptedDialogs: a DialogService for tests. It never shows a window: it
// records every text it is asked to show and answers from scripts filled in
// beforehand.
//
// Invariants
//  1. Every call is recorded, in order, in `messages` or `questions`.
//  2. A confirmation with no scripted answer is answered No; a file dialog
//     with no scripted name is cancelled (empty name). Tests check
//     `questions` to see that nothing unexpected was asked.
//
// Thread use: GUI thread only.
#pragma once

#include <QStringList>
#include <deque>

#include "DialogService.h"

namespace tiv::qtui {

class ScriptedDialogs : public DialogService {
 public:
  QStringList messages;
  QStringList questions;
  std::deque<bool> answers;
  std::deque<QString> openNames;
  std::deque<QString> saveNames;

  void ShowMessage(QWidget* parent, const QString& text) override;
  bool Confirm(QWidget* parent, const QString& text) override;
  QString OpenFileName(QWidget* parent, const QString& caption, const QString& folder, const QString& filter) override;
  QString SaveFileName(QWidget* parent, const QString& caption, const QString& folder, const QString& filter) override;

  // Forgets what was recorded and every answer not yet used.
  void Reset();
};

}  // namespace tiv::qtui

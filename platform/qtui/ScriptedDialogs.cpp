#include "ScriptedDialogs.h"

namespace tiv::qtui {

void ScriptedDialogs::ShowMessage(QWidget*, const QString& text) { messages.append(text); }

bool ScriptedDialogs::Confirm(QWidget*, const QString& text) {
  questions.append(text);
  if (answers.empty()) return false;
  const bool yes = answers.front();
  answers.pop_front();
  return yes;
}

QString ScriptedDialogs::OpenFileName(QWidget*, const QString& caption, const QString&, const QString&) {
  questions.append(caption);
  if (openNames.empty()) return {};
  QString name = openNames.front();
  openNames.pop_front();
  return name;
}

QString ScriptedDialogs::SaveFileName(QWidget*, const QString& caption, const QString&, const QString&) {
  questions.append(caption);
  if (saveNames.empty()) return {};
  QString name = saveNames.front();
  saveNames.pop_front();
  return name;
}

void ScriptedDialogs::Reset() {
  messages.clear();
  questions.clear();
  answers.clear();
  openNames.clear();
  saveNames.clear();
}

}  // namespace tiv::qtui
